#include "ini/ini_format.h"

#include <cstdint>
#include <string>
#include <type_traits>

#include "ini/utf7.h"

namespace norvale {
namespace {

using Units = std::u16string_view;

// The reading works alike on UTF-16 units and, for a file without a
// byte-order mark, on its bytes as they are, which need no decoding.
template <typename C>
using Text = std::basic_string_view<C>;

template <typename C>
bool IsTrimmed(C u) {
  return u == '\t' || u == '\n' || u == '\v' || u == '\f' || u == '\r' ||
         u == 0x1A || u == ' ';
}

template <typename C>
Text<C> Trim(Text<C> s) {
  while (!s.empty() && IsTrimmed(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsTrimmed(s.back())) s.remove_suffix(1);
  return s;
}

uint32_t AsciiLower(uint32_t u) {
  return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

template <typename C>
bool EqualsIgnoringCase(Text<C> s, std::string_view name) {
  if (s.size() != name.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (AsciiLower(static_cast<std::make_unsigned_t<C>>(s[i])) !=
        AsciiLower(static_cast<unsigned char>(name[i]))) {
      return false;
    }
  }
  return true;
}

void AppendCodePoint(char32_t c, std::u16string* out) {
  if (c < 0x10000) {
    out->push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Decodes UTF-8; each ill-formed part becomes U+FFFD, so any bytes decode.
std::u16string DecodeUtf8(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t b = s[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    size_t length;
    char32_t c;
    uint8_t low = 0x80, high = 0xBF;  // The range of the second byte.
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
      c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      c = b & 0x0F;
      if (b == 0xE0) low = 0xA0;   // No overlong forms.
      if (b == 0xED) high = 0x9F;  // No surrogates.
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      c = b & 0x07;
      if (b == 0xF0) low = 0x90;   // No overlong forms.
      if (b == 0xF4) high = 0x8F;  // Nothing beyond U+10FFFF.
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j < length && i + j < s.size(); ++j) {
      const uint8_t t = s[i + j];
      const bool fits =
          j == 1 ? (t >= low && t <= high) : (t >= 0x80 && t <= 0xBF);
      if (!fits) break;
      c = (c << 6) | (t & 0x3F);
    }
    if (j < length) {
      out.push_back(0xFFFD);
      i += j;
      continue;
    }
    AppendCodePoint(c, &out);
    i += length;
  }
  return out;
}

std::u16string DecodeUtf16(std::string_view s, bool big_endian) {
  std::u16string out;
  out.reserve(s.size() / 2);
  for (size_t i = 0; i + 1 < s.size();
       i += 2) {  // A stray last byte is dropped.
    const uint8_t first = s[i], second = s[i + 1];
    out.push_back(big_endian ? static_cast<char16_t>(first << 8 | second)
                             : static_cast<char16_t>(second << 8 | first));
  }
  return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Returns the value part of a key line: cut at NUL, trimmed, one pair of
// matching quotes removed.
template <typename C>
Text<C> CleanValue(Text<C> value) {
  const size_t nul = value.find(C{});
  if (nul != Text<C>::npos) value = value.substr(0, nul);
  value = Trim(value);
  if (value.size() >= 2 && value.front() == value.back() &&
      (value.front() == '"' || value.front() == '\'')) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

// Finds the value in decoded text; returns false when it is missing.
template <typename C>
bool FindValue(Text<C> text, std::string_view section, std::string_view key,
               Text<C>* value) {
  bool in_section = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    const Text<C> line = Trim(text.substr(pos, end - pos));
    // CR LF, a lone LF and a lone CR each end a line.
    pos = end;
    if (pos < text.size()) {
      pos +=
          (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n')
              ? 2
              : 1;
    }
    if (line.empty()) continue;
    if (line.front() == '[') {
      // As Windows reads it: the name ends at the first ']', or at the line's
      // end when there is none.
      const Text<C> name = line.substr(1, line.find(']', 1) - 1);
      // Only the first section of that name is read.
      if (in_section) return false;
      in_section = EqualsIgnoringCase(Trim(name), section);
      continue;
    }
    if (!in_section) continue;
    const size_t equals = line.find('=');
    if (equals == Text<C>::npos) continue;
    if (!EqualsIgnoringCase(Trim(line.substr(0, equals)), key)) continue;
    *value = CleanValue(line.substr(equals + 1));
    return true;
  }
  return false;
}

bool NeedsQuotes(Units v) {
  if (v.empty()) return false;
  if (IsTrimmed(v.front()) || IsTrimmed(v.back())) return true;
  return v.size() >= 2 && v.front() == v.back() &&
         (v.front() == '"' || v.front() == '\'');
}

}  // namespace

IniText ParseIniValue(std::string_view file, std::string_view section,
                      std::string_view key, const IniText& fallback) {
  std::u16string decoded;
  if (StartsWith(file, "\xFF\xFE")) {
    decoded = DecodeUtf16(file.substr(2), /*big_endian=*/false);
  } else if (StartsWith(file, "\xFE\xFF")) {
    decoded = DecodeUtf16(file.substr(2), /*big_endian=*/true);
  } else if (StartsWith(file, "\xEF\xBB\xBF")) {
    decoded = DecodeUtf8(file.substr(3));
  } else {
    // As Windows reads a shortcut: the value it could not write in its code
    // page is in "<section>.W", in UTF-7, and wins when it is that, but only
    // while "<section>.A" still holds what the section itself does: a
    // program that knows only the code page may have changed the address
    // since, and then the section's own value is the address.
    std::string_view value, wide_value, ansi_value;
    const bool found = FindValue(file, section, key, &value);
    const std::string wide_section = std::string(section) + ".W";
    const std::string ansi_section = std::string(section) + ".A";
    if (FindValue(file, wide_section, key, &wide_value) &&
        (!FindValue(file, ansi_section, key, &ansi_value) ||
         (found && ansi_value == value))) {
      if (auto units = DecodeUtf7(wide_value)) {
        IniText wide = IniText::WideSection(std::move(*units));
        if (IsWritableIniValue(wide)) return wide;
      }
    }
    if (!found) return fallback;
    return IniText::Bytes(value);
  }
  Units value;
  if (!FindValue(Units(decoded), section, key, &value)) return fallback;
  return IniText::Unicode(std::u16string(value));
}

bool IsWritableIniValue(const IniText& value) {
  for (char16_t u : value.units()) {
    if (u == '\r' || u == '\n' || u == '\0') return false;
  }
  return true;
}

namespace {

// Returns the text of a file holding `section` with `key` set to `value`.
std::u16string ComposeText(std::string_view section, std::string_view key,
                           const IniText& value) {
  std::u16string text;
  text.reserve(section.size() + key.size() + value.units().size() + 10);
  auto append_ascii = [&text](std::string_view s) {
    for (char c : s) text.push_back(static_cast<unsigned char>(c));
  };
  append_ascii("[");
  append_ascii(section);
  append_ascii("]\r\n");
  append_ascii(key);
  append_ascii("=");
  const bool quoted = NeedsQuotes(value.units());
  if (quoted) append_ascii("\"");
  text += value.units();
  if (quoted) append_ascii("\"");
  append_ascii("\r\n");
  return text;
}

// Returns `text` as one byte per unit, or as UTF-16LE with its mark.
std::string Encode(const std::u16string& text, bool wide) {
  std::string out;
  if (!wide) {
    out.reserve(text.size());
    for (char16_t u : text) out.push_back(static_cast<char>(u));
    return out;
  }
  out.reserve(2 + 2 * text.size());
  out += "\xFF\xFE";
  for (char16_t u : text) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

// Returns Windows' sections for `value`: the value as UTF-8 for readers of
// the file's bytes, the same again in "<section>.A" when `with_ansi`, so
// that readers who check it take the value as Windows keeps it for its own,
// in "<section>.W", all quoted alike where reading would trim it. Without
// `with_ansi`, the two sections Norvale wrote before.
std::string ComposeWide(std::string_view section, std::string_view key,
                        const IniText& value, bool with_ansi) {
  const bool quoted = NeedsQuotes(value.units());
  const std::string quote = quoted ? "\"" : "";
  const std::string plain =
      std::string(key) + "=" + quote + value.ToUtf8() + quote + "\r\n";
  std::string file = "[" + std::string(section) + "]\r\n" + plain;
  if (with_ansi) file += "[" + std::string(section) + ".A]\r\n" + plain;
  file += "[" + std::string(section) + ".W]\r\n" + std::string(key) + "=" +
          quote + EncodeUtf7(value.units()) + quote + "\r\n";
  return file;
}

// Returns the bytes of a file holding `value` in `form`, whatever its
// characters: one byte a unit, UTF-16LE, or Windows' three sections.
std::string ComposeInForm(std::string_view section, std::string_view key,
                          const IniText& value, IniText::Form form) {
  if (form != IniText::Form::kWideSection) {
    return Encode(ComposeText(section, key, value),
                  form == IniText::Form::kUnicode);
  }
  return ComposeWide(section, key, value, /*with_ansi=*/true);
}

}  // namespace

std::string ComposeIniFile(std::string_view section, std::string_view key,
                           const IniText& value) {
  // An ASCII value is the same in every form, and written as its bytes.
  return ComposeInForm(section, key, value,
                       value.IsAscii() ? IniText::Form::kBytes : value.form());
}

bool IsCompactIniFile(std::string_view file, std::string_view section,
                      std::string_view key) {
  // The value read back, composed again in the file's own form, must give
  // the same bytes; a missing key reads as an empty value, whose composed
  // file has the key, so it never does.
  const IniText value = ParseIniValue(file, section, key, IniText());
  // Copies written before the ".A" section was are Norvale's too.
  return ComposeInForm(section, key, value, value.form()) == file ||
         (value.form() == IniText::Form::kWideSection &&
          ComposeWide(section, key, value, /*with_ansi=*/false) == file);
}

namespace {

// Returns true when the units of `text` run through "[section]", CR LF,
// "key=value", CR LF, and again for Windows' ".A" and ".W" sections, as far
// as they go, and no further.
template <typename C>
bool FollowsCompactShape(Text<C> text) {
  enum Step { kOpen, kSection, kCr1, kLf1, kKey, kValue, kLf2 };
  Step step = kOpen;
  int sections = 0;
  for (const C c : text) {
    const bool line_end = c == '\r' || c == '\n';
    switch (step) {
      case kOpen:
        if (c != '[' || ++sections > 3) return false;
        step = kSection;
        break;
      case kSection:
        if (line_end) return false;
        if (c == ']') step = kCr1;
        break;
      case kCr1:
        if (c != '\r') return false;
        step = kLf1;
        break;
      case kLf1:
        if (c != '\n') return false;
        step = kKey;
        break;
      case kKey:
        if (line_end || c == '[') return false;
        if (c == '=') step = kValue;
        break;
      case kValue:
        if (c == '\n' || c == 0) return false;
        if (c == '\r') step = kLf2;
        break;
      case kLf2:
        if (c != '\n') return false;
        step = kOpen;
        break;
    }
  }
  return true;
}

}  // namespace

bool IsCompactIniStart(std::string_view file) {
  // A write cut short may have written only part of the byte-order mark,
  // or half of a UTF-16 unit.
  if (file == "\xFF") return true;
  if (StartsWith(file, "\xFF\xFE")) {
    return FollowsCompactShape(Units(DecodeUtf16(file.substr(2), false)));
  }
  return FollowsCompactShape(file);
}

}  // namespace norvale
