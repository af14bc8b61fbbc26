#include "run/compression_run.h"

#include <string>
#include <unordered_set>
#include <utility>

#include "services/error.h"
#include "services/file_tools.h"
#include "services/shell_tools.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Native = fs::path::string_type;
constexpr fs::path::value_type kSeparator = fs::path::preferred_separator;

constexpr std::string_view kSection = "InternetShortcut";
constexpr std::string_view kKey = "URL";
constexpr std::string_view kNoAddress = "about:blank";

}  // namespace

CompressionRun::CompressionRun(fs::path source, fs::path destination,
                               RunObserver* observer)
    : source_(std::move(source)),
      destination_(std::move(destination)),
      observer_(observer) {}

size_t CompressionRun::Run() {
  done_ = total_ = 0;
  cancelled_ = false;
  // An empty field would mean the current folder, or below the root.
  if (source_.empty()) {
    throw Error("Could not start", "", "No source folder is given");
  }
  if (destination_.empty()) {
    throw Error("Could not start", "", "No destination folder is given");
  }
  ShellTools& shell = ShellTools::Instance();
  FileTools& files = FileTools::Instance();

  ShellTools::FoundCallback on_found;
  if (observer_ != nullptr) {
    on_found = [this](size_t found) { return observer_->Searching(found); };
  }
  PathList list;
  try {
    list = shell.FindFiles(source_, "*.url", true, on_found);
  } catch (const SearchCancelled&) {
    cancelled_ = true;
    return 0;
  }
  total_ = list.count();

  const size_t cut = source_.native().size();
  // Folders this run has made or found, so each is created only once.
  std::unordered_set<Native> made;
  for (size_t i = 0; i < total_; ++i) {
    if (observer_ != nullptr && !observer_->Compressing(done_, total_)) {
      cancelled_ = true;
      break;
    }
    const fs::path source = list[i];
    // The search put the source text at the front of every path, so the
    // cut by position leaves the part below it.
    const fs::path relative = files.TextFrom(source, cut + 1);
    fs::path folder;
    if (relative.native().find(kSeparator) != Native::npos) {
      folder = shell.RelativeFolder(files.FolderPart(relative));
    }
    Native target_text = destination_.native();
    target_text += kSeparator;
    target_text += folder.native();
    target_text += files.FileNamePart(relative, 0).native();
    const fs::path target(std::move(target_text));

    const fs::path target_folder = files.FolderPart(target);
    if (made.insert(target_folder.native()).second) {
      files.CreateFolder(target_folder);
    }
    const IniText url =
        files.ReadIniValue(source, kSection, kKey, kNoAddress, 0);
    files.WriteIniValue(target, kSection, kKey, url, list);
    ++done_;
  }
  if (observer_ != nullptr && !cancelled_)
    observer_->Compressing(done_, total_);
  return done_;
}

std::string FinishedMessage(size_t count) {
  return "Compressed " + std::to_string(count) + " favorites.";
}

std::string WrittenBeforeMessage(size_t done, size_t total) {
  if (done == 0) return "No shortcut was written.";
  return std::to_string(done) + " of " + std::to_string(total) +
         " shortcuts were written before this.";
}

std::string CancelledMessage(size_t done, size_t total) {
  if (total == 0) {
    return "Cancelled while looking for shortcuts. No shortcut was written.";
  }
  return "Cancelled. " + std::to_string(done) + " of " + std::to_string(total) +
         " shortcuts were written.";
}

}  // namespace norvale
