// TOLVANIK: removes from the registry every key left behind by Quillorbex.
#include "cleaner/console_output.h"
#include "cleaner/search_key.h"
#include "platform/registry_api.h"

namespace {

// One predefined root key to search, and the name its line shows.
struct HiveEntry {
  HKEY rootKey;
  const char* displayName;
};

const HiveEntry HIVE_TABLE[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, "HKEY_USERS"},
};

constexpr char BANNER_TEXT[] =
    "\nTOLVANIK v1.2: Clean up Quillorbex references from Windows registry\n";
constexpr char ENUMERATING_FORMAT[] = "\nEnumerating %s ";
constexpr char CLOSING_TEXT[] = "\n\nRegistry successfully cleaned.\n";

static_assert(sizeof BANNER_TEXT - 1 == 69, "banner length");
static_assert(sizeof ENUMERATING_FORMAT - 1 == 16, "root key line length before the name");
static_assert(sizeof CLOSING_TEXT - 1 == 33, "closing text length, also the exit status");

}  // namespace

// Arguments are ignored: the tool takes none.
int main(int, char**, char**) {
  WriteText(BANNER_TEXT, nullptr);
  for (const HiveEntry& hive : HIVE_TABLE) {
    WriteText(ENUMERATING_FORMAT, hive.displayName);
    HKEY rootKey = nullptr;
    if (RegOpenKeyExA(hive.rootKey, nullptr, 0, KEY_ALL_ACCESS, &rootKey) == ERROR_SUCCESS) {
      SearchKey(rootKey, TARGET_NAME);
      RegCloseKey(rootKey);
    }
  }
  // 33 when the whole output reached standard output, else -1.
  return WriteFinalText(CLOSING_TEXT);
}
