#include "services/win/controlled_folders.h"

#include <shlobj.h>
#include <windows.h>

namespace norvale {
namespace {

// Returns whether `path` is `folder` or lies in it, comparing names as
// Windows does, without regard to letter case.
bool IsWithin(const std::filesystem::path& path,
              const std::filesystem::path& folder) {
  auto in = path.begin();
  for (const auto& part : folder) {
    if (in == path.end()) return false;
    const std::wstring& a = in->native();
    const std::wstring& b = part.native();
    if (::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                               static_cast<int>(b.size()),
                               TRUE) != CSTR_EQUAL) {
      return false;
    }
    ++in;
  }
  return true;
}

}  // namespace

std::string ControlledFolderHint(const std::filesystem::path& path) {
  static const KNOWNFOLDERID* const kGuarded[] = {
      &FOLDERID_Desktop,        &FOLDERID_Documents,
      &FOLDERID_Pictures,       &FOLDERID_Videos,
      &FOLDERID_Music,          &FOLDERID_Favorites,
      &FOLDERID_PublicDesktop,  &FOLDERID_PublicDocuments,
      &FOLDERID_PublicPictures, &FOLDERID_PublicVideos,
      &FOLDERID_PublicMusic};
  std::error_code ec;
  const std::filesystem::path whole =
      std::filesystem::absolute(path, ec).lexically_normal();
  for (const KNOWNFOLDERID* id : kGuarded) {
    wchar_t* folder = nullptr;
    const bool found =
        ::SHGetKnownFolderPath(*id, KF_FLAG_DONT_VERIFY, nullptr, &folder) ==
            S_OK &&
        IsWithin(whole, std::filesystem::path(folder).lexically_normal());
    ::CoTaskMemFree(folder);
    if (found) {
      return ". Controlled Folder Access may be keeping Norvale out of this "
             "folder: allow Norvale in Windows Security (Ransomware "
             "protection), or choose a destination outside Desktop, "
             "Documents, Pictures, Videos, Music and Favorites";
    }
  }
  return "";
}

}  // namespace norvale
