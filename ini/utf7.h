// UTF-7, the encoding in which Windows keeps a shortcut's Unicode address in
// a file of its code page.
#ifndef NORVALE_INI_UTF7_H_
#define NORVALE_INI_UTF7_H_

#include <optional>
#include <string>
#include <string_view>

namespace norvale {

// Returns the UTF-16 units `text` spells in UTF-7, or nothing when it is
// not UTF-7: a byte beyond ASCII, or a run of base64 whose bits do not end
// on a whole unit padded with zeros.
std::optional<std::u16string> DecodeUtf7(std::string_view text);

// Returns `units` in UTF-7, every run of characters that are not spelled
// as themselves as "+", its base64 and "-"; each unit is kept, lone
// surrogates too.
std::string EncodeUtf7(std::u16string_view units);

}  // namespace norvale

#endif  // NORVALE_INI_UTF7_H_
