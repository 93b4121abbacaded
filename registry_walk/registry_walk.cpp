// A helper for tests and timings on any registry, real or emulated: walks
// the four root keys with the tool's calls and prints, per root key, how
// many sub-key entries it visited. Nothing is removed or written.
//
//   registry_walk         as the tool walks (see walk.h)
//   registry_walk floor   the bare walk: every entry counted and entered
//
// Output: one line "<root> <count>" per root key, then "total <count>".
#include <cstdio>
#include <cstring>

#include "registry_walk/walk.h"

int main(int argc, char** argv) {
  const bool floor = argc > 1 && std::strcmp(argv[1], "floor") == 0;
  const char* const names[4] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                "HKEY_USERS"};
  long visited[4];
  const long total = walk::WalkRoots(floor ? walk::Mode::Floor : walk::Mode::LikeTheTool, visited);
  for (int i = 0; i < 4; ++i) std::printf("%s %ld\n", names[i], visited[i]);
  std::printf("total %ld\n", total);
  return 0;
}
