#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "terminal/console.h"

namespace norvale {
namespace {

int DescriptorOf(Console::Stream stream) {
  return stream == Console::Stream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
}

}  // namespace

Console::Console(Stream stream)
    : stream_(stream), terminal_(::isatty(DescriptorOf(stream)) == 1) {}

size_t Console::Columns() const {
  winsize size = {};
  if (::ioctl(DescriptorOf(stream_), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void Console::Write(std::string_view text) {
  const int fd = DescriptorOf(stream_);
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace norvale
