#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

#include "tests/support/test_support.h"

extern char** environ;

namespace emberfall::test {

void ChildProcess::Kill() {
  if (handle_ == 0) return;
  ::kill(static_cast<pid_t>(handle_), SIGKILL);
  int status = 0;
  while (::waitpid(static_cast<pid_t>(handle_), &status, 0) < 0 && errno == EINTR) {
  }
  handle_ = 0;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (int status = 0; handle_ != 0; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    if (::waitpid(static_cast<pid_t>(handle_), &status, WNOHANG) == handle_) {
      handle_ = 0;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  return std::nullopt;
}

bool IsWindowsBuild() { return false; }

std::filesystem::path ExecutableDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::unique_ptr<ChildProcess> StartProcess(const std::filesystem::path& program,
                                           const std::vector<std::string>& args,
                                           const std::filesystem::path& out,
                                           const std::filesystem::path& err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (const auto& [fd, file] : {std::pair(1, &out), std::pair(2, &err)}) {
    posix_spawn_file_actions_addopen(&actions, fd, file->empty() ? "/dev/null" : file->c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  std::vector<std::string> storage{program.native()};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? std::make_unique<ChildProcess>(pid) : nullptr;
}

}  // namespace emberfall::test
