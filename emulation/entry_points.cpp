// The seven operations as the cleaner calls them, by their Windows names,
// answered by the registry made active for the process (none: every call
// fails with ERROR_INVALID_HANDLE).
#include "emulation/emulated_registry.h"

namespace emulation {

namespace {
EmulatedRegistry* activeRegistry = nullptr;
}

void SetActiveRegistry(EmulatedRegistry* registry) {
  activeRegistry = registry;
}
EmulatedRegistry* ActiveRegistry() {
  return activeRegistry;
}

}  // namespace emulation

// The seven operations, as the cleaner calls them.
using emulation::ActiveRegistry;

extern "C" {

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
  if (ActiveRegistry() == nullptr) return ERROR_INVALID_HANDLE;
  return ActiveRegistry()->OpenKey(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                            DWORD dwOptions, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
  if (ActiveRegistry() == nullptr) return ERROR_INVALID_HANDLE;
  return ActiveRegistry()->CreateKey(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                     lpSecurityAttributes, phkResult, lpdwDisposition);
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                             LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                             LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                             PFILETIME lpftLastWriteTime) {
  if (ActiveRegistry() == nullptr) return ERROR_INVALID_HANDLE;
  return ActiveRegistry()->QueryInfoKey(
      hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen,
      lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
  if (ActiveRegistry() == nullptr) return ERROR_INVALID_HANDLE;
  return ActiveRegistry()->EnumKey(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass,
                                   lpcchClass, lpftLastWriteTime);
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (ActiveRegistry() == nullptr) return ERROR_INVALID_HANDLE;
  return ActiveRegistry()->DeleteKey(hKey, lpSubKey);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  if (ActiveRegistry() == nullptr) return ERROR_INVALID_HANDLE;
  return ActiveRegistry()->CloseKey(hKey);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (ActiveRegistry() == nullptr) return FALSE;
  return ActiveRegistry()->GetVersion(lpVersionInformation);
}

}  // extern "C"
