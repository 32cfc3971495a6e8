#include "tests/support/nginx_server.h"

#include <gtest/gtest.h>

#include <random>

#include "core/text.h"

namespace emberfall::test {

NginxServer::NginxServer(const std::vector<std::pair<std::string, std::string>>& files)
    : dir_(ExecutableDir() / ("nginx-" + std::to_string(std::random_device()()))) {
  for (const auto& [path, bytes] : files) WriteFileBytes(dir_ / "www" / path, bytes);
  const ProcessResult started = Script({"start", UnixPath(dir_ / "www"), UnixPath(dir_ / "run")});
  port_ = LastLine(started.out);
  EXPECT_EQ(started.exit_code, 0) << "nginx did not start: " << started.err;
}

NginxServer::~NginxServer() {
  Script({"stop", UnixPath(dir_ / "run")});
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

ProcessResult NginxServer::Script(const std::vector<std::string>& args) const {
  std::vector<std::string> all{EMB_NGINX_SERVE_SCRIPT};
  all.insert(all.end(), args.begin(), args.end());
  return RunProcess(UnixProgram("bash"), all, std::chrono::seconds(30));
}

std::u16string NginxServer::Url(std::string_view path) const {
  return Utf8ToWide("http://127.0.0.1:" + port_ + std::string(path));
}

std::string NginxServer::AccessLog() const { return ReadFileBytes(dir_ / "run" / "access.log"); }

}  // namespace emberfall::test
