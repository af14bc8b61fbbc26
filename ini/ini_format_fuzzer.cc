// Feeds any bytes to the INI reader and checks that every value it reads
// survives being written and read again, and that any part of the written
// file is known for the start of a copy.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ini/ini_format.h"
#include "ini/shortcut.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using norvale::IniText;
  using norvale::kShortcutKey;
  using norvale::kShortcutSection;
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const IniText fallback = IniText::Bytes("about:blank");
  const IniText value =
      norvale::ParseIniValue(file, kShortcutSection, kShortcutKey, fallback);
  // What was read from one line can always be written to one.
  if (!norvale::IsWritableIniValue(value)) std::abort();
  const std::string copy =
      norvale::ComposeIniFile(kShortcutSection, kShortcutKey, value);
  const IniText back =
      norvale::ParseIniValue(copy, kShortcutSection, kShortcutKey, fallback);
  if (back != value) std::abort();
  // The copy is stable: writing what it gives makes the same bytes.
  if (norvale::ComposeIniFile(kShortcutSection, kShortcutKey, back) != copy &&
      back.form() == value.form()) {
    std::abort();
  }
  // A write of it cut short anywhere leaves what is known for the start of
  // a copy, so that the next run removes it; the ends are where the shape
  // changes, the middle is the value.
  for (size_t cut = 0; cut <= copy.size(); ++cut) {
    if (cut == 64 && copy.size() > 128) cut = copy.size() - 64;
    if (!norvale::IsCompactIniStart(std::string_view(copy).substr(0, cut))) {
      std::abort();
    }
  }
  return 0;
}
