#include "engine/progress_reporter.h"

#include <utility>

namespace emberfall {

ProgressReporter::ProgressReporter(Callback callback, Clock now)
    : callback_(std::move(callback)), now_(std::move(now)) {}

void ProgressReporter::Reset(ProgressState state) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_ = std::move(state);
  lastPublished_ = 0;
}

void ProgressReporter::Publish() {
  std::lock_guard<std::mutex> publishing(publishing_);
  ProgressState copy;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    lastPublished_ = now_();
    copy = state_;
  }
  if (callback_) callback_(copy);
}

void ProgressReporter::PublishThrottled() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (now_() - lastPublished_ < kThrottleNs) return;
  }
  Publish();
}

ProgressState ProgressReporter::Snapshot() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_;
}

}  // namespace emberfall
