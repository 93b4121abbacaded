// The ANSI code pages through which the 8-bit registry calls convert names,
// as WideCharToMultiByte and MultiByteToWideChar do with their default flags.
//
// Out (UTF-16 to bytes): each character the page holds becomes its bytes
// (two for the double-byte characters of 932). The fullwidth forms of the
// ASCII characters, U+FF01 to U+FF5E, which 1252 and 1251 do not hold, become
// those ASCII characters, as Windows' and Wine's best-fit mapping has them:
// the fullwidth "Ｑｕｉｌｌｏｒｂｅｘ" reads as "Quillorbex" there, and "＼"
// as "\". Every other character a page does not hold becomes '?', one for
// each UTF-16 unit (a character outside the BMP gives "??", an unpaired
// surrogate '?'), as Wine 8 converts them. Other best-fit mappings of Windows
// (accented letters to plain ones in 1251 and 932, for instance) are not
// made: those characters become '?' here.
//
// In (bytes to UTF-16): every byte or byte pair becomes the character it
// stands for; in 932 a lead byte without a valid trail byte, or a pair that
// stands for nothing, becomes U+30FB, the page's default character.
#pragma once

#include <cstddef>
#include <string>

namespace emulation {

enum class CodePage { Windows1252 = 1252, Windows1251 = 1251, Windows932 = 932 };

// The page numbered `number`; false for a page this emulation does not have.
bool CodePageFromNumber(unsigned long number, CodePage& page);

// Writes the 8-bit form of `units` to `out`, when it is not null, and returns
// its length in bytes (no NUL is written or counted).
std::size_t EncodeAnsi(const char16_t* units, std::size_t count, CodePage page, char* out);
std::string ToAnsi(const std::u16string& text, CodePage page);

// Appends the UTF-16 form of `length` bytes to `out`.
void AppendDecodedAnsi(const char* bytes, std::size_t length, CodePage page, std::u16string& out);
std::u16string FromAnsi(const std::string& bytes, CodePage page);

}  // namespace emulation
