#include "emulation/emulated_registry.h"

#include <algorithm>
#include <cstring>

#include "emulation/unicode_text.h"

namespace emulation {
namespace {

const char* const ROOT_NAMES[EmulatedRegistry::ROOT_COUNT] = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

int PredefinedIndex(HKEY key) {
  const HKEY predefined[EmulatedRegistry::ROOT_COUNT] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
                                                         HKEY_LOCAL_MACHINE, HKEY_USERS};
  for (int i = 0; i < EmulatedRegistry::ROOT_COUNT; ++i) {
    if (key == predefined[i]) return i;
  }
  return -1;
}

bool IsRoot(const Key& key) {
  return key.parent == nullptr;
}

// Splits `path` from `start` at its backslashes into `names` (a backslash at
// the end is allowed, as Windows allows it). False for an empty name, one
// over 255 UTF-16 units or one holding a NUL.
bool SplitNames(const std::u16string& path, std::size_t start, std::vector<NameSpan>& names) {
  names.clear();
  while (start < path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    const std::size_t length = end - start;
    if (KeyNameProblem(path.data() + start, length) != NameProblem::None) return false;
    names.push_back({start, length});
    start = end + 1;
  }
  return true;
}

// The names of the root keys in UTF-16.
const std::u16string& RootNameUnits(int index) {
  static const struct RootNames {
    std::u16string names[EmulatedRegistry::ROOT_COUNT];
    RootNames() {
      for (int i = 0; i < EmulatedRegistry::ROOT_COUNT; ++i) {
        for (const char* c = ROOT_NAMES[i]; *c != '\0'; ++c) {
          names[i].push_back(static_cast<char16_t>(*c));
        }
      }
    }
  } roots;
  return roots.names[index];
}

// A UTF-8 path of this interface in UTF-16 `units`, split into `names`
// below its root key. Returns the root key's index, or -1 for a path that is
// not UTF-8, names no root key or holds a name that cannot be.
int ParsePath(const std::string& path, std::u16string& units, std::vector<NameSpan>& names) {
  if (!Utf8ToUtf16(path, units)) return -1;
  const std::size_t rootEnd = units.find(u'\\');
  const std::size_t rootLength = rootEnd == std::u16string::npos ? units.size() : rootEnd;
  for (int i = 0; i < EmulatedRegistry::ROOT_COUNT; ++i) {
    if (units.compare(0, rootLength, RootNameUnits(i)) == 0) {
      const std::size_t start = rootEnd == std::u16string::npos ? units.size() : rootEnd + 1;
      return SplitNames(units, start, names) ? i : -1;
    }
  }
  return -1;
}

}  // namespace

const char* EmulatedRegistry::RootName(int index) {
  return ROOT_NAMES[index];
}

EmulatedRegistry::EmulatedRegistry(Family family, CodePage codePage)
    : family_(family), codePage_(codePage) {
  for (int i = 0; i < ROOT_COUNT; ++i) {
    roots_[i].name.assign(RootNameUnits(i).data(), RootNameUnits(i).size());
  }
}

Key* EmulatedRegistry::AddKey(const std::string& path) {
  std::u16string units;
  std::vector<NameSpan> names;
  const int root = ParsePath(path, units, names);
  if (root < 0) return nullptr;
  Key* key = &roots_[root];
  for (const NameSpan& name : names) key = AddSubKey(*key, units.data() + name.start, name.length);
  return key;
}

Key* EmulatedRegistry::AddSubKey(Key& parent, const char16_t* name, std::size_t length) {
  Key* found = FindSubKey(parent, name, length);
  return found != nullptr ? found : NewKey(parent, name, length);
}

Key* EmulatedRegistry::NewKey(Key& parent, const char16_t* name, std::size_t length) {
  keys_.emplace_back();
  Key& key = keys_.back();
  key.name.assign(name, length);
  LinkSubKey(parent, key);
  return &key;
}

std::unordered_map<const Key*, Key*> EmulatedRegistry::Compact() {
  std::unordered_map<const Key*, Key*> moved;
  if (handles_.OpenCount() != 0) return moved;
  moved.reserve(keys_.size() + ROOT_COUNT);
  for (Key& root : roots_) moved[&root] = &root;
  std::deque<Key> compacted;
  std::vector<Key*> stack;
  for (Key& root : roots_) {
    // Sub-keys pushed first to last, so that the last index comes off first.
    ForEachSubKey(root, [&](const Key& child) { stack.push_back(const_cast<Key*>(&child)); });
    while (!stack.empty()) {
      Key* key = stack.back();
      stack.pop_back();
      ForEachSubKey(*key, [&](const Key& child) { stack.push_back(const_cast<Key*>(&child)); });
      // Everything moves but the index array and the entry last read,
      // which point at keys' old places; both are made again when needed.
      compacted.push_back(std::move(*key));
      Key& copy = compacted.back();
      copy.slots.reset();
      copy.lastRead = nullptr;
      moved[key] = &copy;
    }
  }
  auto relink = [&moved](Key*& link) {
    if (link != nullptr) link = moved.at(link);
  };
  for (Key& key : compacted) {
    relink(key.parent);
    relink(key.children);
    relink(key.left);
    relink(key.right);
  }
  for (Key& root : roots_) {
    relink(root.children);
    root.slots.reset();
    root.lastRead = nullptr;
  }
  keys_.swap(compacted);
  return moved;
}

bool EmulatedRegistry::SetAllowedAccess(const std::string& path, REGSAM allowed) {
  Key* key = FindKey(path);
  if (key == nullptr) return false;
  key->allowedAccess = allowed;
  return true;
}

Key* EmulatedRegistry::FindKey(const std::string& path) const {
  std::u16string units;
  std::vector<NameSpan> names;
  const int root = ParsePath(path, units, names);
  if (root < 0) return nullptr;
  const Key* key = &roots_[root];
  for (const NameSpan& name : names) {
    key = FindSubKey(*key, units.data() + name.start, name.length);
    if (key == nullptr) return nullptr;
  }
  return const_cast<Key*>(key);
}

std::string EmulatedRegistry::PathOf(const Key& key) const {
  if (key.parent == nullptr) return ROOT_NAMES[&key - roots_];
  std::string path = PathOf(*key.parent);
  path += '\\';
  AppendUtf8(key.name.data(), key.name.size(), path);
  return path;
}

std::vector<std::string> EmulatedRegistry::KeyPaths() const {
  std::vector<std::string> paths;
  struct Walker {
    std::vector<std::string>& out;
    void Visit(const Key& key, const std::string& path) {
      ForEachSubKey(key, [&](const Key& child) {
        std::string childPath = path + "\\";
        AppendUtf8(child.name.data(), child.name.size(), childPath);
        out.push_back(childPath);
        Visit(child, childPath);
      });
    }
  };
  Walker walker{paths};
  for (const Key& root : roots_) {
    walker.Visit(root, ROOT_NAMES[&root - roots_]);
  }
  return paths;
}

const Fault* EmulatedRegistry::BeginCall(Operation operation, const Key* named, const char* subKey,
                                         DWORD index) {
  std::string path;
  const bool aimed = instruments_.AimsAtKeys() && named != nullptr;
  if (aimed) path = PathOf(*named);
  return instruments_.BeginCall({operation, aimed ? &path : nullptr, subKey, index});
}

EmulatedRegistry::Resolved EmulatedRegistry::ResolveHandle(HKEY key) const {
  Resolved resolved;
  const int root = PredefinedIndex(key);
  if (root >= 0) {
    // A predefined key is used with whatever rights its key grants.
    Key* view = rootViewSet_[root] ? rootViews_[root] : const_cast<Key*>(&roots_[root]);
    if (view == nullptr) {
      resolved.status = ERROR_FILE_NOT_FOUND;
      return resolved;
    }
    resolved.key = view;
    resolved.access = view->allowedAccess;
    return resolved;
  }
  const HandleTable::Entry* entry = handles_.Find(key);
  if (entry == nullptr) {
    resolved.status = ERROR_INVALID_HANDLE;
    return resolved;
  }
  resolved.key = entry->key;
  resolved.access = entry->access;
  if (resolved.key->removed) resolved.status = ERROR_KEY_DELETED;
  return resolved;
}

LONG EmulatedRegistry::SplitSubKey(LPCSTR subKey) {
  // The name is converted to UTF-16 first and only then split: in a
  // double-byte page the byte 0x5C ('\') is also the trail byte of many
  // characters.
  path_.clear();
  AppendDecodedAnsi(subKey, std::strlen(subKey), codePage_, path_);
  if (!path_.empty() && path_[0] == u'\\') return ERROR_BAD_PATHNAME;
  return SplitNames(path_, 0, names_) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

LONG EmulatedRegistry::Walk(Key* from, LPCSTR subKey, Key*& found) {
  found = from;
  if (subKey == nullptr) return ERROR_SUCCESS;
  const LONG status = SplitSubKey(subKey);
  if (status != ERROR_SUCCESS) return status;
  for (const NameSpan& name : names_) {
    found = FindSubKey(*found, path_.data() + name.start, name.length);
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
  }
  return ERROR_SUCCESS;
}

void EmulatedRegistry::RemoveTree(Key& key) {
  UnlinkSubKey(key);
  // The removed keys keep their names and parents, so that handles still
  // open on them can answer ERROR_KEY_DELETED; they are no longer reachable.
  struct Marker {
    static void Mark(Key& node) {
      node.removed = true;
      ForEachSubKey(node, [](const Key& child) { Mark(const_cast<Key&>(child)); });
    }
  };
  Marker::Mark(key);
}

void EmulatedRegistry::Record(Operation operation, const Key* key, const char* name, DWORD index,
                              LONG status, REGSAM access) {
  if (!instruments_.Tracing()) return;
  instruments_.Record(TraceEntry{operation, key != nullptr ? PathOf(*key) : "",
                                 name != nullptr ? name : "", index, status, access});
}

LONG EmulatedRegistry::OpenKey(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  const Key* named = ResolveHandle(key).key;
  LONG status = ERROR_SUCCESS;
  if (const Fault* fault = BeginCall(Operation::RegOpenKeyExA, named, subKey)) {
    status = fault->status;
  } else if (result == nullptr) {
    status = ERROR_INVALID_PARAMETER;
  } else {
    const Resolved parent = ResolveHandle(key);
    Key* target = nullptr;
    status = parent.status != ERROR_SUCCESS ? parent.status : Walk(parent.key, subKey, target);
    if (status == ERROR_SUCCESS && (access & ~target->allowedAccess) != 0) {
      status = ERROR_ACCESS_DENIED;
    }
    if (status == ERROR_SUCCESS) *result = handles_.Open(target, access);
  }
  Record(Operation::RegOpenKeyExA, named, subKey, 0, status, access);
  return status;
}

LONG EmulatedRegistry::CreateKey(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access,
                                 LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  const Key* named = ResolveHandle(key).key;
  LONG status = ERROR_SUCCESS;
  if (const Fault* fault = BeginCall(Operation::RegCreateKeyExA, named, subKey)) {
    status = fault->status;
  } else if (result == nullptr || subKey == nullptr) {
    status = ERROR_INVALID_PARAMETER;
  } else {
    const Resolved parent = ResolveHandle(key);
    status = parent.status;
    Key* target = parent.key;
    bool created = false;
    if (status == ERROR_SUCCESS) status = SplitSubKey(subKey);
    for (std::size_t i = 0; status == ERROR_SUCCESS && i < names_.size(); ++i) {
      const char16_t* name = path_.data() + names_[i].start;
      Key* next = FindSubKey(*target, name, names_[i].length);
      if (next == nullptr) {
        // Creating needs the right to add sub-keys, checked against what the
        // key above grants, not against the access of the handle: a handle
        // opened with DELETE | KEY_ENUMERATE_SUB_KEYS creates keys all the
        // same where the key allows it.
        if ((target->allowedAccess & KEY_CREATE_SUB_KEY) == 0) {
          status = ERROR_ACCESS_DENIED;
          break;
        }
        next = NewKey(*target, name, names_[i].length);
        created = true;
      }
      target = next;
    }
    if (status == ERROR_SUCCESS && (access & ~target->allowedAccess) != 0) {
      status = ERROR_ACCESS_DENIED;
    }
    if (status == ERROR_SUCCESS) {
      *result = handles_.Open(target, access);
      if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
      }
    }
  }
  Record(Operation::RegCreateKeyExA, named, subKey, 0, status, access);
  return status;
}

LONG EmulatedRegistry::QueryInfoKey(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD,
                                    LPDWORD subKeys, LPDWORD maxSubKeyLength,
                                    LPDWORD maxClassLength, LPDWORD values,
                                    LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                    LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) {
  LONG status = ERROR_SUCCESS;
  const Resolved resolved = ResolveHandle(key);
  if (const Fault* fault = BeginCall(Operation::RegQueryInfoKeyA, resolved.key)) {
    status = fault->status;
  } else if (resolved.status != ERROR_SUCCESS) {
    status = resolved.status;
  } else if ((resolved.access & KEY_QUERY_VALUE) == 0) {
    status = ERROR_ACCESS_DENIED;
  } else if (keyClass != nullptr && (classSize == nullptr || *classSize < 1)) {
    // The emulated keys have no class: an empty one needs room for its NUL.
    status = ERROR_MORE_DATA;
  } else {
    if (keyClass != nullptr) keyClass[0] = '\0';
    if (classSize != nullptr) *classSize = 0;
    const Key& target = *resolved.key;
    if (subKeys != nullptr) *subKeys = SubKeyCount(target);
    if (maxSubKeyLength != nullptr) *maxSubKeyLength = LongestSubKeyName(target);
    if (maxClassLength != nullptr) *maxClassLength = 0;
    if (values != nullptr) *values = 0;
    if (maxValueNameLength != nullptr) *maxValueNameLength = 0;
    if (maxValueLength != nullptr) *maxValueLength = 0;
    if (securityDescriptorSize != nullptr) *securityDescriptorSize = 0;
    if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
  }
  Record(Operation::RegQueryInfoKeyA, resolved.key, nullptr, 0, status);
  return status;
}

LONG EmulatedRegistry::EnumKey(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD,
                               LPSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime) {
  LONG status = ERROR_SUCCESS;
  const Resolved resolved = ResolveHandle(key);
  const Fault* fault = BeginCall(Operation::RegEnumKeyExA, resolved.key, nullptr, index);
  if (fault != nullptr && fault->action == FaultAction::RemoveEntryFirst &&
      resolved.status == ERROR_SUCCESS) {
    if (Key* entry = SubKeyAt(*resolved.key, index)) {
      removedByFaults_.push_back(PathOf(*entry));
      RemoveTree(*entry);
    }
    fault = nullptr;
  }
  const Key* entry = nullptr;
  // The longest name, 255 UTF-16 units, in the widest page here: two bytes
  // a unit.
  char converted[MAX_KEY_NAME_LENGTH * 2];
  std::size_t length = 0;
  if (fault != nullptr) {
    status = fault->status;
  } else if (resolved.status != ERROR_SUCCESS) {
    status = resolved.status;
  } else if ((resolved.access & KEY_ENUMERATE_SUB_KEYS) == 0) {
    status = ERROR_ACCESS_DENIED;
  } else if (name == nullptr || nameSize == nullptr ||
             (keyClass != nullptr && classSize == nullptr)) {
    status = ERROR_INVALID_PARAMETER;
  } else if ((entry = SubKeyAt(*resolved.key, index)) == nullptr) {
    status = ERROR_NO_MORE_ITEMS;
  } else if ((length = EncodeAnsi(entry->name.data(), entry->name.size(), codePage_, converted)) +
                     1 >
                 *nameSize ||
             (keyClass != nullptr && *classSize < 1)) {
    // Sizes count the bytes of the converted name with the NUL on the way
    // in; the name (and the empty class) must fit whole, or nothing usable
    // is delivered.
    status = ERROR_MORE_DATA;
  } else {
    std::memcpy(name, converted, length);
    name[length] = '\0';
    *nameSize = static_cast<DWORD>(length);
    if (keyClass != nullptr) {
      keyClass[0] = '\0';
      *classSize = 0;
    }
    if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
  }
  Record(Operation::RegEnumKeyExA, resolved.key, status == ERROR_SUCCESS ? name : nullptr, index,
         status);
  return status;
}

LONG EmulatedRegistry::DeleteKey(HKEY key, LPCSTR subKey) {
  const Key* named = ResolveHandle(key).key;
  LONG status = ERROR_SUCCESS;
  if (const Fault* fault = BeginCall(Operation::RegDeleteKeyA, named, subKey)) {
    status = fault->status;
  } else if (subKey == nullptr) {
    status = ERROR_INVALID_PARAMETER;
  } else {
    const Resolved parent = ResolveHandle(key);
    Key* target = nullptr;
    status = parent.status != ERROR_SUCCESS ? parent.status : Walk(parent.key, subKey, target);
    if (status == ERROR_SUCCESS) {
      if (IsRoot(*target) || (target->allowedAccess & DELETE) == 0) {
        status = ERROR_ACCESS_DENIED;
      } else if (family_ == Family::Nt && SubKeyCount(*target) != 0) {
        // The NT family removes only a key without sub-keys.
        status = ERROR_ACCESS_DENIED;
      } else {
        RemoveTree(*target);
      }
    }
  }
  Record(Operation::RegDeleteKeyA, named, subKey, 0, status);
  return status;
}

LONG EmulatedRegistry::CloseKey(HKEY key) {
  // Resolved before the handle goes, so that the trace can name its key.
  const Resolved resolved = ResolveHandle(key);
  const Fault* fault = BeginCall(Operation::RegCloseKey, resolved.key);
  LONG status = ERROR_SUCCESS;
  if (PredefinedIndex(key) < 0) {
    if (!handles_.Close(key)) status = ERROR_INVALID_HANDLE;
  }
  // An injected failure changes only the status: the handle is released all
  // the same, as a close always releases a valid handle.
  if (fault != nullptr) status = fault->status;
  Record(Operation::RegCloseKey, resolved.key, nullptr, 0, status);
  return status;
}

BOOL EmulatedRegistry::GetVersion(LPOSVERSIONINFOA info) {
  BOOL result = FALSE;
  if (BeginCall(Operation::GetVersionExA, nullptr) == nullptr && info != nullptr &&
      (info->dwOSVersionInfoSize == 148 || info->dwOSVersionInfoSize == 156)) {
    const DWORD size = info->dwOSVersionInfoSize;
    std::memset(info, 0, size);
    info->dwOSVersionInfoSize = size;
    if (family_ == Family::Nt) {
      info->dwMajorVersion = 5;
      info->dwMinorVersion = 1;
      info->dwBuildNumber = 2600;
      info->dwPlatformId = VER_PLATFORM_WIN32_NT;
      std::strcpy(info->szCSDVersion, "Service Pack 3");
    } else {
      info->dwMajorVersion = 4;
      info->dwMinorVersion = 10;
      info->dwBuildNumber = 2222;
      info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
      std::strcpy(info->szCSDVersion, " A ");
    }
    result = TRUE;
  }
  Record(Operation::GetVersionExA, nullptr, nullptr, 0, result ? 0 : 1);
  return result;
}

}  // namespace emulation
