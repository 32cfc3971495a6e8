#include "app/bounded_shutdown.h"

#include <condition_variable>
#include <mutex>
#include <utility>

namespace emberfall {

// Shared with the watchdog thread, which may outlive the object.
struct BoundedShutdown::Watch {
  std::mutex mutex;
  std::condition_variable disarmed_changed;
  bool disarmed = false;
};

BoundedShutdown::BoundedShutdown(std::chrono::milliseconds budget, std::function<void()> endNow)
    : deadline_(Clock::now() + budget),
      endNow_(std::move(endNow)),
      watch_(std::make_shared<Watch>()) {
  watchdog_ = std::thread([watch = watch_, deadline = deadline_, endNow = endNow_] {
    std::unique_lock lock(watch->mutex);
    if (watch->disarmed_changed.wait_until(lock, deadline, [&] { return watch->disarmed; })) return;
    lock.unlock();
    endNow();
  });
}

BoundedShutdown::~BoundedShutdown() {
  if (!watchdog_.joinable()) return;
  {
    std::lock_guard lock(watch_->mutex);
    watch_->disarmed = true;
  }
  watch_->disarmed_changed.notify_all();
  watchdog_.join();
}

void BoundedShutdown::KeepArmedPastExit() {
  if (watchdog_.joinable()) watchdog_.detach();
}

std::chrono::milliseconds BoundedShutdown::Remaining() const {
  const Clock::duration left = deadline_ - Clock::now();
  if (left <= Clock::duration::zero()) return std::chrono::milliseconds::zero();
  return std::chrono::ceil<std::chrono::milliseconds>(left);
}

bool BoundedShutdown::Run(const std::function<bool(std::chrono::milliseconds)>& stopWorker,
                          const std::function<void()>& teardown) {
  if (!stopWorker(Remaining())) {
    endNow_();
    return false;
  }
  teardown();
  return true;
}

}  // namespace emberfall
