// Start-up and end of tolvanik-offline: the tool's own main run on the
// registry of a Windows installation that is not running, read from its hive
// files through hivex.
//
//   tolvanik-offline [--dry-run] [--undo FILE] WINDOWS_DIR
//
// Before main, every hive is opened and checked and its keys become the
// emulated registry's, as a live run there would see them:
//   HKEY_LOCAL_MACHINE\SOFTWARE, \SYSTEM   Windows\System32\config\SOFTWARE, SYSTEM
//   HKEY_USERS\.DEFAULT                    Windows\System32\config\DEFAULT
//   HKEY_USERS\SID, SID_Classes            each profile's NTUSER.DAT, UsrClass.dat
//   HKEY_CLASSES_ROOT                      HKEY_LOCAL_MACHINE\SOFTWARE\Classes
//   HKEY_CURRENT_USER                      absent: no user is logged on
// and the 8-bit calls convert names through the installation's ANSI code page.
// After main, each key tree the run removed is listed on standard error with
// its hive; unless --dry-run, FILE (when asked for) receives them all as a
// registry export, and then each hive they came from is replaced by a new
// file without them.
//
// Status 2, with a message, when the arguments, the installation or a hive
// cannot be used: then nothing is written. Otherwise the tool's own status
// (33), or 2 after its output when the hives could not be written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "emulation/emulated_registry.h"
#include "emulation/host_process.h"
#include "emulation/store_file.h"
#include "offline/hive_file.h"
#include "offline/hive_keys.h"
#include "offline/installation.h"
#include "offline/undo_file.h"

namespace offline {
namespace {

constexpr int FAILURE_STATUS = 2;
constexpr char USAGE[] =
    "usage: tolvanik-offline [--dry-run] [--undo FILE] WINDOWS_DIR\n"
    "  Removes every Quillorbex key from the registry of the Windows installation whose\n"
    "  root folder (the one holding Windows\\System32\\config and Users) is WINDOWS_DIR.\n"
    "  --dry-run    list what would be removed; write nothing\n"
    "  --undo FILE  first save every key removed, with its values, to FILE (a new file),\n"
    "               a registry export that \"reg import FILE\" on that Windows restores\n";

struct Options {
  bool dryRun = false;
  std::string undoPath;
  std::string windowsDir;
};

struct State {
  Options options;
  emulation::EmulatedRegistry registry;
  std::deque<HiveFile> hives;
  KeyOrigins origins;
  std::size_t keysLoaded = 0;
  emulation::WindowsStandardOutput standardOutput;
};

// Made once and never destroyed: the process ends right after the run.
State& TheState() {
  static State* const state = new State;
  return *state;
}

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "tolvanik-offline: %s\n", message.c_str());
  std::exit(FAILURE_STATUS);
}

[[noreturn]] void FailAfterRun(const std::string& message) {
  std::fprintf(stderr, "tolvanik-offline: %s\n", message.c_str());
  std::_Exit(FAILURE_STATUS);
}

void OutOfMemory() {
  static const char message[] = "tolvanik-offline: out of memory; nothing was written\n";
  const ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
  (void)ignored;
  std::_Exit(FAILURE_STATUS);
}

Options ParseArguments(int argc, char** argv) {
  Options options;
  bool undoSeen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::fputs(USAGE, stdout);
      std::exit(0);
    } else if (argument == "--dry-run") {
      options.dryRun = true;
    } else if (argument == "--undo") {
      if (undoSeen || i + 1 == argc || argv[i + 1][0] == '\0') {
        std::fputs(USAGE, stderr);
        Fail(undoSeen ? "--undo is given twice" : "--undo needs a file name");
      }
      undoSeen = true;
      options.undoPath = argv[++i];
    } else if (argument.size() > 1 && argument[0] == '-') {
      std::fputs(USAGE, stderr);
      Fail("unknown option " + argument);
    } else if (!options.windowsDir.empty()) {
      std::fputs(USAGE, stderr);
      Fail("one WINDOWS_DIR only; also given: " + argument);
    } else {
      options.windowsDir = argument;
    }
  }
  if (options.windowsDir.empty()) {
    std::fputs(USAGE, stderr);
    Fail("no WINDOWS_DIR given");
  }
  if (options.dryRun && undoSeen) Fail("--dry-run removes nothing, so it takes no --undo file");
  while (options.windowsDir.size() > 1 && options.windowsDir.back() == '/') {
    options.windowsDir.pop_back();
  }
  return options;
}

// The undo file must be new, so that an earlier one is never overwritten;
// checked before the run, made after it.
void CheckUndoPath(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) {
    Fail("the undo file " + path + " already exists; give a new name, nothing was done");
  }
  if (::access(emulation::DirectoryOf(path).c_str(), W_OK | X_OK) != 0) {
    Fail("cannot make the undo file " + path + ": " + std::strerror(errno) + "; nothing was done");
  }
}

HiveFile& OpenHiveOrFail(State& state, const std::string& path, const std::string& name) {
  state.hives.emplace_back();
  HiveFile& hive = state.hives.back();
  std::string error;
  if (!OpenHive(path, name, state.options.dryRun, hive, error)) {
    Fail("hive " + name + ": " + error);
  }
  return hive;
}

void Mount(State& state, HiveFile& hive, const std::string& keyPath) {
  emulation::Key* mount = state.registry.AddKey(keyPath);
  std::string error;
  if (mount == nullptr || !LoadHiveKeys(hive.handle, state.hives.size() - 1, state.registry, *mount,
                                        state.origins, error)) {
    Fail("hive " + hive.name + ": " +
         (mount == nullptr ? "cannot be mounted at " + keyPath : error + "; nothing was written"));
  }
}

void LoadInstallation(State& state) {
  const std::string& root = state.options.windowsDir;
  struct stat status {};
  if (::stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    Fail(root + " is not a folder");
  }
  const std::string config = FindBelow(root, "Windows\\System32\\config");
  if (config.empty()) Fail("no Windows\\System32\\config in " + root + ": not a Windows folder");
  const auto relative = [&root](const std::string& path) { return path.substr(root.size() + 1); };

  const std::string softwarePath = FindBelow(config, "SOFTWARE");
  const std::string systemPath = FindBelow(config, "SYSTEM");
  if (softwarePath.empty()) Fail("no SOFTWARE hive in " + config);
  if (systemPath.empty()) Fail("no SYSTEM hive in " + config);
  HiveFile& software = OpenHiveOrFail(state, softwarePath, relative(softwarePath));
  Mount(state, software, "HKEY_LOCAL_MACHINE\\SOFTWARE");
  HiveFile& system = OpenHiveOrFail(state, systemPath, relative(systemPath));
  Mount(state, system, "HKEY_LOCAL_MACHINE\\SYSTEM");

  const unsigned page = AnsiCodePage(system.handle);
  emulation::CodePage codePage = emulation::CodePage::Windows1252;
  if (page == 0) {
    Fail("hive " + system.name + " names no ANSI code page (Select\\Current, " +
         "ControlSetNNN\\Control\\Nls\\CodePage, value ACP); nothing was done");
  }
  if (!emulation::CodePageFromNumber(page, codePage)) {
    Fail("the installation's ANSI code page is " + std::to_string(page) +
         "; this program knows 1252, 1251 and 932 only, and will not guess; nothing was done");
  }
  state.registry.SetCodePage(codePage);

  const std::string defaultPath = FindBelow(config, "DEFAULT");
  if (!defaultPath.empty()) {
    Mount(state, OpenHiveOrFail(state, defaultPath, relative(defaultPath)), "HKEY_USERS\\.DEFAULT");
  }
  std::vector<std::string> notes;
  for (const HiveMount& user : UserHives(root, software.handle, notes)) {
    Mount(state, OpenHiveOrFail(state, user.path, user.name), user.keyPath);
  }
  for (const std::string& note : notes) {
    std::fprintf(stderr, "tolvanik-offline: %s\n", note.c_str());
  }

  // With no user logged on, HKEY_CLASSES_ROOT is the machine's classes, the
  // same keys (a key removed through one is gone from the other), and
  // HKEY_CURRENT_USER is nobody's.
  // (A SOFTWARE hive without Classes leaves HKEY_CLASSES_ROOT its own, empty.)
  if (emulation::Key* classes = state.registry.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes")) {
    state.registry.SetRootView(0, classes);
  }
  state.registry.SetRootView(1, nullptr);
  state.keysLoaded = state.registry.AllKeys().size();
}

// A removed key tree: its top key and where it came from.
struct Removal {
  KeyOrigin origin;
  KeyOrigin parent;
  std::string path;
};

std::vector<Removal> RemovedTrees(State& state) {
  std::vector<Removal> removals;
  for (const emulation::Key& key : state.registry.AllKeys()) {
    if (!key.removed || key.parent->removed) continue;
    const auto origin = state.origins.find(&key);
    const auto parent = state.origins.find(key.parent);
    if (origin == state.origins.end() || parent == state.origins.end()) {
      FailAfterRun("the run removed " + state.registry.PathOf(key) +
                   ", which no hive holds; no hive was written");
    }
    removals.push_back({origin->second, parent->second, state.registry.PathOf(key)});
  }
  return removals;
}

// Makes the file at `path`, which must not exist, holding `bytes`: written
// and flushed under a temporary name beside it, then linked to its name, so
// that the name holds the whole content or nothing whatever happens.
bool WriteNewFile(const std::string& path, const std::string& bytes, std::string& error) {
  std::string temporary = emulation::DirectoryOf(path) + "/.tolvanik-XXXXXX";
  std::vector<char> pattern(temporary.begin(), temporary.end());
  pattern.push_back('\0');
  const int descriptor = ::mkstemp(pattern.data());
  if (descriptor < 0) {
    error = std::strerror(errno);
    return false;
  }
  temporary = pattern.data();
  bool ok = emulation::WriteAll(descriptor, {bytes}) && ::fchmod(descriptor, 0644) == 0 &&
            ::fsync(descriptor) == 0;
  if (!ok) error = std::strerror(errno);
  if (::close(descriptor) != 0 && ok) {
    error = std::strerror(errno);
    ok = false;
  }
  // Renamed without replacing: a name that exists meanwhile is refused. Where
  // the file system cannot rename so, a second name is linked instead.
  bool renamed = false;
  if (ok) {
    renamed =
        ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
    if (!renamed && errno == EINVAL) {
      ok = ::link(temporary.c_str(), path.c_str()) == 0;
    } else {
      ok = renamed;
    }
    if (!ok) error = std::strerror(errno);
  }
  if (!renamed) ::unlink(temporary.c_str());
  if (!ok) return false;
  if (!emulation::SyncDirectoryOf(path)) {
    error = std::string("written, but its folder could not be flushed to disk: ") +
            std::strerror(errno);
    return false;
  }
  return true;
}

void WriteHives(State& state, const std::vector<Removal>& removals) {
  std::string error;
  // Everything that can be checked is checked before anything is written.
  for (const Removal& removal : removals) {
    const HiveFile& hive = state.hives[removal.origin.hive];
    if (!CanRemoveChild(hive, removal.parent.node, removal.origin.node, error)) {
      FailAfterRun("cannot remove " + removal.path + " from hive " + hive.name + ": " + error +
                   "; no hive was written");
    }
  }
  if (!state.options.undoPath.empty()) {
    std::string sections;
    for (const Removal& removal : removals) {
      if (!AppendUndoSections(state.hives[removal.origin.hive].handle, removal.origin.node,
                              removal.path, sections, error)) {
        FailAfterRun("cannot save " + removal.path + " to the undo file: " + error +
                     "; no hive was written (without --undo the run removes it all the same)");
      }
    }
    if (!WriteNewFile(state.options.undoPath, UndoFileBytes(sections), error)) {
      FailAfterRun("cannot write the undo file " + state.options.undoPath + ": " + error +
                   "; no hive was written");
    }
  }
  if (removals.empty()) return;

  emulation::SignalsHeld held;
  std::vector<bool> changed(state.hives.size(), false);
  for (const Removal& removal : removals) {
    HiveFile& hive = state.hives[removal.origin.hive];
    if (hivex_node_delete_child(hive.handle, removal.origin.node) != 0) {
      FailAfterRun("hivex could not remove " + removal.path + " from hive " + hive.name + ": " +
                   std::strerror(errno) + "; no hive was written");
    }
    changed[removal.origin.hive] = true;
  }
  std::vector<emulation::Replacement> replacements(state.hives.size());
  const auto discardAll = [&replacements] {
    for (emulation::Replacement& replacement : replacements) {
      emulation::DiscardReplacement(replacement);
    }
  };
  for (std::size_t i = 0; i < state.hives.size(); ++i) {
    if (!changed[i]) continue;
    HiveFile& hive = state.hives[i];
    const emulation::WriteContent commit = [&hive](int, const std::string& path, std::string& why) {
      if (hivex_commit(hive.handle, path.c_str(), 0) == 0) return true;
      why = std::string("hivex could not write it: ") + std::strerror(errno);
      return false;
    };
    if (!emulation::PrepareReplacement(hive.file, commit, replacements[i], error)) {
      discardAll();
      FailAfterRun("cannot write hive " + hive.name + ": " + error + "; no hive was written");
    }
  }
  std::string written;
  for (std::size_t i = 0; i < state.hives.size(); ++i) {
    if (!changed[i]) continue;
    if (!emulation::CommitReplacement(replacements[i], error)) {
      discardAll();
      FailAfterRun("cannot replace hive " + state.hives[i].name + ": " + error +
                   (written.empty() ? "; no hive was written"
                                    : "; already replaced:" + written +
                                          "; the others are as "
                                          "they were"));
    }
    written += " " + state.hives[i].name;
  }
}

void FinishRun() {
  State& state = TheState();
  state.standardOutput.End();
  if (state.registry.AllKeys().size() != state.keysLoaded) {
    FailAfterRun("the run created keys, which this program never writes; no hive was written");
  }
  const std::vector<Removal> removals = RemovedTrees(state);
  if (!state.options.dryRun) WriteHives(state, removals);
  const char* verb = state.options.dryRun ? "would remove" : "removed";
  for (const Removal& removal : removals) {
    std::fprintf(stderr, "tolvanik-offline: %s %s (hive %s)\n", verb, removal.path.c_str(),
                 state.hives[removal.origin.hive].name.c_str());
  }
  std::fprintf(
      stderr, "tolvanik-offline: %zu key trees %s%s\n", removals.size(),
      state.options.dryRun ? "found; dry run, nothing was written" : "removed",
      state.options.undoPath.empty() ? "" : ("; undo file " + state.options.undoPath).c_str());
}

// Run by the C library before main, with main's own arguments.
void Start(int argc, char** argv, char**) {
  emulation::HoldClosedStandardDescriptors();
  std::set_new_handler(OutOfMemory);
  std::signal(SIGPIPE, SIG_IGN);
  State& state = TheState();
  state.options = ParseArguments(argc, argv);
  if (!state.options.undoPath.empty()) CheckUndoPath(state.options.undoPath);
  LoadInstallation(state);
  emulation::SetActiveRegistry(&state.registry);
  state.standardOutput.Begin();
  std::atexit(FinishRun);
}

// glibc calls the functions of .init_array with argc, argv and envp.
__attribute__((section(".init_array"), used)) void (*const startEntry)(int, char**, char**) = Start;

}  // namespace
}  // namespace offline
