// Small text helpers for the tests' names and byte dumps.
#pragma once

#include <cstdio>
#include <string>

namespace testing_support {

// `text` `count` times over.
inline std::string Repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

// Bytes as "41 3F ", for failure messages about 8-bit names.
inline std::string Hex(const std::string& bytes) {
  std::string out;
  char part[4];
  for (const char c : bytes) {
    std::snprintf(part, sizeof part, "%02X ", static_cast<unsigned char>(c));
    out += part;
  }
  return out;
}

}  // namespace testing_support
