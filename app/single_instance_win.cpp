#include "app/single_instance.h"

namespace emberfall {
namespace {

// Minimised counts as visible: the player parked the launcher on the task
// bar, and a second start should bring it back.
bool IsLiveWindow(HWND window) {
  return window != nullptr && IsWindowVisible(window) &&
         GetPropW(window, kClosingWindowProperty) == nullptr;
}

void BringForward(HWND window) {
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
}

}  // namespace

win::ScopedHandle ClaimSingleInstance(const wchar_t* mutexName, const wchar_t* windowClass,
                                      DWORD closingWaitMs) {
  win::ScopedHandle mutex(CreateMutexW(nullptr, TRUE, mutexName));
  const DWORD error = GetLastError();
  if (!mutex) return {};
  if (error != ERROR_ALREADY_EXISTS) return mutex;

  HWND other = FindWindowW(windowClass, nullptr);
  if (IsLiveWindow(other)) {
    BringForward(other);
    return {};
  }
  // The other instance is shutting down (or has not shown its window yet);
  // answering "already running" now would lose the player's start. An
  // abandoned mutex is as good as a released one: the owner is gone.
  const DWORD wait = WaitForSingleObject(mutex.get(), closingWaitMs);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) return mutex;
  other = FindWindowW(windowClass, nullptr);
  if (IsLiveWindow(other)) BringForward(other);
  return {};
}

}  // namespace emberfall
