#include "ini/ini_text.h"

#include <algorithm>
#include <utility>

namespace norvale {

IniText IniText::Bytes(std::string_view bytes) {
  IniText text;
  text.form_ = Form::kBytes;
  text.units_.reserve(bytes.size());
  for (char c : bytes) text.units_.push_back(static_cast<unsigned char>(c));
  return text;
}

IniText IniText::Unicode(std::u16string units) {
  IniText text;
  text.form_ = Form::kUnicode;
  text.units_ = std::move(units);
  return text;
}

IniText IniText::WideSection(std::u16string units) {
  IniText text = Unicode(std::move(units));
  text.form_ = Form::kWideSection;
  return text;
}

bool IniText::IsAscii() const {
  return std::all_of(units_.begin(), units_.end(),
                     [](char16_t u) { return u < 0x80; });
}

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string IniText::ToUtf8() const {
  std::string out;
  if (form_ == Form::kBytes) {
    for (char16_t u : units_) out.push_back(static_cast<char>(u));
    return out;
  }
  for (size_t i = 0; i < units_.size(); ++i) {
    char32_t c = units_[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units_.size() &&
        units_[i + 1] >= 0xDC00 && units_[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units_[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // A lone surrogate has no UTF-8 spelling.
    }
    AppendUtf8(c, out);
  }
  return out;
}

}  // namespace norvale
