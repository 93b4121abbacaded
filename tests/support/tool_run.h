// Runs the tool's main in this process against an emulated registry and
// captures what it writes to standard output, as the bytes would leave a
// Windows text stream (CR LF), together with how they were passed on.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "emulation/emulated_registry.h"
#include "emulation/text_output.h"

namespace testing_support {

enum class OutputKind { Console, File };

// Collects the bytes passed on, one entry per pass, and fails every pass from
// a chosen one on, as a full disk or a closed pipe would.
class CapturedOutput : public emulation::OutputSink {
 public:
  bool Write(const char* data, std::size_t size) override;
  std::string Bytes() const;

  std::vector<std::string> passes;
  // 1-based number of the first pass that fails, with all after it; 0: none.
  std::size_t failFromPass = 0;
  // 1-based number of the one pass that fails; 0: none.
  std::size_t failOnlyPass = 0;

 private:
  std::size_t attempts_ = 0;
};

struct ToolRun {
  std::string output;
  int exitStatus = 0;
  std::vector<std::string> passes;
  // The run made far more calls than its registry can need (32 a key): it
  // would have looped for ever, and was stopped by failing every call.
  bool callBudgetExceeded = false;
};

struct RunOptions {
  OutputKind kind = OutputKind::File;
  std::size_t failFromPass = 0;
  std::size_t failOnlyPass = 0;
  std::vector<std::string> arguments;
  // Starts the count of visited entries here instead of 0.
  int visitedCountAtStart = 0;
};

ToolRun RunTool(emulation::EmulatedRegistry& registry, const RunOptions& options = {});

// The bytes of a run that visits no entry: banner, four root lines, closing.
std::string EmptyRunOutput();

// Adds `count` keys named "Key00000"... directly below `path`.
void AddNumberedKeys(emulation::EmulatedRegistry& registry, const std::string& path, int count);

// Key paths below `prefix` (the prefix itself excluded), sorted.
std::vector<std::string> KeysBelow(const emulation::EmulatedRegistry& registry,
                                   const std::string& prefix);

// The trace as lines "Operation keyPath name", optionally only some operations.
std::vector<std::string> TraceLines(const emulation::EmulatedRegistry& registry,
                                    std::vector<emulation::Operation> only = {});

}  // namespace testing_support
