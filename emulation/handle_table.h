// The open key handles of the emulated registry: the key each names and the
// access it was opened with.
//
// A handle's value holds its slot number and a 7-bit generation that changes
// each time the slot is reused, so that a stale handle to a reused slot is
// told apart from the new one. Values are multiples of 4 below 0x80000000,
// where the predefined keys start, and never 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/registry_api.h"

namespace emulation {

struct Key;

class HandleTable {
 public:
  struct Entry {
    Key* key = nullptr;
    REGSAM access = 0;
  };

  // A new open handle to `key`.
  HKEY Open(Key* key, REGSAM access);
  // The entry of `handle` while it is open; null for any other value.
  const Entry* Find(HKEY handle) const;
  // Releases `handle`; false when it is not an open handle.
  bool Close(HKEY handle);
  std::size_t OpenCount() const { return openCount_; }

 private:
  struct Slot {
    Entry entry;
    std::uint8_t generation = 0;
    bool open = false;
  };
  // The slot `handle` names while open, or -1.
  std::ptrdiff_t SlotOf(HKEY handle) const;

  std::vector<Slot> slots_;
  std::vector<std::uint32_t> free_;
  std::size_t openCount_ = 0;
};

}  // namespace emulation
