#include "emulation/key_tree.h"

#include <cstring>

namespace emulation {
namespace {

unsigned char UpperLetter(char byte) {
  const unsigned char value = static_cast<unsigned char>(byte);
  return (value >= 'a' && value <= 'z') ? static_cast<unsigned char>(value - 0x20) : value;
}

std::uint32_t TreeSize(const Key* node) {
  return node == nullptr ? 0 : node->treeSize;
}

void Update(Key* node) {
  node->treeSize = 1 + TreeSize(node->left) + TreeSize(node->right);
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
void Split(Key* node, const std::string& name, Key*& before, Key*& rest) {
  if (node == nullptr) {
    before = rest = nullptr;
    return;
  }
  if (CompareKeyNames(node->name, name) < 0) {
    Split(node->right, name, node->right, rest);
    before = node;
  } else {
    Split(node->left, name, before, node->left);
    rest = node;
  }
  Update(node);
}

Key* Erase(Key* node, const Key& target) {
  if (node == &target) {
    return Merge(node->left, node->right);
  }
  if (CompareKeyNames(target.name, node->name) < 0) {
    node->left = Erase(node->left, target);
  } else {
    node->right = Erase(node->right, target);
  }
  Update(node);
  return node;
}

}  // namespace

int CompareKeyNames(const char* a, std::size_t length, const std::string& b) {
  const std::size_t common = length < b.size() ? length : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = UpperLetter(a[i]);
    const unsigned char y = UpperLetter(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (length == b.size()) return 0;
  return length < b.size() ? -1 : 1;
}

int CompareKeyNames(const std::string& a, const std::string& b) {
  return CompareKeyNames(a.data(), a.size(), b);
}

std::uint32_t SubKeyCount(const Key& key) {
  return TreeSize(key.children);
}

Key* FindSubKey(const Key& key, const char* name, std::size_t length) {
  Key* node = key.children;
  while (node != nullptr) {
    const int order = CompareKeyNames(name, length, node->name);
    if (order == 0) return node;
    node = order < 0 ? node->left : node->right;
  }
  return nullptr;
}

Key* SubKeyAt(const Key& key, std::uint32_t index) {
  Key* node = key.children;
  while (node != nullptr) {
    const std::uint32_t leftSize = TreeSize(node->left);
    if (index == leftSize) return node;
    if (index < leftSize) {
      node = node->left;
    } else {
      index -= leftSize + 1;
      node = node->right;
    }
  }
  return nullptr;
}

void LinkSubKey(Key& parent, Key& child) {
  child.parent = &parent;
  child.left = child.right = nullptr;
  child.treeSize = 1;
  child.priority = NextPriority();
  Key* before = nullptr;
  Key* rest = nullptr;
  Split(parent.children, child.name, before, rest);
  parent.children = Merge(Merge(before, &child), rest);
}

void UnlinkSubKey(Key& child) {
  child.parent->children = Erase(child.parent->children, child);
  child.left = child.right = nullptr;
  child.treeSize = 1;
}

}  // namespace emulation
