// The one error type every Norvale service reports its failures with.
#ifndef NORVALE_SERVICES_ERROR_H_
#define NORVALE_SERVICES_ERROR_H_

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace norvale {

// A failed operation: what was being done, to which path, and why.
// The message reads like `Could not write "/a/b.url": No space left on device`,
// with the path in UTF-8 on Windows and as its own bytes elsewhere.
class Error : public std::runtime_error {
 public:
  Error(std::string_view action, const std::filesystem::path& path,
        std::string_view reason);
};

// Returns an Error whose reason is the operating system's text for `code`.
Error SystemError(std::string_view action, const std::filesystem::path& path,
                  std::error_code code);

// Returns an Error whose reason is the text for the current errno.
Error ErrnoError(std::string_view action, const std::filesystem::path& path);

#ifndef _WIN32
// Returns the Error for making the `kind` ("file", "folder") `path`, which
// failed with `code`: that its disk cannot store a `kind` of this name where
// the disk refused the name, else as SystemError.
Error MakingError(std::string_view action, const std::filesystem::path& path,
                  std::error_code code, std::string_view kind);
#endif

#ifdef _WIN32
// Returns the system's text for the Windows error `code` (a GetLastError
// value or an HRESULT), in UTF-8, without a closing full stop.
std::string WindowsReason(unsigned long code);

// Returns an Error whose reason is the system's text for the Windows error
// `code` (a GetLastError value or an HRESULT).
Error WindowsError(std::string_view action, const std::filesystem::path& path,
                   unsigned long code);
#endif

}  // namespace norvale

#endif  // NORVALE_SERVICES_ERROR_H_
