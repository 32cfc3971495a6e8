// An https server on 127.0.0.1 whose certificate is self-signed (OpenSSL's
// s_server with tests/data/tls), for checking that clients refuse it. It
// serves at most one connection and ends by itself within a minute, so
// nothing outlives a test even where it cannot be killed (under Wine).
#ifndef EMBERFALL_TESTS_SUPPORT_TLS_TEST_SERVER_H_
#define EMBERFALL_TESTS_SUPPORT_TLS_TEST_SERVER_H_

#include <cstdint>
#include <string>

#include "tests/support/test_support.h"

namespace emberfall::test {

class SelfSignedTlsServer {
 public:
  // Starts the server and waits (at most 20 s) until it accepts. Check
  // started() before use; |why_not| tells what failed.
  SelfSignedTlsServer();
  // Releases a server that was never connected to.
  ~SelfSignedTlsServer();
  SelfSignedTlsServer(const SelfSignedTlsServer&) = delete;
  SelfSignedTlsServer& operator=(const SelfSignedTlsServer&) = delete;

  bool started() const { return started_; }
  const std::string& why_not() const { return why_not_; }
  // "https://127.0.0.1:<port>" + |path|.
  std::u16string Url(const std::string& path) const;

 private:
  TempDir dir_;
  std::uint16_t port_ = 0;
  bool started_ = false;
  std::string why_not_;
};

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_TLS_TEST_SERVER_H_
