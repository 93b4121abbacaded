// The registry's own limits: the deepest tree, the widest key, every name
// length. Each runs to the end with the right result and without running out
// of stack (the sanitizer build runs these with its larger frames too).
#include <gtest/gtest.h>

#include <string>

#include "tests/model/case_check.h"
#include "tests/support/printers.h"
#include "tests/support/tool_run.h"

namespace {

using emulation::EmulatedRegistry;
using emulation::Family;

std::string Chain(const std::string& start, int levels, const std::string& name) {
  std::string path = start;
  for (int i = 0; i < levels; ++i) path += "\\" + name;
  return path;
}

class Limits : public testing::TestWithParam<Family> {};

TEST_P(Limits, ChainOf512LevelsWithTheMatchAtTheBottom) {
  EmulatedRegistry registry(GetParam());
  const std::string chain = Chain("HKEY_CURRENT_USER", 511, "Level");
  registry.AddKey(chain + "\\Quillorbex");
  const auto run = testing_support::RunTool(registry);
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_TRUE(registry.Exists(chain));
  EXPECT_FALSE(registry.Exists(chain + "\\Quillorbex"));
  EXPECT_EQ(registry.KeyPaths().size(), 511u);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_P(Limits, MatchAtTheTopOfAChainOf512Levels) {
  EmulatedRegistry registry(GetParam());
  registry.AddKey(Chain("HKEY_LOCAL_MACHINE\\Quillorbex", 511, "Deeper"));
  registry.AddKey("HKEY_LOCAL_MACHINE\\Other");
  const auto run = testing_support::RunTool(registry);
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_EQ(registry.KeyPaths(), std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Other"});
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_P(Limits, MatchWith100000SubKeysIsRemovedWhole) {
  EmulatedRegistry registry(GetParam());
  testing_support::AddNumberedKeys(registry, "HKEY_USERS\\S-1\\Quillorbex", 100000);
  registry.AddKey("HKEY_USERS\\S-1\\Stays");
  const auto run = testing_support::RunTool(registry);
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_EQ(registry.KeyPaths(),
            (std::vector<std::string>{"HKEY_USERS\\S-1", "HKEY_USERS\\S-1\\Stays"}));
}

TEST_P(Limits, NamesOfEveryLengthFrom1To255) {
  model::Tree tree;
  model::TreeKey lengths{"Lengths", KEY_ALL_ACCESS, {}};
  for (std::size_t length = 1; length <= 255; ++length) {
    for (const char* start : {"Quillorbex", "N"}) {
      std::string name = start;
      name.resize(length, 'z');
      // "Quillorbex" cut short and "N" padded may meet: keep names unique.
      if (std::string(start) == "N" && length <= 10) name = std::string(length, 'n');
      lengths.children.push_back({name, KEY_ALL_ACCESS, {{"Quillorbex", KEY_ALL_ACCESS, {}}}});
    }
  }
  tree.roots[1].children.push_back(lengths);
  EXPECT_EQ(model::CheckCase(tree, GetParam()), "");
}

INSTANTIATE_TEST_SUITE_P(Families, Limits, testing::Values(Family::Nt, Family::Windows9x),
                         [](const testing::TestParamInfo<Family>& testInfo) {
                           return std::string(testInfo.param == Family::Nt ? "nt" : "9x");
                         });

}  // namespace
