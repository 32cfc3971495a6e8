// libcurl transport: the stand-in for WinHTTP on Linux. One easy handle on a
// multi handle that this class drives itself, so that every wait has the
// WinHTTP phase time-out and the body can be pulled chunk by chunk the way
// WinHttpQueryDataAvailable/WinHttpReadData deliver it. How libcurl's
// results become WinHTTP codes: curl_error_map.cpp.
#include <curl/curl.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/text.h"
#include "net/curl_error_map.h"
#include "net/curl_handles_posix.h"
#include "net/http_header_line.h"
#include "net/http_transport.h"
#include "net/url.h"

namespace emberfall {
namespace {

namespace e = winhttp_error;
using Clock = std::chrono::steady_clock;
using curl::kInternalError;
using curl::kNotEnoughMemory;

// WinHTTP's default for WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS.
constexpr int kMaxRedirects = 10;
// Bytes received ahead of the reader before the transfer is paused.
constexpr std::size_t kPendingLimit = 1024 * 1024;
constexpr long kReceiveBufferSize = 512 * 1024;
// How often a connection attempt is looked at while no socket event comes:
// the connect time-out is kept to this much.
constexpr int kConnectPollMs = 50;

// A large body reserved up front is first touched 4 KiB at a time as it
// arrives, and on some machines those page faults cost more than receiving
// the bytes. Huge pages cut them 512-fold where the kernel leaves that to the
// program (transparent huge pages in "madvise" mode); elsewhere this is a
// harmless hint.
void AdviseHugePages(std::vector<std::uint8_t>& body) {
  constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;
  if (body.capacity() - body.size() < 2 * kHugePage) return;
  const auto free_begin = reinterpret_cast<std::uintptr_t>(body.data() + body.size());
  const auto free_end = reinterpret_cast<std::uintptr_t>(body.data() + body.capacity());
  const std::uintptr_t first = (free_begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = free_end & ~(kHugePage - 1);
  if (first < last) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// WinHttpOpenRequest escapes what cannot travel in a request line; the same
// bytes are escaped here, on the UTF-8 form.
std::string EscapeObject(const std::u16string& object) {
  const std::string utf8 = WideToUtf8(object);
  std::string out;
  out.reserve(utf8.size());
  static const char kHex[] = "0123456789ABCDEF";
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// The operator's NO_PROXY list plus loopback, which never goes through a
// proxy (WinHTTP's automatic configuration bypasses local addresses too).
std::string NoProxyList() {
  std::string list = "localhost,127.0.0.1,::1";
  for (const char* name : {"NO_PROXY", "no_proxy"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      list += ",";
      list += value;
      break;
    }
  }
  return list;
}

bool GlobalInit() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ok;
}

class CurlTransport final : public HttpTransport {
 public:
  explicit CurlTransport(const HttpTimeouts& timeouts) : timeouts_(timeouts) {
    if (!GlobalInit()) return;
    multi_.reset(curl_multi_init());
    easy_.reset(curl_easy_init());
    if (!multi_ || !easy_) {
      Cleanup();
      return;
    }
    // The client keeps one connection, like the session's single handle.
    curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, 1L);
    no_proxy_ = NoProxyList();
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
      ok = ok && curl_easy_setopt(easy_.get(), option, value) == CURLE_OK;
    };
    set(CURLOPT_USERAGENT, "EmbLauncher/2.0");
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // libcurl has one time-out for resolving and connecting together; it
    // bounds both phases here, and StartTransfer gives the connect phase its
    // own share, counted from the end of resolution as WinHTTP counts it.
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.resolve_ms + timeouts_.connect_ms));
    set(CURLOPT_SOCKOPTFUNCTION, &CurlTransport::OnSocketOpened);
    set(CURLOPT_SOCKOPTDATA, this);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    set(CURLOPT_NOPROXY, no_proxy_.c_str());
    set(CURLOPT_WRITEFUNCTION, &CurlTransport::OnBody);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_HEADERFUNCTION, &CurlTransport::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    if (!ok) Cleanup();
  }

  ~CurlTransport() override { Cleanup(); }

  bool IsOpen() const override { return easy_.is_valid(); }

  bool CrackUrl(std::u16string_view url, CrackedUrl& out) const override {
    return CrackHttpUrl(url, out);
  }

  std::uint32_t Connect(const std::u16string& host, std::uint16_t port, bool secure) override {
    CloseRequest();
    host_ = WideToUtf8(host);
    port_ = port;
    secure_ = secure;
    return 0;
  }

  void Disconnect() override {
    CloseRequest();
    fresh_connect_ = true;
  }

  std::uint32_t OpenRequest(std::u16string_view verb, const std::u16string& object, bool,
                            bool refresh) override {
    CloseRequest();
    head_ = verb == u"HEAD";
    url_ = std::string(secure_ ? "https://" : "http://") + host_ + ":" + std::to_string(port_) +
           EscapeObject(object);
    headers_.reset();
    // WinHTTP sends no Accept header without accept types, and these two
    // for WINHTTP_FLAG_REFRESH.
    if (!curl::Append(headers_, "Accept:") ||
        (refresh && (!curl::Append(headers_, "Pragma: no-cache") ||
                     !curl::Append(headers_, "Cache-Control: no-cache")))) {
      headers_.reset();
      return kNotEnoughMemory;
    }
    redirects_ = 0;
    return 0;
  }

  std::uint32_t SetRange(std::uint64_t first, std::uint64_t last) override {
    const std::string line = "Range: bytes=" + std::to_string(first) + "-" + std::to_string(last);
    return curl::Append(headers_, line.c_str()) ? 0 : kNotEnoughMemory;
  }

  std::uint32_t Send() override { return StartTransfer(); }

  std::uint32_t Receive() override {
    for (;;) {
      if (const std::uint32_t code = WaitFor(timeouts_.receive_ms, [this] { return headers_done_; })) {
        return code;
      }
      if (!headers_done_) return Failure();
      std::string next;
      if (!FollowableRedirect(next)) return 0;
      if (++redirects_ > kMaxRedirects) return e::kRedirectFailed;
      // Drain the redirect's own body so its connection can carry the next
      // request, then go again.
      discarding_ = true;
      if (const std::uint32_t code = WaitFor(timeouts_.receive_ms, [] { return false; })) {
        return code;
      }
      if (const std::uint32_t code = Failure()) return code;
      url_ = next;
      if (const std::uint32_t code = StartTransfer()) return code;
    }
  }

  int StatusCode() override { return headers_done_ ? status_ : 0; }

  bool ContentLengthHeader(std::size_t max_units, std::u16string& text) override {
    return HeaderText(content_length_, max_units, text);
  }

  bool ContentRangeHeader(std::size_t max_units, std::u16string& text) override {
    return HeaderText(content_range_, max_units, text);
  }

  void SetBodySink(std::vector<std::uint8_t>* body, std::int64_t limit) override {
    sink_ = body;
    sink_limit_ = limit;
    direct_ = 0;
    if (body != nullptr) AdviseHugePages(*body);
  }

  std::uint32_t QueryAvailable(std::uint32_t& available) override {
    available = 0;
    // Bytes appended to the sink arrived before anything staged later.
    if (direct_ == 0 && pending_pos_ == pending_.size()) {
      pending_.clear();
      pending_pos_ = 0;
      if (paused_) {
        paused_ = false;
        // Hands the chunk held back at the pause to OnBody again.
        if (curl_easy_pause(easy_.get(), CURLPAUSE_CONT) != CURLE_OK) return kInternalError;
      }
      if (direct_ == 0 && pending_.empty()) {
        if (const std::uint32_t code = WaitFor(
                timeouts_.receive_ms, [this] { return direct_ > 0 || !pending_.empty() || paused_; })) {
          return code;
        }
      }
      if (out_of_memory_) return kNotEnoughMemory;
      if (direct_ == 0 && pending_.empty()) return Failure();
    }
    const std::size_t ready = direct_ > 0 ? direct_ : pending_.size() - pending_pos_;
    available = static_cast<std::uint32_t>(std::min<std::size_t>(ready, UINT32_MAX));
    return 0;
  }

  std::uint32_t Read(std::vector<std::uint8_t>& body, std::uint32_t size,
                     std::uint32_t& read) override {
    if (direct_ > 0) {
      // Already at the end of |body| (the sink).
      read = static_cast<std::uint32_t>(std::min<std::size_t>(size, direct_));
      direct_ -= read;
      return 0;
    }
    const std::size_t count = std::min<std::size_t>(size, pending_.size() - pending_pos_);
    const auto first = pending_.begin() + static_cast<std::ptrdiff_t>(pending_pos_);
    body.insert(body.end(), first, first + static_cast<std::ptrdiff_t>(count));
    pending_pos_ += count;
    read = static_cast<std::uint32_t>(count);
    return 0;
  }

  void CloseRequest() override {
    // Removing an unfinished transfer makes libcurl close its connection,
    // as WinHTTP does when a request handle is closed with data unread.
    Detach();
    SetBodySink(nullptr, -1);
  }

 private:
  bool HeaderText(const std::optional<std::string>& header, std::size_t max_units,
                  std::u16string& text) const {
    if (!headers_done_ || !header) return false;
    std::u16string value = Utf8ToWideLenient(*header);
    if (value.size() > max_units) return false;
    text = std::move(value);
    return true;
  }

  // Takes the transfer off the multi handle and forgets its response.
  void Detach() {
    if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
    attached_ = false;
    ResetResponse();
    pending_.clear();
    pending_pos_ = 0;
    paused_ = false;
  }

  void Cleanup() {
    if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
    attached_ = false;
    easy_.reset();
    multi_.reset();
    headers_.reset();
  }

  void ResetResponse() {
    done_ = false;
    out_of_memory_ = false;
    result_ = CURLE_OK;
    headers_done_ = false;
    discarding_ = false;
    status_ = 0;
    content_length_.reset();
    content_range_.reset();
  }

  std::uint32_t StartTransfer() {
    Detach();
    bool ok = curl_easy_setopt(easy_.get(), CURLOPT_URL, url_.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_.get(), CURLOPT_HTTPHEADER, headers_.get()) == CURLE_OK;
    if (head_) {
      ok = ok && curl_easy_setopt(easy_.get(), CURLOPT_NOBODY, 1L) == CURLE_OK;
    } else {
      ok = ok && curl_easy_setopt(easy_.get(), CURLOPT_HTTPGET, 1L) == CURLE_OK;
    }
    ok = ok && curl_easy_setopt(easy_.get(), CURLOPT_FRESH_CONNECT, fresh_connect_ ? 1L : 0L) == CURLE_OK;
    if (!ok) return kInternalError;
    fresh_connect_ = false;
    connect_began_.reset();
    if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) return kInternalError;
    attached_ = true;
    // Sending is done once libcurl has connected and begun the request.
    const int send_ms = timeouts_.resolve_ms + timeouts_.connect_ms + timeouts_.send_ms;
    bool connect_overdue = false;
    if (const std::uint32_t code = WaitFor(
            send_ms,
            [this, &connect_overdue] {
              connect_overdue = ConnectOverdue();
              return connect_overdue || RequestStarted();
            },
            kConnectPollMs)) {
      return code;
    }
    if (connect_overdue) return e::kTimeout;
    // A transfer that already failed after its request went out failed
    // while waiting for the response, which WinHTTP reports from the
    // receive call; leave it to Receive.
    if (RequestStarted()) return 0;
    return Failure();
  }

  // True once a connection attempt has run for the connect time-out without
  // the connection being established. A reused connection opens no socket
  // and is never overdue.
  bool ConnectOverdue() const {
    if (!connect_began_) return false;
    curl_off_t connected = 0;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK &&
        connected > 0) {
      return false;
    }
    return Clock::now() - *connect_began_ >= std::chrono::milliseconds(timeouts_.connect_ms);
  }

  bool RequestStarted() const {
    curl_off_t pretransfer = 0;
    return curl_easy_getinfo(easy_.get(), CURLINFO_PRETRANSFER_TIME_T, &pretransfer) == CURLE_OK &&
           pretransfer > 0;
  }

  // The mapped result of a finished transfer, 0 while it runs or when it
  // ended without an error.
  std::uint32_t Failure() const {
    if (!done_) return 0;
    if (result_ == CURLE_PARTIAL_FILE && content_length_) return 0;
    long verify_result = 0;
    if (result_ == CURLE_PEER_FAILED_VERIFICATION) {
      curl_easy_getinfo(easy_.get(), CURLINFO_SSL_VERIFYRESULT, &verify_result);
    }
    return curl::WinHttpCodeOf(result_, verify_result);
  }

  // WinHTTP's default policy: follow, except from https to http.
  bool FollowableRedirect(std::string& next) const {
    if (!IsRedirect(status_)) return false;
    char* location = nullptr;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_REDIRECT_URL, &location) != CURLE_OK ||
        location == nullptr) {
      return false;
    }
    next = location;
    const bool to_https = next.size() >= 8 && curl_strnequal(next.c_str(), "https://", 8);
    const bool to_http = next.size() >= 7 && curl_strnequal(next.c_str(), "http://", 7);
    if (!to_https && !to_http) return false;
    const bool from_https = url_.compare(0, 8, "https://") == 0;
    return !(from_https && to_http);
  }

  // Drives the transfer until |ready| holds, the transfer ends, or |wait_ms|
  // pass without either (a time-out). Returns 0 or a WinHTTP code.
  template <typename Ready>
  std::uint32_t WaitFor(int wait_ms, Ready ready, int poll_ms = 1000) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
      int running = 0;
      if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) return kInternalError;
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy_.get()) {
          done_ = true;
          result_ = message->data.result;
        }
      }
      if (done_ || ready()) return 0;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return e::kTimeout;
      curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(std::min<long long>(left, poll_ms)),
                      nullptr);
    }
  }

  // Called for each socket libcurl opens, after the host name is resolved
  // and before it connects.
  static int OnSocketOpened(void* self_ptr, curl_socket_t, curlsocktype purpose) noexcept {
    auto* self = static_cast<CurlTransport*>(self_ptr);
    if (purpose == CURLSOCKTYPE_IPCXN && !self->connect_began_) {
      self->connect_began_ = Clock::now();
    }
    return CURL_SOCKOPT_OK;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self_ptr) {
    auto* self = static_cast<CurlTransport*>(self_ptr);
    const std::string_view line(data, size * count);
    const int status = ParseStatusLine(line);
    if (status >= 0) {
      self->status_ = status;
      self->content_length_.reset();
      self->content_range_.reset();
      self->headers_done_ = false;
    } else if (IsEndOfHeaders(line)) {
      // Interim (1xx) responses are followed by the real one.
      if (self->status_ >= 200) self->headers_done_ = true;
    } else {
      // The first of each counts, as WinHTTP reads them.
      std::string_view value;
      if (!self->content_length_ && MatchHeaderLine(line, "Content-Length", value)) {
        self->content_length_ = std::string(value);
      } else if (!self->content_range_ && MatchHeaderLine(line, "Content-Range", value)) {
        self->content_range_ = std::string(value);
      }
    }
    return size * count;
  }

  // No exception may cross back into libcurl's C code.
  static size_t OnBody(char* data, size_t size, size_t count, void* self_ptr) noexcept {
    auto* self = static_cast<CurlTransport*>(self_ptr);
    const size_t bytes = size * count;
    if (self->discarding_) return bytes;
    // As bytes of the body's own type, so that inserting them is one memmove
    // rather than a converting loop.
    const auto* bytes_begin = reinterpret_cast<const std::uint8_t*>(data);
    const auto* bytes_end = bytes_begin + bytes;
    const bool staged = self->pending_pos_ < self->pending_.size();
    try {
      // Straight into the caller's buffer when nothing is staged before
      // these bytes and they fit the caller's limit; libcurl's own read loop
      // bounds how far this runs ahead of the reader.
      if (!staged && self->sink_ != nullptr &&
          (self->sink_limit_ < 0 ||
           self->sink_->size() + bytes <= static_cast<std::uint64_t>(self->sink_limit_))) {
        self->sink_->insert(self->sink_->end(), bytes_begin, bytes_end);
        self->direct_ += bytes;
        return bytes;
      }
      if (self->direct_ + (self->pending_.size() - self->pending_pos_) >= kPendingLimit) {
        // Far enough ahead of the reader: libcurl holds the chunk until
        // QueryAvailable resumes the transfer.
        self->paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
      }
      if (!staged) {
        self->pending_.clear();
        self->pending_pos_ = 0;
      }
      self->pending_.insert(self->pending_.end(), bytes_begin, bytes_end);
    } catch (...) {
      self->out_of_memory_ = true;
      return 0;
    }
    return bytes;
  }

  HttpTimeouts timeouts_;
  // Freed by Cleanup in this order: the easy handle, its multi handle, the
  // header list it was given.
  curl::Multi multi_;
  curl::Easy easy_;
  curl::HeaderList headers_;
  std::string no_proxy_;
  std::string host_;
  std::uint16_t port_ = 0;
  bool secure_ = false;
  bool fresh_connect_ = false;
  std::optional<Clock::time_point> connect_began_;
  std::string url_;
  bool head_ = false;
  int redirects_ = 0;
  bool attached_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  bool headers_done_ = false;
  bool discarding_ = false;
  int status_ = 0;
  std::optional<std::string> content_length_;
  std::optional<std::string> content_range_;
  bool out_of_memory_ = false;
  std::vector<std::uint8_t>* sink_ = nullptr;
  std::int64_t sink_limit_ = -1;
  std::size_t direct_ = 0;
  std::vector<std::uint8_t> pending_;
  std::size_t pending_pos_ = 0;
  bool paused_ = false;
};

}  // namespace

std::unique_ptr<HttpTransport> CreatePlatformTransport(const HttpTimeouts& timeouts) {
  return std::make_unique<CurlTransport>(timeouts);
}

}  // namespace emberfall
