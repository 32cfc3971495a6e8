// The synchronous HTTP client every fetch of a patch run goes through: one
// cached connection, fixed time-outs, a per-request byte limit, cooperative
// cancellation and a fixed English vocabulary of failure texts.
#ifndef EMBERFALL_NET_HTTP_SESSION_H_
#define EMBERFALL_NET_HTTP_SESSION_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/http_transport.h"

namespace emberfall {

struct RequestOptions {
  // Ask proxies and caches on the way to fetch a fresh copy.
  bool refresh = false;
  // Largest accepted body in bytes; 0 or less means no limit.
  std::int64_t max_bytes = 0;
};

// Called after each read with the bytes received so far and the announced
// Content-Length, or -1 when the server gave none.
using ProgressFn = std::function<void(std::int64_t received, std::int64_t total)>;

// One session per patch run, used by one thread. No call throws; each
// returns false (or -1) and leaves the reason in last_error(), one of:
//   "cancelled", "WinHTTP session unavailable", "invalid url",
//   "WinHTTP <stage>: <kind> (<code>)", "HTTP <status>",
//   "response too large (<length> bytes)", "response too large (> <limit> bytes)",
//   "truncated body <received>/<length>", "out of memory",
// and for GetRange also "range not honoured (HTTP <status>)" and
// "range mismatch (<what came>)".
class HttpSession {
 public:
  // Opens the platform session (user agent "EmbLauncher/2.0", automatic
  // proxy, certificate checks on). Never fails: if the platform refuses,
  // every request fails with "WinHTTP session unavailable".
  explicit HttpSession(const HttpTimeouts& timeouts = {});
  // For tests: a session over a given transport.
  explicit HttpSession(std::unique_ptr<HttpTransport> transport);
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // Performs one request. |verb| is "GET" or "HEAD". When |body| is given it
  // is emptied first (capacity kept) and receives the body of a GET; without
  // it the body is not read. |content_length_out|, when given, receives the
  // announced length or -1. A status outside 200-299 is a failure. Blocks,
  // bounded by the time-outs; the cancel flag is checked before the request,
  // once per read and when a platform call fails.
  bool Request(const std::u16string& url, const char16_t* verb, std::vector<std::uint8_t>* body,
               const ProgressFn& progress, std::int64_t* content_length_out,
               const RequestOptions& options);

  // GET into |body|; see Request.
  bool Get(const std::u16string& url, std::vector<std::uint8_t>& body, const ProgressFn& progress,
           const RequestOptions& options);

  // GET of the bytes [offset, offset + length) of |url|, asked for with a
  // Range header. Succeeds only on a 206 whose Content-Range names exactly
  // that range and whose body holds exactly |length| bytes; |body| is
  // emptied first and then holds them (on a failure, whatever arrived).
  // |total_out|, when given, receives the resource's size from the
  // Content-Range, or -1 when the server wrote "*". A server that answers
  // with the whole resource instead fails at once, before its body is read,
  // as "range not honoured (HTTP <status>)"; a 206 for another range as
  // "range mismatch (<its Content-Range>)"; a range past the end as
  // "HTTP 416". Progress reports count the range's bytes against |length|.
  // |length| 0, or a range ending past the largest 64-bit offset, is
  // refused as "invalid range". Otherwise as Request.
  bool GetRange(const std::u16string& url, std::uint64_t offset, std::uint64_t length,
                std::vector<std::uint8_t>& body, const ProgressFn& progress,
                std::int64_t* total_out, const RequestOptions& options);

  // GET as bytes in a string. On failure |text| is left untouched.
  bool GetText(const std::u16string& url, std::string& text, const RequestOptions& options);

  // HEAD: the announced Content-Length, or -1 on failure or when none was
  // given (last_error() tells the two apart).
  std::int64_t Head(const std::u16string& url);

  // The reason for the most recent failure; cleared at the start of every
  // request.
  const std::u16string& last_error() const { return last_error_; }

  // The engine's cancel request, read with plain atomic loads from the
  // requesting thread while another thread may set it. May be null.
  void set_cancel_flag(const std::atomic<bool>* flag) { cancel_flag_ = flag; }
  // A second flag read the same way: the engine stops one connection's
  // transfer with it while the run goes on. May be null.
  void set_abort_flag(const std::atomic<bool>* flag) { abort_flag_ = flag; }

 private:
  struct RangeAsked;
  bool Perform(const std::u16string& url, const char16_t* verb, std::vector<std::uint8_t>* body,
               const ProgressFn& progress, std::int64_t* content_length_out,
               const RequestOptions& options, RangeAsked* range);
  bool RunRequest(const std::u16string& url, const char16_t* verb,
                  std::vector<std::uint8_t>* body, const ProgressFn& progress,
                  std::int64_t* content_length_out, const RequestOptions& options,
                  RangeAsked* range);
  // The status and headers of a range answer; false (with the failure
  // recorded) unless they name exactly the range asked for.
  bool CheckRangeAnswer(int status, std::int64_t content_length, RangeAsked& range);
  bool ReadBody(std::vector<std::uint8_t>& body, std::int64_t length, const ProgressFn& progress,
                const RequestOptions& options);
  bool Cancelled() const;
  bool Fail(std::u16string text);
  // Classifies a failed platform call at |stage|; always returns false.
  bool PlatformFailure(const char* stage, std::uint32_t code);
  void DropConnection();

  std::unique_ptr<HttpTransport> transport_;
  bool connected_ = false;
  std::u16string connected_host_;
  std::uint16_t connected_port_ = 0;
  bool connected_secure_ = false;
  const std::atomic<bool>* cancel_flag_ = nullptr;
  const std::atomic<bool>* abort_flag_ = nullptr;
  std::u16string last_error_;
};

// The kind word of a WinHTTP error code in failure texts ("timeout",
// "cannot connect", ..., "error" for codes without one of their own).
const char* HttpErrorKind(std::uint32_t code);

// The value of a Content-Length header as the client reads it: a base-10
// integer after optional white space and sign, parsed as far as digits go
// (at least one), saturating at the largest 64-bit value; -1 when no digit
// is found or the value is negative.
std::int64_t ParseContentLength(std::u16string_view text);

// A Content-Range value of a 206 answer.
struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;   // inclusive
  std::int64_t total = -1;  // -1 for "*"
};

// Reads "bytes <first>-<last>/<total or *>" strictly: the unit in lower
// case, single separators, digits only without leading zeros, each number at
// most the largest 64-bit signed value, first <= last < total and last below
// that largest value. False for
// anything else; |out| is then unspecified.
bool ParseContentRange(std::u16string_view text, ContentRange& out);

}  // namespace emberfall

#endif  // EMBERFALL_NET_HTTP_SESSION_H_
