// The session's own rules over a scripted transport: error texts, the
// connection cache, limits, cancellation and Content-Length text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <limits>
#include <map>

#include "core/text.h"
#include "net/http_session.h"
#include "net/url.h"

namespace emberfall {
namespace {

// What the transport answers, and what the session asked of it.
struct Script {
  bool open = true;
  std::map<std::string, std::uint32_t> errors;  // by call: "connect", "open", "send", ...
  int status = 200;
  std::optional<std::u16string> content_length;
  std::deque<std::string> chunks;
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
  std::uint32_t Send() override { return s_.errors["send"]; }
  std::uint32_t Receive() override { return s_.errors["receive"]; }
  int StatusCode() override { return s_.status; }
  bool ContentLengthHeader(std::size_t, std::u16string& text) override {
    text = s_.content_length.value_or(u"");
    return s_.content_length.has_value();
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
    const bool ok = session_.Get(url_, body_,
                                 [&](std::int64_t received, std::int64_t total) {
                                   progress += " " + std::to_string(received) + "/" +
                                               std::to_string(total);
                                 },
                                 options);
    return (ok ? "ok" : WideToUtf8(session_.last_error())) + " [" +
           std::string(body_.begin(), body_.end()) + "]" + progress;
  }

  Script script_;
  HttpSession session_{std::make_unique<ScriptedTransport>(script_)};
  std::vector<std::uint8_t> body_;
  const std::u16string url_ = u"http://h/x";
};

TEST_F(HttpSessionRulesTest, AFailedCallNamesStageAndKindAndDropsTheConnection) {
  struct Case {
    std::string call;
    std::uint32_t code;
    std::string text;
  } cases[] = {
      {"connect", 12029, "WinHTTP connect: cannot connect (12029)"},
      {"open", 12005, "WinHTTP open: error (12005)"},
      {"send", 12030, "WinHTTP send: connection reset (12030)"},
      // WinHTTP only reaches the server inside the send call.
      {"send", 12029, "WinHTTP connect: cannot connect (12029)"},
      {"send", 12007, "WinHTTP connect: name not resolved (12007)"},
      {"send", 12175, "WinHTTP send: tls/certificate failure (12175)"},
      {"receive", 12002, "WinHTTP receive: timeout (12002)"},
      {"receive", 10060, "WinHTTP receive: timeout (10060)"},
      {"receive", 12017, "WinHTTP receive: cancelled (12017)"},
      {"receive", 10054, "WinHTTP receive: connection reset (10054)"},
      {"receive", 12152, "WinHTTP receive: invalid server response (12152)"},
      {"receive", 12045, "WinHTTP receive: tls/certificate failure (12045)"},
      {"receive", 12157, "WinHTTP receive: tls/certificate failure (12157)"},
      {"receive", 12156, "WinHTTP receive: error (12156)"},
      {"receive", 5, "WinHTTP receive: error (5)"},
      {"query", 12002, "WinHTTP read: timeout (12002)"},
      {"read", 12030, "WinHTTP read: connection reset (12030)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    script_ = Script{.chunks = {"abc"}};
    script_.errors[c.call] = c.code;
    EXPECT_EQ(Get(), c.text + " []");
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
  struct Case {
    int status;
    std::optional<std::u16string> length;
    std::deque<std::string> chunks;
    std::int64_t limit;
    std::string expected;
  } cases[] = {
      {200, u"6", {"ab", "cde", "f"}, 0, "ok [abcdef] 2/6 5/6 6/6"},
      {299, u"6", {"ab", "cde", "f"}, 6, "ok [abcdef] 2/6 5/6 6/6"},
      {200, u"6", {"ab", "cde", "f"}, 5, "response too large (6 bytes) []"},
      {200, std::nullopt, {"abc", "def"}, 6, "ok [abcdef] 3/-1 6/-1"},
      {200, std::nullopt, {"abc", "def"}, 5, "response too large (> 5 bytes) [abc] 3/-1"},
      {200, u"10", {"abc"}, 0, "truncated body 3/10 [abc] 3/10"},
      {204, std::nullopt, {}, 0, "ok []"},
      {199, std::nullopt, {"x"}, 0, "HTTP 199 []"},
      {300, std::nullopt, {"x"}, 0, "HTTP 300 []"},
      {404, std::nullopt, {"x"}, 0, "HTTP 404 []"},
      {0, std::nullopt, {"x"}, 0, "HTTP 0 []"},  // unreadable
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    script_.status = c.status;
    script_.content_length = c.length;
    script_.chunks = c.chunks;
    EXPECT_EQ(Get({false, c.limit}), c.expected);
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

TEST_F(HttpSessionRulesTest, GetTextHeadAndAnUnavailableSession) {
  std::string text = "previous";
  script_.status = 500;
  EXPECT_FALSE(session_.GetText(url_, text, {}));
  EXPECT_EQ(text, "previous");
  script_ = Script{.content_length = u"3", .chunks = {"new"}};
  EXPECT_TRUE(session_.GetText(url_, text, {}));
  EXPECT_EQ(text, "new");
  EXPECT_EQ(session_.Head(url_), 3);
  script_.open = false;
  EXPECT_EQ(session_.Head(url_), -1);
  EXPECT_EQ(session_.last_error(), u"WinHTTP session unavailable");
  EXPECT_EQ(Get(), "WinHTTP session unavailable []");
  EXPECT_EQ(script_.opened_requests, 2);
}

TEST(ParseContentLengthTest, ReadsLeadingDecimalDigits) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const std::pair<std::u16string, std::int64_t> cases[] = {
      {u"0", 0},   {u"4096", 4096}, {u" \t12", 12}, {u"12abc", 12}, {u"+7", 7},
      {u"-0", 0},  {u"-5", -1},     {u"abc", -1},   {u"", -1},      {u"+", -1},
      {u" ", -1},  {u"1 2", 1},     {u"0x10", 0},   {u"9223372036854775807", kMax},
      {u"99999999999999999999", kMax},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(WideToUtf8(text));
    EXPECT_EQ(ParseContentLength(text), expected);
  }
}

}  // namespace
}  // namespace emberfall
