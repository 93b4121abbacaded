// The keys of the emulated registry and the order of their sub-keys.
//
// Sub-keys are kept in the order Windows enumerates them: sorted by name with
// the ASCII letters upper-cased, every other byte compared as it is. Each key
// is also a node of its parent's balanced search tree (a treap with subtree
// sizes), so that looking a sub-key up by name or by index, adding one and
// removing one each cost O(log n) even under a key with 100,000 sub-keys.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry_api.h"

namespace emulation {

struct Key {
  std::string name;
  Key* parent = nullptr;
  // Root of the tree of this key's sub-keys.
  Key* children = nullptr;
  // This key's place in its parent's tree.
  Key* left = nullptr;
  Key* right = nullptr;
  std::uint32_t priority = 0;
  std::uint32_t treeSize = 1;
  // The rights anyone may be granted on this key.
  REGSAM allowedAccess = KEY_ALL_ACCESS;
  bool removed = false;
};

// Orders two names as Windows enumerates them: <0, 0 or >0.
int CompareKeyNames(const std::string& a, const std::string& b);
// Orders a NUL-terminated name of `length` bytes against a key's name.
int CompareKeyNames(const char* a, std::size_t length, const std::string& b);

std::uint32_t SubKeyCount(const Key& key);
// The sub-key of `key` named `name` (ASCII letters folded), or null.
Key* FindSubKey(const Key& key, const char* name, std::size_t length);
// The sub-key at `index` in enumeration order, or null past the last one.
Key* SubKeyAt(const Key& key, std::uint32_t index);
// Links `child`, whose name no sibling has, below `parent`.
void LinkSubKey(Key& parent, Key& child);
// Unlinks the sub-key `child` from its parent's tree.
void UnlinkSubKey(Key& child);

// Calls `visit` for each sub-key of `key`, in enumeration order.
template <typename Visit>
void ForEachSubKey(const Key& key, Visit&& visit) {
  // Each index is found from the subtree sizes in O(log n), without
  // recursion or a stack of its own.
  const std::uint32_t count = SubKeyCount(key);
  for (std::uint32_t i = 0; i < count; ++i) {
    visit(*SubKeyAt(key, i));
  }
}

}  // namespace emulation
