#include "terminal/run_in_terminal.h"

#include <memory>
#include <string>

#include "run/compression_run.h"
#include "run/run_report.h"
#include "terminal/console.h"
#include "terminal/interrupt.h"
#include "terminal/terminal_progress.h"

namespace norvale {
namespace {

// Returns the length of the UTF-8 sequence at `at` in `text`, or 0 when
// none begins there: a stray or missing continuation byte, an overlong
// form, a surrogate, or a code point past U+10FFFF.
size_t Utf8Length(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  const unsigned lead = byte(0);
  // The first continuation byte's range depends on the lead (Unicode's
  // table of well-formed sequences); later ones are 80 to BF.
  size_t length = 0;
  unsigned low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// Returns the path `text` with every byte that could break its line apart
// or hide in it escaped, as `ls -b` does: \n, \t, \\ for a backslash, and
// \ooo in octal for any other control character, C1 ones included, and for
// each byte that is not part of valid UTF-8. `separator` is printed as it
// is: on Windows the backslash parts names, and no name can hold one.
std::string Escaped(const std::string& text, char separator) {
  std::string escaped;
  escaped.reserve(text.size());
  const auto octal = [&escaped](unsigned char byte) {
    escaped += '\\';
    escaped += static_cast<char>('0' + (byte >> 6));
    escaped += static_cast<char>('0' + ((byte >> 3) & 7));
    escaped += static_cast<char>('0' + (byte & 7));
  };
  for (size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte == '\\' && separator != '\\') {
      escaped += "\\\\";
    } else if (byte == '\n') {
      escaped += "\\n";
    } else if (byte == '\t') {
      escaped += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      octal(byte);
    } else if (byte < 0x80) {
      escaped += static_cast<char>(byte);
    } else {
      // What is no UTF-8 goes a byte at a time; U+0080 to U+009F are
      // control characters too.
      size_t length = Utf8Length(text, at);
      const bool shown =
          length != 0 &&
          (byte != 0xC2 || static_cast<unsigned char>(text[at + 1]) >= 0xA0);
      if (length == 0) length = 1;
      for (size_t i = 0; i < length; ++i) {
        if (shown) {
          escaped += text[at + i];
        } else {
          octal(static_cast<unsigned char>(text[at + i]));
        }
      }
      at += length;
      continue;
    }
    ++at;
  }
  return escaped;
}

// Stops the run at Ctrl+C on every call, whether or not progress is shown,
// and passes the calls on to `progress` when there is one. With `verbose`,
// prints each copy created, replaced, removed or left on `output`, one to a
// line.
class Interruptible : public RunObserver {
 public:
  Interruptible(TerminalProgress* progress, Console* verbose)
      : progress_(progress), verbose_(verbose) {}
  bool Searching(size_t looked_at, size_t found) override {
    if (Interrupted()) return false;
    return progress_ == nullptr || progress_->Searching(looked_at, found);
  }
  bool Compressing(size_t done, size_t total) override {
    if (Interrupted()) return false;
    return progress_ == nullptr || progress_->Compressing(done, total);
  }
  void Flushing() override {
    if (progress_ != nullptr) progress_->Flushing();
  }
  void Changed(Change change, const std::filesystem::path& relative) override {
    if (verbose_ == nullptr) return;
    // The progress line is drawn again at the next shortcut.
    if (progress_ != nullptr) progress_->Clear();
    const char* mark = change == Change::kCreated       ? "+ "
                       : change == Change::kReplaced    ? "~ "
                       : change == Change::kNotRecorded ? "! "
                       : change == Change::kOnlineOnly  ? "? "
                                                        : "- ";
#ifdef _WIN32
    verbose_->Write(mark + Escaped(relative.u8string(), '\\') + "\n");
#else
    verbose_->Write(mark + Escaped(relative.native(), '/') + "\n");
#endif
  }

 private:
  TerminalProgress* progress_;
  Console* verbose_;
};

// Returns `text` with its paragraphs on lines of their own and a final
// line end: a terminal has no message box to space them.
std::string AsLines(std::string text) {
  for (size_t at; (at = text.find("\n\n")) != std::string::npos;) {
    text.erase(at, 1);
  }
  return text + "\n";
}

int Run(const CommandLine& command, Console& output, Console& error) {
  CatchInterrupt();
  std::unique_ptr<TerminalProgress> progress;
  if (output.IsTerminal())
    progress = std::make_unique<TerminalProgress>(output);
  Interruptible observer(progress.get(), command.verbose ? &output : nullptr);
  RunOptions options;
  options.remove_stale = command.remove_stale;
  options.remove_all = command.remove_all;
  options.look_only = command.look_only;
  CompressionRun run(command.source, command.destination, &observer, options);
  const Message message = RunAndReport(run);
  if (progress) progress->Clear();
  if (message.icon == Message::Icon::kError) {
    error.Write("Norvale: " + AsLines(message.text));
    return kExitFailed;
  }
  output.Write(AsLines(message.text));
  if (run.cancelled()) return kExitInterrupted;
  return run.online_only() > 0 ? kExitOnlineOnly : kExitFinished;
}

}  // namespace

int RunInTerminal(const CommandLine& command) {
  Console output(Console::Stream::kOutput);
  Console error(Console::Stream::kError);
  switch (command.action) {
    case CommandLine::Action::kRun:
      return Run(command, output, error);
    case CommandLine::Action::kHelp:
      output.Write(HelpText());
      return kExitFinished;
    case CommandLine::Action::kVersion:
      output.Write(VersionText());
      return kExitFinished;
    case CommandLine::Action::kMistake:
    case CommandLine::Action::kWindow:
      break;
  }
  error.Write("Norvale: " + command.mistake + "\n" + UsageText());
  return kExitMistake;
}

}  // namespace norvale
