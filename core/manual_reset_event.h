// A manual-reset event: once set it stays set, releasing every waiter, until
// reset. Lets the UI thread wait for the patch worker with a time-out, which
// joining a thread cannot do.
#ifndef EMBERFALL_CORE_MANUAL_RESET_EVENT_H_
#define EMBERFALL_CORE_MANUAL_RESET_EVENT_H_

#include <cstdint>
#include <memory>

namespace emberfall {

class ManualResetEvent {
 public:
  // Created not signalled.
  ManualResetEvent();
  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  // True if the event is or becomes signalled within |timeoutMs|.
  bool Wait(std::uint32_t timeoutMs);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The platform's high-resolution monotonic counter in nanoseconds.
std::int64_t MonotonicNanoseconds();

}  // namespace emberfall

#endif  // EMBERFALL_CORE_MANUAL_RESET_EVENT_H_
