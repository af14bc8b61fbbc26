// Feeds any bytes to the INI reader and checks that every value it reads
// survives being written and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "services/ini_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using norvale::IniText;
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const IniText fallback = IniText::Bytes("about:blank");
  const IniText value =
      norvale::ParseIniValue(file, "InternetShortcut", "URL", fallback);
  // What was read from one line can always be written to one.
  if (!norvale::IsWritableIniValue(value)) std::abort();
  const std::string copy =
      norvale::ComposeIniFile("InternetShortcut", "URL", value);
  const IniText back =
      norvale::ParseIniValue(copy, "InternetShortcut", "URL", fallback);
  if (back != value) std::abort();
  // The copy is stable: writing what it gives makes the same bytes.
  if (norvale::ComposeIniFile("InternetShortcut", "URL", back) != copy &&
      back.form() == value.form()) {
    std::abort();
  }
  return 0;
}
