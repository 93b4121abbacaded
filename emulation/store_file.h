// The store file of the host program: read whole at the start of a run,
// replaced atomically at its end, and guarded in between.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

namespace emulation {

struct StoreFile {
  // The file the path named, through any symbolic links: the one replaced.
  std::string path;
  std::string content;
  // Held open, with an exclusive lock, for the whole run.
  int descriptor = -1;
  // What the file was when it was read, to tell whether anyone changed it.
  struct stat identity {};
};

// Opens the store at `path` and reads it. Refuses, with `error` saying why:
// a path that names no regular file, a file its user may not write (no write
// permission, or mode bits that grant writing to no one), a directory in
// which no replacement can be made, and a store another run holds.
bool OpenStore(const std::string& path, StoreFile& store, std::string& error);

// Replaces the store by `content`, its pieces one after the other: written to a new file beside it,
// with its mode, owner and group, flushed to disk, renamed over it, and the directory flushed too,
// so that the file is the old one or the new one whatever happens, and no temporary file stays.
// Interrupting signals wait until the replacement is done. Refuses when the file is no longer the
// one that was read (another writer changed it): then it is left as that writer left it.
bool ReplaceStore(const StoreFile& store, const std::vector<std::string_view>& content,
                  std::string& error);

}  // namespace emulation
