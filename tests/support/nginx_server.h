// Debian's nginx serving a folder on 127.0.0.1 through tools/nginx-serve.sh:
// the server that answers Range requests as real patch mirrors do.
#ifndef EMBERFALL_TESTS_SUPPORT_NGINX_SERVER_H_
#define EMBERFALL_TESTS_SUPPORT_NGINX_SERVER_H_

#include "tests/support/test_support.h"

namespace emberfall::test {

class NginxServer {
 public:
  // Serves |files| (relative path -> bytes); fails the current test when
  // nginx does not start. The destructor stops it.
  explicit NginxServer(const std::vector<std::pair<std::string, std::string>>& files);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // "http://127.0.0.1:<port>" + |path|.
  std::u16string Url(std::string_view path) const;
  // The access log, one "METHOD URI STATUS" line a request.
  std::string AccessLog() const;

 private:
  // Starts tools/nginx-serve.sh with |args|; its output goes to out and err.
  void Script(const std::vector<std::string>& args);

  std::filesystem::path dir_;  // beside the executables: on drive Z: under Wine
  std::string port_;
  std::unique_ptr<ChildProcess> script_;  // the last one started
};

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_NGINX_SERVER_H_
