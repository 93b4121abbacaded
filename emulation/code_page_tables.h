// The data behind the emulated registry's names: what each byte of an ANSI
// code page stands for, and the upper case of each UTF-16 character.
// Written by make_code_page_tables.py; see there for where it comes from.
#pragma once

#include <cstddef>
#include <cstdint>

namespace emulation {

// The characters of the bytes 0x80 to 0xFF of the single-byte pages.
extern const char16_t CP1252_HIGH_HALF[128];
extern const char16_t CP1251_HIGH_HALF[128];

// Page 932: the single bytes 0x80 to 0xFF (0 for a lead byte or a byte
// without a character), and the double bytes by lead byte (0x81 to 0x9F,
// 0xE0 to 0xFC) and trail byte (0x40 to 0xFC without 0x7F), 0 where a pair
// stands for no character.
extern const char16_t CP932_SINGLE_HIGH_HALF[128];
constexpr std::size_t CP932_LEAD_COUNT = 60;
constexpr std::size_t CP932_TRAIL_COUNT = 188;
extern const char16_t CP932_DOUBLE[CP932_LEAD_COUNT * CP932_TRAIL_COUNT];
// Byte pairs that read as a character Windows writes with another pair,
// in ascending order.
constexpr std::size_t CP932_NOT_WRITTEN_COUNT = 398;
extern const std::uint16_t CP932_NOT_WRITTEN[CP932_NOT_WRITTEN_COUNT];

// (character << 16 | its upper case) for each BMP character that has one.
constexpr std::size_t UPPER_CASE_PAIR_COUNT = 1163;
extern const std::uint32_t UPPER_CASE_PAIRS[UPPER_CASE_PAIR_COUNT];

}  // namespace emulation
