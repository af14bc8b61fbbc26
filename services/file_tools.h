// The file service: path parts, folder creation, and INI values.
#ifndef NORVALE_SERVICES_FILE_TOOLS_H_
#define NORVALE_SERVICES_FILE_TOOLS_H_

#include <filesystem>
#include <functional>
#include <string_view>

#include "ini/ini_text.h"
#include "services/file_work.h"
#include "services/path_list.h"

namespace norvale {

// What the caller's own record tells of the copy at a path, the only proof,
// without reading it, that a copy online only is still Norvale's: its
// stamp when Norvale last wrote or read it, and whether it then held the
// bytes now to be written.
struct CopyProof {
  FileStamp stamp;
  bool same_bytes = false;
};

// What WriteIniValue did with a copy.
enum class CopyOutcome {
  kUpToDate,    // it held exactly the bytes already
  kWritten,     // written, or, looking only, it would be
  kOnlineOnly,  // left as it is, unread: online only, and not proven
};

class FileTools {
 public:
  // Returns the one instance, created on first use.
  static FileTools& Instance();

  // Returns the path of the folder holding the last component of `path`:
  // the text before its last separator (the separator alone when that is the
  // first character); empty when there is no separator. On Windows "/" is a
  // separator as well as "\".
  std::filesystem::path FolderPart(const std::filesystem::path& path);

  // Returns the last component of `path`, extension included; `flags` must
  // be 0.
  std::filesystem::path FileNamePart(const std::filesystem::path& path,
                                     int flags);

  // Returns the text of `path` from the 1-based position `start` on; empty
  // when `start` lies beyond its end.
  std::filesystem::path TextFrom(const std::filesystem::path& path,
                                 size_t start);

  // Makes sure `folder` exists, creating its missing parents too, and tells
  // `work` which folders it made. Throws Error naming the first component
  // that exists but is not a folder, the folder that could not be made, or
  // the share of a network path that cannot be found.
  void CreateFolder(const std::filesystem::path& folder, FileWork& work);

  // Returns true when CreateFolder would make `folder`, false when it is a
  // folder already; throws the Error CreateFolder would where that can be
  // told without making anything: a file in the way, a parent that cannot
  // be looked at. For a run that only looks.
  bool WouldCreateFolder(const std::filesystem::path& folder);

  // Returns the value of `key` in the first section named `section` of the
  // INI file `file`, or `fallback` when the file has no such section or key,
  // and puts the file's permissions in `permissions` when given. Throws
  // Error when the file cannot be read whole.
  IniText ReadIniValue(const std::filesystem::path& file,
                       std::string_view section, std::string_view key,
                       std::string_view fallback, int flags, FileWork& work,
                       Permissions* permissions = nullptr);

  // Called with the file found where a copy goes, before anything is done
  // with it; throws Error to leave it as it is.
  using ExistingCheck = std::function<void(const ExistingCopy& existing)>;

  // Makes `file` an INI file holding just `section` with `key` set to
  // `value`, written so that ReadIniValue gives `value` back and so that its
  // name only ever shows whole content; a new file gets `permissions` (a
  // source's, so the copy is as private), a replaced one keeps its own.
  // Returns kUpToDate, writing nothing, when the file there holds exactly
  // these bytes already; kWritten when it wrote. A file already standing
  // there is replaced only when it is empty or holds just such a section
  // and key; never when it is read-only, a link, or one of `sources`, never
  // when `check` throws, and never when it changed since it was read. A
  // file online only is never read: it is up to date or replaced only as
  // `proof` tells, while it keeps the stamp `proof` gives; else it is left
  // as it is, returning kOnlineOnly. Throws Error when the value cannot be
  // written or the file may not or cannot be replaced, leaving what stood
  // there untouched. With `look_only`, writes nothing and returns what it
  // would do.
  CopyOutcome WriteIniValue(const std::filesystem::path& file,
                            std::string_view section, std::string_view key,
                            const IniText& value, const PathList& sources,
                            FileWork& work, Permissions permissions = 0,
                            const ExistingCheck& check = nullptr,
                            bool look_only = false,
                            const CopyProof* proof = nullptr);

 private:
  FileTools() = default;
};

}  // namespace norvale

#endif  // NORVALE_SERVICES_FILE_TOOLS_H_
