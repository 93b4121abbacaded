// Visited entries and the progress dots they bring, across the root keys.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cleaner/search_key.h"
#include "tests/support/tool_run.h"

namespace {

using emulation::EmulatedRegistry;
using testing_support::AddNumberedKeys;
using testing_support::RunTool;

std::string LineOf(const std::string& output, const std::string& root) {
  const std::string start = "\r\nEnumerating " + root + " ";
  const std::size_t at = output.find(start);
  if (at == std::string::npos) return "<missing>";
  const std::size_t end = output.find("\r\n", at + 2);
  return output.substr(at + 2, end - at - 2);
}

// The first dot comes with the thousandth entry of the run, not before.
struct FirstDotCase {
  const char* label;
  int usersKeys;  // beside 500 under HKEY_CLASSES_ROOT
  std::int32_t count;
  const char* usersLine;
};

std::ostream& operator<<(std::ostream& out, const FirstDotCase& c) {
  return out << c.label;
}

class FirstDot : public testing::TestWithParam<FirstDotCase> {};

TEST_P(FirstDot, ComesWithTheThousandthEntry) {
  const FirstDotCase& c = GetParam();
  EmulatedRegistry registry;
  AddNumberedKeys(registry, "HKEY_CLASSES_ROOT", 500);
  AddNumberedKeys(registry, "HKEY_USERS", c.usersKeys);
  const auto run = RunTool(registry);
  EXPECT_EQ(visitedCount, c.count);
  EXPECT_EQ(LineOf(run.output, "HKEY_CLASSES_ROOT"), "Enumerating HKEY_CLASSES_ROOT ");
  EXPECT_EQ(LineOf(run.output, "HKEY_USERS"), c.usersLine);
  const std::size_t dots = c.count / PROGRESS_INTERVAL;
  EXPECT_EQ(run.output.size(), testing_support::EmptyRunOutput().size() + dots);
  if (dots == 0) {
    EXPECT_EQ(run.output, testing_support::EmptyRunOutput());
  }
}

INSTANTIATE_TEST_SUITE_P(
    ProgressDots, FirstDot,
    testing::Values(FirstDotCase{"nine_hundred_ninety_nine", 499, 999, "Enumerating HKEY_USERS "},
                    FirstDotCase{"a_thousand", 500, 1000, "Enumerating HKEY_USERS ."}),
    [](const testing::TestParamInfo<FirstDotCase>& param) {
      return std::string(param.param.label);
    });

TEST(ProgressDots, CountRunsOnFromOneRootKeyToTheNext) {
  EmulatedRegistry registry;
  AddNumberedKeys(registry, "HKEY_CLASSES_ROOT", 1500);
  // Its first dot comes at its own 500th entry, the run's 2000th.
  AddNumberedKeys(registry, "HKEY_CURRENT_USER", 600);
  AddNumberedKeys(registry, "HKEY_LOCAL_MACHINE", 899);
  AddNumberedKeys(registry, "HKEY_USERS", 1);
  const auto run = RunTool(registry);
  EXPECT_EQ(LineOf(run.output, "HKEY_CLASSES_ROOT"), "Enumerating HKEY_CLASSES_ROOT .");
  EXPECT_EQ(LineOf(run.output, "HKEY_CURRENT_USER"), "Enumerating HKEY_CURRENT_USER .");
  EXPECT_EQ(LineOf(run.output, "HKEY_LOCAL_MACHINE"), "Enumerating HKEY_LOCAL_MACHINE ");
  EXPECT_EQ(LineOf(run.output, "HKEY_USERS"), "Enumerating HKEY_USERS .");
  EXPECT_EQ(run.output.size(), 232u);
}

// Every entry of a searched key counts, whatever becomes of it; nothing below
// a passed-over or removed key does.
struct CountCase {
  const char* label;
  int plainKeys;
  int expectedCount;
  int expectedDots;
};

std::ostream& operator<<(std::ostream& out, const CountCase& c) {
  return out << c.label;
}

class EntryCounting : public testing::TestWithParam<CountCase> {};

TEST_P(EntryCounting, CountsEachVisitedEntryOnce) {
  const CountCase& c = GetParam();
  EmulatedRegistry registry;
  AddNumberedKeys(registry, "HKEY_CURRENT_USER", c.plainKeys);
  AddNumberedKeys(registry, "HKEY_CURRENT_USER\\Uninstall", 5);
  AddNumberedKeys(registry, "HKEY_CURRENT_USER\\Quillorbex", 5);
  AddNumberedKeys(registry, "HKEY_CURRENT_USER\\" + std::string(200, 'L'), 5);
  const auto run = RunTool(registry);
  EXPECT_EQ(visitedCount, c.expectedCount);
  EXPECT_EQ(run.output.size(), 229u + static_cast<std::size_t>(c.expectedDots));
  EXPECT_FALSE(registry.Exists("HKEY_CURRENT_USER\\Quillorbex"));
}

INSTANTIATE_TEST_SUITE_P(Entries, EntryCounting,
                         testing::Values(CountCase{"one_short", 996, 999, 0},
                                         CountCase{"exactly_a_thousand", 997, 1000, 1}),
                         [](const testing::TestParamInfo<CountCase>& testInfo) {
                           return std::string(testInfo.param.label);
                         });

TEST(ProgressDots, CountNeverOverflowsAndKeepsItsCadence) {
  EmulatedRegistry registry;
  AddNumberedKeys(registry, "HKEY_CURRENT_USER", 1001);
  testing_support::RunOptions options;
  options.visitedCountAtStart = INT32_MAX - INT32_MAX % 1000 - 1;
  const auto run = RunTool(registry, options);
  // One dot at the last multiple of 1000 that fits, one 1000 entries later.
  EXPECT_EQ(LineOf(run.output, "HKEY_CURRENT_USER"), "Enumerating HKEY_CURRENT_USER ..");
  EXPECT_EQ(visitedCount, 1000);
}

}  // namespace
