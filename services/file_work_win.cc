// The file work of a run on Windows: identifying files, and reading sources
// and the copies found where copies go.
#include "services/file_work_win.h"

#include "services/error.h"
#include "services/folder_io.h"
#include "services/win/file_kind.h"
#include "services/win/handle.h"
#include "services/win/long_path.h"
#include "services/win/system_calls.h"
#include "services/win/temporary_files.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

// Opens `path` to identify it: no access is asked for, so even a file open
// elsewhere can be identified, and backup semantics open folders too.
HANDLE OpenToIdentify(const fs::path& path, DWORD flags = 0) {
  return Calls().create_file(LongPath(path).c_str(), 0, kShareAll,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags);
}

// Returns true when the folder `known` of the file `path` lists an entry
// spelled `name`, listing the folder the first time it is asked.
bool Lists(KnownFolder& known, const fs::path& path, std::wstring_view name) {
  if (!known.names) {
    known.names.emplace();
    std::error_code ec;
    for (FolderEntry& entry : ListFolder(path.parent_path(), ec)) {
      known.names->insert(std::move(entry.name));
    }
  }
  return known.names->count(std::wstring(name)) != 0;
}

}  // namespace

FoundFile Found(HANDLE handle, const FileFacts& facts) {
  const DWORD attributes = facts.tag.FileAttributes;
  const DWORD tag = facts.tag.ReparseTag;
  FoundFile found;
  if (IsLink(attributes, tag)) {
    found.kind = FoundFile::Kind::kLink;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    found.kind = FoundFile::Kind::kFolder;
  } else if (IsSpecialFile(attributes, tag) ||
             ::GetFileType(handle) != FILE_TYPE_DISK) {
    found.kind = FoundFile::Kind::kOther;
  }
  found.size = static_cast<uint64_t>(facts.standard.EndOfFile.QuadPart);
  found.read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  found.online_only = IsOnlineOnly(attributes);
  return found;
}

std::optional<FileId> FileWork::State::Identify(HANDLE handle,
                                                const fs::path& path) {
  RawId raw;
  if (!ReadRawId(handle, &raw)) return std::nullopt;
  switch (volumes.Of(handle, raw)) {
    case Numbering::kNumbers:
      return FileId{raw.serial, raw.low, 0, {}};
    case Numbering::kWideNumbers:
      return FileId{raw.serial, raw.low, raw.high, {}};
    case Numbering::kPaths:
      break;
  }
  // A full path names its volume already; the serial is left out, as Wine
  // gives a disk mounted below a drive's root a serial of its own for all
  // but the folder it is mounted on.
  return FileId{0, 0, 0, RealPath(handle, path)};
}

FileId FileWork::State::IdentifyIn(HANDLE handle, KnownFolder& folder,
                                   const fs::path& path,
                                   std::wstring_view name) {
  // A file has its folder's volume, and asking a file for its volume's
  // serial costs Wine a round trip to another process, which an update run
  // would pay for every copy; where 64-bit numbers last, the file's number
  // alone is asked for.
  const uint64_t device = folder.id->device;
  if (folder.numbering == Numbering::kPaths) {
    // An entry the folder lists as spelled is what that name opens, so its
    // real path is the folder's and the name: one listing per folder
    // stands in for asking for each file's, a round trip to Wine's server.
    if (!name.empty() && Lists(folder, path, name)) {
      return {0, 0, 0, folder.id->path + L'\\' + std::wstring(name)};
    }
    return {0, 0, 0, RealPath(handle, path)};
  }
  uint64_t number = 0;
  if (folder.numbering == Numbering::kNumbers &&
      Calls().get_file_number(handle, &number)) {
    return {device, number, 0, {}};
  }
  RawId raw;
  if (!ReadRawId(handle, &raw)) throw FileError(kWriteAction, path);
  if (folder.numbering == Numbering::kNumbers) {
    return {raw.serial, raw.low, 0, {}};
  }
  return {raw.serial, raw.low, raw.high, {}};
}

bool FileWork::State::Know(KnownFolder& known, const fs::path& path,
                           std::wstring_view* name) {
  const std::wstring& text = path.native();
  const size_t last = text.find_last_of(kSeparators);
  *name = last == text.npos ? std::wstring_view(text)
                            : std::wstring_view(text).substr(last + 1);
  const std::wstring_view folder(text.data(), last == text.npos ? 0 : last);
  if (folder == known.text && known.id) return true;
  known.text.assign(folder);
  known.id.reset();
  known.names.reset();
  const fs::path folder_path = path.parent_path();
  Handle handle(OpenToIdentify(folder_path));
  if (!handle.valid()) return false;
  known.id = Identify(handle.get(), folder_path);
  if (!known.id) return false;
  known.numbering = known.id->path.empty() ? volumes.Known(known.id->device)
                                           : Numbering::kPaths;
  return true;
}

std::wstring FileWork::State::PlaceName(const KnownFolder& folder,
                                        std::wstring_view name,
                                        const std::wstring* real) {
  if (folder.numbering == Numbering::kPaths) {
    if (real == nullptr) return std::wstring(name);
    return real->substr(real->find_last_of(L'\\') + 1);
  }
  // Windows compares names without regard to case, as CharUpper folds
  // them.
  std::wstring folded(name);
  if (!folded.empty()) {
    ::CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
  }
  return folded;
}

void FileWork::State::ClearFolderOf(const fs::path& path) {
  const std::wstring& text = path.native();
  const size_t last = text.find_last_of(kSeparators);
  const std::wstring folder = text.substr(0, last == text.npos ? 0 : last);
  const auto id = [&]() -> const FileId& {
    std::wstring_view name;
    if (!Know(copy_folder, path, &name)) throw FileError(kWriteAction, path);
    return *copy_folder.id;
  };
  if (work->ClaimLeftovers(folder, id)) {
    RemoveLeftovers(path.parent_path(), start);
  }
}

FileWork::FileWork() : state_(std::make_unique<State>()) {
  ::GetSystemTimeAsFileTime(&state_->start);
  state_->work = this;
}

FileWork::~FileWork() {
  if (state_->lock != nullptr) {
    ::ReleaseMutex(state_->lock);
    ::CloseHandle(state_->lock);
  }
}

void FileWork::MeetDestination(const fs::path& /*destination*/,
                               const fs::path& /*source*/) {
  // A Windows volume says how it names and numbers files through any handle
  // on it, so nothing is made here to find out; each volume is judged when
  // first met.
}

std::optional<FileId> FileWork::IdentifyFile(const fs::path& path) {
  State& state = *state_;
  // Most files asked about follow one another in a folder, and one that is
  // no link (nor other reparse point) is on its folder's volume: it is
  // identified as that volume tells files apart, without asking the volume
  // again for every file.
  std::wstring_view name;
  if (state.Know(state.place_folder, path, &name)) {
    Handle itself(OpenToIdentify(path, FILE_FLAG_OPEN_REPARSE_POINT));
    if (!itself.valid()) return std::nullopt;
    // A file online only is no link either, and opening what it leads to
    // could fetch it.
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (Calls().get_file_info(itself.get(), FileAttributeTagInfo, &tag,
                              sizeof(tag)) &&
        ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
         (IsOnlineOnly(tag.FileAttributes) &&
          !IsLink(tag.FileAttributes, tag.ReparseTag)))) {
      return state.IdentifyIn(itself.get(), state.place_folder, path);
    }
  }
  Handle handle(OpenToIdentify(path));
  if (!handle.valid()) return std::nullopt;
  return state.Identify(handle.get(), path);
}

std::optional<FileId> FileWork::IdentifySubfolder(const FileId& parent,
                                                  const fs::path& path) {
  // The walk lists only folders that are no links or mount points, so a
  // subfolder's real path is its parent's and its name as listed.
  if (!parent.path.empty()) {
    return FileId{0, 0, 0, parent.path + L'\\' + path.filename().native()};
  }
  Handle handle(OpenToIdentify(path));
  if (!handle.valid()) return std::nullopt;
  uint64_t number = 0;
  if (state_->volumes.Known(parent.device) == Numbering::kNumbers &&
      Calls().get_file_number(handle.get(), &number)) {
    return FileId{parent.device, number, 0, {}};
  }
  return state_->Identify(handle.get(), path);
}

// A volume mounted in a folder is a mount point, which the walks take for
// a link and never enter.
bool FileWork::IsMountPoint(const fs::path&) { return false; }

bool FileWork::LockDestination(const fs::path& destination) {
  State& state = *state_;
  if (state.lock != nullptr) return true;
  const std::optional<FileId> id = IdentifyFile(destination);
  if (!id) return false;
  // A mutex named after the folder's identity, however it is spelled or
  // reached, held by this user's runs; the system lets go of it however the
  // run ends.
  std::wstring name = L"Local\\Norvale-" + std::to_wstring(id->device) + L"-" +
                      std::to_wstring(id->inode) + L"-" +
                      std::to_wstring(id->inode_high) + L"-" +
                      std::to_wstring(std::hash<std::wstring>()(id->path));
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr)
    throw FileError("Could not lock the folder", destination);
  const DWORD waited = ::WaitForSingleObject(mutex, 0);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    ::CloseHandle(mutex);
    throw Error("Could not write to", destination,
                "Another Norvale run is writing to it; try again when that "
                "run has finished");
  }
  state.lock = mutex;
  return true;
}

void FileWork::HideFile(const fs::path& path) {
  const std::wstring text = LongPath(path);
  const DWORD attributes = ::GetFileAttributesW(text.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_HIDDEN) != 0) {
    return;
  }
  // Hidden or not, the file is whole; a failure here costs only its view.
  ::SetFileAttributesW(text.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}

std::optional<CopyPlace> FileWork::PlaceOf(const fs::path& path) {
  State& state = *state_;
  std::wstring_view name;
  if (!state.Know(state.place_folder, path, &name)) return std::nullopt;
  std::optional<std::wstring> real;
  if (state.place_folder.numbering == Numbering::kPaths) {
    Handle handle(OpenToIdentify(path, FILE_FLAG_OPEN_REPARSE_POINT));
    if (handle.valid()) real = RealPath(handle.get(), path);
  }
  return CopyPlace{
      *state.place_folder.id,
      state.PlaceName(state.place_folder, name, real ? &*real : nullptr)};
}

std::string FileWork::ReadWholeFile(const fs::path& path,
                                    Permissions* permissions) {
  // A copy takes its folder's access rules, as a file made there does.
  if (permissions != nullptr) *permissions = 0;
  Handle handle(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN));
  if (!handle.valid()) throw FileError("Could not open", path);
  // Pipes, consoles and other devices could block or never end.
  if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
    throw Error("Could not read", path, "It is not a regular file");
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle.get(), &size)) {
    throw FileError("Could not read", path);
  }
  return ReadOpenFile(handle.get(), static_cast<uint64_t>(size.QuadPart), path);
}

std::optional<ExistingCopy> FileWork::ReadExistingCopy(const fs::path& path,
                                                       bool fetch) {
  State& state = *state_;
  // The name itself is opened, not what a link leads to, so what is decided
  // on here is what is read; backup semantics open a folder too, to say so.
  Handle handle(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS |
                         FILE_FLAG_SEQUENTIAL_SCAN));
  if (!handle.valid()) {
    const Failure failure = LastFailure();
    if (failure.code == ERROR_FILE_NOT_FOUND) return std::nullopt;
    throw FileError(kWriteAction, path, failure);
  }
  FileFacts facts;
  if (!AskFacts(handle.get(), &facts)) throw FileError(kWriteAction, path);
  const FoundFile found = Found(handle.get(), facts);
  // A copy whose content is online only is not read: that would download
  // it, every one of them on each run, or fail offline. Opened as itself,
  // as here, it is not fetched; only its stamp can tell the caller whether
  // it is still the copy Norvale wrote. Norvale's record is fetched.
  const bool unread = found.online_only && !fetch;
  if (const auto why = WhyLeftAsItIs(found, !unread)) {
    throw Error(kWriteAction, path, *why);
  }
  const FILE_STANDARD_INFO& standard = facts.standard;
  const bool reparse =
      (facts.tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const uint64_t size = found.size;
  std::wstring_view name;
  if (!state.Know(state.copy_folder, path, &name)) {
    throw FileError(kWriteAction, path);
  }
  ExistingCopy existing;
  existing.read_only = found.read_only;
  existing.id = state.IdentifyIn(handle.get(), state.copy_folder, path, name);
  // A real path is a place; a number is one where the file has one name.
  const std::wstring* real =
      existing.id.path.empty() ? nullptr : &existing.id.path;
  existing.id_is_place = real != nullptr || standard.NumberOfLinks == 1;
  existing.place = {*state.copy_folder.id,
                    state.PlaceName(state.copy_folder, name, real)};
  existing.stamp = StampFrom(size, facts.basic.LastWriteTime);
  state.Stamp(path, existing.stamp);
  if (unread) {
    existing.online_only = true;
    return existing;
  }
  if (!reparse) {
    existing.content = ReadOpenFile(handle.get(), size, path);
    return existing;
  }
  // Such a file's content comes through the driver that owns its tag,
  // which the name opened as itself bypasses: open it again the usual way,
  // and read it only when that is the very file decided on.
  Handle content(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                      FILE_FLAG_SEQUENTIAL_SCAN));
  if (!content.valid()) throw FileError("Could not open", path);
  if (state.IdentifyIn(content.get(), state.copy_folder, path) != existing.id) {
    throw Error(kWriteAction, path,
                "It changed while it was read, so it is left as it is");
  }
  existing.content = ReadOpenFile(content.get(), size, path);
  return existing;
}

FileStamp FileWork::StampOf(const fs::path& path) const {
  return path.native() == state_->stamped ? state_->stamp : FileStamp{};
}

// A copy takes its folder's access rules on Windows, never its source's.
Permissions FileWork::ExcessPermissions(const fs::path& /*path*/,
                                        Permissions /*permissions*/) {
  return 0;
}

void FileWork::TakePermissions(const fs::path& /*path*/, Permissions /*bits*/) {
}

void FileWork::CloseFolders() {
  // Every file is opened by its full path here; no folder is kept open.
}

void FileWork::Flush() {
  // Flushing a whole volume needs an administrator, and flushing every copy
  // on its own made runs many times slower on a real disk; Windows users
  // eject a removable disk before pulling it, which flushes it.
}

}  // namespace norvale
