#include "engine/snapshot_mailbox.h"

#include <utility>

namespace emberfall {

bool SameStep(const ProgressState& a, const ProgressState& b) {
  return a.stage == b.stage && a.statusText == b.statusText && a.noteText == b.noteText;
}

void SnapshotMailbox::Open(Wake wake) {
  std::lock_guard lock(mutex_);
  open_ = true;
  wake_ = std::move(wake);
  wakePending_ = false;
}

void SnapshotMailbox::Close() {
  Wake closing;
  std::deque<ProgressState> dropped;
  {
    std::lock_guard lock(mutex_);
    open_ = false;
    closing.swap(wake_);
    dropped.swap(waiting_);
    wakePending_ = false;
  }
  // The wake-up's captures and the snapshots are freed outside the lock.
}

void SnapshotMailbox::Post(const ProgressState& snapshot) {
  try {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    if (options_.coalesceSteps && !waiting_.empty() && SameStep(waiting_.back(), snapshot)) {
      waiting_.back() = snapshot;
    } else {
      if (waiting_.size() >= options_.maxWaiting) waiting_.pop_front();
      waiting_.push_back(snapshot);
    }
    // A wake-up that could not be queued is asked for again by the next post.
    if (wake_ && !wakePending_) wakePending_ = wake_();
    posted_.notify_all();
  } catch (...) {
    // Out of memory: the snapshot is lost, the next one shows the run.
  }
}

std::deque<ProgressState> SnapshotMailbox::TakeAll() {
  return WaitAndTakeAll(std::chrono::milliseconds(0));
}

std::deque<ProgressState> SnapshotMailbox::WaitAndTakeAll(std::chrono::milliseconds timeout) {
  std::deque<ProgressState> taken;
  std::unique_lock lock(mutex_);
  if (timeout.count() > 0) posted_.wait_for(lock, timeout, [this] { return !waiting_.empty(); });
  wakePending_ = false;
  taken.swap(waiting_);
  return taken;
}

bool SnapshotMailbox::HasWaiting() const {
  std::lock_guard lock(mutex_);
  return !waiting_.empty();
}

std::function<void(const ProgressState&)> PostTo(std::shared_ptr<SnapshotMailbox> box) {
  return [box = std::move(box)](const ProgressState& snapshot) { box->Post(snapshot); };
}

}  // namespace emberfall
