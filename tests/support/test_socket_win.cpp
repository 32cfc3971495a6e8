#include "core/win/windows_include.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "tests/support/test_socket.h"

namespace emberfall::test::sock {
namespace {

SOCKET Native(Socket s) { return static_cast<SOCKET>(s); }

void MakeNonBlocking(SOCKET s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int WaitFor(Socket s, short events, int timeout_ms) {
  WSAPOLLFD fd{Native(s), events, 0};
  const int ready = WSAPoll(&fd, 1, timeout_ms);
  if (ready < 0) return -1;
  return ready > 0 ? 1 : 0;
}

}  // namespace

bool Init() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return ok;
}

Socket ListenLoopback(std::uint16_t& port) {
  if (!Init()) return kInvalid;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kInvalid;
  // Another process must not be able to take over the port meanwhile.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof(exclusive));
  sockaddr_in address = Loopback(0);
  int length = sizeof(address);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(s, 64) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(s);
    return kInvalid;
  }
  port = ntohs(address.sin_port);
  MakeNonBlocking(s);
  return static_cast<Socket>(s);
}

Socket ConnectLoopback(std::uint16_t port, int timeout_ms) {
  if (!Init()) return kInvalid;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kInvalid;
  MakeNonBlocking(s);
  sockaddr_in address = Loopback(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK ||
        WaitFor(static_cast<Socket>(s), POLLWRNORM, timeout_ms) != 1) {
      closesocket(s);
      return kInvalid;
    }
    int error = 0;
    int length = sizeof(error);
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
        error != 0) {
      closesocket(s);
      return kInvalid;
    }
  }
  return static_cast<Socket>(s);
}

int WaitReadable(Socket s, int timeout_ms) { return WaitFor(s, POLLRDNORM, timeout_ms); }
int WaitWritable(Socket s, int timeout_ms) { return WaitFor(s, POLLWRNORM, timeout_ms); }

Socket Accept(Socket listener) {
  SOCKET s = accept(Native(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kInvalid;
  MakeNonBlocking(s);
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  return static_cast<Socket>(s);
}

long Receive(Socket s, char* buffer, std::size_t size) {
  const int n = recv(Native(s), buffer, static_cast<int>(size), 0);
  if (n >= 0) return n;
  return WSAGetLastError() == WSAEWOULDBLOCK ? -2 : -1;
}

long SendSome(Socket s, const char* data, std::size_t size) {
  const int n = send(Native(s), data, static_cast<int>(size), 0);
  if (n >= 0) return n;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

void Close(Socket s) {
  if (s != kInvalid) closesocket(Native(s));
}

void CloseWithReset(Socket s) {
  if (s == kInvalid) return;
  linger option{1, 0};
  setsockopt(Native(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
             sizeof(option));
  closesocket(Native(s));
}

}  // namespace emberfall::test::sock
