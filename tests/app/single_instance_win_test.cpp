// A second start against another launcher process (the peer helper), under
// Wine with a display: the peer's window decides between bringing it forward
// at once and waiting for the peer to end.
#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Far apart from the peer's 1 s hold, so a loaded machine does not blur a
// wait for the peer into a wait for the bound.
constexpr DWORD kWaitBoundMs = 4000;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(SingleInstanceTest, WaitsOnlyForAnInstanceThatIsClosing) {
  struct Case {
    const char* name;
    const char* window;
    const char* holdMs;
    const char* end;
    bool acquired;
    milliseconds atLeast;
    milliseconds below;
  };
  const Case cases[] = {
      {"hidden window, owner exits", "hidden", "1000", "exit", true, milliseconds(700), milliseconds(3800)},
      {"window marked closing, owner releases", "closing", "1000", "release", true, milliseconds(700),
       milliseconds(3800)},
      {"no window, owner exits", "none", "1000", "exit", true, milliseconds(700), milliseconds(3800)},
      {"visible window", "visible", "1000", "exit", false, milliseconds(0), milliseconds(2500)},
      {"minimised window", "minimised", "1000", "exit", false, milliseconds(0), milliseconds(2500)},
      {"hidden window, owner outlives the wait", "hidden", "8000", "exit", false,
       milliseconds(kWaitBoundMs - 100), milliseconds(kWaitBoundMs + 3000)},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring suffix =
        std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(++round);
    const std::wstring mutexName = L"Local\\EmbTestInstance." + suffix;
    const std::wstring className = L"EmbLauncherNative." + suffix;
    const win::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, (mutexName + L".ready").c_str()));
    ASSERT_TRUE(ready);
    const auto peer = test::StartProcess(
        test::BuiltProgram("emb_launcher_peer"),
        {"hold", Narrow(mutexName), Narrow(className), c.window, c.holdMs, c.end});
    ASSERT_NE(peer, nullptr);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0) << "the peer did not start";

    const Clock::time_point start = Clock::now();
    const win::ScopedHandle mutex = ClaimSingleInstance(mutexName.c_str(), className.c_str(), kWaitBoundMs);
    const milliseconds elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start);

    EXPECT_EQ(static_cast<bool>(mutex), c.acquired);
    EXPECT_GE(elapsed, c.atLeast);
    EXPECT_LT(elapsed, c.below);
    if (std::string(c.window) == "minimised") {
      HWND other = FindWindowW(className.c_str(), nullptr);
      ASSERT_NE(other, nullptr);
      EXPECT_FALSE(IsIconic(other)) << "the running window was not restored";
    }
    peer->Kill();
  }
}

}  // namespace
}  // namespace emberfall
