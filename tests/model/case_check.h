// Runs the tool on a registry case and checks it against the reference model.
#pragma once

#include <string>
#include <vector>

#include "emulation/emulated_registry.h"
#include "tests/model/registry_tree.h"

namespace model {

// The tree as a registry export (UTF-8), control characters as \xNN.
std::string Report(const Tree& tree);

// Runs the tool on `tree` with `faults`, and returns what is wrong ("" when
// nothing is). Without faults the run must match the model exactly: the keys
// left, the output bytes, exit status 33. With faults it must still end with
// status 33, the output shape, no handle open, and keep every key that no
// rule lets it remove (all but the matches it reaches and their subtrees),
// bar those that a fault itself removed as someone else would.
std::string CheckCase(const Tree& tree, emulation::Family family,
                      const std::vector<emulation::Fault>& faults = {});

// The smallest tree found by removing subtrees one at a time for which
// CheckCase still fails.
Tree Shrink(const Tree& tree, emulation::Family family,
            const std::vector<emulation::Fault>& faults = {});

}  // namespace model
