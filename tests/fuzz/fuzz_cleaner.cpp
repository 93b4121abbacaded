// libFuzzer target: the input decodes to the platform family, at most one
// fault (operation, call number, status or a removal by someone else) and a
// registry tree; the run must keep the same properties as the model check.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/model/case_check.h"
#include "tests/model/tree_generator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  model::ByteChoices choices(data, size);
  const emulation::Family family =
      choices.Below(2) == 0 ? emulation::Family::Nt : emulation::Family::Windows9x;
  std::vector<emulation::Fault> faults;
  if (choices.Below(2) == 1) {
    static const LONG STATUSES[] = {ERROR_ACCESS_DENIED, ERROR_MORE_DATA, ERROR_KEY_DELETED,
                                    ERROR_FILE_NOT_FOUND};
    emulation::Fault fault{static_cast<emulation::Operation>(choices.Below(7)),
                           1 + choices.Below(64), STATUSES[choices.Below(4)]};
    if (fault.operation == emulation::Operation::RegEnumKeyExA && choices.Below(3) == 0) {
      fault.action = emulation::FaultAction::RemoveEntryFirst;
    }
    faults.push_back(fault);
  }
  model::GeneratorLimits limits;
  limits.maxKeys = 80;
  const model::Tree tree = model::GenerateTree(choices, limits);
  const std::string problems = model::CheckCase(tree, family, faults);
  if (!problems.empty()) {
    std::fprintf(stderr, "family %s, %zu fault(s)\n%s\nsmallest failing case:\n%s\n",
                 family == emulation::Family::Nt ? "nt" : "9x", faults.size(), problems.c_str(),
                 model::Report(model::Shrink(tree, family, faults)).c_str());
    std::abort();
  }
  return 0;
}
