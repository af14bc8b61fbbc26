#include "services/file_reading.h"

#include <new>
#include <stdexcept>

#include "services/error.h"
#include "services/file_work.h"

namespace norvale {
namespace {

// Returns the Error for a file of `size` bytes (0 when not known), too
// large to be a shortcut.
Error TooLarge(const std::filesystem::path& path, uint64_t size) {
  return Error(
      "Could not read", path,
      "It holds " +
          (size > 0 ? std::to_string(size) + " bytes"
                    : std::string("more than ") +
                          std::to_string(kLargestShortcut) + " bytes") +
          ", more than any shortcut, so it is not read");
}

}  // namespace

std::string ReadToEnd(uint64_t size, const ReadSome& read_some,
                      const std::filesystem::path& path) {
  if (size > kLargestShortcut) throw TooLarge(path, size);
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
      // A file that grows while being read is no shortcut either.
      if (filled > kLargestShortcut) throw TooLarge(path, 0);
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
