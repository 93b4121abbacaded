#include "emulation/store_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace emulation {

bool ReadWholeFile(const std::string& path, std::string& content, std::string& error) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    error = std::strerror(errno);
    return false;
  }
  content.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = std::strerror(errno);
      ::close(descriptor);
      return false;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(descriptor);
  return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& content,
                           std::string& error) {
  struct stat original;
  const bool haveOriginal = ::stat(path.c_str(), &original) == 0;
  std::vector<char> temporary(path.begin(), path.end());
  const char suffix[] = ".tmp.XXXXXX";
  temporary.insert(temporary.end(), suffix, suffix + sizeof suffix);
  const int descriptor = ::mkstemp(temporary.data());
  if (descriptor < 0) {
    error = std::string("cannot create a temporary file beside it: ") + std::strerror(errno);
    return false;
  }
  bool ok = !haveOriginal || ::fchmod(descriptor, original.st_mode & 07777) == 0;
  std::size_t done = 0;
  while (ok && done < content.size()) {
    const ssize_t written = ::write(descriptor, content.data() + done, content.size() - done);
    if (written < 0 && errno == EINTR) continue;
    ok = written > 0;
    if (ok) done += static_cast<std::size_t>(written);
  }
  ok = ok && ::fsync(descriptor) == 0;
  const int savedErrno = errno;
  ok = ::close(descriptor) == 0 && ok;
  ok = ok && ::rename(temporary.data(), path.c_str()) == 0;
  if (!ok) {
    error = std::strerror(errno != 0 ? errno : savedErrno);
    ::unlink(temporary.data());
    return false;
  }
  return true;
}

}  // namespace emulation
