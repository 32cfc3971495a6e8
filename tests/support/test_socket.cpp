// Winsock and BSD sockets differ only in the few calls wrapped at the top;
// the rest is shared.
#include "tests/support/test_socket.h"

#ifdef _WIN32
#include "core/win/windows_include.h"
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace emberfall::test::sock {
namespace {

#ifdef _WIN32
using Native = SOCKET;
constexpr int kSendFlags = 0;
int Poll(pollfd& fd, int timeout_ms) { return WSAPoll(&fd, 1, timeout_ms); }
bool WouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
void CloseNative(Native s) { closesocket(s); }
Socket NonBlocking(Native s) {
  u_long on = 1;
  if (s != INVALID_SOCKET) ioctlsocket(s, FIONBIO, &on);
  return static_cast<Socket>(s);
}
Socket NewSocket() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started ? NonBlocking(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) : kInvalid;
}
Socket AcceptNative(Native s) { return NonBlocking(accept(s, nullptr, nullptr)); }
#else
using Native = int;
constexpr int kSendFlags = MSG_NOSIGNAL;
int Poll(pollfd& fd, int timeout_ms) { return ::poll(&fd, 1, timeout_ms); }
bool WouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS || errno == EINTR;
}
void CloseNative(Native s) { ::close(s); }
// Close-on-exec: a child process of a test must not hold a connection open.
Socket NewSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }
Socket AcceptNative(Native s) {
  return ::accept4(s, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}
#endif

Native N(Socket s) { return static_cast<Native>(s); }

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int WaitFor(Socket s, short events, int timeout_ms) {
  pollfd fd{N(s), events, 0};
  const int ready = Poll(fd, timeout_ms);
  if (ready < 0 && !WouldBlock()) return -1;
  return ready > 0 ? 1 : 0;
}

}  // namespace

Socket ListenLoopback(std::uint16_t& port) {
  const Socket s = NewSocket();
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof(address);
  if (s == kInvalid || bind(N(s), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(N(s), 64) != 0 ||
      getsockname(N(s), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Close(s);
    return kInvalid;
  }
  port = ntohs(address.sin_port);
  return s;
}

Socket ConnectLoopback(std::uint16_t port, int timeout_ms) {
  const Socket s = NewSocket();
  const sockaddr_in address = Loopback(port);
  int error = 0;
  socklen_t length = sizeof(error);
  if (s == kInvalid ||
      (connect(N(s), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 &&
       (!WouldBlock() || WaitWritable(s, timeout_ms) != 1 ||
        getsockopt(N(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
        error != 0))) {
    Close(s);
    return kInvalid;
  }
  return s;
}

Socket Accept(Socket listener) {
  const Socket s = AcceptNative(N(listener));
  // Small writes (a trickled body) must leave at once, not wait for an ACK.
  const int one = 1;
  setsockopt(N(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  return s;
}

int WaitReadable(Socket s, int timeout_ms) { return WaitFor(s, POLLIN, timeout_ms); }
int WaitWritable(Socket s, int timeout_ms) { return WaitFor(s, POLLOUT, timeout_ms); }

long Receive(Socket s, char* buffer, std::size_t size) {
  const long n = recv(N(s), buffer, static_cast<int>(size), 0);
  return n >= 0 ? n : WouldBlock() ? -2 : -1;
}

long SendSome(Socket s, const char* data, std::size_t size) {
  const long n = send(N(s), data, static_cast<int>(size), kSendFlags);
  return n >= 0 ? n : WouldBlock() ? 0 : -1;
}

void Close(Socket s) {
  if (s != kInvalid) CloseNative(N(s));
}

void CloseWithReset(Socket s) {
  const linger option{1, 0};
  setsockopt(N(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof(option));
  Close(s);
}

}  // namespace emberfall::test::sock
