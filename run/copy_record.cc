#include "run/copy_record.h"

#include <charconv>
#include <utility>

#include "ini/ini_text.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Native = fs::path::string_type;

// The second version gives each copy its stamp, "-" where none is known.
constexpr std::string_view kHeader = "Norvale copies 1\n";
constexpr std::string_view kStampedHeader = "Norvale copies 2\n";
constexpr std::string_view kEnd = "end\n";

#ifdef _WIN32
// Names are UTF-16 that need not be valid; each unit is kept, a lone
// surrogate as its own three bytes, so that every name comes back whole.
std::string Bytes(const Native& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      const uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(c, out);
  }
  return out;
}

std::optional<Native> FromBytes(std::string_view bytes) {
  Native out;
  for (size_t i = 0; i < bytes.size();) {
    const auto unit = [&](size_t at) {
      return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at]));
    };
    const uint32_t lead = unit(i);
    size_t more = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    if (i + more >= bytes.size() && more > 0) return std::nullopt;
    uint32_t c = more == 0   ? lead
                 : more == 1 ? lead & 0x1F
                 : more == 2 ? lead & 0x0F
                             : lead & 0x07;
    for (size_t k = 1; k <= more; ++k) c = (c << 6) | (unit(i + k) & 0x3F);
    i += more + 1;
    if (c >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}
#else
std::string Bytes(const Native& text) { return text; }
std::optional<Native> FromBytes(std::string_view bytes) {
  return Native(bytes);
}
#endif

// Appends `text` with backslashes, line ends and other control bytes
// written as escapes, so that each entry is one line.
void AppendEscaped(std::string& out, const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
}

// Returns the text `escaped` stands for, or nothing when it is not what
// AppendEscaped writes.
std::optional<Native> Unescaped(std::string_view escaped) {
  std::string bytes;
  for (size_t i = 0; i < escaped.size(); ++i) {
    const char c = escaped[i];
    if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
    if (c != '\\') {
      bytes += c;
      continue;
    }
    if (i + 1 < escaped.size() && escaped[i + 1] == '\\') {
      bytes += '\\';
      ++i;
      continue;
    }
    unsigned value = 0;
    if (i + 3 >= escaped.size() || escaped[i + 1] != 'x') {
      return std::nullopt;
    }
    const auto [end, error] = std::from_chars(
        escaped.data() + i + 2, escaped.data() + i + 4, value, 16);
    if (error != std::errc() || end != escaped.data() + i + 4) {
      return std::nullopt;
    }
    bytes += static_cast<char>(value);
    i += 3;
  }
  return FromBytes(bytes);
}

// A path kept in a record never climbs out of the destination: no empty,
// "." or ".." component, nor a leading separator.
bool IsBelow(const Native& relative) {
  if (relative.empty()) return false;
  size_t start = 0;
  for (;;) {
    size_t end = relative.find(fs::path::preferred_separator, start);
    if (end == Native::npos) end = relative.size();
    const Native part = relative.substr(start, end - start);
    if (part.empty() || part == Native(1, '.') || part == Native(2, '.')) {
      return false;
    }
#ifdef _WIN32
    if (part.find_first_of(L"/:") != Native::npos) return false;
#endif
    if (end == relative.size()) return true;
    start = end + 1;
  }
}

// Appends `value` in hexadecimal: in `digits` digits, or in as few as it
// needs when `digits` is 0.
void AppendHex(std::string& out, uint64_t value, int digits = 0) {
  static constexpr char kHex[] = "0123456789abcdef";
  int shift = 60;
  while (digits == 0 && shift > 0 && (value >> shift) == 0) shift -= 4;
  if (digits != 0) shift = 4 * (digits - 1);
  for (; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

// Returns the hexadecimal number `text` is, whole, or nothing.
std::optional<uint64_t> Hex(std::string_view text) {
  uint64_t value = 0;
  const auto [at, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || error != std::errc() || at != text.data() + text.size())
    return std::nullopt;
  return value;
}

// Returns the stamp `text` gives ("SIZE:TIME" in hexadecimal, or "-" for
// none), or nothing when it is neither.
std::optional<FileStamp> ParseStamp(std::string_view text) {
  if (text == "-") return FileStamp{};
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::optional<uint64_t> size = Hex(text.substr(0, colon)),
                                time = Hex(text.substr(colon + 1));
  if (!size || !time || *time == 0) return std::nullopt;
  return FileStamp{*size, static_cast<int64_t>(*time)};
}

}  // namespace

const fs::path::value_type kRecordName[] = {'.', 'n', 'o', 'r', 'v', 'a',
                                            'l', 'e', '-', 'c', 'o', 'p',
                                            'i', 'e', 's', 0};

uint64_t Fingerprint(std::string_view bytes) {
  // FNV-1a: a copy is a few dozen bytes, and this tells changes, not
  // attacks (a file must also be named by the record to be removed).
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ull;
  }
  return hash;
}

std::string ComposeRecord(const CopyRecord& record) {
  bool stamped = false;
  for (const auto& [copy, recorded] : record.copies) {
    stamped = stamped || recorded.stamp.known();
  }
  std::string text(stamped ? kStampedHeader : kHeader);
  text.reserve(64 * (record.copies.size() + record.folders.size() + 2));
  text += "source ";
  AppendEscaped(text, Bytes(record.source.native()));
  text += '\n';
  for (const Native& folder : record.folders) {
    text += "folder ";
    AppendEscaped(text, Bytes(folder));
    text += '\n';
  }
  for (const auto& [copy, recorded] : record.copies) {
    text += "copy ";
    AppendHex(text, recorded.fingerprint, 16);
    text += ' ';
    if (stamped && !recorded.stamp.known()) text += "- ";
    if (stamped && recorded.stamp.known()) {
      AppendHex(text, recorded.stamp.size);
      text += ':';
      AppendHex(text, static_cast<uint64_t>(recorded.stamp.time));
      text += ' ';
    }
    AppendEscaped(text, Bytes(copy));
    text += '\n';
  }
  text += kEnd;
  return text;
}

std::optional<CopyRecord> ParseRecord(std::string_view text) {
  const bool stamped = text.substr(0, kStampedHeader.size()) == kStampedHeader;
  if ((!stamped && text.substr(0, kHeader.size()) != kHeader) ||
      text.size() < kHeader.size() + kEnd.size() ||
      text.substr(text.size() - kEnd.size()) != kEnd) {
    return std::nullopt;
  }
  text.remove_prefix(kHeader.size());
  text.remove_suffix(kEnd.size());
  CopyRecord record;
  bool has_source = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const auto field = [&](std::string_view tag) -> std::optional<Native> {
      if (line.substr(0, tag.size()) != tag) return std::nullopt;
      return Unescaped(line.substr(tag.size()));
    };
    if (!has_source) {
      const std::optional<Native> source = field("source ");
      if (!source) return std::nullopt;
      record.source = *source;
      has_source = true;
    } else if (line.substr(0, 7) == "folder ") {
      const std::optional<Native> folder = field("folder ");
      if (!folder || !IsBelow(*folder)) return std::nullopt;
      record.folders.insert(*folder);
    } else if (line.substr(0, 5) == "copy " && line.size() > 22 &&
               line[21] == ' ') {
      RecordedCopy recorded;
      const std::optional<uint64_t> fingerprint = Hex(line.substr(5, 16));
      std::string_view rest = line.substr(22);
      if (stamped) {
        const size_t end = rest.find(' ');
        const std::optional<FileStamp> stamp = ParseStamp(rest.substr(0, end));
        if (end == std::string_view::npos || !stamp) return std::nullopt;
        recorded.stamp = *stamp;
        rest.remove_prefix(end + 1);
      }
      const std::optional<Native> copy = Unescaped(rest);
      if (!fingerprint || !copy || !IsBelow(*copy)) return std::nullopt;
      recorded.fingerprint = *fingerprint;
      // Written sorted, so each goes at the end.
      record.copies.emplace_hint(record.copies.end(), std::move(*copy),
                                 recorded);
    } else {
      return std::nullopt;
    }
  }
  if (!has_source) return std::nullopt;
  return record;
}

}  // namespace norvale
