// The libcurl transport where it has to make up for what libcurl calls
// success. (Wine's WinHTTP accepts a cut chunked body too; Windows' own does
// not, so the case is not one the Windows build can test.)
#include <gtest/gtest.h>

#include "core/text.h"
#include "net/http_session.h"
#include "tests/support/loopback_http_server.h"

namespace emberfall {
namespace {

// Without a Content-Length only the chunk framing tells a whole body from a
// cut one.
TEST(HttpTransportCurlTest, ChunkedBodyCutMidStreamIsAConnectionReset) {
  test::LoopbackHttpServer server;
  HttpSession session;
  std::vector<std::uint8_t> body;
  const std::pair<std::string, std::string> cases[] = {
      {"5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world"},
      {"5\r\nhello\r\n6\r\n wo", "WinHTTP read: connection reset (12030)"},  // inside a chunk
      {"5\r\nhello\r\n", "WinHTTP read: connection reset (12030)"},          // between chunks
  };
  for (const auto& [wire, expected] : cases) {
    SCOPED_TRACE(wire);
    test::Response chunked = test::Response::WithoutLength(wire);
    chunked.headers.emplace_back("Transfer-Encoding", "chunked");
    server.Serve("/chunked", chunked);
    const bool ok = session.Get(server.Url("/chunked"), body, nullptr, {});
    EXPECT_EQ(ok ? std::string(body.begin(), body.end()) : WideToUtf8(session.last_error()),
              expected);
  }
}

}  // namespace
}  // namespace emberfall
