#include "emulation/handle_table.h"

namespace emulation {
namespace {

constexpr unsigned SLOT_SHIFT = 2;
constexpr unsigned GENERATION_SHIFT = 24;
constexpr ULONG_PTR SLOT_LIMIT = ULONG_PTR{1} << (GENERATION_SHIFT - SLOT_SHIFT);
constexpr ULONG_PTR GENERATION_MASK = 0x7F;

HKEY Encode(std::uint32_t slot, std::uint8_t generation) {
  return reinterpret_cast<HKEY>((static_cast<ULONG_PTR>(generation) << GENERATION_SHIFT) |
                                (static_cast<ULONG_PTR>(slot + 1) << SLOT_SHIFT));
}

}  // namespace

HKEY HandleTable::Open(Key* key, REGSAM access) {
  std::uint32_t slot;
  if (!free_.empty()) {
    slot = free_.back();
    free_.pop_back();
  } else {
    slot = static_cast<std::uint32_t>(slots_.size());
    slots_.emplace_back();
  }
  Slot& entry = slots_[slot];
  entry.entry = {key, access};
  entry.open = true;
  entry.generation = static_cast<std::uint8_t>((entry.generation + 1) & GENERATION_MASK);
  ++openCount_;
  return Encode(slot, entry.generation);
}

std::ptrdiff_t HandleTable::SlotOf(HKEY handle) const {
  const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(handle);
  const ULONG_PTR slot = ((value >> SLOT_SHIFT) & (SLOT_LIMIT - 1)) - 1;
  if (value == 0 || (value & 3) != 0 || value >= 0x80000000u || slot >= slots_.size() ||
      !slots_[slot].open ||
      slots_[slot].generation != ((value >> GENERATION_SHIFT) & GENERATION_MASK)) {
    return -1;
  }
  return static_cast<std::ptrdiff_t>(slot);
}

const HandleTable::Entry* HandleTable::Find(HKEY handle) const {
  const std::ptrdiff_t slot = SlotOf(handle);
  return slot < 0 ? nullptr : &slots_[static_cast<std::size_t>(slot)].entry;
}

bool HandleTable::Close(HKEY handle) {
  const std::ptrdiff_t slot = SlotOf(handle);
  if (slot < 0) return false;
  Slot& entry = slots_[static_cast<std::size_t>(slot)];
  entry.open = false;
  entry.entry = {};
  free_.push_back(static_cast<std::uint32_t>(slot));
  --openCount_;
  return true;
}

}  // namespace emulation
