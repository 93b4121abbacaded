#include "emulation/key_tree.h"

#include <cstring>

#include "emulation/unicode_text.h"

namespace emulation {
namespace {

std::uint32_t TreeSize(const Key* node) {
  return node == nullptr ? 0 : node->treeSize;
}

std::uint8_t Longest(const Key* node) {
  return node == nullptr ? 0 : node->longestName;
}

void Update(Key* node) {
  node->treeSize = 1 + TreeSize(node->left) + TreeSize(node->right);
  node->longestName = static_cast<std::uint8_t>(node->name.size());
  if (Longest(node->left) > node->longestName) node->longestName = Longest(node->left);
  if (Longest(node->right) > node->longestName) node->longestName = Longest(node->right);
}

// Priorities from a fixed generator keep every run's tree shapes the same.
std::uint32_t NextPriority() {
  static std::uint32_t state = 0x9E3779B9u;
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

Key* Merge(Key* a, Key* b) {
  if (a == nullptr) return b;
  if (b == nullptr) return a;
  if (a->priority > b->priority) {
    a->right = Merge(a->right, b);
    Update(a);
    return a;
  }
  b->left = Merge(a, b->left);
  Update(b);
  return b;
}

// Splits `node` into the keys ordered before `name` and the rest.
int Compare(const KeyName& a, const KeyName& b) {
  return CompareNames(a.data(), a.size(), b.data(), b.size());
}

void Split(Key* node, const KeyName& name, Key*& before, Key*& rest) {
  if (node == nullptr) {
    before = rest = nullptr;
    return;
  }
  if (Compare(node->name, name) < 0) {
    Split(node->right, name, node->right, rest);
    before = node;
  } else {
    Split(node->left, name, before, node->left);
    rest = node;
  }
  Update(node);
}

// Takes the key at `index` out of the tree under `node`: by the subtree
// sizes alone, no name compared.
Key* EraseAt(Key* node, std::uint32_t index) {
  const std::uint32_t leftSize = TreeSize(node->left);
  if (index == leftSize) {
    return Merge(node->left, node->right);
  }
  if (index < leftSize) {
    node->left = EraseAt(node->left, index);
  } else {
    node->right = EraseAt(node->right, index - leftSize - 1);
  }
  Update(node);
  return node;
}

// The index of `target` among its siblings: known at once when it is the
// entry a walk just read, as it is when the walk removes it.
std::uint32_t IndexOf(const Key& target) {
  const Key& parent = *target.parent;
  if (parent.lastRead == &target) {
    const std::uint32_t slot = parent.lastReadSlot;
    return slot < parent.gapStart ? slot : slot - (parent.gapEnd - parent.gapStart);
  }
  std::uint32_t index = 0;
  const Key* node = target.parent->children;
  while (node != &target) {
    if (Compare(target.name, node->name) < 0) {
      node = node->left;
    } else {
      index += TreeSize(node->left) + 1;
      node = node->right;
    }
  }
  return index + TreeSize(node->left);
}

Key** CollectInOrder(Key* node, Key** out) {
  while (node != nullptr) {
    out = CollectInOrder(node->left, out);
    *out++ = node;
    node = node->right;
  }
  return out;
}

// Moves the gap of `key`'s slots so that it starts at `position`.
void MoveGap(Key& key, std::uint32_t position) {
  Key** slots = key.slots.get();
  const std::uint32_t gap = key.gapEnd - key.gapStart;
  if (position < key.gapStart) {
    std::memmove(slots + position + gap, slots + position,
                 (key.gapStart - position) * sizeof(Key*));
  } else if (position > key.gapStart) {
    std::memmove(slots + key.gapStart, slots + key.gapEnd,
                 (position - key.gapStart) * sizeof(Key*));
  }
  key.gapStart = position;
  key.gapEnd = position + gap;
}

// Entries of the index array, the gap included.
std::uint32_t SlotCount(const Key& key) {
  return key.subKeyCount + key.gapEnd - key.gapStart;
}

void Prefetch(const Key* key) {
  __builtin_prefetch(key);
  __builtin_prefetch(reinterpret_cast<const char*>(key) + 64);
}

// The tree under `parent` changed: take afresh what the key keeps of it.
void Changed(Key& parent) {
  parent.subKeyCount = TreeSize(parent.children);
  parent.longestSubKeyName = Longest(parent.children);
  parent.lastRead = nullptr;
}

}  // namespace

Key* FindSubKey(const Key& key, const char16_t* name, std::size_t length) {
  const auto compare = [name, length](const Key& other) {
    return CompareNames(name, length, other.name.data(), other.name.size());
  };
  if (key.lastRead != nullptr && compare(*key.lastRead) == 0) {
    return key.lastRead;
  }
  Key* node = key.children;
  while (node != nullptr) {
    const int order = compare(*node);
    if (order == 0) return node;
    node = order < 0 ? node->left : node->right;
  }
  return nullptr;
}

Key* SubKeyAt(Key& key, std::uint32_t index) {
  if (index >= key.subKeyCount) return nullptr;
  if (key.slots == nullptr) {
    key.slots.reset(new Key*[key.subKeyCount]);
    CollectInOrder(key.children, key.slots.get());
    key.gapStart = key.gapEnd = key.subKeyCount;
  }
  const std::uint32_t slot = index < key.gapStart ? index : index + key.gapEnd - key.gapStart;
  key.lastRead = key.slots[slot];
  key.lastReadSlot = slot;
  // A walk reads the neighbouring entries next, after this one's subtree:
  // ask for them now, so that the memory latency overlaps that work.
  if (slot > 0) Prefetch(key.slots[slot - 1]);
  if (slot + 1 < SlotCount(key)) Prefetch(key.slots[slot + 1]);
  // Its own sub-keys are read next, from the last one down.
  const Key& read = *key.lastRead;
  if (read.slots != nullptr && SlotCount(read) > 0) {
    __builtin_prefetch(read.slots.get() + SlotCount(read) - 1);
  }
  return key.lastRead;
}

void LinkSubKey(Key& parent, Key& child) {
  child.parent = &parent;
  child.left = child.right = nullptr;
  child.priority = NextPriority();
  Update(&child);
  Key* before = nullptr;
  Key* rest = nullptr;
  Split(parent.children, child.name, before, rest);
  parent.children = Merge(Merge(before, &child), rest);
  parent.slots.reset();
  Changed(parent);
}

void UnlinkSubKey(Key& child) {
  Key& parent = *child.parent;
  const std::uint32_t index = IndexOf(child);
  if (parent.slots != nullptr) {
    // Take the entry out of the array by widening its gap over it.
    MoveGap(parent, index);
    ++parent.gapEnd;
  }
  parent.children = EraseAt(parent.children, index);
  Changed(parent);
  child.left = child.right = nullptr;
  child.treeSize = 1;
}

}  // namespace emulation
