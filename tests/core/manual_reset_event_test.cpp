#include "core/manual_reset_event.h"

#include <gtest/gtest.h>

#include <thread>

namespace emberfall {
namespace {

TEST(ManualResetEventTest, StaysSetUntilResetAndWakesAnotherThread) {
  ManualResetEvent event;
  EXPECT_FALSE(event.Wait(20));
  event.Set();
  EXPECT_TRUE(event.Wait(0) && event.Wait(0));
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
  const std::int64_t before = MonotonicNanoseconds();
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    event.Set();
  });
  EXPECT_TRUE(event.Wait(10000));
  setter.join();
  EXPECT_GE(MonotonicNanoseconds() - before, 25'000'000);
}

}  // namespace
}  // namespace emberfall
