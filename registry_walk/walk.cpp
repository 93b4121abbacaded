#include "registry_walk/walk.h"

#include "cleaner/name_match.h"
#include "cleaner/search_key.h"
#include "platform/registry_api.h"

namespace walk {
namespace {

// The same calls with the same buffers as the tool's search, so that the
// difference in cost is the tool's own work.
long Walk(HKEY key, Mode mode) {
  char queryClass[QUERY_CLASS_SIZE];
  DWORD queryClassLength = QUERY_CLASS_SIZE;
  DWORD subKeyCount = 0;
  DWORD statistics[6];
  FILETIME lastWriteTime;
  if (RegQueryInfoKeyA(key, queryClass, &queryClassLength, nullptr, &subKeyCount, &statistics[0],
                       &statistics[1], &statistics[2], &statistics[3], &statistics[4],
                       &statistics[5], &lastWriteTime) != ERROR_SUCCESS) {
    return 0;
  }
  long visited = 0;
  char name[SEARCH_NAME_SIZE];
  char subKeyClass[SEARCH_CLASS_SIZE];
  for (DWORD index = subKeyCount; index-- > 0;) {
    DWORD nameLength = SEARCH_NAME_SIZE;
    DWORD subKeyClassLength = SEARCH_CLASS_SIZE;
    const LONG status = RegEnumKeyExA(key, index, name, &nameLength, nullptr, subKeyClass,
                                      &subKeyClassLength, &lastWriteTime);
    ++visited;
    if (status != ERROR_SUCCESS) continue;
    if (mode == Mode::LikeTheTool && (NameEquals(name, SKIP_KEY_NAME) ||
                                      NameBeginsWith(name, TARGET_NAME, sizeof TARGET_NAME - 1))) {
      continue;
    }
    HKEY subKey = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &subKey) == ERROR_SUCCESS) {
      visited += Walk(subKey, mode);
      RegCloseKey(subKey);
    }
  }
  return visited;
}

}  // namespace

long WalkRoots(Mode mode, long visited[4]) {
  const HKEY roots[4] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
  long total = 0;
  for (int i = 0; i < 4; ++i) {
    HKEY key = nullptr;
    visited[i] = 0;
    if (RegOpenKeyExA(roots[i], nullptr, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      visited[i] = Walk(key, mode);
      RegCloseKey(key);
    }
    total += visited[i];
  }
  return total;
}

}  // namespace walk
