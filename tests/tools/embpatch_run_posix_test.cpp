// Ctrl-C during a run: the run is cancelled and embpatch exits with 130.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/fs_path.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace emberfall {
namespace {

using namespace std::chrono_literals;

TEST(EmbpatchRunPosixTest, CtrlCCancelsTheRunWithExitCode130) {
  test::LoopbackHttpServer server;
  server.Serve("/c.xml", test::Response::Stall(20s));
  test::TempDir game;
  std::vector<std::string> args = {test::BuiltProgram("embpatch").string(), "run", "--game-dir",
                                   Utf8Path(game.path()), "--config-url", server.UrlUtf8("/c.xml")};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  // Wait until the run hangs in its first request, then interrupt it.
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (server.RequestCount("/c.xml") == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(server.RequestCount("/c.xml"), 1u);
  const auto interrupted = std::chrono::steady_clock::now();
  ::kill(pid, SIGINT);
  int status = 0;
  bool ended = false;
  while (std::chrono::steady_clock::now() < interrupted + 15s) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      ended = true;
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 8s);
}

}  // namespace
}  // namespace emberfall
