#include "emulation/unicode_text.h"

#include <cstdint>

#include "emulation/code_page_tables.h"

namespace emulation {
namespace {

struct UpperCaseTable {
  char16_t units[0x10000];
  UpperCaseTable() {
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) units[unit] = static_cast<char16_t>(unit);
    for (const std::uint32_t pair : UPPER_CASE_PAIRS) {
      units[pair >> 16] = static_cast<char16_t>(pair & 0xFFFF);
    }
  }
};

const UpperCaseTable& Upper() {
  static const UpperCaseTable table;
  return table;
}

bool IsHighSurrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit < 0xDC00;
}
bool IsLowSurrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit < 0xE000;
}

}  // namespace

bool Utf8ToUtf16(const std::string& text, std::u16string& out) {
  out.clear();
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char first = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    std::uint32_t point = first;
    if (first >= 0xF0 && first < 0xF5) {
      length = 4;
      point = first & 0x07;
    } else if (first >= 0xE0 && first < 0xF0) {
      length = 3;
      point = first & 0x0F;
    } else if (first >= 0xC2 && first < 0xE0) {
      length = 2;
      point = first & 0x1F;
    } else if (first >= 0x80) {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = point << 6 | (next & 0x3F);
    }
    // Overlong forms and points past U+10FFFF are not text.
    if ((length == 3 && point < 0x800) || (length == 4 && (point < 0x10000 || point > 0x10FFFF))) {
      return false;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(point));
    }
    i += length;
  }
  return true;
}

void AppendUtf8(const char16_t* units, std::size_t count, std::string& out) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t point = units[i];
    if (IsHighSurrogate(point) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
      point = 0x10000 + ((point - 0xD800) << 10) + (units[++i] - 0xDC00u);
    }
    if (point < 0x80) {
      out += static_cast<char>(point);
    } else if (point < 0x800) {
      out += static_cast<char>(0xC0 | point >> 6);
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      out += static_cast<char>(0xE0 | point >> 12);
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | point >> 18);
      out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  AppendUtf8(text.data(), text.size(), out);
  return out;
}

char16_t UpperCaseBeyondAscii(char16_t unit) {
  return Upper().units[unit];
}

}  // namespace emulation
