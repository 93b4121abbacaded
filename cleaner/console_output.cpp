#include "cleaner/console_output.h"

#include <cstdio>

int WriteText(const char* format, const char* name) {
  return std::printf(format, name);
}

int WriteFinalText(const char* text) {
  const int written = std::fputs(text, stdout) < 0 ? -1 : 0;
  // The error indicator of the stream is sticky: it also reports a write
  // that failed earlier in the run, while the output sat in the buffer.
  if (written < 0 || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    return -1;
  }
  int length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  return length;
}
