#include "emulation/sample_registry.h"

#include <cstdio>
#include <string>

namespace emulation {
namespace {

std::string Numbered(const char* format, int number) {
  char text[64];
  std::snprintf(text, sizeof text, format, number);
  return text;
}

}  // namespace

void BuildSampleRegistry(EmulatedRegistry& registry) {
  const char* const vendors[] = {"Adobe",    "Contoso", "Fabrikam",  "Northwind",
                                 "Tailspin", "Litware", "Proseware", "Wingtip"};

  // Ordinary content: file types and classes, per-user and machine-wide
  // software settings, services, and a second user profile.
  for (int i = 0; i < 450; ++i) {
    registry.AddKey("HKEY_CLASSES_ROOT\\" + Numbered(".x%03d", i) + "\\OpenWithProgids");
    registry.AddKey("HKEY_CLASSES_ROOT\\CLSID\\" +
                    Numbered("{%08X-0000-4000-8000-00C04FD430C8}", 0x10000 + i * 7919) +
                    "\\InprocServer32");
  }
  for (const char* vendor : vendors) {
    for (int product = 0; product < 24; ++product) {
      const std::string path = std::string("HKEY_CURRENT_USER\\Software\\") + vendor +
                               Numbered("\\Product %02d", product);
      registry.AddKey(path + "\\Settings\\Window");
      registry.AddKey(path + "\\Recent Files");
      const std::string machine = std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\") + vendor +
                                  Numbered("\\Product %02d", product);
      registry.AddKey(machine + "\\Install\\Components");
      registry.AddKey(machine + "\\Licensing");
    }
  }
  for (int i = 0; i < 300; ++i) {
    registry.AddKey("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" +
                    Numbered("Service%03d", i) + "\\Parameters");
    registry.AddKey("HKEY_USERS\\S-1-5-21-1004\\Software\\" + Numbered("Application %03d", i) +
                    "\\Options");
  }
  for (int i = 0; i < 60; ++i) {
    registry.AddKey(
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
        "Uninstall\\" +
        Numbered("{%08X-1111-4000-8000-00C04FD430C8}", 0x20000 + i * 104729));
  }
  registry.AddKey("HKEY_USERS\\.DEFAULT\\Control Panel\\Desktop");

  // What Quillorbex left behind: all of it goes.
  registry.AddKey("HKEY_CLASSES_ROOT\\Quillorbex.Document\\shell\\open\\command");
  registry.AddKey("HKEY_CLASSES_ROOT\\Quillorbex.Document\\DefaultIcon");
  registry.AddKey("HKEY_CLASSES_ROOT\\QUILLORBEX.Project.1\\CLSID");
  registry.AddKey("HKEY_CURRENT_USER\\Software\\Quillorbex\\Settings\\Recent");
  registry.AddKey("HKEY_CURRENT_USER\\Software\\Quillorbex\\Licence");
  registry.AddKey("HKEY_CURRENT_USER\\Software\\Classes\\quillorbexfile\\shell");
  registry.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillorbex Labs\\Quillorbex\\2.4\\Plugins");
  registry.AddKey(
      "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\QuillorbexUpdate"
      "\\Parameters");
  registry.AddKey("HKEY_USERS\\S-1-5-21-1004\\Software\\Quillorbex\\Settings");

  // What stays: an uninstall entry, and names that only look alike.
  registry.AddKey(
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
      "Uninstall\\Quillorbex");
  registry.AddKey("HKEY_CURRENT_USER\\Software\\MyQuillorbex Notes");
  registry.AddKey("HKEY_CURRENT_USER\\Software\\Quillorbe");
}

}  // namespace emulation
