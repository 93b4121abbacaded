// Which sub-key names are removed, searched or passed over.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cleaner/name_match.h"
#include "tests/support/tool_run.h"

namespace {

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
};

std::ostream& operator<<(std::ostream& out, const NameCase& c) {
  return out << c.label;
}

std::string Padded(const std::string& start, std::size_t length) {
  return start + std::string(length - start.size(), 'x');
}

class NameRules : public testing::TestWithParam<NameCase> {};

TEST_P(NameRules, DecideTheKeysFate) {
  const NameCase& c = GetParam();
  const std::string key = "HKEY_CURRENT_USER\\Case\\" + c.name;
  const std::string below = key + "\\Quillorbex";
  EmulatedRegistry registry;
  ASSERT_NE(registry.AddKey(below), nullptr);
  registry.AddKey("HKEY_CURRENT_USER\\Case\\Neighbour");

  const auto run = testing_support::RunTool(registry);

  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
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
    testing::Values(NameCase{"exact", "Quillorbex", Fate::Removed},
                    NameCase{"upper", "QUILLORBEX", Fate::Removed},
                    NameCase{"lower", "quillorbex", Fate::Removed},
                    NameCase{"mixed", "qUiLlOrBeX", Fate::Removed},
                    NameCase{"prefix", "QuillorbexTools", Fate::Removed},
                    NameCase{"prefix_blank", "quillorbex tools", Fate::Removed},
                    NameCase{"high_byte_after_prefix", "Quillorbex\xE9t\xE9", Fate::Removed},
                    NameCase{"prefix_199_bytes", Padded("Quillorbex", 199), Fate::Removed},
                    NameCase{"prefix_200_bytes", Padded("Quillorbex", 200), Fate::PassedOver},
                    NameCase{"prefix_255_bytes", Padded("Quillorbex", 255), Fate::PassedOver},
                    NameCase{"nine_bytes", "Quillorbe", Fate::Searched},
                    NameCase{"short", "Quill", Fate::Searched},
                    NameCase{"inside", "MyQuillorbex", Fate::Searched},
                    NameCase{"leading_blank", " Quillorbex", Fate::Searched},
                    NameCase{"accented_i", "Qu\xEDllorbex", Fate::Searched},
                    NameCase{"accented_upper_x", "QUILLORBE\xD8", Fate::Searched},
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
                    NameCase{"plain_255_bytes", Padded("A", 255), Fate::PassedOver}),
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
