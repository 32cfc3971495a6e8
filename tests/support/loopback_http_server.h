// An HTTP/1.1 server on 127.0.0.1 for tests: keep-alive, GET and HEAD, with
// responses and faults scripted per path, and a log of the requests. Every
// wait inside is bounded and the destructor stops all threads, so a
// misbehaving client never hangs a test.
#ifndef EMBERFALL_TESTS_SUPPORT_LOOPBACK_HTTP_SERVER_H_
#define EMBERFALL_TESTS_SUPPORT_LOOPBACK_HTTP_SERVER_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace emberfall::test {
namespace sock {

// A non-blocking TCP socket on 127.0.0.1 (BSD sockets or Winsock), or
// kInvalid: listening at a free port, written to |port|, or connected to
// |port| within |timeout_ms|.
using Socket = std::intptr_t;
inline constexpr Socket kInvalid = -1;
Socket ListenLoopback(std::uint16_t& port);
Socket ConnectLoopback(std::uint16_t port, int timeout_ms);
void Close(Socket s);

}  // namespace sock

// What the server does with one request.
struct Response {
  enum class Fault {
    kNone,
    kStall,       // wait |delay|, then close without answering
    kCloseAfter,  // send |fault_after| body bytes, wait |delay|, close (FIN)
    kResetAfter,  // send |fault_after| body bytes, then reset (RST)
    kTrickle,     // send the body |fault_after| bytes at a time, |delay| apart
  };

  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // extra lines, sent as given
  bool send_content_length = true;  // without it the body ends when the server closes
  // Announced instead of the body's size; the second for HEAD only.
  std::optional<std::string> content_length, head_content_length;
  Fault fault = Fault::kNone;
  std::size_t fault_after = 0;
  std::chrono::milliseconds delay{0};

  static Response Ok(std::string body) { return {.body = std::move(body)}; }
  static Response Status(int status, std::string body = {}) {
    return {.status = status, .body = std::move(body)};
  }
  static Response WithoutLength(std::string body) {
    return {.body = std::move(body), .send_content_length = false};
  }
  static Response Stall(std::chrono::milliseconds delay) {
    return {.fault = Fault::kStall, .delay = delay};
  }
  static Response Trickle(std::string body, std::size_t bytes, std::chrono::milliseconds delay) {
    return {
        .body = std::move(body), .fault = Fault::kTrickle, .fault_after = bytes, .delay = delay};
  }
};

struct RecordedRequest {
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent
  int connection = 0;  // 1 for the first accepted connection, and so on

  // The value of the first header named |name| (case-insensitive).
  std::optional<std::string> Header(std::string_view name) const;
};

class LoopbackHttpServer {
 public:
  // Listens on a free port at once; fails the current test if it cannot.
  LoopbackHttpServer();
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" + |path|, as UTF-8 or UTF-16.
  std::string UrlUtf8(std::string_view path) const;
  std::u16string Url(std::string_view path) const;

  // |response| for every request to |path| (the request target; a query
  // string must match too, unless only the bare path is scripted).
  // Unscripted paths answer 404.
  void Serve(const std::string& path, Response response);
  // The n-th request of a method to |path| gets |responses[n]|; the last one
  // repeats. GET and HEAD count apart.
  void ServeSequence(const std::string& path, std::vector<Response> responses);
  // 200 with the given body for each path.
  void ServeFiles(const std::map<std::string, std::string>& files);

  std::vector<RecordedRequest> Requests() const;
  std::size_t RequestCount(std::string_view path) const;
  // The most GET responses being sent at one time since the last ClearLog.
  int MaxGetsInFlight() const { return max_gets_in_flight_.load(); }
  void ClearLog();

 private:
  struct Script {
    std::vector<Response> responses;
    std::map<std::string, std::size_t, std::less<>> used;  // per method
  };

  void AcceptLoop();
  void ServeConnection(sock::Socket socket, int connection);
  Response Pick(const RecordedRequest& request);
  // False once the server stops (or the peer went away).
  bool SendAll(sock::Socket socket, std::string_view data);
  bool Sleep(std::chrono::milliseconds delay);
  // False when the connection ends after the response.
  bool Respond(sock::Socket socket, const RecordedRequest& request);

  std::uint16_t port_ = 0;
  sock::Socket listener_ = sock::kInvalid;
  std::atomic<bool> stopping_{false};
  int connections_ = 0;  // accept thread only
  std::atomic<int> gets_in_flight_{0};
  std::atomic<int> max_gets_in_flight_{0};
  std::thread accept_thread_;
  mutable std::mutex mutex_;
  std::vector<std::thread> connection_threads_;
  std::map<std::string, Script, std::less<>> scripts_;
  std::vector<RecordedRequest> log_;
};

// |size| bytes of a repeating, position-dependent pattern.
std::string PatternBody(std::size_t size);

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_LOOPBACK_HTTP_SERVER_H_
