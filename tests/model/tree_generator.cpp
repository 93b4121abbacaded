#include "tests/model/tree_generator.h"

#include <string>

namespace model {
namespace {

const char* const TRICKY_NAMES[] = {
    "Quillorbex",   "QUILLORBEX",   "quillorbex",       "qUiLlOrBeX",    "QuillorbexTools",
    "Quillorbex 2", "Quillorbex.1", "quillorbex tools", "Quillorbe",     "MyQuillorbex",
    "Quill",        " Quillorbex",  "Qu\xEDllorbex",    "QUILLORBE\xD8", "Quillorbex\xE9",
    "[uillorbex",   "Uninstall",    "UNINSTALL",        "uninstall",     "Uninstaller",
    "Uninstall ",   "Uninstall2",   "Uninstal",         "\xC9t\xE9",     "_Quillorbex",
    "Software",     "Vendor",       "Classes",          "Settings",      "Data",
};

const REGSAM RIGHTS[] = {
    KEY_READ,                         // readable, never opened with full access
    KEY_ALL_ACCESS & ~DELETE,         // cannot be removed
    DELETE | KEY_ENUMERATE_SUB_KEYS,  // can be removed, not searched
    KEY_ALL_ACCESS & ~KEY_ENUMERATE_SUB_KEYS,
};

class Generator {
 public:
  Generator(Choices& choices, const GeneratorLimits& limits) : choices_(choices), limits_(limits) {}

  void Fill(TreeKey& key, int depth) {
    if (depth >= limits_.maxDepth || keys_ >= limits_.maxKeys) return;
    const std::uint32_t shape = choices_.Below(16);
    std::uint32_t children = 0;
    if (shape < 5) {
      children = 0;
    } else if (shape < 13) {
      children = 1 + choices_.Below(4);
    } else if (shape < 15) {
      children = 1;  // a chain goes on
    } else {
      children = 5 + choices_.Below(limits_.maxWide - 4);  // wide
    }
    for (std::uint32_t i = 0; i < children && keys_ < limits_.maxKeys; ++i) {
      TreeKey child;
      child.name = Name(key);
      if (child.name.empty()) continue;
      if (choices_.Below(10) == 0) child.allowed = RIGHTS[choices_.Below(4)];
      ++keys_;
      Fill(child, depth + 1);
      key.children.push_back(child);
    }
  }

 private:
  static bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      char x = a[i], y = b[i];
      if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
      if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
      if (x != y) return false;
    }
    return true;
  }

  // A name no sibling has yet, or "" after a few tries.
  std::string Name(const TreeKey& parent) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      std::string name;
      const std::uint32_t kind = choices_.Below(10);
      if (kind < 5) {
        name = TRICKY_NAMES[choices_.Below(sizeof TRICKY_NAMES / sizeof *TRICKY_NAMES)];
      } else if (kind < 7) {
        name = "Key" + std::to_string(choices_.Below(1000));
      } else if (kind < 8) {
        // Neighbours in enumeration order: Quillorbex0, Quillorbex1, ...
        name = "Quillorbex" + std::to_string(choices_.Below(4));
      } else {
        static const std::size_t LENGTHS[] = {1, 9, 10, 11, 199, 200, 201, 255};
        const std::size_t length = LENGTHS[choices_.Below(8)];
        name = choices_.Below(2) == 0 ? std::string("Quillorbex") : std::string("N");
        name.resize(length, static_cast<char>('a' + choices_.Below(26)));
        name.resize(length);
      }
      bool taken = false;
      for (const TreeKey& sibling : parent.children) taken = taken || SameName(sibling.name, name);
      if (!taken) return name;
    }
    return "";
  }

  Choices& choices_;
  GeneratorLimits limits_;
  std::size_t keys_ = 0;
};

}  // namespace

Tree GenerateTree(Choices& choices, const GeneratorLimits& limits) {
  Tree tree;
  Generator generator(choices, limits);
  for (TreeKey& root : tree.roots) generator.Fill(root, 0);
  return tree;
}

}  // namespace model
