#include "offline/hive_keys.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "emulation/unicode_text.h"

namespace offline {
namespace {

struct FreeDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};

}  // namespace

bool LoadHiveKeys(hive_h* hive, std::size_t hiveIndex, emulation::EmulatedRegistry& registry,
                  emulation::Key& mount, KeyOrigins& origins, std::string& error) {
  struct Pending {
    hive_node_h node;
    emulation::Key* key;
  };
  std::vector<Pending> pending{{hivex_root(hive), &mount}};
  origins[&mount] = {hiveIndex, pending.back().node};
  std::u16string units;
  while (!pending.empty()) {
    const Pending at = pending.back();
    pending.pop_back();
    errno = 0;
    const std::unique_ptr<hive_node_h, FreeDeleter> children(hivex_node_children(hive, at.node));
    if (children == nullptr) {
      error =
          "cannot read the sub-keys of " + registry.PathOf(*at.key) + ": " + std::strerror(errno);
      return false;
    }
    for (const hive_node_h* child = children.get(); *child != 0; ++child) {
      const std::unique_ptr<char, FreeDeleter> name(hivex_node_name(hive, *child));
      if (name == nullptr) {
        error = "cannot read a sub-key name of " + registry.PathOf(*at.key);
        return false;
      }
      const std::string text(name.get(), hivex_node_name_len(hive, *child));
      const auto where = [&] { return registry.PathOf(*at.key) + "\\" + text; };
      if (!emulation::Utf8ToUtf16(text, units)) {
        error = "the name of " + where() + " is not text";
        return false;
      }
      if (units.empty() || units[0] == u'\0') {
        error = "a sub-key of " + registry.PathOf(*at.key) +
                " has a name that is empty to the 8-bit calls";
        return false;
      }
      if (units.size() > emulation::MAX_KEY_NAME_LENGTH) {
        error = "the name of " + where() + " is over 255 characters";
        return false;
      }
      if (emulation::FindSubKey(*at.key, units.data(), units.size()) != nullptr) {
        error = "two sub-keys of " + registry.PathOf(*at.key) + " are named " + text;
        return false;
      }
      emulation::Key* key = registry.AddSubKey(*at.key, units.data(), units.size());
      origins[key] = {hiveIndex, *child};
      pending.push_back({*child, key});
    }
  }
  return true;
}

}  // namespace offline
