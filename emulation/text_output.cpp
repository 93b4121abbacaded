#include "emulation/text_output.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace emulation {

bool DescriptorSink::Write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(descriptor_, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

namespace {

// The stream's state: where its bytes go, and the buffer it holds them in.
struct TextStream {
  OutputSink& sink;
  char buffer[FILE_BUFFER_SIZE];
};

int CloseTextStream(void* cookie) {
  delete static_cast<TextStream*>(cookie);
  return 0;
}

ssize_t WriteTranslated(void* cookie, const char* data, std::size_t size) {
  OutputSink& sink = static_cast<TextStream*>(cookie)->sink;
  // One pass of the stream is one write to the sink, translated whole.
  std::string translated;
  translated.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') translated += '\r';
    translated += data[i];
  }
  if (!sink.Write(translated.data(), translated.size())) {
    errno = EIO;
    // Nothing counts as written; the stream marks an error.
    return 0;
  }
  return static_cast<ssize_t>(size);
}

}  // namespace

std::FILE* OpenTextStream(OutputSink& sink, bool console) {
  cookie_io_functions_t functions = {};
  functions.write = WriteTranslated;
  functions.close = CloseTextStream;
  TextStream* state = new TextStream{sink, {}};
  std::FILE* stream = fopencookie(state, "w", functions);
  if (stream == nullptr) {
    delete state;
    return nullptr;
  }
  // Unbuffered, each formatted write is passed on whole when it ends. The
  // buffer must be given: without one the C library picks its own size.
  const int mode = console ? _IONBF : _IOFBF;
  std::setvbuf(stream, console ? nullptr : state->buffer, mode, console ? 0 : FILE_BUFFER_SIZE);
  return stream;
}

}  // namespace emulation
