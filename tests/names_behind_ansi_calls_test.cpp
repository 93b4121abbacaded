// The emulated registry keeps names in UTF-16 and converts them through its
// ANSI code page at the 8-bit calls, as Windows does: what each call
// delivers and takes, how sizes and limits count, and which key a name
// passed in finds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulation/emulated_registry.h"
#include "tests/support/text.h"

namespace {

using emulation::CodePage;
using emulation::EmulatedRegistry;
using emulation::Family;
using testing_support::Hex;
using testing_support::Repeat;

// A name as stored (UTF-8 here), the bytes RegEnumKeyExA delivers for it in
// one page, and whether those bytes open the key again.
struct DeliveryCase {
  const char* label;
  CodePage page;
  std::string name;
  std::string delivered;
  bool opensItself;
};

std::ostream& operator<<(std::ostream& out, const DeliveryCase& c) {
  return out << c.label;
}

class Delivery : public testing::TestWithParam<DeliveryCase> {};

TEST_P(Delivery, EnumerationConvertsTheNameAndSizesCountItsBytes) {
  const DeliveryCase& c = GetParam();
  EmulatedRegistry registry(Family::Nt, c.page);
  ASSERT_NE(registry.AddKey("HKEY_USERS\\" + c.name), nullptr);
  emulation::ActiveRegistryScope active(registry);
  std::vector<char> name(c.delivered.size() + 1, '#');
  // One byte short of the name and its NUL: nothing is delivered.
  DWORD size = static_cast<DWORD>(c.delivered.size());
  EXPECT_EQ(RegEnumKeyExA(HKEY_USERS, 0, name.data(), &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, c.delivered.size());
  size = static_cast<DWORD>(c.delivered.size() + 1);
  ASSERT_EQ(RegEnumKeyExA(HKEY_USERS, 0, name.data(), &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(size, c.delivered.size());
  EXPECT_EQ(Hex(std::string(name.data(), size)), Hex(c.delivered));
  EXPECT_EQ(name[size], '\0');
  HKEY key = nullptr;
  const LONG opened = RegOpenKeyExA(HKEY_USERS, name.data(), 0, KEY_READ, &key);
  EXPECT_EQ(opened, c.opensItself ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
  if (opened == ERROR_SUCCESS) RegCloseKey(key);
}

constexpr CodePage CP1252 = CodePage::Windows1252;
constexpr CodePage CP1251 = CodePage::Windows1251;
constexpr CodePage CP932 = CodePage::Windows932;

INSTANTIATE_TEST_SUITE_P(
    Names, Delivery,
    testing::Values(
        DeliveryCase{"ascii", CP1252, "Quillorbex", "Quillorbex", true},
        DeliveryCase{"latin_in_1252", CP1252, "Äpfel", "\xC4pfel", true},
        DeliveryCase{"euro_in_1252", CP1252, "€", "\x80", true},
        DeliveryCase{"cyrillic_in_1252", CP1252, "Отчёт", "?????", false},
        DeliveryCase{"cyrillic_in_1251", CP1251, "Отчёт", "\xCE\xF2\xF7\xB8\xF2", true},
        DeliveryCase{"cyrillic_in_932", CP932, "Отчёт", "\x84\x4F\x84\x84\x84\x89\x84\x76\x84\x84",
                     true},
        DeliveryCase{"kanji_in_932", CP932, "日本", "\x93\xFA\x96\x7B", true},
        DeliveryCase{"kanji_in_1251", CP1251, "日本", "??", false},
        // A character outside the BMP is two UTF-16 units: "??".
        DeliveryCase{"emoji_in_1252", CP1252, "🌍", "??", false},
        DeliveryCase{"emoji_in_932", CP932, "a🌍", "a??", false},
        // Best fit: the fullwidth ASCII forms read as ASCII in 1252 and 1251,
        // and the ASCII name finds no key; 932 holds them.
        DeliveryCase{"fullwidth_in_1252", CP1252, "Ｑｕｉｌｌｏｒｂｅｘ", "Quillorbex", false},
        DeliveryCase{"fullwidth_backslash_in_1251", CP1251, "a＼b", "a\\b", false},
        DeliveryCase{"fullwidth_in_932", CP932, "Ｑ", "\x82\x70", true},
        // 932 writes the IBM extension for characters it holds twice.
        DeliveryCase{"small_roman_one_in_932", CP932, "ⅰ", "\xFA\x40", true},
        // 130 kanji are 260 bytes, 255 kanji 510: the limit counts characters.
        DeliveryCase{"130_kanji_in_932", CP932, Repeat("日", 130), Repeat("\x93\xFA", 130), true},
        DeliveryCase{"255_kanji_in_932", CP932, Repeat("日", 255), Repeat("\x93\xFA", 255), true},
        DeliveryCase{"255_kanji_in_1252", CP1252, Repeat("日", 255), std::string(255, '?'), false}),
    [](const testing::TestParamInfo<DeliveryCase>& testInfo) {
      return std::string(testInfo.param.label);
    });

TEST(NamesPassedIn, QuestionMarksFindOnlyAKeyReallyNamedSo) {
  EmulatedRegistry registry;
  registry.AddKey("HKEY_USERS\\Отчёт");
  emulation::ActiveRegistryScope active(registry);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "?????", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "?????"), ERROR_FILE_NOT_FOUND);
  registry.AddKey("HKEY_USERS\\?????");
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "?????", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "?????"), ERROR_SUCCESS);
  EXPECT_EQ(registry.KeyPaths(), (std::vector<std::string>{"HKEY_USERS\\Отчёт"}));
}

TEST(NamesPassedIn, AreConvertedBeforeThePathIsSplit) {
  // "表" is 0x95 0x5C in 932: its trail byte is the code of '\'.
  EmulatedRegistry registry(Family::Nt, CP932);
  registry.AddKey("HKEY_USERS\\表\\Sub");
  emulation::ActiveRegistryScope active(registry);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "\x95\x5C", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "\x95\x5C\\Sub", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "\x95\x5C\\Sub"), ERROR_SUCCESS);
  EXPECT_EQ(registry.KeyPaths(), (std::vector<std::string>{"HKEY_USERS\\表"}));
}

TEST(NamesPassedIn, LimitOf255CountsUtf16Units) {
  EmulatedRegistry registry;
  EXPECT_NE(registry.AddKey("HKEY_USERS\\" + Repeat("日", 255)), nullptr);
  EXPECT_EQ(registry.AddKey("HKEY_USERS\\" + Repeat("日", 256)), nullptr);
  // An emoji is two units: 127 of them are 254 units, 128 are 256.
  EXPECT_NE(registry.AddKey("HKEY_USERS\\" + Repeat("🌍", 127)), nullptr);
  EXPECT_EQ(registry.AddKey("HKEY_USERS\\" + Repeat("🌍", 128)), nullptr);
  EXPECT_EQ(registry.AddKey("HKEY_USERS\\a" + std::string(1, '\0') + "b"), nullptr);
  EXPECT_EQ(registry.AddKey("HKEY_USERS\\\xC3"), nullptr);  // not UTF-8

  emulation::ActiveRegistryScope active(registry);
  HKEY key = nullptr;
  const std::string tooLong(256, 'n');
  EXPECT_EQ(
      RegCreateKeyExA(HKEY_USERS, tooLong.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
      ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "\\Leading", 0, KEY_READ, &key), ERROR_BAD_PATHNAME);
  // The longest name counts units too, as Wine reports it.
  DWORD longest = 0;
  EXPECT_EQ(RegQueryInfoKeyA(HKEY_USERS, nullptr, nullptr, nullptr, nullptr, &longest, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(longest, 255u);
}

}  // namespace
