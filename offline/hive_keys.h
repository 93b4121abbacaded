// The keys of a hive file as keys of the emulated registry, each remembering
// the hive node it came from, so that what the run removes can be removed
// from the hive afterwards.
#pragma once

#include <hivex.h>

#include <string>
#include <unordered_map>

#include "emulation/emulated_registry.h"

namespace offline {

struct KeyOrigin {
  // Index of the hive among those loaded, and the key's node in it.
  std::size_t hive;
  hive_node_h node;
};
using KeyOrigins = std::unordered_map<const emulation::Key*, KeyOrigin>;

// Adds the keys below the root of `hive` below `mount`, recording where each
// came from (`mount` itself as the hive's root). False, with `error` naming
// the key, for a name that Windows could not have written or that the 8-bit
// calls would see as empty (its first character a NUL, which would make a
// walk open the same key for ever), one over 255 characters, or two sub-keys
// of one key named alike.
bool LoadHiveKeys(hive_h* hive, std::size_t hiveIndex, emulation::EmulatedRegistry& registry,
                  emulation::Key& mount, KeyOrigins& origins, std::string& error);

}  // namespace offline
