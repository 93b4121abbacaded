// Key names as the registry keeps them: UTF-16, compared without regard to
// case over all of Unicode. The emulation's own interface (paths given by
// tests, stores, traces) speaks UTF-8; these convert between the two.
#pragma once

#include <cstddef>
#include <string>

namespace emulation {

// UTF-8 to UTF-16. Any UTF-16 text goes there and back unchanged: an unpaired
// surrogate is written as its own three-byte form. False for bytes that are
// not such text.
bool Utf8ToUtf16(const std::string& text, std::u16string& out);
std::string Utf16ToUtf8(const std::u16string& text);
void AppendUtf8(const char16_t* units, std::size_t count, std::string& out);

// The upper case of a unit beyond ASCII, from the table.
char16_t UpperCaseBeyondAscii(char16_t unit);

// The upper case of one UTF-16 unit; surrogates and characters without one
// stay as they are. Inline: every name comparison runs it on every unit.
inline char16_t UpperCase(char16_t unit) {
  if (unit < 0x80) {
    return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 0x20) : unit;
  }
  return UpperCaseBeyondAscii(unit);
}

// Orders two names by their upper-cased units (unsigned), as Windows
// enumerates sub-keys: <0, 0 or >0. 0 means one key.
inline int CompareNames(const char16_t* a, std::size_t aLength, const char16_t* b,
                        std::size_t bLength) {
  const std::size_t common = aLength < bLength ? aLength : bLength;
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    const char16_t x = UpperCase(a[i]);
    const char16_t y = UpperCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (aLength == bLength) return 0;
  return aLength < bLength ? -1 : 1;
}
inline int CompareNames(const std::u16string& a, const std::u16string& b) {
  return CompareNames(a.data(), a.size(), b.data(), b.size());
}

}  // namespace emulation
