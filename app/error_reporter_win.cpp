#include "app/error_reporter.h"

#include <string>

#include "core/build_settings.h"
#include "core/patch_config.h"
#include "core/text.h"
#include "core/win/scoped_winhttp.h"
#include "core/win/wide.h"

namespace emberfall {
namespace {

using win::ScopedInternetHandle;

constexpr int kTimeoutMs = 2000;

}  // namespace

std::string CpuDescription() {
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return std::to_string(info.wProcessorArchitecture) + "|" +
         std::to_string(info.dwNumberOfProcessors) + "|" + std::to_string(info.wProcessorLevel);
}

void PostJson(const std::string& body) {
  if (body.empty()) return;
  const std::wstring host = win::ToWinString(Utf8ToWide(ErrorReportHost()));
  ScopedInternetHandle session(WinHttpOpen(L"EmbLauncher/2.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                           WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return;
  WinHttpSetTimeouts(session.get(), kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
  ScopedInternetHandle connection(
      WinHttpConnect(session.get(), host.c_str(), INTERNET_DEFAULT_HTTPS_PORT, 0));
  if (!connection) return;
  ScopedInternetHandle request(WinHttpOpenRequest(
      connection.get(), L"POST", L"/", nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
      WINHTTP_FLAG_SECURE | WINHTTP_FLAG_REFRESH));
  if (!request) return;
  const std::wstring headers = L"Content-Type: application/json\r\nHost: " + host + L"\r\n";
  const DWORD length = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                          const_cast<char*>(body.data()), length, length, 0)) {
    return;
  }
  WinHttpReceiveResponse(request.get(), nullptr);
}

}  // namespace emberfall
