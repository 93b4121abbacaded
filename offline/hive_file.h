// A registry hive file of a Windows installation that is not running, open
// through hivex for the whole run.
//
// Before hivex sees a file it is checked as Windows would leave it: the
// "regf" header, and its two sequence numbers equal. When they differ the
// hive is "dirty": its latest changes are only in its transaction logs
// (NAME.LOG1, NAME.LOG2), which hivex does not read, so that reading it shows
// an old registry and writing it would throw those changes away.
#pragma once

#include <hivex.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "emulation/store_file.h"

namespace offline {

// What hivex hands out with malloc, freed when it goes.
struct FreeWithFree {
  void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using HivexOwned = std::unique_ptr<T, FreeWithFree>;

// The name of `node` as hivex gives it, UTF-8 of hivex_node_name_len bytes
// (a name may hold a NUL); false when it cannot be read.
bool NodeName(hive_h* hive, hive_node_h node, std::string& name);

struct HiveFile {
  // The path as the user's messages show it: below the installation's folder.
  std::string name;
  // The file itself (through links), its bytes as read, and its lock.
  emulation::StoreFile file;
  hive_h* handle = nullptr;
};

// Opens the hive at `path`, for writing unless `readOnly`. False, with `error`
// saying why, for a file that cannot be read (or written), is no hive, is
// dirty, or that hivex refuses.
bool OpenHive(const std::string& path, const std::string& name, bool readOnly, HiveFile& hive,
              std::string& error);

void CloseHive(HiveFile& hive);

// Whether hivex can remove `child`, a sub-key of `parent`: it finds the
// parent's link to a child only in the "lf" and "lh" kinds of sub-key list
// (directly, or below an "ri" index), and fails on any other kind after it
// has already freed the child's subtree. Read from the file's own bytes, so
// call it before anything in the hive changes. False, with `error`, when the
// link is not where hivex looks for it.
bool CanRemoveChild(const HiveFile& hive, hive_node_h parent, hive_node_h child,
                    std::string& error);

}  // namespace offline
