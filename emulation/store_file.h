// The store file of the host program: read whole at the start of a run,
// replaced atomically at its end, and guarded in between.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace emulation {

struct StoreFile {
  // The file the path named, through any symbolic links: the one replaced.
  std::string path;
  std::string content;
  // Held open, with an exclusive lock, for the whole run.
  int descriptor = -1;
  // What the file was when it was read, to tell whether anyone changed it.
  struct stat identity {};
};

enum class StoreAccess { ReadOnly, ReadWrite };

// The folder of the file at `path`: "." for a bare name.
std::string DirectoryOf(const std::string& path);
// Writes every piece to `descriptor`, in as few calls as the kernel takes;
// false, with errno set, when a write fails.
bool WriteAll(int descriptor, const std::vector<std::string_view>& content);
// Flushes the folder of the file at `path` to disk, so that a file made or
// renamed in it stays made; false, with errno set, when it cannot.
bool SyncDirectoryOf(const std::string& path);

// Opens the store at `path` and reads it. Refuses, with `error` saying why:
// a path that names no regular file, a store another run holds, and, for
// ReadWrite, a file its user may not write (no write permission, or mode bits
// that grant writing to no one) and a directory in which no replacement can
// be made.
bool OpenStore(const std::string& path, StoreFile& store, std::string& error,
               StoreAccess access = StoreAccess::ReadWrite);

// Replaces the store by `content`, its pieces one after the other: written to a new file beside it,
// with its mode, owner and group, flushed to disk, renamed over it, and the directory flushed too,
// so that the file is the old one or the new one whatever happens, and no temporary file stays.
// Interrupting signals wait until the replacement is done. Refuses when the file is no longer the
// one that was read (another writer changed it): then it is left as that writer left it.
bool ReplaceStore(const StoreFile& store, const std::vector<std::string_view>& content,
                  std::string& error);

// The same in two steps, for several stores replaced together: each new
// content is made beside its store first (PrepareReplacement), and only once
// all of them stand are they put in place (CommitReplacement), so that a
// failure while making them leaves every store as it was. Until committed, a
// replacement is removed by DiscardReplacement. Hold signals (SignalsHeld)
// around the whole sequence.
struct Replacement {
  const StoreFile* store = nullptr;
  std::string temporary;
};
// Writes the new content to the file at `path`, open as `descriptor`; false
// with `error` set when it cannot.
using WriteContent =
    std::function<bool(int descriptor, const std::string& path, std::string& error)>;
bool PrepareReplacement(const StoreFile& store, const WriteContent& write, Replacement& replacement,
                        std::string& error);
bool CommitReplacement(Replacement& replacement, std::string& error);
void DiscardReplacement(Replacement& replacement);

// Holds back the signals that would end the process while it lasts.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace emulation
