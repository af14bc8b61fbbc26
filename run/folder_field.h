// The folder a text typed into one of the window's fields names.
#ifndef NORVALE_RUN_FOLDER_FIELD_H_
#define NORVALE_RUN_FOLDER_FIELD_H_

#include <filesystem>
#include <string_view>

namespace norvale {

// Returns the folder that `typed`, the text of the field called `field`
// ("source" or "destination"), names. On Linux a leading "~" alone or "~/"
// is the home folder, as in a shell. Throws Error naming the field, and the
// text, when it is empty or not a full path: a relative path would land
// wherever the program happened to be started.
std::filesystem::path FolderFromField(const std::filesystem::path& typed,
                                      std::string_view field);

}  // namespace norvale

#endif  // NORVALE_RUN_FOLDER_FIELD_H_
