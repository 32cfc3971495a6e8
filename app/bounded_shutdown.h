// The launcher's shutdown under one deadline: the patch worker's stop and the
// release of the COM objects share a single time budget, and when it runs
// out the process is ended at once.
#ifndef EMBERFALL_APP_BOUNDED_SHUTDOWN_H_
#define EMBERFALL_APP_BOUNDED_SHUTDOWN_H_

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace emberfall {

class BoundedShutdown {
 public:
  using Clock = std::chrono::steady_clock;

  // Takes the deadline, now + |budget|, and arms a watchdog thread that
  // calls |endNow| when the deadline passes unless this object is destroyed
  // first (see KeepArmedPastExit). |endNow| ends the process at once in the
  // launcher; it must be safe to call from any thread.
  BoundedShutdown(std::chrono::milliseconds budget, std::function<void()> endNow);
  // Disarms and joins the watchdog, unless KeepArmedPastExit was called.
  ~BoundedShutdown();
  BoundedShutdown(const BoundedShutdown&) = delete;
  BoundedShutdown& operator=(const BoundedShutdown&) = delete;

  // Leaves the watchdog armed until the process ends, so that it also bounds
  // what runs after the entry function returns.
  void KeepArmedPastExit();

  // The time left until the deadline; zero once it has passed.
  std::chrono::milliseconds Remaining() const;

  // Calls |stopWorker| with Remaining(); it waits at most that long and
  // answers whether the worker ended. If it did not, calls |endNow| at once
  // and answers false without |teardown|. Otherwise calls |teardown|, which
  // the watchdog bounds, and answers true.
  bool Run(const std::function<bool(std::chrono::milliseconds)>& stopWorker,
           const std::function<void()>& teardown);

 private:
  struct Watch;

  Clock::time_point deadline_;
  std::function<void()> endNow_;
  std::shared_ptr<Watch> watch_;
  std::thread watchdog_;
};

}  // namespace emberfall

#endif  // EMBERFALL_APP_BOUNDED_SHUTDOWN_H_
