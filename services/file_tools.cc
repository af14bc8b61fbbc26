#include "services/file_tools.h"

#include <new>
#include <string>
#include <system_error>

#include "ini/ini_format.h"
#include "services/copy_rules.h"
#include "services/error.h"
#include "services/file_work.h"
#include "services/folder_io.h"

#ifdef _WIN32
#include "services/win/controlled_folders.h"
#endif

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Native = fs::path::string_type;

// Returns true when `folder` is the root of a disk or, on Windows, of a
// drive or a network share ("\\server\share"): no one can make it.
bool IsRoot(const fs::path& folder) {
  std::basic_string_view<fs::path::value_type> text = folder.native();
  while (text.size() > 1 && text.find_last_of(kSeparators) == text.size() - 1) {
    text.remove_suffix(1);
  }
#ifdef _WIN32
  if (text.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    text.remove_prefix(8);
  } else if (text.rfind(L"\\\\?\\", 0) == 0) {
    text.remove_prefix(4);
  } else if (text.size() > 2 && text.find_first_not_of(kSeparators) == 2) {
    text.remove_prefix(2);
  } else {
    return text.size() == 2 && text[1] == L':';
  }
  if (text.size() == 2 && text[1] == L':') return true;
  // A server, or a server and its share, and nothing below.
  const size_t server_end = text.find_first_of(kSeparators);
  return server_end == text.npos ||
         text.find_first_of(kSeparators, server_end + 1) == text.npos;
#else
  return text == "/";
#endif
}

// Returns the Error for the folder `folder` that could not be made, for
// the reason `ec`.
Error FolderError(const fs::path& folder, std::error_code ec) {
  constexpr char kAction[] = "Could not create the folder";
#ifndef _WIN32
  return MakingError(kAction, folder, ec, "folder");
#else
  // Controlled Folder Access refuses new folders with this code alone.
  constexpr int kAccessDenied = 5;  // ERROR_ACCESS_DENIED
  if (ec == std::error_code(kAccessDenied, std::system_category())) {
    return Error(kAction, folder,
                 WindowsReason(kAccessDenied) + ControlledFolderHint(folder));
  }
  return SystemError(kAction, folder, ec);
#endif
}

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

void FileTools::CreateFolder(const fs::path& folder, FileWork& work) {
  if (folder.empty()) return;  // The current folder always exists.
  // Made at once in the usual case, or found there already, which is as
  // good; only a failure asks why.
  std::error_code ec;
  if (MakeFolder(folder, ec)) work.NoteFolderMade(folder);
  if (!ec) return;
  std::error_code kind_ec;
  if (KindOf(folder, kind_ec) != FileKind::kNone) {
    throw Error("Could not create the folder", folder,
                "A file of that name is in the way");
  }
  // Whatever is missing or in the way higher up is named by the parent; a
  // root, such as a network share, cannot be made, so its own failure
  // ("the network name cannot be found") is the one to tell.
  const fs::path parent = FolderPart(folder);
  if (parent.empty() || parent == folder || IsRoot(folder)) {
    throw FolderError(folder, ec);
  }
  CreateFolder(parent, work);
  if (MakeFolder(folder, ec)) work.NoteFolderMade(folder);
  if (ec) throw FolderError(folder, ec);
}

bool FileTools::WouldCreateFolder(const fs::path& folder) {
  if (folder.empty()) return false;
  std::error_code ec;
  const FileKind kind = KindOf(folder, ec);
  if (kind == FileKind::kFolder) return false;
  if (kind != FileKind::kNone) {
    throw Error("Could not create the folder", folder,
                "A file of that name is in the way");
  }
  if (ec != std::errc::no_such_file_or_directory &&
      ec != std::errc::not_a_directory) {
    throw FolderError(folder, ec);
  }
  const fs::path parent = FolderPart(folder);
  if (!parent.empty() && parent != folder && !IsRoot(folder)) {
    WouldCreateFolder(parent);
  }
  return true;
}

IniText FileTools::ReadIniValue(const fs::path& file, std::string_view section,
                                std::string_view key, std::string_view fallback,
                                int /*flags*/, FileWork& work,
                                Permissions* permissions) {
  const std::string bytes = work.ReadWholeFile(file, permissions);
  try {
    return ParseIniValue(bytes, section, key, IniText::Bytes(fallback));
  } catch (const std::bad_alloc&) {
    throw Error("Could not read", file, "It is too large to read");
  }
}

CopyOutcome FileTools::WriteIniValue(const fs::path& file,
                                     std::string_view section,
                                     std::string_view key, const IniText& value,
                                     const PathList& sources, FileWork& work,
                                     Permissions permissions,
                                     const ExistingCheck& check, bool look_only,
                                     const CopyProof* proof) {
  if (!IsWritableIniValue(value)) {
    throw Error("Could not write", file,
                "The address holds a line break, which a shortcut cannot keep");
  }
  const std::string bytes = ComposeIniFile(section, key, value);
  // A folder this run made holds nothing yet, so a fresh destination is
  // written without looking first; elsewhere what stands there is read
  // before anything is written, so an up-to-date copy costs no write.
  std::optional<ExistingCopy> existing;
  if (!work.InFolderMade(file)) existing = work.ReadExistingCopy(file);
  if (!existing) {
    if (look_only) return CopyOutcome::kWritten;
    if (work.WriteNewFile(file, bytes, permissions)) {
      return CopyOutcome::kWritten;
    }
    // Something was put there meanwhile.
    existing = work.ReadExistingCopy(file);
    if (!existing) {
      throw Error("Could not write", file,
                  "It changed while Norvale was writing it");
    }
  }
  if (check) check(*existing);
  // Read, a copy online only would be downloaded, one by one on every run,
  // or fail offline: only its stamp, as the caller's record has it, tells
  // that it is still what Norvale wrote there.
  if (existing->online_only) {
    if (proof == nullptr || !proof->stamp.known() ||
        proof->stamp != existing->stamp) {
      return CopyOutcome::kOnlineOnly;
    }
    if (proof->same_bytes) return CopyOutcome::kUpToDate;
    if (sources.Holds(existing->id, work)) {
      throw Error("Could not write", file,
                  "It is one of the source shortcuts, which are never changed");
    }
    if (existing->read_only) {
      throw Error("Could not write", file, kReadOnlyReason);
    }
    if (!look_only) work.ReplaceFile(file, bytes, {}, &existing->stamp);
    return CopyOutcome::kWritten;
  }
  // A copy is never more open than its source, whichever changed last:
  // one up to date, or about to be replaced (which keeps the old one's
  // permissions), loses what its source lacks, which counts as no write.
  // A source itself, met where the destination leads into the source, is
  // never changed.
  const auto keep_private = [&] {
    if (look_only) return;
    const Permissions excess = work.ExcessPermissions(file, permissions);
    if (excess != 0 && !sources.Holds(existing->id, work)) {
      work.TakePermissions(file, excess);
    }
  };
  if (existing->content == bytes) {
    keep_private();
    return CopyOutcome::kUpToDate;
  }
  // Sources are only ever read, also when the destination leads back into
  // the source folder.
  if (sources.Holds(existing->id, work)) {
    throw Error("Could not write", file,
                "It is one of the source shortcuts, which are never changed");
  }
  // Only what Norvale itself writes is replaced; anything else may be a
  // user's full shortcut, met when the two folders are swapped.
  if (!existing->content.empty() &&
      !IsCompactIniFile(existing->content, section, key)) {
    throw Error("Could not write", file, kNotACopyReason);
  }
  // A run that only looks meets what replacing would.
  if (look_only && existing->read_only) {
    throw Error("Could not write", file, kReadOnlyReason);
  }
  if (!look_only) {
    keep_private();
    work.ReplaceFile(file, bytes, existing->content);
  }
  return CopyOutcome::kWritten;
}

}  // namespace norvale
