#include "offline/hive_keys.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "emulation/unicode_text.h"
#include "offline/hive_file.h"

namespace offline {
namespace {}  // namespace

bool LoadHiveKeys(hive_h* hive, std::size_t hiveIndex, emulation::EmulatedRegistry& registry,
                  emulation::Key& mount, KeyOrigins& origins, std::string& error) {
  struct Pending {
    hive_node_h node;
    emulation::Key* key;
  };
  std::vector<Pending> pending{{hivex_root(hive), &mount}};
  origins[&mount] = {hiveIndex, pending.back().node};
  std::u16string units;
  std::string text;
  while (!pending.empty()) {
    const Pending at = pending.back();
    pending.pop_back();
    errno = 0;
    const HivexOwned<hive_node_h> children(hivex_node_children(hive, at.node));
    if (children == nullptr) {
      error =
          "cannot read the sub-keys of " + registry.PathOf(*at.key) + ": " + std::strerror(errno);
      return false;
    }
    for (const hive_node_h* child = children.get(); *child != 0; ++child) {
      if (!NodeName(hive, *child, text)) {
        error = "cannot read a sub-key name of " + registry.PathOf(*at.key);
        return false;
      }
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
