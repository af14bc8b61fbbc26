// Reading one value from an INI file's bytes and composing a one-value file.
#ifndef NORVALE_INI_INI_FORMAT_H_
#define NORVALE_INI_INI_FORMAT_H_

#include <string>
#include <string_view>

#include "ini/ini_text.h"

namespace norvale {

// Returns the value of `key` in the first section named `section` (both
// compared without regard to ASCII case; a section's name ends at the first
// "]" of its line, or at the line's end) of the INI file whose bytes are
// `file`, or `fallback` when that section or that key is missing. A file that
// begins with a byte-order mark (UTF-16LE, UTF-16BE, UTF-8) gives a Unicode
// text; any other file gives its bytes as they are, unless, as Windows
// writes a value its code page cannot hold, the key is in section
// `section` + ".W" too, in UTF-7, which then gives the value, unless section
// `section` + ".A" holds another value than `section` does (the address was
// changed since by a program that knows only the code page). Never fails.
IniText ParseIniValue(std::string_view file, std::string_view section,
                      std::string_view key, const IniText& fallback);

// Returns false when `value` holds a line end or NUL, which no INI value can
// carry.
bool IsWritableIniValue(const IniText& value);

// Returns the bytes of an INI file holding exactly `section` with `key` set
// to `value`, CR LF line ends, quoted where reading it back would otherwise
// change the value. A bytes value, or an ASCII one, is written as its bytes;
// any other Unicode value in its own form: UTF-16LE with its byte-order
// mark, or, for one read from a ".W" section, the value in UTF-8, the same
// in section `section` + ".A", and in UTF-7 in section `section` + ".W", as
// Windows keeps it, so that readers who compare the first two take the
// last. Requires
// IsWritableIniValue(value) and ASCII `section` and `key`.
std::string ComposeIniFile(std::string_view section, std::string_view key,
                           const IniText& value);

// Returns true when `file` is exactly what ComposeIniFile writes for
// `section`, `key` and some value, in any of its forms, or what it wrote
// before the ".A" section.
bool IsCompactIniFile(std::string_view file, std::string_view section,
                      std::string_view key);

// Returns true when `file` is empty or the beginning of a file that
// ComposeIniFile could write for some section, key and value: what a
// write of one that was cut short leaves behind.
bool IsCompactIniStart(std::string_view file);

}  // namespace norvale

#endif  // NORVALE_INI_INI_FORMAT_H_
