// Carries a run's progress snapshots from the threads that report them to
// the one thread that shows them: the launcher's window or embpatch's
// display. Reporters queue a copy; the reader takes everything at once,
// either when woken (the window: a wake-up message) or by waiting on the box
// (embpatch). Snapshots never travel inside window messages, so a wake-up the
// system drops (the window destroyed, its queue full) frees nothing twice
// and leaks nothing.
#ifndef EMBERFALL_ENGINE_SNAPSHOT_MAILBOX_H_
#define EMBERFALL_ENGINE_SNAPSHOT_MAILBOX_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/progress_state.h"

namespace emberfall {

// True when |a| and |b| show the same step of a run: the same stage, status
// and file; only their counts and percentages may differ.
bool SameStep(const ProgressState& a, const ProgressState& b);

class SnapshotMailbox {
 public:
  // Asks the reading thread to call TakeAll; true when the request was
  // queued. Called with the box's lock held, so it must not call back into
  // the box.
  using Wake = std::function<bool()>;

  // At most this many snapshots wait by default; beyond it the oldest go, as
  // each snapshot describes the whole run and the newest supersedes them.
  static constexpr std::size_t kMaxWaiting = 256;

  struct Options {
    std::size_t maxWaiting = kMaxWaiting;
    // A snapshot of the same step as the newest waiting one replaces it, so
    // that a reader that falls behind still sees every step, once.
    bool coalesceSteps = false;
  };

  SnapshotMailbox() = default;
  explicit SnapshotMailbox(Options options) : options_(options) {}

  // Posts are kept from here on; |wake|, when given, is asked for a wake-up
  // whenever a post finds no wake-up on its way. Any thread.
  void Open(Wake wake = {});
  // Posts are refused from here on and the waiting ones dropped, in one step,
  // so no snapshot arrives after it. Any thread; idempotent.
  void Close();
  // Any reporting thread (see ProgressReporter::Callback): keeps a copy while
  // the box is open. Never throws; out of memory, the snapshot is lost.
  void Post(const ProgressState& snapshot);
  // Reading thread: the waiting snapshots, oldest first.
  std::deque<ProgressState> TakeAll();
  // Reading thread: waits up to |timeout| for a snapshot, then takes them all.
  std::deque<ProgressState> WaitAndTakeAll(std::chrono::milliseconds timeout);
  bool HasWaiting() const;

 private:
  const Options options_;
  mutable std::mutex mutex_;
  std::condition_variable posted_;
  bool open_ = false;
  Wake wake_;
  std::deque<ProgressState> waiting_;
  bool wakePending_ = false;
};

// The engine's progress callback. It holds its own reference to |box|, so a
// worker that reports while the box's reader is being torn down finds the
// box (closed) and never a destroyed member of the reader.
std::function<void(const ProgressState&)> PostTo(std::shared_ptr<SnapshotMailbox> box);

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_SNAPSHOT_MAILBOX_H_
