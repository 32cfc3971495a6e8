#include "tests/support/nginx_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <sstream>
#include <thread>

#include "tests/support/test_socket.h"
#include "tests/support/unix_shell.h"

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
       << "  access_log off;\n"
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
       << "    location = /__emb_probe_" << token << " { return 204; }\n"
       << "  }\n"
       << "}\n";
  return conf.str();
}

// GETs |path| from 127.0.0.1:|port|; the status code, or 0 when nobody
// answers like an HTTP server.
int HttpStatus(int port, const std::string& path) {
  sock::Socket socket = sock::ConnectLoopback(static_cast<std::uint16_t>(port), 2000);
  if (socket == sock::kInvalid) return 0;
  const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  size_t sent = 0;
  while (sent < request.size() && sock::WaitWritable(socket, 2000) == 1) {
    const long n = sock::SendSome(socket, request.data() + sent, request.size() - sent);
    if (n < 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string reply;
  while (sent == request.size() && reply.size() < 12 && sock::WaitReadable(socket, 2000) == 1) {
    char buffer[64];
    const long n = sock::Receive(socket, buffer, sizeof(buffer));
    if (n <= 0) break;
    reply.append(buffer, static_cast<size_t>(n));
  }
  sock::Close(socket);
  if (reply.size() < 12 || reply.compare(0, 5, "HTTP/") != 0) return 0;
  return std::atoi(reply.c_str() + 9);
}

std::string NginxCommand(const std::string& dir, const std::string& extra) {
  return ShellQuote(kNginx) + " -c " + ShellQuote(dir + "/nginx.conf") + " -p " + ShellQuote(dir) +
         " -e " + ShellQuote(dir + "/error.log") + extra + " >/dev/null 2>&1";
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
  if (HttpStatus(port, "/") != 0) return false;
  const std::optional<std::string> dir = UnixPathOf(dir_.path());
  const std::optional<std::string> root_dir = UnixPathOf(root);
  if (!dir || !root_dir) return false;
  WriteFileBytes(dir_ / "nginx.conf", Conf(*dir, *root_dir, port, token_));
  std::filesystem::remove(dir_ / "nginx.pid");
  // nginx daemonizes itself, so the shell returns at once.
  if (!StartUnixShell(NginxCommand(*dir, ""))) return false;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (HttpStatus(port, "/__emb_probe_" + token_) == 204) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

void NginxServer::Stop() {
  if (port_ == 0) return;
  if (const std::optional<std::string> dir = UnixPathOf(dir_.path())) {
    StartUnixShell(NginxCommand(*dir, " -s stop"));
  }
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline &&
         HttpStatus(port_, "/__emb_probe_" + token_) != 0) {
    std::this_thread::sleep_for(50ms);
  }
  port_ = 0;
}

std::string NginxServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

}  // namespace emberfall::test
