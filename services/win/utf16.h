// UTF-8, as Norvale keeps text, to and from UTF-16, as the system's wide
// functions take it.
#ifndef NORVALE_SERVICES_WIN_UTF16_H_
#define NORVALE_SERVICES_WIN_UTF16_H_

#include <string>
#include <string_view>

namespace norvale {

// Returns `utf8` as UTF-16; an invalid sequence becomes U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);

// Returns `wide` as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view wide);

}  // namespace norvale

#endif  // NORVALE_SERVICES_WIN_UTF16_H_
