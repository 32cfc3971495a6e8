// What only a POSIX system lets a test show: Ctrl-C during a run (the run is
// cancelled and embpatch exits with 130), and fetch writing to a terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

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

// A body on the operator's terminal is shown escaped, line by line, so a
// server cannot send the terminal control sequences. (The raw body through a
// pipe is EmbpatchFetchTest's case.)
TEST(EmbpatchRunPosixTest, FetchEscapesABodyShownOnATerminal) {
  test::LoopbackHttpServer server;
  server.Serve("/b", test::Response::Ok("# list\n\x1b]0;title\x07\xff\r\n"));
  int master = -1;
  int slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios mode{};
  ASSERT_EQ(::tcgetattr(slave, &mode), 0);
  ::cfmakeraw(&mode);  // the bytes as written, no "\r" added by the terminal
  ASSERT_EQ(::tcsetattr(slave, TCSANOW, &mode), 0);
  std::vector<std::string> args = {test::BuiltProgram("embpatch").string(), "fetch", server.UrlUtf8("/b")};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, slave, 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, master);
  posix_spawn_file_actions_addclose(&actions, slave);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(slave);
  ASSERT_EQ(spawned, 0);

  // The terminal reads end (EIO) once embpatch has closed its side.
  std::string shown;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd readable{master, POLLIN, 0};
    if (::poll(&readable, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    shown.append(buffer, static_cast<size_t>(n));
  }
  ::close(master);
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) != pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(shown, "# list\n\\x1B]0;title\\x07\\xFF\\x0D\n");
}

}  // namespace
}  // namespace emberfall
