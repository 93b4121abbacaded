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

bool FromRegFile(const std::string& text, Tree& tree, std::string& error) {
  tree = Tree();
  REGSAM pending = KEY_ALL_ACCESS;
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string codePage = "; code page ";
    const std::string grants = "; grants only 0x";
    if (line.compare(0, codePage.size(), codePage) == 0) {
      tree.codePage = static_cast<unsigned>(std::stoul(line.substr(codePage.size())));
    } else if (line.compare(0, grants.size(), grants) == 0) {
      pending = static_cast<REGSAM>(std::stoul(line.substr(grants.size()), nullptr, 16));
    } else if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      const std::string path = line.substr(1, line.size() - 2);
      std::size_t at = path.find('\\');
      const std::string rootName = path.substr(0, at);
      TreeKey* key = nullptr;
      for (int i = 0; i < 4; ++i) {
        if (rootName == ROOT_NAMES[i]) key = &tree.roots[i];
      }
      if (key == nullptr || at == std::string::npos) {
        error = "line " + std::to_string(number) + ": no key below a root key: " + line;
        return false;
      }
      while (at != std::string::npos) {
        const std::size_t next = path.find('\\', at + 1);
        const std::string name =
            path.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        TreeKey* child = nullptr;
        for (TreeKey& existing : key->children) {
          if (existing.name == name) child = &existing;
        }
        if (child == nullptr) {
          key->children.push_back(TreeKey{name, KEY_ALL_ACCESS, {}});
          child = &key->children.back();
        }
        key = child;
        at = next;
      }
      key->allowed = pending;
      pending = KEY_ALL_ACCESS;
    } else if (!line.empty() && line != "Windows Registry Editor Version 5.00") {
      error = "line " + std::to_string(number) + ": not a section or a known comment: " + line;
      return false;
    }
  }
  return true;
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
