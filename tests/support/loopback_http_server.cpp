#include "tests/support/loopback_http_server.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace emberfall::test {
namespace {

using namespace std::chrono_literals;

// How often blocked loops look at the stop flag.
constexpr int kPollMs = 20;
// A request head larger than this is not something a client of ours sends.
constexpr std::size_t kMaxRequestHead = 64 * 1024;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

bool ParseRequestHead(std::string_view head, RecordedRequest& request) {
  const std::size_t line_end = head.find("\r\n");
  const std::string_view line = head.substr(0, line_end);
  const std::size_t first_space = line.find(' ');
  const std::size_t second_space = line.find(' ', first_space + 1);
  if (first_space == std::string_view::npos || second_space == std::string_view::npos) {
    return false;
  }
  request.method = std::string(line.substr(0, first_space));
  request.target = std::string(line.substr(first_space + 1, second_space - first_space - 1));
  std::size_t pos = line_end == std::string_view::npos ? head.size() : line_end + 2;
  while (pos < head.size()) {
    std::size_t end = head.find("\r\n", pos);
    if (end == std::string_view::npos) end = head.size();
    const std::string_view header = head.substr(pos, end - pos);
    const std::size_t colon = header.find(':');
    if (colon != std::string_view::npos) {
      request.headers.emplace_back(std::string(Trim(header.substr(0, colon))),
                                   std::string(Trim(header.substr(colon + 1))));
    }
    pos = end + 2;
  }
  return true;
}

}  // namespace

Response Response::Ok(std::string body) {
  Response r;
  r.body = std::move(body);
  return r;
}

Response Response::Status(int status, std::string body) {
  Response r;
  r.status = status;
  r.body = std::move(body);
  return r;
}

Response Response::Truncated(std::string body, std::size_t sent) {
  Response r = Ok(std::move(body));
  r.fault = Fault::kCloseAfter;
  r.fault_after = sent;
  return r;
}

Response Response::ResetMidBody(std::string body, std::size_t sent) {
  Response r = Ok(std::move(body));
  r.fault = Fault::kResetAfter;
  r.fault_after = sent;
  return r;
}

Response Response::WithoutLength(std::string body) {
  Response r = Ok(std::move(body));
  r.send_content_length = false;
  return r;
}

Response Response::Stall(std::chrono::milliseconds delay) {
  Response r;
  r.fault = Fault::kStallBeforeHeaders;
  r.delay = delay;
  return r;
}

Response Response::Trickle(std::string body, std::size_t bytes, std::chrono::milliseconds delay) {
  Response r = Ok(std::move(body));
  r.fault = Fault::kTrickle;
  r.trickle_bytes = std::max<std::size_t>(bytes, 1);
  r.delay = delay;
  return r;
}

Response Response::Redirect(int status, std::string location) {
  Response r = Status(status);
  r.headers.emplace_back("Location", std::move(location));
  return r;
}

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoringCase(key, name)) return value;
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

LoopbackHttpServer::LoopbackHttpServer() {
  listener_ = sock::ListenLoopback(port_);
  if (listener_ == sock::kInvalid) {
    ADD_FAILURE() << "cannot listen on 127.0.0.1";
    return;
  }
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  stopping_ = true;
  if (accept_thread_.joinable()) accept_thread_.join();
  sock::Close(listener_);
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(connection_threads_);
  }
  for (std::thread& thread : threads) thread.join();
}

std::string LoopbackHttpServer::UrlUtf8(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::u16string LoopbackHttpServer::Url(std::string_view path) const {
  const std::string utf8 = UrlUtf8(path);
  return std::u16string(utf8.begin(), utf8.end());
}

void LoopbackHttpServer::Serve(const std::string& path, Response response) {
  ServeSequence(path, {std::move(response)});
}

void LoopbackHttpServer::ServeSequence(const std::string& path, std::vector<Response> responses) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_[path] = Script{std::move(responses), {}};
}

void LoopbackHttpServer::ServeFiles(const std::map<std::string, std::string>& files) {
  for (const auto& [path, body] : files) Serve(path, Response::Ok(body));
}

std::vector<RecordedRequest> LoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::size_t LoopbackHttpServer::RequestCount(std::string_view path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::size_t>(std::count_if(
      log_.begin(), log_.end(), [&](const RecordedRequest& r) { return r.target == path; }));
}

void LoopbackHttpServer::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
  max_gets_in_flight_ = 0;
}

void LoopbackHttpServer::AcceptLoop() {
  while (!stopping_) {
    if (sock::WaitReadable(listener_, kPollMs) != 1) continue;
    const sock::Socket socket = sock::Accept(listener_);
    if (socket == sock::kInvalid) continue;
    const int connection = ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    connection_threads_.emplace_back([this, socket, connection] {
      ServeConnection(socket, connection);
    });
  }
}

Response LoopbackHttpServer::Pick(const std::string& method, const std::string& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = scripts_.find(target);
  if (it == scripts_.end()) it = scripts_.find(target.substr(0, target.find('?')));
  if (it == scripts_.end() || it->second.responses.empty()) {
    return Response::Status(404, "not found");
  }
  Script& script = it->second;
  std::size_t& used = script.used[method];
  const std::size_t index = std::min(used, script.responses.size() - 1);
  ++used;
  return script.responses[index];
}

bool LoopbackHttpServer::SendAll(sock::Socket socket, std::string_view data) {
  while (!data.empty()) {
    if (stopping_) return false;
    const int ready = sock::WaitWritable(socket, kPollMs);
    if (ready < 0) return false;
    if (ready == 0) continue;
    const long sent = sock::SendSome(socket, data.data(), std::min<std::size_t>(data.size(), 1 << 20));
    if (sent < 0) return false;
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

bool LoopbackHttpServer::SleepUnlessStopping(std::chrono::milliseconds delay) {
  const auto deadline = std::chrono::steady_clock::now() + delay;
  while (std::chrono::steady_clock::now() < deadline) {
    if (stopping_) return false;
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
        std::chrono::milliseconds(kPollMs),
        std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()) + 1ms));
  }
  return !stopping_;
}

bool LoopbackHttpServer::Respond(sock::Socket socket, const std::string& method,
                                 const Response& response, bool client_wants_close,
                                 bool& keep_open) {
  using Fault = Response::Fault;
  keep_open = false;
  if (response.fault == Fault::kCloseWithoutResponse) return true;
  if (response.fault == Fault::kStallBeforeHeaders) {
    SleepUnlessStopping(response.delay);
    return true;
  }
  // A 204 carries no body and, by the protocol, no Content-Length.
  const bool has_length = response.send_content_length && response.status != 204;
  const bool close = response.close || client_wants_close || !has_length ||
                     response.fault != Fault::kNone;
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                     Reason(response.status) + "\r\n";
  if (has_length) {
    std::string length = response.content_length.value_or(std::to_string(response.body.size()));
    if (method == "HEAD" && response.head_content_length) length = *response.head_content_length;
    head += "Content-Length: " + length + "\r\n";
  }
  for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
  if (close) head += "Connection: close\r\n";
  head += "\r\n";
  if (!SendAll(socket, head)) return false;
  if (method == "HEAD" || response.status == 204) {
    keep_open = !close;
    return true;
  }
  const std::string_view body = response.body;
  switch (response.fault) {
    case Fault::kNone:
      if (!SendAll(socket, body)) return false;
      keep_open = !close;
      return true;
    case Fault::kCloseAfter:
      SendAll(socket, body.substr(0, response.fault_after));
      return true;
    case Fault::kResetAfter:
      SendAll(socket, body.substr(0, response.fault_after));
      // Let the bytes reach the client before the reset overtakes them.
      SleepUnlessStopping(100ms);
      return false;
    case Fault::kStallAfter:
      SendAll(socket, body.substr(0, response.fault_after));
      SleepUnlessStopping(response.delay);
      return true;
    case Fault::kTrickle:
      for (std::size_t pos = 0; pos < body.size(); pos += response.trickle_bytes) {
        if (pos > 0 && !SleepUnlessStopping(response.delay)) return true;
        if (!SendAll(socket, body.substr(pos, response.trickle_bytes))) return true;
      }
      return true;
    default:
      return true;
  }
}

void LoopbackHttpServer::ServeConnection(sock::Socket socket, int connection) {
  std::string buffer;
  bool reset = false;
  while (!stopping_) {
    // A TLS handshake (record type 0x16) can never become a request: close
    // at once, as an http-only server does, so an https client fails fast.
    if (!buffer.empty() && static_cast<unsigned char>(buffer[0]) == 0x16) break;
    const std::size_t head_end = buffer.find("\r\n\r\n");
    if (head_end == std::string::npos) {
      if (buffer.size() > kMaxRequestHead) break;
      const int ready = sock::WaitReadable(socket, kPollMs);
      if (ready < 0) break;
      if (ready == 0) continue;
      char chunk[8192];
      const long n = sock::Receive(socket, chunk, sizeof(chunk));
      if (n == -2) continue;
      if (n <= 0) break;
      buffer.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    RecordedRequest request;
    const bool parsed = ParseRequestHead(std::string_view(buffer).substr(0, head_end), request);
    buffer.erase(0, head_end + 4);
    if (!parsed) break;
    request.connection = connection;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(request);
    }
    const Response response = Pick(request.method, request.target);
    const std::optional<std::string> connection_header = request.Header("Connection");
    const bool client_wants_close =
        connection_header && EqualsIgnoringCase(*connection_header, "close");
    bool keep_open = false;
    const bool get = request.method == "GET";
    if (get) {
      const int now = ++gets_in_flight_;
      for (int seen = max_gets_in_flight_.load(); now > seen;) {
        if (max_gets_in_flight_.compare_exchange_weak(seen, now)) break;
      }
    }
    const bool sent = Respond(socket, request.method, response, client_wants_close, keep_open);
    if (get) --gets_in_flight_;
    if (!sent) {
      reset = response.fault == Response::Fault::kResetAfter;
      break;
    }
    if (!keep_open) break;
  }
  if (reset) {
    sock::CloseWithReset(socket);
  } else {
    sock::Close(socket);
  }
}

}  // namespace emberfall::test
