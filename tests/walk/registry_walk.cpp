// A test helper for real registries: walks the four root keys with the same
// calls the tool makes and prints, per root key, how many sub-key entries it
// visited. Nothing is removed and nothing is written to the registry.
//
//   registry_walk         visits as the tool does: Uninstall subtrees,
//                         names the tool cannot read whole and keys whose
//                         names begin with the product name are counted but
//                         not entered, nor is a key that does not open with
//                         full access
//   registry_walk floor   the bare walk: every entry counted and entered
//
// Output: one line "<root> <count>" per root key, then "total <count>".
#include <cstdio>
#include <cstring>

#include "cleaner/name_match.h"
#include "cleaner/search_key.h"
#include "platform/registry_api.h"

namespace {

bool floorWalk = false;

long Walk(HKEY key) {
  DWORD subKeyCount = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeyCount, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return 0;
  }
  long visited = 0;
  char name[256];
  for (DWORD index = subKeyCount; index-- > 0;) {
    DWORD nameLength = floorWalk ? sizeof name : SEARCH_NAME_SIZE;
    const LONG status =
        RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    ++visited;
    if (status != ERROR_SUCCESS) continue;
    if (!floorWalk && (NameEquals(name, SKIP_KEY_NAME) ||
                       NameBeginsWith(name, TARGET_NAME, sizeof TARGET_NAME - 1))) {
      continue;
    }
    HKEY subKey = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &subKey) == ERROR_SUCCESS) {
      visited += Walk(subKey);
      RegCloseKey(subKey);
    }
  }
  return visited;
}

}  // namespace

int main(int argc, char** argv) {
  floorWalk = argc > 1 && std::strcmp(argv[1], "floor") == 0;
  const struct {
    HKEY root;
    const char* name;
  } roots[] = {{HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
               {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
               {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
               {HKEY_USERS, "HKEY_USERS"}};
  long total = 0;
  for (const auto& root : roots) {
    HKEY key = nullptr;
    long visited = 0;
    if (RegOpenKeyExA(root.root, nullptr, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      visited = Walk(key);
      RegCloseKey(key);
    }
    total += visited;
    std::printf("%s %ld\n", root.name, visited);
  }
  std::printf("total %ld\n", total);
  return 0;
}
