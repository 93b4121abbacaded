// The keys of the emulated registry and the order of their sub-keys.
//
// Names are UTF-16, as the registry keeps them, and compare without regard to
// case over all of Unicode: "Äpfel" and "äpfel" name one key. Sub-keys are
// kept in the order Windows enumerates them: sorted by the upper-cased UTF-16
// units of their names, compared as unsigned numbers. Each key
// is also a node of its parent's balanced search tree (a treap with subtree
// sizes), so that looking a sub-key up by name, adding one and removing one
// cost O(log n) even under a key with 100,000 sub-keys.
//
// Reading by index, what every walk does, uses a flat array of the sub-keys
// in order, made when first needed: O(1) per read and contiguous in memory.
// Removing the entry a walk just read, or the first one, costs the array
// O(1) as well: it keeps a gap where entries were taken out, and moving the
// gap costs only the distance it moves. Adding a sub-key drops the array
// until the next read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/registry_api.h"

namespace emulation {

// The longest name a key may have, in UTF-16 units: Windows' limit.
constexpr std::size_t MAX_KEY_NAME_LENGTH = 255;

// What makes a name passed to the registry no key name: none, empty, over
// MAX_KEY_NAME_LENGTH units, or holding a NUL.
enum class NameProblem { None, Empty, TooLong, HoldsNul };
inline NameProblem KeyNameProblem(const char16_t* units, std::size_t length) {
  if (length == 0) return NameProblem::Empty;
  if (length > MAX_KEY_NAME_LENGTH) return NameProblem::TooLong;
  for (std::size_t i = 0; i < length; ++i) {
    if (units[i] == u'\0') return NameProblem::HoldsNul;
  }
  return NameProblem::None;
}

// A key's name in UTF-16. Names of up to INLINE_UNITS units, nearly all of
// them, are held in the key itself, so that a walk reads a name from the
// key's own cache lines; longer ones live on the heap.
class KeyName {
 public:
  static constexpr std::size_t INLINE_UNITS = 23;

  void assign(const char16_t* units, std::size_t length) {
    length_ = static_cast<std::uint8_t>(length);
    heap_.reset(length > INLINE_UNITS ? new char16_t[length] : nullptr);
    char16_t* to = heap_ != nullptr ? heap_.get() : inline_;
    for (std::size_t i = 0; i < length; ++i) to[i] = units[i];
  }
  const char16_t* data() const { return heap_ != nullptr ? heap_.get() : inline_; }
  std::size_t size() const { return length_; }

 private:
  char16_t inline_[INLINE_UNITS] = {};
  std::uint8_t length_ = 0;
  std::unique_ptr<char16_t[]> heap_;
};

// What every walk reads of a key comes first, to share as few cache lines
// as it can: its name, its sub-keys by index, its rights, whether it was
// removed. The tree's own fields follow.
struct Key {
  KeyName name;
  // The sub-keys by index, made on the first read after a sub-key was added:
  // subKeyCount entries in enumeration order around a gap [gapStart, gapEnd).
  std::unique_ptr<Key*[]> slots;
  std::uint32_t gapStart = 0;
  std::uint32_t gapEnd = 0;
  // Kept with the key itself, so that a walk reads them without touching the
  // tree of its sub-keys: their number and their longest name.
  std::uint32_t subKeyCount = 0;
  std::uint8_t longestSubKeyName = 0;
  bool removed = false;
  // The rights anyone may be granted on this key.
  REGSAM allowedAccess = KEY_ALL_ACCESS;

  Key* parent = nullptr;
  // The sub-key last read by index, the one a walk opens (or removes) next
  // by name, and its slot.
  Key* lastRead = nullptr;
  std::uint32_t lastReadSlot = 0;
  // Root of the tree of this key's sub-keys.
  Key* children = nullptr;
  // This key's place in its parent's tree.
  Key* left = nullptr;
  Key* right = nullptr;
  std::uint32_t priority = 0;
  std::uint32_t treeSize = 1;
  // Longest name in this key's part of its parent's tree (itself included).
  std::uint8_t longestName = 0;
};

inline std::uint32_t SubKeyCount(const Key& key) {
  return key.subKeyCount;
}
// Length of the longest sub-key name of `key`, 0 without sub-keys.
inline std::uint32_t LongestSubKeyName(const Key& key) {
  return key.longestSubKeyName;
}
// The sub-key of `key` named `name` of `length` units (case ignored), or null.
Key* FindSubKey(const Key& key, const char16_t* name, std::size_t length);
// The sub-key at `index` in enumeration order, or null past the last one.
Key* SubKeyAt(Key& key, std::uint32_t index);
// Links `child`, whose name no sibling has, below `parent`.
void LinkSubKey(Key& parent, Key& child);
// Unlinks the sub-key `child` from its parent.
void UnlinkSubKey(Key& child);

// Calls `visit` for each sub-key of `key`, in enumeration order.
template <typename Visit>
void ForEachSubKey(const Key& key, Visit&& visit) {
  Key& keys = const_cast<Key&>(key);
  const std::uint32_t count = SubKeyCount(key);
  for (std::uint32_t i = 0; i < count; ++i) {
    visit(*SubKeyAt(keys, i));
  }
}

}  // namespace emulation
