// Standard output as a Windows text stream, for hosts that have none: each
// line feed leaves as CR LF; on a console every write is passed on when it
// ends, to a file or a pipe output is held in a 4096-character buffer.
#pragma once

#include <cstddef>
#include <cstdio>

namespace emulation {

constexpr std::size_t FILE_BUFFER_SIZE = 4096;

// Where the translated bytes go.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Passes on all of `size` bytes; false when that failed.
  virtual bool Write(const char* data, std::size_t size) = 0;
};

// Writes to a file descriptor, retrying short and interrupted writes.
class DescriptorSink : public OutputSink {
 public:
  explicit DescriptorSink(int descriptor) : descriptor_(descriptor) {}
  bool Write(const char* data, std::size_t size) override;

 private:
  int descriptor_;
};

// Opens a stream that translates line feeds and passes the result to `sink`.
// `console` picks the console buffering; otherwise FILE_BUFFER_SIZE.
std::FILE* OpenTextStream(OutputSink& sink, bool console);

}  // namespace emulation
