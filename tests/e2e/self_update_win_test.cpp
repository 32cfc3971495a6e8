// Windows will not replace a running executable; the engine moves the
// launcher's own image aside to ".old" and puts the new one in its place.
// The file-apply tests cover the move itself; this one checks that the
// engine hands the running launcher's path down to it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/text.h"
#include "tests/support/engine_harness.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall::test {
namespace {

TEST(SelfUpdateTest, TheRunningLauncherIsReplacedThroughOld) {
  TempDir game;
  const std::string old_image = ReadFileBytes(BuiltProgram("test_sleeper"));
  WriteFileBytes(game / "launcher.exe", old_image);
  std::unique_ptr<ChildProcess> running = StartProcess(game / "launcher.exe", {"60"});
  ASSERT_NE(running, nullptr);

  const std::string new_image = old_image + std::string(4096, '\x2A');  // the "next version"
  LoopbackHttpServer server;
  server.ServeFiles(BuildPublication(server.UrlUtf8("/p"),
                                     {{"launcher.exe", new_image}, {"bin/game.exe", "game"}}));

  EngineHarness harness(game.path(), {server.Url("/c.xml")});
  ProgressState last = harness.RunToEnd();
  ASSERT_TRUE(last.ready) << WideToUtf8(last.errorText);
  EXPECT_TRUE(ReadFileBytes(game / "launcher.exe") == new_image);
  EXPECT_TRUE(ReadFileBytes(game / "launcher.exe.old") == old_image);
  EXPECT_FALSE(running->Wait(std::chrono::milliseconds(0)).has_value());  // still running

  running->Kill();
  last = harness.RunToEnd();
  EXPECT_EQ(last.detailText, u"Up to date");
  EXPECT_FALSE(std::filesystem::exists(game / "launcher.exe.old"));
}

}  // namespace
}  // namespace emberfall::test
