// Reading a whole file through the platform's read call, in memory bounded
// by its size however the file system cuts the reads.
#ifndef NORVALE_SERVICES_FILE_READING_H_
#define NORVALE_SERVICES_FILE_READING_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace norvale {

// Reads into `into` at most `room` bytes; returns how many it gave, 0 at
// the end of the file. Throws Error when the read fails.
using ReadSome = std::function<size_t(char* into, size_t room)>;

// Returns the rest of a file through `read_some`, where `size` is what the
// system says the file holds (0 when it says nothing). A file read whole
// takes one read when it gives all its size at once; reads cut short, as
// network file systems give them, go on, and the buffer grows only once it
// is full, so it holds at most about twice the bytes read. Throws Error
// naming `path`, and its size, when it holds more than kLargestShortcut
// bytes or is too large for memory, and passes on what `read_some` throws.
std::string ReadToEnd(uint64_t size, const ReadSome& read_some,
                      const std::filesystem::path& path);

}  // namespace norvale

#endif  // NORVALE_SERVICES_FILE_READING_H_
