#include "services/file_tools.h"

#include <new>
#include <string>
#include <system_error>

#include "services/error.h"
#include "services/file_io.h"
#include "services/folder_io.h"
#include "services/ini_format.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Native = fs::path::string_type;
// Windows takes "/" as a separator as well as "\", and people type it in the
// folder fields; the paths Norvale builds itself use only the latter.
#ifdef _WIN32
constexpr fs::path::value_type kSeparators[] = L"\\/";
#else
constexpr fs::path::value_type kSeparators[] = "/";
#endif

}  // namespace

FileTools& FileTools::Instance() {
  static FileTools* instance = new FileTools();  // Lives to the end.
  return *instance;
}

fs::path FileTools::FolderPart(const fs::path& path) {
  const Native& text = path.native();
  const size_t last = text.find_last_of(kSeparators);
  if (last == Native::npos) return fs::path();
  return fs::path(text.substr(0, last == 0 ? 1 : last));
}

fs::path FileTools::FileNamePart(const fs::path& path, int /*flags*/) {
  const Native& text = path.native();
  const size_t last = text.find_last_of(kSeparators);
  return last == Native::npos ? path : fs::path(text.substr(last + 1));
}

fs::path FileTools::TextFrom(const fs::path& path, size_t start) {
  const Native& text = path.native();
  if (start == 0) start = 1;
  if (start > text.size()) return fs::path();
  return fs::path(text.substr(start - 1));
}

void FileTools::CreateFolder(const fs::path& folder) {
  if (folder.empty()) return;  // The current folder always exists.
  // Made at once in the usual case, or found there already, which is as
  // good; only a failure asks why.
  std::error_code ec;
  if (MakeFolder(folder, ec)) Made(folder);
  if (!ec) return;
  std::error_code kind_ec;
  if (KindOf(folder, kind_ec) != FileKind::kNone) {
    throw Error("Could not create the folder", folder,
                "A file of that name is in the way");
  }
  // Whatever is missing or in the way higher up is named by the parent.
  const fs::path parent = FolderPart(folder);
  if (parent.empty() || parent == folder) {
    throw SystemError("Could not create the folder", folder, ec);
  }
  CreateFolder(parent);
  if (MakeFolder(folder, ec)) Made(folder);
  if (ec) throw SystemError("Could not create the folder", folder, ec);
}

void FileTools::Made(const fs::path& folder) {
  made_.insert(folder.native());
  last_folder_made_ = last_folder_made_ || folder.native() == last_folder_;
  NoteFolderMade(folder);
}

bool FileTools::InFolderMade(const fs::path& file) {
  // Copies come folder by folder, so the answer for the last folder is kept
  // rather than its text taken apart and looked up for every copy.
  const Native& text = file.native();
  const size_t last = text.find_last_of(kSeparators);
  const std::basic_string_view<fs::path::value_type> folder(
      text.data(), last == Native::npos ? 0 : last);
  if (folder != last_folder_) {
    last_folder_.assign(folder);
    last_folder_made_ = made_.count(last_folder_) != 0;
  }
  return last_folder_made_;
}

IniText FileTools::ReadIniValue(const fs::path& file, std::string_view section,
                                std::string_view key, std::string_view fallback,
                                int /*flags*/) {
  const std::string bytes = ReadWholeFile(file);
  try {
    return ParseIniValue(bytes, section, key, IniText::Bytes(fallback));
  } catch (const std::bad_alloc&) {
    throw Error("Could not read", file, "It is too large to read");
  }
}

bool FileTools::WriteIniValue(const fs::path& file, std::string_view section,
                              std::string_view key, const IniText& value,
                              const PathList& sources,
                              const ExistingCheck& check) {
  if (!IsWritableIniValue(value)) {
    throw Error("Could not write", file,
                "The address holds a line break, which a shortcut cannot keep");
  }
  const std::string bytes = ComposeIniFile(section, key, value);
  // A folder this run made holds nothing yet, so a fresh destination is
  // written without looking first; elsewhere what stands there is read
  // before anything is written, so an up-to-date copy costs no write.
  std::optional<ExistingCopy> existing;
  if (!InFolderMade(file)) existing = ReadExistingCopy(file);
  if (!existing) {
    if (WriteNewFile(file, bytes)) return true;
    // Something was put there meanwhile.
    existing = ReadExistingCopy(file);
    if (!existing) {
      throw Error("Could not write", file,
                  "It changed while Norvale was writing it");
    }
  }
  if (check) check(*existing);
  if (existing->content == bytes) return false;
  // Sources are only ever read, also when the destination leads back into
  // the source folder.
  if (sources.Holds(existing->id)) {
    throw Error("Could not write", file,
                "It is one of the source shortcuts, which are never changed");
  }
  // Only what Norvale itself writes is replaced; anything else may be a
  // user's full shortcut, met when the two folders are swapped.
  if (!existing->content.empty() &&
      !IsCompactIniFile(existing->content, section, key)) {
    throw Error("Could not write", file,
                "It holds more than a compact copy, so it is left as it is");
  }
  ReplaceFile(file, bytes, existing->content);
  return true;
}

void FileTools::BeginRun() {
  made_.clear();
  last_folder_.clear();
  last_folder_made_ = false;
  BeginFileWork();
}

void FileTools::CloseFolders() { CloseOpenFolders(); }

void FileTools::Flush() { FlushWrittenDisks(); }

}  // namespace norvale
