// The tests' HTTP/1.1 server on 127.0.0.1: tests/e2e/patch_server.py as a child
// process, scripted and logging through files in a private folder, so that only
// the client under test talks HTTP to it.
#ifndef EMBERFALL_TESTS_SUPPORT_LOOPBACK_HTTP_SERVER_H_
#define EMBERFALL_TESTS_SUPPORT_LOOPBACK_HTTP_SERVER_H_

#include <map>

#include "tests/support/test_support.h"

namespace emberfall::test {

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
  // A GET's "Range: bytes=<first>-[<last>]" gets a 206 with that part of a
  // 200's body and its Content-Range (416 past the end), as nginx answers.
  bool ranges = false;

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
  int gets_in_flight = 0;  // GETs being answered when it came, a GET itself included

  // The value of the first header named |name| (case-insensitive).
  std::optional<std::string> Header(std::string_view name) const;
};

class LoopbackHttpServer {
 public:
  // Starts the server and waits for its port; fails the current test if it
  // cannot. The destructor returns once the port is free again.
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
  int MaxGetsInFlight() const;
  void ClearLog();
  // Another port on loopback whose listener's queue is full: a connect to it
  // hangs, as the kernel drops its SYNs.
  std::uint16_t JammedPort() const;

 private:
  // Sets |path|'s lines of the scripts file; WriteScripts hands them over.
  void Script(const std::string& path, const std::vector<Response>& responses);
  void WriteScripts() const;

  std::filesystem::path dir_;  // beside the executables: on drive Z: under Wine
  std::unique_ptr<ChildProcess> process_;
  std::uint16_t port_ = 0;
  std::map<std::string, std::string> scripts_;  // by path: its lines of the scripts file
  int serves_ = 0;
  std::size_t log_start_ = 0;
};

// |size| bytes of a repeating, position-dependent pattern.
std::string PatternBody(std::size_t size);

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_LOOPBACK_HTTP_SERVER_H_
