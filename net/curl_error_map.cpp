// What the Linux transport reports for each way a libcurl transfer ends.
//
// libcurl result                         -> WinHTTP code (kind in the text)
// -------------------------------------------------------------------------
// CURLE_OPERATION_TIMEDOUT, own deadline  -> 12002 ERROR_WINHTTP_TIMEOUT
// CURLE_COULDNT_RESOLVE_HOST/_PROXY       -> 12007 ERROR_WINHTTP_NAME_NOT_RESOLVED
// CURLE_COULDNT_CONNECT                   -> 12029 ERROR_WINHTTP_CANNOT_CONNECT
// CURLE_SEND_ERROR, CURLE_RECV_ERROR      -> 12030 ERROR_WINHTTP_CONNECTION_ERROR
// CURLE_GOT_NOTHING, CURLE_WEIRD_SERVER_REPLY, CURLE_BAD_CONTENT_ENCODING,
//   CURLE_HTTP2, CURLE_HTTP2_STREAM      -> 12152 ERROR_WINHTTP_INVALID_SERVER_RESPONSE
// CURLE_PEER_FAILED_VERIFICATION, by the OpenSSL verify result:
//   self-signed / unknown issuer          -> 12045 ERROR_WINHTTP_SECURE_INVALID_CA
//   not yet valid / expired               -> 12037 ERROR_WINHTTP_SECURE_CERT_DATE_INVALID
//   name mismatch (curl's own host check) -> 12038 ERROR_WINHTTP_SECURE_CERT_CN_INVALID
//   revoked                               -> 12170 ERROR_WINHTTP_SECURE_CERT_REVOKED
//   anything else                         -> 12175 ERROR_WINHTTP_SECURE_FAILURE
// CURLE_SSL_CONNECT_ERROR and the other CURLE_SSL_* handshake failures
//                                         -> 12157 ERROR_WINHTTP_SECURE_CHANNEL_ERROR
// CURLE_TOO_MANY_REDIRECTS, own limit     -> 12156 ERROR_WINHTTP_REDIRECT_FAILED
// CURLE_URL_MALFORMAT                     -> 12005 ERROR_WINHTTP_INVALID_URL
// CURLE_OUT_OF_MEMORY                     ->     8 ERROR_NOT_ENOUGH_MEMORY
// any other failure                       -> 12004 ERROR_WINHTTP_INTERNAL_ERROR
// CURLE_PARTIAL_FILE, Content-Length sent -> not a failure: the body ended
//                                            early, as WinHTTP reports it
//                                            (zero bytes available), and the
//                                            session's length check refuses it
// CURLE_PARTIAL_FILE, chunked body        -> 12030 ERROR_WINHTTP_CONNECTION_ERROR
//                                            (there is no length to check the
//                                            body against, so a cut one would
//                                            pass for a whole one)
#include "net/curl_error_map.h"

#include "net/http_transport.h"

namespace emberfall::curl {
namespace {

namespace e = winhttp_error;

// OpenSSL X509_V_ERR_* values (stable across OpenSSL versions).
constexpr long kX509CertNotYetValid = 9;
constexpr long kX509CertHasExpired = 10;
constexpr long kX509UnableToGetIssuer = 2;
constexpr long kX509DepthZeroSelfSigned = 18;
constexpr long kX509SelfSignedInChain = 19;
constexpr long kX509UnableToGetIssuerLocally = 20;
constexpr long kX509UnableToVerifyLeaf = 21;
constexpr long kX509CertRevoked = 23;
constexpr long kX509CertUntrusted = 27;
constexpr long kX509HostnameMismatch = 62;

std::uint32_t MapVerifyResult(long verify_result) {
  switch (verify_result) {
    case kX509UnableToGetIssuer:
    case kX509DepthZeroSelfSigned:
    case kX509SelfSignedInChain:
    case kX509UnableToGetIssuerLocally:
    case kX509UnableToVerifyLeaf:
    case kX509CertUntrusted:
      return e::kSecureInvalidCa;
    case kX509CertNotYetValid:
    case kX509CertHasExpired:
      return e::kSecureCertDateInvalid;
    case kX509HostnameMismatch:
    case 0:  // the chain was fine, so curl's own host name check refused it
      return e::kSecureCertCnInvalid;
    case kX509CertRevoked:
      return e::kSecureCertRevoked;
    default:
      return e::kSecureFailure;
  }
}

}  // namespace

std::uint32_t WinHttpCodeOf(CURLcode code, long verify_result) {
  switch (code) {
    case CURLE_OK:
      return 0;
    case CURLE_OPERATION_TIMEDOUT:
      return e::kTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return e::kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return e::kCannotConnect;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      return e::kConnectionError;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return e::kInvalidServerResponse;
    case CURLE_PEER_FAILED_VERIFICATION:
      return MapVerifyResult(verify_result);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
      return e::kSecureChannelError;
    case CURLE_TOO_MANY_REDIRECTS:
      return e::kRedirectFailed;
    case CURLE_URL_MALFORMAT:
      return e::kInvalidUrl;
    case CURLE_OUT_OF_MEMORY:
      return kNotEnoughMemory;
    default:
      return kInternalError;
  }
}

}  // namespace emberfall::curl
