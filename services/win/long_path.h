// The spelling of a path that Windows' file functions take as it is.
#ifndef NORVALE_SERVICES_WIN_LONG_PATH_H_
#define NORVALE_SERVICES_WIN_LONG_PATH_H_

#include <filesystem>
#include <string>

namespace norvale {

// Returns `path` as the file functions should be given it. A full path
// ("C:\..." or "\\server\share\...") gets the "\\?\" prefix, with "/" made
// "\" and "." and ".." resolved, so that no name in it is read as a device
// ("nul.url", "com1.url") or trimmed (a folder ending in a dot or a blank),
// and the 260-character limit is lifted. Any other path is left as it is
// while short enough for every function, else made full the system's way.
std::wstring LongPath(const std::filesystem::path& path);

}  // namespace norvale

#endif  // NORVALE_SERVICES_WIN_LONG_PATH_H_
