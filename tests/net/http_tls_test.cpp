// Certificates are always checked: a server with a self-signed certificate
// is refused, whatever it would serve.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/text.h"
#include "net/http_session.h"
#include "tests/support/tls_test_server.h"

namespace emberfall {
namespace {

TEST(HttpTlsTest, SelfSignedCertificateIsRefused) {
  test::SelfSignedTlsServer server;
  ASSERT_TRUE(server.started()) << server.why_not();
  HttpTimeouts timeouts;
  timeouts.receive_ms = timeouts.send_ms = 10000;
  HttpSession session(timeouts);
  std::vector<std::uint8_t> body;
  EXPECT_FALSE(session.Get(server.Url("/new/emb.launcher.config.xml"), body, nullptr, {true, 0}));
  EXPECT_THAT(WideToUtf8(session.last_error()),
              testing::StartsWith("WinHTTP send: tls/certificate failure ("));
  EXPECT_TRUE(body.empty());
}

}  // namespace
}  // namespace emberfall
