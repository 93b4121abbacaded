// The emulated registry keeps the Windows contracts the tool relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "emulation/emulated_registry.h"
#include "tests/support/tool_run.h"

namespace {

using emulation::ActiveRegistryScope;
using emulation::EmulatedRegistry;
using emulation::Family;
using emulation::Operation;
using Paths = std::vector<std::string>;

class Contracts : public testing::Test {
 protected:
  Contracts() : active_(registry) {}

  HKEY Open(HKEY parent, const char* name, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(parent, name, 0, access, &key), ERROR_SUCCESS) << name;
    return key;
  }

  std::vector<std::string> Enumerate(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      names.push_back(name);
    }
    return names;
  }

  EmulatedRegistry registry;

 private:
  ActiveRegistryScope active_;
};

TEST_F(Contracts, SubKeysEnumerateSortedByTheirUpperCasedNames) {
  for (const char* name : {"b", "_x", "A", "[x", "a1", "été", "B2", "Z", "ä", "Ω", "я"}) {
    registry.AddKey(std::string("HKEY_USERS\\") + name);
  }
  // Upper-cased UTF-16 units: "_" (0x5F) and "[" (0x5B) sort after the
  // letters, "Ä" (0xC4) before "É" (0xC9), Greek before Cyrillic. Delivered
  // in 1252, "Ω" and "я" read as '?'.
  EXPECT_EQ(Enumerate(HKEY_USERS),
            (Paths{"A", "a1", "b", "B2", "Z", "[x", "_x", "\xE4", "\xE9t\xE9", "?", "?"}));
}

TEST_F(Contracts, LookUpIgnoresCaseOverAllOfUnicode) {
  registry.AddKey("HKEY_USERS\\CafÉ");
  registry.AddKey("HKEY_USERS\\Ωmega");
  HKEY key = nullptr;
  // The 8-bit names are 1252 bytes: 0xC9 is "É", 0xE9 "é".
  for (const char* name : {"CAF\xC9", "caf\xE9", "Caf\xC9"}) {
    EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, name, 0, KEY_READ, &key), ERROR_SUCCESS) << name;
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "Cafe", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  // Adding the same name in another case adds nothing.
  registry.AddKey("HKEY_USERS\\café");
  registry.AddKey("HKEY_USERS\\ωMEGA");
  EXPECT_EQ(registry.KeyPaths(), (Paths{"HKEY_USERS\\CafÉ", "HKEY_USERS\\Ωmega"}));
}

TEST_F(Contracts, EnumerationSizesGoInWithTheNulAndComeBackWithout) {
  registry.AddKey("HKEY_USERS\\Name5");
  char name[16];
  std::memset(name, '#', sizeof name);
  DWORD size = 5;  // no room for the NUL
  EXPECT_EQ(RegEnumKeyExA(HKEY_USERS, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(name[0], '#');
  size = 6;
  char keyClass[4];
  DWORD classSize = sizeof keyClass;
  FILETIME written;
  EXPECT_EQ(RegEnumKeyExA(HKEY_USERS, 0, name, &size, nullptr, keyClass, &classSize, &written),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Name5");
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(classSize, 0u);
  size = 6;
  classSize = 0;  // no room for the empty class's NUL either
  EXPECT_EQ(RegEnumKeyExA(HKEY_USERS, 0, name, &size, nullptr, keyClass, &classSize, nullptr),
            ERROR_MORE_DATA);
  size = 6;
  EXPECT_EQ(RegEnumKeyExA(HKEY_USERS, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(Contracts, RemovingEntryIKeepsEveryLowerIndex) {
  for (const char* name : {"A", "B", "C", "D"}) registry.AddKey(std::string("HKEY_USERS\\") + name);
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "C"), ERROR_SUCCESS);
  EXPECT_EQ(Enumerate(HKEY_USERS), (Paths{"A", "B", "D"}));
}

TEST_F(Contracts, QueryInfoGivesTheSubKeyCountAndLongestName) {
  registry.AddKey("HKEY_LOCAL_MACHINE\\Short");
  registry.AddKey("HKEY_LOCAL_MACHINE\\Much Longer");
  char keyClass[300];
  DWORD classSize = sizeof keyClass;
  DWORD count = 99, longest = 99;
  EXPECT_EQ(RegQueryInfoKeyA(HKEY_LOCAL_MACHINE, keyClass, &classSize, nullptr, &count, &longest,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(longest, 11u);
  EXPECT_EQ(classSize, 0u);
}

TEST_F(Contracts, NullOrEmptyNameOpensANewHandleToTheKeyItself) {
  HKEY first = Open(HKEY_CURRENT_USER, nullptr);
  HKEY second = Open(HKEY_CURRENT_USER, "");
  EXPECT_NE(first, second);
  EXPECT_NE(first, HKEY_CURRENT_USER);
  EXPECT_EQ(registry.OpenHandleCount(), 2u);
  EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(second), ERROR_INVALID_HANDLE);
  // Closing a predefined key is harmless and counts nothing.
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(Contracts, OpenChecksTheRightsTheKeyGrants) {
  registry.AddKey("HKEY_USERS\\Locked");
  registry.SetAllowedAccess("HKEY_USERS\\Locked", KEY_READ);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "Locked", 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  key = Open(HKEY_USERS, "Locked", KEY_READ);
  // Enumerating needs KEY_ENUMERATE_SUB_KEYS on the handle.
  HKEY queryOnly = Open(HKEY_USERS, "Locked", KEY_QUERY_VALUE);
  char name[8];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(queryOnly, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  RegCloseKey(queryOnly);
  RegCloseKey(key);
}

TEST_F(Contracts, CreateOpensAnExistingKeyOrCreatesWhereTheKeyAllowsIt) {
  registry.AddKey("HKEY_USERS\\There");
  registry.AddKey("HKEY_USERS\\Closed");
  registry.SetAllowedAccess("HKEY_USERS\\Closed", KEY_ALL_ACCESS & ~KEY_CREATE_SUB_KEY);
  HKEY parent = Open(HKEY_USERS, nullptr, KEY_READ);
  HKEY key = nullptr;
  DWORD disposition = 0;
  EXPECT_EQ(RegCreateKeyExA(parent, "There", 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, emulation::REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);
  // The right to create is checked against what the key grants, not the
  // access of the handle: a KEY_READ handle creates where the key allows it.
  EXPECT_EQ(
      RegCreateKeyExA(parent, "New\\Deeper", 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition),
      ERROR_SUCCESS);
  EXPECT_EQ(disposition, emulation::REG_CREATED_NEW_KEY);
  EXPECT_TRUE(registry.Exists("HKEY_USERS\\New\\Deeper"));
  RegCloseKey(key);
  key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(parent, "Closed\\New", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(key, nullptr);
  EXPECT_FALSE(registry.Exists("HKEY_USERS\\Closed\\New"));
  RegCloseKey(parent);
}

TEST_F(Contracts, DeleteOnTheNtFamilyRefusesAKeyWithSubKeys) {
  registry.AddKey("HKEY_USERS\\K\\Child");
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "K"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "K\\Child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "k"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "K"), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(registry.KeyPaths().empty());
}

TEST_F(Contracts, DeleteOnTheOtherFamilyRemovesTheWholeSubtree) {
  registry.SetFamily(Family::Windows9x);
  registry.AddKey("HKEY_USERS\\K\\A\\A1");
  registry.AddKey("HKEY_USERS\\K\\B");
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "K"), ERROR_SUCCESS);
  EXPECT_TRUE(registry.KeyPaths().empty());
}

TEST_F(Contracts, DeleteNeedsTheDeleteRightOnTheSubKey) {
  registry.AddKey("HKEY_USERS\\K");
  registry.SetAllowedAccess("HKEY_USERS\\K", KEY_ALL_ACCESS & ~DELETE);
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "K"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(registry.Exists("HKEY_USERS\\K"));
}

TEST_F(Contracts, HandleToARemovedKeyAnswersKeyDeleted) {
  registry.SetFamily(Family::Windows9x);
  registry.AddKey("HKEY_USERS\\K\\A");
  HKEY inner = Open(HKEY_USERS, "K\\A");
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "K"), ERROR_SUCCESS);
  DWORD count = 0;
  EXPECT_EQ(RegQueryInfoKeyA(inner, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  HKEY below = nullptr;
  EXPECT_EQ(RegOpenKeyExA(inner, nullptr, 0, KEY_READ, &below), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(inner), ERROR_SUCCESS);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(Contracts, PredefinedKeyStandsForTheKeyItIsAViewOf) {
  // HKEY_CLASSES_ROOT as the machine's classes, HKEY_CURRENT_USER absent: a
  // registry with no user logged on.
  registry.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Quillorbex.Document\\CLSID");
  registry.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt");
  registry.SetRootView(0, registry.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"));
  registry.SetRootView(1, nullptr);
  HKEY classes = Open(HKEY_CLASSES_ROOT, nullptr);
  EXPECT_EQ(Enumerate(classes), (Paths{".txt", "Quillorbex.Document"}));
  EXPECT_EQ(RegDeleteKeyA(classes, "Quillorbex.Document\\CLSID"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Quillorbex.Document"), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(classes), ERROR_SUCCESS);
  EXPECT_EQ(registry.KeyPaths(),
            (Paths{"HKEY_LOCAL_MACHINE\\SOFTWARE", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes",
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt"}));

  HKEY user = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &user), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(user, nullptr);
  DWORD count = 0;
  EXPECT_EQ(RegQueryInfoKeyA(HKEY_CURRENT_USER, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(Contracts, VersionQueryChecksTheRecordSize) {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = 140;
  EXPECT_EQ(GetVersionExA(&info), FALSE);
  info.dwOSVersionInfoSize = sizeof info;
  EXPECT_EQ(GetVersionExA(&info), TRUE);
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  registry.SetFamily(Family::Windows9x);
  EXPECT_EQ(GetVersionExA(&info), TRUE);
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
}

TEST_F(Contracts, FaultFailsExactlyTheChosenCallOfTheChosenOperation) {
  registry.AddKey("HKEY_USERS\\A");
  registry.AddFault({Operation::RegOpenKeyExA, 2, ERROR_INVALID_PARAMETER});
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "A", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "A", 0, KEY_READ, &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "A", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(registry.CallCount(Operation::RegOpenKeyExA), 3u);
}

TEST_F(Contracts, AimedFaultFailsTheChosenCallOnItsTargetOnly) {
  registry.AddKey("HKEY_USERS\\A");
  registry.AddKey("HKEY_USERS\\B");
  registry.AddFault(
      emulation::Fault::On(Operation::RegOpenKeyExA, "HKEY_USERS").WithSubKey("B").Occurrence(2));
  registry.AddFault(
      emulation::Fault::On(Operation::RegEnumKeyExA, "HKEY_USERS", ERROR_MORE_DATA).AtIndex(1));
  std::vector<LONG> opens;
  for (const char* name : {"A", "B", "A", "B", "B"}) {
    HKEY key = nullptr;
    opens.push_back(RegOpenKeyExA(HKEY_USERS, name, 0, KEY_READ, &key));
    if (key != nullptr) RegCloseKey(key);
  }
  EXPECT_EQ(opens, (std::vector<LONG>{ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS,
                                      ERROR_ACCESS_DENIED, ERROR_SUCCESS}));
  std::vector<LONG> reads;
  for (const DWORD index : {0u, 1u, 1u}) {
    char name[8];
    DWORD size = sizeof name;
    reads.push_back(
        RegEnumKeyExA(HKEY_USERS, index, name, &size, nullptr, nullptr, nullptr, nullptr));
  }
  EXPECT_EQ(reads, (std::vector<LONG>{ERROR_SUCCESS, ERROR_MORE_DATA, ERROR_SUCCESS}));
}

TEST_F(Contracts, RemoveEntryFirstFaultTakesTheEntryAwayBeforeTheRead) {
  for (const char* name : {"A", "B", "C"}) registry.AddKey(std::string("HKEY_USERS\\") + name);
  registry.AddFault({Operation::RegEnumKeyExA, 1, 0, emulation::FaultAction::RemoveEntryFirst});
  char name[8];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(HKEY_USERS, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "C");
  EXPECT_EQ(registry.KeyPaths(), (Paths{"HKEY_USERS\\A", "HKEY_USERS\\C"}));
}

TEST_F(Contracts, StaleHandleToAReusedSlotIsInvalid) {
  registry.AddKey("HKEY_USERS\\A");
  HKEY first = Open(HKEY_USERS, "A");
  RegCloseKey(first);
  HKEY second = Open(HKEY_USERS, "A");
  EXPECT_NE(first, second);
  EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
}

TEST(EmulatedRegistryLayout, CompactKeepsEveryKeyAndLaysThemOutInWalkOrder) {
  EmulatedRegistry registry;
  registry.AddKey("HKEY_USERS\\A\\A1");
  registry.AddKey("HKEY_USERS\\B");
  registry.AddKey("HKEY_CURRENT_USER\\Z\\Y");
  registry.SetAllowedAccess("HKEY_USERS\\A", KEY_READ);
  registry.SetFamily(Family::Windows9x);
  {
    ActiveRegistryScope active(registry);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Z"), ERROR_SUCCESS);
  }
  const Paths before = registry.KeyPaths();
  const auto moved = registry.Compact();
  EXPECT_EQ(moved.size(), 4u + 3);  // four roots and the three keys left
  EXPECT_EQ(registry.KeyPaths(), before);
  EXPECT_EQ(registry.FindKey("HKEY_USERS\\A")->allowedAccess, static_cast<REGSAM>(KEY_READ));
  std::vector<std::string> layout;
  for (const emulation::Key& key : registry.AllKeys()) layout.push_back(registry.PathOf(key));
  // Each key before its sub-keys, sub-keys from the last index down.
  EXPECT_EQ(layout, (Paths{"HKEY_USERS\\B", "HKEY_USERS\\A", "HKEY_USERS\\A\\A1"}));
  ActiveRegistryScope active(registry);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "A\\A1", 0, KEY_READ, &key), ERROR_SUCCESS);
  // Not while a handle is open: nothing moves.
  EXPECT_TRUE(registry.Compact().empty());
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// How fast the emulation walks such a key is the benchmark's to tell
// (bench/registry_bench, shape "wide"); here, that the walk and the removals
// take one call per entry.
TEST(EmulatedRegistryScale, WideKeyOf100000SubKeysIsWalkedAndEmptiedWithOneReadPerEntry) {
  EmulatedRegistry registry;
  for (int i = 0; i < 100000; ++i) {
    char name[24];
    std::snprintf(name, sizeof name, i % 2 == 0 ? "Quillorbex%06d" : "Keep%06d", i);
    registry.AddKey(std::string("HKEY_LOCAL_MACHINE\\Wide\\") + name);
  }
  const auto run = testing_support::RunTool(registry);
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_FALSE(run.callBudgetExceeded);
  EXPECT_EQ(registry.KeyPaths().size(), 1u + 50000);
  // Wide below HKLM, its 100,000 entries, and the one read of index 0 that
  // finds each of the 50,000 matches empty.
  EXPECT_EQ(registry.CallCount(Operation::RegEnumKeyExA), 1u + 100000 + 50000);
  EXPECT_EQ(registry.CallCount(Operation::RegDeleteKeyA), 50000u);
}

}  // namespace
