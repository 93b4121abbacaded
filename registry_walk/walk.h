// A walk of the four root keys that makes the tool's registry calls: the
// count query, each entry from the last index down, and an open with full
// access, a walk and a close for each descent.
#pragma once

namespace walk {

enum class Mode {
  // Passes over what the tool passes over (Uninstall subtrees, names it
  // cannot read whole, keys it removes), counting each entry: what a run of
  // the tool visits on a registry that holds no key it removes.
  LikeTheTool,
  // Every entry counted, every one that reads whole (names up to 199 bytes,
  // as in the tool) entered: the bare cost of reading the registry.
  Floor,
};

// Walks the four root keys; fills `visited` per root key, returns the total.
long WalkRoots(Mode mode, long visited[4]);

}  // namespace walk
