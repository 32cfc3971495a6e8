#include "tests/support/tls_test_server.h"

#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/test_socket.h"
#include "tests/support/unix_shell.h"

namespace emberfall::test {
namespace {

std::string ReadIfExists(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

SelfSignedTlsServer::SelfSignedTlsServer() {
  // A port that was free a moment ago; s_server binds it right after.
  const sock::Socket probe = sock::ListenLoopback(port_);
  if (probe == sock::kInvalid) {
    why_not_ = "no free port";
    return;
  }
  sock::Close(probe);

  const auto cert = UnixPathOf(TestDataPath("tls/self_signed_cert.pem"));
  const auto key = UnixPathOf(TestDataPath("tls/self_signed_key.pem"));
  const auto ready = UnixPathOf(dir_ / "server.log");
  if (!cert || !key || !ready) {
    why_not_ = "no Unix paths for the test files";
    return;
  }
  const std::string script =
      "cd / && (exec timeout 60 openssl s_server -accept 127.0.0.1:" + std::to_string(port_) +
      " -cert " + ShellQuote(*cert) + " -key " + ShellQuote(*key) + " -naccept 1) > " +
      ShellQuote(*ready) + " 2>&1 < /dev/null &";
  if (!StartUnixShell(script)) {
    why_not_ = "cannot start /bin/sh";
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string log = ReadIfExists(dir_ / "server.log");
    if (log.find("ACCEPT") != std::string::npos) {
      started_ = true;
      return;
    }
    if (log.find("rror") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  why_not_ = "openssl s_server did not start: " + ReadIfExists(dir_ / "server.log");
}

SelfSignedTlsServer::~SelfSignedTlsServer() {
  if (!started_) return;
  // One connection ends the server; if the test already made it, nobody
  // is listening any more and this fails harmlessly.
  const sock::Socket socket = sock::ConnectLoopback(port_, 1000);
  sock::Close(socket);
}

std::u16string SelfSignedTlsServer::Url(const std::string& path) const {
  const std::string url = "https://127.0.0.1:" + std::to_string(port_) + path;
  return std::u16string(url.begin(), url.end());
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace emberfall::test
