// How gtest shows the emulation's enumerations in a test's parameters: by
// name, not as bytes.
#pragma once

#include <ostream>

#include "emulation/emulated_registry.h"

namespace emulation {

inline void PrintTo(Family family, std::ostream* out) {
  *out << (family == Family::Nt ? "nt" : "9x");
}

inline void PrintTo(CodePage page, std::ostream* out) {
  *out << "cp" << static_cast<int>(page);
}

}  // namespace emulation
