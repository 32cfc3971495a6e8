// PatchEngine::LaunchGame: the engine's game folder and run path, its
// report sink, and launchError.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/localization.h"
#include "core/fs_path.h"
#include "core/patch_engine.h"
#include "tests/app/launch_test_util.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(EngineLaunchGameTest, MissingEntryThenStartedGame) {
  test::TempDir dir;
  LauncherPaths paths;
  paths.exePath = dir.Wide("launcher.exe");
  paths.exeFolder = dir.Wide();
  paths.gameFolder = dir.Wide();
  std::vector<std::u16string> reports;
  PatchEngineOptions options;
  options.reportError = [&reports](const std::u16string& message, const std::u16string& context) {
    reports.push_back(message + u" @ " + context);
  };
  PatchEngine engine(paths, LoadUiStrings(Language::English), {}, options);

  // Before any run the entry is the default "emb.bin".
  EXPECT_EQ(engine.LaunchGame(), 1);
  EXPECT_EQ(engine.launchError(), 0u);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], u"Game binary missing: emb.bin @ LaunchGame");

  test::InstallTestGame(dir.path() / "emb.bin");
  EXPECT_EQ(engine.LaunchGame(), 0);
  EXPECT_EQ(reports.size(), 1u);
  EXPECT_TRUE(test::WaitForGameMarker(dir.path()).has_value());
}

}  // namespace
}  // namespace emberfall
