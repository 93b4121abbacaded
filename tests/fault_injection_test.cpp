// Every call of every operation that a run makes, failed in turn: the run
// must still end normally, close every handle, and remove nothing that the
// run without the fault would keep.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/model/case_check.h"
#include "tests/model/tree_generator.h"
#include "tests/support/printers.h"
#include "tests/support/tool_run.h"

namespace {

using emulation::Family;
using emulation::Fault;
using emulation::FaultAction;
using emulation::Operation;

const Operation ALL_OPERATIONS[] = {
    Operation::RegOpenKeyExA, Operation::RegCreateKeyExA, Operation::RegQueryInfoKeyA,
    Operation::RegEnumKeyExA, Operation::RegDeleteKeyA,   Operation::RegCloseKey,
    Operation::GetVersionExA,
};

// The faults to try on one call of `operation`.
std::vector<Fault> FaultsFor(Operation operation, std::uint64_t call) {
  std::vector<Fault> faults = {{operation, call, ERROR_ACCESS_DENIED}};
  if (operation == Operation::RegEnumKeyExA) {
    faults.push_back({operation, call, ERROR_MORE_DATA});
    faults.push_back({operation, call, ERROR_KEY_DELETED});
    faults.push_back({operation, call, 0, FaultAction::RemoveEntryFirst});
  }
  return faults;
}

model::Tree HandPickedTree() {
  model::Tree tree;
  auto key = [](const char* name, std::vector<model::TreeKey> children = {},
                REGSAM allowed = KEY_ALL_ACCESS) {
    return model::TreeKey{name, allowed, children};
  };
  tree.roots[0].children = {key("Quillorbex.Document", {key("shell", {key("open")})}), key(".qbx")};
  tree.roots[1].children = {key(
      "Software", {key("Quillorbex", {key("A", {key("A1")}), key("B")}), key("Quillorbex2"),
                   key("Uninstall", {key("Quillorbex")}), key("MyQuillorbex", {key("quillorbex")}),
                   key("Locked", {key("Quillorbex")}, KEY_READ)})};
  tree.roots[2].children = {key("SOFTWARE", {key("Vendor", {key("QUILLORBEX Labs", {key("x")})})})};
  tree.roots[3].children = {key("S-1", {key("Software", {key("quillorbex")})})};
  return tree;
}

struct FaultCase {
  const char* label;
  std::uint32_t seed;  // 0: the hand-picked tree
  Family family;
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) {
  return out << c.label;
}

class FaultInjection : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultInjection, EveryCallFailingInTurnLosesNothingAndLeaksNothing) {
  const FaultCase& c = GetParam();
  model::Tree tree;
  if (c.seed == 0) {
    tree = HandPickedTree();
  } else {
    model::SeededChoices choices(c.seed);
    model::GeneratorLimits limits;
    limits.maxKeys = 50;
    tree = model::GenerateTree(choices, limits);
  }
  ASSERT_EQ(model::CheckCase(tree, c.family), "");

  emulation::EmulatedRegistry baseline(c.family);
  model::LoadTree(tree, baseline);
  testing_support::RunTool(baseline);

  std::size_t runs = 0;
  for (Operation operation : ALL_OPERATIONS) {
    const std::uint64_t calls = baseline.CallCount(operation);
    for (std::uint64_t call = 1; call <= calls; ++call) {
      for (const Fault& fault : FaultsFor(operation, call)) {
        ++runs;
        const std::string problems = model::CheckCase(tree, c.family, {fault});
        if (!problems.empty()) {
          FAIL() << emulation::OperationName(operation) << " call " << call << " failing with "
                 << fault.status
                 << (fault.action == FaultAction::RemoveEntryFirst ? " (entry removed first)" : "")
                 << ":\n"
                 << problems << "smallest failing case:\n"
                 << model::Report(model::Shrink(tree, c.family, {fault}));
        }
      }
    }
  }
  EXPECT_GT(runs, 0u);
}

INSTANTIATE_TEST_SUITE_P(Trees, FaultInjection,
                         testing::Values(FaultCase{"hand_picked_nt", 0, Family::Nt},
                                         FaultCase{"hand_picked_9x", 0, Family::Windows9x},
                                         FaultCase{"seed_7_nt", 7, Family::Nt},
                                         FaultCase{"seed_7_9x", 7, Family::Windows9x},
                                         FaultCase{"seed_19_nt", 19, Family::Nt},
                                         FaultCase{"seed_19_9x", 19, Family::Windows9x},
                                         FaultCase{"seed_44_nt", 44, Family::Nt},
                                         FaultCase{"seed_44_9x", 44, Family::Windows9x}),
                         [](const testing::TestParamInfo<FaultCase>& testInfo) {
                           return std::string(testInfo.param.label);
                         });

}  // namespace
