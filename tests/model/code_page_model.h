// What the model expects of names behind the 8-bit calls, worked out with the
// C library's iconv and towupper, and none of the emulation's code: a name
// the code page holds converts to its bytes and back; a character it does not
// hold becomes '?' (one for each UTF-16 unit); the fullwidth ASCII forms
// become ASCII in 1252 and 1251. Names are UTF-8.
#pragma once

#include <string>

namespace model {

// The bytes an 8-bit call delivers for `name` under code page `page`.
std::string AnsiName(const std::string& name, unsigned page);
// The name that the bytes `ansi` stand for under `page`.
std::string NameFromAnsi(const std::string& ansi, unsigned page);
// True when `a` and `b` name one key: equal once each character of the BMP
// is upper-cased.
bool SameKeyName(const std::string& a, const std::string& b);
// True when the key named `name` is found again by the name an 8-bit call
// delivers for it.
bool RoundTrips(const std::string& name, unsigned page);
// The upper-cased UTF-16 units of `name`: sub-keys enumerate in this order.
std::u16string EnumerationKey(const std::string& name);

}  // namespace model
