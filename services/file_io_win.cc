// Windows implementation of the file primitives, on the wide-character API so
// that every file name works whatever the ANSI code page.
#include <windows.h>
// The Windows header maps this name to ReplaceFileW; Norvale's own is meant.
#undef ReplaceFile

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "services/error.h"
#include "services/file_io.h"
#include "services/file_reading.h"
#include "services/long_path_win.h"
#include "services/system_calls_win.h"

namespace norvale {
namespace {

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Closes a handle on every path out of a function.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Closes now and returns whether that worked, which can report a lost
  // write.
  bool Close() {
    const bool closed = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

// Returns the Error for the failure GetLastError reports now.
Error LastError(std::string_view action, const std::filesystem::path& path) {
  return WindowsError(action, path, ::GetLastError());
}

// Returns what `attempt` returns, asking again for about a second while it
// fails with a sharing violation or access denied: virus scanners, the
// search indexer and OneDrive open each new file for a moment, and a rename
// or open meanwhile meets one of the two. The last error is kept.
bool WhileHeld(const std::function<bool()>& attempt) {
  for (const DWORD wait : {10, 30, 60, 100, 200, 300, 300}) {
    if (attempt()) return true;
    const DWORD code = ::GetLastError();
    if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) {
      return false;
    }
    ::Sleep(wait);
  }
  return attempt();
}

// Opens `path` as CreateFileW does, asking again while it is held.
HANDLE Open(const std::filesystem::path& path, DWORD access, DWORD share,
            DWORD disposition, DWORD flags) {
  const std::wstring name = LongPath(path);
  HANDLE handle = INVALID_HANDLE_VALUE;
  WhileHeld([&] {
    handle =
        Calls().create_file(name.c_str(), access, share, disposition, flags);
    return handle != INVALID_HANDLE_VALUE;
  });
  return handle;
}

// Returns the identity of the open file `handle`: the 128-bit one where the
// volume gives it, as ReFS's 64-bit file index is not unique, else the
// 64-bit one.
std::optional<FileId> IdentifyHandle(HANDLE handle) {
  FileIdInfo id;
  if (Calls().get_file_info(handle, kFileIdInfo, &id, sizeof(id))) {
    FileId file{id.VolumeSerialNumber};
    std::memcpy(&file.inode, id.FileId, sizeof(uint64_t));
    std::memcpy(&file.inode_high, id.FileId + sizeof(uint64_t),
                sizeof(uint64_t));
    return file;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!Calls().get_file_index(handle, &info)) return std::nullopt;
  return FileId{
      info.dwVolumeSerialNumber,
      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// Returns the `size` bytes, or however many there are, of the regular file
// open as `handle`; throws Error naming `path` when it cannot be read.
std::string ReadOpenFile(HANDLE handle, uint64_t size,
                         const std::filesystem::path& path) {
  return ReadToEnd(
      size,
      [&](char* into, size_t room) {
        // ReadFile takes at most a DWORD's worth at a time.
        const DWORD ask =
            static_cast<DWORD>(room < 0x40000000u ? room : 0x40000000u);
        DWORD got = 0;
        if (!::ReadFile(handle, into, ask, &got, nullptr)) {
          throw LastError("Could not read", path);
        }
        return static_cast<size_t>(got);
      },
      path);
}

// Returns false, with the last error set, when not every byte was written.
bool WriteAll(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    // WriteFile takes at most a DWORD's worth at a time.
    const DWORD chunk = static_cast<DWORD>(
        bytes.size() < 0x40000000u ? bytes.size() : 0x40000000u);
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

// Returns a name in the folder of `path` that does not end in ".url", so a
// search never lists a temporary file as a shortcut.
std::filesystem::path TemporaryName(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  const std::wstring name = L".norvale-" +
                            std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(counter++) + L".tmp";
  return path.parent_path() / name;
}

// What one run's file work has learned: when it began, and the folders
// known to hold no temporary file of an earlier run.
struct FileWork {
  FILETIME start = {};
  std::unordered_set<std::wstring> clean_folders;
  // The folder whose volume was looked at last, for IdentifyIn.
  std::wstring volume_folder;
  std::optional<uint64_t> volume_serial;
  bool volume_has_wide_ids = false;
};

FileWork& Work() {
  static FileWork work;
  return work;
}

// Returns the identity of the file open as `handle`, named by itself (not
// through a link) in `folder`, the same as IdentifyHandle gives. Asking a
// file for its volume's serial costs Wine a round trip to another process,
// which an update run would pay for every copy; a file has its folder's
// volume, so the serial is asked for once per folder, and the 64-bit file
// number suffices but on ReFS.
std::optional<FileId> IdentifyIn(HANDLE handle,
                                 const std::filesystem::path& folder) {
  using QueryFunction = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, ULONG);
  static const auto query =
      reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(::GetProcAddress(
          ::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  FileWork& work = Work();
  if (work.volume_folder != folder.native()) {
    work.volume_folder = folder.native();
    work.volume_serial.reset();
    Handle open(Calls().create_file(LongPath(folder).c_str(), 0, kShareAll,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    wchar_t file_system[MAX_PATH + 1] = {};
    if (open.valid()) {
      if (const auto id = IdentifyHandle(open.get())) {
        work.volume_serial = id->device;
      }
      work.volume_has_wide_ids = ::GetVolumeInformationByHandleW(
                                     open.get(), nullptr, 0, nullptr, nullptr,
                                     nullptr, file_system, MAX_PATH + 1) &&
                                 std::wstring_view(file_system) == L"ReFS";
    }
  }
  struct {
    void* status;
    ULONG_PTR information;
  } io;
  uint64_t number = 0;
  // FileInternalInformation, the 64-bit file number.
  if (!work.volume_serial || work.volume_has_wide_ids || query == nullptr ||
      query(handle, &io, &number, sizeof(number), 6) != 0) {
    return IdentifyHandle(handle);
  }
  return FileId{*work.volume_serial, number};
}

// Removes from `folder`, once a run, the temporary files an earlier run
// left there when it was killed: regular files of Norvale's own name
// pattern, written before this run began, and nothing else.
void RemoveLeftovers(const std::filesystem::path& folder) {
  FileWork& work = Work();
  std::wstring name = LongPath(folder);
  if (!work.clean_folders.insert(name).second) return;
  if (name.back() != L'\\') name += L'\\';
  WIN32_FIND_DATAW found;
  const HANDLE find =
      ::FindFirstFileExW((name + L".norvale-*.tmp").c_str(), FindExInfoBasic,
                         &found, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY |
                            FILE_ATTRIBUTE_REPARSE_POINT |
                            FILE_ATTRIBUTE_READONLY;
    // The pattern matches short names too; the name itself must match.
    const std::wstring_view entry = found.cFileName;
    if (entry.rfind(L".norvale-", 0) == 0 && entry.size() > 13 &&
        entry.substr(entry.size() - 4) == L".tmp" &&
        (found.dwFileAttributes & not_plain) == 0 &&
        ::CompareFileTime(&found.ftLastWriteTime, &work.start) < 0) {
      ::DeleteFileW((name + found.cFileName).c_str());
    }
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
}

// Writes `bytes` to a new temporary file beside `path` and gives it the name
// `path` through the handle still open, which costs no look-up of either
// name. The file is hidden while it has its temporary name, as a leading
// dot hides nothing on Windows. Without `expected` the name must be free:
// returns false, leaving nothing behind, when something stands at `path`.
// With it, what stands at `path` is replaced only while it still holds
// `expected`. Throws Error naming `path` on any other failure, leaving
// nothing behind either.
bool WriteAndRename(const std::filesystem::path& path, std::string_view bytes,
                    const std::string_view* expected) {
  const bool replace = expected != nullptr;
  RemoveLeftovers(path.parent_path());
  std::filesystem::path temporary;
  HANDLE raw = INVALID_HANDLE_VALUE;
  do {
    temporary = TemporaryName(path);
    raw =
        Calls().create_file(LongPath(temporary).c_str(), GENERIC_WRITE | DELETE,
                            0, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
  } while (raw == INVALID_HANDLE_VALUE &&
           ::GetLastError() == ERROR_FILE_EXISTS);
  if (raw == INVALID_HANDLE_VALUE) throw LastError("Could not write", path);
  Handle handle(raw);
  // Shown once it has its name; the times are left as they are.
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  // The name as the system's own calls take it, "\??\" for "\\?\".
  std::wstring target = LongPath(path);
  if (target.rfind(L"\\\\?\\", 0) != 0) {
    target = LongPath(std::filesystem::absolute(path));
  }
  target[1] = L'?';
  const DWORD name_bytes = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::vector<char> rename(offsetof(FILE_RENAME_INFO, FileName) + name_bytes +
                           sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(rename.data());
  info->ReplaceIfExists = replace;
  info->FileNameLength = name_bytes;
  std::memcpy(info->FileName, target.c_str(), name_bytes + sizeof(wchar_t));
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
      now = ReadWholeFile(path);
    } catch (const Error&) {
      discard();
      throw;
    }
    if (now == *expected) return true;
    discard();
    throw Error("Could not write", path,
                "It changed while Norvale was replacing it, so it is left as "
                "it is");
  };
  if (WriteAll(handle.get(), bytes) &&
      Calls().set_file_info(handle.get(), FileBasicInfo, &basic,
                            sizeof(basic)) &&
      unchanged() && WhileHeld([&] {
        return Calls().set_file_info(handle.get(), FileRenameInfo, info,
                                     static_cast<DWORD>(rename.size()));
      })) {
    if (handle.Close()) return true;
    throw LastError("Could not write", path);
  }
  const DWORD code = ::GetLastError();
  discard();
  if (!replace) {
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) {
      return false;
    }
    // A folder of that name can be reported as access denied; it is taken
    // too, and replacing it fails with a clearer reason.
    if (code == ERROR_ACCESS_DENIED &&
        ::GetFileAttributesW(LongPath(path).c_str()) !=
            INVALID_FILE_ATTRIBUTES) {
      return false;
    }
  }
  throw WindowsError("Could not write", path, code);
}

}  // namespace

std::optional<FileId> IdentifyFile(const std::filesystem::path& path) {
  // No access asked for, so even a file open elsewhere can be identified;
  // backup semantics let folders be opened too.
  Handle handle(Calls().create_file(LongPath(path).c_str(), 0, kShareAll,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  if (!handle.valid()) return std::nullopt;
  return IdentifyHandle(handle.get());
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  Handle handle(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN));
  if (!handle.valid()) throw LastError("Could not open", path);
  // Pipes, consoles and other devices could block or never end.
  if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
    throw Error("Could not read", path, "It is not a regular file");
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle.get(), &size)) {
    throw LastError("Could not read", path);
  }
  return ReadOpenFile(handle.get(), static_cast<uint64_t>(size.QuadPart), path);
}

std::optional<CopyPlace> PlaceOf(const std::filesystem::path& path) {
  // The copies of one folder come one after another; its identity is taken
  // once for them all.
  static std::filesystem::path last_folder;
  static std::optional<FileId> last_id;
  const std::filesystem::path folder = path.parent_path();
  if (folder != last_folder || !last_id) {
    last_folder = folder;
    last_id = IdentifyFile(folder);
  }
  if (!last_id) return std::nullopt;
  // Windows compares names without regard to case, as CharUpper folds them.
  std::wstring name = path.filename().native();
  if (!name.empty()) {
    ::CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
  }
  return CopyPlace{*last_id, std::move(name)};
}

std::optional<ExistingCopy> ReadExistingCopy(
    const std::filesystem::path& path) {
  // The name itself is opened, not what a link leads to, so what is decided
  // on here is what is read; backup semantics open a folder too, to say so.
  Handle handle(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS |
                         FILE_FLAG_SEQUENTIAL_SCAN));
  if (!handle.valid()) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return std::nullopt;
    throw WindowsError("Could not write", path, code);
  }
  // Asked for by class: the whole BY_HANDLE_FILE_INFORMATION costs Wine a
  // look at the volume, which an update run would pay for every copy.
  FILE_ATTRIBUTE_TAG_INFO tag;
  FILE_STANDARD_INFO standard;
  if (!Calls().get_file_info(handle.get(), FileAttributeTagInfo, &tag,
                             sizeof(tag)) ||
      !Calls().get_file_info(handle.get(), FileStandardInfo, &standard,
                             sizeof(standard))) {
    throw LastError("Could not write", path);
  }
  const DWORD attributes = tag.FileAttributes;
  // Only symbolic links and junctions are links. Files that OneDrive keeps,
  // deduplicated and compressed files are reparse points of other kinds,
  // and files like any other.
  const bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (reparse && (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK ||
                  tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT)) {
    throw Error("Could not write", path,
                "It is a link, so it is left as it is");
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw Error("Could not write", path, "A folder of that name is in the way");
  }
  if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
    throw Error("Could not write", path,
                "It is not a regular file, so it is left as it is");
  }
  const auto size = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
  if (size > kLargestShortcut) {
    throw Error("Could not write", path,
                "It holds more than a compact copy, so it is left as it is");
  }
  ExistingCopy existing;
  const std::optional<FileId> id = IdentifyIn(handle.get(), path.parent_path());
  if (!id) throw LastError("Could not write", path);
  existing.id = *id;
  existing.id_is_place = standard.NumberOfLinks == 1;
  if (!reparse) {
    existing.content = ReadOpenFile(handle.get(), size, path);
  } else {
    // Such a file's content comes through the driver that owns its tag,
    // which the name opened as itself bypasses: open it again the usual
    // way, and read it only when that is the very file decided on.
    Handle content(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN));
    if (!content.valid()) throw LastError("Could not open", path);
    const std::optional<FileId> opened =
        IdentifyIn(content.get(), path.parent_path());
    if (!opened || !(*opened == *id)) {
      throw Error("Could not write", path,
                  "It changed while it was read, so it is left as it is");
    }
    existing.content = ReadOpenFile(content.get(), size, path);
  }
  if (auto place = PlaceOf(path)) existing.place = std::move(*place);
  return existing;
}

bool WriteNewFile(const std::filesystem::path& path, std::string_view bytes) {
  return WriteAndRename(path, bytes, nullptr);
}

void ReplaceFile(const std::filesystem::path& path, std::string_view bytes,
                 std::string_view expected) {
  // Windows will not replace a read-only file, Wine as root would; refuse it
  // the same way everywhere, before anything is written.
  const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    throw Error("Could not write", path,
                "It is read-only, so it is left as it is");
  }
  // Replaces a link at `path` rather than the file it leads to, and fails on
  // a folder.
  WriteAndRename(path, bytes, &expected);
}

void BeginFileWork() {
  FileWork& work = Work();
  ::GetSystemTimeAsFileTime(&work.start);
  work.clean_folders.clear();
  work.volume_folder.clear();
}

void NoteFolderMade(const std::filesystem::path& folder) {
  Work().clean_folders.insert(LongPath(folder));
}

void CloseOpenFolders() {
  // Every file is opened by its full path here; no folder is kept open.
}

void FlushWrittenDisks() {
  // Flushing a whole volume needs an administrator, and flushing every copy
  // on its own made runs many times slower on a real disk; Windows users
  // eject a removable disk before pulling it, which flushes it.
}

}  // namespace norvale
