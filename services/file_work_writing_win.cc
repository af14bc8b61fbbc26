// Writing copies on Windows so that a name only ever shows whole content (a
// small new copy, for a moment, none), replacing one only while it still
// holds what was read, and removing one only while it is Norvale's own.
#include <windows.h>
// The Windows header maps this name to ReplaceFileW; Norvale's own is meant.
#undef ReplaceFile

#include <cstring>
#include <string>
#include <vector>

#include "services/copy_rules.h"
#include "services/error.h"
#include "services/file_work_win.h"
#include "services/folder_io.h"
#include "services/win/file_kind.h"
#include "services/win/handle.h"
#include "services/win/long_path.h"
#include "services/win/system_calls.h"
#include "services/win/temporary_files.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

constexpr char kRemoveAction[] = "Could not remove";
constexpr char kRemoveFolderAction[] = "Could not remove the folder";

// Returns the rename information that gives a file the name `path`, spelled
// as the system's own calls take a full path: "\??\" where the file
// functions take "\\?\".
std::vector<char> RenameTo(const fs::path& path, bool replace) {
  std::wstring target = LongPath(path);
  if (target.rfind(L"\\\\?\\", 0) != 0) {
    target = LongPath(fs::absolute(path));
  }
  target[1] = L'?';
  const DWORD name_bytes = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::vector<char> rename(offsetof(FILE_RENAME_INFO, FileName) + name_bytes +
                           sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(rename.data());
  info->ReplaceIfExists = replace;
  info->FileNameLength = name_bytes;
  std::memcpy(info->FileName, target.c_str(), name_bytes + sizeof(wchar_t));
  return rename;
}

// Returns true when `failure`, met making `path` new, means that something
// stands there already: a file or link of that name, or a folder, which
// Windows can report as access denied.
bool NameTaken(const fs::path& path, const Failure& failure) {
  return failure.code == ERROR_FILE_EXISTS ||
         failure.code == ERROR_ALREADY_EXISTS ||
         (failure.code == ERROR_ACCESS_DENIED &&
          ::GetFileAttributesW(LongPath(path).c_str()) !=
              INVALID_FILE_ATTRIBUTES);
}

// Returns the time now, to be a new copy's last-write time.
LARGE_INTEGER Now() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER time;
  time.LowPart = now.dwLowDateTime;
  time.HighPart = static_cast<LONG>(now.dwHighDateTime);
  return time;
}

// Returns true when the file at `path`, looked at as itself and not read,
// has `stamp`: the file Norvale wrote there, content unchanged.
bool HasStamp(const fs::path& path, const FileStamp& stamp) {
  Handle handle(
      Open(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
  FileFacts facts;
  return handle.valid() && AskFacts(handle.get(), &facts) &&
         (facts.tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         !IsLink(facts.tag.FileAttributes, facts.tag.ReparseTag) &&
         StampFrom(static_cast<uint64_t>(facts.standard.EndOfFile.QuadPart),
                   facts.basic.LastWriteTime) == stamp;
}

// Writes `bytes` to a new temporary file beside `path` and gives it the name
// `path` through the handle still open, which costs no look-up of either
// name; the file thus takes its folder's access rules, as a copy should.
// The file is hidden while it has its temporary name, as a leading dot
// hides nothing on Windows. Without `expected` the name must be free:
// returns false, leaving nothing behind, when something stands at `path`.
// With it, what stands at `path` is replaced only while it still holds
// `expected`, read back through `work` just before, or, given `unread`,
// while it still has that stamp, looked at without reading. Throws Error
// naming `path` on any other failure, leaving nothing behind either.
bool WriteAndRename(FileWork& work, FileWork::State& state,
                    const fs::path& path, std::string_view bytes,
                    const std::string_view* expected,
                    const FileStamp* unread = nullptr) {
  const bool replace = expected != nullptr;
  state.ClearFolderOf(path);
  HANDLE raw = INVALID_HANDLE_VALUE;
  do {
    raw = Calls().create_file(LongPath(TemporaryName(path)).c_str(),
                              GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN);
  } while (raw == INVALID_HANDLE_VALUE &&
           ::GetLastError() == ERROR_FILE_EXISTS);
  if (raw == INVALID_HANDLE_VALUE) throw FileError(kWriteAction, path);
  Handle handle(raw);
  // Shown once it has its name. Its last-write time is set, so that the
  // system does not set its own as the handle closes: the stamp kept of it
  // must be what the file keeps.
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  basic.LastWriteTime = Now();
  std::vector<char> rename = RenameTo(path, replace);
  const auto discard = [&] {
    FILE_DISPOSITION_INFO remove = {TRUE};
    Calls().set_file_info(handle.get(), FileDispositionInfo, &remove,
                          sizeof(remove));
    handle.Close();
  };
  // What is replaced must still be what was read, looked at as late as can
  // be: a file open elsewhere cannot be replaced on Windows.
  const auto unchanged = [&] {
    if (!replace) return true;
    if (unread != nullptr) {
      if (HasStamp(path, *unread)) return true;
      discard();
      throw Error(kWriteAction, path,
                  "It changed while Norvale was replacing it, so it is left "
                  "as it is");
    }
    std::string now;
    try {
      now = work.ReadWholeFile(path);
    } catch (const Error&) {
      discard();
      throw;
    }
    if (now == *expected) return true;
    discard();
    throw Error(kWriteAction, path,
                "It changed while Norvale was replacing it, so it is left as "
                "it is");
  };
  if (WriteAll(handle.get(), bytes) &&
      Calls().set_file_info(handle.get(), FileBasicInfo, &basic,
                            sizeof(basic)) &&
      unchanged() && WhileHeld([&] {
        return Calls().set_file_info(handle.get(), FileRenameInfo,
                                     rename.data(),
                                     static_cast<DWORD>(rename.size()));
      })) {
    if (!handle.Close()) throw FileError(kWriteAction, path);
    state.Stamp(path, StampFrom(bytes.size(), basic.LastWriteTime));
    return true;
  }
  const Failure failure = LastFailure();
  discard();
  if (!replace && NameTaken(path, failure)) return false;
  throw FileError(kWriteAction, path, failure);
}

// Where a copy this small goes to a free name, it is created under that
// name and written in one call, which the system takes whole or not at
// all, as on disks without atomic names: a run killed in between leaves an
// empty file, which the next run replaces as one of its own. A temporary
// name costs each copy a rename and its attributes set twice, and under
// Wine a second search of its folder for the name in any letter case,
// which made first runs 1.2 to 1.6 times as long.
constexpr size_t kOneWrite = 4096;

// Creates `path`, whose name must be free, holding `bytes` written in one
// call; no one else may open it meanwhile. Returns false, leaving nothing
// behind, when anything stands at `path`; throws Error naming `path` on
// any other failure, leaving nothing behind either.
bool WriteInOneCall(FileWork::State& state, const fs::path& path,
                    std::string_view bytes) {
  Handle handle(Calls().create_file(LongPath(path).c_str(),
                                    GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL));
  if (!handle.valid()) {
    const Failure failure = LastFailure();
    if (NameTaken(path, failure)) return false;
    throw FileError(kWriteAction, path, failure);
  }
  // Its last-write time is set, as the system would set its own as the
  // handle closes, so that the stamp kept is what the file keeps.
  FILE_BASIC_INFO basic = {};
  basic.LastWriteTime = Now();
  if (!WriteAll(handle.get(), bytes) ||
      !Calls().set_file_info(handle.get(), FileBasicInfo, &basic,
                             sizeof(basic))) {
    const Failure failure = LastFailure();
    FILE_DISPOSITION_INFO remove = {TRUE};
    Calls().set_file_info(handle.get(), FileDispositionInfo, &remove,
                          sizeof(remove));
    throw FileError(kWriteAction, path, failure);
  }
  if (handle.Close()) {
    state.Stamp(path, StampFrom(bytes.size(), basic.LastWriteTime));
    return true;
  }
  const Failure failure = LastFailure();
  ::DeleteFileW(LongPath(path).c_str());
  throw FileError(kWriteAction, path, failure);
}

// Returns true when `failure`, met opening a path, means nothing is there.
bool Gone(const Failure& failure) {
  return failure.code == ERROR_FILE_NOT_FOUND ||
         failure.code == ERROR_PATH_NOT_FOUND;
}

// Has the file or folder open as `handle` removed when it closes; returns
// false, with the last error set, when the system refuses.
bool MarkForRemoval(HANDLE handle) {
  FILE_DISPOSITION_INFO remove = {TRUE};
  return Calls().set_file_info(handle, FileDispositionInfo, &remove,
                               sizeof(remove));
}

}  // namespace

bool FileWork::WriteNewFile(const fs::path& path, std::string_view bytes,
                            Permissions /*permissions*/) {
  if (bytes.size() > kOneWrite) {
    return WriteAndRename(*this, *state_, path, bytes, nullptr);
  }
  state_->ClearFolderOf(path);
  return WriteInOneCall(*state_, path, bytes);
}

void FileWork::ReplaceFile(const fs::path& path, std::string_view bytes,
                           std::string_view expected, const FileStamp* unread) {
  // Windows will not replace a read-only file, Wine as root would; refuse it
  // the same way everywhere, before anything is written.
  const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    throw Error(kWriteAction, path, kReadOnlyReason);
  }
  // Replaces a link at `path` rather than the file it leads to, and fails on
  // a folder.
  WriteAndRename(*this, *state_, path, bytes, &expected, unread);
}

bool FileWork::RemoveCopy(const fs::path& path, const FileId* folder_id,
                          std::string_view expected) {
  State& state = *state_;
  // The folder the caller judged, not another put at its path meanwhile.
  if (folder_id != nullptr && IdentifyFile(path.parent_path()) != *folder_id) {
    throw Error(kRemoveAction, path,
                "Its folder changed while Norvale was removing it, so it is "
                "left as it is");
  }
  // The name itself is opened, not what a link leads to, and while it is
  // open no one else may write, rename or remove it, so that what is
  // removed is what was read; backup semantics open a folder too, to leave
  // it.
  Handle handle(Open(path, GENERIC_READ | DELETE, FILE_SHARE_READ,
                     OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS |
                         FILE_FLAG_SEQUENTIAL_SCAN));
  if (!handle.valid()) {
    const Failure failure = LastFailure();
    if (Gone(failure)) return false;
    throw FileError(kRemoveAction, path, failure);
  }
  FileFacts facts;
  if (!AskFacts(handle.get(), &facts)) throw FileError(kRemoveAction, path);
  const FoundFile found = Found(handle.get(), facts);
  if (!MayRemove(found)) return false;
  const uint64_t size = found.size;
  std::string content;
  if ((facts.tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    content = ReadOpenFile(handle.get(), size, path);
  } else {
    // A synced, deduplicated or compressed file's content comes through the
    // driver that owns its tag, which the name opened as itself bypasses:
    // it is read through a second handle, when that is the very file held.
    Handle reader(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!reader.valid()) throw FileError(kRemoveAction, path);
    const std::optional<FileId> held = state.Identify(handle.get(), path);
    if (!held || held != state.Identify(reader.get(), path)) return false;
    content = ReadOpenFile(reader.get(), size, path);
  }
  if (!IsOwnCopy(content, expected)) return false;
  // A run that only looks has met what the removal would, but for the
  // folder's access rules, which only the removal tells.
  if (look_only_) return true;
  if (!MarkForRemoval(handle.get())) {
    // Closed first, so that the file is not taken as held by another
    // program for the handle held here.
    const Failure failure = LastFailure();
    handle.Close();
    throw FileError(kRemoveAction, path, failure);
  }
  if (!handle.Close()) throw FileError(kRemoveAction, path);
  // Its folder is written to, as by a copy written there.
  state.ClearFolderOf(path);
  return true;
}

bool FileWork::EnterFolder(const fs::path& folder, const FileId& id,
                           bool* cleared) {
  // Junctions and links are never listed as folders, so a walk meets one
  // only where a folder was swapped for it meanwhile, which the identity
  // tells.
  if (IdentifyFile(folder) != id) return false;
  try {
    state_->ClearFolderOf(folder / L"*");
  } catch (const Error&) {
    // Whatever reads the folder next names why it cannot be reached.
  }
  if (cleared != nullptr) *cleared = false;
  state_->walk.push_back(folder);
  return true;
}

void FileWork::LeaveFolder() {
  if (!state_->walk.empty()) state_->walk.pop_back();
}

std::vector<FolderEntry> FileWork::ListEnteredFolder(std::error_code& ec) {
  if (state_->walk.empty()) {
    ec = std::make_error_code(std::errc::bad_file_descriptor);
    return {};
  }
  return ListFolder(state_->walk.back(), ec);
}

bool FileWork::RemoveEmptyFolder(const fs::path& folder,
                                 const FileId* parent_id) {
  State& state = *state_;
  if (parent_id != nullptr &&
      IdentifyFile(folder.parent_path()) != *parent_id) {
    throw Error(kRemoveFolderAction, folder,
                "The folder holding it changed while Norvale was removing "
                "it, so it is left as it is");
  }
  if (look_only_) return true;
  // Opened as itself, so that a junction or a link to a folder is neither
  // followed nor removed; others may go on listing it meanwhile.
  Handle handle(
      Open(folder, DELETE | FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!handle.valid()) {
    const Failure failure = LastFailure();
    if (Gone(failure)) return false;
    throw FileError(kRemoveFolderAction, folder, failure);
  }
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!Calls().get_file_info(handle.get(), FileAttributeTagInfo, &tag,
                             sizeof(tag))) {
    throw FileError(kRemoveFolderAction, folder);
  }
  // OneDrive tags every folder it syncs, which is a folder like any other
  // once its entries are all on this computer; any other reparse point is
  // a junction, a link or a folder whose entries a driver makes up.
  const DWORD attributes = tag.FileAttributes;
  const bool synced = (tag.ReparseTag & 0xFFFF0FFF) == IO_REPARSE_TAG_CLOUD &&
                      !IsOnlineOnly(attributes);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !synced)) {
    return false;
  }
  // The system refuses to mark a folder that holds anything, and lets
  // nothing be made in one that is marked: emptiness is decided with the
  // removal.
  if (!MarkForRemoval(handle.get())) {
    const Failure failure = LastFailure();
    if (failure.code == ERROR_DIR_NOT_EMPTY) return false;
    handle.Close();
    throw FileError(kRemoveFolderAction, folder, failure);
  }
  if (!handle.Close()) throw FileError(kRemoveFolderAction, folder);
  // A folder of that name made later is another one.
  const std::wstring& text = folder.native();
  for (KnownFolder* known : {&state.copy_folder, &state.place_folder}) {
    if (known->text == text) known->id.reset();
  }
  ForgetFolder(text);
  return true;
}

}  // namespace norvale
