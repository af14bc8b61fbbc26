#include "services/ini_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

namespace norvale {
namespace {

constexpr std::string_view kSection = "InternetShortcut";
constexpr std::string_view kKey = "URL";

IniText Read(std::string_view file) {
  return ParseIniValue(file, kSection, kKey, IniText::Bytes("about:blank"));
}

// The bytes, with mark, of a text given as UTF-16.
std::string Utf16(std::u16string_view text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : text) {
    out.push_back(static_cast<char>(big_endian ? u >> 8 : u & 0xFF));
    out.push_back(static_cast<char>(big_endian ? u & 0xFF : u >> 8));
  }
  return out;
}

// Each value read is also written into a copy and read back from it.
TEST(ParseIniValueTest, FollowsTheReadingRules) {
  using namespace std::string_literals;
  const std::string s = "[InternetShortcut]\r\n", none = "about:blank";
  const std::pair<std::string, std::string> cases[] = {
      // The file, and the UTF-8 of the value read from it.
      {s + "URL=http://a/\r\n", "http://a/"},
      {"[InternetShortcut]\nURL=a\n", "a"},  // Every line end.
      {"[InternetShortcut]\rURL=a\r", "a"},
      {s + "URL=a", "a"},
      {"\r\n\r\n" + s + "\r\n\r\nURL=x\r\n", "x"},
      {"[internetshortcut]\r\nurl=x\r\n", "x"},  // Names in any case.
      {" \t[ InternetShortcut \x1A]\v\r\n\f URL \t= \x1Ax y\t \r\n", "x y"},
      {"[Other]\r\nURL=x\r\n", none},
      {s + "IconFile=x\r\n", none},
      {s + "URL=\r\n", ""},
      {"URL=x\r\n" + s, none},
      {"[A]\r\nURL=a\r\n" + s + "URL=b\r\n[B]\r\nURL=c\r\n", "b"},
      {s + "X=1\r\n" + s + "URL=late\r\n", none},  // The first section only.
      {s + "URL=a\r\nURL=b\r\n", "a"},
      {s + "URL=a=b==\r\n", "a=b=="},
      {s + "URL\r\nURL=x\r\n", "x"},
      {s + ";URL=a\r\nURL=b ; c\r\n", "b ; c"},  // No comments.
      {s + "#URL=a\r\nURL=b#c\r\n", "b#c"},
      {s + "URLX=a\r\nXURL=b\r\n", none},
      // As Windows reads them: a section's name ends at its line's first
      // "]", or at the line's end.
      {"[InternetShortcut]x]\r\nURL=a\r\n", "a"},
      {"[ InternetShortcut\r\nURL=a\r\n", "a"},
      {s + "[URL=a\r\nURL=b\r\n", none},
      {s + "URL=\" a \"\r\n", " a "},  // One pair of quotes removed.
      {s + "URL='a'\r\n", "a"},
      {s + "URL=\"\"a\"\"\r\n", "\"a\""},
      {s + "URL=\"a'\r\n", "\"a'"},
      {s + "URL=\"\r\n", "\""},
      {s + "URL=\"\"\r\n", ""},
      {s + "URL=ab\0cd\r\n"s, "ab"},
      {s + "URL=http://\xE9t\xFF/\r\n", "http://\xE9t\xFF/"},  // Bytes kept.
      {"\xEF\xBB\xBF" + s + "URL=\xC3\xA9\r\n", "\xC3\xA9"},
      {"\xEF\xBB\xBF" + s + "URL=a\xC3(\xE0\x80\r\n",
       "a\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xEF\xBB\xBF" + s + "URL=\xF0\x9F\x98\x80\r\n", "\xF0\x9F\x98\x80"},
      {Utf16(u"[InternetShortcut]\r\nURL=\u00e9\u4e2d\r\n", false),
       "\xC3\xA9\xE4\xB8\xAD"},
      {Utf16(u"[InternetShortcut]\nURL=\u00e9\n", true), "\xC3\xA9"},
      {Utf16(u"[InternetShortcut]\r\nURL=ab", false) + "\x41", "ab"},
      {"", none},
  };
  for (const auto& [file, expected] : cases) {
    const IniText value = Read(file);
    EXPECT_EQ(value.ToUtf8(), expected) << file;
    EXPECT_EQ(Read(ComposeIniFile(kSection, kKey, value)), value) << file;
  }
}

// Writing a value and reading the written file gives the value back, in
// both forms, whatever quotes, blanks and characters it holds. Unicode
// beyond ASCII is written as UTF-16LE with its mark, all else as it is.
TEST(ComposeIniFileTest, RoundTrips) {
  const std::u16string values[] = {u"",
                                   u" leading and trailing ",
                                   u"http://a/ ",
                                   u"\ttab\x1A",
                                   u"\"quoted\"",
                                   u"'single'",
                                   u"\"",
                                   u"\"'",
                                   u"\"\"",
                                   u"\u0080",
                                   u"caf\u00e9 \u4e2d\u6587",
                                   u" \u00e9 ",
                                   u"\U0001F600 emoji",
                                   u"lone \xD800 surrogate"};
  for (const std::u16string& units : values) {
    const bool beyond_ascii = std::any_of(units.begin(), units.end(),
                                          [](char16_t u) { return u >= 0x80; });
    for (const IniText& value :
         {IniText::Unicode(units),
          IniText::Bytes(IniText::Unicode(units).ToUtf8())}) {
      const std::string file = ComposeIniFile(kSection, kKey, value);
      EXPECT_EQ(Read(file), value) << value.ToUtf8();
      EXPECT_EQ(file.rfind("\xFF\xFE", 0) == 0,
                value.form() == IniText::Form::kUnicode && beyond_ascii)
          << value.ToUtf8();
    }
  }
}

}  // namespace
}  // namespace norvale
