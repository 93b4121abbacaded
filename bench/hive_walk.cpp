// The floor for cleaning hive files through hivex: open each hive for
// writing, visit every key and read its name, and commit it to a new file
// beside it, flushed to disk, as any careful write-back must. Nothing is
// removed; the new files are deleted again.
//
//   hive_walk HIVE...     prints "keys=N" on standard output
#include <hivex.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>

int main(int argc, char** argv) {
  std::size_t keys = 0;
  for (int i = 1; i < argc; ++i) {
    hive_h* hive = hivex_open(argv[i], HIVEX_OPEN_WRITE);
    if (hive == nullptr) {
      std::perror(argv[i]);
      return 2;
    }
    std::vector<hive_node_h> pending{hivex_root(hive)};
    while (!pending.empty()) {
      const hive_node_h node = pending.back();
      pending.pop_back();
      ++keys;
      std::free(hivex_node_name(hive, node));
      hive_node_h* children = hivex_node_children(hive, node);
      for (hive_node_h* child = children; child != nullptr && *child != 0; ++child) {
        pending.push_back(*child);
      }
      std::free(children);
    }
    const std::string copy = std::string(argv[i]) + ".walk";
    if (hivex_commit(hive, copy.c_str(), 0) != 0) {
      std::perror(copy.c_str());
      return 2;
    }
    const int descriptor = ::open(copy.c_str(), O_RDONLY);
    if (descriptor >= 0) {
      ::fsync(descriptor);
      ::close(descriptor);
    }
    ::unlink(copy.c_str());
    hivex_close(hive);
  }
  std::printf("keys=%zu\n", keys);
  return 0;
}
