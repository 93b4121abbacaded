// Reading a store file whole and writing it back atomically.
#pragma once

#include <string>

namespace emulation {

// Reads the file at `path` into `content`; on failure `error` says why.
bool ReadWholeFile(const std::string& path, std::string& content, std::string& error);

// Replaces the file at `path` by `content`: written to a temporary file in the
// same directory, flushed to disk and renamed over it, so that the file is
// either the old one or the new one, never a part. Keeps the file's mode.
bool ReplaceFileAtomically(const std::string& path, const std::string& content, std::string& error);

}  // namespace emulation
