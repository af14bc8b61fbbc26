#include "services/file_work.h"

#include "services/folder_io.h"

namespace norvale {

namespace fs = std::filesystem;

void FileWork::NoteFolderMade(const fs::path& folder) {
  made_.insert(folder.native());
  last_folder_made_ = last_folder_made_ || folder.native() == last_folder_;
}

void FileWork::NoteSourceFolder(const FileId& folder) {
  source_folders_.insert(folder);
}

bool FileWork::IsSourceFolder(const FileId& folder) const {
  return source_folders_.count(folder) != 0;
}

void FileWork::LookOnly() { look_only_ = true; }

bool FileWork::ClaimLeftovers(const Text& folder,
                              const std::function<const FileId&()>& id) {
  if (look_only_ || made_.count(folder) != 0 || cleared_.count(folder) != 0 ||
      IsSourceFolder(id())) {
    return false;
  }
  cleared_.insert(folder);
  return true;
}

bool FileWork::InFolderMade(const fs::path& file) {
  // Copies come folder by folder, so the answer for the last folder is kept
  // rather than its text looked up for every copy.
  const fs::path::string_type& text = file.native();
  const size_t last = text.find_last_of(kSeparators);
  const std::basic_string_view<fs::path::value_type> folder(
      text.data(), last == fs::path::string_type::npos ? 0 : last);
  if (folder != last_folder_) {
    last_folder_.assign(folder);
    last_folder_made_ = made_.count(last_folder_) != 0;
  }
  return last_folder_made_;
}

}  // namespace norvale
