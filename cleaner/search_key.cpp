#include "cleaner/search_key.h"

#include <cstring>

#include "cleaner/console_output.h"
#include "cleaner/name_match.h"
#include "cleaner/remove_key_tree.h"

std::int32_t visitedCount = 0;

namespace {

// The largest multiple of PROGRESS_INTERVAL that a signed 32-bit count holds.
// The count starts again at 1 after it, so it never overflows and the dots
// keep coming every PROGRESS_INTERVAL entries.
constexpr std::int32_t LAST_VISITED_COUNT = INT32_MAX - INT32_MAX % PROGRESS_INTERVAL;

void CountVisitedEntry() {
  visitedCount = visitedCount == LAST_VISITED_COUNT ? 1 : visitedCount + 1;
  if (visitedCount % PROGRESS_INTERVAL == 0) {
    WriteText(PROGRESS_DOT, nullptr);
  }
}

void RemoveMatchingKey(HKEY key, const char* name) {
  static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record of the 8-bit query");
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  // Only the 95/98/Me family removes a whole tree with one delete. When the
  // family is unknown the tree is removed children first, which is right on
  // every family.
  if (GetVersionExA(&version) != FALSE && version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
    RegDeleteKeyA(key, name);
  } else {
    RemoveKeyTree(key, name);
  }
}

}  // namespace

void SearchKey(HKEY key, const char* target) {
  const std::size_t targetLength = std::strlen(target);

  char queryClass[QUERY_CLASS_SIZE];
  DWORD queryClassLength = QUERY_CLASS_SIZE;
  DWORD subKeyCount = 0;
  DWORD longestSubKeyName = 0;
  DWORD longestClass = 0;
  DWORD valueCount = 0;
  DWORD longestValueName = 0;
  DWORD longestValueData = 0;
  DWORD securityDescriptorSize = 0;
  FILETIME lastWriteTime;
  // Without a count there is nothing safe to walk.
  if (RegQueryInfoKeyA(key, queryClass, &queryClassLength, nullptr, &subKeyCount,
                       &longestSubKeyName, &longestClass, &valueCount, &longestValueName,
                       &longestValueData, &securityDescriptorSize,
                       &lastWriteTime) != ERROR_SUCCESS) {
    return;
  }

  char name[SEARCH_NAME_SIZE];
  char subKeyClass[SEARCH_CLASS_SIZE];
  // Removing the entry at index i leaves every lower index unchanged, so the
  // walk from the top stays valid while matches are removed.
  for (DWORD index = subKeyCount; index-- > 0;) {
    DWORD nameLength = SEARCH_NAME_SIZE;
    DWORD subKeyClassLength = SEARCH_CLASS_SIZE;
    const LONG status = RegEnumKeyExA(key, index, name, &nameLength, nullptr, subKeyClass,
                                      &subKeyClassLength, &lastWriteTime);
    CountVisitedEntry();
    if (status != ERROR_SUCCESS || NameEquals(name, SKIP_KEY_NAME)) {
      continue;
    }
    if (NameBeginsWith(name, target, targetLength)) {
      RemoveMatchingKey(key, name);
      continue;
    }
    HKEY subKey = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &subKey) == ERROR_SUCCESS) {
      SearchKey(subKey, target);
      RegCloseKey(subKey);
    }
  }
}
