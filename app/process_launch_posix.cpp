// The POSIX stand-in for CreateProcessW with an application name: that
// program, started without arguments as a detached child in the given
// folder, and errno mapped to the Win32 codes the launcher's messages are
// chosen by.
#include "app/process_launch.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/file_handle.h"
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

bool StartProgram(const std::u16string& application, const std::u16string&,
                  const std::u16string& workingFolder, std::uint32_t* error) {
  const std::string program = WideToUtf8(application);
  const std::string folder = WideToUtf8(workingFolder);
  auto fail = [error](std::uint32_t code) {
    if (error != nullptr) *error = code;
    return false;
  };
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return fail(Win32ErrorFromErrno(errno));
  FileHandle read_end(pipe_fds[0]);
  FileHandle write_end(pipe_fds[1]);

  // Two forks: the middle child exits at once and is reaped here, so the
  // program is adopted by init and never lingers as a zombie of ours. The
  // grandchild reports a failed chdir or exec through the close-on-exec pipe;
  // a successful exec closes it with nothing written.
  const pid_t middle = fork();
  if (middle < 0) {
    return fail(Win32ErrorFromErrno(errno));
  }
  if (middle == 0) {
    // The children leave by _exit: nothing here is closed by a destructor.
    read_end.reset();
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
    (void)!write(static_cast<int>(write_end.get()), &code, sizeof(code));
    _exit(127);
  }
  write_end.reset();
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  std::uint32_t code = 0;
  const bool reported = ReadAll(static_cast<int>(read_end.get()), &code, sizeof(code));
  read_end.reset();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return fail(kErrorGenFailure);
  if (reported) return fail(code);
  return true;
}

}  // namespace emberfall
