// A real nginx (Debian's) serving a folder on a free loopback port, started
// and stopped by the test. Works from the Windows build as well: Wine starts
// the Linux nginx and the test reaches it over loopback.
#ifndef EMBERFALL_TESTS_SUPPORT_NGINX_SERVER_H_
#define EMBERFALL_TESTS_SUPPORT_NGINX_SERVER_H_

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace emberfall::test {

class NginxServer {
 public:
  // Serves |root|; fails the current test (ASSERT-style via ok()) if nginx
  // does not answer within a few seconds.
  explicit NginxServer(const std::filesystem::path& root);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool ok() const { return port_ != 0; }
  // "http://127.0.0.1:<port>"
  std::string BaseUrl() const;

 private:
  bool StartOn(int port, const std::filesystem::path& root);
  void Stop();

  TempDir dir_;
  std::string token_;
  int port_ = 0;
};

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_NGINX_SERVER_H_
