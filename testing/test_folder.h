// Test helpers: a temporary folder removed with all it holds, and readers of
// files and errors.
#ifndef NORVALE_TESTING_TEST_FOLDER_H_
#define NORVALE_TESTING_TEST_FOLDER_H_

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "services/error.h"

namespace norvale {

class TestFolder {
 public:
  // A random name is taken only when creating it succeeds, so two tests
  // running at once never share a folder.
  TestFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = std::filesystem::temp_directory_path() /
              ("norvale-test-" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(path_, ec)) return;
    }
    std::abort();
  }
  ~TestFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes `bytes` to the file `file`, creating its folders.
  static std::filesystem::path WriteAt(const std::filesystem::path& file,
                                       std::string_view bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

  // Writes `bytes` to `relative` below the folder, creating its folders.
  std::filesystem::path Write(const std::filesystem::path& relative,
                              std::string_view bytes) const {
    return WriteAt(path_ / relative, bytes);
  }

 private:
  std::filesystem::path path_;
};

// Returns the path spelled `text` in UTF-8, each "/" in it turned into the
// platform's separator, so one table of cases serves every platform.
inline std::filesystem::path NativePath(std::string text) {
  std::replace(text.begin(), text.end(), '/',
               static_cast<char>(std::filesystem::path::preferred_separator));
  return std::filesystem::u8path(text);
}

// Returns the bytes of `file`, or "<missing>" when it is no file to read.
inline std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in || !std::filesystem::is_regular_file(file)) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Returns a compact copy holding `url`, as Norvale writes it.
inline std::string Compact(const std::string& url) {
  return "[InternetShortcut]\r\nURL=" + url + "\r\n";
}

// Returns a shortcut holding `url` and more, as a browser writes it.
inline std::string Shortcut(const std::string& url) {
  return "[InternetShortcut]\r\nIDList=\r\nURL=" + url + "\r\nIconIndex=1\r\n";
}

// Files by their path below a folder, with "/" between the names, with
// their bytes.
using Files = std::map<std::string, std::string>;

// Writes `count` shortcuts holding `url` into two folders below `source`;
// returns their copies.
inline Files Fill(const TestFolder& source, int count, const std::string& url) {
  Files copies;
  for (int i = 0; i < count; ++i) {
    const std::string name =
        "F" + std::to_string(i % 2) + "/s" + std::to_string(i) + ".url";
    source.Write(name, Shortcut(url));
    copies[name] = Compact(url);
  }
  return copies;
}

// Returns the regular files below `root`; with `others`, only the
// shortcuts, the names of the rest being put in `others`.
inline Files Tree(const std::filesystem::path& root,
                  std::string* others = nullptr) {
  Files files;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(root)) {
    // The destination's record of Norvale's copies is checked on its own.
    if (!entry.is_regular_file() ||
        entry.path().filename() == ".norvale-copies") {
      continue;
    }
    const std::string name =
        std::filesystem::relative(entry.path(), root).generic_u8string();
    if (others == nullptr || entry.path().extension() == ".url") {
      files[name] = ReadBytes(entry.path());
    } else {
      *others += name + " ";
    }
  }
  return files;
}

// Returns the message of the Error `action` throws, or "" when none.
template <typename Action>
std::string ErrorOf(Action action) {
  try {
    action();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

}  // namespace norvale

#endif  // NORVALE_TESTING_TEST_FOLDER_H_
