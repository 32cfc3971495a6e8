// The session's own rules over a scripted transport: error classification,
// the connection cache, cancellation at a failed call, Content-Length text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <limits>

#include "core/text.h"
#include "net/http_session.h"
#include "net/url.h"

namespace emberfall {
namespace {

// Everything the session asked of the transport, and what to answer.
struct Script {
  bool open = true;
  std::uint32_t connect_error = 0, open_error = 0, send_error = 0, receive_error = 0;
  std::uint32_t query_error = 0, read_error = 0;
  int status = 200;
  bool has_content_length = false;
  std::u16string content_length;
  std::deque<std::string> chunks;
  std::function<void()> on_query;

  std::vector<std::string> connects;  // "host:port:secure"
  int opened_requests = 0;
  int closed_requests = 0;
  int disconnects = 0;
};

class ScriptedTransport : public HttpTransport {
 public:
  explicit ScriptedTransport(Script& script) : s_(script) {}
  bool IsOpen() const override { return s_.open; }
  bool CrackUrl(std::u16string_view url, CrackedUrl& out) const override {
    return CrackHttpUrl(url, out);
  }
  std::uint32_t Connect(const std::u16string& host, std::uint16_t port, bool secure) override {
    s_.connects.push_back(WideToUtf8(host) + ":" + std::to_string(port) + ":" +
                          (secure ? "s" : "p"));
    return s_.connect_error;
  }
  void Disconnect() override { ++s_.disconnects; }
  std::uint32_t OpenRequest(std::u16string_view, const std::u16string&, bool, bool) override {
    if (s_.open_error == 0) ++s_.opened_requests;
    return s_.open_error;
  }
  std::uint32_t Send() override { return s_.send_error; }
  std::uint32_t Receive() override { return s_.receive_error; }
  int StatusCode() override { return s_.status; }
  bool ContentLengthHeader(std::size_t max_units, std::u16string& text) override {
    if (!s_.has_content_length || s_.content_length.size() > max_units) return false;
    text = s_.content_length;
    return true;
  }
  std::uint32_t QueryAvailable(std::uint32_t& available) override {
    if (s_.on_query) s_.on_query();
    if (s_.query_error != 0) return s_.query_error;
    available = s_.chunks.empty() ? 0 : static_cast<std::uint32_t>(s_.chunks.front().size());
    return 0;
  }
  std::uint32_t Read(std::vector<std::uint8_t>& body, std::uint32_t size,
                     std::uint32_t& read) override {
    if (s_.read_error != 0) return s_.read_error;
    const std::string chunk = s_.chunks.front();
    s_.chunks.pop_front();
    read = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(chunk.size()));
    body.insert(body.end(), chunk.begin(), chunk.begin() + read);
    return 0;
  }
  void CloseRequest() override { ++s_.closed_requests; }

 private:
  Script& s_;
};

class HttpSessionRulesTest : public testing::Test {
 protected:
  HttpSession session_{std::make_unique<ScriptedTransport>(script_)};
  Script script_;
  std::vector<std::uint8_t> body_;
  const std::u16string url_ = u"http://h/x";
};

TEST_F(HttpSessionRulesTest, ClassifiesPlatformCodesAndDropsTheConnection) {
  struct Case {
    std::uint32_t code;
    const char* text;
  } cases[] = {
      {12002, "WinHTTP receive: timeout (12002)"},
      {10060, "WinHTTP receive: timeout (10060)"},
      {12007, "WinHTTP receive: name not resolved (12007)"},
      {12017, "WinHTTP receive: cancelled (12017)"},
      {12029, "WinHTTP receive: cannot connect (12029)"},
      {12030, "WinHTTP receive: connection reset (12030)"},
      {10054, "WinHTTP receive: connection reset (10054)"},
      {12152, "WinHTTP receive: invalid server response (12152)"},
      {12175, "WinHTTP receive: tls/certificate failure (12175)"},
      {12045, "WinHTTP receive: tls/certificate failure (12045)"},
      {12157, "WinHTTP receive: tls/certificate failure (12157)"},
      {12156, "WinHTTP receive: error (12156)"},
      {5, "WinHTTP receive: error (5)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    script_.receive_error = c.code;
    const std::size_t connects_before = script_.connects.size();
    EXPECT_FALSE(session_.Get(url_, body_, nullptr, {}));
    EXPECT_EQ(WideToUtf8(session_.last_error()), c.text);
    EXPECT_EQ(script_.connects.size(), connects_before + 1) << "each failure forces a new connect";
  }
  EXPECT_EQ(script_.opened_requests, script_.closed_requests);
}

TEST_F(HttpSessionRulesTest, NamesTheStageThatFailed) {
  struct Case {
    std::uint32_t Script::*field;
    std::uint32_t code;
    const char* text;
  } cases[] = {
      {&Script::connect_error, 12029, "WinHTTP connect: cannot connect (12029)"},
      {&Script::open_error, 12005, "WinHTTP open: error (12005)"},
      {&Script::send_error, 12030, "WinHTTP send: connection reset (12030)"},
      // WinHTTP only reaches the server inside the send call.
      {&Script::send_error, 12029, "WinHTTP connect: cannot connect (12029)"},
      {&Script::send_error, 12007, "WinHTTP connect: name not resolved (12007)"},
      {&Script::send_error, 12175, "WinHTTP send: tls/certificate failure (12175)"},
      {&Script::receive_error, 12002, "WinHTTP receive: timeout (12002)"},
      {&Script::query_error, 12002, "WinHTTP read: timeout (12002)"},
      {&Script::read_error, 12030, "WinHTTP read: connection reset (12030)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    script_ = Script{};
    script_.chunks = {"abc"};
    script_.*c.field = c.code;
    EXPECT_FALSE(session_.Get(url_, body_, nullptr, {}));
    EXPECT_EQ(WideToUtf8(session_.last_error()), c.text);
    EXPECT_EQ(script_.opened_requests, script_.closed_requests);
  }
}

TEST_F(HttpSessionRulesTest, ReusesTheConnectionOnlyForTheSameHostPortAndScheme) {
  script_.status = 200;
  const std::u16string urls[] = {
      u"http://h/a",   u"http://h:80/b", u"http://H/c",     u"http://H/d",
      u"https://H/e",  u"https://H:443/f", u"http://H:8080/g", u"http://H:8080/h?x",
  };
  for (const std::u16string& url : urls) {
    SCOPED_TRACE(WideToUtf8(url));
    EXPECT_TRUE(session_.Get(url, body_, nullptr, {})) << WideToUtf8(session_.last_error());
  }
  EXPECT_THAT(script_.connects,
              testing::ElementsAre("h:80:p", "H:80:p", "H:443:s", "H:8080:p"));
}

TEST_F(HttpSessionRulesTest, StatusLimitAndTruncationFailuresKeepTheConnection) {
  script_.status = 404;
  EXPECT_FALSE(session_.Get(url_, body_, nullptr, {}));
  EXPECT_EQ(session_.last_error(), u"HTTP 404");
  script_.status = 0;  // unreadable
  EXPECT_FALSE(session_.Get(url_, body_, nullptr, {}));
  EXPECT_EQ(session_.last_error(), u"HTTP 0");
  script_.status = 200;
  script_.has_content_length = true;
  script_.content_length = u"10";
  script_.chunks = {"abc"};
  EXPECT_FALSE(session_.Get(url_, body_, nullptr, {}));
  EXPECT_EQ(session_.last_error(), u"truncated body 3/10");
  EXPECT_FALSE(session_.Get(url_, body_, nullptr, {false, 5}));
  EXPECT_EQ(session_.last_error(), u"response too large (10 bytes)");
  EXPECT_EQ(script_.connects.size(), 1u);
  EXPECT_EQ(script_.disconnects, 0);
}

TEST_F(HttpSessionRulesTest, CancelDuringAFailedCallKeepsTheConnection) {
  std::atomic<bool> cancel{false};
  session_.set_cancel_flag(&cancel);
  script_.chunks = {"abc", "def"};
  script_.on_query = [&] {
    if (script_.chunks.size() == 1) {
      cancel = true;
      script_.query_error = 12017;
    }
  };
  EXPECT_FALSE(session_.Get(url_, body_, nullptr, {}));
  EXPECT_EQ(session_.last_error(), u"cancelled");
  EXPECT_EQ(script_.disconnects, 0);

  // A request started while the flag is set touches nothing.
  const int opened = script_.opened_requests;
  EXPECT_FALSE(session_.Get(url_, body_, nullptr, {}));
  EXPECT_EQ(session_.last_error(), u"cancelled");
  EXPECT_EQ(script_.opened_requests, opened);
}

TEST_F(HttpSessionRulesTest, UnavailableSessionFailsEveryRequest) {
  script_.open = false;
  EXPECT_FALSE(session_.Get(url_, body_, nullptr, {}));
  EXPECT_EQ(session_.last_error(), u"WinHTTP session unavailable");
  EXPECT_EQ(session_.Head(url_), -1);
  EXPECT_EQ(session_.last_error(), u"WinHTTP session unavailable");
  EXPECT_TRUE(script_.connects.empty());
}

TEST_F(HttpSessionRulesTest, ProgressReportsEveryReadAgainstTheAnnouncedLength) {
  script_.has_content_length = true;
  script_.content_length = u"6";
  script_.chunks = {"ab", "cde", "f"};
  std::vector<std::pair<std::int64_t, std::int64_t>> calls;
  // A body of exactly the limit is allowed.
  EXPECT_TRUE(session_.Get(url_, body_, [&](std::int64_t r, std::int64_t t) { calls.emplace_back(r, t); },
                           {false, 6}));
  EXPECT_EQ(std::string(body_.begin(), body_.end()), "abcdef");
  EXPECT_THAT(calls, testing::ElementsAre(testing::Pair(2, 6), testing::Pair(5, 6),
                                          testing::Pair(6, 6)));
}

TEST_F(HttpSessionRulesTest, RequestEmptiesTheBodyAndGetTextKeepsTextOnFailure) {
  body_.assign(100, 7);
  script_.status = 500;
  EXPECT_FALSE(session_.Get(url_, body_, nullptr, {}));
  EXPECT_TRUE(body_.empty());
  std::string text = "previous";
  EXPECT_FALSE(session_.GetText(url_, text, {}));
  EXPECT_EQ(text, "previous");
  script_.status = 200;
  script_.chunks = {"new"};
  EXPECT_TRUE(session_.GetText(url_, text, {}));
  EXPECT_EQ(text, "new");
}

TEST(ParseContentLengthTest, ReadsLeadingDecimalDigits) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  struct Case {
    std::u16string text;
    std::int64_t expected;
  } cases[] = {
      {u"0", 0},         {u"4096", 4096},     {u" \t12", 12},          {u"12abc", 12},
      {u"+7", 7},        {u"-0", 0},          {u"-5", -1},             {u"abc", -1},
      {u"", -1},         {u"+", -1},          {u" ", -1},              {u"1 2", 1},
      {u"9223372036854775807", kMax},         {u"99999999999999999999", kMax},
      {u"0x10", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.text));
    EXPECT_EQ(ParseContentLength(c.text), c.expected);
  }
}

}  // namespace
}  // namespace emberfall
