// The emulation's code pages against the C library's iconv, character by
// character: the emulation's tables and the model's conversion come from
// different sources and share no code.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "emulation/code_page.h"
#include "emulation/unicode_text.h"
#include "tests/model/code_page_model.h"
#include "tests/support/printers.h"
#include "tests/support/text.h"

namespace {

using emulation::CodePage;

class CodePages : public testing::TestWithParam<CodePage> {};

using testing_support::Hex;

// The characters Windows (and Wine, measured here) gives to single bytes
// that glibc leaves without one: the C1 controls of the bytes 1252 and 1251
// leave undefined (0x81 ... 0x9D in 1252, 0x98 in 1251), and in 932 the
// bytes 0x80, 0xA0 and 0xFD to 0xFF.
bool WindowsOnly(unsigned unit, CodePage page) {
  switch (page) {
    case CodePage::Windows1252:
      return unit == 0x81 || unit == 0x8D || unit == 0x8F || unit == 0x90 || unit == 0x9D;
    case CodePage::Windows1251:
      return unit == 0x98;
    case CodePage::Windows932:
      break;
  }
  return unit == 0x80 || (unit >= 0xF8F0 && unit <= 0xF8F3);
}

// A character iconv holds converts to the same bytes, and those bytes back to
// it. One iconv does not hold is '?', or the ASCII form of a fullwidth one
// in 1252 and 1251, or one of the characters above.
TEST_P(CodePages, EveryCharacterOfThePlaneConvertsAsIconvHasIt) {
  const CodePage page = GetParam();
  const unsigned number = static_cast<unsigned>(page);
  int differences = 0;
  for (unsigned unit = 1; unit < 0x10000; ++unit) {
    if (unit >= 0xD800 && unit < 0xE000) continue;
    const std::u16string character(1, static_cast<char16_t>(unit));
    const std::string utf8 = emulation::Utf16ToUtf8(character);
    const std::string iconvBytes = model::AnsiName(utf8, number);
    const bool iconvHolds = model::NameFromAnsi(iconvBytes, number) == utf8;
    const std::string got = emulation::ToAnsi(character, page);
    bool agrees = false;
    if (iconvHolds) {
      agrees = got == iconvBytes && emulation::FromAnsi(got, page) == character;
    } else if (unit >= 0xFF01 && unit <= 0xFF5E && page != CodePage::Windows932) {
      agrees = got == std::string(1, static_cast<char>(unit - 0xFEE0));
    } else if (WindowsOnly(unit, page)) {
      agrees = got.size() == 1 && emulation::FromAnsi(got, page) == character;
    } else {
      agrees = got == "?";
    }
    if (!agrees && ++differences <= 20) {
      ADD_FAILURE() << "U+" << std::hex << unit << ": emulation " << Hex(got) << ", iconv "
                    << Hex(iconvBytes);
    }
  }
  EXPECT_EQ(differences, 0);
}

// Every byte and byte pair that iconv reads as a character reads as the same
// character here.
TEST_P(CodePages, EveryByteSequenceReadsAsIconvReadsIt) {
  const CodePage page = GetParam();
  const unsigned number = static_cast<unsigned>(page);
  int differences = 0;
  std::vector<std::string> sequences;
  for (unsigned first = 0x80; first < 0x100; ++first) {
    sequences.push_back(std::string(1, static_cast<char>(first)));
    if (page != CodePage::Windows932) continue;
    for (unsigned second = 0x40; second < 0x100; ++second) {
      sequences.push_back(std::string{static_cast<char>(first), static_cast<char>(second)});
    }
  }
  for (const std::string& bytes : sequences) {
    const std::string expected = model::NameFromAnsi(bytes, number);
    std::u16string units;
    if (expected.empty() || !emulation::Utf8ToUtf16(expected, units)) continue;
    if (units.size() != 1) continue;  // a lead byte and an ASCII one
    const std::u16string got = emulation::FromAnsi(bytes, page);
    if (got != units && ++differences <= 20) {
      ADD_FAILURE() << "bytes " << Hex(bytes) << ": emulation " << emulation::Utf16ToUtf8(got)
                    << ", iconv " << expected;
    }
  }
  EXPECT_EQ(differences, 0);
}

INSTANTIATE_TEST_SUITE_P(Pages, CodePages,
                         testing::Values(CodePage::Windows1252, CodePage::Windows1251,
                                         CodePage::Windows932),
                         [](const testing::TestParamInfo<CodePage>& testInfo) {
                           return "cp" + std::to_string(static_cast<int>(testInfo.param));
                         });

}  // namespace
