#include "tests/model/case_check.h"

#include <cstdio>
#include <set>

#include "tests/model/reference_model.h"
#include "tests/support/expected_output.h"
#include "tests/support/tool_run.h"

namespace model {
namespace {

// Control characters as \xNN, so that a report reads the same anywhere;
// names beyond ASCII stay UTF-8 text, as a registry export shows them.
std::string Printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 || c == '\n') {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  return out;
}

// Banner, the four root key lines with any number of dots, closing text.
bool HasRunShape(const std::string& output) {
  const std::string& banner = testing_support::BANNER;
  if (output.compare(0, banner.size(), banner) != 0) return false;
  std::size_t at = banner.size();
  for (const char* root : ROOT_NAMES) {
    const std::string line = testing_support::RootLine(root);
    if (output.compare(at, line.size(), line) != 0) return false;
    at += line.size();
    while (at < output.size() && output[at] == '.') ++at;
  }
  return output.compare(at, std::string::npos, testing_support::CLOSING) == 0;
}

std::string Describe(const std::set<std::string>& keys) {
  std::string text;
  for (const std::string& key : keys) text += "\n    " + Printable(key);
  return text;
}

}  // namespace

std::string Report(const Tree& tree) {
  return Printable(ToRegFile(tree));
}

std::string CheckCase(const Tree& tree, emulation::Family family,
                      const std::vector<emulation::Fault>& faults) {
  emulation::EmulatedRegistry registry(family);
  LoadTree(tree, registry);
  for (const emulation::Fault& fault : faults) registry.AddFault(fault);
  const testing_support::ToolRun run = testing_support::RunTool(registry);
  const Prediction prediction = Predict(tree, family);
  const std::vector<std::string> paths = registry.KeyPaths();
  const std::set<std::string> remaining(paths.begin(), paths.end());

  std::string problems;
  if (run.callBudgetExceeded) problems += "the run looped: stopped after 32 calls a key\n";
  if (run.exitStatus != 33) problems += "exit status " + std::to_string(run.exitStatus) + "\n";
  if (registry.OpenHandleCount() != 0) {
    problems += std::to_string(registry.OpenHandleCount()) + " handles left open\n";
  }
  if (faults.empty()) {
    if (run.output != prediction.output) {
      problems +=
          "output differs:\n  expected " + prediction.output + "\n  got      " + run.output + "\n";
    }
    if (remaining != prediction.remaining) {
      std::set<std::string> extra, missing;
      for (const auto& k : remaining) {
        if (prediction.remaining.count(k) == 0) extra.insert(k);
      }
      for (const auto& k : prediction.remaining) {
        if (remaining.count(k) == 0) missing.insert(k);
      }
      problems += "keys left that should be gone:" + Describe(extra) +
                  "\n  keys gone that should be left:" + Describe(missing) + "\n";
    }
    return problems;
  }

  if (!HasRunShape(run.output)) problems += "output shape broken: " + run.output + "\n";
  std::set<std::string> wronglyRemoved;
  for (const std::string& key : prediction.protectedKeys) {
    if (remaining.count(key) != 0) continue;
    bool removedByFault = false;
    for (const std::string& gone : registry.RemovedByFaults()) {
      removedByFault =
          removedByFault || key == gone || key.compare(0, gone.size() + 1, gone + "\\") == 0;
    }
    if (!removedByFault) wronglyRemoved.insert(key);
  }
  if (!wronglyRemoved.empty()) {
    problems += "keys removed that must stay:" + Describe(wronglyRemoved) + "\n";
  }
  return problems;
}

Tree Shrink(const Tree& tree, emulation::Family family,
            const std::vector<emulation::Fault>& faults) {
  Tree best = tree;
  bool shrunk = true;
  while (shrunk) {
    shrunk = false;
    // Try each key in turn: drop it with its subtree, keep the drop if the
    // case still fails.
    std::vector<std::vector<std::size_t>> paths;
    for (std::size_t r = 0; r < 4; ++r) {
      std::vector<std::pair<const TreeKey*, std::vector<std::size_t>>> stack = {
          {&best.roots[r], {r}}};
      while (!stack.empty()) {
        auto [key, path] = stack.back();
        stack.pop_back();
        for (std::size_t i = 0; i < key->children.size(); ++i) {
          std::vector<std::size_t> childPath = path;
          childPath.push_back(i);
          paths.push_back(childPath);
          stack.push_back({&key->children[i], childPath});
        }
      }
    }
    for (auto it = paths.rbegin(); it != paths.rend() && !shrunk; ++it) {
      Tree candidate = best;
      TreeKey* parent = &candidate.roots[(*it)[0]];
      for (std::size_t d = 1; d + 1 < it->size(); ++d) parent = &parent->children[(*it)[d]];
      parent->children.erase(parent->children.begin() + static_cast<long>(it->back()));
      if (!CheckCase(candidate, family, faults).empty()) {
        best = candidate;
        shrunk = true;
      }
    }
  }
  return best;
}

}  // namespace model
