#include "tests/support/nginx_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace emberfall::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kNginx = "/usr/sbin/nginx";

std::string Conf(const std::string& dir, const std::string& root, int port, const std::string& token) {
  std::ostringstream conf;
  conf << "daemon on;\n"
       << "master_process off;\n"
       << "pid " << dir << "/nginx.pid;\n"
       << "error_log " << dir << "/error.log warn;\n"
       << "events { worker_connections 256; }\n"
       << "http {\n"
       << "  log_format emb '$request_method $request_uri $status';\n"
       << "  access_log " << dir << "/access.log emb;\n"
       << "  client_body_temp_path " << dir << "/tmp/body;\n"
       << "  proxy_temp_path " << dir << "/tmp/proxy;\n"
       << "  fastcgi_temp_path " << dir << "/tmp/fastcgi;\n"
       << "  uwsgi_temp_path " << dir << "/tmp/uwsgi;\n"
       << "  scgi_temp_path " << dir << "/tmp/scgi;\n"
       << "  default_type application/octet-stream;\n"
       << "  sendfile on;\n"
       << "  keepalive_requests 100000;\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << port << ";\n"
       << "    root " << root << ";\n"
       << "    location = /__emb_probe_" << token << " { access_log off; return 204; }\n"
       << "  }\n"
       << "}\n";
  return conf.str();
}

}  // namespace

NginxServer::NginxServer(const std::filesystem::path& root) {
  std::random_device random;
  token_ = std::to_string(random()) + std::to_string(random());
  std::filesystem::create_directories(dir_.path() / "tmp");
  std::mt19937 ports(random());
  for (int attempt = 0; attempt < 20 && port_ == 0; ++attempt) {
    const int port = 20000 + static_cast<int>(ports() % 40000);
    if (StartOn(port, root)) port_ = port;
  }
  EXPECT_NE(port_, 0) << "nginx did not start; log: " << ReadFileBytes(dir_ / "error.log");
}

NginxServer::~NginxServer() { Stop(); }

bool NginxServer::StartOn(int port, const std::filesystem::path& root) {
  // Someone else answering there means the port is taken.
  if (nginx_platform::HttpStatus(port, "/") != 0) return false;
  const std::string dir = nginx_platform::UnixPath(dir_.path());
  WriteFileBytes(dir_ / "nginx.conf", Conf(dir, nginx_platform::UnixPath(root), port, token_));
  std::filesystem::remove(dir_ / "nginx.pid");
  nginx_platform::RunUnixProgram(
      {kNginx, "-c", dir + "/nginx.conf", "-p", dir, "-e", dir + "/error.log"});
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (nginx_platform::HttpStatus(port, "/__emb_probe_" + token_) == 204) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

void NginxServer::Stop() {
  if (port_ == 0) return;
  const std::string dir = nginx_platform::UnixPath(dir_.path());
  nginx_platform::RunUnixProgram(
      {kNginx, "-c", dir + "/nginx.conf", "-p", dir, "-e", dir + "/error.log", "-s", "stop"});
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline &&
         nginx_platform::HttpStatus(port_, "/__emb_probe_" + token_) != 0) {
    std::this_thread::sleep_for(50ms);
  }
  port_ = 0;
}

std::string NginxServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> NginxServer::Requests() const {
  std::ifstream in(dir_ / "access.log");
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

void NginxServer::ClearRequests() {
  // nginx keeps its descriptor and appends; truncating in place keeps that valid.
  std::ofstream(dir_ / "access.log", std::ios::trunc).close();
}

}  // namespace emberfall::test
