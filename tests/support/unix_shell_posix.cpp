#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "tests/support/unix_shell.h"

extern char** environ;

namespace emberfall::test {

bool StartUnixShell(const std::string& script) {
  std::string sh = "/bin/sh", dash_c = "-c", body = script;
  char* argv[] = {sh.data(), dash_c.data(), body.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
  // The shell only starts its helpers in the background; reap it so that no
  // zombie outlives the test, but never wait without a bound.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::optional<std::string> UnixPathOf(const std::filesystem::path& path) {
  return std::filesystem::absolute(path).string();
}

}  // namespace emberfall::test
