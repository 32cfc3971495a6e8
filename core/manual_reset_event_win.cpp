#include "core/manual_reset_event.h"
#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"

namespace emberfall {

struct ManualResetEvent::Impl {
  win::ScopedHandle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

ManualResetEvent::ManualResetEvent() : impl_(std::make_unique<Impl>()) {}
ManualResetEvent::~ManualResetEvent() = default;

void ManualResetEvent::Set() { SetEvent(impl_->event.get()); }

void ManualResetEvent::Reset() { ResetEvent(impl_->event.get()); }

bool ManualResetEvent::Wait(std::uint32_t timeoutMs) {
  return WaitForSingleObject(impl_->event.get(), timeoutMs) == WAIT_OBJECT_0;
}

std::int64_t MonotonicNanoseconds() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  // Split to avoid overflowing counter * 1e9 on long uptimes.
  const LONGLONG seconds = counter.QuadPart / frequency;
  const LONGLONG rest = counter.QuadPart % frequency;
  return seconds * 1000000000LL + rest * 1000000000LL / frequency;
}

}  // namespace emberfall
