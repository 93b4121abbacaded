#include "emulation/store_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace emulation {
namespace {

std::string Reason() {
  return std::strerror(errno);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int descriptor, const std::vector<std::string_view>& content) {
  std::vector<iovec> pending;
  for (const std::string_view piece : content) {
    if (!piece.empty()) pending.push_back({const_cast<char*>(piece.data()), piece.size()});
  }
  std::size_t first = 0;
  while (first < pending.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(pending.size() - first, IOV_MAX));
    ssize_t written = ::writev(descriptor, pending.data() + first, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    // Past what went out, whole pieces first, then part of one.
    while (first < pending.size() && static_cast<std::size_t>(written) >= pending[first].iov_len) {
      written -= static_cast<ssize_t>(pending[first].iov_len);
      ++first;
    }
    if (written > 0) {
      pending[first].iov_base = static_cast<char*>(pending[first].iov_base) + written;
      pending[first].iov_len -= static_cast<std::size_t>(written);
    }
  }
  return true;
}

bool SyncDirectoryOf(const std::string& path) {
  const int directory = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  const bool synced = ::fsync(directory) == 0;
  const int saved = errno;
  ::close(directory);
  errno = saved;
  return synced;
}

SignalsHeld::SignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

SignalsHeld::~SignalsHeld() {
  sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

bool OpenStore(const std::string& path, StoreFile& store, std::string& error, StoreAccess access) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) {
    error = Reason();
    return false;
  }
  store.path = resolved;
  // Non-blocking, so that a FIFO is refused instead of waited on.
  store.descriptor = ::open(store.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (store.descriptor < 0) {
    error = Reason();
    return false;
  }
  if (::fstat(store.descriptor, &store.identity) != 0) {
    error = Reason();
    return false;
  }
  if (!S_ISREG(store.identity.st_mode)) {
    error = "not a regular file";
    return false;
  }
  const bool writing = access == StoreAccess::ReadWrite;
  if (writing &&
      (::access(store.path.c_str(), W_OK) != 0 || (store.identity.st_mode & 0222) == 0)) {
    error = "its user may not write it (mode " + std::to_string((store.identity.st_mode >> 6) & 7) +
            std::to_string((store.identity.st_mode >> 3) & 7) +
            std::to_string(store.identity.st_mode & 7) + "); nothing was done";
    return false;
  }
  if (writing && ::access(DirectoryOf(store.path).c_str(), W_OK | X_OK) != 0) {
    error = "its directory may not be written, so it cannot be replaced; nothing was done";
    return false;
  }
  if (::flock(store.descriptor, (writing ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? "another run is cleaning it" : Reason();
    return false;
  }
  ::fcntl(store.descriptor, F_SETFL, 0);
  store.content.clear();
  store.content.reserve(static_cast<std::size_t>(store.identity.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(store.descriptor, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = Reason();
      return false;
    }
    if (got == 0) break;
    store.content.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

bool PrepareReplacement(const StoreFile& store, const WriteContent& write, Replacement& replacement,
                        std::string& error) {
  replacement.store = &store;
  replacement.temporary.clear();
  struct stat now {};
  if (::stat(store.path.c_str(), &now) != 0 || !SameFile(now, store.identity)) {
    error = "it changed while the run went on; it is left as the other writer left it";
    return false;
  }
  // A short name beside the store, whatever the length of the store's own.
  std::string temporary = DirectoryOf(store.path) + "/.tolvanik-XXXXXX";
  std::vector<char> pattern(temporary.begin(), temporary.end());
  pattern.push_back('\0');
  const int descriptor = ::mkstemp(pattern.data());
  if (descriptor < 0) {
    error = "cannot create a file beside it: " + Reason();
    return false;
  }
  temporary = pattern.data();
  bool ok = ::fchmod(descriptor, store.identity.st_mode & 07777) == 0;
  if (ok && (store.identity.st_uid != ::geteuid() || store.identity.st_gid != ::getegid())) {
    ok = ::fchown(descriptor, store.identity.st_uid, store.identity.st_gid) == 0;
  }
  if (!ok) error = Reason();
  ok = ok && write(descriptor, temporary, error);
  if (ok && ::fsync(descriptor) != 0) {
    error = Reason();
    ok = false;
  }
  if (::close(descriptor) != 0 && ok) {
    error = Reason();
    ok = false;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  replacement.temporary = temporary;
  return true;
}

bool CommitReplacement(Replacement& replacement, std::string& error) {
  const StoreFile& store = *replacement.store;
  struct stat now {};
  if (::stat(store.path.c_str(), &now) != 0 || !SameFile(now, store.identity)) {
    error = "it changed while the run went on; it is left as the other writer left it";
    DiscardReplacement(replacement);
    return false;
  }
  if (::rename(replacement.temporary.c_str(), store.path.c_str()) != 0) {
    error = Reason();
    DiscardReplacement(replacement);
    return false;
  }
  replacement.temporary.clear();
  // The rename is durable once the directory that records it is.
  if (!SyncDirectoryOf(store.path)) {
    error = "replaced, but its directory could not be flushed to disk: " + Reason();
    return false;
  }
  return true;
}

void DiscardReplacement(Replacement& replacement) {
  if (!replacement.temporary.empty()) ::unlink(replacement.temporary.c_str());
  replacement.temporary.clear();
}

bool ReplaceStore(const StoreFile& store, const std::vector<std::string_view>& content,
                  std::string& error) {
  SignalsHeld held;
  Replacement replacement;
  const WriteContent write = [&content](int descriptor, const std::string&, std::string& why) {
    if (WriteAll(descriptor, content)) return true;
    why = Reason();
    return false;
  };
  return PrepareReplacement(store, write, replacement, error) &&
         CommitReplacement(replacement, error);
}

}  // namespace emulation
