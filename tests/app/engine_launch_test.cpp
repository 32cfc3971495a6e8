// PatchEngine::LaunchGame: the engine's game folder and run path (emb.bin
// before any run), its report sink, and launchError.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/localization.h"
#include "core/patch_engine.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(EngineLaunchGameTest, MissingEntryThenStartedGame) {
  const test::TempDir dir;
  std::u16string reports;
  PatchEngineOptions options;
  options.reportError = [&reports](const std::u16string& message, const std::u16string& context) {
    reports += message + u" @ " + context + u"\n";
  };
  PatchEngine engine({dir.Wide("launcher.exe"), dir.Wide(), dir.Wide()},
                     LoadUiStrings(Language::English), {}, options);
  EXPECT_EQ(engine.LaunchGame(), 1);
  EXPECT_EQ(engine.launchError(), 0u);
  std::filesystem::copy_file(test::BuiltProgram("emb_test_game"), dir / "emb.bin");
  std::filesystem::permissions(dir / "emb.bin", std::filesystem::perms::owner_all);
  EXPECT_EQ(engine.LaunchGame(), 0);
  EXPECT_EQ(reports, u"Game binary missing: emb.bin @ LaunchGame\n");
  // Started without arguments: the stand-in game says so in its marker.
  for (int i = 0; i < 400 && !std::filesystem::exists(dir / "game_started.txt"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(test::ReadFileBytes(dir / "game_started.txt").ends_with("\n0\n"));
}

}  // namespace
}  // namespace emberfall
