#include "tests/model/code_page_model.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

namespace model {
namespace {

// Converts `input` between two iconv encodings; false when iconv refuses a
// character.
bool Convert(const char* to, const char* from, const std::string& input, std::string& output) {
  // One descriptor per direction, opened once (opening costs far more than
  // converting a name) and closed at exit.
  struct Descriptors {
    std::map<std::pair<std::string, std::string>, iconv_t> open;
    ~Descriptors() {
      for (auto& entry : open) iconv_close(entry.second);
    }
  };
  static Descriptors descriptors;
  iconv_t& descriptor = descriptors.open[{to, from}];
  if (descriptor == nullptr) {
    descriptor = iconv_open(to, from);
    if (descriptor == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
  }
  iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
  std::vector<char> out(input.size() * 4 + 16);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  char* outAt = out.data();
  std::size_t outLeft = out.size();
  const std::size_t result = iconv(descriptor, &in, &inLeft, &outAt, &outLeft);
  if (result == static_cast<std::size_t>(-1)) return false;
  output.assign(out.data(), out.size() - outLeft);
  return true;
}

std::string PageName(unsigned page) {
  return "CP" + std::to_string(page);
}

// The code points of a UTF-8 name.
std::u32string CodePoints(const std::string& name) {
  std::string utf32;
  if (!Convert("UTF-32LE", "UTF-8", name, utf32)) {
    throw std::runtime_error("a model name is not UTF-8: " + name);
  }
  std::u32string points;
  for (std::size_t i = 0; i + 3 < utf32.size(); i += 4) {
    points.push_back(static_cast<unsigned char>(utf32[i]) |
                     static_cast<unsigned char>(utf32[i + 1]) << 8 |
                     static_cast<unsigned char>(utf32[i + 2]) << 16 |
                     static_cast<char32_t>(static_cast<unsigned char>(utf32[i + 3])) << 24);
  }
  return points;
}

char32_t Upper(char32_t point) {
  struct Utf8Locale {
    locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    ~Utf8Locale() {
      if (locale != static_cast<locale_t>(0)) freelocale(locale);
    }
  };
  static const Utf8Locale utf8;
  if (utf8.locale == static_cast<locale_t>(0)) throw std::runtime_error("no C.UTF-8 locale");
  if (point >= 0x10000) return point;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(point), utf8.locale));
}

bool IsAscii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string AnsiName(const std::string& name, unsigned page) {
  if (IsAscii(name)) return name;
  std::string out;
  for (const char32_t point : CodePoints(name)) {
    if (point >= 0xFF01 && point <= 0xFF5E && page != 932) {
      out += static_cast<char>(point - 0xFEE0);
      continue;
    }
    std::string utf32(4, '\0');
    for (int i = 0; i < 4; ++i) utf32[i] = static_cast<char>((point >> (8 * i)) & 0xFF);
    std::string bytes;
    if (Convert(PageName(page).c_str(), "UTF-32LE", utf32, bytes)) {
      out += bytes;
    } else {
      out += point >= 0x10000 ? "??" : "?";
    }
  }
  return out;
}

std::string NameFromAnsi(const std::string& ansi, unsigned page) {
  if (IsAscii(ansi)) return ansi;
  std::string name;
  if (!Convert("UTF-8", PageName(page).c_str(), ansi, name)) return std::string();
  return name;
}

bool SameKeyName(const std::string& a, const std::string& b) {
  if (IsAscii(a) && IsAscii(b)) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      char x = a[i], y = b[i];
      if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
      if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
      if (x != y) return false;
    }
    return true;
  }
  const std::u32string x = CodePoints(a);
  const std::u32string y = CodePoints(b);
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (Upper(x[i]) != Upper(y[i])) return false;
  }
  return true;
}

bool RoundTrips(const std::string& name, unsigned page) {
  return SameKeyName(NameFromAnsi(AnsiName(name, page), page), name);
}

std::u16string EnumerationKey(const std::string& name) {
  std::u16string units;
  for (const char32_t point : CodePoints(name)) {
    if (point >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(Upper(point)));
    }
  }
  return units;
}

}  // namespace model
