// The POSIX stand-in for CreateProcessW: the same command-line rules (a
// quoted program, or the shortest space-delimited prefix that names a file),
// a detached child in the given folder, and errno mapped to the Win32 codes
// the launcher's messages are chosen by.
#include "app/process_launch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/text.h"

namespace emberfall {
namespace {

constexpr std::uint32_t kErrorDirectory = 267;
constexpr std::uint32_t kErrorBadExeFormat = 193;
constexpr std::uint32_t kErrorGenFailure = 31;

std::uint32_t Win32ErrorFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case ENOEXEC:
      return kErrorBadExeFormat;
    default:
      return kErrorGenFailure;
  }
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The program a command line names, as CreateProcessW without an application
// name reads it.
std::string ProgramOf(const std::string& line) {
  if (!line.empty() && line[0] == '"') {
    const std::size_t close = line.find('"', 1);
    return line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  std::size_t space = line.find(' ');
  while (space != std::string::npos) {
    const std::string candidate = line.substr(0, space);
    if (IsFile(candidate)) return candidate;
    space = line.find(' ', space + 1);
  }
  return line;
}

bool ReadAll(int fd, void* buffer, std::size_t size) {
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool StartProcess(const std::u16string& commandLine, const std::u16string& workingFolder,
                  std::uint32_t* error) {
  const std::string program = ProgramOf(WideToUtf8(commandLine));
  const std::string folder = WideToUtf8(workingFolder);
  auto fail = [error](std::uint32_t code) {
    if (error != nullptr) *error = code;
    return false;
  };
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return fail(Win32ErrorFromErrno(errno));

  // Two forks: the middle child exits at once and is reaped here, so the
  // program is adopted by init and never lingers as a zombie of ours. The
  // grandchild reports a failed chdir or exec through the close-on-exec pipe;
  // a successful exec closes it with nothing written.
  const pid_t middle = fork();
  if (middle < 0) {
    const int err = errno;
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return fail(Win32ErrorFromErrno(err));
  }
  if (middle == 0) {
    close(pipe_fds[0]);
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    std::uint32_t code = 0;
    if (!folder.empty() && chdir(folder.c_str()) != 0) {
      code = kErrorDirectory;
    } else {
      char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
      execv(program.c_str(), argv);
      code = Win32ErrorFromErrno(errno);
    }
    (void)!write(pipe_fds[1], &code, sizeof(code));
    _exit(127);
  }
  close(pipe_fds[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  std::uint32_t code = 0;
  const bool reported = ReadAll(pipe_fds[0], &code, sizeof(code));
  close(pipe_fds[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return fail(kErrorGenFailure);
  if (reported) return fail(code);
  return true;
}

}  // namespace emberfall
