#include "emulation/host_process.h"

#include <fcntl.h>

#include <cerrno>

namespace emulation {

void HoldClosedStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
      ::open("/dev/null", O_RDONLY);
    }
  }
}

void WindowsStandardOutput::Begin() {
  stream_ = OpenTextStream(sink_, ::isatty(STDOUT_FILENO) == 1);
  if (stream_ != nullptr) {
    original_ = stdout;
    stdout = stream_;
  }
}

void WindowsStandardOutput::End() {
  if (stream_ == nullptr) return;
  std::fclose(stream_);
  stdout = original_;
  stream_ = nullptr;
}

}  // namespace emulation
