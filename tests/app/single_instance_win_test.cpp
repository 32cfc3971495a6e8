// A second start against another launcher instance (a thread plays it), under
// Wine with a display: one whose window is gone, hidden or marked closing is
// waited for; a visible one is brought forward at once.
#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace emberfall {
namespace {

using std::chrono::milliseconds;

// Far apart from the other instance's 1 s hold, so a loaded machine does not
// blur a wait for it into a wait for the bound.
constexpr DWORD kWaitBoundMs = 4000;

// Owns the mutex and a window as asked, and serves the window (the claim
// brings a visible one forward) for |holdMs|; then releases the mutex, or
// ends holding it (abandoned).
void OtherInstance(std::wstring mutexName, std::wstring className, std::string window,
                   DWORD holdMs, bool release, HANDLE ready) {
  const win::ScopedHandle mutex(CreateMutexW(nullptr, TRUE, mutexName.c_str()));
  if (window != "none") {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className.c_str();
    RegisterClassW(&windowClass);
    const HWND shown = CreateWindowExW(0, className.c_str(), L"", WS_POPUP, 0, 0, 64, 64, nullptr,
                                       nullptr, windowClass.hInstance, nullptr);
    if (window != "hidden") ShowWindow(shown, SW_SHOW);
    if (window == "closing") SetPropW(shown, kClosingWindowProperty, HANDLE(1));
  }
  SetEvent(ready);
  for (ULONGLONG now = GetTickCount64(), stop = now + holdMs; now < stop; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(stop - now), QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  if (release) ReleaseMutex(mutex.get());
}

TEST(SingleInstanceTest, WaitsOnlyForAnInstanceThatIsClosing) {
  const struct {
    const char* window;
    DWORD holdMs;
    bool release;  // else the other instance ends holding the mutex
    bool acquired;
    milliseconds atLeast, below;
  } cases[] = {
      {"hidden", 1000, false, true, milliseconds(700), milliseconds(3800)},
      {"closing", 1000, true, true, milliseconds(700), milliseconds(3800)},
      {"none", 1000, false, true, milliseconds(700), milliseconds(3800)},
      {"visible", 1000, false, false, milliseconds(0), milliseconds(2500)},
      // The owner outlives the wait.
      {"hidden", 8000, false, false, milliseconds(kWaitBoundMs - 100),
       milliseconds(kWaitBoundMs + 3000)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.window << " window, held " << c.holdMs << " ms");
    const std::wstring suffix =
        std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(&c - cases);
    const std::wstring mutexName = L"Local\\EmbTestInstance." + suffix;
    const std::wstring className = L"EmbLauncherNative." + suffix;
    const win::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const std::jthread other(OtherInstance, mutexName, className, c.window, c.holdMs, c.release,
                             ready.get());
    ASSERT_EQ(WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0);
    const auto start = std::chrono::steady_clock::now();
    const win::ScopedHandle mutex =
        ClaimSingleInstance(mutexName.c_str(), className.c_str(), kWaitBoundMs);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(static_cast<bool>(mutex), c.acquired);
    EXPECT_GE(elapsed, c.atLeast);
    EXPECT_LT(elapsed, c.below);
  }
}

}  // namespace
}  // namespace emberfall
