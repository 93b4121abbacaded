// Which sub-key names are removed, searched or passed over, as the 8-bit
// calls deliver them through the registry's ANSI code page. Names are
// written here in UTF-8, as the registry's Unicode names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cleaner/name_match.h"
#include "tests/support/text.h"
#include "tests/support/tool_run.h"

namespace {

using emulation::CodePage;
using emulation::EmulatedRegistry;

enum class Fate {
  Removed,    // the key and everything below it are gone
  Searched,   // the key stays and a Quillorbex key below it is removed
  PassedOver  // the key stays with everything below it
};

struct NameCase {
  const char* label;
  std::string name;
  Fate fate;
  CodePage page = CodePage::Windows1252;
};

std::ostream& operator<<(std::ostream& out, const NameCase& c) {
  return out << c.label;
}

std::string Padded(const std::string& start, std::size_t length) {
  return start + std::string(length - start.size(), 'x');
}

// `count` times the kanji 日 (two bytes in 932: 0x93 0xFA).
std::string Kanji(int count) {
  return testing_support::Repeat("日", count);
}

constexpr CodePage CP1251 = CodePage::Windows1251;
constexpr CodePage CP932 = CodePage::Windows932;

class NameRules : public testing::TestWithParam<NameCase> {};

TEST_P(NameRules, DecideTheKeysFate) {
  const NameCase& c = GetParam();
  const std::string key = "HKEY_CURRENT_USER\\Case\\" + c.name;
  const std::string below = key + "\\Quillorbex";
  EmulatedRegistry registry(emulation::Family::Nt, c.page);
  ASSERT_NE(registry.AddKey(below), nullptr);
  registry.AddKey("HKEY_CURRENT_USER\\Case\\Neighbour");

  const std::vector<std::string> before = registry.KeyPaths();

  const auto run = testing_support::RunTool(registry);

  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
  // Nothing is ever created, whatever a name turns into on the way.
  EXPECT_EQ(registry.CallCount(emulation::Operation::RegCreateKeyExA), 0u);
  for (const std::string& path : registry.KeyPaths()) {
    EXPECT_NE(std::find(before.begin(), before.end(), path), before.end()) << path;
  }
  EXPECT_TRUE(registry.Exists("HKEY_CURRENT_USER\\Case\\Neighbour"));
  switch (c.fate) {
    case Fate::Removed:
      EXPECT_FALSE(registry.Exists(key));
      break;
    case Fate::Searched:
      EXPECT_TRUE(registry.Exists(key));
      EXPECT_FALSE(registry.Exists(below));
      break;
    case Fate::PassedOver:
      EXPECT_TRUE(registry.Exists(below));
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameRules,
    testing::Values(
        NameCase{"exact", "Quillorbex", Fate::Removed},
        NameCase{"upper", "QUILLORBEX", Fate::Removed},
        NameCase{"lower", "quillorbex", Fate::Removed},
        NameCase{"mixed", "qUiLlOrBeX", Fate::Removed},
        NameCase{"prefix", "QuillorbexTools", Fate::Removed},
        NameCase{"prefix_blank", "quillorbex tools", Fate::Removed},
        NameCase{"high_byte_after_prefix", "Quillorbexété", Fate::Removed},
        NameCase{"prefix_199_bytes", Padded("Quillorbex", 199), Fate::Removed},
        NameCase{"prefix_200_bytes", Padded("Quillorbex", 200), Fate::PassedOver},
        NameCase{"prefix_255_bytes", Padded("Quillorbex", 255), Fate::PassedOver},
        NameCase{"nine_bytes", "Quillorbe", Fate::Searched},
        NameCase{"short", "Quill", Fate::Searched},
        NameCase{"inside", "MyQuillorbex", Fate::Searched},
        NameCase{"leading_blank", " Quillorbex", Fate::Searched},
        NameCase{"accented_i", "Quíllorbex", Fate::Searched},
        NameCase{"accented_upper_x", "QUILLORBEØ", Fate::Searched},
        NameCase{"bracket_for_q", "[uillorbex", Fate::Searched},
        NameCase{"uninstall", "Uninstall", Fate::PassedOver},
        NameCase{"uninstall_upper", "UNINSTALL", Fate::PassedOver},
        NameCase{"uninstall_lower", "uninstall", Fate::PassedOver},
        NameCase{"uninstaller", "Uninstaller", Fate::Searched},
        NameCase{"uninstall2", "Uninstall2", Fate::Searched},
        NameCase{"uninstall_blank", "Uninstall ", Fate::Searched},
        NameCase{"uninstal", "Uninstal", Fate::Searched},
        NameCase{"plain", "Alpha", Fate::Searched},
        NameCase{"plain_9_bytes", "Alphabets", Fate::Searched},
        NameCase{"plain_10_bytes", "Alphabetic", Fate::Searched},
        NameCase{"plain_199_bytes", Padded("A", 199), Fate::Searched},
        NameCase{"plain_200_bytes", Padded("A", 200), Fate::PassedOver},
        NameCase{"plain_255_bytes", Padded("A", 255), Fate::PassedOver},
        // Names the page holds arrive as its bytes and round-trip.
        NameCase{"latin_in_1252", "Äpfel", Fate::Searched},
        NameCase{"cyrillic_in_1251", "Отчёт", Fate::Searched, CP1251},
        NameCase{"cyrillic_match_in_1251", "Quillorbex Документы", Fate::Removed, CP1251},
        NameCase{"kanji_in_932", "日本語", Fate::Searched, CP932},
        NameCase{"cyrillic_in_932", "Отчёт", Fate::Searched, CP932},
        NameCase{"kanji_match_in_932", "Quillorbex 日本語", Fate::Removed, CP932},
        // Characters the page does not hold arrive as '?': such a
        // name opens nothing, so a parent is not searched and a
        // match is not removed; it and all below it stay.
        NameCase{"cyrillic_in_1252", "Отчёт", Fate::PassedOver},
        NameCase{"cyrillic_match_in_1252", "Quillorbex Документы", Fate::PassedOver},
        NameCase{"emoji_in_1252", "🌎🌏🌍", Fate::PassedOver},
        NameCase{"kanji_in_1251", "日本", Fate::PassedOver, CP1251},
        NameCase{"accented_i_in_1251", "Quíllorbex", Fate::PassedOver, CP1251},
        NameCase{"latin_in_932", "Äpfel", Fate::PassedOver, CP932},
        NameCase{"emoji_match_in_932", "Quillorbex🌍", Fate::PassedOver, CP932},
        // Look-alikes: the fullwidth forms read as ASCII in 1252
        // and 1251. "Ｑｕｉｌｌｏｒｂｅｘ" then reads as a match,
        // but the name delivered finds no key, so it stays.
        NameCase{"fullwidth_match_in_1252", "Ｑｕｉｌｌｏｒｂｅｘ", Fate::PassedOver},
        NameCase{"fullwidth_match_in_1251", "Ｑｕｉｌｌｏｒｂｅｘ", Fate::PassedOver, CP1251},
        NameCase{"fullwidth_plain_in_1252", "Ｓｏｆｔｗａｒｅ", Fate::PassedOver},
        // 932 holds the fullwidth forms: the name round-trips and
        // is no match.
        NameCase{"fullwidth_in_932", "Ｑｕｉｌｌｏｒｂｅｘ", Fate::Searched, CP932},
        // Lengths count the bytes of the converted name.
        NameCase{"match_199_bytes_in_932", "Quillorbexx" + Kanji(94), Fate::Removed, CP932},
        NameCase{"match_200_bytes_in_932", "Quillorbex" + Kanji(95), Fate::PassedOver, CP932},
        NameCase{"plain_199_bytes_in_932", "A" + Kanji(99), Fate::Searched, CP932},
        NameCase{"plain_200_bytes_in_932", Kanji(100), Fate::PassedOver, CP932},
        NameCase{"plain_256_bytes_in_932", Kanji(128), Fate::PassedOver, CP932},
        NameCase{"plain_255_characters_in_932", Kanji(255), Fate::PassedOver, CP932},
        NameCase{"plain_199_characters_in_1252_as_199_bytes", "É" + Padded("", 198),
                 Fate::Searched}),
    [](const testing::TestParamInfo<NameCase>& testInfo) {
      return std::string(testInfo.param.label);
    });

// Bytes that differ by 0x20 but are not ASCII letters never compare equal.
TEST(NameComparison, FoldsOnlyTheAsciiLetters) {
  struct Pair {
    const char* a;
    const char* b;
    bool equal;
  };
  const Pair pairs[] = {
      {"A", "a", true},  {"Z", "z", true},        {"@", "`", false},       {"[", "{", false},
      {"^", "~", false}, {"\xC0", "\xE0", false}, {"\xC9", "\xE9", false}, {"\x80", "\x80", true},
      {"", "", true},    {"abc", "ab", false},    {"ab", "abc", false},
  };
  for (const Pair& pair : pairs) {
    EXPECT_EQ(NameEquals(pair.a, pair.b), pair.equal) << pair.a << " / " << pair.b;
    EXPECT_EQ(NameEquals(pair.b, pair.a), pair.equal) << pair.b << " / " << pair.a;
  }
}

TEST(NameComparison, PrefixTestStopsAtTheNameEnd) {
  // The name ends before the prefix does: unequal at its NUL, nothing read
  // past it (a heap buffer exactly as long as the name shows any overread
  // under the address sanitizer).
  std::string shortName = "Quill";
  char* exact = new char[shortName.size() + 1];
  std::memcpy(exact, shortName.c_str(), shortName.size() + 1);
  EXPECT_FALSE(NameBeginsWith(exact, "Quillorbex", 10));
  delete[] exact;
  EXPECT_TRUE(NameBeginsWith("QUILLORBEX", "Quillorbex", 10));
  EXPECT_TRUE(NameBeginsWith("anything", "Quillorbex", 0));
}

}  // namespace
