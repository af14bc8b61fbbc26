// The window's two folder fields: what they start with, what a typed text
// names, and what a dropped file or folder puts in them.
#ifndef NORVALE_RUN_FOLDER_FIELD_H_
#define NORVALE_RUN_FOLDER_FIELD_H_

#include <filesystem>
#include <string_view>

namespace norvale {

struct DefaultFolders {
  std::filesystem::path source;
  std::filesystem::path destination;
};

// Returns the folders the fields start with: the Favorites folder, and
// "Compressed Favorites" after the desktop folder, joined as text, so a
// desktop path that ends in a separator keeps it. Throws Error when the
// shell cannot tell where either is.
DefaultFolders FindDefaultFolders();

// Returns the folder to put in a field when `dropped` is dropped on it: a
// folder itself, a file its folder.
std::filesystem::path DroppedFolder(const std::filesystem::path& dropped);

// Returns the folder that `typed`, the text of the field called `field`
// ("source" or "destination"), names: quotes around it, as a path is pasted
// with them, dropped; on Windows its "." and ".." resolved and then trimmed
// of trailing dots and blanks, as Windows does with a path (on Linux ".."
// keeps the system's meaning: after a link, the parent of its target); on Linux
// a leading "~" alone or "~/" is the home folder, as in a shell. Throws Error
// naming the field, and the text, when it is empty or not a full path: a
// relative path would land wherever the program happened to be started.
std::filesystem::path FolderFromField(const std::filesystem::path& typed,
                                      std::string_view field);

}  // namespace norvale

#endif  // NORVALE_RUN_FOLDER_FIELD_H_
