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

// A fault, aimed either by call number alone ("the 3rd RegEnumKeyExA") or,
// as a case reads, at a target: the key the handle argument names, the
// sub-key name passed, the index asked for. Aimed at a target, callNumber
// counts only the calls that hit it, from when the fault was added:
//   Fault::On(Operation::RegEnumKeyExA, "HKEY_USERS\\K").AtIndex(0).Occurrence(2)
// is the second read of index 0 of HKEY_USERS\K.
struct Fault {
  Operation operation;
  // Counted from 1 over the calls of that operation, or over the calls that
  // hit the target when one is named.
  std::uint64_t callNumber;
  LONG status = ERROR_ACCESS_DENIED;
  FaultAction action = FaultAction::FailCall;
  // The target; empty or negative parts hit every call.
  std::string keyPath = {};  // full path, UTF-8, as EmulatedRegistry::PathOf writes it
  std::string subKey = {};   // the 8-bit sub-key name passed, byte for byte
  std::int64_t index = -1;
  // Calls that hit the target so far.
  std::uint64_t hits = 0;

  // The first call of `operation` on the key at `keyPath`.
  static Fault On(Operation operation, std::string keyPath, LONG status = ERROR_ACCESS_DENIED) {
    Fault fault{operation, 1, status};
    fault.keyPath = std::move(keyPath);
    return fault;
  }
  Fault WithSubKey(std::string name) const {
    Fault fault = *this;
    fault.subKey = std::move(name);
    return fault;
  }
  Fault AtIndex(DWORD at) const {
    Fault fault = *this;
    fault.index = at;
    return fault;
  }
  Fault Occurrence(std::uint64_t number) const {
    Fault fault = *this;
    fault.callNumber = number;
    return fault;
  }
  Fault Doing(FaultAction what) const {
    Fault fault = *this;
    fault.action = what;
    return fault;
  }
  bool Aimed() const { return !keyPath.empty() || !subKey.empty() || index >= 0; }
};

// What a call is made on, for faults aimed at a target.
struct CallTarget {
  Operation operation;
  // The path of the key the handle argument names; null when it names none.
  const std::string* keyPath;
  const char* subKey;
  DWORD index;
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
  void AddFault(const Fault& fault) {
    faults_.push_back(fault);
    aimsAtKeys_ = aimsAtKeys_ || !fault.keyPath.empty();
  }
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

  // Whether some fault is aimed at a key path, so that calls must say theirs.
  bool AimsAtKeys() const { return aimsAtKeys_; }
  // Counts a call (after the delay, if any); the fault that applies to it,
  // or null.
  const Fault* BeginCall(const CallTarget& call);
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
  bool aimsAtKeys_ = false;
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
