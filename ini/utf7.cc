#include "ini/utf7.h"

#include <cstdint>

namespace norvale {
namespace {

constexpr char kBase64[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Returns the value of a base64 digit, or -1.
int Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Returns true for the characters written as themselves: the letters,
// digits and marks UTF-7 leaves as they are, and blanks; "+" starts a
// base64 run and "\" and "~" are left out of UTF-7's own sets.
bool Direct(char16_t u) {
  if (u >= 0x80 || u == '+' || u == '\\' || u == '~') return false;
  return u == ' ' || u == '\t' || (u > ' ' && u < 0x7F);
}

}  // namespace

std::optional<std::u16string> DecodeUtf7(std::string_view text) {
  std::u16string units;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i++];
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    if (c != '+') {
      units.push_back(static_cast<char16_t>(c));
      continue;
    }
    if (i < text.size() && text[i] == '-') {  // "+-" is "+".
      units.push_back(u'+');
      ++i;
      continue;
    }
    uint32_t bits = 0;
    int count = 0;
    for (int digit; i < text.size() && (digit = Digit(text[i])) >= 0; ++i) {
      bits = (bits << 6) | static_cast<uint32_t>(digit);
      count += 6;
      if (count >= 16) {
        count -= 16;
        units.push_back(static_cast<char16_t>(bits >> count));
        bits &= (1u << count) - 1;
      }
    }
    // What is left over must be padding: fewer than six bits, all zero.
    if (count >= 6 || bits != 0) return std::nullopt;
    if (i < text.size() && text[i] == '-') ++i;
  }
  return units;
}

std::string EncodeUtf7(std::u16string_view units) {
  std::string text;
  for (size_t i = 0; i < units.size();) {
    if (Direct(units[i])) {
      text.push_back(static_cast<char>(units[i++]));
      continue;
    }
    if (units[i] == u'+' && (i + 1 == units.size() || Direct(units[i + 1]))) {
      text += "+-";
      ++i;
      continue;
    }
    text.push_back('+');
    uint32_t bits = 0;
    int count = 0;
    for (; i < units.size() && !Direct(units[i]); ++i) {
      bits = (bits << 16) | units[i];
      count += 16;
      while (count >= 6) {
        count -= 6;
        text.push_back(kBase64[(bits >> count) & 0x3F]);
      }
      bits &= (1u << count) - 1;
    }
    if (count > 0) text.push_back(kBase64[(bits << (6 - count)) & 0x3F]);
    // Always closed, so that no character after it is taken for base64.
    text.push_back('-');
  }
  return text;
}

}  // namespace norvale
