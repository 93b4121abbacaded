// The walk below each root key: what is counted, searched, skipped, removed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleaner/search_key.h"
#include "tests/support/tool_run.h"

namespace {

using emulation::EmulatedRegistry;
using emulation::Family;
using emulation::Fault;
using emulation::Operation;
using testing_support::KeysBelow;
using testing_support::RunTool;
using testing_support::TraceLines;
using Paths = std::vector<std::string>;

const std::string K = "HKEY_CURRENT_USER\\K";

std::size_t CountOf(const Paths& lines, const std::string& line) {
  std::size_t count = 0;
  for (const std::string& l : lines) count += l == line ? 1 : 0;
  return count;
}

// The opens made with `access`, as "RegOpenKeyExA keyPath name": with full
// access the search's descents, with DELETE | KEY_ENUMERATE_SUB_KEYS the
// removal's.
Paths OpensWith(const EmulatedRegistry& registry, REGSAM access) {
  Paths lines;
  for (const emulation::TraceEntry& entry : registry.Trace()) {
    if (entry.operation == Operation::RegOpenKeyExA && entry.access == access) {
      lines.push_back("RegOpenKeyExA " + entry.keyPath + (entry.name.empty() ? "" : " ") +
                      entry.name);
    }
  }
  return lines;
}

TEST(Search, KeyWithoutSubKeysIsQueriedOnceAndNeverEnumerated) {
  EmulatedRegistry registry;
  registry.EnableTrace(true);
  RunTool(registry);
  EXPECT_EQ(registry.CallCount(Operation::RegQueryInfoKeyA), 4u);
  EXPECT_EQ(registry.CallCount(Operation::RegEnumKeyExA), 0u);
  EXPECT_EQ(visitedCount, 0);
}

TEST(Search, RemovesMatchesSearchesTheRestAndCountsOnlyWhatItVisits) {
  EmulatedRegistry registry;
  registry.AddKey(K + "\\Alpha\\Quillorbex\\Deep");
  registry.AddKey(K + "\\QUILLORBEX\\One");
  registry.AddKey(K + "\\QUILLORBEX\\Two\\Three");
  registry.AddKey(K + "\\quillorbex tools\\Bin");
  registry.AddKey(K + "\\Quill\\Inner");
  registry.EnableTrace(true);
  const auto run = RunTool(registry);
  EXPECT_EQ(KeysBelow(registry, K), (Paths{K + "\\Alpha", K + "\\Quill", K + "\\Quill\\Inner"}));
  // K, its four entries, Quillorbex below Alpha, Inner below Quill.
  EXPECT_EQ(visitedCount, 7);
  const Paths opens = OpensWith(registry, KEY_ALL_ACCESS);
  EXPECT_EQ(CountOf(opens, "RegOpenKeyExA " + K + " Alpha"), 1u);
  EXPECT_EQ(CountOf(opens, "RegOpenKeyExA " + K + " Quill"), 1u);
  EXPECT_EQ(opens.size(), 4u + 1 + 3);  // four roots, K, Alpha, Quill, Inner
  // The removals open each key of the three matching trees once.
  EXPECT_EQ(OpensWith(registry, DELETE | KEY_ENUMERATE_SUB_KEYS).size(), 2u + 4 + 2);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
  EXPECT_EQ(run.exitStatus, 33);
}

TEST(Search, AdjacentMatchesAreBothRemovedAndEveryOtherEntryVisitedOnce) {
  EmulatedRegistry registry;
  for (const char* name : {"A", "Quillorbex1", "quillorbex2", "QUILLORBEX3", "Z"}) {
    registry.AddKey(K + "\\" + name + "\\Child");
  }
  registry.EnableTrace(true);
  RunTool(registry);
  EXPECT_EQ(KeysBelow(registry, K),
            (Paths{K + "\\A", K + "\\A\\Child", K + "\\Z", K + "\\Z\\Child"}));
  const Paths opens = TraceLines(registry, {Operation::RegOpenKeyExA});
  EXPECT_EQ(CountOf(opens, "RegOpenKeyExA " + K + " A"), 1u);
  EXPECT_EQ(CountOf(opens, "RegOpenKeyExA " + K + " Z"), 1u);
  // K, its five entries, and one child below each of A and Z.
  EXPECT_EQ(visitedCount, 1 + 5 + 2);
}

TEST(Search, UninstallSubtreesAreNeverVisitedUnderAnyRoot) {
  EmulatedRegistry registry;
  const Paths kept = {
      "HKEY_CLASSES_ROOT\\UNINSTALL\\Quillorbex",
      "HKEY_CURRENT_USER\\Software\\uninstall\\Quillorbex\\Data",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillorbex",
      "HKEY_USERS\\S-1\\UnInStAlL\\A\\B\\Quillorbex",
  };
  for (const std::string& path : kept) registry.AddKey(path);
  registry.AddKey("HKEY_USERS\\S-1\\Uninstaller\\Quillorbex");
  registry.AddKey("HKEY_USERS\\S-1\\Uninstall2\\Quillorbex");
  registry.EnableTrace(true);
  RunTool(registry);
  for (const std::string& path : kept) EXPECT_TRUE(registry.Exists(path)) << path;
  EXPECT_FALSE(registry.Exists("HKEY_USERS\\S-1\\Uninstaller\\Quillorbex"));
  EXPECT_FALSE(registry.Exists("HKEY_USERS\\S-1\\Uninstall2\\Quillorbex"));
  for (const std::string& line : TraceLines(registry)) {
    EXPECT_EQ(line.find("Uninstall\\"), std::string::npos) << line;
    EXPECT_EQ(line.find("UNINSTALL\\"), std::string::npos) << line;
  }
}

TEST(Search, MatchThatCannotBeRemovedStaysUnsearchedWithoutAMessage) {
  EmulatedRegistry registry;
  registry.AddKey(K + "\\Quillorbex\\Quillorbex Inner\\Leaf");
  registry.AddKey(K + "\\Quillorbex\\Other");
  ASSERT_TRUE(registry.SetAllowedAccess(K + "\\Quillorbex", KEY_ALL_ACCESS & ~DELETE));
  registry.EnableTrace(true);
  const auto run = RunTool(registry);
  EXPECT_EQ(run.output, testing_support::EmptyRunOutput());
  EXPECT_EQ(KeysBelow(registry, K).size(), 4u);
  for (const std::string& line : OpensWith(registry, KEY_ALL_ACCESS)) {
    EXPECT_EQ(line.find("Quillorbex"), std::string::npos) << line;
  }
  // The one open for removal is refused, and nothing below is touched.
  EXPECT_EQ(OpensWith(registry, DELETE | KEY_ENUMERATE_SUB_KEYS),
            (Paths{"RegOpenKeyExA " + K + " Quillorbex"}));
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(Search, KeyReadableButNotFullyOpenableIsCountedAndNotSearched) {
  EmulatedRegistry registry;
  registry.AddKey(K + "\\ReadOnly\\Quillorbex");
  registry.AddKey(K + "\\Open\\Quillorbex");
  ASSERT_TRUE(registry.SetAllowedAccess(K + "\\ReadOnly", KEY_READ));
  RunTool(registry);
  EXPECT_TRUE(registry.Exists(K + "\\ReadOnly\\Quillorbex"));
  EXPECT_FALSE(registry.Exists(K + "\\Open\\Quillorbex"));
  // K, ReadOnly and Open, and the match below Open.
  EXPECT_EQ(visitedCount, 4);
}

TEST(Search, FailedCountQueryWalksNothingOfThatKey) {
  EmulatedRegistry registry;
  registry.AddKey("HKEY_CLASSES_ROOT\\Quillorbex");
  registry.AddKey("HKEY_CURRENT_USER\\Quillorbex");
  registry.AddKey("HKEY_LOCAL_MACHINE\\Quillorbex");
  registry.AddFault(Fault::On(Operation::RegQueryInfoKeyA, "HKEY_CURRENT_USER"));
  const auto run = RunTool(registry);
  EXPECT_FALSE(registry.Exists("HKEY_CLASSES_ROOT\\Quillorbex"));
  EXPECT_TRUE(registry.Exists("HKEY_CURRENT_USER\\Quillorbex"));
  EXPECT_FALSE(registry.Exists("HKEY_LOCAL_MACHINE\\Quillorbex"));
  EXPECT_EQ(visitedCount, 2);
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(Search, FailedEnumerationIsCountedAndPassedOver) {
  EmulatedRegistry registry;
  registry.AddKey(K + "\\A\\Quillorbex");
  registry.AddKey(K + "\\B\\Quillorbex");
  registry.AddKey(K + "\\C\\Quillorbex");
  // The read of K's index 1, which is B.
  registry.AddFault(Fault::On(Operation::RegEnumKeyExA, K, ERROR_MORE_DATA).AtIndex(1));
  RunTool(registry);
  EXPECT_FALSE(registry.Exists(K + "\\C\\Quillorbex"));
  EXPECT_TRUE(registry.Exists(K + "\\B\\Quillorbex"));
  EXPECT_FALSE(registry.Exists(K + "\\A\\Quillorbex"));
  EXPECT_EQ(visitedCount, 1 + 3 + 2);
}

struct FamilyCase {
  const char* label;
  Family family;
  bool versionQueryFails;
  bool oneDeletePerMatch;
};

std::ostream& operator<<(std::ostream& out, const FamilyCase& c) {
  return out << c.label;
}

class RemovalByFamily : public testing::TestWithParam<FamilyCase> {};

TEST_P(RemovalByFamily, RemovesTheWholeTreeTheWayTheFamilyNeeds) {
  const FamilyCase& c = GetParam();
  EmulatedRegistry registry(c.family);
  registry.AddKey(K + "\\Quillorbex\\A\\A1");
  registry.AddKey(K + "\\Quillorbex\\B");
  registry.AddKey("HKEY_LOCAL_MACHINE\\Quillorbex Labs\\X");
  registry.AddKey(K + "\\Keep");
  if (c.versionQueryFails) {
    registry.AddFault({Operation::GetVersionExA, 1});
    registry.AddFault({Operation::GetVersionExA, 2});
  }
  registry.EnableTrace(true);
  const auto run = RunTool(registry);
  EXPECT_EQ(registry.KeyPaths(), (Paths{K, K + "\\Keep"}));
  // The family is asked afresh at every match.
  EXPECT_EQ(registry.CallCount(Operation::GetVersionExA), 2u);
  // The search opens the four roots, K and Keep; removal children first
  // opens each of the six keys it removes as well. Nothing is ever created.
  if (c.oneDeletePerMatch) {
    EXPECT_EQ(registry.CallCount(Operation::RegDeleteKeyA), 2u);
    EXPECT_EQ(registry.CallCount(Operation::RegOpenKeyExA), 6u);
  } else {
    EXPECT_EQ(registry.CallCount(Operation::RegDeleteKeyA), 6u);
    EXPECT_EQ(registry.CallCount(Operation::RegOpenKeyExA), 12u);
  }
  EXPECT_EQ(registry.CallCount(Operation::RegCreateKeyExA), 0u);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
  EXPECT_EQ(run.exitStatus, 33);
}

INSTANTIATE_TEST_SUITE_P(Families, RemovalByFamily,
                         testing::Values(FamilyCase{"nt", Family::Nt, false, false},
                                         FamilyCase{"windows9x", Family::Windows9x, false, true},
                                         FamilyCase{"nt_version_unknown", Family::Nt, true, false},
                                         FamilyCase{"windows9x_version_unknown", Family::Windows9x,
                                                    true, false}),
                         [](const testing::TestParamInfo<FamilyCase>& testInfo) {
                           return std::string(testInfo.param.label);
                         });

TEST(Search, MatchDirectlyBelowEachRootIsRemoved) {
  EmulatedRegistry registry;
  for (int i = 0; i < EmulatedRegistry::ROOT_COUNT; ++i) {
    registry.AddKey(std::string(EmulatedRegistry::RootName(i)) + "\\Quillorbex.Leftover\\Sub");
    registry.AddKey(std::string(EmulatedRegistry::RootName(i)) + "\\Software");
  }
  RunTool(registry);
  EXPECT_EQ(registry.KeyPaths(),
            (Paths{"HKEY_CLASSES_ROOT\\Software", "HKEY_CURRENT_USER\\Software",
                   "HKEY_LOCAL_MACHINE\\Software", "HKEY_USERS\\Software"}));
}

}  // namespace
