// Ctrl+C during a run without a window: the run stops at the next shortcut,
// as Cancel stops it in the window.
#ifndef NORVALE_TERMINAL_INTERRUPT_H_
#define NORVALE_TERMINAL_INTERRUPT_H_

namespace norvale {

// From now on, Ctrl+C only marks the run interrupted; a second one ends the
// program at once, which leaves only whole copies too.
void CatchInterrupt();

// Returns true once Ctrl+C has been pressed.
bool Interrupted();

}  // namespace norvale

#endif  // NORVALE_TERMINAL_INTERRUPT_H_
