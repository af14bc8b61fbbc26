// Windows implementation of the file primitives, on the wide-character API so
// that every file name works whatever the ANSI code page.
#include <windows.h>
// The Windows header maps this name to ReplaceFileW; Norvale's own is meant.
#undef ReplaceFile

#include <atomic>
#include <string>

#include "services/error.h"
#include "services/file_io.h"
#include "services/file_reading.h"
#include "services/long_path_win.h"

namespace norvale {
namespace {

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

// Creates `path`, failing when anything already stands there; the handle is
// invalid, with the last error set, on failure.
HANDLE CreateExclusive(const std::filesystem::path& path) {
  return ::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// Creates a temporary file beside `path`, writes `bytes` to it and closes
// it; returns its name. Throws Error naming `path`, leaving nothing behind.
std::filesystem::path WriteTemporary(const std::filesystem::path& path,
                                     std::string_view bytes) {
  std::filesystem::path temporary;
  HANDLE raw = INVALID_HANDLE_VALUE;
  do {
    temporary = TemporaryName(path);
    raw = CreateExclusive(temporary);
  } while (raw == INVALID_HANDLE_VALUE &&
           ::GetLastError() == ERROR_FILE_EXISTS);
  if (raw == INVALID_HANDLE_VALUE) throw LastError("Could not write", path);
  Handle handle(raw);
  if (WriteAll(handle.get(), bytes) && handle.Close()) return temporary;
  const DWORD code = ::GetLastError();
  if (handle.valid()) handle.Close();
  ::DeleteFileW(LongPath(temporary).c_str());
  throw WindowsError("Could not write", path, code);
}

}  // namespace

std::optional<FileId> IdentifyFile(const std::filesystem::path& path) {
  // No access asked for, so even a file open elsewhere can be identified;
  // backup semantics let folders be opened too.
  Handle handle(::CreateFileW(
      LongPath(path).c_str(), 0,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
  return FileId{
      info.dwVolumeSerialNumber,
      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  Handle handle(::CreateFileW(
      LongPath(path).c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!handle.valid()) throw LastError("Could not open", path);
  // Pipes, consoles and other devices could block or never end.
  if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
    throw Error("Could not read", path, "It is not a regular file");
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle.get(), &size)) {
    throw LastError("Could not read", path);
  }
  return ReadToEnd(
      static_cast<uint64_t>(size.QuadPart),
      [&](char* into, size_t room) {
        // ReadFile takes at most a DWORD's worth at a time.
        const DWORD ask =
            static_cast<DWORD>(room < 0x40000000u ? room : 0x40000000u);
        DWORD got = 0;
        if (!::ReadFile(handle.get(), into, ask, &got, nullptr)) {
          throw LastError("Could not read", path);
        }
        return static_cast<size_t>(got);
      },
      path);
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
  const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return std::nullopt;
    throw WindowsError("Could not write", path, code);
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    throw Error("Could not write", path,
                "It is a link, so it is left as it is");
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw Error("Could not write", path, "A folder of that name is in the way");
  }
  Handle handle(::CreateFileW(
      LongPath(path).c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!handle.valid()) throw LastError("Could not write", path);
  if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
    throw Error("Could not write", path,
                "It is not a regular file, so it is left as it is");
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle.get(), &info)) {
    throw LastError("Could not read", path);
  }
  const uint64_t size =
      (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > kLargestShortcut) {
    throw Error("Could not write", path,
                "It holds more than a compact copy, so it is left as it is");
  }
  ExistingCopy existing;
  existing.content = ReadToEnd(
      size,
      [&](char* into, size_t room) {
        const DWORD ask =
            static_cast<DWORD>(room < 0x40000000u ? room : 0x40000000u);
        DWORD got = 0;
        if (!::ReadFile(handle.get(), into, ask, &got, nullptr)) {
          throw LastError("Could not read", path);
        }
        return static_cast<size_t>(got);
      },
      path);
  existing.id = {
      info.dwVolumeSerialNumber,
      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  existing.id_is_place = info.nNumberOfLinks == 1;
  if (auto place = PlaceOf(path)) existing.place = std::move(*place);
  return existing;
}

bool WriteNewFile(const std::filesystem::path& path, std::string_view bytes) {
  const std::filesystem::path temporary = WriteTemporary(path, bytes);
  // Without MOVEFILE_REPLACE_EXISTING the move refuses a taken name, so the
  // name shows the whole file or nothing.
  if (::MoveFileExW(LongPath(temporary).c_str(), LongPath(path).c_str(), 0)) {
    return true;
  }
  const DWORD code = ::GetLastError();
  ::DeleteFileW(LongPath(temporary).c_str());
  if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return false;
  // A folder of that name is reported as access denied; it is taken too,
  // and replacing it fails with a clearer reason.
  if (code == ERROR_ACCESS_DENIED &&
      ::GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  throw WindowsError("Could not write", path, code);
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
  const std::filesystem::path temporary = WriteTemporary(path, bytes);
  if (ReadWholeFile(path) != expected) {
    ::DeleteFileW(LongPath(temporary).c_str());
    throw Error("Could not write", path,
                "It changed while Norvale was replacing it, so it is left as "
                "it is");
  }
  // MOVEFILE_REPLACE_EXISTING replaces a link at `path` rather than the file
  // it leads to, and fails on a folder.
  if (!::MoveFileExW(LongPath(temporary).c_str(), LongPath(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
    const DWORD code = ::GetLastError();
    ::DeleteFileW(LongPath(temporary).c_str());
    throw WindowsError("Could not write", path, code);
  }
}

void BeginFileWork() {}

void NoteFolderMade(const std::filesystem::path& /*folder*/) {}

void CloseOpenFolders() {
  // Every file is opened by its full path here; no folder is kept open.
}

void FlushWrittenDisks() {
  // Flushing a whole volume needs an administrator, and flushing every copy
  // on its own made runs many times slower on a real disk; Windows users
  // eject a removable disk before pulling it, which flushes it.
}

}  // namespace norvale
