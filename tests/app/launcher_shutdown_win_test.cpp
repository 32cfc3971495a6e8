// Under Wine, against real processes (the peer helper plays the other
// launcher process).
#include "app/launcher_shutdown.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "core/fs_path.h"
#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// Gone by the end of the budget with the loop's exit code; when it ran out,
// by TerminateProcess: DLL detach code could wait for ever on a lock a killed
// worker held. The detach probe DLL tells.
TEST(LauncherShutdownTest, TheProcessIsGoneByTheEndOfTheBudget) {
  constexpr milliseconds kBudget(1500);
  const struct {
    const char* mode;
    const char* workerMs;
    milliseconds endsAfter;
    bool detachRuns;
  } cases[] = {
      {"stuck", "0", kBudget, false},  // the worker never ends
      {"stall", "1000", kBudget, false},  // a slow worker, then a teardown that never returns
      {"orderly", "100", milliseconds(100), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const test::TempDir folder;
    const test::ScopedEnvironmentVariable marker("EMB_DETACH_MARKER",
                                                 Utf8Path(folder / "detached"));
    const std::string event = "Local\\EmbTestShutdown." + std::to_string(GetCurrentProcessId()) +
                              "." + c.mode;  // a new one per case, unset
    const win::ScopedHandle started(CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
    ASSERT_TRUE(started);
    const auto peer = test::StartProcess(test::BuiltProgram("emb_launcher_peer"),
                                         {"shutdown", c.mode, "1500", c.workerMs, event});
    ASSERT_NE(peer, nullptr);
    ASSERT_EQ(WaitForSingleObject(started.get(), 20000), WAIT_OBJECT_0) << "the peer did not start";
    const auto start = std::chrono::steady_clock::now();
    const std::optional<int> exitCode = peer->Wait(milliseconds(10000));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (!exitCode) peer->Kill();
    ASSERT_TRUE(exitCode.has_value()) << "the process outlived its shutdown";
    EXPECT_EQ(*exitCode, 7);
    EXPECT_GE(elapsed, c.endsAfter - milliseconds(100));
    EXPECT_LT(elapsed, c.endsAfter + milliseconds(800));
    EXPECT_EQ(std::filesystem::exists(folder / "detached"), c.detachRuns);
  }
}

}  // namespace
}  // namespace emberfall
