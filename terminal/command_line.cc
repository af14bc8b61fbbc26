#include "terminal/command_line.h"

#include <utility>

namespace norvale {
namespace {

namespace fs = std::filesystem;

// A folder given on the command line means what it means to any command:
// relative to the folder the program was started in. Only the current
// folder is put in front; the argument's own bytes stay as they are.
fs::path Full(const fs::path& argument) {
  if (argument.empty()) return argument;
  return fs::absolute(argument);
}

// Returns `argument` as UTF-8 on Windows and as its bytes elsewhere, for a
// message; "?" stands for a name Windows cannot convert.
std::string Shown(const fs::path& argument) {
  try {
    return argument.u8string();
  } catch (...) {
    return "?";
  }
}

// Returns true for "/?", Windows' own way of asking a command for help; a
// folder elsewhere.
bool IsSlashHelp(const fs::path& argument) {
#ifdef _WIN32
  return argument.native() == L"/?";
#else
  (void)argument;
  return false;
#endif
}

CommandLine Mistake(std::string what) {
  CommandLine command;
  command.action = CommandLine::Action::kMistake;
  command.mistake = std::move(what);
  return command;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<fs::path>& arguments) {
  CommandLine command;
  std::vector<fs::path> folders;
  bool options = true;
  for (const fs::path& argument : arguments) {
    // Compared as the system's own text, which a folder's name may not be
    // valid in any other encoding.
    const fs::path::string_type& text = argument.native();
    const auto is = [&text](const char* option) {
      return text == fs::path(option).native();
    };
    if (!options ||
        ((text.size() < 2 || text[0] != '-') && !IsSlashHelp(argument))) {
      folders.push_back(argument);
    } else if (is("--")) {
      options = false;
    } else if (is("--help") || is("--version") || IsSlashHelp(argument)) {
      // As GNU programs do, these answer whatever else is given.
      command.action = is("--version") ? CommandLine::Action::kVersion
                                       : CommandLine::Action::kHelp;
      return command;
    } else if (is("--run")) {
      command.action = CommandLine::Action::kRun;
    } else if (is("--delete")) {
      command.remove_stale = true;
    } else if (is("--delete-all")) {
      command.remove_stale = command.remove_all = true;
    } else if (is("--dry-run") || is("-n")) {
      command.look_only = true;
    } else if (is("--verbose") || is("-v")) {
      command.verbose = true;
    } else if (is("-nv") || is("-vn")) {
      command.look_only = command.verbose = true;
    } else {
      return Mistake("unrecognized option '" + Shown(argument) + "'");
    }
  }
  if (command.action != CommandLine::Action::kRun &&
      (command.remove_stale || command.look_only || command.verbose)) {
    return Mistake("--delete, --dry-run and --verbose go with --run");
  }
  if (command.action == CommandLine::Action::kRun && folders.size() != 2) {
    return Mistake(folders.size() < 2 ? "--run needs a source and a destination"
                                      : "too many folders for --run");
  }
  if (folders.size() > 2) return Mistake("too many folders");
  try {
    if (folders.size() > 0) command.source = Full(folders[0]);
    if (folders.size() > 1) command.destination = Full(folders[1]);
  } catch (const fs::filesystem_error& error) {
    // The folder it was started in is gone: no relative path means anything.
    return Mistake(error.what());
  }
  return command;
}

std::string UsageText() {
  return "Usage: Norvale [SOURCE [DESTINATION]]\n"
         "  or:  Norvale --run [OPTION]... SOURCE DESTINATION\n"
         "Try 'Norvale --help' for more information.\n";
}

std::string HelpText() {
  return "Usage: Norvale [SOURCE [DESTINATION]]\n"
         "  or:  Norvale --run [OPTION]... SOURCE DESTINATION\n"
         "Write a compact copy of every Internet shortcut (*.url) below "
         "SOURCE\n"
         "at the same place below DESTINATION, holding only its address.\n"
         "\n"
         "Without --run, open the window with its folders filled with SOURCE\n"
#ifdef _WIN32
         "and DESTINATION, or with your Favorites folder and Compressed\n"
         "Favorites on your desktop when they are not given.\n"
         "\n"
         "      --run       write the copies without a window, then exit\n"
#else
         "and DESTINATION, or with ~/Favorites and Compressed Favorites on "
         "the\n"
         "desktop when they are not given.\n"
         "\n"
         "      --run       write the copies without a window, then exit\n"
#endif
         "      --delete    then remove the copies whose shortcuts are gone\n"
         "                  from SOURCE, and the folders that held only them;\n"
         "                  only copies that Norvale's record in DESTINATION\n"
         "                  names as written by it, never a file a source\n"
         "                  links to, nor on another disk, nor when "
         "DESTINATION\n"
         "                  is, holds or lies inside SOURCE\n"
         "      --delete-all  as --delete, also when SOURCE holds no shortcut\n"
         "                  (which otherwise looks like a disk not mounted)\n"
         "  -n, --dry-run   change nothing; tell what would be written and\n"
         "                  removed\n"
         "  -v, --verbose   print each copy created (+), replaced (~) or\n"
#ifdef _WIN32
         "                  removed (-), kept for want of a record (!), or\n"
         "                  left unchecked as it is online only (?),\n"
#else
         "                  removed (-), or kept for want of a record (!),\n"
#endif
         "                  below DESTINATION, one to a line; control\n"
         "                  characters and backslashes in names are escaped\n"
         "                  as \\n, \\t, \\\\ or \\ooo (octal), as ls -b does\n"
#ifdef _WIN32
         "      --help, /?  display this help and exit\n"
#else
         "      --help      display this help and exit\n"
#endif
         "      --version   output version information and exit\n"
         "\n"
         "To keep a copy in step every night:\n"
#ifdef _WIN32
         "  Norvale --run --delete \"%USERPROFILE%\\Favorites\" "
         "E:\\Favorites\n"
#else
         "  Norvale --run --delete ~/Favorites /media/stick/Favorites\n"
#endif
         "\n"
         "Exit status:\n"
         " 0    if all shortcuts were written,\n"
         " 1    if the run stopped at a failure (named on standard error),\n"
         " 2    if the command line is wrong,\n"
#ifdef _WIN32
         " 3    if copies online only were left unchecked, as reading them\n"
         "      would download them (\"Always keep on this device\" on\n"
         "      DESTINATION lets Norvale check them),\n"
#endif
         " 130  if interrupted (Ctrl+C) after flushing what was written.\n";
}

std::string VersionText() {
  return "Norvale " NORVALE_VERSION
         "\n"
         "Copyright (C) 2026 Norvale maintainers.\n"
         "Norvale is not published under a licence; its authors keep all\n"
         "rights to it.\n";
}

}  // namespace norvale
