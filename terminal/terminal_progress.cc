#include "terminal/terminal_progress.h"

#include <algorithm>
#include <string>

#include "terminal/interrupt.h"

namespace norvale {

TerminalProgress::TerminalProgress(Console& console)
    : ProgressReport(std::chrono::milliseconds(0)), console_(console) {}

bool TerminalProgress::Show(const View& view) {
  // The report's lines joined into one; the words are ASCII, so a line
  // cut to the terminal's width never wraps and always rewrites itself.
  std::string line = view.label;
  std::replace(line.begin(), line.end(), '\n', ' ');
  const size_t columns = console_.Columns();
  if (columns > 1 && line.size() >= columns) line.resize(columns - 1);
  // Spaces rather than an escape sequence rub out the rest of a longer
  // line before, which every console understands.
  const size_t length = line.size();
  if (length < shown_) line.append(shown_ - length, ' ');
  console_.Write("\r" + line);
  shown_ = length;
  return !Interrupted();
}

void TerminalProgress::Clear() {
  if (shown_ == 0) return;
  console_.Write("\r" + std::string(shown_, ' ') + "\r");
  shown_ = 0;
}

}  // namespace norvale
