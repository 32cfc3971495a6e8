// The platform seam of the HTTP client: one synchronous request at a time
// over one cached connection, step by step as WinHTTP offers it. HttpSession
// holds every rule (URL checks, reuse, limits, error texts); a transport only
// performs the calls and reports failures as WinHTTP error codes, so both
// platforms produce the same texts.
#ifndef EMBERFALL_NET_HTTP_TRANSPORT_H_
#define EMBERFALL_NET_HTTP_TRANSPORT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace emberfall {

// Per-phase time-outs in milliseconds. The product uses the defaults; tests
// pass shorter ones so that a time-out costs seconds.
struct HttpTimeouts {
  int resolve_ms = 10000;
  int connect_ms = 10000;
  int send_ms = 30000;
  int receive_ms = 30000;
};

// The parts of an http(s) URL a request needs.
struct CrackedUrl {
  bool secure = false;
  std::u16string host;
  std::uint16_t port = 0;  // 0 when the URL names none
  std::u16string object;   // path plus query and fragment, as written
};

// WinHTTP error codes the session classifies. The libcurl transport maps its
// own errors onto these (table in curl_error_map.cpp).
namespace winhttp_error {
inline constexpr std::uint32_t kTimeout = 12002;
inline constexpr std::uint32_t kInvalidUrl = 12005;
inline constexpr std::uint32_t kNameNotResolved = 12007;
inline constexpr std::uint32_t kOperationCancelled = 12017;
inline constexpr std::uint32_t kCannotConnect = 12029;
inline constexpr std::uint32_t kConnectionError = 12030;
inline constexpr std::uint32_t kSecureCertDateInvalid = 12037;
inline constexpr std::uint32_t kSecureCertCnInvalid = 12038;
inline constexpr std::uint32_t kSecureInvalidCa = 12045;
inline constexpr std::uint32_t kSecureCertRevFailed = 12057;
inline constexpr std::uint32_t kInvalidServerResponse = 12152;
inline constexpr std::uint32_t kRedirectFailed = 12156;
inline constexpr std::uint32_t kSecureChannelError = 12157;
inline constexpr std::uint32_t kSecureInvalidCert = 12169;
inline constexpr std::uint32_t kSecureCertRevoked = 12170;
inline constexpr std::uint32_t kSecureFailure = 12175;
inline constexpr std::uint32_t kSecureCertWrongUsage = 12179;
// Winsock codes that WinHTTP (Wine's, at least) passes through unchanged
// when the peer resets or aborts a connection or a receive times out.
inline constexpr std::uint32_t kWsaConnectionAborted = 10053;
inline constexpr std::uint32_t kWsaConnectionReset = 10054;
inline constexpr std::uint32_t kWsaTimedOut = 10060;
}  // namespace winhttp_error

// One platform HTTP stack. Every call returning std::uint32_t returns 0 on
// success or the failure's WinHTTP error code. Calls happen in this order per
// request: Connect (only when the session has no matching connection),
// OpenRequest, SetRange (for a range request only), Send, Receive,
// StatusCode, ContentLengthHeader, ContentRangeHeader (range only), then
// QueryAvailable/Read pairs, and CloseRequest on every path after
// OpenRequest. Used by one thread at a time; every blocking call is bounded
// by the time-outs given at creation.
class HttpTransport {
 public:
  virtual ~HttpTransport() = default;

  // False when the platform session could not be opened.
  virtual bool IsOpen() const = 0;

  // Splits |url| with the platform's URL parser, without escaping or
  // unescaping. False when the parser refuses it or the scheme is not http or
  // https. A missing host comes back empty; the session rejects it.
  virtual bool CrackUrl(std::u16string_view url, CrackedUrl& out) const = 0;

  // Makes the connection to host:port current, replacing any other.
  virtual std::uint32_t Connect(const std::u16string& host, std::uint16_t port, bool secure) = 0;
  // Forgets the current connection; the next request connects afresh.
  virtual void Disconnect() = 0;

  // Prepares a request on the current connection. |refresh| asks caches on
  // the way not to answer from a stored copy.
  virtual std::uint32_t OpenRequest(std::u16string_view verb, const std::u16string& object,
                                    bool secure, bool refresh) = 0;
  // Adds "Range: bytes=<first>-<last>" to the request just opened.
  virtual std::uint32_t SetRange(std::uint64_t first, std::uint64_t last) = 0;
  // Sends the request; establishing the connection happens here.
  virtual std::uint32_t Send() = 0;
  // Waits for the final response's headers, following redirects.
  virtual std::uint32_t Receive() = 0;
  // The response status, or 0 when it cannot be read.
  virtual int StatusCode() = 0;
  // The Content-Length header's text when present and at most
  // |max_units| UTF-16 units long; false otherwise.
  virtual bool ContentLengthHeader(std::size_t max_units, std::u16string& text) = 0;
  // The Content-Range header's text, on the same terms.
  virtual bool ContentRangeHeader(std::size_t max_units, std::u16string& text) = 0;
  // Waits until body bytes are available; 0 means the body has ended.
  virtual std::uint32_t QueryAvailable(std::uint32_t& available) = 0;
  // Lets the transport append arriving body bytes straight to |body|, as
  // long as |body| stays within |limit| bytes (no bound when negative). Bytes
  // put there are reported by QueryAvailable and then by Read without being
  // copied again; anything else is staged and appended by Read. Ends with
  // SetBodySink(nullptr, -1) or CloseRequest. The default ignores it.
  virtual void SetBodySink(std::vector<std::uint8_t>* body, std::int64_t limit) {
    (void)body;
    (void)limit;
  }
  // Appends up to |size| available bytes to |body|; |read| tells how many.
  // Appending (rather than reading into space the caller zero-fills first)
  // saves a pass over every byte of a large download.
  virtual std::uint32_t Read(std::vector<std::uint8_t>& body, std::uint32_t size,
                             std::uint32_t& read) = 0;
  // Ends the current request; unread body data is discarded.
  virtual void CloseRequest() = 0;
};

// The transport of this platform: WinHTTP on Windows, libcurl elsewhere.
// Never returns null; a transport whose session failed to open reports
// IsOpen() false.
std::unique_ptr<HttpTransport> CreatePlatformTransport(const HttpTimeouts& timeouts);

}  // namespace emberfall

#endif  // EMBERFALL_NET_HTTP_TRANSPORT_H_
