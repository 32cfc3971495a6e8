// Windows will not overwrite a running executable: the engine must hand the
// running launcher's own path to the file apply, which moves it aside to
// ".old" (the file-apply tests cover the move itself).
#include <gtest/gtest.h>

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
  const std::unique_ptr<ChildProcess> running = StartProcess(game / "launcher.exe", {"60"});
  ASSERT_NE(running, nullptr);
  const std::string new_image = old_image + std::string(4096, '\x2A');
  LoopbackHttpServer server;
  server.ServeFiles(BuildPublication(server.UrlUtf8("/p"), {{"launcher.exe", new_image}}));

  EngineHarness harness(game.path(), {server.Url("/c.xml")});
  ASSERT_TRUE(harness.RunToEnd().ready);
  EXPECT_TRUE(ReadFileBytes(game / "launcher.exe") == new_image);
  EXPECT_TRUE(ReadFileBytes(game / "launcher.exe.old") == old_image);
  EXPECT_FALSE(running->Wait(std::chrono::milliseconds(0)).has_value());  // still running
  running->Kill();
}

}  // namespace
}  // namespace emberfall::test
