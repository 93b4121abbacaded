// Thousands of generated registry cases, each run by the tool and checked
// against the reference model: the keys left, the exact output, the status.
#include <gtest/gtest.h>

#include <string>

#include "tests/model/case_check.h"
#include "tests/model/tree_generator.h"

namespace {

using emulation::Family;

constexpr std::uint32_t SEEDS_PER_BLOCK = 500;
constexpr std::uint32_t BLOCKS = 8;

struct Block {
  Family family;
  std::uint32_t block;
};

std::ostream& operator<<(std::ostream& out, const Block& b) {
  return out << (b.family == Family::Nt ? "nt" : "9x") << " seeds from "
             << b.block * SEEDS_PER_BLOCK + 1;
}

class ModelCheck : public testing::TestWithParam<Block> {};

TEST_P(ModelCheck, EveryGeneratedCaseMatchesTheModel) {
  const Block& param = GetParam();
  for (std::uint32_t i = 0; i < SEEDS_PER_BLOCK; ++i) {
    const std::uint32_t seed = param.block * SEEDS_PER_BLOCK + i + 1;
    model::SeededChoices choices(seed);
    model::Tree tree = model::GenerateTree(choices);
    // Every 25th case gets a wide key of its own, for progress dots.
    if (seed % 25 == 0) {
      model::TreeKey& wide = tree.roots[seed % 4];
      for (std::uint32_t n = 0; n < 800 + seed % 900; ++n) {
        wide.children.push_back({"Bulk" + std::to_string(n), KEY_ALL_ACCESS, {}});
      }
    }
    const std::string problems = model::CheckCase(tree, param.family);
    if (!problems.empty()) {
      const model::Tree smallest = model::Shrink(tree, param.family);
      FAIL() << "seed " << seed << ", family " << (param.family == Family::Nt ? "nt" : "9x")
             << ":\n"
             << problems << "smallest failing case:\n"
             << model::Report(smallest) << "\nits problems:\n"
             << model::CheckCase(smallest, param.family);
    }
  }
}

std::vector<Block> AllBlocks() {
  std::vector<Block> blocks;
  for (Family family : {Family::Nt, Family::Windows9x}) {
    for (std::uint32_t b = 0; b < BLOCKS; ++b) blocks.push_back({family, b});
  }
  return blocks;
}

INSTANTIATE_TEST_SUITE_P(Seeds, ModelCheck, testing::ValuesIn(AllBlocks()),
                         [](const testing::TestParamInfo<Block>& testInfo) {
                           return std::string(testInfo.param.family == Family::Nt ? "nt" : "9x") +
                                  "_seeds_" +
                                  std::to_string(testInfo.param.block * SEEDS_PER_BLOCK + 1) +
                                  "_to_" +
                                  std::to_string((testInfo.param.block + 1) * SEEDS_PER_BLOCK);
                         });

// A failure report is a registry export with rights and the code page as
// comments; pasted into a test, it sets up the same case.
TEST(ModelReport, EveryGeneratedCaseReadsBackFromItsReport) {
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    model::SeededChoices choices(seed);
    const model::Tree tree = model::GenerateTree(choices);
    const std::string report = model::ToRegFile(tree);
    model::Tree read;
    std::string error;
    ASSERT_TRUE(model::FromRegFile(report, read, error)) << "seed " << seed << ": " << error;
    ASSERT_EQ(model::ToRegFile(read), report) << "seed " << seed;
    ASSERT_EQ(model::KeyCount(read), model::KeyCount(tree)) << "seed " << seed;
  }
}

TEST(ModelReport, APastedReportIsACase) {
  const std::string report =
      "Windows Registry Editor Version 5.00\n; code page 1252\n\n"
      "[HKEY_CURRENT_USER\\Software]\n\n"
      "; grants only 0x20019\n"
      "[HKEY_CURRENT_USER\\Software\\Quillorbex]\n\n"
      "[HKEY_CURRENT_USER\\Software\\Quillorbex\\Cache]\n\n";
  model::Tree tree;
  std::string error;
  ASSERT_TRUE(model::FromRegFile(report, tree, error)) << error;
  EXPECT_EQ(tree.roots[1].children.at(0).children.at(0).allowed, static_cast<REGSAM>(KEY_READ));
  EXPECT_EQ(model::ToRegFile(tree), report);
  EXPECT_EQ(model::CheckCase(tree, Family::Nt), "");
}

TEST(ModelReport, ALineOfNoKnownKindIsRefusedWithItsNumber) {
  model::Tree tree;
  std::string error;
  EXPECT_FALSE(model::FromRegFile(
      "Windows Registry Editor Version 5.00\n\n[HKEY_USERS\\A]\n\"Value\"=\"x\"\n", tree, error));
  EXPECT_EQ(error, "line 4: not a section or a known comment: \"Value\"=\"x\"");
}

}  // namespace
