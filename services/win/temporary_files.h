// Norvale's temporary files on Windows, and removing a killed run's.
#ifndef NORVALE_SERVICES_WIN_TEMPORARY_FILES_H_
#define NORVALE_SERVICES_WIN_TEMPORARY_FILES_H_

#include <windows.h>

#include <filesystem>

namespace norvale {

// Returns a name beside `path` that no search lists as a shortcut and that
// leftover removal knows as Norvale's: ".norvale-", the process, a count,
// ".tmp".
std::filesystem::path TemporaryName(const std::filesystem::path& path);

// Removes from `folder` the temporary files that a run killed before this
// one left: regular files of Norvale's own name pattern, last written
// before `start`, holding nothing or the beginning of a compact copy.
// Anything else, such as a user's file of the same name, is left as it is.
void RemoveLeftovers(const std::filesystem::path& folder,
                     const FILETIME& start);

}  // namespace norvale

#endif  // NORVALE_SERVICES_WIN_TEMPORARY_FILES_H_
