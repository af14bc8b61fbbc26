// Where the shell's special folders are on this platform.
#ifndef NORVALE_SERVICES_SHELL_FOLDERS_H_
#define NORVALE_SERVICES_SHELL_FOLDERS_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace norvale {

// The shell folder numbers Norvale asks for, as Windows numbers them.
constexpr int kFavoritesFolder = 6;
constexpr int kDesktopFolder = 16;

// Returns the path of the shell folder `csidl`, which is kFavoritesFolder or
// kDesktopFolder, whether or not it exists. Throws Error, beginning with
// `what`, when the platform cannot tell where it is.
std::filesystem::path ShellFolderPath(int csidl, std::string_view what);

#ifndef _WIN32
// Returns the home folder as the bytes the system gave, so that a name that
// is not valid UTF-8 survives; empty when none is known.
std::string HomeFolder();

// Returns the desktop folder that the user-dirs settings `text` (the content
// of user-dirs.dirs) name in their last XDG_DESKTOP_DIR line, read as a shell
// sourcing them reads it, with $HOME taken as `home`. A line whose value is
// no full path, or needs any other expansion, counts for nothing; empty when
// no line names one.
std::filesystem::path DesktopFromUserDirs(std::string_view text,
                                          const std::string& home);
#endif

}  // namespace norvale

#endif  // NORVALE_SERVICES_SHELL_FOLDERS_H_
