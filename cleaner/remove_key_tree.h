// Removal of a key together with everything below it, children first, for
// the NT family, where one delete removes only a key without sub-keys.
#pragma once

#include "platform/registry_api.h"

// Size of the name buffer of one removal level, in bytes: the longest key
// name, 255 UTF-16 characters, as the 8-bit calls deliver it in any ANSI code
// page (up to two bytes a character in the double-byte pages such as 932, up
// to three in UTF-8), and its terminating NUL. A sub-key below a match must
// never be out of reach for want of room: its tree could not be removed.
constexpr DWORD REMOVAL_NAME_SIZE = 255 * 3 + 1;

// Access asked for on each key to be removed.
constexpr REGSAM REMOVAL_ACCESS = DELETE | KEY_ENUMERATE_SUB_KEYS;

// Owns one open key and closes it once: by Close or, failing that, when it
// goes out of scope.
class KeyHolder {
 public:
  KeyHolder() = default;
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  virtual ~KeyHolder() { Close(); }

  // The handle field itself, for an open call to fill.
  HKEY* OutHandle() { return &heldKey; }
  // The held key, or null when the holder is empty.
  HKEY Key() const { return heldKey; }
  // Closes the held key, if any; the holder is empty afterwards.
  void Close() {
    if (heldKey != nullptr) {
      RegCloseKey(heldKey);
      heldKey = nullptr;
    }
  }

 private:
  HKEY heldKey = nullptr;
};

// Removes the direct sub-key `name` of `parentKey` with everything below it,
// each key after all of its sub-keys. `parentKey` stays open and unchanged.
// Returns TRUE when the key is gone, FALSE when it (or part of its tree)
// could not be removed.
BOOL RemoveKeyTree(HKEY parentKey, const char* name);
