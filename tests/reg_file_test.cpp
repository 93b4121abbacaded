// Registry export files as the emulated registry's store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulation/reg_file.h"
#include "emulation/unicode_text.h"
#include "tests/support/text.h"

namespace {

using emulation::EmulatedRegistry;
using emulation::ParseRegFile;
using emulation::RegDocument;
using emulation::RegFileError;
using Paths = std::vector<std::string>;
using testing_support::Repeat;

std::string RenderRegFile(const RegDocument& document, const EmulatedRegistry& registry) {
  std::string text;
  std::string error;
  EXPECT_TRUE(emulation::RenderRegFile(document, registry, text, error)) << error;
  return text;
}

const char* const EXPORT =
    "REGEDIT4\r\n"
    "\r\n"
    "; kept as written\r\n"
    "[HKEY_CURRENT_USER\\Software\\Vendor]\r\n"
    "\"Path\"=\"C:\\\\Program Files\\\\Vendor\"\r\n"
    "@=\"default\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Quillorbex]\r\n"
    "\"Blob\"=hex:01,02,03,\\\r\n"
    "  04,05\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Quillorbex\\Settings]\r\n"
    "\"Theme\"=dword:00000001\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Only\\Quillorbex Labs\\Data]\r\n"
    "\"x\"=\"y\"\r\n"
    "\r\n"
    "[HKEY_USERS\\S-1\\Keep]\r\n"
    "\"Name\"=\"[not a section]\"\r\n";

TEST(RegFile, UnchangedRegistryWritesTheFileBackByteForByte) {
  for (std::string text : {std::string(EXPORT), std::string("REGEDIT4\n\n[HKEY_USERS\\A]\n")}) {
    EmulatedRegistry registry;
    RegDocument document;
    RegFileError error;
    ASSERT_TRUE(ParseRegFile(text, registry, document, error)) << error.message;
    EXPECT_EQ(RenderRegFile(document, registry), text);
  }
}

TEST(RegFile, ReadsEveryKeyAndTheKeysItsPathsImply) {
  EmulatedRegistry registry;
  RegDocument document;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(EXPORT, registry, document, error)) << error.message;
  EXPECT_EQ(registry.KeyPaths(),
            (Paths{"HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\Quillorbex",
                   "HKEY_CURRENT_USER\\Software\\Quillorbex\\Settings",
                   "HKEY_CURRENT_USER\\Software\\Vendor", "HKEY_LOCAL_MACHINE\\SOFTWARE",
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Only",
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Only\\Quillorbex Labs",
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Only\\Quillorbex Labs\\Data", "HKEY_USERS\\S-1",
                   "HKEY_USERS\\S-1\\Keep"}));
}

TEST(RegFile, RemovedKeysLoseTheirSectionsAndNothingElseChanges) {
  EmulatedRegistry registry(emulation::Family::Windows9x);
  RegDocument document;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(EXPORT, registry, document, error)) << error.message;
  {
    emulation::ActiveRegistryScope active(registry);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Only", 0, KEY_ALL_ACCESS, &key), 0);
    ASSERT_EQ(RegDeleteKeyA(key, "Quillorbex Labs"), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quillorbex"), ERROR_SUCCESS);
  }
  // SOFTWARE\Only still exists; only the removed section named it, so it
  // gets an empty section of its own where that one stood.
  EXPECT_EQ(RenderRegFile(document, registry),
            "REGEDIT4\r\n"
            "\r\n"
            "; kept as written\r\n"
            "[HKEY_CURRENT_USER\\Software\\Vendor]\r\n"
            "\"Path\"=\"C:\\\\Program Files\\\\Vendor\"\r\n"
            "@=\"default\"\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Only]\r\n"
            "\r\n"
            "[HKEY_USERS\\S-1\\Keep]\r\n"
            "\"Name\"=\"[not a section]\"\r\n");
}

TEST(RegFile, KeyCreatedAfterReadingGetsASectionAtTheEnd) {
  EmulatedRegistry registry;
  RegDocument document;
  RegFileError error;
  ASSERT_TRUE(
      ParseRegFile("REGEDIT4\n\n[HKEY_USERS\\A]\n\"v\"=\"1\"\n", registry, document, error));
  registry.AddKey("HKEY_USERS\\A\\New\\Deeper");
  EXPECT_EQ(RenderRegFile(document, registry),
            "REGEDIT4\n\n[HKEY_USERS\\A]\n\"v\"=\"1\"\n[HKEY_USERS\\A\\New\\Deeper]\n\n");
}

// The same bytes name other keys in other code pages; in 932 the byte 0x5C
// that ends the lead byte 0x95 is the trail of "表", not a backslash.
struct AnsiStoreCase {
  const char* label;
  emulation::CodePage page;
  const char* key;
};

std::ostream& operator<<(std::ostream& out, const AnsiStoreCase& c) {
  return out << c.label;
}

class AnsiStores : public testing::TestWithParam<AnsiStoreCase> {};

TEST_P(AnsiStores, ReadNamesThroughTheRegistrysCodePageAndWriteThemBackUnchanged) {
  const AnsiStoreCase& c = GetParam();
  const std::string text = c.page == emulation::CodePage::Windows932
                               ? "REGEDIT4\r\n\r\n[HKEY_USERS\\\x95\x5C\\Sub]\r\n\r\n"
                               : "REGEDIT4\r\n\r\n[HKEY_USERS\\\xCE\xF2\xF7\xB8\xF2\\Sub]\r\n\r\n";
  EmulatedRegistry registry(emulation::Family::Nt, c.page);
  RegDocument document;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(text, registry, document, error)) << error.message;
  EXPECT_EQ(registry.KeyPaths(), (Paths{std::string("HKEY_USERS\\") + c.key,
                                        std::string("HKEY_USERS\\") + c.key + "\\Sub"}));
  EXPECT_EQ(RenderRegFile(document, registry), text);
  // The 8-bit name the calls take is the file's own bytes; a section
  // written anew for a kept key is in the same page.
  {
    emulation::ActiveRegistryScope active(registry);
    const std::string ansiPath =
        text.substr(text.find("USERS\\") + 6, text.find("]") - text.find("USERS\\") - 6);
    ASSERT_EQ(RegDeleteKeyA(HKEY_USERS, ansiPath.c_str()), ERROR_SUCCESS);
  }
  EXPECT_EQ(RenderRegFile(document, registry), text.substr(0, text.find("\\Sub]")) + "]\r\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Pages, AnsiStores,
    testing::Values(AnsiStoreCase{"cp1251", emulation::CodePage::Windows1251, "Отчёт"},
                    AnsiStoreCase{"cp1252", emulation::CodePage::Windows1252, "Îò÷¸ò"},
                    AnsiStoreCase{"cp932", emulation::CodePage::Windows932, "表"}),
    [](const testing::TestParamInfo<AnsiStoreCase>& testInfo) {
      return std::string(testInfo.param.label);
    });

std::string Utf16(const std::string& utf8) {
  std::u16string units;
  EXPECT_TRUE(emulation::Utf8ToUtf16(utf8, units));
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// What regedit and "reg export" write: UTF-16LE with a byte-order mark, any
// Unicode name, read and written back in UTF-16.
TEST(RegFile, Utf16ExportKeepsItsEncodingAndEveryKeptByte) {
  const std::string text = Utf16(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Отчёт\\Дом\\Quillorbex]\r\n\"Title\"=\"日本語\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\🌍 Keep]\r\n@=\"Äpfel\"\r\n");
  EmulatedRegistry registry(emulation::Family::Nt, emulation::CodePage::Windows1251);
  RegDocument document;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(text, registry, document, error)) << error.message;
  EXPECT_EQ(registry.KeyPaths(),
            (Paths{"HKEY_CURRENT_USER\\Отчёт", "HKEY_CURRENT_USER\\Отчёт\\Дом",
                   "HKEY_CURRENT_USER\\Отчёт\\Дом\\Quillorbex", "HKEY_CURRENT_USER\\🌍 Keep"}));
  EXPECT_EQ(RenderRegFile(document, registry), text);
  {
    emulation::ActiveRegistryScope active(registry);
    // "Отчёт\Дом\Quillorbex" in 1251.
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "\xCE\xF2\xF7\xB8\xF2\\\xC4\xEE\xEC\\Quillorbex"),
              ERROR_SUCCESS);
  }
  EXPECT_EQ(RenderRegFile(document, registry),
            Utf16("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Отчёт\\Дом]\r\n\r\n"
                  "[HKEY_CURRENT_USER\\🌍 Keep]\r\n@=\"Äpfel\"\r\n"));
}

TEST(RegFile, Utf8ExportWithAByteOrderMarkHoldsUnicodeNames) {
  const std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n[HKEY_USERS\\日本]\n";
  EmulatedRegistry registry;
  RegDocument document;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(text, registry, document, error)) << error.message;
  EXPECT_EQ(registry.KeyPaths(), (Paths{"HKEY_USERS\\日本"}));
  EXPECT_EQ(RenderRegFile(document, registry), text);
}

TEST(RegFile, KeyItsCodePageCannotHoldIsNotWrittenToAnEightBitFile) {
  EmulatedRegistry registry;
  RegDocument document;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile("REGEDIT4\n\n[HKEY_USERS\\A]\n", registry, document, error));
  registry.AddKey("HKEY_USERS\\A\\日本");
  std::string text;
  std::string message;
  EXPECT_FALSE(emulation::RenderRegFile(document, registry, text, message));
  EXPECT_NE(message.find("HKEY_USERS\\A\\日本"), std::string::npos) << message;
}

struct BadFile {
  const char* label;
  std::string text;
  std::size_t line;
  const char* message;
};

std::ostream& operator<<(std::ostream& out, const BadFile& c) {
  return out << c.label;
}

class RegFileErrors : public testing::TestWithParam<BadFile> {};

TEST_P(RegFileErrors, NameTheLineAndTheFault) {
  const BadFile& c = GetParam();
  EmulatedRegistry registry;
  RegDocument document;
  RegFileError error;
  EXPECT_FALSE(ParseRegFile(c.text, registry, document, error));
  EXPECT_EQ(error.line, c.line);
  EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
}

INSTANTIATE_TEST_SUITE_P(
    Files, RegFileErrors,
    testing::Values(
        BadFile{"empty", "", 1, "empty file"},
        BadFile{"no_header", "[HKEY_USERS\\A]\n", 1, "not a registry export"},
        BadFile{"utf16_big_endian", std::string("\xFE\xFF\0W", 4), 1, "big-endian"},
        BadFile{"utf16_cut_short", std::string("\xFF\xFEW\0i", 5), 1, "odd number"},
        BadFile{"unknown_root", "REGEDIT4\n\n[HKEY_CURRENT_CONFIG\\A]\n", 3,
                "unknown root key \"HKEY_CURRENT_CONFIG\""},
        BadFile{"removal_entry", "REGEDIT4\n[-HKEY_USERS\\A]\n", 2, "not supported"},
        BadFile{"unclosed", "REGEDIT4\n[HKEY_USERS\\A\n", 2, "closing ']'"},
        BadFile{"empty_name", "REGEDIT4\n[HKEY_USERS\\A\\\\B]\n", 2, "empty key name"},
        BadFile{"long_name", "REGEDIT4\n[HKEY_USERS\\" + std::string(256, 'n') + "]\n", 2,
                "256 characters"},
        BadFile{"value_before_section", "REGEDIT4\n\"a\"=\"b\"\n", 2, "before any value"},
        BadFile{"garbage_line", "REGEDIT4\n[HKEY_USERS\\A]\nrubbish\n", 3, "expected a value"},
        // A CR alone ends a line for reg import: read as one line here, a
        // section would join the one before it.
        BadFile{"lone_carriage_return",
                "REGEDIT4\r\n[HKEY_USERS\\A]\r\n\"v\"=\"1\"\r[HKEY_USERS\\B]\r\n", 3,
                "carriage return without a line feed"},
        BadFile{"carriage_return_at_the_end", "REGEDIT4\n[HKEY_USERS\\A]\r", 2,
                "carriage return without a line feed"},
        BadFile{
            "lone_carriage_return_in_utf16",
            Utf16("Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\A]\r[HKEY_USERS\\B]\r\n"),
            2, "carriage return without a line feed"},
        BadFile{"nul_in_name", "REGEDIT4\n[HKEY_USERS\\a" + std::string(1, '\0') + "b]\n", 2,
                "NUL"},
        // The limit counts characters: 256 kanji are 768 bytes of UTF-8.
        BadFile{"long_kanji_name",
                "\xEF\xBB\xBFREGEDIT4\n[HKEY_USERS\\" + Repeat("日", 256) + "]\n", 2,
                "256 characters"},
        BadFile{"dangling_continuation", "REGEDIT4\n[HKEY_USERS\\A]\n\"b\"=hex:01,\\\n", 3,
                "continuation"}),
    [](const testing::TestParamInfo<BadFile>& testInfo) {
      return std::string(testInfo.param.label);
    });

TEST(RegFile, NameOf255CharactersIsReadWhateverItsLengthInBytes) {
  EmulatedRegistry registry;
  RegDocument document;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile("\xEF\xBB\xBFREGEDIT4\n[HKEY_USERS\\" + Repeat("日", 255) + "]\n",
                           registry, document, error))
      << error.message;
  EXPECT_EQ(registry.KeyPaths(), (Paths{"HKEY_USERS\\" + Repeat("日", 255)}));
}

TEST(RegFile, PathsDeeperThan512LevelsAreRejected) {
  std::string path = "HKEY_USERS";
  for (int i = 0; i < 513; ++i) path += "\\k";
  EmulatedRegistry registry;
  RegDocument document;
  RegFileError error;
  EXPECT_FALSE(ParseRegFile("REGEDIT4\n[" + path + "]\n", registry, document, error));
  EXPECT_NE(error.message.find("512"), std::string::npos);
}

}  // namespace
