#include "services/error.h"

#include <cerrno>

namespace norvale {
namespace {

std::string Compose(std::string_view action, const std::filesystem::path& path,
                    std::string_view reason) {
  std::string message(action);
  if (!path.empty()) {
    message += " \"";
    message += path.string();
    message += "\"";
  }
  message += ": ";
  message += reason;
  return message;
}

}  // namespace

Error::Error(std::string_view action, const std::filesystem::path& path,
             std::string_view reason)
    : std::runtime_error(Compose(action, path, reason)), path_(path) {}

Error SystemError(std::string_view action, const std::filesystem::path& path,
                  std::error_code code) {
  return Error(action, path, code.message());
}

Error ErrnoError(std::string_view action, const std::filesystem::path& path) {
  return SystemError(action, path,
                     std::error_code(errno, std::generic_category()));
}

}  // namespace norvale
