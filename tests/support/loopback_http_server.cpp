#include "tests/support/loopback_http_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <sstream>

#include "core/text.h"

namespace emberfall::test {
namespace {

// The number the server wrote to |name| in |dir|, once it is there.
std::uint16_t WaitForNumber(const std::filesystem::path& dir, const char* name) {
  int number = 0;
  WaitUntil([&] {
    return std::filesystem::exists(dir / name) &&
           (number = std::atoi(ReadFileBytes(dir / name).c_str())) > 0;
  });
  EXPECT_GT(number, 0) << "no " << name << " from the test server: " << ReadFileBytes(dir / "err");
  return static_cast<std::uint16_t>(number);
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  const auto lower = [](unsigned char c) { return std::tolower(c); };
  for (const auto& [key, value] : headers) {
    if (std::ranges::equal(key, name, {}, lower, lower)) return value;
  }
  return std::nullopt;
}

std::string PatternBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>((i * 131 + (i >> 8) * 7 + 17) & 0xFF);
  }
  return body;
}

LoopbackHttpServer::LoopbackHttpServer()
    : dir_(ExecutableDir() / ("server-" + std::to_string(std::random_device()()))) {
  std::filesystem::create_directories(dir_);
  process_ = StartProcess(UnixProgram("python3"),
                          {EMB_TEST_SERVER_SCRIPT, "--control", UnixPath(dir_)}, {}, dir_ / "err");
  port_ = WaitForNumber(dir_, "port");
}

LoopbackHttpServer::~LoopbackHttpServer() {
  WriteFileBytes(dir_ / "stop", "");
  WaitUntil([&] { return std::filesystem::exists(dir_ / "ended"); });
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string LoopbackHttpServer::UrlUtf8(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::u16string LoopbackHttpServer::Url(std::string_view path) const {
  return Utf8ToWide(UrlUtf8(path));
}

void LoopbackHttpServer::Serve(const std::string& path, Response response) {
  ServeSequence(path, {std::move(response)});
}

void LoopbackHttpServer::ServeSequence(const std::string& path, std::vector<Response> responses) {
  Script(path, responses);
  WriteScripts();
}

void LoopbackHttpServer::ServeFiles(const std::map<std::string, std::string>& files) {
  for (const auto& [path, body] : files) Script(path, {Response::Ok(body)});
  WriteScripts();
}

void LoopbackHttpServer::Script(const std::string& path, const std::vector<Response>& responses) {
  static constexpr const char* kFaults[] = {"", "stall", "close", "reset", "trickle"};
  static constexpr char kHex[] = "0123456789abcdef";
  const auto length = [](const std::optional<std::string>& s) { return s ? "=" + *s : ""; };
  const std::string id = std::to_string(++serves_);
  std::string& script = scripts_[path];
  script.clear();
  for (const Response& r : responses) {
    std::string body;
    for (const unsigned char c : r.body) body += {kHex[c >> 4], kHex[c & 15]};
    script += path + "\t" + id + "\t" + std::to_string(r.status) + "\t" +
              body + "\t" + (r.send_content_length ? "1" : "0") + "\t" + length(r.content_length) +
              "\t" + length(r.head_content_length) + "\t" + kFaults[static_cast<int>(r.fault)] +
              "\t" + std::to_string(r.fault_after) + "\t" + std::to_string(r.delay.count()) + "\t" +
              (r.ranges ? "1" : "0");
    for (const auto& [key, value] : r.headers) script += "\t" + key + "\t" + value;
    script += "\n";
  }
}

void LoopbackHttpServer::WriteScripts() const {
  std::string all;
  for (const auto& [p, lines] : scripts_) all += lines;
  // Whole or not at all: the server reads them at any moment.
  WriteFileBytes(dir_ / "scripts.new", all);
  std::filesystem::rename(dir_ / "scripts.new", dir_ / "scripts");
}

std::vector<RecordedRequest> LoopbackHttpServer::Requests() const {
  std::string log = ReadFileBytes(dir_ / "log");
  log.resize(log.rfind('\n') + 1);  // without a line still being written
  std::istringstream lines(log.substr(std::min(log_start_, log.size())));
  std::vector<RecordedRequest> requests;
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    RecordedRequest& r = requests.emplace_back(RecordedRequest{
        f[2], f[3], {}, std::atoi(f[0].c_str()), std::atoi(f[1].c_str())});
    for (std::size_t i = 4; i + 1 < f.size(); i += 2) r.headers.emplace_back(f[i], f[i + 1]);
  }
  return requests;
}

std::size_t LoopbackHttpServer::RequestCount(std::string_view path) const {
  return static_cast<std::size_t>(std::ranges::count(Requests(), path, &RecordedRequest::target));
}

int LoopbackHttpServer::MaxGetsInFlight() const {
  int most = 0;
  for (const RecordedRequest& r : Requests()) most = std::max(most, r.gets_in_flight);
  return most;
}

void LoopbackHttpServer::ClearLog() {
  log_start_ = ReadFileBytes(dir_ / "log").rfind('\n') + 1;  // npos + 1 is 0
}

std::uint16_t LoopbackHttpServer::JammedPort() const {
  WriteFileBytes(dir_ / "jam", "");
  return WaitForNumber(dir_, "jammed");
}

}  // namespace emberfall::test
