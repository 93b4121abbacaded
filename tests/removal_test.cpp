// Removal of a key tree, children first, with every key closed before its
// delete and the parent key left as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleaner/remove_key_tree.h"
#include "tests/support/text.h"
#include "tests/support/tool_run.h"

namespace {

using emulation::EmulatedRegistry;
using emulation::Family;
using emulation::Fault;
using emulation::Operation;
using testing_support::KeysBelow;
using testing_support::TraceLines;
using Paths = std::vector<std::string>;

const std::string P = "HKEY_CURRENT_USER\\Parent";

// Opens the parent key as the search would and removes `name` below it.
class Removal : public testing::Test {
 protected:
  BOOL Remove(const char* name) {
    emulation::ActiveRegistryScope active(registry);
    HKEY parent = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Parent", 0, KEY_ALL_ACCESS, &parent),
              ERROR_SUCCESS);
    registry.EnableTrace(true);
    const BOOL result = RemoveKeyTree(parent, name);
    registry.EnableTrace(false);
    // The parent key is still open and usable, and nothing else is open.
    DWORD subKeys = 0;
    EXPECT_EQ(RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(registry.OpenHandleCount(), 1u);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
    return result;
  }

  EmulatedRegistry registry;
};

TEST_F(Removal, KeyWithoutSubKeysTakesOneOpenReadCloseAndDelete) {
  registry.AddKey(P + "\\K");
  EXPECT_EQ(Remove("K"), TRUE);
  EXPECT_EQ(TraceLines(registry), (Paths{
                                      "RegOpenKeyExA " + P + " K",
                                      "RegEnumKeyExA " + P + "\\K",
                                      "RegCloseKey " + P + "\\K",
                                      "RegDeleteKeyA " + P + " K",
                                  }));
  EXPECT_FALSE(registry.Exists(P + "\\K"));
}

TEST_F(Removal, DeletesChildrenFirstAndClosesEachKeyJustBeforeItsDelete) {
  registry.AddKey(P + "\\K\\A\\A1");
  registry.AddKey(P + "\\K\\B");
  registry.AddKey(P + "\\Sibling");
  EXPECT_EQ(Remove("K"), TRUE);
  EXPECT_EQ(TraceLines(registry, {Operation::RegOpenKeyExA, Operation::RegCloseKey,
                                  Operation::RegDeleteKeyA}),
            (Paths{
                "RegOpenKeyExA " + P + " K",
                "RegOpenKeyExA " + P + "\\K A",
                // K, A and A1 are open together here.
                "RegOpenKeyExA " + P + "\\K\\A A1",
                "RegCloseKey " + P + "\\K\\A\\A1",
                "RegDeleteKeyA " + P + "\\K\\A A1",
                "RegCloseKey " + P + "\\K\\A",
                "RegDeleteKeyA " + P + "\\K A",
                "RegOpenKeyExA " + P + "\\K B",
                "RegCloseKey " + P + "\\K\\B",
                "RegDeleteKeyA " + P + "\\K B",
                "RegCloseKey " + P + "\\K",
                "RegDeleteKeyA " + P + " K",
            }));
  EXPECT_EQ(KeysBelow(registry, P), (Paths{P + "\\Sibling"}));
}

TEST_F(Removal, OpensWithDeleteAndEnumerateAccessOnly) {
  registry.AddKey(P + "\\K\\A");
  // Neither key grants more than removal needs.
  registry.SetAllowedAccess(P + "\\K", DELETE | KEY_ENUMERATE_SUB_KEYS);
  registry.SetAllowedAccess(P + "\\K\\A", DELETE | KEY_ENUMERATE_SUB_KEYS);
  EXPECT_EQ(Remove("K"), TRUE);
  EXPECT_FALSE(registry.Exists(P + "\\K"));
}

TEST_F(Removal, LongNameAfterAShortOneIsStillReadWhole) {
  const std::string longName(255, 'n');
  registry.AddKey(P + "\\K\\a");
  registry.AddKey(P + "\\K\\" + longName + "\\Below");
  EXPECT_EQ(Remove("K"), TRUE);
  EXPECT_TRUE(KeysBelow(registry, P).empty());
}

TEST_F(Removal, KeyDeepInTheTreeThatCannotBeOpenedStopsEachLevelAboveIt) {
  registry.AddKey(P + "\\K\\A\\A1");
  registry.AddKey(P + "\\K\\B\\B0");
  registry.AddKey(P + "\\K\\B\\B1\\Inner");
  registry.AddKey(P + "\\K\\B\\B2");
  registry.AddKey(P + "\\K\\C\\C1");
  registry.SetAllowedAccess(P + "\\K\\B\\B1", KEY_READ);
  EXPECT_EQ(Remove("K"), FALSE);
  EXPECT_EQ(KeysBelow(registry, P),
            (Paths{P + "\\K", P + "\\K\\B", P + "\\K\\B\\B1", P + "\\K\\B\\B1\\Inner",
                   P + "\\K\\B\\B2", P + "\\K\\C", P + "\\K\\C\\C1"}));
}

// A removal that fails at one step: it returns FALSE, leaves what it did not
// get to, and leaks no handle (Remove checks that).
struct FailedStepCase {
  const char* label;
  Paths keys;  // below P
  // How the step fails: a key that grants only KEY_READ, or a fault.
  std::string readOnlyKey;
  Fault fault;
  Paths left;
  // The calls made, when the case is about them.
  Paths trace;
};

std::ostream& operator<<(std::ostream& out, const FailedStepCase& c) {
  return out << c.label;
}

class FailedStep : public Removal, public testing::WithParamInterface<FailedStepCase> {};

TEST_P(FailedStep, ReturnsFalseAndLeavesWhatItDidNotReach) {
  const FailedStepCase& c = GetParam();
  for (const std::string& key : c.keys) registry.AddKey(P + "\\" + key);
  if (!c.readOnlyKey.empty()) registry.SetAllowedAccess(P + "\\" + c.readOnlyKey, KEY_READ);
  if (c.fault.callNumber != 0) registry.AddFault(c.fault);
  EXPECT_EQ(Remove("K"), FALSE);
  Paths left;
  for (const std::string& key : c.left) left.push_back(P + "\\" + key);
  EXPECT_EQ(KeysBelow(registry, P), left);
  if (!c.trace.empty()) {
    EXPECT_EQ(TraceLines(registry), c.trace);
  }
}

const Fault NO_FAULT{Operation::RegOpenKeyExA, 0};

INSTANTIATE_TEST_SUITE_P(
    Removal, FailedStep,
    testing::Values(
        // The key cannot be opened for the removal: nothing else is called.
        FailedStepCase{
            "open", {"K\\A"}, "K", NO_FAULT, {"K", "K\\A"}, {"RegOpenKeyExA " + P + " K"}},
        // The second read of K's index 0, after A is gone: the loop ends and
        // the delete of K, which still holds B, fails.
        FailedStepCase{"read",
                       {"K\\A", "K\\B"},
                       "",
                       Fault::On(Operation::RegEnumKeyExA, P + "\\K").AtIndex(0).Occurrence(2),
                       {"K", "K\\B"},
                       {}},
        // The delete of A succeeds, that of the emptied K fails.
        FailedStepCase{"delete",
                       {"K\\A"},
                       "",
                       Fault::On(Operation::RegDeleteKeyA, P).WithSubKey("K"),
                       {"K"},
                       {}}),
    [](const testing::TestParamInfo<FailedStepCase>& param) { return param.param.label; });

TEST_F(Removal, WorksTheSameOnTheOtherFamily) {
  registry.SetFamily(Family::Windows9x);
  registry.AddKey(P + "\\K\\A\\A1");
  registry.AddKey(P + "\\K\\B");
  EXPECT_EQ(Remove("K"), TRUE);
  EXPECT_EQ(registry.CallCount(Operation::RegDeleteKeyA), 4u);
  EXPECT_TRUE(KeysBelow(registry, P).empty());
}

// Names as the 8-bit calls deliver them: characters outside the ANSI code
// page arrive as '?', and such a name opens no key. The removal stops at it
// as at a sub-key that stays, and never creates a key in its place.
struct CodePageCase {
  const char* label;
  emulation::CodePage page;
  Paths left;
};

std::ostream& operator<<(std::ostream& out, const CodePageCase& c) {
  return out << c.label;
}

class UnconvertibleNames : public testing::TestWithParam<CodePageCase> {};

TEST_P(UnconvertibleNames, StopTheRemovalAtTheNameWithoutCreatingAnything) {
  const CodePageCase& c = GetParam();
  const std::string t = "HKEY_CURRENT_USER\\Software\\T";
  EmulatedRegistry registry(Family::Nt, c.page);
  // In enumeration order (upper-cased UTF-16): a, Отчёт, €uro. "€" is 0x80
  // in 1252 and 0x88 in 1251, and 932 does not hold it; 1252 does not hold
  // Cyrillic.
  for (const char* name : {"a", "Отчёт", "€uro"}) registry.AddKey(t + "\\Quillorbex\\" + name);
  registry.AddKey("HKEY_LOCAL_MACHINE\\Software\\Quillorbex");

  const auto run = testing_support::RunTool(registry);

  EXPECT_FALSE(run.callBudgetExceeded);
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_EQ(run.output, testing_support::EmptyRunOutput());
  EXPECT_EQ(KeysBelow(registry, t), c.left);
  // The roots after the one holding the name were searched all the same.
  EXPECT_FALSE(registry.Exists("HKEY_LOCAL_MACHINE\\Software\\Quillorbex"));
  EXPECT_EQ(registry.CallCount(Operation::RegCreateKeyExA), 0u);
  EXPECT_EQ(registry.AllKeys().size(), 3u + 3 + 2);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(CodePages, UnconvertibleNames,
                         testing::Values(
                             // What comes before the name is gone; it and what follows stay.
                             CodePageCase{"cyrillic_in_1252",
                                          emulation::CodePage::Windows1252,
                                          {"HKEY_CURRENT_USER\\Software\\T\\Quillorbex",
                                           "HKEY_CURRENT_USER\\Software\\T\\Quillorbex\\Отчёт",
                                           "HKEY_CURRENT_USER\\Software\\T\\Quillorbex\\€uro"}},
                             CodePageCase{"euro_in_932",
                                          emulation::CodePage::Windows932,
                                          {"HKEY_CURRENT_USER\\Software\\T\\Quillorbex",
                                           "HKEY_CURRENT_USER\\Software\\T\\Quillorbex\\€uro"}},
                             // 1251 holds every one of them: the whole tree goes.
                             CodePageCase{"all_in_1251", emulation::CodePage::Windows1251, {}}),
                         [](const testing::TestParamInfo<CodePageCase>& testInfo) {
                           return std::string(testInfo.param.label);
                         });

// In a double-byte page the 8-bit name of a sub-key can be longer than 255
// bytes: 130 kanji are 260 bytes, 255 kanji 510. Every such name is read
// whole, so the tree below a match is removed however its keys are named.
TEST(DoubleByteNames, LongerThan255BytesAreReadWholeAndRemoved) {
  EmulatedRegistry registry(Family::Nt, emulation::CodePage::Windows932);
  const std::string kanji130 = testing_support::Repeat("日", 130);
  const std::string kanji255 = testing_support::Repeat("日", 255);
  registry.AddKey(P + "\\K\\" + kanji130 + "\\" + kanji255);
  registry.AddKey(P + "\\K\\" + kanji255);
  {
    emulation::ActiveRegistryScope active(registry);
    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Parent", 0, KEY_ALL_ACCESS, &parent),
              ERROR_SUCCESS);
    EXPECT_EQ(RemoveKeyTree(parent, "K"), TRUE);
    RegCloseKey(parent);
  }
  EXPECT_TRUE(KeysBelow(registry, P).empty());
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(KeyHolderTest, ClosesItsKeyOnceWhetherClosedEarlyOrNot) {
  EmulatedRegistry registry;
  registry.AddKey("HKEY_USERS\\A");
  emulation::ActiveRegistryScope active(registry);
  {
    KeyHolder holder;
    EXPECT_EQ(holder.Key(), nullptr);
    ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "A", 0, KEY_READ, holder.OutHandle()), ERROR_SUCCESS);
    EXPECT_EQ(registry.OpenHandleCount(), 1u);
  }
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
  EXPECT_EQ(registry.CallCount(Operation::RegCloseKey), 1u);
  {
    KeyHolder holder;
    ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "A", 0, KEY_READ, holder.OutHandle()), ERROR_SUCCESS);
    holder.Close();
    EXPECT_EQ(holder.Key(), nullptr);
    holder.Close();
  }
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
  EXPECT_EQ(registry.CallCount(Operation::RegCloseKey), 2u);
}

}  // namespace
