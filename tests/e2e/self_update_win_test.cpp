// Windows will not replace a running executable; the launcher moves its
// own image aside to ".old" and puts the new one in its place.
#include "tests/e2e/self_update_fixture.h"

namespace emberfall::test {
namespace {

TEST_F(SelfUpdateTest, TheRunningLauncherIsReplacedThroughOld) {
  EngineHarness harness(game_, ConfigUrls(), game_.Wide("launcher.exe"));
  ProgressState last = harness.RunToEnd();
  ASSERT_TRUE(last.ready) << WideToUtf8(last.errorText);
  EXPECT_TRUE(ReadFileBytes(game_ / "launcher.exe") == new_image_);
  ASSERT_TRUE(std::filesystem::exists(game_ / "launcher.exe.old"));
  EXPECT_TRUE(ReadFileBytes(game_ / "launcher.exe.old") == old_image_);
  EXPECT_FALSE(running_->Wait(std::chrono::milliseconds(0)).has_value());  // still running

  running_->Kill();
  last = harness.RunToEnd();
  EXPECT_EQ(last.detailText, u"Up to date");
  EXPECT_FALSE(std::filesystem::exists(game_ / "launcher.exe.old"));
}

}  // namespace
}  // namespace emberfall::test
