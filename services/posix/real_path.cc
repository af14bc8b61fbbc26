#include "services/posix/real_path.h"

#include <fcntl.h>
#include <limits.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <cstdint>
#include <string_view>

#include "ini/ini_text.h"
#include "services/error.h"
#include "services/posix/descriptor.h"
#include "services/posix/open_folder.h"

namespace norvale {
namespace {

constexpr char kAction[] = "Could not tell which file is";

std::string Join(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  return path.append(name);
}

// Returns true when `path` is `folder` or lies below it.
bool IsBelow(std::string_view path, std::string_view folder) {
  return folder == "/" ||
         (path.substr(0, folder.size()) == folder &&
          (path.size() == folder.size() || path[folder.size()] == '/'));
}

// Returns a field of /proc/self/mountinfo with its octal escapes ("\040"
// for a blank) undone.
std::string Unescape(std::string_view field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const int code = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                       (field[i + 3] - '0');
      text += static_cast<char>(code);
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

// Returns `name` in capitals, as a disk that ignores letter case might
// compare it; only used to find which of a folder's names a spelling
// reached, so folding more than a disk does is harmless. Bytes that are not
// UTF-8 are kept as they are.
std::string Capitals(std::string_view name) {
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const unsigned char lead = static_cast<unsigned char>(name[i]);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    bool valid = length != 0 && i + length <= name.size();
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; valid && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(name[i + k]);
      valid = (next >> 6) == 0x2;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid) {
      out += name[i++];
      continue;
    }
    uint32_t c = code;
    if (utf8 != nullptr) {
      c = static_cast<uint32_t>(::towupper_l(code, utf8));
    } else if (code >= 'a' && code <= 'z') {
      c = code - 32;
    }
    // Written as a code point of its own, whatever its length.
    AppendUtf8(c, out);
    i += length;
  }
  return out;
}

}  // namespace

void RealPaths::ReadMounts() {
  mounts_.clear();
  FILE* table = ::fopen("/proc/self/mountinfo", "re");
  if (table == nullptr) return;
  char* line = nullptr;
  size_t room = 0;
  while (::getline(&line, &room, table) > 0) {
    // "ID PARENT MAJOR:MINOR ROOT POINT ..."
    std::string_view rest(line);
    std::string_view fields[5];
    for (std::string_view& field : fields) {
      const size_t end = rest.find(' ');
      field = rest.substr(0, end);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    unsigned major = 0, minor = 0;
    if (::sscanf(std::string(fields[2]).c_str(), "%u:%u", &major, &minor) !=
        2) {
      continue;
    }
    Mount& mount = mounts_[std::atoi(std::string(fields[0]).c_str())];
    mount.device = ::makedev(major, minor);
    mount.root = Unescape(fields[3]);
    mount.point = Unescape(fields[4]);
  }
  ::free(line);
  ::fclose(table);
}

const RealPaths::Mount* RealPaths::MountOf(int fd) {
  struct statx st;
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &st) != 0 ||
      (st.stx_mask & STATX_MNT_ID) == 0) {
    return nullptr;
  }
  const int id = static_cast<int>(st.stx_mnt_id);
  // Disks mounted since the table was read are read anew.
  if (mounts_.count(id) == 0) ReadMounts();
  const auto found = mounts_.find(id);
  return found == mounts_.end() ? nullptr : &found->second;
}

const std::unordered_set<std::string>& RealPaths::Names(const std::string& real,
                                                        int fd,
                                                        const std::string& seen,
                                                        bool again) {
  auto [at, fresh] = names_.try_emplace(real);
  if (!fresh && !again) return at->second;
  std::unordered_set<std::string>& names = at->second;
  names.clear();
  if (!ForEachName(fd, seen, [&](const char* name) { names.emplace(name); })) {
    unlisted_.insert(real);
  }
  return names;
}

std::string RealPaths::Stored(const std::string& real, int fd,
                              const std::string& seen, const std::string& name,
                              const std::filesystem::path& path) {
  if (Names(real, fd, seen, false).count(name) != 0 ||
      unlisted_.count(real) != 0) {
    return name;
  }
  // Made by another program since the folder was listed, or spelled
  // otherwise than the folder lists it.
  const std::unordered_set<std::string>& names = Names(real, fd, seen, true);
  if (names.count(name) != 0) return name;
  const std::string wanted = Capitals(name);
  const std::string* match = nullptr;
  bool several = false;
  for (const std::string& other : names) {
    if (Capitals(other) != wanted) continue;
    several = match != nullptr;
    match = &other;
    if (several) break;
  }
  if (match == nullptr || several) {
    throw Error(kAction, path,
                "Its disk finds it under a name spelled otherwise, which "
                "Norvale cannot tell from the folder's other names");
  }
  return *match;
}

std::string RealPaths::StoredName(int fd, const std::string& seen,
                                  const std::string& real,
                                  const std::string& name,
                                  const std::filesystem::path& path) {
  return Stored(real, fd, seen, name, path);
}

void RealPaths::Added(const std::string& real, const std::string& name) {
  const auto listed = names_.find(real);
  if (listed != names_.end()) listed->second.insert(name);
}

std::string RealPaths::Of(int fd, bool exact_names,
                          const std::filesystem::path& path) {
  char link[PATH_MAX + 1];
  const std::string entry = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(entry.c_str(), link, PATH_MAX);
  std::string seen;
  if (length > 0 && link[0] == '/') {
    seen.assign(link, static_cast<size_t>(length));
  } else if (char* resolved = ::realpath(path.c_str(), nullptr)) {
    // Without /proc, the path resolved the way a shell does.
    seen = resolved;
    ::free(resolved);
  } else {
    throw ErrnoError(kAction, path);
  }
  std::string real = seen, base_real = "/", base_seen = "/";
  const Mount* mount = MountOf(fd);
  // The path the system gives lies below the mount it was opened through;
  // a file deleted meanwhile, or a root changed, gives another.
  if (mount != nullptr && IsBelow(seen, mount->point)) {
    const std::string below =
        mount->point == "/" ? seen : seen.substr(mount->point.size());
    real = mount->root == "/" ? (below.empty() ? "/" : below)
                              : mount->root + below;
    base_real = mount->root;
    base_seen = mount->point;
    // A mount of the same disk that shows more of it lists the names of
    // this mount's own folder too, so that a bind mount spelled otherwise
    // still gives the one path.
    for (const auto& [id, other] : mounts_) {
      struct stat st;
      if (other.device == mount->device &&
          other.root.size() < base_real.size() && IsBelow(real, other.root) &&
          ::stat(other.point.c_str(), &st) == 0 && st.st_dev == mount->device) {
        base_real = other.root;
        base_seen = other.point;
      }
    }
  }
  if (exact_names) return real;
  std::string stored = base_real, at = base_seen;
  std::string_view rest =
      std::string_view(real).substr(base_real == "/" ? 0 : base_real.size());
  while (!rest.empty()) {
    const size_t end = rest.find('/');
    const std::string name(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (name.empty()) continue;
    const std::string as_listed = Stored(stored, -1, at, name, path);
    stored = Join(stored, as_listed);
    at = Join(at, as_listed);
  }
  return stored;
}

}  // namespace norvale
