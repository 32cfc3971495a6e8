#include "app/game_launch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fs_path.h"
#include "core/text.h"
#include "tests/app/launch_test_util.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

struct Report {
  std::u16string message;
  std::u16string context;
};

class GameLaunchTest : public ::testing::Test {
 protected:
  ErrorReportSink Sink() {
    return [this](const std::u16string& message, const std::u16string& context) {
      reports_.push_back({message, context});
    };
  }
  test::TempDir dir_;
  std::vector<Report> reports_;
};

TEST_F(GameLaunchTest, StartsTheEntryInTheGameFolder) {
  const auto game = dir_ / "Game Folder";
  test::InstallTestGame(game / "bin" / "emb game.exe");
  std::uint32_t launchError = 77;
  EXPECT_EQ(LaunchGameIn(WidePath(game), u"bin/emb game.exe", Sink(), &launchError),
            kLaunchStarted);
  EXPECT_EQ(launchError, 0u);
  EXPECT_TRUE(reports_.empty());
  // The working folder is the game folder, not the executable's, and the
  // game gets no arguments.
  const auto marker = test::WaitForGameMarker(game);
  ASSERT_TRUE(marker.has_value());
  EXPECT_NE(marker->find("Game Folder"), std::string::npos) << *marker;
  EXPECT_NE(marker->find("\n0\n"), std::string::npos) << *marker;
}

TEST_F(GameLaunchTest, MissingEntryIsReportedWithTheRelativePath) {
  std::filesystem::create_directories(dir_ / "emb.bin");  // a folder is not an entry file
  struct Case {
    const char* name;
    std::u16string runPath;
  } cases[] = {{"absent", u"game/emb.exe"}, {"a folder", u"emb.bin"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reports_.clear();
    std::uint32_t launchError = 77;
    EXPECT_EQ(LaunchGameIn(dir_.Wide(), c.runPath, Sink(), &launchError), kLaunchEntryMissing);
    EXPECT_EQ(launchError, 0u);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].message, u"Game binary missing: " + c.runPath);
    EXPECT_EQ(reports_[0].context, u"LaunchGame");
  }
}

TEST_F(GameLaunchTest, FailedStartReportsPathAndError) {
  test::WriteFileBytes(dir_ / "emb.bin", "not a program");
  std::vector<std::u16string> lines;
  const ProcessStarter refuse = [&lines](const std::u16string& line, const std::u16string&,
                                         std::uint32_t* error) {
    lines.push_back(line);
    *error = kErrorFileNotFound;
    return false;
  };
  std::uint32_t launchError = 0;
  EXPECT_EQ(LaunchGameIn(dir_.Wide(), u"emb.bin", Sink(), &launchError, refuse), kLaunchFailed);
  EXPECT_EQ(launchError, kErrorFileNotFound);
  EXPECT_EQ(lines.size(), 2u);
  ASSERT_EQ(reports_.size(), 1u);
  const std::u16string gamePath = WidePath(dir_.path() / "emb.bin");
  EXPECT_EQ(reports_[0].message, u"Launch failed: " + gamePath + u" | err=2");
  EXPECT_EQ(reports_[0].context, u"LaunchGame");
}

}  // namespace
}  // namespace emberfall
