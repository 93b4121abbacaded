// The recursive search for the product's keys below one open key.
#pragma once

#include <cstdint>

#include "platform/registry_api.h"

// The product name; a sub-key whose name begins with it is removed.
constexpr char TARGET_NAME[] = "Quillorbex";
// A sub-key with this name is passed over together with its whole subtree.
constexpr char SKIP_KEY_NAME[] = "Uninstall";
// Visited entries per progress dot.
constexpr std::int32_t PROGRESS_INTERVAL = 1000;
constexpr char PROGRESS_DOT[] = ".";

// Sizes of the working buffers of one search level, in characters.
constexpr DWORD SEARCH_NAME_SIZE = 200;
constexpr DWORD SEARCH_CLASS_SIZE = 200;
constexpr DWORD QUERY_CLASS_SIZE = 300;

// Sub-key entries visited so far in the whole run, under every root key.
extern std::int32_t visitedCount;

// Visits every sub-key of `key` from the last index down to 0: counts it,
// writes a progress dot every PROGRESS_INTERVAL entries, passes over
// SKIP_KEY_NAME, removes every sub-key whose name begins with `target`, and
// searches every other sub-key that opens with full access. `key` stays open.
void SearchKey(HKEY key, const char* target);
