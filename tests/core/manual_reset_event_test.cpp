#include "core/manual_reset_event.h"

#include <gtest/gtest.h>

#include <thread>

namespace emberfall {
namespace {

TEST(ManualResetEventTest, StaysSetUntilReset) {
  ManualResetEvent event;
  EXPECT_FALSE(event.Wait(0));
  EXPECT_FALSE(event.Wait(20));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0));  // manual reset: still set
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
}

TEST(ManualResetEventTest, WakesAWaiterOnAnotherThread) {
  ManualResetEvent event;
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    event.Set();
  });
  EXPECT_TRUE(event.Wait(10000));
  setter.join();
}

TEST(MonotonicNanosecondsTest, NeverGoesBack) {
  std::int64_t last = MonotonicNanoseconds();
  for (int i = 0; i < 1000; ++i) {
    const std::int64_t now = MonotonicNanoseconds();
    EXPECT_GE(now, last);
    last = now;
  }
  const std::int64_t before = MonotonicNanoseconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(MonotonicNanoseconds() - before, 15'000'000);
}

}  // namespace
}  // namespace emberfall
