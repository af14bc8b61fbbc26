#include "services/ini_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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
  const struct {
    const char* name;
    std::string file;
    std::string expected;  // UTF-8 of the value read.
  } cases[] = {
      {"plain", "[InternetShortcut]\r\nURL=http://a/\r\n", "http://a/"},
      {"lf line ends", "[InternetShortcut]\nURL=http://a/\n", "http://a/"},
      {"lone cr line ends", "[InternetShortcut]\rURL=http://a/\r", "http://a/"},
      {"no final line end", "[InternetShortcut]\r\nURL=http://a/", "http://a/"},
      {"blank lines", "\r\n\r\n[InternetShortcut]\r\n\r\n\r\nURL=x\r\n", "x"},
      {"case of names", "[internetshortcut]\r\nurl=x\r\n", "x"},
      {"trimming everywhere",
       " \t[ InternetShortcut \x1A]\v\r\n\f URL \t= \x1Ax y\t \r\n", "x y"},
      {"missing section", "[Other]\r\nURL=x\r\n", "about:blank"},
      {"missing key", "[InternetShortcut]\r\nIconFile=x\r\n", "about:blank"},
      {"empty value", "[InternetShortcut]\r\nURL=\r\n", ""},
      {"key before any section", "URL=x\r\n[InternetShortcut]\r\n",
       "about:blank"},
      {"key of another section",
       "[A]\r\nURL=a\r\n[InternetShortcut]\r\nURL=b\r\n[B]\r\nURL=c\r\n", "b"},
      {"only the first such section",
       "[InternetShortcut]\r\nX=1\r\n[InternetShortcut]\r\nURL=late\r\n",
       "about:blank"},
      {"first key wins", "[InternetShortcut]\r\nURL=a\r\nURL=b\r\n", "a"},
      {"split at first equals", "[InternetShortcut]\r\nURL=a=b==\r\n", "a=b=="},
      {"line without equals ignored", "[InternetShortcut]\r\nURL\r\nURL=x\r\n",
       "x"},
      {"semicolon is no comment",
       "[InternetShortcut]\r\n;URL=a\r\nURL=b ; c\r\n", "b ; c"},
      {"hash is no comment", "[InternetShortcut]\r\n#URL=a\r\nURL=b#c\r\n",
       "b#c"},
      {"key is a whole name", "[InternetShortcut]\r\nURLX=a\r\nXURL=b\r\n",
       "about:blank"},
      // As Windows reads them: a name ends at its line's first "]", or at
      // the line's end.
      {"section name to the first bracket", "[InternetShortcut]x]\r\nURL=a\r\n",
       "a"},
      {"header without bracket", "[ InternetShortcut\r\nURL=a\r\n", "a"},
      {"header without bracket ends the section",
       "[InternetShortcut]\r\n[URL=a\r\nURL=b\r\n", "about:blank"},
      {"double quotes removed", "[InternetShortcut]\r\nURL=\" a \"\r\n", " a "},
      {"single quotes removed", "[InternetShortcut]\r\nURL='a'\r\n", "a"},
      {"one pair only", "[InternetShortcut]\r\nURL=\"\"a\"\"\r\n", "\"a\""},
      {"mixed quotes kept", "[InternetShortcut]\r\nURL=\"a'\r\n", "\"a'"},
      {"lone quote kept", "[InternetShortcut]\r\nURL=\"\r\n", "\""},
      {"empty quotes", "[InternetShortcut]\r\nURL=\"\"\r\n", ""},
      {"value ends at nul", "[InternetShortcut]\r\nURL=ab\0cd\r\n"s, "ab"},
      {"non-utf8 bytes kept", "[InternetShortcut]\r\nURL=http://\xE9t\xFF/\r\n",
       "http://\xE9t\xFF/"},
      {"utf8 with mark", "\xEF\xBB\xBF[InternetShortcut]\r\nURL=\xC3\xA9\r\n",
       "\xC3\xA9"},
      {"bad utf8 with mark",
       "\xEF\xBB\xBF[InternetShortcut]\r\nURL=a\xC3(\xE0\x80\r\n",
       "a\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"utf8 with mark, beyond the BMP",
       "\xEF\xBB\xBF[InternetShortcut]\r\nURL=\xF0\x9F\x98\x80\r\n",
       "\xF0\x9F\x98\x80"},
      {"utf16le",
       Utf16(u"[InternetShortcut]\r\nURL=http://\u00e9\u4e2d/\r\n", false),
       "http://\xC3\xA9\xE4\xB8\xAD/"},
      {"utf16be", Utf16(u"[InternetShortcut]\nURL=\u00e9\n", true), "\xC3\xA9"},
      {"utf16le odd last byte",
       Utf16(u"[InternetShortcut]\r\nURL=ab", false) + "\x41", "ab"},
      {"empty file", "", "about:blank"},
  };
  for (const auto& c : cases) {
    const IniText value = Read(c.file);
    EXPECT_EQ(value.ToUtf8(), c.expected) << c.name;
    EXPECT_EQ(Read(ComposeIniFile(kSection, kKey, value)), value) << c.name;
  }
}

// Writing a value and reading the written file gives the value back, in
// both forms, whatever quotes, blanks and characters it holds. Unicode
// beyond ASCII is written as UTF-16LE with its mark, all else as it is.
TEST(ComposeIniFileTest, RoundTrips) {
  const std::u16string values[] = {
      u"",
      u"http://example.com/?a=b&c=d",
      u" leading and trailing ",
      u"http://a/ ",
      u"\ttab\x1A",
      u"\"quoted\"",
      u"'single'",
      u"\"",
      u"\"'",
      u"\"\"",
      u"a ; b # c",
      u"[InternetShortcut]",
      u"=",
      u"\u0080",
      u"caf\u00e9 \u4e2d\u6587",
      u" \u00e9 ",
      u"\U0001F600 emoji",
      u"lone \xD800 surrogate",
  };
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
