// The tool's output as the tests expect it, byte for byte, with the Windows
// line ends its text stream writes: the one place the C++ tests spell it out.
#pragma once

#include <string>

namespace testing_support {

inline const std::string BANNER =
    "\r\nTOLVANIK v1.2: Clean up Quillorbex references from Windows registry\r\n";
inline const std::string CLOSING = "\r\n\r\nRegistry successfully cleaned.\r\n";

// The line of one root key, before its dots.
inline std::string RootLine(const std::string& root) {
  return "\r\nEnumerating " + root + " ";
}

}  // namespace testing_support
