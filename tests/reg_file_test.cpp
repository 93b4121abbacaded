// Registry export files as the emulated registry's store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulation/reg_file.h"

namespace {

using emulation::EmulatedRegistry;
using emulation::ParseRegFile;
using emulation::RegDocument;
using emulation::RegFileError;
using emulation::RenderRegFile;
using Paths = std::vector<std::string>;

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
        BadFile{"utf16", std::string("\xFF\xFE", 2) + "W\0", 1, "UTF-16"},
        BadFile{"unknown_root", "REGEDIT4\n\n[HKEY_CURRENT_CONFIG\\A]\n", 3,
                "unknown root key \"HKEY_CURRENT_CONFIG\""},
        BadFile{"removal_entry", "REGEDIT4\n[-HKEY_USERS\\A]\n", 2, "not supported"},
        BadFile{"unclosed", "REGEDIT4\n[HKEY_USERS\\A\n", 2, "closing ']'"},
        BadFile{"empty_name", "REGEDIT4\n[HKEY_USERS\\A\\\\B]\n", 2, "empty key name"},
        BadFile{"long_name", "REGEDIT4\n[HKEY_USERS\\" + std::string(256, 'n') + "]\n", 2,
                "256 bytes"},
        BadFile{"value_before_section", "REGEDIT4\n\"a\"=\"b\"\n", 2, "before any value"},
        BadFile{"garbage_line", "REGEDIT4\n[HKEY_USERS\\A]\nrubbish\n", 3, "expected a value"},
        BadFile{"dangling_continuation", "REGEDIT4\n[HKEY_USERS\\A]\n\"b\"=hex:01,\\\n", 3,
                "continuation"}),
    [](const testing::TestParamInfo<BadFile>& testInfo) {
      return std::string(testInfo.param.label);
    });

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
