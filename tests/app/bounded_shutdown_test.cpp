// The shutdown budget with real time, scaled down: the worker's stop and the
// teardown share one deadline, and the process end comes at the latest then.
#include "app/bounded_shutdown.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

namespace emberfall {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kBudget(600);
// From the deadline's start (the message loop's end) to the worker's stop.
constexpr milliseconds kBeforeStop(100);

TEST(BoundedShutdownTest, WorkerAndTeardownShareOneDeadline) {
  struct Case {
    const char* name;
    milliseconds workerTakes;  // the worker ends after this, if within its wait
    milliseconds teardownTakes;
    bool orderly;              // Run's answer
    bool tornDown;
    std::optional<milliseconds> endAbout;  // when the process is ended, if it is
  };
  const Case cases[] = {
      {"quick worker, quick teardown", milliseconds(50), milliseconds(50), true, true, std::nullopt},
      {"stuck worker: ended when its wait runs out", milliseconds(5000), milliseconds(0), false, false,
       kBudget},
      {"slow worker, stalling teardown: ended at the deadline", milliseconds(300), milliseconds(1500), true,
       true, kBudget},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Clock::time_point start = Clock::now();
    std::atomic<long long> endedAtMs{-1};
    std::optional<milliseconds> workerGiven;
    bool tornDown = false;
    bool orderly = false;
    {
      BoundedShutdown shutdown(kBudget, [&] {
        long long unset = -1;
        endedAtMs.compare_exchange_strong(
            unset, std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
      });
      std::this_thread::sleep_for(kBeforeStop);
      orderly = shutdown.Run(
          [&](milliseconds left) {
            workerGiven = left;
            std::this_thread::sleep_for(std::min(left, c.workerTakes));
            return c.workerTakes <= left;
          },
          [&] {
            tornDown = true;
            std::this_thread::sleep_for(c.teardownTakes);
          });
    }
    EXPECT_EQ(orderly, c.orderly);
    EXPECT_EQ(tornDown, c.tornDown);
    ASSERT_TRUE(workerGiven.has_value());
    EXPECT_LE(*workerGiven, kBudget - kBeforeStop);
    EXPECT_GT(*workerGiven, kBudget - kBeforeStop - milliseconds(200));
    if (c.endAbout) {
      ASSERT_GE(endedAtMs.load(), 0) << "the process was not ended";
      EXPECT_GE(endedAtMs.load(), c.endAbout->count() - 20);
      EXPECT_LE(endedAtMs.load(), c.endAbout->count() + 300);
    } else {
      EXPECT_EQ(endedAtMs.load(), -1) << "the process was ended during an orderly shutdown";
    }
  }
}

TEST(BoundedShutdownTest, RemainingCountsDownToZero) {
  BoundedShutdown shutdown(milliseconds(300), [] {});
  EXPECT_LE(shutdown.Remaining(), milliseconds(300));
  EXPECT_GT(shutdown.Remaining(), milliseconds(200));
  std::this_thread::sleep_for(milliseconds(350));
  EXPECT_EQ(shutdown.Remaining(), milliseconds(0));
}

}  // namespace
}  // namespace emberfall
