// libcurl's results as the WinHTTP codes the session classifies, so that
// both platforms report a failure with the same code and text.
#ifndef EMBERFALL_NET_CURL_ERROR_MAP_H_
#define EMBERFALL_NET_CURL_ERROR_MAP_H_

#include <curl/curl.h>

#include <cstdint>

namespace emberfall::curl {

// ERROR_WINHTTP_INTERNAL_ERROR and ERROR_NOT_ENOUGH_MEMORY, which the
// transport also reports for its own failures.
inline constexpr std::uint32_t kInternalError = 12004;
inline constexpr std::uint32_t kNotEnoughMemory = 8;

// The WinHTTP code of a transfer that ended with |code| (0 for CURLE_OK).
// |verify_result| is CURLINFO_SSL_VERIFYRESULT, read only for
// CURLE_PEER_FAILED_VERIFICATION. A cut body (CURLE_PARTIAL_FILE) maps to a
// connection error; the transport decides when it is no failure at all.
std::uint32_t WinHttpCodeOf(CURLcode code, long verify_result);

}  // namespace emberfall::curl

#endif  // EMBERFALL_NET_CURL_ERROR_MAP_H_
