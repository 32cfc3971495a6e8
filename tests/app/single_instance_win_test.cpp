// A second start against another launcher process (the peer helper), under
// Wine with a display: one whose window is gone, hidden or marked closing is
// waited for; a visible one is brought forward at once.
#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using std::chrono::milliseconds;

// Far apart from the peer's 1 s hold, so a loaded machine does not blur a
// wait for the peer into a wait for the bound.
constexpr DWORD kWaitBoundMs = 4000;

TEST(SingleInstanceTest, WaitsOnlyForAnInstanceThatIsClosing) {
  const struct {
    const char* window;
    const char* holdMs;
    const char* end;  // the peer exits holding the mutex, or releases it
    bool acquired;
    milliseconds atLeast, below;
  } cases[] = {
      {"hidden", "1000", "exit", true, milliseconds(700), milliseconds(3800)},
      {"closing", "1000", "release", true, milliseconds(700), milliseconds(3800)},
      {"none", "1000", "exit", true, milliseconds(700), milliseconds(3800)},
      {"visible", "1000", "exit", false, milliseconds(0), milliseconds(2500)},
      // The owner outlives the wait.
      {"hidden", "8000", "exit", false, milliseconds(kWaitBoundMs - 100),
       milliseconds(kWaitBoundMs + 3000)},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.window << " window, held " << c.holdMs << " ms");
    const std::string suffix =
        std::to_string(GetCurrentProcessId()) + "." + std::to_string(++round);
    const std::string mutexName = "Local\\EmbTestInstance." + suffix;
    const std::string className = "EmbLauncherNative." + suffix;
    const std::wstring wideMutex(mutexName.begin(), mutexName.end());
    const std::wstring wideClass(className.begin(), className.end());
    const win::ScopedHandle ready(
        CreateEventW(nullptr, TRUE, FALSE, (wideMutex + L".ready").c_str()));
    ASSERT_TRUE(ready);
    const auto peer = test::StartProcess(
        test::BuiltProgram("emb_launcher_peer"),
        {"hold", mutexName, className, c.window, c.holdMs, c.end});
    ASSERT_NE(peer, nullptr);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0) << "the peer did not start";
    const auto start = std::chrono::steady_clock::now();
    const win::ScopedHandle mutex =
        ClaimSingleInstance(wideMutex.c_str(), wideClass.c_str(), kWaitBoundMs);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(static_cast<bool>(mutex), c.acquired);
    EXPECT_GE(elapsed, c.atLeast);
    EXPECT_LT(elapsed, c.below);
    peer->Kill();
  }
}

}  // namespace
}  // namespace emberfall
