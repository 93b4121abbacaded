#include "tests/model/reference_model.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "tests/model/code_page_model.h"
#include "tests/support/expected_output.h"

namespace model {
namespace {

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

bool Grants(const TreeKey& key, REGSAM access) {
  return (key.allowed & access) == access;
}

// Keys as they stand while the run goes on: a copy that removals change.
struct Walker {
  emulation::Family family;
  unsigned page = 1252;
  std::int64_t visited = 0;
  // Paths of the matching keys the walk reached.
  std::set<std::string> reachedMatches;
  std::string path;

  // Sub-keys in the order they enumerate: upper-cased UTF-16 units.
  static void SortForEnumeration(std::vector<TreeKey>& keys) {
    std::sort(keys.begin(), keys.end(), [](const TreeKey& a, const TreeKey& b) {
      return EnumerationKey(a.name) < EnumerationKey(b.name);
    });
  }

  bool Opens(const TreeKey& key) const { return RoundTrips(key.name, page); }

  // Returns true when `key` is gone.
  bool RemoveChildrenFirst(TreeKey& key) {
    if (!Opens(key) || !Grants(key, DELETE | KEY_ENUMERATE_SUB_KEYS)) return false;
    SortForEnumeration(key.children);
    while (!key.children.empty() && RemoveChildrenFirst(key.children.front())) {
      key.children.erase(key.children.begin());
    }
    return key.children.empty();
  }

  bool Remove(TreeKey& key) {
    if (family == emulation::Family::Windows9x) return Opens(key) && Grants(key, DELETE);
    return RemoveChildrenFirst(key);
  }

  void Search(TreeKey& key) {
    std::vector<TreeKey> kept;
    for (TreeKey& child : key.children) {
      ++visited;
      const std::string delivered = AnsiName(child.name, page);
      const std::string folded = Folded(delivered);
      if (delivered.size() >= 200 || folded == "uninstall") {
        kept.push_back(child);
      } else if (folded.compare(0, 10, "quillorbex") == 0) {
        reachedMatches.insert(path + "\\" + child.name);
        if (!Remove(child)) kept.push_back(child);
      } else {
        if (Opens(child) && Grants(child, KEY_ALL_ACCESS)) {
          const std::string saved = path;
          path += "\\" + child.name;
          Search(child);
          path = saved;
        }
        kept.push_back(child);
      }
    }
    key.children = kept;
  }
};

void Collect(const TreeKey& key, const std::string& path, std::set<std::string>& out) {
  for (const TreeKey& child : key.children) {
    out.insert(path + "\\" + child.name);
    Collect(child, path + "\\" + child.name, out);
  }
}

}  // namespace

std::string ExpectedOutput(const std::int64_t visited[4]) {
  std::string out = testing_support::BANNER;
  std::int64_t total = 0;
  for (int i = 0; i < 4; ++i) {
    const std::int64_t before = total / 1000;
    total += visited[i];
    out += testing_support::RootLine(ROOT_NAMES[i]);
    out += std::string(static_cast<std::size_t>(total / 1000 - before), '.');
  }
  return out + testing_support::CLOSING;
}

Prediction Predict(const Tree& tree, emulation::Family family) {
  Prediction prediction;
  Walker walker;
  walker.family = family;
  walker.page = tree.codePage;
  for (int i = 0; i < 4; ++i) {
    TreeKey root = tree.roots[i];
    const std::int64_t before = walker.visited;
    walker.path = ROOT_NAMES[i];
    if (Grants(root, KEY_ALL_ACCESS)) walker.Search(root);
    prediction.visited[i] = walker.visited - before;
    Collect(root, ROOT_NAMES[i], prediction.remaining);
    Collect(tree.roots[i], ROOT_NAMES[i], prediction.protectedKeys);
  }
  for (auto key = prediction.protectedKeys.begin(); key != prediction.protectedKeys.end();) {
    bool removable = false;
    for (const std::string& match : walker.reachedMatches) {
      removable =
          removable || *key == match || key->compare(0, match.size() + 1, match + "\\") == 0;
    }
    key = removable ? prediction.protectedKeys.erase(key) : std::next(key);
  }
  prediction.output = ExpectedOutput(prediction.visited);
  return prediction;
}

}  // namespace model
