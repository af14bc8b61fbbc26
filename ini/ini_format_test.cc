#include "ini/ini_format.h"

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

// Each value read is also written into a copy, in both forms, and read back
// from it, whatever quotes, blanks and characters it holds. Unicode beyond
// ASCII is written as UTF-16LE with its mark, all else as it is.
TEST(IniFormatTest, ReadsByTheRulesAndWritesWhatReadsBack) {
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
      // Values that must be quoted to be written, or written as UTF-16.
      {s + "URL=\"http://a/ \"\r\n", "http://a/ "},
      {s + "URL=\"\ttab\x1A\"\r\n", "\ttab\x1A"},
      {s + "URL=\"'a'\"\r\n", "'a'"},
      {s + "URL=\"\"\"\"\r\n", "\"\""},
      {Utf16(u"[InternetShortcut]\r\nURL=\u0080\r\n", false), "\xC2\x80"},
      {Utf16(u"[InternetShortcut]\r\nURL=a\u007F\r\n", false), "a\x7F"},
      {Utf16(u"[InternetShortcut]\r\nURL=\" \u00e9 \"\r\n", false),
       " \xC3\xA9 "},
      {Utf16(u"[InternetShortcut]\r\nURL=a\xD800\r\n", false), "a\xEF\xBF\xBD"},
      // As Windows writes an address its code page cannot hold: "?" in the
      // key, the address itself in UTF-7 in the ".W" section.
      {s + "IDList=\r\nURL=http://?aN?"
           "?/\r\n[InternetShortcut.W]\r\n"
           "URL=http://+A6gDsSEVIScltg-/\r\n",
       "http://\xCE\xA8\xCE\xB1\xE2\x84\x95\xE2\x84\xA7\xE2\x96\xB6/"},
      {"[InternetShortcut.W]\r\nURL=+-a+AOk-\r\n" + s + "URL=x\r\n",
       "+a\xC3\xA9"},
      // The ".W" value only while ".A" still holds the section's own: an
      // address changed since by a program that knows only the code page
      // is the address.
      {s + "URL=http://?.example/\r\n[InternetShortcut.A]\r\nURL=http://?."
           "example/\r\n[InternetShortcut.W]\r\nURL=http://+ZeVnLIqe-.example/"
           "\r\n",
       "http://\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.example/"},
      {s + "URL=http://edited.example/\r\n[InternetShortcut.A]\r\nURL=http://"
           "?.example/?q=1\r\n[InternetShortcut.W]\r\nURL=http://"
           "+ZeVnLIqe-.example/?q+AD0-1\r\n",
       "http://edited.example/"},
      {"[InternetShortcut.A]\r\nURL=x\r\n[InternetShortcut.W]\r\nURL=+AOk-"
       "\r\n",
       none},
      // Not UTF-7, or not one line: the key in the section itself.
      {s + "URL=x\r\n[InternetShortcut.W]\r\nURL=+AOkA\r\n", "x"},
      {s + "URL=x\r\n[InternetShortcut.W]\r\nURL=\xC3\xA9\r\n", "x"},
      {s + "URL=x\r\n[InternetShortcut.W]\r\nURL=a+AA0ACg-b\r\n", "x"},
      {s + "URL=x\r\n[InternetShortcut.W]\r\nIDList=\r\n", "x"},
  };
  for (const auto& [file, expected] : cases) {
    const IniText value = Read(file);
    EXPECT_EQ(value.ToUtf8(), expected) << file;
    // Its own form is one of these; a copy in each reads back, as exactly
    // what Norvale writes.
    for (const IniText& form :
         {IniText::Unicode(value.units()), IniText::Bytes(expected),
          IniText::WideSection(value.units())}) {
      const std::string copy = ComposeIniFile(kSection, kKey, form);
      EXPECT_EQ(Read(copy), form) << file;
      EXPECT_TRUE(IsCompactIniFile(copy, kSection, kKey)) << copy;
      // Any unit past ASCII, as a byte, would be read as another character.
      const bool wide = form.form() != IniText::Form::kBytes &&
                        std::any_of(form.units().begin(), form.units().end(),
                                    [](char16_t u) { return u >= 0x80; });
      EXPECT_EQ(copy.rfind("\xFF\xFE", 0) == 0,
                wide && form.form() == IniText::Form::kUnicode)
          << file;
      // Windows' three sections, in its order, the first two alike.
      const size_t ansi = copy.find("[InternetShortcut.A]\r\n"),
                   utf7 = copy.find("[InternetShortcut.W]\r\n");
      EXPECT_EQ(utf7 != std::string::npos,
                wide && form.form() == IniText::Form::kWideSection)
          << file;
      EXPECT_EQ(ansi != std::string::npos, utf7 != std::string::npos);
      if (ansi != std::string::npos) {
        const std::string plain = copy.substr(20, ansi - 20);
        EXPECT_EQ(copy.substr(ansi + 22, utf7 - ansi - 22), plain);
        // As Norvale wrote it before, with no ".A": still its own.
        EXPECT_TRUE(IsCompactIniFile(copy.substr(0, ansi) + copy.substr(utf7),
                                     kSection, kKey));
      }
    }
  }
}

}  // namespace
}  // namespace norvale
