// Text for the system's wide functions, which take UTF-16.
#ifndef NORVALE_WINDOW_UTF16_WIN_H_
#define NORVALE_WINDOW_UTF16_WIN_H_

#include <string>
#include <string_view>

// Returns `utf8` as UTF-16, for the system's wide functions.
std::wstring WideFromUtf8(std::string_view utf8);

#endif  // NORVALE_WINDOW_UTF16_WIN_H_
