#include "app/relaunch_marker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// One marker per executable path, held only while the parent waits. Any
// waitable handle stands for the copy's process: signalled once it ended.
TEST(RelaunchMarkerTest, OneMarkerPerExecutableAnsweredOrEnded) {
  const std::wstring folder = L"\\EmbTest\\" + std::to_wstring(GetCurrentProcessId());
  const std::wstring path = L"C:" + folder + L"\\launcher.exe";
  EXPECT_EQ(RelaunchMarkerName(path).rfind(L"Local\\EmbLauncherRelaunch.", 0), 0u);
  EXPECT_FALSE(RelaunchMarker::Open(path));
  {
    const RelaunchMarker parent = RelaunchMarker::Create(path);
    ASSERT_TRUE(parent);
    EXPECT_FALSE(RelaunchMarker::Open(L"D:" + folder + L"\\launcher.exe"));
    const win::ScopedHandle running(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const win::ScopedHandle ended(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    EXPECT_FALSE(parent.WaitForAnswer(running.get(), 100));
    EXPECT_FALSE(parent.WaitForAnswer(ended.get(), 10000)) << "a copy that ended has not answered";
    const RelaunchMarker copy = RelaunchMarker::Open(L"c:" + folder + L"\\LAUNCHER.EXE");
    EXPECT_TRUE(copy);
    copy.Answer();
    EXPECT_TRUE(parent.WaitForAnswer(running.get(), 10000));
    EXPECT_TRUE(parent.WaitForAnswer(ended.get(), 10000));
  }
  EXPECT_FALSE(RelaunchMarker::Open(path));
}

}  // namespace
}  // namespace emberfall
