// What the user is told when a run ends, the same in every front end.
#ifndef NORVALE_RUN_RUN_REPORT_H_
#define NORVALE_RUN_RUN_REPORT_H_

#include <string>

#include "run/compression_run.h"

namespace norvale {

// A message box: its icon, title and text. The text is UTF-8 on Windows
// and the system's bytes elsewhere, as paths are.
struct Message {
  // kWarning: finished, but leaving files it could not check.
  enum class Icon { kInformation, kWarning, kError };
  Icon icon;
  std::string title;
  std::string text;

  friend bool operator==(const Message& a, const Message& b) {
    return a.icon == b.icon && a.title == b.title && a.text == b.text;
  }
};

// Performs `run` and returns what to tell the user: the count under
// "Finished", then how many copies were written, found up to date, and
// found (or removed) whose shortcuts are gone, and, with a warning, how many
// files online only it could not check and how to let it; how far it got
// when the user stopped it; or the failure and how many copies were written
// before it, and how many were found up to date. Never throws.
Message RunAndReport(CompressionRun& run);

}  // namespace norvale

#endif  // NORVALE_RUN_RUN_REPORT_H_
