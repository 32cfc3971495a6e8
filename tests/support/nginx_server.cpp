#include "tests/support/nginx_server.h"

#include <gtest/gtest.h>

#include <random>

#include "core/text.h"

namespace emberfall::test {

// Under Wine the end of a Unix program is not seen: the script's output and
// nginx's pid file tell when it is done.
NginxServer::NginxServer(const std::vector<std::pair<std::string, std::string>>& files)
    : dir_(ExecutableDir() / ("nginx-" + std::to_string(std::random_device()()))) {
  for (const auto& [path, bytes] : files) WriteFileBytes(dir_ / "www" / path, bytes);
  Script({"start", UnixPath(dir_ / "www"), UnixPath(dir_ / "run")});
  WaitUntil([&] {
    const bool written = std::filesystem::exists(dir_ / "out");
    const std::string out = written ? ReadFileBytes(dir_ / "out") : "";
    if (out.ends_with('\n')) port_ = LastLine(out);
    return !port_.empty();
  });
  EXPECT_GT(std::atoi(port_.c_str()), 0) << "nginx did not start: " << ReadFileBytes(dir_ / "err");
}

NginxServer::~NginxServer() {
  Script({"stop", UnixPath(dir_ / "run")});
  WaitUntil([&] { return !std::filesystem::exists(dir_ / "run" / "nginx.pid"); });
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void NginxServer::Script(const std::vector<std::string>& args) {
  std::vector<std::string> all{EMB_NGINX_SERVE_SCRIPT};
  all.insert(all.end(), args.begin(), args.end());
  script_ = StartProcess(UnixProgram("bash"), all, dir_ / "out", dir_ / "err");
}

std::u16string NginxServer::Url(std::string_view path) const {
  return Utf8ToWide("http://127.0.0.1:" + port_ + std::string(path));
}

std::string NginxServer::AccessLog() const { return ReadFileBytes(dir_ / "run" / "access.log"); }

}  // namespace emberfall::test
