// HttpSession against real servers on loopback: the platform stack (WinHTTP
// under Wine, libcurl on Linux) must give the same results.
#include "net/http_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "core/text.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using namespace std::chrono_literals;
using test::LoopbackHttpServer;
using test::PatternBody;
using test::Response;
using Fault = Response::Fault;

std::string Error(const HttpSession& session) { return WideToUtf8(session.last_error()); }

// An expectation ending in "(" leaves out the platform's error code.
void ExpectOutcome(const std::string& actual, const std::string& expected) {
  EXPECT_EQ(expected.ends_with('(') ? actual.substr(0, expected.size()) : actual, expected);
}

class HttpSessionTest : public testing::Test {
 protected:
  // The failure text, or "ok", the body (a long one as "pattern <size>" when
  // it is PatternBody) and the last progress report.
  std::string Get(const std::string& url, const RequestOptions& options = {}) {
    std::string progress;
    body_.assign(3, 1);
    if (!session_.Get(Utf8ToWide(url), body_,
                      [&](std::int64_t received, std::int64_t total) {
                        progress = " " + std::to_string(received) + "/" + std::to_string(total);
                      },
                      options)) {
      return Error(session_);
    }
    const std::string text(body_.begin(), body_.end());
    const bool pattern = text.size() > 16 && text == PatternBody(text.size());
    return "ok " + (pattern ? "pattern " + std::to_string(text.size()) : text) + progress;
  }

  LoopbackHttpServer server_;
  HttpSession session_{HttpTimeouts{5000, 5000, 5000, 5000}};
  std::vector<std::uint8_t> body_;
};

// Each way a request can end; the session stays usable after every failure.
TEST_F(HttpSessionTest, Outcomes) {
  // OpenSSL's s_server with a self-signed certificate serves one connection,
  // or ends after a minute: Wine gives no handle to stop a Unix program with.
  const test::TempDir tls_dir;
  const auto cert = test::UnixPathOf(test::TestDataPath("tls/self_signed_cert.pem"));
  const auto key = test::UnixPathOf(test::TestDataPath("tls/self_signed_key.pem"));
  ASSERT_TRUE(cert && key);
  const auto openssl = test::StartProcess(
      test::UnixProgram("/usr/bin/timeout"),
      {"60", "openssl", "s_server", "-accept", "127.0.0.1:0", "-naccept", "1", "-cert", *cert,
       "-key", *key},
      tls_dir / "log", tls_dir / "err");
  std::string tls;
  for (int i = 0; openssl && tls.empty() && i < 1000; ++i, std::this_thread::sleep_for(20ms)) {
    const std::string log = test::ReadFileBytes(tls_dir / "log");
    const std::size_t at = log.find("ACCEPT "), end = log.find('\n', at);
    if (end != std::string::npos) tls = "https://" + log.substr(at + 7, end - at - 7);
  }
  ASSERT_NE(tls, "") << "openssl s_server did not start";
  const std::string port = std::to_string(server_.port());
  const std::string refused = LoopbackHttpServer().UrlUtf8("/");  // its port is free again
  const RequestOptions mib{false, 1048576};
  // Wine's WinHTTP accepts a cut chunked body (Windows' own does not).
  const std::string cut = test::IsWindowsBuild() ? "" : "WinHTTP read: connection reset (12030)";
  struct Case {
    std::string path;  // or a whole URL
    Response response;
    RequestOptions options;
    std::string expected;
  } cases[] = {
      {"/file", Response::Ok(PatternBody(307207)), {}, "ok pattern 307207 307207/307207"},
      {"/missing", Response::Status(404, "no such file"), {}, "HTTP 404"},
      {"/empty", Response::Status(204), {}, "ok "},
      {"/old", {.status = 302, .headers = {{"Location", "/new"}}}, {}, "ok arrived 7/7"},
      {"/moved", {.status = 301, .headers = {{"Location", server_.UrlUtf8("/new")}}}, {},
       "ok arrived 7/7"},
      {"/short", {.body = PatternBody(4096), .fault = Fault::kCloseAfter, .fault_after = 1000}, {},
       "truncated body 1000/4096"},
      // WinHTTP passes Winsock's code through under Wine (10054).
      {"/reset", {.body = PatternBody(65536), .fault = Fault::kResetAfter, .fault_after = 1000}, {},
       "WinHTTP read: connection reset ("},
      {"/hangup", Response::Stall(0ms), {}, "WinHTTP receive: invalid server response (12152)"},
      {"/over", Response::WithoutLength(PatternBody(1048577)), mib,
       "response too large (> 1048576 bytes)"},
      // Without a Content-Length only the chunk framing tells a whole body
      // from a cut one, which libcurl calls success.
      {"/chunked", {.body = "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
                    .headers = {{"Transfer-Encoding", "chunked"}}, .send_content_length = false},
       {}, "ok hello world 11/-1"},
      {"/cut1", {.body = "5\r\nhello\r\n6\r\n wo",
                 .headers = {{"Transfer-Encoding", "chunked"}}, .send_content_length = false},
       {}, cut},
      {"/cut2", {.body = "5\r\nhello\r\n", .headers = {{"Transfer-Encoding", "chunked"}},
                 .send_content_length = false},
       {}, cut},
      // The client reads a Content-Length of up to 31 characters, no longer.
      {"/odd31", {.body = "hi", .content_length = std::string(30, '0') + "2"}, {}, "ok hi 2/2"},
      {"/odd36", {.body = "hi", .content_length = std::string(35, '0') + "2"}, {}, "ok hi 2/-1"},
      {"/fresh", Response::Ok("x"), {true, 0}, "ok x 1/1"},
      {refused, {}, {}, "WinHTTP connect: cannot connect (12029)"},
      {tls + "/x", {}, {}, "WinHTTP send: tls/certificate failure ("},
      {"ftp://127.0.0.1:" + port + "/x", {}, {}, "invalid url"},
      {"http://:" + port + "/x", {}, {}, "invalid url"},
  };
  server_.Serve("/new", Response::Ok("arrived"));
  for (const Case& c : cases) {
    if (c.expected.empty()) continue;
    SCOPED_TRACE(c.path);
    const bool local = c.path.starts_with('/');
    if (local) server_.Serve(c.path, c.response);
    ExpectOutcome(Get(local ? server_.UrlUtf8(c.path) : c.path, c.options), c.expected);
    // A failure keeps no more than came before the fault or fits the limit.
    if (!c.expected.starts_with("ok") && c.expected != cut) {
      EXPECT_LE(body_.size(), c.response.send_content_length ? c.response.fault_after
                                                             : c.options.max_bytes);
    }
    EXPECT_EQ(Get(server_.UrlUtf8("/new")), "ok arrived 7/7");
  }
  EXPECT_EQ(server_.RequestCount("/x"), 0u);
  for (const test::RecordedRequest& r : server_.Requests()) {
    SCOPED_TRACE(r.target);
    const std::string cache = r.target == "/fresh" ? "no-cache" : "";
    EXPECT_EQ(r.Header("Pragma").value_or("") + "," + r.Header("Cache-Control").value_or("") + "," +
                  r.Header("User-Agent").value_or("") + "," + r.Header("Host").value_or(""),
              cache + "," + cache + ",EmbLauncher/2.0,127.0.0.1:" + port);
  }

  server_.ClearLog();
  const std::pair<std::string, std::string> heads[] = {
      {"/file", "307207"}, {"/over", "-1"}, {"/missing", "-1 HTTP 404"}, {"/odd31", "2"},
      {"/odd36", "-1"},    {"x", "-1 invalid url"},
      {refused, "-1 WinHTTP connect: cannot connect (12029)"},
  };
  for (const auto& [path, expected] : heads) {
    SCOPED_TRACE(path);
    const std::int64_t length =
        session_.Head(Utf8ToWide(path.starts_with('/') ? server_.UrlUtf8(path) : path));
    EXPECT_EQ(std::to_string(length) + (Error(session_).empty() ? "" : " ") + Error(session_),
              expected);
  }
  for (const test::RecordedRequest& r : server_.Requests()) EXPECT_EQ(r.method, "HEAD");
}

// Each time-out ends its request after its own time, not after the sum of
// the time-outs, and the next request connects afresh. A connect hangs when
// the listener's queue is full: the kernel then drops the client's SYNs.
// (Wine's WinHTTP reports a time-out with Winsock's code, 10060.)
TEST(HttpSessionTimeoutTest, EachTimeOutEndsTheRequestAfterItsOwnTime) {
  LoopbackHttpServer server;
  server.Serve("/ok", Response::Ok("fine"));
  server.Serve("/silent", Response::Stall(4s));
  server.Serve("/stuck", {.body = PatternBody(10000), .fault = Fault::kCloseAfter,
                          .fault_after = 500, .delay = 4s});
  std::uint16_t port = 0;
  std::vector<test::sock::Socket> sockets{test::sock::ListenLoopback(port)};
  while (sockets.size() < 1000 && sockets.back() != test::sock::kInvalid) {
    sockets.push_back(test::sock::ConnectLoopback(port, 200));
  }
  EXPECT_EQ(sockets.back(), test::sock::kInvalid) << "the listener's queue never filled";
  HttpSession session(HttpTimeouts{5000, 1000, 5000, 1000});
  std::vector<std::uint8_t> body;
  const std::pair<std::string, std::string> cases[] = {
      {server.UrlUtf8("/silent"), "WinHTTP receive: timeout ("},
      {server.UrlUtf8("/stuck"), "WinHTTP read: timeout ("},
      {"http://127.0.0.1:" + std::to_string(port) + "/", ": timeout ("},
  };
  EXPECT_TRUE(session.Get(server.Url("/ok"), body, nullptr, {})) << Error(session);
  for (const auto& [url, error] : cases) {
    SCOPED_TRACE(url);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.Get(Utf8ToWide(url), body, nullptr, {}));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_THAT(Error(session), testing::HasSubstr(error));
    EXPECT_GE(elapsed, 900ms);
    EXPECT_LT(elapsed, 3000ms);
    EXPECT_TRUE(session.Get(server.Url("/ok"), body, nullptr, {})) << Error(session);
  }
  for (test::sock::Socket s : sockets) test::sock::Close(s);
  // After the hang WinHTTP may take its pooled connection to the server again.
  std::string seen;
  for (const auto& r : server.Requests()) seen += std::to_string(r.connection);
  EXPECT_EQ(seen.substr(0, 5), "11223");
}

}  // namespace
}  // namespace emberfall
