// The spelling of a path that Windows' file functions take at any length.
#ifndef NORVALE_SERVICES_LONG_PATH_WIN_H_
#define NORVALE_SERVICES_LONG_PATH_WIN_H_

#include <filesystem>
#include <string>

namespace norvale {

// Returns `path` as the file functions should be given it: unchanged while
// it is short enough for every one of them, else made absolute and given
// the "\\?\" prefix, which lifts the 260-character limit even where the
// system's long-path setting is off.
std::wstring LongPath(const std::filesystem::path& path);

}  // namespace norvale

#endif  // NORVALE_SERVICES_LONG_PATH_WIN_H_
