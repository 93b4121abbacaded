// What a test sees of the calls made to an emulated registry, and how it
// makes them fail: faults aimed at a chosen call of a chosen operation, a
// count of every operation's calls, a budget of calls after which every call
// fails (so that a run that would never end ends at once, and says so), a
// trace of every call with its arguments and result, and a delay per call.
//
// Each operation of the registry begins with BeginCall and ends with one
// Record, whatever it did.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry_api.h"

namespace emulation {

enum class Operation {
  RegOpenKeyExA,
  RegCreateKeyExA,
  RegQueryInfoKeyA,
  RegEnumKeyExA,
  RegDeleteKeyA,
  RegCloseKey,
  GetVersionExA,
};
constexpr int OPERATION_COUNT = 7;
const char* OperationName(Operation operation);

enum class FaultAction {
  // The call does nothing and returns the fault's status (GetVersionExA
  // returns FALSE).
  FailCall,
  // Only for RegEnumKeyExA: someone else removes the sub-key at the index
  // asked for, with its subtree, just before the call runs as usual.
  RemoveEntryFirst,
};

struct Fault {
  Operation operation;
  // Counted from 1 over the calls of that operation.
  std::uint64_t callNumber;
  LONG status = ERROR_ACCESS_DENIED;
  FaultAction action = FaultAction::FailCall;
};

struct TraceEntry {
  Operation operation;
  // Full path of the key the handle argument names ("" when invalid), UTF-8.
  std::string keyPath;
  // The 8-bit sub-key name passed, or for RegEnumKeyExA the name delivered,
  // as the bytes that crossed the call.
  std::string name;
  DWORD index;
  LONG status;
  // The access asked for by RegOpenKeyExA and RegCreateKeyExA, else 0.
  REGSAM access = 0;
};

class Instruments {
 public:
  void AddFault(const Fault& fault) { faults_.push_back(fault); }
  // After `calls` more calls (0: no limit), every further call fails with
  // ERROR_ACCESS_DENIED (GetVersionExA with FALSE).
  void SetCallBudget(std::uint64_t calls) {
    callBudget_ = calls == 0 ? 0 : callsMade_ + calls;
    budgetExceeded_ = false;
  }
  bool CallBudgetExceeded() const { return budgetExceeded_; }
  void EnableTrace(bool enabled) { traceEnabled_ = enabled; }
  bool Tracing() const { return traceEnabled_; }
  void SetCallDelayMicroseconds(unsigned delay) { callDelayMicroseconds_ = delay; }

  // Counts a call of `operation` (after the delay, if any); the fault that
  // applies to it, or null.
  const Fault* BeginCall(Operation operation);
  // Adds `entry` to the trace when it is kept.
  void Record(TraceEntry entry) {
    if (traceEnabled_) trace_.push_back(std::move(entry));
  }

  std::uint64_t CallCount(Operation operation) const {
    return callCounts_[static_cast<int>(operation)];
  }
  const std::vector<TraceEntry>& Trace() const { return trace_; }

 private:
  std::vector<Fault> faults_;
  std::uint64_t callCounts_[OPERATION_COUNT] = {};
  std::uint64_t callBudget_ = 0;
  std::uint64_t callsMade_ = 0;
  bool budgetExceeded_ = false;
  Fault budgetFault_{Operation::RegOpenKeyExA, 0};
  bool traceEnabled_ = false;
  std::vector<TraceEntry> trace_;
  unsigned callDelayMicroseconds_ = 0;
};

}  // namespace emulation
