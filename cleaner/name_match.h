// The name comparison of the search: the 26 ASCII letters compare without
// regard to case, every other byte (0x80 to 0xFF among them) must be
// identical. It never depends on the locale. Defined here so that the two
// tests made on every entry the search visits cost no call.
#pragma once

#include <cstddef>

// The byte with an ASCII capital letter taken as its small letter.
inline unsigned char FoldLetter(char letter) {
  const unsigned char value = static_cast<unsigned char>(letter);
  return (value >= 0x41 && value <= 0x5A) ? static_cast<unsigned char>(value + 0x20) : value;
}

// True when `name` and `other` have the same length and every pair of bytes
// is equal under the rule.
inline bool NameEquals(const char* name, const char* other) {
  std::size_t i = 0;
  while (FoldLetter(name[i]) == FoldLetter(other[i])) {
    if (name[i] == '\0') {
      return true;
    }
    ++i;
  }
  return false;
}

// True when the first `prefixLength` bytes of `name` equal those of `prefix`
// under the rule. Stops at the first unequal pair, so a name shorter than the
// prefix fails at its terminating NUL and is never read past its end.
inline bool NameBeginsWith(const char* name, const char* prefix, std::size_t prefixLength) {
  for (std::size_t i = 0; i < prefixLength; ++i) {
    if (FoldLetter(name[i]) != FoldLetter(prefix[i])) {
      return false;
    }
  }
  return true;
}
