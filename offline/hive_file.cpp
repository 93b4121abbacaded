#include "offline/hive_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace offline {
namespace {

// The hive's base block: the first 4 KiB of the file.
constexpr std::size_t BASE_BLOCK_SIZE = 4096;
constexpr std::size_t PRIMARY_SEQUENCE = 4;
constexpr std::size_t SECONDARY_SEQUENCE = 8;

// Offsets inside cells: a cell starts with its 4-byte size, then its record.
// Offsets stored in records count from the end of the base block.
constexpr std::size_t RECORD = 4;
constexpr std::size_t KEY_SUB_KEY_LIST = RECORD + 28;
constexpr std::size_t LIST_COUNT = RECORD + 2;
constexpr std::size_t LIST_ENTRIES = RECORD + 4;

std::uint32_t ReadU32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

std::uint16_t ReadU16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// Whether `length` bytes from `at` lie inside the file.
bool Inside(const std::string& bytes, std::size_t at, std::size_t length) {
  return at <= bytes.size() && length <= bytes.size() - at;
}

// The file offset of the cell a record's offset names, or 0 when it is none.
std::size_t CellAt(const std::string& bytes, std::uint32_t stored) {
  if (stored == 0xFFFFFFFFu) return 0;
  const std::size_t at = BASE_BLOCK_SIZE + stored;
  return Inside(bytes, at, LIST_ENTRIES) ? at : 0;
}

bool SignatureIs(const std::string& bytes, std::size_t cell, const char* signature) {
  return bytes[cell + RECORD] == signature[0] && bytes[cell + RECORD + 1] == signature[1];
}

// Where the list at `list` links `child`: its signature ("lf", "lh", "li"),
// found through an "ri" index too; "" when the list does not hold it.
std::string ListHolding(const std::string& bytes, std::size_t list, hive_node_h child, int depth) {
  const std::size_t count = ReadU16(bytes, list + LIST_COUNT);
  const bool leaf = SignatureIs(bytes, list, "lf") || SignatureIs(bytes, list, "lh");
  const bool index = SignatureIs(bytes, list, "ri");
  const bool plain = SignatureIs(bytes, list, "li");
  const std::size_t entrySize = leaf ? 8 : 4;
  if ((!leaf && !index && !plain) || !Inside(bytes, list + LIST_ENTRIES, count * entrySize)) {
    return "";
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t stored = ReadU32(bytes, list + LIST_ENTRIES + i * entrySize);
    if (index) {
      const std::size_t sublist = CellAt(bytes, stored);
      if (sublist == 0 || depth > 0) continue;
      std::string found = ListHolding(bytes, sublist, child, depth + 1);
      if (!found.empty()) return found;
    } else if (BASE_BLOCK_SIZE + stored == child) {
      return leaf ? "lf" : "li";
    }
  }
  return "";
}

}  // namespace

bool NodeName(hive_h* hive, hive_node_h node, std::string& name) {
  const HivexOwned<char> text(hivex_node_name(hive, node));
  if (text == nullptr) return false;
  name.assign(text.get(), hivex_node_name_len(hive, node));
  return true;
}

bool OpenHive(const std::string& path, const std::string& name, bool readOnly, HiveFile& hive,
              std::string& error) {
  hive.name = name;
  if (!emulation::OpenStore(
          path, hive.file, error,
          readOnly ? emulation::StoreAccess::ReadOnly : emulation::StoreAccess::ReadWrite)) {
    return false;
  }
  const std::string& bytes = hive.file.content;
  if (bytes.size() < BASE_BLOCK_SIZE + 32 || bytes.compare(0, 4, "regf") != 0) {
    error = "not a registry hive (no \"regf\" header)";
    return false;
  }
  if (ReadU32(bytes, PRIMARY_SEQUENCE) != ReadU32(bytes, SECONDARY_SEQUENCE)) {
    error =
        "the hive is dirty: its latest changes are only in its transaction logs (.LOG1, .LOG2), "
        "which this program cannot replay, and cleaning it would lose them. Start that Windows "
        "and shut it down fully (with Fast Startup off, or \"shutdown /s /t 0\"), or let Windows "
        "load the hive once; then run again. Nothing was written";
    return false;
  }
  hive.handle = hivex_open(hive.file.path.c_str(), readOnly ? 0 : HIVEX_OPEN_WRITE);
  if (hive.handle == nullptr) {
    error = std::string("hivex cannot open it: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void CloseHive(HiveFile& hive) {
  if (hive.handle != nullptr) hivex_close(hive.handle);
  hive.handle = nullptr;
}

bool CanRemoveChild(const HiveFile& hive, hive_node_h parent, hive_node_h child,
                    std::string& error) {
  const std::string& bytes = hive.file.content;
  if (!Inside(bytes, parent, KEY_SUB_KEY_LIST + 4) || !SignatureIs(bytes, parent, "nk")) {
    error = "its parent is not a key record";
    return false;
  }
  const std::size_t list = CellAt(bytes, ReadU32(bytes, parent + KEY_SUB_KEY_LIST));
  const std::string kind = list == 0 ? "" : ListHolding(bytes, list, child, 0);
  if (kind == "lf") return true;
  error = kind.empty() ? "its parent's sub-key list does not link it"
                       : "its parent lists it in an \"" + kind +
                             "\" sub-key list, which hivex cannot remove it from safely";
  return false;
}

}  // namespace offline
