// An HTTP/1.1 server on 127.0.0.1 for tests: keep-alive, GET and HEAD, with
// responses and faults scripted per path. It records every request and
// counts connections, so tests can check what a client sent and whether it
// reused its connection.
//
//   LoopbackHttpServer server;
//   server.ServeFiles({{"/p/a.lz", bytes}});
//   server.Serve("/gone", Response::Status(404));
//   server.ServeSequence("/flaky", {Response::Truncated(body, 10), Response::Ok(body)});
//   session.Get(server.Url("/p/a.lz"), ...);
//
// Every wait inside is bounded and the destructor stops all threads, so a
// misbehaving client can never hang a test beyond the server's lifetime.
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

#include "tests/support/test_socket.h"

namespace emberfall::test {

// What the server does with one request.
struct Response {
  enum class Fault {
    kNone,
    kCloseAfter,          // send |fault_after| body bytes, then close (FIN)
    kResetAfter,          // send |fault_after| body bytes, then reset (RST)
    kStallBeforeHeaders,  // read the request, wait |delay|, then close
    kStallAfter,          // send headers and |fault_after| bytes, wait |delay|, close
    kTrickle,             // send the body |trickle_bytes| at a time, |delay| apart
    kCloseWithoutResponse,
  };

  int status = 200;
  std::string body;
  // Extra header lines, sent as given after the status line.
  std::vector<std::pair<std::string, std::string>> headers;
  // Without Content-Length the body ends when the server closes.
  bool send_content_length = true;
  // A Content-Length to announce instead of the body's size.
  std::optional<std::string> content_length;
  // The same for HEAD requests only, so a probe can be told something else
  // than the download.
  std::optional<std::string> head_content_length;
  // Close the connection after this response.
  bool close = false;
  Fault fault = Fault::kNone;
  std::size_t fault_after = 0;
  std::chrono::milliseconds delay{0};
  std::size_t trickle_bytes = 1;

  static Response Ok(std::string body);
  static Response Status(int status, std::string body = {});
  // Announces |body|'s size but sends only |sent| bytes, then closes.
  static Response Truncated(std::string body, std::size_t sent);
  // Sends |sent| bytes of |body|, then resets the connection.
  static Response ResetMidBody(std::string body, std::size_t sent);
  static Response WithoutLength(std::string body);
  static Response Stall(std::chrono::milliseconds delay);
  static Response Trickle(std::string body, std::size_t bytes, std::chrono::milliseconds delay);
  // A redirect to |location| (absolute or relative).
  static Response Redirect(int status, std::string location);
};

struct RecordedRequest {
  std::string method;
  std::string target;
  // Header lines in the order received, names as sent.
  std::vector<std::pair<std::string, std::string>> headers;
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
  void Serve(const std::string& path, Response response);
  // The n-th request of a method to |path| gets |responses[n]|; the last one
  // repeats. GET and HEAD count separately, so size probes do not use up
  // the scripted download attempts.
  void ServeSequence(const std::string& path, std::vector<Response> responses);
  // 200 with the given body for each path.
  void ServeFiles(const std::map<std::string, std::string>& files);
  // Unscripted paths answer 404.

  std::vector<RecordedRequest> Requests() const;
  std::size_t RequestCount(std::string_view path) const;
  int ConnectionCount() const { return connections_.load(); }
  // The most GET responses that were being sent at one time (since the
  // last ClearLog).
  int MaxGetsInFlight() const { return max_gets_in_flight_.load(); }
  void ClearLog();

 private:
  struct Script {
    std::vector<Response> responses;
    std::map<std::string, std::size_t, std::less<>> used;  // per method
  };

  void AcceptLoop();
  void ServeConnection(sock::Socket socket, int connection);
  Response Pick(const std::string& method, const std::string& target);
  // False when the server stops or the peer went away.
  bool SendAll(sock::Socket socket, std::string_view data);
  bool SleepUnlessStopping(std::chrono::milliseconds delay);
  bool Respond(sock::Socket socket, const std::string& method, const Response& response,
               bool client_wants_close, bool& keep_open);

  std::uint16_t port_ = 0;
  sock::Socket listener_ = sock::kInvalid;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
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
