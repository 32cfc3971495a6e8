#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/manual_reset_event.h"

namespace emberfall {

struct ManualResetEvent::Impl {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;
};

ManualResetEvent::ManualResetEvent() : impl_(std::make_unique<Impl>()) {}
ManualResetEvent::~ManualResetEvent() = default;

void ManualResetEvent::Set() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->signalled = true;
  impl_->changed.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->signalled = false;
}

bool ManualResetEvent::Wait(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return impl_->signalled; });
}

std::int64_t MonotonicNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace emberfall
