#include "offline/undo_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "emulation/unicode_text.h"
#include "offline/hive_file.h"

namespace offline {
namespace {

constexpr char LINE_END[] = "\r\n";
// regedit breaks hex lines before they pass 80 columns, continuing them with
// a backslash and two spaces.
constexpr std::size_t HEX_LINE_LIMIT = 76;

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

// The UTF-8 text of REG_SZ data that a quoted string gives back exactly:
// UTF-16LE units, the last one the only NUL, no control characters and no
// lone surrogate. False for anything else.
bool PlainString(const char* data, std::size_t length, std::string& text) {
  if (length < 2 || length % 2 != 0) return false;
  std::u16string units;
  for (std::size_t i = 0; i < length; i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                          static_cast<unsigned char>(data[i + 1]) << 8));
  }
  if (units.back() != u'\0') return false;
  units.pop_back();
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (unit < 0x20 || unit == 0x7F) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return false;
    }
  }
  text = emulation::Utf16ToUtf8(units);
  return true;
}

void AppendHex(std::string& line, const char* data, std::size_t length, std::string& text) {
  for (std::size_t i = 0; i < length; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
    line += byte;
    if (i + 1 < length) {
      line += ',';
      if (line.size() > HEX_LINE_LIMIT) {
        text += line + "\\" + LINE_END;
        line = "  ";
      }
    }
  }
}

bool AppendValue(hive_h* hive, hive_value_h value, const std::string& path, std::string& text,
                 std::string& error) {
  const HivexOwned<char> nameText(hivex_value_key(hive, value));
  hive_type type{};
  std::size_t length = 0;
  const HivexOwned<char> data(hivex_value_value(hive, value, &type, &length));
  if (nameText == nullptr || data == nullptr) {
    error = "cannot read a value of " + path + ": " + std::strerror(errno);
    return false;
  }
  const std::string name(nameText.get(), hivex_value_key_len(hive, value));
  if (HasLineBreak(name)) {
    error = "a value name of " + path + " holds a line break, which an export cannot hold";
    return false;
  }
  std::string line = name.empty() ? "@=" : Quoted(name) + "=";
  std::string plain;
  if (type == hive_t_REG_SZ && PlainString(data.get(), length, plain)) {
    line += Quoted(plain);
  } else if (type == hive_t_REG_DWORD && length == 4) {
    char dword[16];
    std::snprintf(
        dword, sizeof dword, "dword:%02x%02x%02x%02x", static_cast<unsigned char>(data.get()[3]),
        static_cast<unsigned char>(data.get()[2]), static_cast<unsigned char>(data.get()[1]),
        static_cast<unsigned char>(data.get()[0]));
    line += dword;
  } else {
    char prefix[24];
    if (type == hive_t_REG_BINARY) {
      std::snprintf(prefix, sizeof prefix, "hex:");
    } else {
      std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
    }
    line += prefix;
    AppendHex(line, data.get(), length, text);
  }
  text += line + LINE_END;
  return true;
}

}  // namespace

bool AppendUndoSections(hive_h* hive, hive_node_h node, const std::string& path, std::string& text,
                        std::string& error) {
  if (HasLineBreak(path)) {
    error = "the path " + path + " holds a line break, which an export cannot hold";
    return false;
  }
  text += "[" + path + "]" + LINE_END;
  errno = 0;
  const HivexOwned<hive_value_h> values(hivex_node_values(hive, node));
  if (values == nullptr) {
    error = "cannot read the values of " + path + ": " + std::strerror(errno);
    return false;
  }
  for (const hive_value_h* value = values.get(); *value != 0; ++value) {
    if (!AppendValue(hive, *value, path, text, error)) return false;
  }
  text += LINE_END;
  const HivexOwned<hive_node_h> children(hivex_node_children(hive, node));
  if (children == nullptr) {
    error = "cannot read the sub-keys of " + path + ": " + std::strerror(errno);
    return false;
  }
  for (const hive_node_h* child = children.get(); *child != 0; ++child) {
    std::string name;
    if (!NodeName(hive, *child, name)) {
      error = "cannot read a sub-key name of " + path;
      return false;
    }
    const std::string childPath = path + "\\" + name;
    if (!AppendUndoSections(hive, *child, childPath, text, error)) return false;
  }
  return true;
}

std::string UndoFileBytes(const std::string& sections) {
  std::u16string units;
  emulation::Utf8ToUtf16(
      std::string("Windows Registry Editor Version 5.00") + LINE_END + LINE_END + sections, units);
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + units.size() * 2);
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

}  // namespace offline
