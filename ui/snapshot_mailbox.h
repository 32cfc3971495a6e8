// Carries the patch worker's progress snapshots to the UI thread. The worker
// queues a copy and wakes the window only when the box was empty; the window
// takes everything at once. Snapshots never travel inside window messages, so
// a wake-up the system drops (the window destroyed, its queue full) frees
// nothing twice and leaks nothing.
#ifndef EMBERFALL_UI_SNAPSHOT_MAILBOX_H_
#define EMBERFALL_UI_SNAPSHOT_MAILBOX_H_

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/patch_engine.h"

namespace emberfall {

class SnapshotMailbox {
 public:
  // Asks the UI thread to call TakeAll; true when the request was queued.
  // Called with the box's lock held, so it must not call back into the box.
  using Wake = std::function<bool()>;

  // At most this many snapshots wait; beyond it the oldest go, as each
  // snapshot describes the whole run and the newest supersedes them.
  static constexpr std::size_t kMaxWaiting = 256;

  // Posts are kept from here on. Any thread.
  void Open(Wake wake);
  // Posts are refused from here on and the waiting ones dropped, in one step,
  // so no snapshot arrives after it. Any thread; idempotent.
  void Close();
  // Worker thread: keeps a copy while the box is open, and wakes the UI
  // thread unless a wake-up is already on its way.
  void Post(const ProgressState& snapshot);
  // UI thread: the waiting snapshots, oldest first.
  std::deque<ProgressState> TakeAll();
  bool HasWaiting() const;

 private:
  mutable std::mutex mutex_;
  Wake wake_;  // empty while closed
  std::deque<ProgressState> waiting_;
  bool wakePending_ = false;
};

// The engine's progress callback. It holds its own reference to |box|, so a
// worker that reports while its window is being torn down finds the box
// (closed) and never a destroyed member of the window.
std::function<void(const ProgressState&)> PostTo(std::shared_ptr<SnapshotMailbox> box);

}  // namespace emberfall

#endif  // EMBERFALL_UI_SNAPSHOT_MAILBOX_H_
