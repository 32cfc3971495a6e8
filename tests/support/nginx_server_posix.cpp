#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/nginx_server.h"

extern char** environ;

namespace emberfall::test::nginx_platform {

std::string UnixPath(const std::filesystem::path& path) { return path.string(); }

bool RunUnixProgram(const std::vector<std::string>& argv) {
  std::vector<std::string> storage = argv;
  std::vector<char*> args;
  for (std::string& arg : storage) args.push_back(arg.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int HttpStatus(int port, const std::string& path) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int status = 0;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      pollfd poll_fd{fd, POLLIN, 0};
      char buffer[64] = {};
      if (::poll(&poll_fd, 1, 2000) == 1 && ::recv(fd, buffer, sizeof(buffer) - 1, 0) >= 12 &&
          std::string(buffer, 5) == "HTTP/") {
        status = std::atoi(buffer + 9);
      }
    }
  }
  ::close(fd);
  return status;
}

}  // namespace emberfall::test::nginx_platform
