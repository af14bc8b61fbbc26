// The platform's folder primitives: what stands at a path, the entries of a
// folder, and making one folder, at any path length the system allows.
#ifndef NORVALE_SERVICES_FOLDER_IO_H_
#define NORVALE_SERVICES_FOLDER_IO_H_

#include <filesystem>
#include <system_error>
#include <vector>

namespace norvale {

// The characters that end a path's folder names. Windows takes "/" as well
// as "\", and people type it in the folder fields; the paths Norvale builds
// itself use only the latter.
#ifdef _WIN32
inline constexpr std::filesystem::path::value_type kSeparators[] = L"\\/";
#else
inline constexpr std::filesystem::path::value_type kSeparators[] = "/";
#endif

// Returns true when `c` is one of kSeparators.
inline bool IsSeparator(std::filesystem::path::value_type c) {
  return c == std::filesystem::path::preferred_separator || c == '/';
}

enum class FileKind { kNone, kFile, kFolder, kOther, kUnknown };

struct FolderEntry {
  std::filesystem::path::string_type name;
  // kFile for a regular file, kFolder for a folder, kOther for anything
  // else. A link is kFile when it leads to a regular file and kOther
  // otherwise, so that a link to a folder is never followed. kUnknown when
  // the system could not tell what the entry is, or, for a link, what it
  // leads to: it may be a folder, or a shortcut, that only cannot be seen.
  FileKind kind;
  // True when the entry is a link itself.
  bool link = false;
  // Why the kind is kUnknown.
  std::error_code error;
};

// Returns what `path` leads to, links followed: kFile for a regular file,
// kFolder, kOther for anything else, or kNone with `ec` set to the reason
// when nothing can be reached there.
FileKind KindOf(const std::filesystem::path& path, std::error_code& ec);

// Returns the entries of `folder` except "." and "..", in no set order,
// leaving out an entry that vanished while it was looked at. Sets `ec` when
// the folder cannot be read to its end.
std::vector<FolderEntry> ListFolder(const std::filesystem::path& folder,
                                    std::error_code& ec);

// Makes the folder `folder`, whose parent must exist. Returns true when it
// made it, false when a folder already stands there, and false with `ec`
// set when it could not be made.
bool MakeFolder(const std::filesystem::path& folder, std::error_code& ec);

}  // namespace norvale

#endif  // NORVALE_SERVICES_FOLDER_IO_H_
