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

// Stops the run at Ctrl+C on every call, whether or not progress is shown,
// and passes the calls on to `progress` when there is one. With `verbose`,
// prints each copy created, replaced or removed on `output`, one to a line.
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
                                                        : "- ";
#ifdef _WIN32
    verbose_->Write(mark + relative.u8string() + "\n");
#else
    verbose_->Write(mark + relative.native() + "\n");
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
  return run.cancelled() ? kExitInterrupted : kExitFinished;
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
