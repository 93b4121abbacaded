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

const Fault* Instruments::BeginCall(const CallTarget& call) {
  if (callDelayMicroseconds_ != 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(callDelayMicroseconds_));
  }
  const std::uint64_t number = ++callCounts_[static_cast<int>(call.operation)];
  if (++callsMade_ > callBudget_ && callBudget_ != 0) {
    budgetExceeded_ = true;
    budgetFault_ = Fault{call.operation, number, ERROR_ACCESS_DENIED};
    return &budgetFault_;
  }
  const Fault* applies = nullptr;
  for (Fault& fault : faults_) {
    if (fault.operation != call.operation) continue;
    if (!fault.Aimed()) {
      if (fault.callNumber == number && applies == nullptr) applies = &fault;
      continue;
    }
    const bool hit =
        (fault.keyPath.empty() || (call.keyPath != nullptr && *call.keyPath == fault.keyPath)) &&
        (fault.subKey.empty() || (call.subKey != nullptr && fault.subKey == call.subKey)) &&
        (fault.index < 0 || static_cast<std::int64_t>(call.index) == fault.index);
    // Every aimed fault counts its hits, even when another fault applies.
    if (hit && ++fault.hits == fault.callNumber && applies == nullptr) applies = &fault;
  }
  return applies;
}

}  // namespace emulation
