#include "cleaner/name_match.h"

namespace {

unsigned char FoldLetter(char byte) {
  const unsigned char value = static_cast<unsigned char>(byte);
  return (value >= 0x41 && value <= 0x5A) ? static_cast<unsigned char>(value + 0x20) : value;
}

}  // namespace

bool NameEquals(const char* name, const char* other) {
  std::size_t i = 0;
  while (FoldLetter(name[i]) == FoldLetter(other[i])) {
    if (name[i] == '\0') {
      return true;
    }
    ++i;
  }
  return false;
}

bool NameBeginsWith(const char* name, const char* prefix, std::size_t prefixLength) {
  for (std::size_t i = 0; i < prefixLength; ++i) {
    if (FoldLetter(name[i]) != FoldLetter(prefix[i])) {
      return false;
    }
  }
  return true;
}
