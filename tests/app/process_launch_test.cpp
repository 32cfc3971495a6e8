#include "app/process_launch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/fs_path.h"
#include "tests/app/launch_test_util.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

struct Attempt {
  std::u16string commandLine;
  std::u16string folder;
};

// Records each attempt and answers from a script of (success, error) pairs.
class ScriptedStarter {
 public:
  explicit ScriptedStarter(std::vector<std::pair<bool, std::uint32_t>> answers)
      : answers_(std::move(answers)) {}
  ProcessStarter AsStarter() {
    return [this](const std::u16string& line, const std::u16string& folder, std::uint32_t* error) {
      attempts_.push_back({line, folder});
      const auto [ok, code] = answers_.at(attempts_.size() - 1);
      if (!ok && error != nullptr) *error = code;
      return ok;
    };
  }
  const std::vector<Attempt>& attempts() const { return attempts_; }

 private:
  std::vector<std::pair<bool, std::uint32_t>> answers_;
  std::vector<Attempt> attempts_;
};

class StartGameProcessTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(StartGameProcessTest, QuotedAttemptFirstThenBarePath) {
  const std::u16string exe = dir_.Wide("game dir/emb.bin");
  const std::u16string folder = dir_.Wide("game dir");
  const std::u16string absExe = WidePath(std::filesystem::absolute(FsPath(exe)));
  const std::u16string absFolder = WidePath(std::filesystem::absolute(FsPath(folder)));
  struct Case {
    const char* name;
    std::vector<std::pair<bool, std::uint32_t>> answers;
    bool expected;
    std::size_t attempts;
    std::uint32_t error;
  } cases[] = {
      {"quoted form accepted", {{true, 0}}, true, 1, 0},
      {"bare form accepted", {{false, 2}, {true, 0}}, true, 2, 2},
      {"both refused: error of the last", {{false, 2}, {false, 5}}, false, 2, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedStarter starter(c.answers);
    std::uint32_t error = 12345;
    EXPECT_EQ(StartGameProcess(exe, folder, &error, starter.AsStarter()), c.expected);
    ASSERT_EQ(starter.attempts().size(), c.attempts);
    EXPECT_EQ(starter.attempts()[0].commandLine, u"\"" + absExe + u"\"");
    EXPECT_EQ(starter.attempts()[0].folder, absFolder);
    if (c.attempts > 1) {
      EXPECT_EQ(starter.attempts()[1].commandLine, absExe);
    }
    EXPECT_EQ(error, c.error);
  }
}

TEST_F(StartGameProcessTest, RelativePathsResolveAgainstTheCurrentFolder) {
  ScriptedStarter starter({{true, 0}});
  const std::u16string cwd = WidePath(std::filesystem::current_path());
  EXPECT_TRUE(StartGameProcess(u"emb.bin", u".", nullptr, starter.AsStarter()));
  ASSERT_EQ(starter.attempts().size(), 1u);
  const std::u16string& line = starter.attempts()[0].commandLine;
  EXPECT_EQ(line.front(), u'"');
  EXPECT_EQ(line.substr(1, cwd.size()), cwd);
}

TEST_F(StartGameProcessTest, EmptyPathStartsNothing) {
  ScriptedStarter starter({});
  std::uint32_t error = 0;
  EXPECT_FALSE(StartGameProcess(u"", dir_.Wide(), &error, starter.AsStarter()));
  EXPECT_EQ(error, kErrorBadPathname);
  EXPECT_TRUE(starter.attempts().empty());
}

// When the game does not start, its path read up to the first space
// ("<dir>/Ember") must not start a program planted beside the game folder.
TEST_F(StartGameProcessTest, NeverStartsAProgramNamedByThePathUpToASpace) {
  const auto folder = dir_ / "Ember Fall";
  std::filesystem::create_directories(folder);
  test::WriteFileBytes(folder / "emb.bin", "not a program");
  std::filesystem::permissions(folder / "emb.bin", std::filesystem::perms::owner_all);
  for (const char* planted : {"Ember", "Ember.exe"}) test::InstallTestGame(dir_ / planted);
  std::uint32_t error = 0;
  EXPECT_FALSE(StartGameProcess(WidePath(folder / "emb.bin"), WidePath(folder), &error));
  EXPECT_NE(error, 0u);
}

TEST_F(StartGameProcessTest, MissingProgramFailsWithFileNotFound) {
  std::uint32_t error = 0;
  EXPECT_FALSE(StartGameProcess(dir_.Wide("absent.exe"), dir_.Wide(), &error));
  EXPECT_EQ(error, kErrorFileNotFound);
}

TEST_F(StartGameProcessTest, StartProcessReportsAMissingWorkingFolder) {
  test::InstallTestGame(dir_ / "emb.bin");
  std::uint32_t error = 0;
  EXPECT_FALSE(StartProcess(u"\"" + dir_.Wide("emb.bin") + u"\"", dir_.Wide("no such folder"),
                            &error));
  EXPECT_NE(error, 0u);
}

}  // namespace
}  // namespace emberfall
