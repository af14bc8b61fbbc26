// Open files on Windows, and what a failed call on one means.
#ifndef NORVALE_SERVICES_WIN_HANDLE_H_
#define NORVALE_SERVICES_WIN_HANDLE_H_

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "services/error.h"

namespace norvale {

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr char kWriteAction[] = "Could not write";

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

// What a failed call reported: GetLastError's code, and whether the system
// said the file is pending deletion (which Windows reports as access
// denied).
struct Failure {
  DWORD code;
  bool delete_pending;
};

// Returns the failure the last call reported; call it before any other.
Failure LastFailure();

// Returns the Error for `failure` while doing `action` to `path`, saying
// what happened: another program using the file (also where Windows says
// access denied of a file held open elsewhere or pending deletion, told
// apart from a real refusal by asking to open it for deletion), or a
// read-only disk; else the system's own words.
Error FileError(std::string_view action, const std::filesystem::path& path,
                Failure failure = LastFailure());

// Returns what `attempt` returns, asking again for about a second while it
// fails with a sharing violation or access denied: virus scanners, the
// search indexer and OneDrive open each new file for a moment, and a rename
// or open meanwhile meets one of the two. The last error is kept.
bool WhileHeld(const std::function<bool()>& attempt);

// Returns the handle CreateFileW gives for `path`, asking again while the
// file is held; INVALID_HANDLE_VALUE, with the last error set, on failure.
HANDLE Open(const std::filesystem::path& path, DWORD access, DWORD share,
            DWORD disposition, DWORD flags);

// What a file is, as a copy is judged by: its attributes with its reparse
// tag (0 for a file that is no reparse point), its times, and its size and
// names.
struct FileFacts {
  FILE_ATTRIBUTE_TAG_INFO tag;
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
};

// Puts in `facts` what the file open as `handle` is, asked for by class:
// the whole BY_HANDLE_FILE_INFORMATION costs Wine a look at the volume,
// which an update run would pay for every copy; the tag is asked for only
// of a reparse point. Returns false, with the last error set, when the
// system does not tell.
bool AskFacts(HANDLE handle, FileFacts* facts);

// Returns the whole content of the regular file just opened as `handle`,
// where `size` is the size the system gave at open. A read that
// ends before that size or runs past it means the file changed meanwhile:
// it is read once more at its size then, and when it still does not match,
// Error naming `path` says so, so that nothing is ever made of part of a
// file. Throws Error too when the file cannot be read.
std::string ReadOpenFile(HANDLE handle, uint64_t size,
                         const std::filesystem::path& path);

// Returns false, with the last error set, when not every byte was written.
bool WriteAll(HANDLE handle, std::string_view bytes);

}  // namespace norvale

#endif  // NORVALE_SERVICES_WIN_HANDLE_H_
