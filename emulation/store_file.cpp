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

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Writes every piece, as few calls as the kernel takes.
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

// Holds back the signals that would end the process while it lasts.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

bool OpenStore(const std::string& path, StoreFile& store, std::string& error) {
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
  if (::access(store.path.c_str(), W_OK) != 0 || (store.identity.st_mode & 0222) == 0) {
    error = "its user may not write it (mode " + std::to_string((store.identity.st_mode >> 6) & 7) +
            std::to_string((store.identity.st_mode >> 3) & 7) +
            std::to_string(store.identity.st_mode & 7) + "); nothing was done";
    return false;
  }
  if (::access(DirectoryOf(store.path).c_str(), W_OK | X_OK) != 0) {
    error = "its directory may not be written, so it cannot be replaced; nothing was done";
    return false;
  }
  if (::flock(store.descriptor, LOCK_EX | LOCK_NB) != 0) {
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

bool ReplaceStore(const StoreFile& store, const std::vector<std::string_view>& content,
                  std::string& error) {
  const std::string directory = DirectoryOf(store.path);
  SignalsHeld held;
  struct stat now {};
  if (::stat(store.path.c_str(), &now) != 0 || !SameFile(now, store.identity)) {
    error = "it changed while the run went on; it is left as the other writer left it";
    return false;
  }
  // A short name beside the store, whatever the length of the store's own.
  std::string temporary = directory + "/.tolvanik-XXXXXX";
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
  ok = ok && WriteAll(descriptor, content) && ::fsync(descriptor) == 0;
  const std::string reason = ok ? "" : Reason();
  ok = ::close(descriptor) == 0 && ok;
  ok = ok && ::rename(temporary.c_str(), store.path.c_str()) == 0;
  if (!ok) {
    error = reason.empty() ? Reason() : reason;
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename is durable once the directory that records it is.
  const int directoryDescriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directoryDescriptor < 0 || ::fsync(directoryDescriptor) != 0) {
    error = "replaced, but its directory could not be flushed to disk: " + Reason();
    if (directoryDescriptor >= 0) ::close(directoryDescriptor);
    return false;
  }
  ::close(directoryDescriptor);
  return true;
}

}  // namespace emulation
