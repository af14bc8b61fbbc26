// Writing copies on Windows so that a name only ever shows whole content (a
// small new copy, for a moment, none), and replacing one only while it
// still holds what was read.
#include <windows.h>
// The Windows header maps this name to ReplaceFileW; Norvale's own is meant.
#undef ReplaceFile

#include <cstring>
#include <string>
#include <vector>

#include "services/error.h"
#include "services/file_work_win.h"
#include "services/handle_win.h"
#include "services/long_path_win.h"
#include "services/system_calls_win.h"
#include "services/temporary_files_win.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

// Removes from the folder of the copy `path`, once a run, the temporary
// files a killed run left there; never from a folder the run made, which
// holds none, nor from one searched for sources, which holds only the
// user's files.
void ClearFolderOf(FileWork::State& state, const fs::path& path) {
  const std::wstring& text = path.native();
  const size_t last = text.find_last_of(L"\\/");
  const std::wstring folder = text.substr(0, last == text.npos ? 0 : last);
  if (state.look_only || state.made->count(folder) != 0 ||
      !state.folders_cleared.insert(folder).second) {
    return;
  }
  std::wstring_view name;
  if (!state.Know(state.copy_folder, path, &name)) {
    throw FileError(kWriteAction, path);
  }
  if (state.source_folders.count(*state.copy_folder.id) == 0) {
    RemoveLeftovers(path.parent_path(), state.start);
  }
}

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

// Writes `bytes` to a new temporary file beside `path` and gives it the name
// `path` through the handle still open, which costs no look-up of either
// name; the file thus takes its folder's access rules, as a copy should.
// The file is hidden while it has its temporary name, as a leading dot
// hides nothing on Windows. Without `expected` the name must be free:
// returns false, leaving nothing behind, when something stands at `path`.
// With it, what stands at `path` is replaced only while it still holds
// `expected`, read back through `work` just before. Throws Error naming
// `path` on any other failure, leaving nothing behind either.
bool WriteAndRename(FileWork& work, FileWork::State& state,
                    const fs::path& path, std::string_view bytes,
                    const std::string_view* expected) {
  const bool replace = expected != nullptr;
  ClearFolderOf(state, path);
  HANDLE raw = INVALID_HANDLE_VALUE;
  do {
    raw = Calls().create_file(LongPath(TemporaryName(path)).c_str(),
                              GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN);
  } while (raw == INVALID_HANDLE_VALUE &&
           ::GetLastError() == ERROR_FILE_EXISTS);
  if (raw == INVALID_HANDLE_VALUE) throw FileError(kWriteAction, path);
  Handle handle(raw);
  // Shown once it has its name; the times are left as they are.
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
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
    if (handle.Close()) return true;
    throw FileError(kWriteAction, path);
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
bool WriteInOneCall(const fs::path& path, std::string_view bytes) {
  Handle handle(Calls().create_file(LongPath(path).c_str(),
                                    GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL));
  if (!handle.valid()) {
    const Failure failure = LastFailure();
    if (NameTaken(path, failure)) return false;
    throw FileError(kWriteAction, path, failure);
  }
  if (!WriteAll(handle.get(), bytes)) {
    const Failure failure = LastFailure();
    FILE_DISPOSITION_INFO remove = {TRUE};
    Calls().set_file_info(handle.get(), FileDispositionInfo, &remove,
                          sizeof(remove));
    throw FileError(kWriteAction, path, failure);
  }
  if (handle.Close()) return true;
  const Failure failure = LastFailure();
  ::DeleteFileW(LongPath(path).c_str());
  throw FileError(kWriteAction, path, failure);
}

}  // namespace

bool FileWork::WriteNewFile(const fs::path& path, std::string_view bytes,
                            Permissions /*permissions*/) {
  if (bytes.size() > kOneWrite) {
    return WriteAndRename(*this, *state_, path, bytes, nullptr);
  }
  ClearFolderOf(*state_, path);
  return WriteInOneCall(path, bytes);
}

void FileWork::ReplaceFile(const fs::path& path, std::string_view bytes,
                           std::string_view expected) {
  // Windows will not replace a read-only file, Wine as root would; refuse it
  // the same way everywhere, before anything is written.
  const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    throw Error(kWriteAction, path, "It is read-only, so it is left as it is");
  }
  // Replaces a link at `path` rather than the file it leads to, and fails on
  // a folder.
  WriteAndRename(*this, *state_, path, bytes, &expected);
}

}  // namespace norvale
