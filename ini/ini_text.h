// A value of an INI file, carrying the form it was read in so it can be
// written back unchanged.
#ifndef NORVALE_INI_INI_TEXT_H_
#define NORVALE_INI_INI_TEXT_H_

#include <string>
#include <string_view>

namespace norvale {

// Appends the UTF-8 spelling of the code point `code` to `out`; a lone
// surrogate is spelled as the three bytes its number gives.
void AppendUtf8(char32_t code, std::string& out);

class IniText {
 public:
  // kBytes: the file had no byte-order mark; each unit is one byte of it,
  // taken as it is. kUnicode: the file had a mark; units are UTF-16.
  // kWideSection: a file without a mark that, as Windows writes one whose
  // value its code page cannot hold, holds the value again in UTF-7 under
  // the section's name with ".W"; units are UTF-16.
  enum class Form { kBytes, kUnicode, kWideSection };

  IniText() = default;

  // Returns the text of these bytes, as read from a file without a mark.
  static IniText Bytes(std::string_view bytes);
  // Returns the text of these UTF-16 units, as read from a file with a mark.
  static IniText Unicode(std::u16string units);
  // Returns the text of these UTF-16 units, as read from a ".W" section.
  static IniText WideSection(std::u16string units);

  Form form() const { return form_; }
  const std::u16string& units() const { return units_; }

  // Returns true when every unit is below 0x80, so the bytes and the
  // Unicode forms spell the text the same way.
  bool IsAscii() const;

  // Returns the text as UTF-8 (bytes are passed through unchanged); for
  // showing and for tests, never for writing files.
  std::string ToUtf8() const;

  // Texts are equal when their units are; the form is how they were stored.
  friend bool operator==(const IniText& a, const IniText& b) {
    return a.units_ == b.units_;
  }
  friend bool operator!=(const IniText& a, const IniText& b) {
    return !(a == b);
  }

 private:
  Form form_ = Form::kBytes;
  std::u16string units_;
};

}  // namespace norvale

#endif  // NORVALE_INI_INI_TEXT_H_
