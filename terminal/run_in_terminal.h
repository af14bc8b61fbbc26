// The terminal front end: what Norvale does for a command line that does
// not open the window.
#ifndef NORVALE_TERMINAL_RUN_IN_TERMINAL_H_
#define NORVALE_TERMINAL_RUN_IN_TERMINAL_H_

#include "terminal/command_line.h"

namespace norvale {

// The exit statuses, as the help and the manual page state them.
enum ExitStatus {
  kExitFinished = 0,
  kExitFailed = 1,
  kExitMistake = 2,
  // Finished, but files online only were left unchecked.
  kExitOnlineOnly = 3,
  kExitInterrupted = 130,
};

// Does what `command` asks, other than opening the window, on standard
// output and standard error, and returns the exit status. A run is the
// window's run, told as the window tells it: the outcome on standard
// output, a failure on standard error, progress only on a terminal.
// Never throws.
int RunInTerminal(const CommandLine& command);

}  // namespace norvale

#endif  // NORVALE_TERMINAL_RUN_IN_TERMINAL_H_
