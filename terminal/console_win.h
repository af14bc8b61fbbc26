// The console a run without a window reaches on Windows, which Norvale.exe,
// a window program, has to attach to.
#ifndef NORVALE_TERMINAL_CONSOLE_WIN_H_
#define NORVALE_TERMINAL_CONSOLE_WIN_H_

namespace norvale {

// Returns true when the program has a console: Norvale.com's own, or the
// one of the program that started Norvale.exe, attached the first time
// this is asked. Only through a console does Ctrl+C reach a program.
bool AttachToConsole();

}  // namespace norvale

#endif  // NORVALE_TERMINAL_CONSOLE_WIN_H_
