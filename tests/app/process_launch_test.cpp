// Starting the game: the attempts StartGameProcess makes, and real starts
// that must fail.
#include "app/process_launch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/fs_path.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

std::string Replace(std::string text, const std::u16string& from, const char* to) {
  const std::string needle = WideToUtf8(from);
  for (size_t at; !needle.empty() && (at = text.find(needle)) != std::string::npos;) {
    text.replace(at, needle.size(), to);
  }
  return text;
}

std::u16string Absolute(const std::u16string& path) { return WidePath(fs::absolute(FsPath(path))); }

// Both made absolute; the quoted path first, then the bare one.
TEST(LaunchTest, StartGameProcessTriesTheQuotedPathThenTheBareOne) {
  const test::TempDir dir;
  const struct {
    std::u16string exe, folder;
    std::vector<std::pair<bool, std::uint32_t>> answers;  // per attempt
    const char* outcome;
  } cases[] = {
      {dir.Wide("game dir/emb.bin"), dir.Wide("game dir"), {{false, 2}, {true, 0}},
       "1 error=2: \"<exe>\" in <folder>; <exe> in <folder>;"},
      {u"emb.bin", u".", {{true, 0}}, "1 error=0: \"<exe>\" in <folder>;"},
      {u"", dir.Wide(), {}, "0 error=161:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outcome);
    std::string attempts;
    const ProcessStarter starter = [&](const std::u16string& line, const std::u16string& folder,
                                       std::uint32_t* error) {
      attempts += " " + WideToUtf8(line) + " in " + WideToUtf8(folder) + ";";
      const auto [ok, code] = c.answers.at(std::count(attempts.begin(), attempts.end(), ';') - 1);
      if (!ok) *error = code;
      return ok;
    };
    std::uint32_t error = 12345;
    const bool started = StartGameProcess(c.exe, c.folder, &error, starter);
    const std::string outcome =
        std::to_string(started) + " error=" + std::to_string(error) + ":" + attempts;
    const std::u16string exe = c.exe.empty() ? u"" : Absolute(c.exe);
    EXPECT_EQ(Replace(Replace(outcome, exe, "<exe>"), Absolute(c.folder), "<folder>"), c.outcome);
  }
  // Real starts fail with the system's error. The game's path read up to its
  // first space ("<dir>/Ember") must never start a program planted beside it.
  test::WriteFileBytes(dir / "Ember Fall" / "emb.bin", "not a program");
  fs::permissions(dir / "Ember Fall" / "emb.bin", fs::perms::owner_all);
  for (const char* planted : {"Ember", "Ember.exe"}) {
    fs::copy_file(test::BuiltProgram("emb_test_game"), dir / planted);
    fs::permissions(dir / planted, fs::perms::owner_all);
  }
  std::uint32_t error = 0;
  EXPECT_FALSE(StartGameProcess(dir.Wide("Ember Fall/emb.bin"), dir.Wide("Ember Fall"), &error));
  EXPECT_NE(error, 0u);
  EXPECT_FALSE(StartGameProcess(dir.Wide("absent.exe"), dir.Wide(), &error));
  EXPECT_EQ(error, kErrorFileNotFound);
  error = 0;
  EXPECT_FALSE(StartProcess(u"\"" + dir.Wide("Ember") + u"\"", dir.Wide("absent"), &error));
  EXPECT_NE(error, 0u);
}

}  // namespace
}  // namespace emberfall
