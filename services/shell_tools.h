// The shell service: special folders, the recursive search for files, and
// the relative folder of a found file.
#ifndef NORVALE_SERVICES_SHELL_TOOLS_H_
#define NORVALE_SERVICES_SHELL_TOOLS_H_

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string_view>

#include "services/file_work.h"
#include "services/path_list.h"
#include "services/shell_folders.h"

namespace norvale {

// Thrown by FindFiles when its progress callback asks it to stop.
struct SearchCancelled {};

class ShellTools {
 public:
  // The shell folder numbers Norvale asks for.
  static constexpr int kFavorites = kFavoritesFolder;
  static constexpr int kDesktopDirectory = kDesktopFolder;

  // Returns the one instance, created on first use.
  static ShellTools& Instance();

  // Returns the path of the special folder `csidl` (kFavorites or
  // kDesktopDirectory), whether or not it exists; the other two arguments
  // must be 0. Throws Error for any other folder number, or when the user's
  // home folder is unknown.
  std::filesystem::path SpecialFolderPath(int csidl, int reserved1,
                                          int reserved2);

  // Called for every file and folder the search looks at, with how many it
  // has looked at and how many matched so far; returning false stops it.
  using FoundCallback = std::function<bool(size_t looked_at, size_t found)>;

  // Returns, sorted, the regular files (and links to regular files) in
  // `folder` whose names match `pattern` ('*' and '?' wildcards, ASCII case
  // ignored); with `recursive`, also those in every folder below, links to
  // folders not followed, and the folder `leave_out` not searched: found by
  // its identity as `work` tells them, whatever links, bind mounts or letter
  // case its text or the tree's names go through. Each folder searched is
  // noted in `work` as a source folder. Each path begins with the text of
  // `folder` as passed. Throws Error naming the folder when `folder`, or any
  // folder below it, cannot be read, and naming the entry when the system
  // cannot tell what an entry is that could be a folder or a match, or what
  // a link that matches leads to; throws SearchCancelled when `on_found`
  // says so.
  PathList FindFiles(const std::filesystem::path& folder,
                     std::string_view pattern, bool recursive,
                     const FoundCallback& on_found = nullptr,
                     const std::filesystem::path& leave_out = {},
                     FileWork* work = nullptr);

  // Returns `folder` without leading separators and ending in exactly one
  // separator; empty when nothing is left.
  std::filesystem::path RelativeFolder(const std::filesystem::path& folder);

 private:
  ShellTools() = default;
};

// Returns true when `name` matches the wildcard `pattern`, ASCII letters
// compared without regard to case.
bool MatchesPattern(
    std::basic_string_view<std::filesystem::path::value_type> name,
    std::string_view pattern);

}  // namespace norvale

#endif  // NORVALE_SERVICES_SHELL_TOOLS_H_
