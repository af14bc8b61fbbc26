// Open files on POSIX: a descriptor closed on every path out, and writing
// and reading an open file whole.
#ifndef NORVALE_SERVICES_POSIX_DESCRIPTOR_H_
#define NORVALE_SERVICES_POSIX_DESCRIPTOR_H_

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace norvale {

// Closes a descriptor on every path out of a function.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  // Closes the descriptor held, if any, and holds `fd` instead.
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and returns close's result, which can report a lost write.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Returns false with errno set when not every byte could be written.
bool WriteAll(int fd, std::string_view bytes);

// Returns the whole content of the open regular file `fd`, read from its
// start, whose fstat gave `st`. A read that ends before that size or runs
// past it means the file changed meanwhile (or a FUSE daemon cut a read
// short): it is read once more, and when it still does not match, Error
// naming `path` says so, so that nothing is ever made of part of a file.
// Throws Error too when the file cannot be read.
std::string ReadOpenFile(int fd, const struct stat& st,
                         const std::filesystem::path& path);

}  // namespace norvale

#endif  // NORVALE_SERVICES_POSIX_DESCRIPTOR_H_
