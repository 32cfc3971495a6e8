#include "ui/snapshot_mailbox.h"

#include <utility>

namespace emberfall {

void SnapshotMailbox::Open(Wake wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
  wakePending_ = false;
}

void SnapshotMailbox::Close() {
  Wake closing;
  std::deque<ProgressState> dropped;
  {
    std::lock_guard lock(mutex_);
    closing.swap(wake_);
    dropped.swap(waiting_);
    wakePending_ = false;
  }
  // The wake-up's captures and the snapshots are freed outside the lock.
}

void SnapshotMailbox::Post(const ProgressState& snapshot) {
  try {
    std::lock_guard lock(mutex_);
    if (!wake_) return;
    if (waiting_.size() >= kMaxWaiting) waiting_.pop_front();
    waiting_.push_back(snapshot);
    // A wake-up that could not be queued is asked for again by the next post.
    if (!wakePending_) wakePending_ = wake_();
  } catch (...) {
    // Out of memory: the snapshot is lost, the next one shows the run.
  }
}

std::deque<ProgressState> SnapshotMailbox::TakeAll() {
  std::deque<ProgressState> taken;
  std::lock_guard lock(mutex_);
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
