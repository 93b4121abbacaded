// Where the registry of a Windows installation lives in its folder, and what
// it says of itself: which hive files make up the root keys a live run sees,
// and its ANSI code page.
#pragma once

#include <string>
#include <vector>

#include "offline/hive_file.h"

namespace offline {

// A path below `root` given in Windows form ("Windows\System32\config"),
// found without regard to case as Windows finds it; "" when it is not there.
std::string FindBelow(const std::string& root, const std::string& windowsPath);

// One hive file and the key it is mounted as in a live registry.
struct HiveMount {
  // The file, and its name below the installation's folder for messages.
  std::string path;
  std::string name;
  // "HKEY_LOCAL_MACHINE\SOFTWARE", "HKEY_USERS\S-1-5-21-...", ...
  std::string keyPath;
};

// The user hives of every profile that the SOFTWARE hive lists
// (Microsoft\Windows NT\CurrentVersion\ProfileList): for each, its NTUSER.DAT
// as HKEY_USERS\SID and its UsrClass.dat as HKEY_USERS\SID_Classes, where the
// files exist. `notes` receives a line for each profile or file passed over.
std::vector<HiveMount> UserHives(const std::string& root, hive_h* software,
                                 std::vector<std::string>& notes);

// The ANSI code page the SYSTEM hive sets for the current control set
// (Select\Current, ControlSetNNN\Control\Nls\CodePage, value ACP); 0 when
// it does not say.
unsigned AnsiCodePage(hive_h* system);

}  // namespace offline
