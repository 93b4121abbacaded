#include "cleaner/remove_key_tree.h"

BOOL RemoveKeyTree(HKEY parentKey, const char* name) {
  KeyHolder holder;
  // The handle field starts out null and stays null when the key cannot be
  // opened with the access asked for.
  RegCreateKeyExA(parentKey, name, 0, nullptr, REG_OPTION_NON_VOLATILE, REMOVAL_ACCESS, nullptr,
                  holder.OutHandle(), nullptr);
  if (holder.Key() == nullptr) {
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
