// What Norvale's command line asks for, and the texts that describe it.
#ifndef NORVALE_TERMINAL_COMMAND_LINE_H_
#define NORVALE_TERMINAL_COMMAND_LINE_H_

#include <filesystem>
#include <string>
#include <vector>

namespace norvale {

struct CommandLine {
  enum class Action {
    kWindow,   // open the window, its fields filled with the folders given
    kRun,      // run from `source` to `destination` without a window
    kHelp,     // print the help
    kVersion,  // print the version
    kMistake,  // say `mistake`, then a short usage, and fail
  };
  Action action = Action::kWindow;
  // Made full against the current folder, keeping their bytes; empty when
  // not given.
  std::filesystem::path source;
  std::filesystem::path destination;
  // With --run: --delete, --dry-run (-n) and --verbose (-v).
  bool remove_stale = false;
  // --delete-all: --delete, also when SOURCE holds no shortcut.
  bool remove_all = false;
  bool look_only = false;
  bool verbose = false;
  std::string mistake;
};

// Returns what `arguments`, the command line without the program's name,
// ask for: `[SOURCE [DESTINATION]]`, `--run SOURCE DESTINATION` with
// `--delete`, `--dry-run` (`-n`) and `--verbose` (`-v`), `--help` (also
// `/?` on Windows) or `--version`; "--" ends the options. Anything else
// is a mistake, as is a relative folder when the current folder cannot be told.
// Never throws.
CommandLine ParseCommandLine(
    const std::vector<std::filesystem::path>& arguments);

// Returns the text `--help` prints.
std::string HelpText();
// Returns the text `--version` prints.
std::string VersionText();
// Returns the short usage printed after a mistake.
std::string UsageText();

}  // namespace norvale

#endif  // NORVALE_TERMINAL_COMMAND_LINE_H_
