// HttpSession against a real HTTP server on loopback: the platform stack
// (WinHTTP under Wine, libcurl on Linux) must give the same results.
#include "net/http_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/text.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_socket.h"

namespace emberfall {
namespace {

using namespace std::chrono_literals;
using test::LoopbackHttpServer;
using test::PatternBody;
using test::Response;
using testing::StartsWith;

// Short enough that a time-out test takes about a second, long enough for a
// loaded machine.
HttpTimeouts ShortTimeouts(int receive_ms = 5000) {
  HttpTimeouts t;
  t.resolve_ms = 5000;
  t.connect_ms = 5000;
  t.send_ms = 5000;
  t.receive_ms = receive_ms;
  return t;
}

std::string Text(const std::vector<std::uint8_t>& body) {
  return std::string(body.begin(), body.end());
}

std::string Error(const HttpSession& session) { return WideToUtf8(session.last_error()); }

// A port nobody listens on (it was free a moment ago).
std::uint16_t ClosedPort() {
  std::uint16_t port = 0;
  test::sock::Socket s = test::sock::ListenLoopback(port);
  test::sock::Close(s);
  return port;
}

class HttpSessionTest : public testing::Test {
 protected:
  LoopbackHttpServer server_;
  HttpSession session_{ShortTimeouts()};
  std::vector<std::uint8_t> body_;
};

TEST_F(HttpSessionTest, GetReadsTheWholeBodyWithProgress) {
  const std::string payload = PatternBody(300 * 1024 + 7);
  server_.Serve("/p/file.lz", Response::Ok(payload));
  std::int64_t last_received = 0, last_total = 0;
  int calls = 0;
  ASSERT_TRUE(session_.Get(server_.Url("/p/file.lz"), body_,
                           [&](std::int64_t received, std::int64_t total) {
                             EXPECT_GT(received, last_received);
                             last_received = received;
                             last_total = total;
                             ++calls;
                           },
                           {}))
      << Error(session_);
  EXPECT_TRUE(Text(body_) == payload);
  EXPECT_EQ(last_received, static_cast<std::int64_t>(payload.size()));
  EXPECT_EQ(last_total, static_cast<std::int64_t>(payload.size()));
  EXPECT_GE(calls, 1);
  EXPECT_EQ(session_.last_error(), u"");
}

// Each way a request can fail names itself, and the session stays usable.
TEST_F(HttpSessionTest, FailuresAreNamedAndTheSessionRecovers) {
  Response hang_up;
  hang_up.fault = Response::Fault::kCloseWithoutResponse;
  server_.Serve("/missing", Response::Status(404, "no such file"));
  server_.Serve("/broken", Response::Status(503));
  server_.Serve("/short", Response::Truncated(PatternBody(4096), 1000));
  server_.Serve("/reset", Response::ResetMidBody(PatternBody(64 * 1024), 1000));
  server_.Serve("/hangup", hang_up);
  server_.Serve("/after", Response::Ok("ok"));
  const std::string refused = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
  struct Case {
    std::string url;
    std::string error;  // a prefix where the platform's code differs
    bool exact;
  } cases[] = {
      {server_.UrlUtf8("/missing"), "HTTP 404", true},
      {server_.UrlUtf8("/broken"), "HTTP 503", true},
      {server_.UrlUtf8("/unscripted"), "HTTP 404", true},
      {server_.UrlUtf8("/short"), "truncated body 1000/4096", true},
      // WinHTTP passes Winsock's code through under Wine (10054).
      {server_.UrlUtf8("/reset"), "WinHTTP read: connection reset (", false},
      {server_.UrlUtf8("/hangup"), "WinHTTP receive: invalid server response (12152)", true},
      {refused, "WinHTTP connect: cannot connect (12029)", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    body_.assign(3, 1);
    EXPECT_FALSE(session_.Get(Utf8ToWide(c.url), body_, nullptr, {}));
    if (c.exact) {
      EXPECT_EQ(Error(session_), c.error);
    } else {
      EXPECT_THAT(Error(session_), StartsWith(c.error));
    }
    if (c.error.starts_with("HTTP")) {
      EXPECT_TRUE(body_.empty());
    }
    EXPECT_TRUE(session_.Get(server_.Url("/after"), body_, nullptr, {})) << Error(session_);
  }
}

// Any 2xx is a success (204 has no body); redirects on the same server are
// followed, by path or by full URL.
TEST_F(HttpSessionTest, SuccessesOtherThanAPlain200) {
  server_.Serve("/empty", Response::Status(204));
  server_.Serve("/old", Response::Redirect(302, "/new"));
  server_.Serve("/moved", Response::Redirect(301, server_.UrlUtf8("/new")));
  server_.Serve("/new", Response::Ok("arrived"));
  const std::pair<const char*, const char*> cases[] = {
      {"/empty", ""}, {"/old", "arrived"}, {"/moved", "arrived"}};
  for (const auto& [path, text] : cases) {
    SCOPED_TRACE(path);
    body_.assign(10, 1);
    ASSERT_TRUE(session_.Get(server_.Url(path), body_, nullptr, {})) << Error(session_);
    EXPECT_EQ(Text(body_), text);
  }
  EXPECT_EQ(server_.RequestCount("/new"), 2u);
}

TEST_F(HttpSessionTest, AnnouncedLengthAboveTheLimitFailsBeforeTheBody) {
  Response big = Response::Ok(PatternBody(2000000));
  server_.Serve("/big", big);
  int progress_calls = 0;
  EXPECT_FALSE(session_.Get(server_.Url("/big"), body_,
                            [&](std::int64_t, std::int64_t) { ++progress_calls; },
                            {false, 1048576}));
  EXPECT_EQ(Error(session_), "response too large (2000000 bytes)");
  EXPECT_EQ(progress_calls, 0);
  EXPECT_TRUE(body_.empty());
}

TEST_F(HttpSessionTest, BodyWithoutLengthIsCheckedAgainstTheLimitWhileReading) {
  server_.Serve("/over", Response::WithoutLength(PatternBody(1048577)));
  server_.Serve("/exact", Response::WithoutLength(PatternBody(1048576)));
  EXPECT_FALSE(session_.Get(server_.Url("/over"), body_, nullptr, {false, 1048576}));
  EXPECT_EQ(Error(session_), "response too large (> 1048576 bytes)");
  EXPECT_LE(body_.size(), 1048576u);

  std::int64_t total = 0;
  ASSERT_TRUE(session_.Get(server_.Url("/exact"), body_,
                           [&](std::int64_t, std::int64_t t) { total = t; }, {false, 1048576}))
      << Error(session_);
  EXPECT_EQ(body_.size(), 1048576u);
  EXPECT_EQ(total, -1);
}

TEST_F(HttpSessionTest, InvalidUrlsNeverReachTheNetwork) {
  const std::string port = std::to_string(server_.port());
  const std::string urls[] = {
      "ftp://127.0.0.1:" + port + "/x",
      "http:///x",
      "http://:" + port + "/x",
      "/x",
      "x",
      "",
  };
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    EXPECT_FALSE(session_.Get(Utf8ToWide(url), body_, nullptr, {}));
    EXPECT_EQ(Error(session_), "invalid url");
    EXPECT_EQ(session_.Head(Utf8ToWide(url)), -1);
    EXPECT_EQ(Error(session_), "invalid url");
  }
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_EQ(server_.ConnectionCount(), 0);
}

TEST_F(HttpSessionTest, CancellationStopsTheReadLoopAtItsNextPass) {
  server_.Serve("/slow", Response::Trickle(PatternBody(64 * 1024), 1024, 20ms));
  std::atomic<bool> cancel{false};
  session_.set_cancel_flag(&cancel);
  int progress_calls = 0;
  EXPECT_FALSE(session_.Get(server_.Url("/slow"), body_,
                            [&](std::int64_t, std::int64_t) {
                              ++progress_calls;
                              cancel = true;
                            },
                            {}));
  EXPECT_EQ(Error(session_), "cancelled");
  EXPECT_EQ(progress_calls, 1);
  EXPECT_LT(body_.size(), 64u * 1024);

  // With the flag still set, nothing is sent at all.
  const std::size_t requests = server_.Requests().size();
  EXPECT_FALSE(session_.Get(server_.Url("/slow"), body_, nullptr, {}));
  EXPECT_EQ(Error(session_), "cancelled");
  EXPECT_EQ(server_.Requests().size(), requests);
}

TEST_F(HttpSessionTest, RequestsToOneHostShareOneConnection) {
  server_.ServeFiles({{"/a", "alpha"}, {"/b", "beta"}});
  ASSERT_TRUE(session_.Get(server_.Url("/a"), body_, nullptr, {})) << Error(session_);
  EXPECT_EQ(Text(body_), "alpha");
  std::string text;
  ASSERT_TRUE(session_.GetText(server_.Url("/b"), text, {})) << Error(session_);
  EXPECT_EQ(text, "beta");
  EXPECT_EQ(server_.ConnectionCount(), 1);
  for (const auto& request : server_.Requests()) EXPECT_EQ(request.connection, 1);
}

// Wine's WinHTTP reports a receive time-out with Winsock's code (10060),
// Windows and the libcurl build with 12002; the kind is the same.
TEST(HttpSessionTimeoutTest, TimeOutThenConnectAfresh) {
  LoopbackHttpServer server;
  server.Serve("/ok", Response::Ok("fine"));
  server.Serve("/silent", Response::Stall(4s));
  Response stall_mid_body = Response::Ok(PatternBody(10000));
  stall_mid_body.fault = Response::Fault::kStallAfter;
  stall_mid_body.fault_after = 500;
  stall_mid_body.delay = 4s;
  server.Serve("/stuck", stall_mid_body);
  HttpSession session(ShortTimeouts(1000));
  std::vector<std::uint8_t> body;
  struct Case {
    const char* path;
    const char* error_prefix;
  } cases[] = {
      {"/silent", "WinHTTP receive: timeout ("},
      {"/stuck", "WinHTTP read: timeout ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ASSERT_TRUE(session.Get(server.Url("/ok"), body, nullptr, {})) << Error(session);
    EXPECT_FALSE(session.Get(server.Url(c.path), body, nullptr, {}));
    EXPECT_THAT(Error(session), StartsWith(c.error_prefix));
    ASSERT_TRUE(session.Get(server.Url("/ok"), body, nullptr, {})) << Error(session);
    EXPECT_EQ(Text(body), "fine");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].connection, requests[1].connection);
    EXPECT_NE(requests[1].connection, requests[2].connection) << "a time-out forces a new connection";
    server.ClearLog();
  }
  EXPECT_EQ(server.ConnectionCount(), 3);
}

// A connect that hangs (the listener's queue is full, so the kernel drops
// the client's SYNs) fails after the connect time-out, not after the
// resolve and connect time-outs together.
TEST(HttpSessionTimeoutTest, AHangingConnectFailsAfterTheConnectTimeOut) {
  std::uint16_t port = 0;
  struct Sockets {
    std::vector<test::sock::Socket> all;
    ~Sockets() {
      for (test::sock::Socket s : all) test::sock::Close(s);
    }
  } sockets;
  sockets.all.push_back(test::sock::ListenLoopback(port));
  ASSERT_NE(sockets.all[0], test::sock::kInvalid);
  bool full = false;
  for (int i = 0; i < 1000 && !full; ++i) {
    const test::sock::Socket s = test::sock::ConnectLoopback(port, 200);
    full = s == test::sock::kInvalid;
    if (!full) sockets.all.push_back(s);
  }
  ASSERT_TRUE(full) << "the listener's queue never filled";

  HttpTimeouts timeouts = ShortTimeouts();
  timeouts.connect_ms = 1000;
  HttpSession session(timeouts);
  std::vector<std::uint8_t> body;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(session.Get(Utf8ToWide("http://127.0.0.1:" + std::to_string(port) + "/"), body,
                           nullptr, {}));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_THAT(Error(session), testing::HasSubstr(": timeout ("));
  EXPECT_GE(elapsed, 900ms);
  EXPECT_LT(elapsed, 3000ms);
}

TEST_F(HttpSessionTest, HeadGivesTheLengthOrMinusOne) {
  server_.Serve("/sized", Response::Ok(PatternBody(12345)));
  server_.Serve("/unsized", Response::WithoutLength("abc"));
  server_.Serve("/gone", Response::Status(404));
  EXPECT_EQ(session_.Head(server_.Url("/sized")), 12345);
  EXPECT_EQ(session_.last_error(), u"");
  EXPECT_EQ(session_.Head(server_.Url("/unsized")), -1);
  EXPECT_EQ(session_.last_error(), u"");
  EXPECT_EQ(session_.Head(server_.Url("/gone")), -1);
  EXPECT_EQ(Error(session_), "HTTP 404");
  const std::u16string refused =
      Utf8ToWide("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x");
  EXPECT_EQ(session_.Head(refused), -1);
  EXPECT_EQ(Error(session_), "WinHTTP connect: cannot connect (12029)");
  for (const auto& request : server_.Requests()) EXPECT_EQ(request.method, "HEAD");
}

TEST_F(HttpSessionTest, OverlongOrOddContentLengthCountsAsAbsent) {
  struct Case {
    std::string header;
    std::int64_t expected;
  } cases[] = {
      {"000000000000000000000000000000000005", -1},  // longer than the client reads
      {"0000000000000000000000000000005", 5},       // 31 characters still fit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    Response r = Response::Ok("hello");
    r.content_length = c.header;
    server_.Serve("/odd", r);
    EXPECT_EQ(session_.Head(server_.Url("/odd")), c.expected);
    ASSERT_TRUE(session_.Get(server_.Url("/odd"), body_, nullptr, {})) << Error(session_);
    EXPECT_EQ(Text(body_), "hello");
  }
}

TEST_F(HttpSessionTest, RefreshAddsNoCacheHeadersAndNothingElseChanges) {
  server_.ServeFiles({{"/cfg", "x"}});
  ASSERT_TRUE(session_.Get(server_.Url("/cfg"), body_, nullptr, {false, 0})) << Error(session_);
  ASSERT_TRUE(session_.Get(server_.Url("/cfg"), body_, nullptr, {true, 0})) << Error(session_);
  EXPECT_EQ(session_.Head(server_.Url("/cfg")), 1);
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE(i);
    const bool refresh = i == 1;
    EXPECT_EQ(requests[i].Header("Pragma"), refresh ? std::optional<std::string>("no-cache")
                                                    : std::nullopt);
    EXPECT_EQ(requests[i].Header("Cache-Control"),
              refresh ? std::optional<std::string>("no-cache") : std::nullopt);
    EXPECT_EQ(requests[i].Header("User-Agent"), "EmbLauncher/2.0");
    EXPECT_EQ(requests[i].Header("Host"), "127.0.0.1:" + std::to_string(server_.port()));
    EXPECT_EQ(requests[i].target, "/cfg");
  }
}

}  // namespace
}  // namespace emberfall
