#include "terminal/arguments_win.h"

#include <string>

namespace norvale {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Returns the end of the word that starts at `at`: the first blank outside
// quotes. Puts the word, its quotes dropped, in `word` when given.
size_t WordEnd(std::wstring_view text, size_t at, std::wstring* word) {
  bool quoted = false;
  for (; at < text.size() && (quoted || !IsBlank(text[at])); ++at) {
    if (text[at] == L'"') {
      quoted = !quoted;
    } else if (word != nullptr) {
      *word += text[at];
    }
  }
  return at;
}

size_t SkipBlanks(std::wstring_view text, size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

}  // namespace

std::wstring_view ArgumentsText(std::wstring_view command_line) {
  const size_t name_end = WordEnd(command_line, 0, nullptr);
  return command_line.substr(SkipBlanks(command_line, name_end));
}

std::vector<std::filesystem::path> SplitCommandLine(
    std::wstring_view command_line) {
  std::vector<std::filesystem::path> arguments;
  const std::wstring_view text = ArgumentsText(command_line);
  for (size_t at = 0; at < text.size(); at = SkipBlanks(text, at)) {
    std::wstring word;
    at = WordEnd(text, at, &word);
    arguments.emplace_back(std::move(word));
  }
  return arguments;
}

}  // namespace norvale
