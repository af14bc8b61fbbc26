#include <signal.h>

#include "terminal/interrupt.h"

namespace norvale {
namespace {

volatile sig_atomic_t interrupted = 0;

// Only sets the flag: the run looks at it between shortcuts, where
// stopping is safe.
void OnInterrupt(int) { interrupted = 1; }

}  // namespace

void CatchInterrupt() {
  struct sigaction action = {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  // A second Ctrl+C, such as while a slow disk is flushed, is not caught.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return interrupted != 0; }

}  // namespace norvale
