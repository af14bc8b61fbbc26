#include "services/win/handle.h"

#include "services/file_reading.h"
#include "services/win/controlled_folders.h"
#include "services/win/long_path.h"
#include "services/win/system_calls.h"

extern "C" LONG WINAPI RtlGetLastNtStatus();

namespace norvale {
namespace {

constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);

// Returns true when `path` names a file that another program holds open in
// a way that keeps it from being replaced or removed.
bool HeldElsewhere(const std::filesystem::path& path) {
  const HANDLE handle = Calls().create_file(
      LongPath(path).c_str(), DELETE, kShareAll, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    return false;
  }
  const Failure failure = LastFailure();
  return failure.code == ERROR_SHARING_VIOLATION || failure.delete_pending;
}

}  // namespace

Failure LastFailure() {
  const DWORD code = ::GetLastError();
  return {code, code == ERROR_ACCESS_DENIED &&
                    RtlGetLastNtStatus() == kStatusDeletePending};
}

Error FileError(std::string_view action, const std::filesystem::path& path,
                Failure failure) {
  switch (failure.code) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Error(action, path, "Another program is using it");
    case ERROR_WRITE_PROTECT:
      return Error(action, path, "Its disk is read-only");
    case ERROR_ACCESS_DENIED:
      if (failure.delete_pending) {
        return Error(action, path,
                     "Another program is deleting it and still has it open");
      }
      if (HeldElsewhere(path)) {
        return Error(action, path, "Another program is using it");
      }
      // Controlled Folder Access refuses changes with this code alone.
      if (action.rfind(kWriteAction, 0) == 0 ||
          action.rfind("Could not remove", 0) == 0) {
        return Error(action, path,
                     WindowsReason(failure.code) + ControlledFolderHint(path));
      }
      break;
  }
  return WindowsError(action, path, failure.code);
}

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

std::string ReadOpenFile(HANDLE handle, uint64_t size,
                         const std::filesystem::path& path) {
  for (int attempt = 0;; ++attempt) {
    std::string content = ReadToEnd(
        size,
        [&](char* into, size_t room) {
          // ReadFile takes at most a DWORD's worth at a time. It reads on
          // from where the last read ended: an offset given with each read
          // costs Wine a round trip to its server per read.
          const DWORD ask =
              static_cast<DWORD>(room < 0x40000000u ? room : 0x40000000u);
          DWORD got = 0;
          if (!Calls().read_file(handle, into, ask, &got)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) return size_t{0};
            throw FileError("Could not read", path);
          }
          return static_cast<size_t>(got);
        },
        path);
    if (content.size() == size) return content;
    LARGE_INTEGER now;
    const LARGE_INTEGER start = {};
    if (attempt == 1 || !::GetFileSizeEx(handle, &now) ||
        !::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) {
      break;
    }
    size = static_cast<uint64_t>(now.QuadPart);
  }
  throw Error("Could not read", path,
              "It changed while Norvale was reading it, so nothing is made "
              "of it");
}

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

bool AskFacts(HANDLE handle, FileFacts* facts) {
  if (!Calls().get_file_info(handle, FileBasicInfo, &facts->basic,
                             sizeof(facts->basic)) ||
      !Calls().get_file_info(handle, FileStandardInfo, &facts->standard,
                             sizeof(facts->standard))) {
    return false;
  }
  facts->tag = {facts->basic.FileAttributes, 0};
  return (facts->basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
         Calls().get_file_info(handle, FileAttributeTagInfo, &facts->tag,
                               sizeof(facts->tag));
}

}  // namespace norvale
