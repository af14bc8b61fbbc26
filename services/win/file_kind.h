// What a Windows file's attributes and reparse tag make of it: a link, a
// special file of WSL's, or a file whose content is online only.
#ifndef NORVALE_SERVICES_WIN_FILE_KIND_H_
#define NORVALE_SERVICES_WIN_FILE_KIND_H_

#include <windows.h>

namespace norvale {

// Tags and attributes newer than MinGW-w64's headers.
constexpr DWORD kTagWslLink = 0xA000001D;         // IO_REPARSE_TAG_LX_SYMLINK
constexpr DWORD kTagWslSocket = 0x80000023;       // IO_REPARSE_TAG_AF_UNIX
constexpr DWORD kTagWslFifo = 0x80000024;         // IO_REPARSE_TAG_LX_FIFO
constexpr DWORD kTagWslCharDevice = 0x80000025;   // IO_REPARSE_TAG_LX_CHR
constexpr DWORD kTagWslBlockDevice = 0x80000026;  // IO_REPARSE_TAG_LX_BLK
constexpr DWORD kRecallOnOpen = 0x00040000;  // FILE_ATTRIBUTE_RECALL_ON_OPEN
constexpr DWORD kRecallOnDataAccess =
    0x00400000;  // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS

// Returns true when a file with `attributes` and the reparse tag `tag` is a
// link: a symbolic link or junction, or a symbolic link that WSL or an NFS
// client made, which Windows itself cannot follow. Files that OneDrive
// keeps, deduplicated and compressed files are reparse points too, but
// files like any other.
inline bool IsLink(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT ||
          tag == kTagWslLink || tag == IO_REPARSE_TAG_NFS);
}

// Returns true when a file with `attributes` and the reparse tag `tag` is a
// socket, pipe or device that WSL made, which is never read.
inline bool IsSpecialFile(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (tag == kTagWslSocket || tag == kTagWslFifo ||
          tag == kTagWslCharDevice || tag == kTagWslBlockDevice);
}

// Returns true when the content of a file with `attributes` is not on this
// computer, so that reading it (or for some, opening it) would fetch it from
// a cloud service or offline storage: OneDrive's files that are online only,
// and files that storage managers moved away.
inline bool IsOnlineOnly(DWORD attributes) {
  return (attributes &
          (kRecallOnDataAccess | kRecallOnOpen | FILE_ATTRIBUTE_OFFLINE)) != 0;
}

}  // namespace norvale

#endif  // NORVALE_SERVICES_WIN_FILE_KIND_H_
