// What a run must do to a registry case, worked out from the rules alone and
// from none of the tool's code: which keys remain, how many entries each root
// key's walk visits, and so the exact output.
//
// The rules: every sub-key entry of a searched key is visited and counted.
// The tests below look at a name as the 8-bit calls deliver it, converted
// through the code page (code_page_model.h). An entry whose name is 200
// bytes or longer so is passed over. "Uninstall" (ASCII letters in any case)
// is passed over with its subtree. A name whose first ten bytes are
// "Quillorbex" (ASCII letters in any case) is removed: on the NT family
// children first in enumeration order, a level stopping at the first sub-key
// that stays, each key deleted once it has no sub-keys and grants DELETE
// (opening it for removal needs DELETE and enumeration); on the other family
// by one delete that needs DELETE and takes the whole subtree. Any other
// entry is searched when it grants full access. A key is opened, deleted or
// searched only when the name delivered for it finds it again: one that does
// not survive the round trip through the code page stays, with all below
// it, and stops the level of a removal as a key that stays does. (The cases
// never hold a sibling that such a name would find instead.)
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "emulation/emulated_registry.h"
#include "tests/model/registry_tree.h"

namespace model {

struct Prediction {
  std::set<std::string> remaining;
  // Keys that no rule lets a run remove: all but the matching keys the walk
  // reaches and what lies below them. Whatever fails, these must stay.
  std::set<std::string> protectedKeys;
  std::int64_t visited[4] = {};
  std::string output;
};

Prediction Predict(const Tree& tree, emulation::Family family);

// The output for the given entries visited per root key.
std::string ExpectedOutput(const std::int64_t visited[4]);

}  // namespace model
