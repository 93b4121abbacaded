// Sets up the emulated registry for the host build of the tool, before the
// tool's own main runs, and writes the store back after it returns.
//
//   EMULATED_REGISTRY=path.reg  load that registry export, write what remains
//                               back to it (atomically) after the run;
//                               unset: an embedded sample, nothing written
//   EMULATED_PLATFORM=nt|9x     the Windows family to behave as (default nt)
//   EMULATED_CODEPAGE=n         the ANSI code page of the 8-bit calls, and of
//                               an 8-bit store: 1252 (default), 1251 or 932
//   EMULATED_CALL_DELAY_US=n    sleep n microseconds in every registry call
//
// A store that cannot be read, parsed or written ends the process with status
// 2 and a message on standard error, before the tool writes anything; one that
// cannot be written back after the run (another writer changed it meanwhile)
// does so after the tool's output, with the store left as it stands.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "emulation/emulated_registry.h"
#include "emulation/host_process.h"
#include "emulation/reg_file.h"
#include "emulation/sample_registry.h"
#include "emulation/store_file.h"
#include "emulation/text_output.h"

namespace emulation {
namespace {

constexpr int SETUP_FAILURE_STATUS = 2;

struct HostState {
  EmulatedRegistry registry;
  std::string storePath;
  StoreFile store;
  RegDocument document;
  WindowsStandardOutput standardOutput;
};

// Made once and never destroyed: the process ends right after the run, and
// freeing a million keys one by one at exit would only cost time.
HostState& State() {
  static HostState* const state = new HostState;
  return *state;
}

[[noreturn]] void FailSetup(const std::string& message) {
  std::fprintf(stderr, "tolvanik: %s\n", message.c_str());
  std::exit(SETUP_FAILURE_STATUS);
}

void ReportSampleRun(const EmulatedRegistry& registry) {
  std::vector<std::string> removed;
  std::size_t removedKeys = 0;
  for (const Key& key : registry.AllKeys()) {
    if (!key.removed) continue;
    ++removedKeys;
    if (!key.parent->removed) removed.push_back(registry.PathOf(key));
  }
  std::sort(removed.begin(), removed.end());
  std::fprintf(stderr,
               "\n[emulated registry: embedded sample, %zu keys, %s family; nothing is saved]\n"
               "[removed %zu keys in %zu trees:]\n",
               registry.AllKeys().size(), registry.GetFamily() == Family::Nt ? "NT" : "95/98/Me",
               removedKeys, removed.size());
  for (const std::string& path : removed) {
    std::fprintf(stderr, "[  %s]\n", path.c_str());
  }
}

void FinishRun() {
  // The text stream passes its bytes to the state's descriptor sink: pass
  // everything on and close it while that sink still exists.
  HostState& state = State();
  state.standardOutput.End();
  if (state.storePath.empty()) {
    ReportSampleRun(state.registry);
    return;
  }
  RenderedFile rendered;
  std::string error;
  if (!RenderRegFile(state.document, state.registry, rendered, error)) {
    std::fprintf(stderr, "tolvanik: cannot write %s back, left as it was: %s\n",
                 state.storePath.c_str(), error.c_str());
    std::_Exit(SETUP_FAILURE_STATUS);
  }
  if (rendered.unchanged) return;
  if (!ReplaceStore(state.store, rendered.pieces, error)) {
    std::fprintf(stderr, "tolvanik: cannot write %s back: %s\n", state.storePath.c_str(),
                 error.c_str());
    std::_Exit(SETUP_FAILURE_STATUS);
  }
}

// Out of memory, the run ends at once with a message, before anything is
// written back: the store stays as it was.
void OutOfMemory() {
  static const char message[] = "tolvanik: out of memory; the store is left as it was\n";
  const ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
  (void)ignored;
  std::_Exit(SETUP_FAILURE_STATUS);
}

struct HostStartup {
  HostStartup() {
    HoldClosedStandardDescriptors();
    std::set_new_handler(OutOfMemory);
    // A write to a pipe whose reader has gone fails with EPIPE, as such a
    // write fails on Windows, instead of ending the process: the output is
    // reported lost (status 255) and the store is still written back.
    std::signal(SIGPIPE, SIG_IGN);
    HostState& state = State();

    const char* platform = std::getenv("EMULATED_PLATFORM");
    const std::string family = platform != nullptr ? platform : "";
    if (family.empty() || family == "nt") {
      state.registry.SetFamily(Family::Nt);
    } else if (family == "9x") {
      state.registry.SetFamily(Family::Windows9x);
    } else {
      FailSetup("EMULATED_PLATFORM is \"" + family + "\"; it must be nt or 9x");
    }

    if (const char* page = std::getenv("EMULATED_CODEPAGE")) {
      char* end = nullptr;
      const unsigned long number = std::strtoul(page, &end, 10);
      CodePage codePage = CodePage::Windows1252;
      if (*page == '\0' || *end != '\0' || !CodePageFromNumber(number, codePage)) {
        FailSetup(std::string("EMULATED_CODEPAGE is \"") + page +
                  "\"; it must be 1252, 1251 or 932");
      }
      state.registry.SetCodePage(codePage);
    }

    if (const char* delay = std::getenv("EMULATED_CALL_DELAY_US")) {
      char* end = nullptr;
      const unsigned long value = std::strtoul(delay, &end, 10);
      if (*delay == '\0' || *end != '\0' || value > 1000000) {
        FailSetup(std::string("EMULATED_CALL_DELAY_US is \"") + delay +
                  "\"; it must be a number of microseconds up to 1000000");
      }
      state.registry.SetCallDelayMicroseconds(static_cast<unsigned>(value));
    }

    const char* store = std::getenv("EMULATED_REGISTRY");
    if (store != nullptr && *store != '\0') {
      state.storePath = store;
      std::string error;
      if (!OpenStore(state.storePath, state.store, error)) {
        FailSetup("cannot read " + state.storePath + ": " + error);
      }
      RegFileError parseError;
      // The document keeps the text, for the write-back to copy what stays.
      if (!ParseRegFile(std::move(state.store.content), state.registry, state.document,
                        parseError)) {
        FailSetup(state.storePath + ":" + std::to_string(parseError.line) + ": " +
                  parseError.message);
      }
    } else {
      BuildSampleRegistry(state.registry);
    }
    SetActiveRegistry(&state.registry);

    state.standardOutput.Begin();
    std::atexit(FinishRun);
  }
};

const HostStartup hostStartup;

}  // namespace
}  // namespace emulation
