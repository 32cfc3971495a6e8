// HttpSession: its own rules over a scripted transport, then real servers on
// loopback, where WinHTTP (under Wine) and libcurl must give the same results.
#include "net/http_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <limits>
#include <map>

#include "core/text.h"
#include "net/url.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using namespace std::chrono_literals;
using test::LoopbackHttpServer;
using test::PatternBody;
using test::Response;
using Fault = Response::Fault;

std::string Error(const HttpSession& session) { return WideToUtf8(session.last_error()); }

// What the transport answers, and what the session asked of it.
struct Script {
  bool open = true;
  std::map<std::string, std::uint32_t> errors;  // by call: "connect", "open", "send", ...
  int status = 200;
  std::optional<std::u16string> content_length, content_range;
  std::deque<std::string> chunks;
  std::string range_asked;
  std::function<void()> on_query;

  std::vector<std::string> connects;  // "host:port:secure"
  int opened_requests = 0, closed_requests = 0, disconnects = 0;
};

class ScriptedTransport : public HttpTransport {
 public:
  explicit ScriptedTransport(Script& script) : s_(script) {}
  bool IsOpen() const override { return s_.open; }
  bool CrackUrl(std::u16string_view url, CrackedUrl& out) const override {
    return CrackHttpUrl(url, out);
  }
  std::uint32_t Connect(const std::u16string& host, std::uint16_t port, bool secure) override {
    s_.connects.push_back(WideToUtf8(host) + ":" + std::to_string(port) + (secure ? ":s" : ":p"));
    return s_.errors["connect"];
  }
  void Disconnect() override { ++s_.disconnects; }
  std::uint32_t OpenRequest(std::u16string_view, const std::u16string&, bool, bool) override {
    s_.opened_requests += s_.errors["open"] == 0;
    return s_.errors["open"];
  }
  std::uint32_t SetRange(std::uint64_t first, std::uint64_t last) override {
    s_.range_asked = std::to_string(first) + "-" + std::to_string(last);
    return 0;
  }
  std::uint32_t Send() override { return s_.errors["send"]; }
  std::uint32_t Receive() override { return s_.errors["receive"]; }
  int StatusCode() override { return s_.status; }
  bool ContentLengthHeader(std::size_t, std::u16string& text) override {
    text = s_.content_length.value_or(u"");
    return s_.content_length.has_value();
  }
  bool ContentRangeHeader(std::size_t, std::u16string& text) override {
    text = s_.content_range.value_or(u"");
    return s_.content_range.has_value();
  }
  std::uint32_t QueryAvailable(std::uint32_t& available) override {
    if (s_.on_query) s_.on_query();
    available = s_.chunks.empty() ? 0 : static_cast<std::uint32_t>(s_.chunks.front().size());
    return s_.errors["query"];
  }
  std::uint32_t Read(std::vector<std::uint8_t>& body, std::uint32_t, std::uint32_t& read) override {
    if (s_.errors["read"] != 0) return s_.errors["read"];
    body.insert(body.end(), s_.chunks.front().begin(), s_.chunks.front().end());
    read = static_cast<std::uint32_t>(s_.chunks.front().size());
    s_.chunks.pop_front();
    return 0;
  }
  void CloseRequest() override { ++s_.closed_requests; }

 private:
  Script& s_;
};

class HttpSessionRulesTest : public testing::Test {
 protected:
  // "ok" or the failure text, the body in brackets, then each progress report.
  std::string Get(const RequestOptions& options = {}) {
    std::string progress;
    body_.assign(100, 7);
    const auto report = [&](std::int64_t received, std::int64_t total) {
      progress += " " + std::to_string(received) + "/" + std::to_string(total);
    };
    const bool ok = session_.Get(url_, body_, report, options);
    return (ok ? "ok" : Error(session_)) + " [" + std::string(body_.begin(), body_.end()) + "]" +
           progress;
  }

  Script script_;
  HttpSession session_{std::make_unique<ScriptedTransport>(script_)};
  std::vector<std::uint8_t> body_;
  const std::u16string url_ = u"http://h/x";
};

// The failure text is "WinHTTP <stage>: <kind> (<code>)".
TEST_F(HttpSessionRulesTest, AFailedCallNamesStageAndKindAndDropsTheConnection) {
  const std::tuple<std::string, std::uint32_t, std::string> cases[] = {
      {"connect", 12029, "connect: cannot connect"}, {"open", 12005, "open: error"},
      {"send", 12030, "send: connection reset"}, {"send", 12175, "send: tls/certificate failure"},
      // WinHTTP only reaches the server inside the send call.
      {"send", 12029, "connect: cannot connect"}, {"send", 12007, "connect: name not resolved"},
      {"receive", 12002, "receive: timeout"}, {"receive", 10060, "receive: timeout"},
      {"receive", 12017, "receive: cancelled"}, {"receive", 10054, "receive: connection reset"},
      {"receive", 12152, "receive: invalid server response"}, {"receive", 5, "receive: error"},
      {"receive", 12045, "receive: tls/certificate failure"}, {"receive", 12156, "receive: error"},
      {"receive", 12157, "receive: tls/certificate failure"}, {"query", 12002, "read: timeout"},
      {"read", 12030, "read: connection reset"},
  };
  for (const auto& [call, code, text] : cases) {
    SCOPED_TRACE(text);
    script_ = Script{.chunks = {"abc"}};
    script_.errors[call] = code;
    EXPECT_EQ(Get(), "WinHTTP " + text + " (" + std::to_string(code) + ") []");
    EXPECT_EQ(script_.connects.size(), 1u) << "the failure before forces a new connect";
    EXPECT_EQ(script_.opened_requests, script_.closed_requests);
  }
}

TEST_F(HttpSessionRulesTest, ReusesTheConnectionOnlyForTheSameHostPortAndScheme) {
  for (const std::u16string url : {u"http://h/a", u"http://h:80/b", u"http://H/c", u"http://H/d",
                                   u"https://H/e", u"https://H:443/f", u"http://H:8080/g",
                                   u"http://H:8080/h?x"}) {
    EXPECT_TRUE(session_.Get(url, body_, nullptr, {})) << WideToUtf8(url);
  }
  EXPECT_THAT(script_.connects, testing::ElementsAre("h:80:p", "H:80:p", "H:443:s", "H:8080:p"));
}

// Whatever is wrong with the response itself, the connection stays.
TEST_F(HttpSessionRulesTest, ResponseOutcomes) {
  const std::tuple<int, std::optional<std::u16string>, std::deque<std::string>, std::int64_t,
                   std::string>
      cases[] = {
      {200, u"6", {"ab", "cde", "f"}, 0, "ok [abcdef] 2/6 5/6 6/6"},
      {299, u"6", {"ab", "cde", "f"}, 6, "ok [abcdef] 2/6 5/6 6/6"},
      {200, u"6", {"ab", "cde", "f"}, 5, "response too large (6 bytes) []"},
      {200, std::nullopt, {"abc", "def"}, 6, "ok [abcdef] 3/-1 6/-1"},
      {200, std::nullopt, {"abc", "def"}, 5, "response too large (> 5 bytes) [abc] 3/-1"},
      {200, u"10", {"abc"}, 0, "truncated body 3/10 [abc] 3/10"},
      {199, std::nullopt, {"x"}, 0, "HTTP 199 []"},
      {300, std::nullopt, {"x"}, 0, "HTTP 300 []"},
      {0, std::nullopt, {"x"}, 0, "HTTP 0 []"},  // unreadable
  };
  for (const auto& [status, length, chunks, limit, expected] : cases) {
    SCOPED_TRACE(expected);
    script_.status = status;
    script_.content_length = length;
    script_.chunks = chunks;
    EXPECT_EQ(Get({false, limit}), expected);
  }
  EXPECT_EQ(script_.connects.size(), 1u);
  EXPECT_EQ(script_.disconnects, 0);
}

// The flag is read at every pass of the read loop and when a call fails (the
// cancel then explains the failure); neither drops the connection.
TEST_F(HttpSessionRulesTest, CancelStopsTheRequestAndKeepsTheConnection) {
  std::atomic<bool> cancel{false};
  session_.set_cancel_flag(&cancel);
  for (const std::uint32_t error : {0u, 12017u}) {
    SCOPED_TRACE(error);
    cancel = false;
    script_.chunks = {"abc", "def", "ghi"};
    script_.on_query = [&, error] {
      if (script_.chunks.size() != 2) return;
      cancel = true;
      script_.errors["query"] = error;
    };
    EXPECT_EQ(Get(), error ? "cancelled [abc] 3/-1" : "cancelled [abcdef] 3/-1 6/-1");
  }
  EXPECT_EQ(script_.disconnects, 0);
  // A request started while the flag is set touches nothing.
  const int opened = script_.opened_requests;
  EXPECT_EQ(Get(), "cancelled []");
  EXPECT_EQ(script_.opened_requests, opened);
}

// A failed GetText leaves the text alone.
TEST_F(HttpSessionRulesTest, GetTextAndAnUnavailableSession) {
  std::string text = "previous";
  script_.status = 500;
  EXPECT_FALSE(session_.GetText(url_, text, {}) || text != "previous") << text;
  script_.open = false;
  EXPECT_EQ(session_.Head(url_), -1);
  EXPECT_EQ(Get(), "WinHTTP session unavailable []");
  EXPECT_EQ(script_.opened_requests, 1);
}

TEST(ParseContentRangeTest, AcceptsOnlyTheOneSpelling) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"bytes 0-0/1", "0-0/1"}, {u"bytes 100-199/1000", "100-199/1000"},
      {u"bytes 5-9/*", "5-9/-1"},
      {u"bytes 0-9223372036854775806/9223372036854775807",
       "0-9223372036854775806/9223372036854775807"},
      {u"bytes 0-9223372036854775807/*", "-"}, {u"bytes 0-1/9223372036854775808", "-"},
      {u"bytes 18446744073709551617-1/2", "-"}, {u"bytes 1-0/5", "-"}, {u"bytes 0-5/5", "-"},
      {u"bytes 01-5/9", "-"}, {u"Bytes 0-1/2", "-"}, {u"bytes  0-1/2", "-"}, {u"bytes 0-1/2 ", "-"},
      {u"bytes -1/2", "-"}, {u"bytes 0-/2", "-"}, {u"bytes 0-1/", "-"}, {u"bytes 0-1", "-"},
      {u"bytes +0-1/2", "-"}, {u"bytes 0-1/2/3", "-"}, {u"bytes */5", "-"}, {u"", "-"},
  };
  for (const auto& [text, expected] : cases) {
    ContentRange r;
    EXPECT_EQ(ParseContentRange(text, r) ? std::to_string(r.first) + "-" + std::to_string(r.last) +
                                               "/" + std::to_string(r.total)
                                         : "-",
              expected)
        << WideToUtf8(text);
  }
}

TEST(ParseContentLengthTest, ReadsLeadingDecimalDigits) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const std::pair<std::u16string, std::int64_t> cases[] = {
      {u"4096", 4096}, {u" \t12", 12}, {u"12abc", 12}, {u"+7", 7},  {u"-0", 0},    {u"-5", -1},
      {u"abc", -1},    {u"", -1},       {u"+", -1},     {u" ", -1},  {u"1 2", 1},   {u"0x10", 0},
      {u"9223372036854775807", kMax},   {u"99999999999999999999", kMax},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(WideToUtf8(text));
    EXPECT_EQ(ParseContentLength(text), expected);
  }
}

// Each way a request can end; the session stays usable after every failure.
TEST(HttpSessionTest, Outcomes) {
  LoopbackHttpServer server;
  HttpSession session{HttpTimeouts{5000, 5000, 5000, 5000}};
  std::vector<std::uint8_t> body;
  // The failure text, or "ok", the body (PatternBody as its size), the last progress.
  const auto get = [&](const std::string& url, const RequestOptions& options = {}) {
    std::string progress;
    body.assign(3, 1);
    const auto report = [&](std::int64_t received, std::int64_t total) {
      progress = " " + std::to_string(received) + "/" + std::to_string(total);
    };
    if (!session.Get(Utf8ToWide(url), body, report, options)) return Error(session);
    const std::string text(body.begin(), body.end());
    const bool pattern = text.size() > 16 && text == PatternBody(text.size());
    return "ok " + (pattern ? "pattern " + std::to_string(text.size()) : text) + progress;
  };
  // s_server serves one connection or quits after 60 s: Wine cannot stop a Unix program.
  const test::TempDir tls_dir;
  const auto openssl = test::StartProcess(
      test::UnixProgram("timeout"),
      {"60", "openssl", "s_server", "-accept", "127.0.0.1:0", "-naccept", "1", "-cert",
       test::UnixPath(test::TestDataPath("tls/self_signed_cert.pem")), "-key",
       test::UnixPath(test::TestDataPath("tls/self_signed_key.pem"))},
      tls_dir / "log", tls_dir / "err");
  std::string tls;
  test::WaitUntil([&] {
    const std::string log = openssl ? test::ReadFileBytes(tls_dir / "log") : "";
    const std::size_t at = log.find("ACCEPT "), end = log.find('\n', at);
    if (end != std::string::npos) tls = "https://" + log.substr(at + 7, end - at - 7);
    return !openssl || !tls.empty();
  });
  ASSERT_NE(tls, "") << "openssl s_server did not start";
  const std::string port = std::to_string(server.port());
  const std::string refused = LoopbackHttpServer().UrlUtf8("/");  // its port is free again
  // Wine's WinHTTP accepts a cut chunked body (Windows' own does not).
  const std::string cut = test::IsWindowsBuild() ? "" : "WinHTTP read: connection reset (12030)";
  const auto chunked = [](std::string wire) {
    return Response{.body = std::move(wire), .headers = {{"Transfer-Encoding", "chunked"}},
                    .send_content_length = false};
  };
  // A path on |server|, or a whole URL.
  const std::tuple<std::string, Response, RequestOptions, std::string> cases[] = {
      {"/file", Response::Ok(PatternBody(307207)), {}, "ok pattern 307207 307207/307207"},
      {"/empty", Response::Status(204), {}, "ok "},
      {"/old", {.status = 302, .headers = {{"Location", "/new"}}}, {}, "ok arrived 7/7"},
      {"/short", {.body = PatternBody(4096), .fault = Fault::kCloseAfter, .fault_after = 1000}, {},
       "truncated body 1000/4096"},
      // WinHTTP passes Winsock's code through under Wine (10054).
      {"/reset", {.body = PatternBody(65536), .fault = Fault::kResetAfter, .fault_after = 1000}, {},
       "WinHTTP read: connection reset ("},
      {"/hangup", Response::Stall(0ms), {}, "WinHTTP receive: invalid server response (12152)"},
      // Only the chunk framing tells a cut body from a whole one; libcurl calls it success.
      {"/whole", chunked("5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"), {}, "ok hello world 11/-1"},
      {"/cut1", chunked("5\r\nhello\r\n6\r\n wo"), {}, cut},
      {"/cut2", chunked("5\r\nhello\r\n"), {}, cut},
      // The client reads a Content-Length of up to 31 characters, no longer.
      {"/odd31", {.body = "hi", .content_length = std::string(30, '0') + "2"}, {}, "ok hi 2/2"},
      {"/odd36", {.body = "hi", .content_length = std::string(35, '0') + "2"}, {}, "ok hi 2/-1"},
      {"/fresh", Response::Ok("x"), {true, 0}, "ok x 1/1"},
      {refused, {}, {}, "WinHTTP connect: cannot connect (12029)"},
      {tls + "/x", {}, {}, "WinHTTP send: tls/certificate failure ("},
      {"ftp://127.0.0.1:" + port + "/x", {}, {}, "invalid url"},
      {"http://:" + port + "/x", {}, {}, "invalid url"},
  };
  server.Serve("/new", Response::Ok("arrived"));
  for (const auto& [path, response, options, expected] : cases) {
    if (expected.empty()) continue;
    SCOPED_TRACE(path);
    const bool local = path.starts_with('/');
    if (local) server.Serve(path, response);
    const std::string outcome = get(local ? server.UrlUtf8(path) : path, options);
    // An expectation ending in "(" leaves out the platform's error code.
    EXPECT_EQ(expected.ends_with('(') ? outcome.substr(0, expected.size()) : outcome, expected);
    EXPECT_EQ(get(server.UrlUtf8("/new")), "ok arrived 7/7");
  }
  for (const test::RecordedRequest& r : server.Requests()) {
    SCOPED_TRACE(r.target);
    const std::string cache = r.target == "/fresh" ? "no-cache" : "";
    EXPECT_EQ(r.Header("Pragma").value_or("") + "," + r.Header("Cache-Control").value_or("") + "," +
                  r.Header("User-Agent").value_or("") + "," + r.Header("Host").value_or(""),
              cache + "," + cache + ",EmbLauncher/2.0,127.0.0.1:" + port);
  }
}

// Each time-out ends its request after its own time, not the sum of them. A
// connect hangs on a full listen queue: the kernel drops the client's SYNs.
TEST(HttpSessionTimeoutTest, EachTimeOutEndsTheRequestAfterItsOwnTime) {
  LoopbackHttpServer server;
  server.Serve("/ok", Response::Ok("fine"));
  server.Serve("/silent", Response::Stall(4s));
  server.Serve("/stuck", {.body = PatternBody(10000), .fault = Fault::kCloseAfter,
                          .fault_after = 500, .delay = 4s});
  HttpSession session(HttpTimeouts{5000, 1000, 5000, 1000});
  std::vector<std::uint8_t> body;
  const std::pair<std::string, std::string> cases[] = {
      {server.UrlUtf8("/silent"), "WinHTTP receive: timeout ("},
      {server.UrlUtf8("/stuck"), "WinHTTP read: timeout ("},
      {"http://127.0.0.1:" + std::to_string(server.JammedPort()) + "/", ": timeout ("},
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
}

// Ranges from nginx, as mirrors serve them, and from servers that get them
// wrong. A whole file sent instead is refused before its body is read; the
// session stays usable after each failure.
TEST(HttpSessionRangeTest, Outcomes) {
  const std::string file = PatternBody(100000);
  const test::NginxServer nginx({{"f.bin", file}});
  LoopbackHttpServer plain;
  const auto range = [&](const char* text) {  // ten bytes announced, four sent
    return Response{.status = 206, .body = file.substr(5, 10), .headers = {{"Content-Range", text}},
                    .fault = Fault::kCloseAfter, .fault_after = 4};
  };
  plain.Serve("/whole", Response::Trickle(file, 2000, 50ms));  // 2.5 s to its end
  plain.Serve("/other", range("bytes 0-9/100000"));
  plain.Serve("/short", range("bytes 5-14/100000"));
  plain.Serve("/long", {.status = 206, .body = file.substr(5, 11),
                        .headers = {{"Content-Range", "bytes 5-14/*"}}});
  HttpSession session{HttpTimeouts{5000, 5000, 5000, 5000}};
  const std::tuple<std::u16string, std::uint64_t, std::uint64_t, std::string> cases[] = {
      {nginx.Url("/f.bin"), 0, 10, "ok of 100000"},
      {nginx.Url("/f.bin"), 12345, 50000, "ok of 100000"},
      {nginx.Url("/f.bin"), 99999, 1, "ok of 100000"}, {nginx.Url("/f.bin"), 100000, 5, "HTTP 416"},
      {nginx.Url("/f.bin"), 99990, 20, "range mismatch (bytes 99990-99999/100000)"},
      {nginx.Url("/f.bin"), 0, 0, "invalid range"},
      {plain.Url("/whole"), 5, 10, "range not honoured (HTTP 200)"},
      {plain.Url("/other"), 5, 10, "range mismatch (bytes 0-9/100000)"},
      {plain.Url("/short"), 5, 10, "truncated body 4/10"},
      {plain.Url("/long"), 5, 10, "range mismatch (Content-Length 11)"},
  };
  std::vector<std::uint8_t> body;
  for (const auto& [url, offset, length, expected] : cases) {
    SCOPED_TRACE(WideToUtf8(url) + " " + std::to_string(offset));
    std::int64_t total = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = session.GetRange(url, offset, length, body, nullptr, &total, {});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_EQ(ok ? "ok of " + std::to_string(total) : Error(session), expected);
    EXPECT_TRUE(!ok || std::string(body.begin(), body.end()) == file.substr(offset, length));
    EXPECT_TRUE(session.GetRange(nginx.Url("/f.bin"), 7, 3, body, nullptr, nullptr, {}));
  }
  const auto asked = [](const test::RecordedRequest& r) { return r.Header("Range").value_or(""); };
  EXPECT_EQ(std::ranges::count(plain.Requests(), std::string("bytes=5-14"), asked), 4);
  EXPECT_THAT(nginx.AccessLog(), testing::HasSubstr("GET /f.bin 416"));
}

}  // namespace
}  // namespace emberfall
