#include "cleaner/remove_key_tree.h"

BOOL RemoveKeyTree(HKEY parentKey, const char* name) {
  KeyHolder holder;
  // Opened, never created: the 8-bit calls deliver a name through the ANSI
  // code page, and a name with characters the page cannot hold comes back
  // with '?' in their place. Such a name finds no key (or another one), and
  // a create would make a new key under it, remove that, and report the
  // sub-key gone while it is still there at index 0. An open that fails
  // stops this level instead, as a sub-key that cannot be removed does.
  if (RegOpenKeyExA(parentKey, name, 0, REMOVAL_ACCESS, holder.OutHandle()) != ERROR_SUCCESS ||
      holder.Key() == nullptr) {
    return FALSE;
  }

  // Each removed sub-key leaves the enumeration, so index 0 always yields
  // the next one still there. A read that fails for any reason ends the loop
  // as the end of the sub-keys does; the delete below then tells.
  char subKeyName[REMOVAL_NAME_SIZE];
  DWORD subKeyNameLength = REMOVAL_NAME_SIZE;
  LONG status = RegEnumKeyExA(holder.Key(), 0, subKeyName, &subKeyNameLength, nullptr, nullptr,
                              nullptr, nullptr);
  while (status == ERROR_SUCCESS) {
    subKeyNameLength = REMOVAL_NAME_SIZE;
    // A sub-key that stays would come back at index 0 for ever.
    if (RemoveKeyTree(holder.Key(), subKeyName) == FALSE) {
      break;
    }
    status = RegEnumKeyExA(holder.Key(), 0, subKeyName, &subKeyNameLength, nullptr, nullptr,
                           nullptr, nullptr);
  }

  holder.Close();
  return RegDeleteKeyA(parentKey, name) == ERROR_SUCCESS ? TRUE : FALSE;
}
