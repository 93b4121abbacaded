// An emulated Windows registry: four independent root trees behind the seven
// registry and version operations, with the contracts Windows gives them.
//
// Names are kept as Windows keeps them, in UTF-16, and the 8-bit operations
// convert them through the registry's ANSI code page (code_page.h): a name
// with characters the page does not hold is delivered with '?' in their
// place, and a name passed in is converted back before it is looked up, so
// that "?????" finds only a key really named so. Sizes count the bytes of the
// converted name; the limit of 255 on a name counts UTF-16 units.
//
// It is also a test instrument. A case is set up as plain data: keys by path,
// the rights each key grants, the platform family, the code page, and faults
// that make a chosen call of a chosen operation fail. Afterwards a test reads
// the keys that remain, the calls that were made and the handles still open.
// Paths at this interface (AddKey, FindKey, PathOf, KeyPaths, the trace) are
// UTF-8.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "emulation/code_page.h"
#include "emulation/handle_table.h"
#include "emulation/instruments.h"
#include "emulation/key_tree.h"
#include "platform/registry_api.h"

namespace emulation {

enum class Family { Nt, Windows9x };

// Disposition values of RegCreateKeyExA.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// One name of a path: where it starts, how many UTF-16 units it has.
struct NameSpan {
  std::size_t start;
  std::size_t length;
};

class EmulatedRegistry {
 public:
  explicit EmulatedRegistry(Family family = Family::Nt, CodePage codePage = CodePage::Windows1252);
  EmulatedRegistry(const EmulatedRegistry&) = delete;
  EmulatedRegistry& operator=(const EmulatedRegistry&) = delete;

  // ---- Setting up a case ----

  // Adds the key at `path` ("HKEY_CURRENT_USER\Software\Foo", UTF-8), with
  // any missing keys above it. Returns the key, or null for a path that is
  // not UTF-8, names no root key, or holds an empty name, one over 255 UTF-16
  // units or one with a NUL.
  Key* AddKey(const std::string& path);
  // The sub-key of `parent` named `name` (`length` UTF-16 units, 1 to 255,
  // no NUL), added when there is none.
  Key* AddSubKey(Key& parent, const char16_t* name, std::size_t length);
  void SetFamily(Family family) { family_ = family; }
  Family GetFamily() const { return family_; }
  // The ANSI code page of the 8-bit operations.
  void SetCodePage(CodePage codePage) { codePage_ = codePage; }
  CodePage GetCodePage() const { return codePage_; }
  // Limits the rights the key at `path` grants; false when there is none.
  bool SetAllowedAccess(const std::string& path, REGSAM allowed);
  // Makes the predefined key of root `index` stand for `key`, as
  // HKEY_CLASSES_ROOT stands for HKEY_LOCAL_MACHINE\SOFTWARE\Classes when no
  // user is logged on: opening it opens that key. Null: the predefined key
  // cannot be opened at all (ERROR_FILE_NOT_FOUND), as a root whose hive is not
  // loaded. By default each predefined key is its own root.
  void SetRootView(int index, Key* key) {
    rootViews_[index] = key;
    rootViewSet_[index] = true;
  }
  void AddFault(const Fault& fault) { instruments_.AddFault(fault); }
  // After `calls` more calls (0: no limit), every further call fails with
  // ERROR_ACCESS_DENIED (GetVersionExA with FALSE), so that a run that would
  // loop for ever ends, and CallBudgetExceeded() tells.
  void SetCallBudget(std::uint64_t calls) { instruments_.SetCallBudget(calls); }
  bool CallBudgetExceeded() const { return instruments_.CallBudgetExceeded(); }
  void EnableTrace(bool enabled) { instruments_.EnableTrace(enabled); }
  // Sleeps this long in every call, to make a run slow enough to watch.
  void SetCallDelayMicroseconds(unsigned delay) { instruments_.SetCallDelayMicroseconds(delay); }

  // Lays the keys out in memory in the order a walk of the root keys visits
  // them (each key before its sub-keys, sub-keys from the last index down),
  // so that such a walk reads memory in one direction. Drops removed keys.
  // Only while no handle is open; returns where each key went, for whoever
  // holds pointers to keys (every key that was reachable is in it).
  std::unordered_map<const Key*, Key*> Compact();

  // ---- Reading a case back ----

  // The key at `path`, or null when it does not exist (now).
  Key* FindKey(const std::string& path) const;
  bool Exists(const std::string& path) const { return FindKey(path) != nullptr; }
  // Full paths of every key below the four roots, depth first, each parent
  // before its sub-keys, sub-keys in enumeration order.
  std::vector<std::string> KeyPaths() const;
  std::string PathOf(const Key& key) const;
  std::size_t OpenHandleCount() const { return handles_.OpenCount(); }
  std::uint64_t CallCount(Operation operation) const { return instruments_.CallCount(operation); }
  const std::vector<TraceEntry>& Trace() const { return instruments_.Trace(); }
  // Paths of the keys that RemoveEntryFirst faults took away.
  const std::vector<std::string>& RemovedByFaults() const { return removedByFaults_; }
  // Every key added, removed ones included (Compact drops those).
  const std::deque<Key>& AllKeys() const { return keys_; }
  Key& RootKey(int index) { return roots_[index]; }
  const Key& RootKey(int index) const { return roots_[index]; }
  static constexpr int ROOT_COUNT = 4;
  static const char* RootName(int index);

  // ---- The operations, with the Windows contracts ----

  LONG OpenKey(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
  LONG CreateKey(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                 REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
  LONG QueryInfoKey(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved, LPDWORD subKeys,
                    LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                    LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                    LPDWORD securityDescriptorSize, PFILETIME lastWriteTime);
  LONG EnumKey(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
               LPSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime);
  LONG DeleteKey(HKEY key, LPCSTR subKey);
  LONG CloseKey(HKEY key);
  BOOL GetVersion(LPOSVERSIONINFOA info);

 private:
  struct Resolved {
    Key* key = nullptr;
    REGSAM access = 0;
    LONG status = ERROR_SUCCESS;
  };

  Resolved ResolveHandle(HKEY key) const;
  // Begins a call on the key `named` (null: none) with the sub-key name or
  // index it passes: counts it and returns the fault that applies, or null.
  const Fault* BeginCall(Operation operation, const Key* named, const char* subKey = nullptr,
                         DWORD index = 0);
  // Converts `subKey` (an 8-bit name or a path of names) into `path_` and
  // splits it into `names_`: ERROR_SUCCESS, ERROR_BAD_PATHNAME for a leading
  // backslash, ERROR_INVALID_PARAMETER for an empty or too long name.
  LONG SplitSubKey(LPCSTR subKey);
  // Walks `subKey` from `from`.
  LONG Walk(Key* from, LPCSTR subKey, Key*& found);
  Key* NewKey(Key& parent, const char16_t* name, std::size_t length);
  void RemoveTree(Key& key);
  // Adds the call to the trace, when it is kept: `key` is what the handle
  // argument named when the call began (null when it named nothing).
  void Record(Operation operation, const Key* key, const char* name, DWORD index, LONG status,
              REGSAM access = 0);

  Family family_;
  CodePage codePage_;
  // Scratch for a name passed in and the names of its path, reused from
  // call to call.
  std::u16string path_;
  std::vector<NameSpan> names_;
  Key roots_[ROOT_COUNT];
  Key* rootViews_[ROOT_COUNT] = {};
  bool rootViewSet_[ROOT_COUNT] = {};
  std::deque<Key> keys_;
  HandleTable handles_;
  Instruments instruments_;
  std::vector<std::string> removedByFaults_;
};

// The registry that the seven operations of this process reach.
void SetActiveRegistry(EmulatedRegistry* registry);
EmulatedRegistry* ActiveRegistry();

// Makes `registry` the active one for the scope's lifetime.
class ActiveRegistryScope {
 public:
  explicit ActiveRegistryScope(EmulatedRegistry& registry) : previous_(ActiveRegistry()) {
    SetActiveRegistry(&registry);
  }
  ~ActiveRegistryScope() { SetActiveRegistry(previous_); }
  ActiveRegistryScope(const ActiveRegistryScope&) = delete;
  ActiveRegistryScope& operator=(const ActiveRegistryScope&) = delete;

 private:
  EmulatedRegistry* previous_;
};

}  // namespace emulation
