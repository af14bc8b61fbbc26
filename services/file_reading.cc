#include "services/file_reading.h"

#include <new>
#include <stdexcept>

#include "services/error.h"

namespace norvale {

std::string ReadToEnd(uint64_t size, const ReadSome& read_some,
                      const std::filesystem::path& path) {
  std::string content;
  try {
    // One byte more than the size asks for the end too.
    content.resize(size > 0 ? static_cast<size_t>(size) + 1 : 4096);
    size_t filled = 0;
    for (;;) {
      if (filled == content.size()) content.resize(content.size() * 2);
      const size_t n =
          read_some(content.data() + filled, content.size() - filled);
      if (n == 0) break;
      filled += n;
      // All the size promised with room to spare is the end; a file that
      // grew meanwhile fills the spare byte and is read on.
      if (size > 0 && filled >= size && filled < content.size()) break;
    }
    content.resize(filled);
  } catch (const std::bad_alloc&) {
    throw Error("Could not read", path, "It is too large to read");
  } catch (const std::length_error&) {
    throw Error("Could not read", path, "It is too large to read");
  }
  return content;
}

}  // namespace norvale
