#include "emulation/reg_file.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <unordered_set>

#include "emulation/unicode_text.h"

namespace emulation {
namespace {

constexpr std::size_t MAX_DEPTH = 512;
bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Drops the line ending (LF or CR LF) and any blanks before it.
std::string_view TrimEnd(std::string_view line) {
  std::size_t end = line.size();
  while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r' || IsBlank(line[end - 1]))) {
    --end;
  }
  return line.substr(0, end);
}

// Where the line that starts at `position` ends (past its line feed) in a
// file of `encoding`: a line feed is the byte 0x0A, or in UTF-16 the unit
// 0x000A.
std::size_t LineEnd(const std::string& text, std::size_t position, StoreEncoding encoding) {
  if (encoding != StoreEncoding::Utf16Le) {
    const std::size_t end = text.find('\n', position);
    return end == std::string::npos ? text.size() : end + 1;
  }
  for (std::size_t at = position; at + 1 < text.size(); at += 2) {
    if (text[at] == '\n' && text[at + 1] == '\0') return at + 2;
  }
  return text.size();
}

// A line of the file as UTF-8 text.
std::string DecodeLine(const std::string& raw, const RegDocument& document) {
  switch (document.encoding) {
    case StoreEncoding::Utf8:
      return raw;
    case StoreEncoding::Utf16Le: {
      std::u16string units;
      for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                              static_cast<unsigned char>(raw[i + 1]) << 8));
      }
      return Utf16ToUtf8(units);
    }
    case StoreEncoding::Ansi:
      break;
  }
  return Utf16ToUtf8(FromAnsi(raw, document.codePage));
}

// UTF-8 text in the file's encoding; false when the file cannot hold it.
bool EncodeText(const std::string& text, const RegDocument& document, std::string& out) {
  if (document.encoding == StoreEncoding::Utf8) {
    out = text;
    return true;
  }
  std::u16string units;
  if (!Utf8ToUtf16(text, units)) return false;
  if (document.encoding == StoreEncoding::Utf16Le) {
    out.clear();
    for (const char16_t unit : units) {
      out += static_cast<char>(unit & 0xFF);
      out += static_cast<char>(unit >> 8);
    }
    return true;
  }
  out = ToAnsi(units, document.codePage);
  return FromAnsi(out, document.codePage) == units;
}

// The keys of the last section's path, root first, with their names: an
// export lists a key's sub-keys right after it, so most paths share all but
// their last name with the one before.
struct PathCache {
  std::vector<std::u16string> names;
  std::vector<Key*> keys;
};

bool ParseSectionHeader(const std::string& content, EmulatedRegistry& registry, PathCache& cache,
                        const Key*& key, std::string& message) {
  if (content.size() > 1 && content[1] == '-') {
    message = "key removal entries (\"[-...]\") are not supported in a store file";
    return false;
  }
  const std::size_t close = content.rfind(']');
  if (close == std::string::npos || close == 1) {
    message = "section header without a closing ']' or without a key path";
    return false;
  }
  const std::string path = content.substr(1, close - 1);
  const std::string rootName = path.substr(0, path.find('\\'));
  int root = -1;
  for (int i = 0; i < EmulatedRegistry::ROOT_COUNT; ++i) {
    if (rootName == EmulatedRegistry::RootName(i)) root = i;
  }
  if (root < 0) {
    message = "unknown root key \"" + rootName +
              "\": a store holds keys under HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, "
              "HKEY_LOCAL_MACHINE and HKEY_USERS";
    return false;
  }
  if (cache.keys.empty() || cache.keys.front() != &registry.RootKey(root)) {
    cache.names.clear();
    cache.keys.assign(1, &registry.RootKey(root));
  }
  std::size_t depth = 0;
  std::size_t start = rootName.size();
  std::u16string name;
  while (start < path.size()) {
    ++start;
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (!Utf8ToUtf16(path.substr(start, end - start), name)) {
      message = "key name that is not text in path \"" + path + "\"";
      return false;
    }
    switch (KeyNameProblem(name.data(), name.size())) {
      case NameProblem::None:
        break;
      case NameProblem::Empty:
        message = "empty key name in path \"" + path + "\"";
        return false;
      case NameProblem::HoldsNul:
        message = "key name holding a NUL in path \"" + path + "\"";
        return false;
      case NameProblem::TooLong:
        message = "key name of " + std::to_string(name.size()) + " characters; the longest is 255";
        return false;
    }
    if (++depth > MAX_DEPTH) {
      message = "key path deeper than 512 levels";
      return false;
    }
    // The same name at the same depth as in the last path: the same key.
    if (depth > cache.names.size() || cache.names[depth - 1] != name) {
      cache.names.resize(depth - 1);
      cache.keys.resize(depth);
      cache.keys.push_back(registry.AddSubKey(*cache.keys.back(), name.data(), name.size()));
      cache.names.push_back(name);
    }
    start = end;
  }
  key = cache.keys[depth];
  cache.names.resize(depth);
  cache.keys.resize(depth + 1);
  return true;
}

}  // namespace

bool ParseRegFile(std::string source, EmulatedRegistry& registry, RegDocument& document,
                  RegFileError& error) {
  document = RegDocument();
  document.source = std::move(source);
  const std::string& text = document.source;
  document.codePage = registry.GetCodePage();
  std::size_t position = 0;
  if (text.compare(0, 2, "\xFE\xFF") == 0) {
    error = {1, "UTF-16 big-endian text is not a registry export; regedit writes UTF-16LE"};
    return false;
  }
  if (text.compare(0, 2, "\xFF\xFE") == 0) {
    document.encoding = StoreEncoding::Utf16Le;
    position = 2;
    if (text.size() % 2 != 0) {
      error = {1, "UTF-16 text of an odd number of bytes: the file is cut short"};
      return false;
    }
  } else if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    document.encoding = StoreEncoding::Utf8;
    position = 3;
  }

  std::size_t lineNumber = 0;
  bool continued = false;
  PathCache cache;
  // Lines belong to the preamble until the first section header, then to
  // the section they follow.
  document.preambleEnd = position;
  while (position < text.size()) {
    const std::size_t next = LineEnd(text, position, document.encoding);
    const std::string_view raw(text.data() + position, next - position);
    // 8-bit and UTF-8 lines are read as they stand: what tells one kind of
    // line from another is ASCII, the same bytes in every such encoding (no
    // byte of a multi-byte character is below 0x40). Only a section's path
    // is decoded. UTF-16 lines are decoded whole.
    std::string decoded;
    std::string_view line = raw;
    if (document.encoding == StoreEncoding::Utf16Le) {
      decoded = DecodeLine(std::string(raw), document);
      line = decoded;
    }
    position = next;
    ++lineNumber;
    // A CR alone ends a line for reg import but not for this reader: the
    // two would see different sections, so such a file is refused.
    const std::size_t carriageReturn = line.find('\r');
    if (carriageReturn != std::string_view::npos &&
        (carriageReturn + 1 >= line.size() || line[carriageReturn + 1] != '\n')) {
      error = {lineNumber,
               "a carriage return without a line feed: lines must end in CR LF or LF alone"};
      return false;
    }
    const std::string_view content = TrimEnd(line);
    std::size_t first = 0;
    while (first < content.size() && IsBlank(content[first])) ++first;

    if (lineNumber == 1) {
      if (content != "REGEDIT4" && content != "Windows Registry Editor Version 5.00") {
        error = {1,
                 "not a registry export: the first line must be \"REGEDIT4\" or "
                 "\"Windows Registry Editor Version 5.00\""};
        return false;
      }
      if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        document.lineEnding = "\r\n";
      } else if (!line.empty() && line.back() == '\n') {
        document.lineEnding = "\n";
      }
    } else if (continued) {
      continued = !content.empty() && content.back() == '\\';
    } else if (first == content.size() || content[first] == ';') {
      // Blank lines and comments stay where they are.
    } else if (content[first] == '[' && first == 0) {
      RegSection section;
      std::string message;
      // An ASCII path reads the same in every page.
      const bool ascii = std::all_of(content.begin(), content.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
      const std::string header = document.encoding == StoreEncoding::Ansi && !ascii
                                     ? DecodeLine(std::string(content), document)
                                     : std::string(content);
      if (!ParseSectionHeader(header, registry, cache, section.key, message)) {
        error = {lineNumber, message};
        return false;
      }
      section.begin = section.end = position - raw.size();
      document.sections.push_back(section);
    } else if (!document.sections.empty() && (content[first] == '"' || content[first] == '@')) {
      continued = content.back() == '\\';
    } else {
      error = {lineNumber, document.sections.empty()
                               ? "expected a [HKEY_...] section header before any value"
                               : "expected a value line (\"name\"=... or @=...) or a "
                                 "[HKEY_...] section header"};
      return false;
    }
    if (document.sections.empty()) {
      document.preambleEnd = position;
    } else {
      document.sections.back().end = position;
    }
  }
  if (lineNumber == 0) {
    error = {1,
             "empty file: the first line must be \"REGEDIT4\" or "
             "\"Windows Registry Editor Version 5.00\""};
    return false;
  }
  if (continued) {
    error = {lineNumber, "the last value line ends in a continuation '\\'"};
    return false;
  }
  document.keysRead = registry.AllKeys().size();
  return true;
}

bool RenderRegFile(const RegDocument& document, const EmulatedRegistry& registry, std::string& out,
                   std::string& error) {
  RenderedFile rendered;
  const bool ok = RenderRegFile(document, registry, rendered, error);
  out.clear();
  for (const std::string_view piece : rendered.pieces) out += piece;
  return ok;
}

bool RenderRegFile(const RegDocument& document, const EmulatedRegistry& registry, RenderedFile& out,
                   std::string& error) {
  std::unordered_set<const Key*> covered;
  covered.reserve(2 * document.sections.size());
  auto cover = [&covered](const Key* key) {
    for (; key != nullptr && covered.insert(key).second; key = key->parent) {
    }
  };
  for (const RegSection& section : document.sections) {
    if (!section.key->removed) cover(section.key);
  }

  out = RenderedFile();
  const std::string_view source = document.source;
  // A range of the source: joined to the piece before when they touch.
  auto keep = [&out, &source](std::size_t begin, std::size_t end) {
    if (!out.pieces.empty() &&
        out.pieces.back().data() + out.pieces.back().size() == source.data() + begin) {
      out.pieces.back() =
          std::string_view(out.pieces.back().data(), out.pieces.back().size() + end - begin);
    } else {
      out.pieces.push_back(source.substr(begin, end - begin));
    }
  };
  keep(0, document.preambleEnd);
  bool ok = true;
  auto addEmptySection = [&](const Key& key) {
    const std::string path = registry.PathOf(key);
    std::string encoded;
    if (!EncodeText("[" + path + "]" + document.lineEnding + document.lineEnding, document,
                    encoded)) {
      if (ok) error = "the key \"" + path + "\" cannot be written in the file's code page";
      ok = false;
    }
    out.written.push_back(std::move(encoded));
    out.pieces.push_back(out.written.back());
    out.unchanged = false;
    cover(&key);
  };
  for (const RegSection& section : document.sections) {
    if (!section.key->removed) {
      keep(section.begin, section.end);
      continue;
    }
    out.unchanged = false;
    const Key* kept = section.key->parent;
    while (kept->removed) kept = kept->parent;
    if (kept->parent != nullptr && covered.count(kept) == 0) addEmptySection(*kept);
  }

  // Every key that was there when the file was read is named by a section
  // or lies on the path of one, and is covered by now. Keys created since
  // are not: each one that has no listed key below it gets a section.
  if (registry.AllKeys().size() == document.keysRead) return ok;
  std::function<void(const Key&)> visit = [&](const Key& key) {
    ForEachSubKey(key, [&](const Key& child) { visit(child); });
    if (key.parent != nullptr && covered.count(&key) == 0) addEmptySection(key);
  };
  for (int i = 0; i < EmulatedRegistry::ROOT_COUNT; ++i) {
    visit(registry.RootKey(i));
  }
  return ok;
}

}  // namespace emulation
