#include "run/background_run.h"

#include <utility>

namespace norvale {

BackgroundRun::BackgroundRun(std::filesystem::path source,
                             std::filesystem::path destination,
                             std::function<void()> ended,
                             std::chrono::milliseconds show_after)
    : start_(std::chrono::steady_clock::now()), show_after_(show_after) {
  thread_ = std::thread([this, source = std::move(source),
                         destination = std::move(destination),
                         ended = std::move(ended)] {
    CompressionRun run(source, destination, &observer_);
    outcome_ = RunAndReport(run);
    ended_ = true;
    if (ended) ended();
  });
}

BackgroundRun::~BackgroundRun() { thread_.join(); }

std::optional<BackgroundRun::View> BackgroundRun::Now() const {
  if (ended_ || std::chrono::steady_clock::now() - start_ < show_after_) {
    return std::nullopt;
  }
  const size_t first = first_, second = second_;
  switch (stage_) {
    case kFlushing:
      return FlushingView();
    case kCompressing:
      if (!cancelled_) return CompressingView(first, second);
      break;
    default:
      if (!cancelled_) return SearchingView(first, second);
  }
  // The run stops at its next shortcut, which a disk that does not answer
  // can keep waiting for.
  return View{"Stopping once the disk answers...", 0, 0, false};
}

void BackgroundRun::Cancel() {
  if (stage_ != kFlushing) cancelled_ = true;
}

bool BackgroundRun::Observer::Searching(size_t looked_at, size_t found) {
  owner_.first_.store(looked_at, std::memory_order_relaxed);
  owner_.second_.store(found, std::memory_order_relaxed);
  return !owner_.cancelled_;
}

bool BackgroundRun::Observer::Compressing(size_t done, size_t total) {
  owner_.stage_.store(kCompressing, std::memory_order_relaxed);
  owner_.first_.store(done, std::memory_order_relaxed);
  owner_.second_.store(total, std::memory_order_relaxed);
  return !owner_.cancelled_;
}

void BackgroundRun::Observer::Flushing() { owner_.stage_ = kFlushing; }

}  // namespace norvale
