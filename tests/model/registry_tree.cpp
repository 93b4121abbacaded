#include "tests/model/registry_tree.h"

#include <cstdio>
#include <functional>

namespace model {

const char* const ROOT_NAMES[4] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                   "HKEY_USERS"};

void LoadTree(const Tree& tree, emulation::EmulatedRegistry& registry) {
  std::function<void(const TreeKey&, const std::string&)> load = [&](const TreeKey& key,
                                                                     const std::string& path) {
    for (const TreeKey& child : key.children) {
      const std::string childPath = path + "\\" + child.name;
      emulation::Key* added = registry.AddKey(childPath);
      if (added != nullptr) added->allowedAccess = child.allowed;
      load(child, childPath);
    }
  };
  emulation::CodePage page = emulation::CodePage::Windows1252;
  emulation::CodePageFromNumber(tree.codePage, page);
  registry.SetCodePage(page);
  for (int i = 0; i < 4; ++i) {
    registry.RootKey(i).allowedAccess = tree.roots[i].allowed;
    load(tree.roots[i], ROOT_NAMES[i]);
  }
}

std::string ToRegFile(const Tree& tree) {
  std::string text =
      "Windows Registry Editor Version 5.00\n; code page " + std::to_string(tree.codePage) + "\n\n";
  std::function<void(const TreeKey&, const std::string&)> print = [&](const TreeKey& key,
                                                                      const std::string& path) {
    for (const TreeKey& child : key.children) {
      const std::string childPath = path + "\\" + child.name;
      if (child.allowed != KEY_ALL_ACCESS) {
        char rights[64];
        std::snprintf(rights, sizeof rights, "; grants only 0x%X\n",
                      static_cast<unsigned>(child.allowed));
        text += rights;
      }
      text += "[" + childPath + "]\n\n";
      print(child, childPath);
    }
  };
  for (int i = 0; i < 4; ++i) print(tree.roots[i], ROOT_NAMES[i]);
  return text;
}

std::size_t KeyCount(const Tree& tree) {
  std::function<std::size_t(const TreeKey&)> count = [&](const TreeKey& key) {
    std::size_t n = key.children.size();
    for (const TreeKey& child : key.children) n += count(child);
    return n;
  };
  std::size_t total = 0;
  for (const TreeKey& root : tree.roots) total += count(root);
  return total;
}

}  // namespace model
