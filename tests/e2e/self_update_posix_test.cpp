// POSIX replaces a running executable by rename without complaint, so the
// launcher's image is swapped in place and no ".old" copy is needed.
#include "tests/e2e/self_update_fixture.h"

namespace emberfall::test {
namespace {

TEST_F(SelfUpdateTest, TheRunningLauncherIsReplacedInPlace) {
  WriteFileBytes(game_ / "launcher.exe.old", "left by an earlier update");
  EngineHarness harness(game_, ConfigUrls(), game_.Wide("launcher.exe"));
  ProgressState last = harness.RunToEnd();
  ASSERT_TRUE(last.ready) << WideToUtf8(last.errorText);
  EXPECT_TRUE(ReadFileBytes(game_ / "launcher.exe") == new_image_);
  EXPECT_FALSE(std::filesystem::exists(game_ / "launcher.exe.old"));
  EXPECT_FALSE(running_->Wait(std::chrono::milliseconds(0)).has_value());  // unaffected

  last = harness.RunToEnd();
  EXPECT_EQ(last.detailText, u"Up to date");
}

}  // namespace
}  // namespace emberfall::test
