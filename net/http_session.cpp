#include "net/http_session.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "core/text.h"

namespace emberfall {
namespace {

// Room for 31 UTF-16 units and a terminator: a longer Content-Length is not
// a number the client believes.
constexpr std::size_t kContentLengthUnits = 31;

// Reserving from an announced length is a performance aid; a hostile or
// broken server must not make it allocate gigabytes before sending a byte.
constexpr std::int64_t kMaxUpfrontReserve = std::int64_t{1} << 30;

bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string Decimal(std::int64_t value) { return ToWideDecimal(value); }

// A Content-Range worth quoting in a failure text is short; a longer one is
// no range this client asked for.
constexpr std::size_t kContentRangeUnits = 80;

constexpr std::uint64_t kMaxOffset = std::numeric_limits<std::int64_t>::max();

}  // namespace

struct HttpSession::RangeAsked {
  std::uint64_t first = 0;
  std::uint64_t length = 0;
  std::int64_t total = -1;
};

bool ParseContentRange(std::u16string_view text, ContentRange& out) {
  constexpr std::u16string_view kUnit = u"bytes ";
  if (!text.starts_with(kUnit)) return false;
  text.remove_prefix(kUnit.size());
  const std::size_t dash = text.find(u'-');
  const std::size_t slash = text.find(u'/');
  if (dash == std::u16string_view::npos || slash == std::u16string_view::npos || slash < dash) {
    return false;
  }
  const auto first = ParseUnsignedDecimal(text.substr(0, dash), kMaxOffset);
  // The range's length, last + 1, is a 64-bit signed value too.
  const auto last = ParseUnsignedDecimal(text.substr(dash + 1, slash - dash - 1), kMaxOffset - 1);
  if (!first || !last || *first > *last) return false;
  const std::u16string_view total_text = text.substr(slash + 1);
  out.first = *first;
  out.last = *last;
  out.total = -1;
  if (total_text == u"*") return true;
  const auto total = ParseUnsignedDecimal(total_text, kMaxOffset);
  if (!total || *last >= *total) return false;
  out.total = static_cast<std::int64_t>(*total);
  return true;
}

std::int64_t ParseContentLength(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  // A longer run saturates; what follows the digits is ignored.
  const DecimalDigits digits = ReadDecimalDigits(text.substr(i), static_cast<std::uint64_t>(kMax));
  if (digits.length == 0) return -1;
  const auto value = static_cast<std::int64_t>(digits.value);
  if (negative && value != 0) return -1;
  return value;
}

const char* HttpErrorKind(std::uint32_t code) {
  namespace e = winhttp_error;
  switch (code) {
    case e::kTimeout:
    case e::kWsaTimedOut:
      return "timeout";
    case e::kNameNotResolved:
      return "name not resolved";
    case e::kOperationCancelled:
      return "cancelled";
    case e::kCannotConnect:
      return "cannot connect";
    case e::kConnectionError:
    case e::kWsaConnectionAborted:
    case e::kWsaConnectionReset:
      return "connection reset";
    case e::kInvalidServerResponse:
      return "invalid server response";
    // WinHTTP reports certificate problems under several codes (an unknown
    // CA is 12045 on Windows, a failed handshake 12157 under Wine); all of
    // them are the one failure callers need to recognise.
    case e::kSecureCertDateInvalid:
    case e::kSecureCertCnInvalid:
    case e::kSecureInvalidCa:
    case e::kSecureCertRevFailed:
    case e::kSecureChannelError:
    case e::kSecureInvalidCert:
    case e::kSecureCertRevoked:
    case e::kSecureFailure:
    case e::kSecureCertWrongUsage:
      return "tls/certificate failure";
    default:
      return "error";
  }
}

HttpSession::HttpSession(const HttpTimeouts& timeouts)
    : HttpSession(CreatePlatformTransport(timeouts)) {}

HttpSession::HttpSession(std::unique_ptr<HttpTransport> transport)
    : transport_(std::move(transport)) {}

HttpSession::~HttpSession() {
  DropConnection();
  transport_.reset();
}

bool HttpSession::Cancelled() const {
  return (cancel_flag_ != nullptr && cancel_flag_->load()) ||
         (abort_flag_ != nullptr && abort_flag_->load());
}

bool HttpSession::Fail(std::u16string text) {
  last_error_ = std::move(text);
  return false;
}

void HttpSession::DropConnection() {
  if (connected_ && transport_) transport_->Disconnect();
  connected_ = false;
  connected_host_.clear();
  connected_port_ = 0;
  connected_secure_ = false;
}

bool HttpSession::PlatformFailure(const char* stage, std::uint32_t code) {
  if (Cancelled()) return Fail(u"cancelled");
  DropConnection();
  return Fail(u"WinHTTP " + Widen(stage) + u": " + Widen(HttpErrorKind(code)) + u" (" +
              ToWideDecimalUnsigned(code) + u")");
}

bool HttpSession::Request(const std::u16string& url, const char16_t* verb,
                          std::vector<std::uint8_t>* body, const ProgressFn& progress,
                          std::int64_t* content_length_out, const RequestOptions& options) {
  return Perform(url, verb, body, progress, content_length_out, options, nullptr);
}

bool HttpSession::GetRange(const std::u16string& url, std::uint64_t offset, std::uint64_t length,
                           std::vector<std::uint8_t>& body, const ProgressFn& progress,
                           std::int64_t* total_out, const RequestOptions& options) {
  if (total_out != nullptr) *total_out = -1;
  RangeAsked range{offset, length, -1};
  bool ok = false;
  if (length == 0 || offset > kMaxOffset || length > kMaxOffset - offset) {
    last_error_ = u"invalid range";
    body.clear();
  } else {
    ok = Perform(url, u"GET", &body, progress, nullptr, options, &range);
  }
  if (ok && total_out != nullptr) *total_out = range.total;
  return ok;
}

bool HttpSession::Perform(const std::u16string& url, const char16_t* verb,
                          std::vector<std::uint8_t>* body, const ProgressFn& progress,
                          std::int64_t* content_length_out, const RequestOptions& options,
                          RangeAsked* range) {
  last_error_.clear();
  if (content_length_out != nullptr) *content_length_out = -1;
  if (body != nullptr) body->clear();
  try {
    return RunRequest(url, verb, body, progress, content_length_out, options, range);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  // A body the process cannot hold fails the request like any other
  // failure: the network layer never throws at its callers.
  if (body != nullptr) {
    body->clear();
    body->shrink_to_fit();
  }
  return Fail(u"out of memory");
}

bool HttpSession::RunRequest(const std::u16string& url, const char16_t* verb,
                             std::vector<std::uint8_t>* body, const ProgressFn& progress,
                             std::int64_t* content_length_out, const RequestOptions& options,
                             RangeAsked* range) {
  if (Cancelled()) return Fail(u"cancelled");
  if (!transport_ || !transport_->IsOpen()) return Fail(u"WinHTTP session unavailable");

  CrackedUrl target;
  if (!transport_->CrackUrl(url, target) || target.host.empty()) return Fail(u"invalid url");
  if (target.port == 0) target.port = target.secure ? 443 : 80;
  if (target.object.empty() || target.object.front() != u'/') target.object.insert(0, u"/");

  if (!connected_ || connected_host_ != target.host || connected_port_ != target.port ||
      connected_secure_ != target.secure) {
    DropConnection();
    if (const std::uint32_t code = transport_->Connect(target.host, target.port, target.secure)) {
      return PlatformFailure("connect", code);
    }
    connected_ = true;
    connected_host_ = target.host;
    connected_port_ = target.port;
    connected_secure_ = target.secure;
  }

  if (const std::uint32_t code =
          transport_->OpenRequest(verb, target.object, target.secure, options.refresh)) {
    return PlatformFailure("open", code);
  }
  struct RequestCloser {
    HttpTransport* transport;
    ~RequestCloser() { transport->CloseRequest(); }
  } closer{transport_.get()};
  if (range != nullptr) {
    if (const std::uint32_t code =
            transport_->SetRange(range->first, range->first + range->length - 1)) {
      return PlatformFailure("open", code);
    }
  }

  if (const std::uint32_t code = transport_->Send()) {
    // WinHTTP opens the TCP connection inside the send call; a host that
    // cannot be found or reached is a connect failure to whoever reads it.
    const bool reaching = code == winhttp_error::kCannotConnect ||
                          code == winhttp_error::kNameNotResolved;
    return PlatformFailure(reaching ? "connect" : "send", code);
  }
  if (const std::uint32_t code = transport_->Receive()) return PlatformFailure("receive", code);

  const int status = transport_->StatusCode();
  if (status < 200 || status > 299) return Fail(u"HTTP " + Decimal(status));

  std::int64_t length = -1;
  std::u16string header;
  if (transport_->ContentLengthHeader(kContentLengthUnits, header)) {
    length = ParseContentLength(header);
  }
  if (content_length_out != nullptr) *content_length_out = length;

  if (range != nullptr) {
    // Closing the request unread (the closer) drops a whole resource sent
    // instead of the range without waiting for its body.
    if (!CheckRangeAnswer(status, length, *range)) return false;
    // The range's length stands for the announced one: a body shorter than
    // the range is truncated, one longer is too large, even without a
    // Content-Length.
    const auto asked = static_cast<std::int64_t>(range->length);
    RequestOptions bounded = options;
    bounded.max_bytes = options.max_bytes >= 1 ? std::min(options.max_bytes, asked) : asked;
    return ReadBody(*body, asked, progress, bounded);
  }
  if (body == nullptr || std::u16string_view(verb) == u"HEAD") return true;
  return ReadBody(*body, length, progress, options);
}

bool HttpSession::CheckRangeAnswer(int status, std::int64_t content_length, RangeAsked& range) {
  if (status != 206) return Fail(u"range not honoured (HTTP " + Decimal(status) + u")");
  std::u16string header;
  if (!transport_->ContentRangeHeader(kContentRangeUnits, header)) {
    return Fail(u"range mismatch (no Content-Range)");
  }
  ContentRange got;
  if (!ParseContentRange(header, got) || got.first != range.first ||
      got.last != range.first + range.length - 1) {
    return Fail(u"range mismatch (" + header + u")");
  }
  if (content_length >= 0 && static_cast<std::uint64_t>(content_length) != range.length) {
    return Fail(u"range mismatch (Content-Length " + Decimal(content_length) + u")");
  }
  range.total = got.total;
  return true;
}

bool HttpSession::ReadBody(std::vector<std::uint8_t>& body, std::int64_t length,
                           const ProgressFn& progress, const RequestOptions& options) {
  const bool limited = options.max_bytes >= 1;
  if (limited && length > options.max_bytes) {
    return Fail(u"response too large (" + Decimal(length) + u" bytes)");
  }
  if (length > 0) {
    body.reserve(static_cast<std::size_t>(std::min(length, kMaxUpfrontReserve)));
  }

  struct SinkReset {
    HttpTransport* transport;
    ~SinkReset() { transport->SetBodySink(nullptr, -1); }
  } sink_reset{transport_.get()};
  transport_->SetBodySink(&body, limited ? options.max_bytes : -1);

  std::int64_t received = 0;
  for (;;) {
    if (Cancelled()) return Fail(u"cancelled");
    std::uint32_t available = 0;
    if (const std::uint32_t code = transport_->QueryAvailable(available)) {
      return PlatformFailure("read", code);
    }
    if (available == 0) break;
    if (limited && received + available > options.max_bytes) {
      return Fail(u"response too large (> " + Decimal(options.max_bytes) + u" bytes)");
    }
    std::uint32_t read = 0;
    const std::uint32_t code = transport_->Read(body, available, read);
    body.resize(static_cast<std::size_t>(received) + std::min(read, available));
    if (code != 0) return PlatformFailure("read", code);
    received += std::min(read, available);
    if (progress) progress(received, length);
  }
  if (length < 0 || received == length) return true;
  return Fail(u"truncated body " + Decimal(received) + u"/" + Decimal(length));
}

bool HttpSession::Get(const std::u16string& url, std::vector<std::uint8_t>& body,
                      const ProgressFn& progress, const RequestOptions& options) {
  return Request(url, u"GET", &body, progress, nullptr, options);
}

bool HttpSession::GetText(const std::u16string& url, std::string& text,
                          const RequestOptions& options) {
  std::vector<std::uint8_t> body;
  if (!Request(url, u"GET", &body, nullptr, nullptr, options)) return false;
  text.assign(body.begin(), body.end());
  return true;
}

std::int64_t HttpSession::Head(const std::u16string& url) {
  std::int64_t length = -1;
  if (!Request(url, u"HEAD", nullptr, nullptr, &length, RequestOptions{})) return -1;
  return length;
}

}  // namespace emberfall
