#include "tests/support/tool_run.h"

#include <algorithm>
#include <cstdio>

#include "cleaner/search_key.h"
#include "tests/support/expected_output.h"

// The tool's main, compiled for the tests under this name.
int TolvanikMain(int argc, char** argv, char** envp);

namespace testing_support {

bool CapturedOutput::Write(const char* data, std::size_t size) {
  ++attempts_;
  if ((failFromPass != 0 && attempts_ >= failFromPass) || attempts_ == failOnlyPass) {
    return false;
  }
  passes.emplace_back(data, size);
  return true;
}

std::string CapturedOutput::Bytes() const {
  std::string bytes;
  for (const std::string& pass : passes) bytes += pass;
  return bytes;
}

ToolRun RunTool(emulation::EmulatedRegistry& registry, const RunOptions& options) {
  CapturedOutput captured;
  captured.failFromPass = options.failFromPass;
  captured.failOnlyPass = options.failOnlyPass;
  std::FILE* stream = emulation::OpenTextStream(captured, options.kind == OutputKind::Console);
  std::FILE* const savedStdout = stdout;
  std::fflush(savedStdout);

  std::vector<std::string> arguments = {"tolvanik.exe"};
  arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  char* envp[] = {nullptr};

  visitedCount = options.visitedCountAtStart;
  ToolRun run;
  {
    emulation::ActiveRegistryScope active(registry);
    // A run calls each operation a few times per key (an enumeration, an
    // open, a query, a close; a removal adds a version query, reads and a
    // delete): anything far beyond is a loop.
    registry.SetCallBudget(32 * (registry.AllKeys().size() + 4) + 256);
    stdout = stream;
    run.exitStatus = TolvanikMain(static_cast<int>(arguments.size()), argv.data(), envp);
    // What the process would still pass on as it ends.
    std::fclose(stream);
    stdout = savedStdout;
    run.callBudgetExceeded = registry.CallBudgetExceeded();
    registry.SetCallBudget(0);
  }
  run.output = captured.Bytes();
  run.passes = captured.passes;
  return run;
}

std::string EmptyRunOutput() {
  return BANNER + RootLine("HKEY_CLASSES_ROOT") + RootLine("HKEY_CURRENT_USER") +
         RootLine("HKEY_LOCAL_MACHINE") + RootLine("HKEY_USERS") + CLOSING;
}

void AddNumberedKeys(emulation::EmulatedRegistry& registry, const std::string& path, int count) {
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "Key%05d", i);
    registry.AddKey(path + "\\" + name);
  }
}

std::vector<std::string> KeysBelow(const emulation::EmulatedRegistry& registry,
                                   const std::string& prefix) {
  std::vector<std::string> keys;
  for (const std::string& path : registry.KeyPaths()) {
    if (path.compare(0, prefix.size() + 1, prefix + "\\") == 0) keys.push_back(path);
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

std::vector<std::string> TraceLines(const emulation::EmulatedRegistry& registry,
                                    std::vector<emulation::Operation> only) {
  std::vector<std::string> lines;
  for (const emulation::TraceEntry& entry : registry.Trace()) {
    if (!only.empty() && std::find(only.begin(), only.end(), entry.operation) == only.end()) {
      continue;
    }
    std::string line = emulation::OperationName(entry.operation);
    if (!entry.keyPath.empty()) line += " " + entry.keyPath;
    if (!entry.name.empty()) line += " " + entry.name;
    lines.push_back(line);
  }
  return lines;
}

}  // namespace testing_support
