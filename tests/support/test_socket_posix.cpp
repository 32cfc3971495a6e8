#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/test_socket.h"

namespace emberfall::test::sock {
namespace {

void MakeNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK); }

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int WaitFor(Socket s, short events, int timeout_ms) {
  pollfd fd{static_cast<int>(s), events, 0};
  const int ready = ::poll(&fd, 1, timeout_ms);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  return ready > 0 ? 1 : 0;
}

}  // namespace

bool Init() { return true; }

Socket ListenLoopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalid;
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return kInvalid;
  }
  port = ntohs(address.sin_port);
  MakeNonBlocking(fd);
  return fd;
}

Socket ConnectLoopback(std::uint16_t port, int timeout_ms) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalid;
  MakeNonBlocking(fd);
  sockaddr_in address = Loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    if (errno != EINPROGRESS || WaitFor(fd, POLLOUT, timeout_ms) != 1) {
      ::close(fd);
      return kInvalid;
    }
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      ::close(fd);
      return kInvalid;
    }
  }
  return fd;
}

int WaitReadable(Socket s, int timeout_ms) { return WaitFor(s, POLLIN, timeout_ms); }
int WaitWritable(Socket s, int timeout_ms) { return WaitFor(s, POLLOUT, timeout_ms); }

Socket Accept(Socket listener) {
  const int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return kInvalid;
  MakeNonBlocking(fd);
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return fd;
}

long Receive(Socket s, char* buffer, std::size_t size) {
  const ssize_t n = ::recv(static_cast<int>(s), buffer, size, 0);
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -2 : -1;
}

long SendSome(Socket s, const char* data, std::size_t size) {
  const ssize_t n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

void Close(Socket s) {
  if (s != kInvalid) ::close(static_cast<int>(s));
}

void CloseWithReset(Socket s) {
  if (s == kInvalid) return;
  linger option{1, 0};
  ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &option, sizeof(option));
  ::close(static_cast<int>(s));
}

}  // namespace emberfall::test::sock
