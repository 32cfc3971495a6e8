// The libcurl transport where it has to make up for what libcurl calls
// success. (Wine's WinHTTP accepts a cut chunked body too; Windows' own does
// not, so the case is not one the Windows build can test.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/text.h"
#include "net/http_session.h"
#include "tests/support/loopback_http_server.h"

namespace emberfall {
namespace {

using test::Response;

// Without a Content-Length only the chunk framing tells a whole body from a
// cut one.
TEST(HttpTransportCurlTest, ChunkedBodyCutMidStreamIsAConnectionReset) {
  test::LoopbackHttpServer server;
  HttpSession session;
  std::vector<std::uint8_t> body;
  struct Case {
    const char* name;
    std::string wire;
    bool whole;
  } cases[] = {
      {"complete", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", true},
      {"cut inside a chunk", "5\r\nhello\r\n6\r\n wo", false},
      {"cut between chunks", "5\r\nhello\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Response chunked = Response::WithoutLength(c.wire);
    chunked.headers.emplace_back("Transfer-Encoding", "chunked");
    server.Serve("/chunked", chunked);
    const bool ok = session.Get(server.Url("/chunked"), body, nullptr, {});
    const std::string error = WideToUtf8(session.last_error());
    EXPECT_EQ(ok, c.whole) << error;
    if (c.whole) {
      EXPECT_EQ(std::string(body.begin(), body.end()), "hello world");
    } else {
      EXPECT_THAT(error, testing::StartsWith("WinHTTP read: connection reset ("));
    }
  }
}

}  // namespace
}  // namespace emberfall
