// Runs of the built host program: its store on disk, exit statuses, and how
// its output reaches a terminal, a pipe, a full device or a closed stdout.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/expected_output.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class Stdout { Pipe, DevFull, Closed, Terminal, PipeWithoutReader };

struct Chunk {
  double seconds;
  std::string bytes;
};

struct ProcessRun {
  int exitStatus = -1;
  std::string output;
  std::string errors;
  std::vector<Chunk> chunks;
  double seconds = 0;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string Fixture(const std::string& name) {
  return ReadFile(std::string(FIXTURE_DIR) + "/" + name);
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tolvanik-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Reads everything from `descriptor` until end of file, with arrival times.
void Drain(int descriptor, Clock::time_point start, ProcessRun& run) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    run.chunks.push_back(
        {std::chrono::duration<double>(Clock::now() - start).count(), std::string(buffer, got)});
    run.output.append(buffer, static_cast<std::size_t>(got));
  }
}

// `addressSpace`: a limit on the child's memory in bytes, 0 for none.
ProcessRun RunTolvanik(const std::vector<std::string>& environment, Stdout mode,
                       const std::vector<std::string>& arguments = {}, rlim_t addressSpace = 0) {
  ProcessRun run;
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  EXPECT_EQ(::pipe(errPipe), 0);
  int master = -1;
  const Clock::time_point start = Clock::now();
  pid_t child;
  if (mode == Stdout::Terminal) {
    child = ::forkpty(&master, nullptr, nullptr, nullptr);
  } else {
    if (mode == Stdout::Pipe || mode == Stdout::PipeWithoutReader) {
      EXPECT_EQ(::pipe(outPipe), 0);
    }
    if (mode == Stdout::PipeWithoutReader) ::close(outPipe[0]);
    child = ::fork();
  }
  if (child == 0) {
    if (mode == Stdout::Terminal) {
      // Raw, so that the terminal passes the program's bytes unchanged.
      termios settings;
      ::tcgetattr(STDOUT_FILENO, &settings);
      ::cfmakeraw(&settings);
      ::tcsetattr(STDOUT_FILENO, TCSANOW, &settings);
    } else if (mode == Stdout::Pipe || mode == Stdout::PipeWithoutReader) {
      ::dup2(outPipe[1], STDOUT_FILENO);
    } else if (mode == Stdout::DevFull) {
      const int full = ::open("/dev/full", O_WRONLY);
      ::dup2(full, STDOUT_FILENO);
    } else {
      ::close(STDOUT_FILENO);
    }
    ::dup2(errPipe[1], STDERR_FILENO);
    for (int fd = 3; fd < 256; ++fd) ::close(fd);
    if (addressSpace != 0) {
      const rlimit limit{addressSpace, addressSpace};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    ::unsetenv("EMULATED_REGISTRY");
    ::unsetenv("EMULATED_PLATFORM");
    ::unsetenv("EMULATED_CALL_DELAY_US");
    ::unsetenv("EMULATED_CODEPAGE");
    for (const std::string& variable : environment) ::putenv(const_cast<char*>(variable.c_str()));
    std::vector<char*> argv = {const_cast<char*>(TOLVANIK_BINARY)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(TOLVANIK_BINARY, argv.data());
    ::_exit(127);
  }
  ::close(errPipe[1]);
  if (mode == Stdout::PipeWithoutReader) ::close(outPipe[1]);
  if (mode == Stdout::Pipe) {
    ::close(outPipe[1]);
    Drain(outPipe[0], start, run);
    ::close(outPipe[0]);
  } else if (mode == Stdout::Terminal) {
    Drain(master, start, run);  // ends with EIO once the child has gone
    ::close(master);
  }
  ProcessRun errors;
  Drain(errPipe[0], start, errors);
  ::close(errPipe[0]);
  run.errors = errors.output;
  int status = 0;
  ::waitpid(child, &status, 0);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  return run;
}

const std::string EMPTY_RUN = testing_support::BANNER +
                              testing_support::RootLine("HKEY_CLASSES_ROOT") +
                              testing_support::RootLine("HKEY_CURRENT_USER") +
                              testing_support::RootLine("HKEY_LOCAL_MACHINE") +
                              testing_support::RootLine("HKEY_USERS") + testing_support::CLOSING;

// Each fixture X.reg, run in a family under a code page, leaves exactly
// X.after.reg, or X.after.PAGE.reg where what is left depends on the page.
struct StoreCase {
  std::string fixture;
  std::string family;
  std::string codePage;
  std::string after;
};

std::ostream& operator<<(std::ostream& out, const StoreCase& c) {
  return out << c.fixture << " " << c.family << " " << c.codePage;
}

class StoreFixtures : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreFixtures, RunLeavesExactlyTheExpectedFile) {
  const StoreCase& c = GetParam();
  TempDir dir;
  const std::string store = dir.File(c.fixture + ".reg");
  WriteFile(store, Fixture(c.fixture + ".reg"));
  const ProcessRun run = RunTolvanik({"EMULATED_REGISTRY=" + store, "EMULATED_PLATFORM=" + c.family,
                                      "EMULATED_CODEPAGE=" + c.codePage},
                                     Stdout::Pipe);
  EXPECT_EQ(run.exitStatus, 33) << run.errors;
  EXPECT_EQ(run.output, EMPTY_RUN);
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(ReadFile(store), Fixture(c.after));
}

std::vector<StoreCase> StoreCases() {
  std::vector<StoreCase> cases;
  for (const char* fixture : {"leftovers", "near_misses", "deep_chain"}) {
    for (const char* family : {"nt", "9x"}) {
      cases.push_back({fixture, family, "1252", std::string(fixture) + ".after.reg"});
    }
  }
  // A UTF-16 export as regedit writes it, with names beyond ASCII: written
  // back in UTF-16, every kept section byte for byte.
  for (const char* page : {"1252", "1251", "932"}) {
    cases.push_back(
        {"unicode_names", "nt", page, std::string("unicode_names.after.") + page + ".reg"});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, StoreFixtures, testing::ValuesIn(StoreCases()),
                         [](const testing::TestParamInfo<StoreCase>& testInfo) {
                           return testInfo.param.fixture + "_" + testInfo.param.family + "_" +
                                  testInfo.param.codePage;
                         });

TEST(HostProgram, UnparsableStoreIsReportedWithFileAndLineAndLeftUntouched) {
  TempDir dir;
  const std::string store = dir.File("bad.reg");
  const std::string text = "REGEDIT4\r\n\r\n[HKEY_USERS\\Quillorbex]\r\nnot a value\r\n";
  WriteFile(store, text);
  const ProcessRun run = RunTolvanik({"EMULATED_REGISTRY=" + store}, Stdout::Pipe);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.errors, "tolvanik: " + store +
                            ":4: expected a value line (\"name\"=... or @=...) or a "
                            "[HKEY_...] section header\n");
  EXPECT_EQ(ReadFile(store), text);
}

TEST(HostProgram, MissingStoreIsReported) {
  const ProcessRun run = RunTolvanik({"EMULATED_REGISTRY=/nonexistent/store.reg"}, Stdout::Pipe);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.errors,
            "tolvanik: cannot read /nonexistent/store.reg: No such file or directory\n");
}

TEST(HostProgram, UnknownFamilyIsReported) {
  const ProcessRun run = RunTolvanik({"EMULATED_PLATFORM=vista"}, Stdout::Pipe);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.errors, "tolvanik: EMULATED_PLATFORM is \"vista\"; it must be nt or 9x\n");
}

TEST(HostProgram, UnknownCodePageIsReported) {
  for (const std::string page : {"65001", "", "1252x"}) {
    const ProcessRun run = RunTolvanik({"EMULATED_CODEPAGE=" + page}, Stdout::Pipe);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.errors,
              "tolvanik: EMULATED_CODEPAGE is \"" + page + "\"; it must be 1252, 1251 or 932\n");
  }
}

TEST(HostProgram, EmbeddedSampleShowsDotsAndListsWhatWasRemoved) {
  const ProcessRun run = RunTolvanik({}, Stdout::Pipe, {"ignored", "--arguments"});
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_EQ(run.output.compare(0, 73, EMPTY_RUN.substr(0, 73)), 0);
  EXPECT_GE(run.output.size(), 229u + 3);
  EXPECT_NE(run.errors.find("[  HKEY_CURRENT_USER\\Software\\Quillorbex]"), std::string::npos)
      << run.errors;
  EXPECT_NE(run.errors.find("[  HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillorbex Labs]"),
            std::string::npos);
  EXPECT_EQ(run.errors.find("Uninstall\\Quillorbex"), std::string::npos);
  EXPECT_EQ(run.errors.find("MyQuillorbex"), std::string::npos);
}

TEST(HostProgram, OutputThatCannotBeWrittenGivesStatus255AndTheStoreIsStillSaved) {
  // A pipe whose reader has gone: on Windows the write fails; here it must
  // fail too, not end the process with SIGPIPE before the store is saved.
  for (Stdout mode : {Stdout::DevFull, Stdout::Closed, Stdout::PipeWithoutReader}) {
    TempDir dir;
    const std::string store = dir.File("leftovers.reg");
    WriteFile(store, Fixture("leftovers.reg"));
    const ProcessRun run = RunTolvanik({"EMULATED_REGISTRY=" + store}, mode);
    EXPECT_EQ(run.exitStatus, 255) << run.errors;
    EXPECT_EQ(ReadFile(store), Fixture("leftovers.after.reg"));
  }
}

// Starts the program on `store` slowly (10 ms a registry call, a run of
// about two seconds), output and errors to files beside it.
pid_t StartSlowRun(const std::string& store) {
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open((store + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open((store + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::setenv("EMULATED_REGISTRY", store.c_str(), 1);
    ::setenv("EMULATED_CALL_DELAY_US", "10000", 1);
    ::execl(TOLVANIK_BINARY, TOLVANIK_BINARY, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Long enough for the run to have read its store and taken its lock.
  ::usleep(400 * 1000);
  return child;
}

int WaitFor(pid_t child) {
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

// Temporary files of a write-back left in `dir`.
std::vector<std::string> TemporaryFilesIn(const TempDir& dir) {
  std::vector<std::string> found;
  if (DIR* listing = ::opendir(dir.File("").c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      const std::string name = entry->d_name;
      if (name.find(".tolvanik-") == 0 || name.find(".tmp.") != std::string::npos) {
        found.push_back(name);
      }
    }
    ::closedir(listing);
  }
  return found;
}

// What the store's path names, and what the run must do with it.
TEST(StoreFile, ThroughASymbolicLinkTheTargetIsReplacedAndTheLinkStays) {
  TempDir dir;
  const std::string target = dir.File("target.reg");
  const std::string link = dir.File("link.reg");
  WriteFile(target, Fixture("leftovers.reg"));
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  const ProcessRun run = RunTolvanik({"EMULATED_REGISTRY=" + link}, Stdout::Pipe);
  EXPECT_EQ(run.exitStatus, 33) << run.errors;
  struct stat linkStat {};
  ASSERT_EQ(::lstat(link.c_str(), &linkStat), 0);
  EXPECT_TRUE(S_ISLNK(linkStat.st_mode));
  EXPECT_EQ(ReadFile(target), Fixture("leftovers.after.reg"));
  EXPECT_TRUE(TemporaryFilesIn(dir).empty());
}

TEST(StoreFile, ModeOwnerAndGroupAreKept) {
  TempDir dir;
  const std::string store = dir.File("store.reg");
  WriteFile(store, Fixture("leftovers.reg"));
  ASSERT_EQ(::chmod(store.c_str(), 0640), 0);
  // As root the file can be given to anyone; as another user, to itself.
  const uid_t owner = ::geteuid() == 0 ? 1234 : ::geteuid();
  const gid_t group = ::geteuid() == 0 ? 2345 : ::getegid();
  ASSERT_EQ(::chown(store.c_str(), owner, group), 0);
  const ProcessRun run = RunTolvanik({"EMULATED_REGISTRY=" + store}, Stdout::Pipe);
  EXPECT_EQ(run.exitStatus, 33) << run.errors;
  struct stat after {};
  ASSERT_EQ(::stat(store.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, owner);
  EXPECT_EQ(after.st_gid, group);
  EXPECT_EQ(ReadFile(store), Fixture("leftovers.after.reg"));
}

// The replacement gives the path a file of its own: another hard link to
// the old file keeps the old content (the README says so).
TEST(StoreFile, AHardLinkElsewhereKeepsTheOldContent) {
  TempDir dir;
  const std::string store = dir.File("store.reg");
  const std::string other = dir.File("other-name.reg");
  WriteFile(store, Fixture("leftovers.reg"));
  ASSERT_EQ(::link(store.c_str(), other.c_str()), 0);
  const ProcessRun run = RunTolvanik({"EMULATED_REGISTRY=" + store}, Stdout::Pipe);
  EXPECT_EQ(run.exitStatus, 33) << run.errors;
  EXPECT_EQ(ReadFile(store), Fixture("leftovers.after.reg"));
  EXPECT_EQ(ReadFile(other), Fixture("leftovers.reg"));
}

struct RefusedStore {
  const char* label;
  // Makes the store at the path given; returns the content to find after.
  std::string (*make)(const std::string& path);
  const char* message;
};

std::ostream& operator<<(std::ostream& out, const RefusedStore& c) {
  return out << c.label;
}

class RefusedStores : public testing::TestWithParam<RefusedStore> {};

TEST_P(RefusedStores, AreReportedWithStatus2BeforeAnyOutputAndLeftAsTheyWere) {
  const RefusedStore& c = GetParam();
  TempDir dir;
  const std::string store = dir.File("store.reg");
  const std::string content = c.make(store);
  const ProcessRun run = RunTolvanik({"EMULATED_REGISTRY=" + store}, Stdout::Pipe);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
  EXPECT_EQ(run.errors.find("tolvanik: cannot read " + store), 0u) << run.errors;
  if (!content.empty()) {
    EXPECT_EQ(ReadFile(store), content);
  }
}

INSTANTIATE_TEST_SUITE_P(States, RefusedStores,
                         testing::Values(RefusedStore{"read_only",
                                                      [](const std::string& path) {
                                                        WriteFile(path, Fixture("leftovers.reg"));
                                                        ::chmod(path.c_str(), 0444);
                                                        return Fixture("leftovers.reg");
                                                      },
                                                      "may not write it (mode 444)"},
                                         RefusedStore{"fifo",
                                                      [](const std::string& path) {
                                                        ::mkfifo(path.c_str(), 0644);
                                                        return std::string();
                                                      },
                                                      "not a regular file"},
                                         RefusedStore{"directory",
                                                      [](const std::string& path) {
                                                        ::mkdir(path.c_str(), 0755);
                                                        return std::string();
                                                      },
                                                      "not a regular file"}),
                         [](const testing::TestParamInfo<RefusedStore>& testInfo) {
                           return std::string(testInfo.param.label);
                         });

TEST(StoreFile, ANameNearTheFileSystemsLimitIsWrittenBack) {
  TempDir dir;
  const std::string store = dir.File(std::string(250, 'n') + ".reg");
  WriteFile(store, Fixture("leftovers.reg"));
  const ProcessRun run = RunTolvanik({"EMULATED_REGISTRY=" + store}, Stdout::Pipe);
  EXPECT_EQ(run.exitStatus, 33) << run.errors;
  EXPECT_EQ(ReadFile(store), Fixture("leftovers.after.reg"));
}

TEST(StoreFile, ASecondRunWhileTheFirstHoldsTheStoreIsRefused) {
  TempDir dir;
  const std::string store = dir.File("store.reg");
  WriteFile(store, Fixture("leftovers.reg"));
  const pid_t first = StartSlowRun(store);
  const ProcessRun second = RunTolvanik({"EMULATED_REGISTRY=" + store}, Stdout::Pipe);
  EXPECT_EQ(second.exitStatus, 2);
  EXPECT_NE(second.errors.find("another run is cleaning it"), std::string::npos) << second.errors;
  EXPECT_EQ(WaitFor(first), 33) << ReadFile(store + ".err");
  EXPECT_EQ(ReadFile(store), Fixture("leftovers.after.reg"));
}

TEST(StoreFile, AChangeByAnotherWriterDuringTheRunIsKept) {
  TempDir dir;
  const std::string store = dir.File("store.reg");
  WriteFile(store, Fixture("leftovers.reg"));
  const pid_t run = StartSlowRun(store);
  const std::string appended = Fixture("leftovers.reg") + "[HKEY_USERS\\Added]\r\n\r\n";
  {
    std::ofstream out(store, std::ios::binary | std::ios::app);
    out << "[HKEY_USERS\\Added]\r\n\r\n";
  }
  EXPECT_EQ(WaitFor(run), 2);
  EXPECT_NE(ReadFile(store + ".err").find("changed while the run went on"), std::string::npos)
      << ReadFile(store + ".err");
  EXPECT_EQ(ReadFile(store), appended);
  EXPECT_TRUE(TemporaryFilesIn(dir).empty());
}

TEST(StoreFile, ARunEndedBySignalLeavesTheStoreAndNothingBesideIt) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    TempDir dir;
    const std::string store = dir.File("store.reg");
    WriteFile(store, Fixture("leftovers.reg"));
    const pid_t run = StartSlowRun(store);
    ::kill(run, signal);
    EXPECT_EQ(WaitFor(run), 1000 + signal);
    EXPECT_EQ(ReadFile(store), Fixture("leftovers.reg"));
    EXPECT_TRUE(TemporaryFilesIn(dir).empty());
  }
}

std::string LargeStore(int keys) {
  std::string text = "REGEDIT4\r\n\r\n";
  char line[96];
  for (int i = 0; i < keys; ++i) {
    std::snprintf(line, sizeof line, "[HKEY_CURRENT_USER\\Software\\Bulk\\Key%05d]\r\n\r\n", i);
    text += line;
  }
  return text;
}

TEST(StoreFile, OutOfMemoryEndsWithAMessageAndStatus2AndTheStoreUntouched) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer cannot run under a limit on address space";
#else
  TempDir dir;
  const std::string store = dir.File("large.reg");
  // About 50 MB of store, and several times that of keys: far more than 64 MiB.
  const std::string text = LargeStore(1000000);
  WriteFile(store, text);
  const ProcessRun run =
      RunTolvanik({"EMULATED_REGISTRY=" + store}, Stdout::Pipe, {}, 64u * 1024 * 1024);
  EXPECT_EQ(run.exitStatus, 2) << run.errors;
  EXPECT_EQ(run.errors, "tolvanik: out of memory; the store is left as it was\n");
  EXPECT_EQ(ReadFile(store), text);
#endif
}

TEST(HostProgram, ToAPipeShortOutputArrivesOnlyWhenTheToolEnds) {
  TempDir dir;
  const std::string store = dir.File("bulk.reg");
  WriteFile(store, LargeStore(2500));
  const ProcessRun run =
      RunTolvanik({"EMULATED_REGISTRY=" + store, "EMULATED_CALL_DELAY_US=150"}, Stdout::Pipe);
  EXPECT_EQ(run.exitStatus, 33);
  ASSERT_FALSE(run.chunks.empty());
  EXPECT_EQ(run.output.size(), 229u + 2);
  // Nothing arrives while the walk runs.
  EXPECT_GT(run.chunks.front().seconds, 0.8 * run.seconds) << run.seconds;
}

TEST(HostProgram, OnATerminalEachDotShowsTheMomentItIsWritten) {
  TempDir dir;
  const std::string store = dir.File("bulk.reg");
  WriteFile(store, LargeStore(3000));
  const ProcessRun run =
      RunTolvanik({"EMULATED_REGISTRY=" + store, "EMULATED_CALL_DELAY_US=150"}, Stdout::Terminal);
  EXPECT_EQ(run.exitStatus, 33);
  const std::string expected = testing_support::BANNER +
                               testing_support::RootLine("HKEY_CLASSES_ROOT") +
                               testing_support::RootLine("HKEY_CURRENT_USER") + "..." +
                               testing_support::RootLine("HKEY_LOCAL_MACHINE") +
                               testing_support::RootLine("HKEY_USERS") + testing_support::CLOSING;
  EXPECT_EQ(run.output, expected);
  double firstDot = -1;
  double closing = -1;
  for (const Chunk& chunk : run.chunks) {
    if (firstDot < 0 && chunk.bytes.find('.') != std::string::npos &&
        chunk.bytes.find("v1.2") == std::string::npos) {
      firstDot = chunk.seconds;
    }
    if (chunk.bytes.find("cleaned") != std::string::npos) closing = chunk.seconds;
  }
  ASSERT_GE(firstDot, 0);
  // Each dot comes about a third of the walk before the next.
  EXPECT_LT(firstDot, closing - 0.25 * run.seconds) << firstDot << " " << closing;
}

}  // namespace
