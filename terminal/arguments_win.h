// The arguments of a Windows command line, split so that a quoted folder
// ending in a backslash keeps it.
#ifndef NORVALE_TERMINAL_ARGUMENTS_WIN_H_
#define NORVALE_TERMINAL_ARGUMENTS_WIN_H_

#include <filesystem>
#include <string_view>
#include <vector>

namespace norvale {

// Returns the arguments of `command_line`, as GetCommandLineW gives it,
// after the program's name: split at blanks outside double quotes, the
// quotes dropped. Unlike the C run-time's rules, a backslash never escapes
// a quote: no Windows name holds one, and by those rules a folder as
// PowerShell completes it, "C:\My Favs\", swallows the blank and the next
// argument. Never throws.
std::vector<std::filesystem::path> SplitCommandLine(
    std::wstring_view command_line);

// Returns what follows the program's name in `command_line`, as it was
// typed, to be handed on to another program.
std::wstring_view ArgumentsText(std::wstring_view command_line);

}  // namespace norvale

#endif  // NORVALE_TERMINAL_ARGUMENTS_WIN_H_
