#include "offline/installation.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace offline {
namespace {

std::vector<std::string> SplitWindowsPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (const char c : path) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// The entry of `directory` named `name` without regard to ASCII case, the
// exact name first; "" when there is none.
std::string EntryNamed(const std::string& directory, const std::string& name) {
  struct stat status {};
  if (::lstat((directory + "/" + name).c_str(), &status) == 0) return name;
  DIR* listing = ::opendir(directory.c_str());
  if (listing == nullptr) return "";
  std::string found;
  while (const dirent* entry = ::readdir(listing)) {
    if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
      found = entry->d_name;
      break;
    }
  }
  ::closedir(listing);
  return found;
}

// The key at the backslash-separated `path` below `node`, or 0.
hive_node_h NodeAt(hive_h* hive, hive_node_h node, const std::string& path) {
  for (const std::string& name : SplitWindowsPath(path)) {
    if (node == 0) return 0;
    node = hivex_node_get_child(hive, node, name.c_str());
  }
  return node;
}

// A string value of `node` (REG_SZ or REG_EXPAND_SZ) in UTF-8, or "".
std::string StringValue(hive_h* hive, hive_node_h node, const char* name) {
  if (node == 0) return "";
  const hive_value_h value = hivex_node_get_value(hive, node, name);
  if (value == 0) return "";
  const HivexOwned<char> text(hivex_value_string(hive, value));
  return text != nullptr ? text.get() : "";
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  return ::strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// A path the registry of the installation gives ("C:\Users\alice",
// "%SystemDrive%\Users\alice", "%SystemRoot%\ServiceProfiles\LocalService")
// as a path below the installation's folder, whose drive it is; "" when it
// names anything else.
std::string BelowInstallation(std::string path, const std::string& systemRoot) {
  if (StartsWithNoCase(path, "%SystemRoot%")) {
    path = systemRoot + path.substr(std::strlen("%SystemRoot%"));
  }
  if (StartsWithNoCase(path, "%SystemDrive%")) {
    path = path.substr(std::strlen("%SystemDrive%"));
  } else if (path.size() >= 2 && path[1] == ':') {
    path = path.substr(2);
  }
  if (path.find('%') != std::string::npos) return "";
  return path;
}

}  // namespace

std::string FindBelow(const std::string& root, const std::string& windowsPath) {
  std::string path = root;
  for (const std::string& part : SplitWindowsPath(windowsPath)) {
    const std::string entry = EntryNamed(path, part);
    if (entry.empty()) return "";
    path += "/" + entry;
  }
  return path;
}

std::vector<HiveMount> UserHives(const std::string& root, hive_h* software,
                                 std::vector<std::string>& notes) {
  std::vector<HiveMount> mounts;
  const hive_node_h currentVersion =
      NodeAt(software, hivex_root(software), "Microsoft\\Windows NT\\CurrentVersion");
  std::string systemRoot =
      BelowInstallation(StringValue(software, currentVersion, "SystemRoot"), "\\Windows");
  if (systemRoot.empty()) systemRoot = "\\Windows";
  const hive_node_h list = NodeAt(software, currentVersion, "ProfileList");
  if (list == 0) return mounts;
  const HivexOwned<hive_node_h> profiles(hivex_node_children(software, list));
  for (const hive_node_h* profile = profiles.get(); profile != nullptr && *profile != 0;
       ++profile) {
    std::string sid;
    if (!NodeName(software, *profile, sid) || sid.empty() ||
        sid.find_first_of(std::string("\\\0", 2)) != std::string::npos) {
      continue;
    }
    const std::string image = StringValue(software, *profile, "ProfileImagePath");
    const std::string below = BelowInstallation(image, systemRoot);
    if (below.empty()) {
      notes.push_back("profile " + sid + " (" + image +
                      ") is not on this installation's drive: passed over");
      continue;
    }
    const std::string folder = FindBelow(root, below);
    const struct {
      const char* file;
      std::string key;
    } hives[] = {
        {"NTUSER.DAT", "HKEY_USERS\\" + sid},
        {"AppData\\Local\\Microsoft\\Windows\\UsrClass.dat", "HKEY_USERS\\" + sid + "_Classes"}};
    for (const auto& hive : hives) {
      const std::string path = folder.empty() ? "" : FindBelow(folder, hive.file);
      if (path.empty()) {
        // Service profiles and users who never ran a program with classes of
        // their own have no UsrClass.dat: only a missing NTUSER.DAT is news.
        if (&hive == &hives[0]) {
          notes.push_back("no NTUSER.DAT in the profile of " + sid + " (" + image +
                          "): passed over");
        }
        continue;
      }
      mounts.push_back({path, path.substr(root.size() + 1), hive.key});
    }
  }
  return mounts;
}

unsigned AnsiCodePage(hive_h* system) {
  const hive_node_h root = hivex_root(system);
  const hive_node_h select = NodeAt(system, root, "Select");
  const hive_value_h current = select != 0 ? hivex_node_get_value(system, select, "Current") : 0;
  if (current == 0) return 0;
  errno = 0;
  const std::int32_t number = hivex_value_dword(system, current);
  if (errno != 0 || number <= 0 || number > 999) return 0;
  char controlSet[32];
  std::snprintf(controlSet, sizeof controlSet, "ControlSet%03d", static_cast<int>(number));
  const hive_node_h codePage =
      NodeAt(system, root, std::string(controlSet) + "\\Control\\Nls\\CodePage");
  const std::string acp = StringValue(system, codePage, "ACP");
  char* end = nullptr;
  const unsigned long value = std::strtoul(acp.c_str(), &end, 10);
  if (acp.empty() || *end != '\0' || value > 65535) return 0;
  return static_cast<unsigned>(value);
}

}  // namespace offline
