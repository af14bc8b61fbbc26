#include "services/long_path_win.h"

#include <gtest/gtest.h>

#include <string>

namespace norvale {
namespace {

TEST(LongPathTest, PrefixesOnlyPathsTooLongForTheFileFunctions) {
  const std::wstring deep(300, L'd');
  const struct {
    std::wstring path;
    std::wstring expected;
  } cases[] = {
      {L"C:\\Fav\\a.url", L"C:\\Fav\\a.url"},
      {L"Fav/a.url", L"Fav/a.url"},
      {L"C:\\" + deep, L"\\\\?\\C:\\" + deep},
      // The prefix turns off the system's clean-up, so it is done first.
      {L"C:/x/../" + deep + L"/./a.url", L"\\\\?\\C:\\" + deep + L"\\a.url"},
      {L"\\\\server\\share\\" + deep, L"\\\\?\\UNC\\server\\share\\" + deep},
      {L"\\\\?\\C:\\" + deep, L"\\\\?\\C:\\" + deep},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LongPath(c.path), c.expected) << c.path.size();
  }
}

}  // namespace
}  // namespace norvale
