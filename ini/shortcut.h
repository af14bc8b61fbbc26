// Where an Internet shortcut keeps its address: the one section and key a
// compact copy holds.
#ifndef NORVALE_INI_SHORTCUT_H_
#define NORVALE_INI_SHORTCUT_H_

#include <string_view>

#include "ini/ini_format.h"

namespace norvale {

constexpr std::string_view kShortcutSection = "InternetShortcut";
constexpr std::string_view kShortcutKey = "URL";

// Returns true when `file` is exactly a compact copy of a shortcut, as
// Norvale writes one (IsCompactIniFile).
inline bool IsCompactShortcut(std::string_view file) {
  return IsCompactIniFile(file, kShortcutSection, kShortcutKey);
}

}  // namespace norvale

#endif  // NORVALE_INI_SHORTCUT_H_
