// Standard output or standard error, as the terminal front end writes to
// it: a terminal to draw progress on, or a file or pipe that gets lines.
#ifndef NORVALE_TERMINAL_CONSOLE_H_
#define NORVALE_TERMINAL_CONSOLE_H_

#include <cstddef>
#include <string_view>

namespace norvale {

class Console {
 public:
  enum class Stream { kOutput, kError };

  // On Windows, where Norvale.exe has no console of its own, a stream that
  // was not redirected reaches the console of the program that started it,
  // if any.
  explicit Console(Stream stream);

  // Returns true when the stream is a terminal a person watches.
  bool IsTerminal() const { return terminal_; }
  // Returns the terminal's width in characters; 0 when not known.
  size_t Columns() const;
  // Writes `text` (UTF-8 on Windows, the system's bytes elsewhere) at once;
  // on Windows a file or pipe gets it as console programs write theirs.
  // A stream that cannot be written, such as a closed pipe, is ignored, as
  // the run's outcome shows in the exit status too.
  void Write(std::string_view text);

 private:
  Stream stream_;
  bool terminal_ = false;
};

}  // namespace norvale

#endif  // NORVALE_TERMINAL_CONSOLE_H_
