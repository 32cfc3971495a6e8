// What LaunchGameIn reports; the signed launch is in patch_engine_signed_test.
#include "engine/game_launch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/process_launch.h"
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

// In the game folder, not the executable's; one report per failure.
TEST(LaunchTest, LaunchGameInReportsEachFailureOnce) {
  const test::TempDir dir;
  fs::create_directories(dir / "game" / "emb.bin");  // a folder is not an entry file
  test::WriteFileBytes(dir / "game" / "bin" / "bad.bin", "not a program");
  const std::u16string game = dir.Wide("game");
  const std::pair<std::u16string, const char*> cases[] = {
      {u"emb.bin", "1 error=0 | Game binary missing: emb.bin @ LaunchGame"},
      {u"bin/bad.bin",
       "2 error=2 | in <game> | in <game> | Launch failed: <path> | err=2 @ LaunchGame"},
  };
  for (const auto& [runPath, expected] : cases) {
    SCOPED_TRACE(expected);
    std::string outcome;
    const ErrorReportSink sink = [&](const std::u16string& message, const std::u16string& context) {
      outcome += " | " + WideToUtf8(message + u" @ " + context);
    };
    const ProcessStarter refuse = [&](const std::u16string&, const std::u16string& folder,
                                      std::uint32_t* error) {
      outcome += " | in " + WideToUtf8(folder);
      *error = kErrorFileNotFound;
      return false;
    };
    std::uint32_t error = 77;
    const GameStarter start = [&](const std::u16string& exe, const std::u16string& folder,
                                  std::uint32_t* failure) {
      return StartGameProcess(exe, folder, failure, refuse);
    };
    const LaunchResult result = LaunchGameIn(game, runPath, sink, &error, start);
    outcome = std::to_string(static_cast<int>(result)) + " error=" + std::to_string(error) + outcome;
    outcome = Replace(outcome, WidePath(FsPath(game) / FsPath(runPath)), "<path>");
    EXPECT_EQ(Replace(outcome, Absolute(game), "<game>"), expected);
  }
}

}  // namespace
}  // namespace emberfall
