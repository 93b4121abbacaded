// The undo file: every key removed from the hives, with all its values, as a
// registry export that "reg import" (or regedit) on the running Windows reads
// to put them back: UTF-16LE with a byte-order mark, the header "Windows
// Registry Editor Version 5.00", CRLF line ends, keys under the paths a live
// registry shows them at, each key before its sub-keys.
//
// Values are written so that importing gives back their bytes exactly: a
// REG_SZ as a quoted string when it is plain text ending in one NUL, a
// REG_DWORD of four bytes as dword:, anything else as hex(type): bytes. What
// an export cannot carry is not restored: class names, last-write times and
// security descriptors.
#pragma once

#include <hivex.h>

#include <string>

namespace offline {

// Appends to `text` (UTF-8) the section of `node` of `hive`, the key at live
// path `path`, and those of every key below it. False, with `error`, when a
// name holds a line break, which an export cannot hold.
bool AppendUndoSections(hive_h* hive, hive_node_h node, const std::string& path, std::string& text,
                        std::string& error);

// The file's bytes: the byte-order mark, the header and `sections`, in UTF-16LE.
std::string UndoFileBytes(const std::string& sections);

}  // namespace offline
