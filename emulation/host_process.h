// What every host program of the tool does around the tool's own main: its
// standard descriptors held, its standard output made a Windows console
// program's.
#pragma once

#include <unistd.h>

#include <cstdio>

#include "emulation/text_output.h"

namespace emulation {

// A closed standard descriptor would be handed to the next file opened, and
// the tool's output would land in it (a store, a hive). Holds each closed one
// with a read-only /dev/null: writes to it still fail, as they did.
void HoldClosedStandardDescriptors();

// The process's stdout as a Windows console program's text stream over
// descriptor 1, from Begin to End.
class WindowsStandardOutput {
 public:
  void Begin();
  // Passes everything written on and puts the C library's stdout back.
  void End();

 private:
  DescriptorSink sink_{STDOUT_FILENO};
  std::FILE* stream_ = nullptr;
  std::FILE* original_ = nullptr;
};

}  // namespace emulation
