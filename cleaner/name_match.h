// The name comparison of the search: the 26 ASCII letters compare without
// regard to case, every other byte (0x80 to 0xFF among them) must be
// identical. It never depends on the locale.
#pragma once

#include <cstddef>

// True when `name` and `other` have the same length and every pair of bytes
// is equal under the rule.
bool NameEquals(const char* name, const char* other);

// True when the first `prefixLength` bytes of `name` equal those of `prefix`
// under the rule. Stops at the first unequal pair, so a name shorter than the
// prefix fails at its terminating NUL and is never read past its end.
bool NameBeginsWith(const char* name, const char* prefix, std::size_t prefixLength);
