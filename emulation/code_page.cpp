#include "emulation/code_page.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "emulation/code_page_tables.h"

namespace emulation {
namespace {

constexpr std::uint16_t UNMAPPED = 0xFFFF;
constexpr char16_t CP932_DEFAULT_CHARACTER = u'\u30FB';

bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

int TrailIndex(unsigned char byte) {
  if (byte < 0x40 || byte > 0xFC || byte == 0x7F) return -1;
  return byte < 0x7F ? byte - 0x40 : byte - 0x41;
}

int LeadIndex(unsigned char byte) {
  return byte <= 0x9F ? byte - 0x81 : byte - 0xE0 + 0x1F;
}

// For each UTF-16 unit, the bytes that stand for it in one page: a single
// byte as its value, a pair as lead << 8 | trail, UNMAPPED for none.
struct EncodeTable {
  std::uint16_t bytes[0x10000];

  explicit EncodeTable(CodePage page) {
    for (std::uint16_t& entry : bytes) entry = UNMAPPED;
    for (std::uint16_t unit = 1; unit < 0x80; ++unit) bytes[unit] = unit;
    if (page == CodePage::Windows932) {
      for (unsigned byte = 0x80; byte < 0x100; ++byte) {
        const char16_t unit = CP932_SINGLE_HIGH_HALF[byte - 0x80];
        if (unit != 0) bytes[unit] = static_cast<std::uint16_t>(byte);
      }
      for (std::size_t lead = 0; lead < CP932_LEAD_COUNT; ++lead) {
        for (std::size_t trail = 0; trail < CP932_TRAIL_COUNT; ++trail) {
          const char16_t unit = CP932_DOUBLE[lead * CP932_TRAIL_COUNT + trail];
          if (unit == 0 || bytes[unit] != UNMAPPED) continue;
          const unsigned leadByte = lead < 0x1F ? 0x81 + lead : 0xE0 + lead - 0x1F;
          const unsigned trailByte = trail < 0x3F ? 0x40 + trail : 0x41 + trail;
          const std::uint16_t pair = static_cast<std::uint16_t>(leadByte << 8 | trailByte);
          if (!std::binary_search(std::begin(CP932_NOT_WRITTEN), std::end(CP932_NOT_WRITTEN),
                                  pair)) {
            bytes[unit] = pair;
          }
        }
      }
      return;
    }
    const char16_t* high = page == CodePage::Windows1252 ? CP1252_HIGH_HALF : CP1251_HIGH_HALF;
    for (unsigned byte = 0x80; byte < 0x100; ++byte) {
      bytes[high[byte - 0x80]] = static_cast<std::uint16_t>(byte);
    }
    // Best fit: the fullwidth ASCII forms read as ASCII.
    for (char16_t unit = 0xFF01; unit <= 0xFF5E; ++unit) {
      if (bytes[unit] == UNMAPPED) bytes[unit] = static_cast<std::uint16_t>(unit - 0xFEE0);
    }
  }
};

const EncodeTable& TableOf(CodePage page) {
  static const EncodeTable western(CodePage::Windows1252);
  static const EncodeTable cyrillic(CodePage::Windows1251);
  static const EncodeTable japanese(CodePage::Windows932);
  switch (page) {
    case CodePage::Windows1251:
      return cyrillic;
    case CodePage::Windows932:
      return japanese;
    case CodePage::Windows1252:
      break;
  }
  return western;
}

}  // namespace

bool CodePageFromNumber(unsigned long number, CodePage& page) {
  for (const CodePage known :
       {CodePage::Windows1252, CodePage::Windows1251, CodePage::Windows932}) {
    if (number == static_cast<unsigned long>(known)) {
      page = known;
      return true;
    }
  }
  return false;
}

std::size_t EncodeAnsi(const char16_t* units, std::size_t count, CodePage page, char* out) {
  // Most names are ASCII, the same bytes in every page.
  std::size_t length = 0;
  while (length < count && units[length] < 0x80) {
    if (out != nullptr) out[length] = static_cast<char>(units[length]);
    ++length;
  }
  const EncodeTable* table = nullptr;
  for (std::size_t i = length; i < count; ++i) {
    std::uint16_t bytes = units[i];
    if (bytes >= 0x80) {
      if (table == nullptr) table = &TableOf(page);
      bytes = table->bytes[bytes];
    }
    if (bytes == UNMAPPED) bytes = '?';
    if (bytes > 0xFF) {
      if (out != nullptr) {
        out[length] = static_cast<char>(bytes >> 8);
        out[length + 1] = static_cast<char>(bytes & 0xFF);
      }
      length += 2;
    } else {
      if (out != nullptr) out[length] = static_cast<char>(bytes);
      ++length;
    }
  }
  return length;
}

std::string ToAnsi(const std::u16string& text, CodePage page) {
  std::string out(EncodeAnsi(text.data(), text.size(), page, nullptr), '\0');
  EncodeAnsi(text.data(), text.size(), page, &out[0]);
  return out;
}

void AppendDecodedAnsi(const char* bytes, std::size_t length, CodePage page, std::u16string& out) {
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      out.push_back(byte);
    } else if (page == CodePage::Windows1252) {
      out.push_back(CP1252_HIGH_HALF[byte - 0x80]);
    } else if (page == CodePage::Windows1251) {
      out.push_back(CP1251_HIGH_HALF[byte - 0x80]);
    } else if (!IsLeadByte(byte)) {
      const char16_t unit = CP932_SINGLE_HIGH_HALF[byte - 0x80];
      out.push_back(unit != 0 ? unit : CP932_DEFAULT_CHARACTER);
    } else {
      const int trail = i + 1 < length ? TrailIndex(static_cast<unsigned char>(bytes[i + 1])) : -1;
      if (trail < 0) {
        out.push_back(CP932_DEFAULT_CHARACTER);
        continue;
      }
      const char16_t unit =
          CP932_DOUBLE[static_cast<std::size_t>(LeadIndex(byte)) * CP932_TRAIL_COUNT +
                       static_cast<std::size_t>(trail)];
      out.push_back(unit != 0 ? unit : CP932_DEFAULT_CHARACTER);
      ++i;
    }
  }
}

std::u16string FromAnsi(const std::string& bytes, CodePage page) {
  std::u16string out;
  AppendDecodedAnsi(bytes.data(), bytes.size(), page, out);
  return out;
}

}  // namespace emulation
