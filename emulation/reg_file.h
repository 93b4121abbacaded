// Registry export files ("REGEDIT4" and "Windows Registry Editor Version
// 5.00" headers) as the store of the emulated registry, in the encodings
// they come in:
//   - UTF-16LE with a byte-order mark, what regedit and "reg export" write
//     for "Windows Registry Editor Version 5.00": any Unicode name;
//   - UTF-8 with a byte-order mark;
//   - 8-bit text without one (REGEDIT4 above all): the registry's ANSI code
//     page, as regedit reads and writes such files.
//
// A file is kept as it was read: its header and every section, a section
// being a "[HKEY_...\path]" line with all the lines up to the next one,
// byte for byte in its own encoding. Writing it back leaves out the sections
// of keys that were removed and changes nothing else.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "emulation/emulated_registry.h"

namespace emulation {

struct RegSection {
  // The key the section's header names.
  const Key* key = nullptr;
  // Where the header line and every line up to the next header stand in the
  // document's source: [begin, end).
  std::size_t begin = 0;
  std::size_t end = 0;
};

enum class StoreEncoding { Ansi, Utf8, Utf16Le };

struct RegDocument {
  // The file as it was read.
  std::string source;
  // Where the first section starts in the source: before it stand the
  // byte-order mark, the header line and whatever follows it.
  std::size_t preambleEnd = 0;
  std::vector<RegSection> sections;
  // The line ending of the header line, used for any section added.
  std::string lineEnding = "\r\n";
  StoreEncoding encoding = StoreEncoding::Ansi;
  // The page of an Ansi file: the registry's when the file was read.
  CodePage codePage = CodePage::Windows1252;
  // Keys in the registry once the file was read: any beyond were created
  // since, and only they can lack a section. (The sections point at keys:
  // the registry must not be compacted while the document is in use.)
  std::size_t keysRead = 0;
};

struct RegFileError {
  std::size_t line = 0;
  std::string message;
};

// Reads `text` into `document` (which keeps it as its source) and adds every
// key it names to `registry`. Returns false, with the line and a message in
// `error`, when the text is not a registry export this store can keep.
bool ParseRegFile(std::string text, EmulatedRegistry& registry, RegDocument& document,
                  RegFileError& error);

// The bytes of one section as read.
inline std::string_view SectionText(const RegDocument& document, const RegSection& section) {
  return std::string_view(document.source).substr(section.begin, section.end - section.begin);
}

// The file as it stands after the registry changed: every section of a key
// that still exists, verbatim and in its place. A key still there that only
// removed sections named (as the parent in their paths) gets an empty section
// of its own in the first such place, and a key created since the file was
// read gets one at the end, so that no key that exists is lost. False, with
// `error` saying why, when a key's path cannot be written in the file's
// encoding (a name its code page does not hold).
bool RenderRegFile(const RegDocument& document, const EmulatedRegistry& registry, std::string& out,
                   std::string& error);

// The same as pieces to write one after the other, without a copy of what
// stays: ranges of the document's source, and the sections written anew.
struct RenderedFile {
  std::vector<std::string_view> pieces;
  // Where the sections written anew live (a deque: pieces point into it).
  std::deque<std::string> written;
  // True when the pieces are the source as it was read.
  bool unchanged = true;
};
bool RenderRegFile(const RegDocument& document, const EmulatedRegistry& registry, RenderedFile& out,
                   std::string& error);

}  // namespace emulation
