// Runs of the built host program: its store on disk, exit statuses, and how
// its output reaches a terminal, a pipe, a full device or a closed stdout.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
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

namespace {

using Clock = std::chrono::steady_clock;

enum class Stdout { Pipe, DevFull, Closed, Terminal };

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

ProcessRun RunTolvanik(const std::vector<std::string>& environment, Stdout mode,
                       const std::vector<std::string>& arguments = {}) {
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
    if (mode == Stdout::Pipe) {
      EXPECT_EQ(::pipe(outPipe), 0);
    }
    child = ::fork();
  }
  if (child == 0) {
    if (mode == Stdout::Terminal) {
      // Raw, so that the terminal passes the program's bytes unchanged.
      termios settings;
      ::tcgetattr(STDOUT_FILENO, &settings);
      ::cfmakeraw(&settings);
      ::tcsetattr(STDOUT_FILENO, TCSANOW, &settings);
    } else if (mode == Stdout::Pipe) {
      ::dup2(outPipe[1], STDOUT_FILENO);
    } else if (mode == Stdout::DevFull) {
      const int full = ::open("/dev/full", O_WRONLY);
      ::dup2(full, STDOUT_FILENO);
    } else {
      ::close(STDOUT_FILENO);
    }
    ::dup2(errPipe[1], STDERR_FILENO);
    for (int fd = 3; fd < 256; ++fd) ::close(fd);
    ::unsetenv("EMULATED_REGISTRY");
    ::unsetenv("EMULATED_PLATFORM");
    ::unsetenv("EMULATED_CALL_DELAY_US");
    for (const std::string& variable : environment) ::putenv(const_cast<char*>(variable.c_str()));
    std::vector<char*> argv = {const_cast<char*>(TOLVANIK_BINARY)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(TOLVANIK_BINARY, argv.data());
    ::_exit(127);
  }
  ::close(errPipe[1]);
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

const std::string EMPTY_RUN =
    "\r\nTOLVANIK v1.2: Clean up Quillorbex references from Windows registry\r\n"
    "\r\nEnumerating HKEY_CLASSES_ROOT \r\nEnumerating HKEY_CURRENT_USER "
    "\r\nEnumerating HKEY_LOCAL_MACHINE \r\nEnumerating HKEY_USERS "
    "\r\n\r\nRegistry successfully cleaned.\r\n";

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
  for (Stdout mode : {Stdout::DevFull, Stdout::Closed}) {
    TempDir dir;
    const std::string store = dir.File("leftovers.reg");
    WriteFile(store, Fixture("leftovers.reg"));
    const ProcessRun run = RunTolvanik({"EMULATED_REGISTRY=" + store}, mode);
    EXPECT_EQ(run.exitStatus, 255) << run.errors;
    EXPECT_EQ(ReadFile(store), Fixture("leftovers.after.reg"));
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
  const std::string expected =
      "\r\nTOLVANIK v1.2: Clean up Quillorbex references from Windows registry\r\n"
      "\r\nEnumerating HKEY_CLASSES_ROOT \r\nEnumerating HKEY_CURRENT_USER ..."
      "\r\nEnumerating HKEY_LOCAL_MACHINE \r\nEnumerating HKEY_USERS "
      "\r\n\r\nRegistry successfully cleaned.\r\n";
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
