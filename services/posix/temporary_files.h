// Norvale's temporary files on POSIX: their names, and removing those a run
// killed before this one left behind.
#ifndef NORVALE_SERVICES_POSIX_TEMPORARY_FILES_H_
#define NORVALE_SERVICES_POSIX_TEMPORARY_FILES_H_

#include <sys/types.h>
#include <time.h>

#include <string>
#include <string_view>

namespace norvale {

// Returns a name no search lists as a shortcut and that leftover removal
// knows as Norvale's: "~NV", five hexadecimal digits and ".TMP", a short
// name as FAT knows it, since fusefat corrupts its folder when renaming a
// file from a long name. The digits come from the system's random source,
// so that no other program can know a name before Norvale takes it.
std::string TemporaryName();

// How often a new temporary name is tried when the last was taken: a name
// taken this often in a row is no clash of chance but a folder refusing
// every name, and saying so beats trying on.
constexpr int kTemporaryTries = 8;

// Creates an empty file of a new temporary name in the folder open as
// `folder`, with `mode` less the umask, by an exclusive create that never
// opens a file already there, and puts its name in `name`. A name found
// taken is given up for another, a few times. Returns the file's
// descriptor, or -1 with errno set when it could not be made.
int CreateTemporary(int folder, mode_t mode, std::string* name);

// Returns `name` for a file that holds what changed while Norvale replaced
// it, made from its temporary name `temporary`: no later run removes it.
std::string KeptName(std::string_view temporary);

// Removes from the folder open as `folder` the temporary files that a run
// killed before this one left: regular files of Norvale's own name
// pattern, last written before `start`, holding nothing or the beginning of
// a compact copy. Anything else, such as a user's file of the same name, is
// left as it is. Returns true when it removed any.
bool RemoveLeftovers(int folder, const timespec& start);

}  // namespace norvale

#endif  // NORVALE_SERVICES_POSIX_TEMPORARY_FILES_H_
