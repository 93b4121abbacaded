#include "emulation/instruments.h"

#include <chrono>
#include <thread>

namespace emulation {

const char* OperationName(Operation operation) {
  switch (operation) {
    case Operation::RegOpenKeyExA:
      return "RegOpenKeyExA";
    case Operation::RegCreateKeyExA:
      return "RegCreateKeyExA";
    case Operation::RegQueryInfoKeyA:
      return "RegQueryInfoKeyA";
    case Operation::RegEnumKeyExA:
      return "RegEnumKeyExA";
    case Operation::RegDeleteKeyA:
      return "RegDeleteKeyA";
    case Operation::RegCloseKey:
      return "RegCloseKey";
    case Operation::GetVersionExA:
      return "GetVersionExA";
  }
  return "?";
}

const Fault* Instruments::BeginCall(Operation operation) {
  if (callDelayMicroseconds_ != 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(callDelayMicroseconds_));
  }
  const std::uint64_t number = ++callCounts_[static_cast<int>(operation)];
  if (++callsMade_ > callBudget_ && callBudget_ != 0) {
    budgetExceeded_ = true;
    budgetFault_ = Fault{operation, number, ERROR_ACCESS_DENIED};
    return &budgetFault_;
  }
  for (const Fault& fault : faults_) {
    if (fault.operation == operation && fault.callNumber == number) return &fault;
  }
  return nullptr;
}

}  // namespace emulation
