// A registry case as plain data: four root trees of named keys (UTF-8), each
// key with the rights it grants, and the ANSI code page of the 8-bit calls.
// Loads into the emulated registry and prints as a registry export (rights
// and the code page as comments) for a failure report.
#pragma once

#include <string>
#include <vector>

#include "emulation/emulated_registry.h"

namespace model {

struct TreeKey {
  std::string name;
  REGSAM allowed = KEY_ALL_ACCESS;
  std::vector<TreeKey> children;
};

struct Tree {
  // HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS.
  TreeKey roots[4];
  // 1252, 1251 or 932.
  unsigned codePage = 1252;
};

extern const char* const ROOT_NAMES[4];

void LoadTree(const Tree& tree, emulation::EmulatedRegistry& registry);
std::string ToRegFile(const Tree& tree);
// The tree that ToRegFile printed as `text`, so that a failure report pasted
// into a test sets up the same case: "; code page N", "; grants only 0xN"
// before the section of the key it limits, "[path]" sections (keys above a
// section's key are added as they are named). False, with the line in
// `error`, for any other line.
bool FromRegFile(const std::string& text, Tree& tree, std::string& error);
std::size_t KeyCount(const Tree& tree);

}  // namespace model
