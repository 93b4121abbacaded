#include "tests/model/tree_generator.h"

#include <string>

#include "tests/model/code_page_model.h"

namespace model {
namespace {

const char* const TRICKY_NAMES[] = {
    "Quillorbex",   "QUILLORBEX",   "quillorbex",       "qUiLlOrBeX", "QuillorbexTools",
    "Quillorbex 2", "Quillorbex.1", "quillorbex tools", "Quillorbe",  "MyQuillorbex",
    "Quill",        " Quillorbex",  "Quíllorbex",       "QUILLORBEØ", "Quillorbexé",
    "[uillorbex",   "Uninstall",    "UNINSTALL",        "uninstall",  "Uninstaller",
    "Uninstall ",   "Uninstall2",   "Uninstal",         "Été",        "_Quillorbex",
    "Software",     "Vendor",       "Classes",          "Settings",   "Data",
};

// Names outside one code page or another: each round-trips in some of 1252,
// 1251 and 932 and turns into '?' (or into ASCII look-alikes) in the others.
const char* const UNICODE_NAMES[] = {
    "Отчёт",
    "Quillorbex Документы",
    "日本語",
    "Quillorbex 日本",
    "🌎🌏🌍",
    "Quillorbex🌍",
    "Ｑｕｉｌｌｏｒｂｅｘ",
    "Ｓｏｆｔｗａｒｅ",
    "Äpfel",
    "äPFEL",
    "?????",
    "Quillorbex ????",
    "ΩMEGA",
    "ωmega",
    "Ünïnstall",
};

const unsigned CODE_PAGES[] = {1252, 1251, 932};

const REGSAM RIGHTS[] = {
    KEY_READ,                         // readable, never opened with full access
    KEY_ALL_ACCESS & ~DELETE,         // cannot be removed
    DELETE | KEY_ENUMERATE_SUB_KEYS,  // can be removed, not searched
    KEY_ALL_ACCESS & ~KEY_ENUMERATE_SUB_KEYS,
};

class Generator {
 public:
  Generator(Choices& choices, const GeneratorLimits& limits, unsigned page)
      : choices_(choices), limits_(limits), page_(page) {}

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
  // True when `name` may stand beside `sibling`: they are not one key, and
  // neither finds the other through the name delivered for it.
  bool CanStandBeside(const std::string& name, const std::string& sibling) const {
    return !SameKeyName(name, sibling) &&
           !SameKeyName(NameFromAnsi(AnsiName(name, page_), page_), sibling) &&
           !SameKeyName(NameFromAnsi(AnsiName(sibling, page_), page_), name);
  }

  // A name no sibling has yet, or "" after a few tries.
  std::string Name(const TreeKey& parent) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      std::string name;
      const std::uint32_t kind = choices_.Below(12);
      if (kind < 5) {
        name = TRICKY_NAMES[choices_.Below(sizeof TRICKY_NAMES / sizeof *TRICKY_NAMES)];
      } else if (kind >= 10) {
        name = UNICODE_NAMES[choices_.Below(sizeof UNICODE_NAMES / sizeof *UNICODE_NAMES)];
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
      for (const TreeKey& sibling : parent.children) {
        taken = taken || !CanStandBeside(name, sibling.name);
      }
      if (!taken) return name;
    }
    return "";
  }

  Choices& choices_;
  GeneratorLimits limits_;
  unsigned page_;
  std::size_t keys_ = 0;
};

}  // namespace

Tree GenerateTree(Choices& choices, const GeneratorLimits& limits) {
  Tree tree;
  // Most cases under the Western page, as most registries are read.
  const std::uint32_t page = choices.Below(4);
  tree.codePage = CODE_PAGES[page < 2 ? 0 : page - 1];
  Generator generator(choices, limits, tree.codePage);
  for (TreeKey& root : tree.roots) generator.Fill(root, 0);
  return tree;
}

}  // namespace model
