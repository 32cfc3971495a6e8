#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

#include "tests/support/test_support.h"
#include "tests/support/unix_shell.h"

extern char** environ;

namespace emberfall::test {
namespace {

class PosixChild : public ChildProcess {
 public:
  explicit PosixChild(pid_t pid) : pid_(pid) {}
  ~PosixChild() override { Kill(); }
  void Kill() override {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  std::optional<int> Wait(std::chrono::milliseconds timeout) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
  }

 private:
  pid_t pid_;
};

}  // namespace

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
  return error == 0 ? std::make_unique<PosixChild>(pid) : nullptr;
}

bool StartUnixShell(const std::string& script) {
  // The shell only backgrounds its helpers; reaping it leaves no zombie.
  const std::unique_ptr<ChildProcess> shell = StartProcess("/bin/sh", {"-c", script});
  if (shell) shell->Wait(std::chrono::seconds(10));
  return shell != nullptr;
}

std::optional<std::string> UnixPathOf(const std::filesystem::path& path) {
  return std::filesystem::absolute(path).string();
}

}  // namespace emberfall::test
