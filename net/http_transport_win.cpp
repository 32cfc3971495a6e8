// WinHTTP transport: synchronous session, connection and request handles.
#include "net/http_transport.h"

#include <algorithm>

#include "core/win/scoped_winhttp.h"
#include "core/win/wide.h"

namespace emberfall {
namespace win {
namespace {

constexpr wchar_t kUserAgent[] = L"EmbLauncher/2.0";

bool IsWindows10OrLater() {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  info.dwMajorVersion = 10;
  info.dwMinorVersion = 0;
  info.wServicePackMajor = 0;
  DWORDLONG mask = 0;
  mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                            mask) != FALSE;
}

class WinHttpTransport final : public HttpTransport {
 public:
  explicit WinHttpTransport(const HttpTimeouts& timeouts) {
    session_.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_) {
      // Automatic proxy discovery exists from Windows 8.1 on.
      session_.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    }
    if (!session_) return;
    WinHttpSetTimeouts(session_.get(), timeouts.resolve_ms, timeouts.connect_ms, timeouts.send_ms,
                       timeouts.receive_ms);
    // The wait for response headers has a time-out of its own (90 s on
    // Windows, none under Wine); a server that accepts and then stays silent
    // must fail after the receive time-out like one that stalls mid-body.
    DWORD response_ms = static_cast<DWORD>(timeouts.receive_ms);
    WinHttpSetOption(session_.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_ms,
                     sizeof(response_ms));
    if (!IsWindows10OrLater()) {
      // Older systems default to SSL 3.0 / TLS 1.0, which patch servers refuse.
      DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
      WinHttpSetOption(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                       sizeof(protocols));
    }
  }

  ~WinHttpTransport() override {
    request_.reset();
    connection_.reset();
    session_.reset();
  }

  bool IsOpen() const override { return static_cast<bool>(session_); }

  bool CrackUrl(std::u16string_view url, CrackedUrl& out) const override {
    out = CrackedUrl{};
    // WinHttpCrackUrl stops at a NUL; a URL holding one is not the URL the
    // caller built.
    if (url.find(u'\0') != std::u16string_view::npos) return false;
    const std::wstring text = ToWinString(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
      return false;
    }
    out.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    if (parts.lpszHostName != nullptr) {
      out.host = FromWinString(parts.lpszHostName, parts.dwHostNameLength);
    }
    out.port = parts.nPort;
    if (parts.lpszUrlPath != nullptr) {
      out.object = FromWinString(parts.lpszUrlPath, parts.dwUrlPathLength);
    }
    if (parts.lpszExtraInfo != nullptr) {
      out.object += FromWinString(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    }
    return true;
  }

  std::uint32_t Connect(const std::u16string& host, std::uint16_t port, bool) override {
    request_.reset();
    connection_.reset(WinHttpConnect(session_.get(), ToWinString(host).c_str(), port, 0));
    return connection_ ? 0 : LastError();
  }

  void Disconnect() override {
    request_.reset();
    connection_.reset();
  }

  std::uint32_t OpenRequest(std::u16string_view verb, const std::u16string& object, bool secure,
                            bool refresh) override {
    request_.reset();
    DWORD flags = 0;
    if (secure) flags |= WINHTTP_FLAG_SECURE;
    if (refresh) flags |= WINHTTP_FLAG_REFRESH;
    request_.reset(WinHttpOpenRequest(connection_.get(), ToWinString(verb).c_str(),
                                      ToWinString(object).c_str(), nullptr, WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    return request_ ? 0 : LastError();
  }

  std::uint32_t SetRange(std::uint64_t first, std::uint64_t last) override {
    const std::wstring line =
        L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(last);
    return WinHttpAddRequestHeaders(request_.get(), line.c_str(), static_cast<DWORD>(line.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)
               ? 0
               : LastError();
  }

  std::uint32_t Send() override {
    return WinHttpSendRequest(request_.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
               ? 0
               : LastError();
  }

  std::uint32_t Receive() override {
    return WinHttpReceiveResponse(request_.get(), nullptr) ? 0 : LastError();
  }

  int StatusCode() override {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      return 0;
    }
    return static_cast<int>(status);
  }

  bool ContentLengthHeader(std::size_t max_units, std::u16string& text) override {
    return HeaderText(WINHTTP_QUERY_CONTENT_LENGTH, max_units, text);
  }

  bool ContentRangeHeader(std::size_t max_units, std::u16string& text) override {
    return HeaderText(WINHTTP_QUERY_CONTENT_RANGE, max_units, text);
  }

  std::uint32_t QueryAvailable(std::uint32_t& available) override {
    DWORD count = 0;
    if (!WinHttpQueryDataAvailable(request_.get(), &count)) return LastError();
    available = count;
    return 0;
  }

  std::uint32_t Read(std::vector<std::uint8_t>& body, std::uint32_t size,
                     std::uint32_t& read) override {
    const std::size_t old_size = body.size();
    body.resize(old_size + size);
    DWORD count = 0;
    const BOOL ok = WinHttpReadData(request_.get(), body.data() + old_size, size, &count);
    const std::uint32_t error = ok ? 0 : LastError();
    body.resize(old_size + (ok ? std::min<DWORD>(count, size) : 0));
    read = ok ? count : 0;
    return error;
  }

  void CloseRequest() override { request_.reset(); }

 private:
  // A header too long for |max_units| fails the query (the buffer is short).
  bool HeaderText(DWORD query, std::size_t max_units, std::u16string& text) {
    std::wstring buffer(max_units + 1, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request_.get(), query, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(),
                             &size, WINHTTP_NO_HEADER_INDEX)) {
      return false;
    }
    text = FromWinString(buffer.data(), size / sizeof(wchar_t));
    return true;
  }

  static std::uint32_t LastError() {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_INTERNAL_ERROR;
  }

  ScopedInternetHandle session_;
  ScopedInternetHandle connection_;
  ScopedInternetHandle request_;
};

}  // namespace
}  // namespace win

std::unique_ptr<HttpTransport> CreatePlatformTransport(const HttpTimeouts& timeouts) {
  return std::make_unique<win::WinHttpTransport>(timeouts);
}

}  // namespace emberfall
