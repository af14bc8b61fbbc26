// POSIX implementation of the folder primitives, on std::filesystem.
#include "services/folder_io.h"

namespace norvale {

namespace fs = std::filesystem;

FileKind KindOf(const fs::path& path, std::error_code& ec) {
  const fs::file_status status = fs::status(path, ec);
  if (ec) return FileKind::kNone;
  if (fs::is_directory(status)) return FileKind::kFolder;
  if (fs::is_regular_file(status)) return FileKind::kFile;
  return FileKind::kOther;
}

std::vector<FolderEntry> ListFolder(const fs::path& folder,
                                    std::error_code& ec) {
  std::vector<FolderEntry> entries;
  fs::directory_iterator it(folder, ec);
  if (ec) return entries;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    // The type usually comes with the listing; an entry that vanished
    // meanwhile, or a dangling link, is nothing to list.
    std::error_code type_ec;
    FileKind kind = FileKind::kOther;
    if (entry.is_symlink(type_ec)) {
      if (entry.is_regular_file(type_ec)) kind = FileKind::kFile;
    } else if (entry.is_directory(type_ec)) {
      kind = FileKind::kFolder;
    } else if (entry.is_regular_file(type_ec)) {
      kind = FileKind::kFile;
    }
    entries.push_back({entry.path().filename().native(), kind});
  }
  return entries;
}

bool MakeFolder(const fs::path& folder, std::error_code& ec) {
  if (fs::create_directory(folder, ec)) return true;
  if (!ec) return false;
  // Made meanwhile by another: the folder is there, which is what counts.
  const std::error_code create_error = ec;
  if (fs::is_directory(folder, ec)) {
    ec.clear();
    return false;
  }
  ec = create_error;
  return false;
}

}  // namespace norvale
