#include "tests/support/loopback_http_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "core/text.h"

// Winsock and BSD sockets differ only in the few calls wrapped below.
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

namespace emberfall::test {
namespace sock {
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
  static WSADATA data;
  static const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
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
Socket AcceptNative(Native s) { return accept4(s, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }
#endif

Native N(Socket s) { return static_cast<Native>(s); }

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(port)};
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// 1 when ready, 0 on time-out, -1 on error.
int WaitFor(Socket s, short events, int timeout_ms) {
  pollfd fd{N(s), events, 0};
  const int ready = Poll(fd, timeout_ms);
  return ready > 0 ? 1 : ready < 0 && !WouldBlock() ? -1 : 0;
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
  connect(N(s), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  if (WaitFor(s, POLLOUT, timeout_ms) == 1) return s;
  Close(s);
  return kInvalid;
}

void Close(Socket s) {
  if (s != kInvalid) CloseNative(N(s));
}

}  // namespace sock

using namespace std::chrono_literals;

namespace {

// How often blocked loops look at the stop flag.
constexpr int kPollMs = 20;

bool SameText(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return lower(x) == lower(y); });
}

// |head| is the request line and the header lines, each ended by CRLF.
RecordedRequest ParseHead(std::string_view head, int connection) {
  RecordedRequest request{.connection = connection};
  std::size_t end = head.find("\r\n");
  const std::string_view line = head.substr(0, end);
  const std::size_t space = line.find(' ');
  request.method = line.substr(0, space);
  request.target = line.substr(space + 1, line.rfind(' ') - space - 1);
  for (std::size_t pos = end + 2; (end = head.find("\r\n", pos)) != head.npos; pos = end + 2) {
    const std::string_view field = head.substr(pos, end - pos);
    const std::size_t colon = field.find(':');
    if (colon == field.npos) continue;
    std::string_view value = field.substr(colon + 1);
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    request.headers.emplace_back(field.substr(0, colon), value);
  }
  return request;
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (SameText(key, name)) return value;
  }
  return std::nullopt;
}

std::string PatternBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>((i * 131 + (i >> 8) * 7 + 17) & 0xFF);
  }
  return body;
}

LoopbackHttpServer::LoopbackHttpServer() : listener_(sock::ListenLoopback(port_)) {
  EXPECT_NE(listener_, sock::kInvalid) << "cannot listen on 127.0.0.1";
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  stopping_ = true;
  accept_thread_.join();
  sock::Close(listener_);
  // Only the accept thread adds to the list, and it has ended.
  for (std::thread& thread : connection_threads_) thread.join();
}

std::string LoopbackHttpServer::UrlUtf8(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::u16string LoopbackHttpServer::Url(std::string_view path) const {
  return Utf8ToWide(UrlUtf8(path));
}

void LoopbackHttpServer::Serve(const std::string& path, Response response) {
  ServeSequence(path, {std::move(response)});
}

void LoopbackHttpServer::ServeSequence(const std::string& path, std::vector<Response> responses) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_[path] = Script{std::move(responses), {}};
}

void LoopbackHttpServer::ServeFiles(const std::map<std::string, std::string>& files) {
  for (const auto& [path, body] : files) Serve(path, Response::Ok(body));
}

std::vector<RecordedRequest> LoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::size_t LoopbackHttpServer::RequestCount(std::string_view path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::size_t>(std::count_if(
      log_.begin(), log_.end(), [&](const RecordedRequest& r) { return r.target == path; }));
}

void LoopbackHttpServer::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
  max_gets_in_flight_ = 0;
}

void LoopbackHttpServer::AcceptLoop() {
  while (!stopping_) {
    if (sock::WaitFor(listener_, POLLIN, kPollMs) != 1) continue;
    const sock::Socket socket = sock::AcceptNative(sock::N(listener_));
    if (socket == sock::kInvalid) continue;
    // Small writes (a trickled body) must leave at once, not wait for an ACK.
    const int one = 1;
    setsockopt(sock::N(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof(one));
    const int connection = ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    connection_threads_.emplace_back([this, socket, connection] {
      ServeConnection(socket, connection);
    });
  }
}

Response LoopbackHttpServer::Pick(const RecordedRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = scripts_.find(request.target);
  if (it == scripts_.end()) it = scripts_.find(request.target.substr(0, request.target.find('?')));
  if (it == scripts_.end() || it->second.responses.empty()) return Response::Status(404);
  Script& script = it->second;
  return script.responses[std::min(script.used[request.method]++, script.responses.size() - 1)];
}

bool LoopbackHttpServer::SendAll(sock::Socket socket, std::string_view data) {
  while (!data.empty() && !stopping_) {
    const int ready = sock::WaitFor(socket, POLLOUT, kPollMs);
    const long sent = ready == 1 ? send(sock::N(socket), data.data(), static_cast<int>(data.size()),
                                        sock::kSendFlags)
                                 : 0;
    if (ready < 0 || (sent < 0 && !sock::WouldBlock())) return false;
    data.remove_prefix(static_cast<std::size_t>(std::max(sent, 0L)));
  }
  return data.empty();
}

bool LoopbackHttpServer::Sleep(std::chrono::milliseconds delay) {
  const auto end = std::chrono::steady_clock::now() + delay;
  while (!stopping_ && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
  return !stopping_;
}

bool LoopbackHttpServer::Respond(sock::Socket socket, const RecordedRequest& request) {
  using Fault = Response::Fault;
  const Response r = Pick(request);
  if (r.fault == Fault::kStall) {
    Sleep(r.delay);
    return false;
  }
  const bool head = request.method == "HEAD";
  // A 204 carries no body and, by the protocol, no Content-Length.
  const bool has_length = r.send_content_length && r.status != 204;
  const bool keep = has_length && r.fault == Fault::kNone &&
                    !SameText(request.Header("Connection").value_or(""), "close");
  // Clients read only the code, so one reason phrase does for every status.
  std::string out = "HTTP/1.1 " + std::to_string(r.status) + " Scripted\r\n";
  if (has_length) {
    const auto& announced =
        head && r.head_content_length ? r.head_content_length : r.content_length;
    out += "Content-Length: " + announced.value_or(std::to_string(r.body.size())) + "\r\n";
  }
  for (const auto& [name, value] : r.headers) out += name + ": " + value + "\r\n";
  out += keep ? "\r\n" : "Connection: close\r\n\r\n";
  std::string_view body = head || r.status == 204 ? std::string_view() : r.body;
  if (r.fault == Fault::kCloseAfter || r.fault == Fault::kResetAfter) {
    body = body.substr(0, r.fault_after);
  }
  const std::size_t step = r.fault == Fault::kTrickle ? std::max<std::size_t>(r.fault_after, 1)
                                                      : body.size();
  bool sent = SendAll(socket, out);
  for (std::size_t pos = 0; sent && pos < body.size(); pos += step) {
    sent = (pos == 0 || Sleep(r.delay)) && SendAll(socket, body.substr(pos, step));
  }
  if (r.fault == Fault::kCloseAfter) Sleep(r.delay);
  // The pause lets the bytes reach the client before the reset overtakes them.
  if (r.fault == Fault::kResetAfter && Sleep(100ms)) {
    const linger option{1, 0};  // the close then resets
    setsockopt(sock::N(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
               sizeof(option));
  }
  return sent && keep;
}

void LoopbackHttpServer::ServeConnection(sock::Socket socket, int connection) {
  std::string buffer;
  for (bool open = true; open && !stopping_;) {
    const std::size_t head_end = buffer.find("\r\n\r\n");
    if (head_end == std::string::npos) {
      // A TLS handshake (record type 0x16) never becomes a request: close at
      // once, as an http-only server does, so an https client fails fast.
      if (buffer.starts_with('\x16')) break;
      char chunk[8192];
      const int ready = sock::WaitFor(socket, POLLIN, kPollMs);
      const long n = ready == 1 ? recv(sock::N(socket), chunk, int{sizeof(chunk)}, 0) : -1;
      if (ready < 0 || n == 0 || (ready == 1 && n < 0 && !sock::WouldBlock())) break;
      if (n > 0) buffer.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    const RecordedRequest request = ParseHead(std::string_view(buffer).substr(0, head_end + 2),
                                              connection);
    buffer.erase(0, head_end + 4);
    const bool get = request.method == "GET";
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(request);
      if (get) max_gets_in_flight_ = std::max(max_gets_in_flight_.load(), ++gets_in_flight_);
    }
    open = Respond(socket, request);
    if (get) --gets_in_flight_;
  }
  sock::Close(socket);
}

}  // namespace emberfall::test
