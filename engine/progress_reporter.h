// A run's snapshot and its publication. Every change of the snapshot is made
// under the reporter's lock; a publication copies it under that lock and
// hands the copy to the callback after releasing it.
#ifndef EMBERFALL_ENGINE_PROGRESS_REPORTER_H_
#define EMBERFALL_ENGINE_PROGRESS_REPORTER_H_

#include <cstdint>
#include <functional>
#include <mutex>

#include "engine/progress_state.h"

namespace emberfall {

class ProgressReporter {
 public:
  // Called with each published copy. Threading: any thread of a run calls it
  // (the worker, or a helper thread of the downloads or the verification),
  // never two at once, and in the order the copies were taken: publications
  // are serialized by a lock of the reporter's own, which is the only lock
  // held while the callback runs (no lock of the snapshot or of the engine).
  // It must return quickly and must not call into the engine or the reporter.
  using Callback = std::function<void(const ProgressState&)>;
  // Monotonic nanoseconds.
  using Clock = std::function<std::int64_t()>;

  // |callback| may be empty; |now| must not be.
  ProgressReporter(Callback callback, Clock now);

  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;

  // Starts a run's snapshot from |state|; nothing is published. Only while no
  // run uses the reporter.
  void Reset(ProgressState state);

  // Runs |change| on the snapshot under the lock. |change| must not call
  // into the reporter.
  template <typename Change>
  void Update(Change&& change) {
    std::lock_guard<std::mutex> guard(mutex_);
    change(state_);
  }

  // Publishes the snapshot now.
  void Publish();
  // Publishes only when at least 200 ms have passed since the last
  // publication.
  void PublishThrottled();

  // A copy of the snapshot.
  ProgressState Snapshot() const;

 private:
  static constexpr std::int64_t kThrottleNs = 200'000'000;

  Callback callback_;
  Clock now_;
  std::mutex publishing_;  // one publication at a time, taken before mutex_
  mutable std::mutex mutex_;
  ProgressState state_;
  std::int64_t lastPublished_ = 0;
};

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_PROGRESS_REPORTER_H_
