// The signed release document, "crclist.sig", published beside the CRC list
// of a version. It binds the exact CRC-list bytes and, for every listed
// file, the SHA-256 and size of its decoded contents to one release serial
// and an expiry time, under an ECDSA P-256 signature. One document per
// release, so files of two releases cannot be mixed; it names the product
// and the channel it is for, so a release of another game or channel signed
// with the same key is refused.
//
// Format (UTF-8, LF line ends only, every line ends with LF):
//
//   EMBSIG2
//   product <name>     (a name as IsValidReleaseName accepts)
//   channel <name>
//   serial <decimal, 1 to 2^63-1, no leading zeros>
//   expires <UTC time, YYYY-MM-DDTHH:MM:SSZ>
//   crclist <SHA-256 of the crclist bytes, 64 lower-case hex digits>
//   file <SHA-256 of the decoded file, hex> <decoded size, decimal> <path>
//   ...                (zero or more; paths spelt as in the crclist, in
//                       strictly ascending byte order)
//   sig <ECDSA P-256 / SHA-256 signature r||s, 128 lower-case hex digits>
//
// The signature covers every byte before the "sig" line. Fields are
// separated by exactly one space; nothing follows the "sig" line. Only the
// low-s form of a signature is valid (IsLowS), so a document has one
// spelling that verifies.
#ifndef EMBERFALL_CORE_RELEASE_DOCUMENT_H_
#define EMBERFALL_CORE_RELEASE_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/crypto.h"

namespace emberfall {

// The first line of every release document.
inline constexpr std::string_view kReleaseDocumentFormat = "EMBSIG2";
// The file name beside "crclist" in the version directory.
inline constexpr std::string_view kReleaseDocumentName = "crclist.sig";
// Larger documents are refused unread: about 100,000 files fit.
inline constexpr size_t kReleaseDocumentLimit = 16 * 1024 * 1024;
// Longest path accepted on a "file" line, in bytes.
inline constexpr size_t kReleaseDocumentPathLimit = 4096;
// Longest product or channel name, in bytes.
inline constexpr size_t kReleaseNameLimit = 64;

struct SignedFile {
  Sha256Digest sha256{};  // of the decoded contents
  std::int64_t size = 0;  // decoded size in bytes
};

struct ReleaseDocument {
  std::string product;        // the game the release is for
  std::string channel;        // its release channel ("live", "beta", ...)
  std::uint64_t serial = 0;   // 1 to 2^63-1; a newer release has a larger one
  std::int64_t expires = 0;   // seconds since 1970-01-01T00:00:00Z
  Sha256Digest crclist_sha256{};
  // Keyed by the path exactly as the crclist spells it.
  std::map<std::string, SignedFile> files;
};

struct ParsedReleaseDocument {
  ReleaseDocument document;
  size_t signed_length = 0;  // the signature covers bytes [0, signed_length)
  EcdsaSignature signature{};
};

// Parses |bytes| strictly as described above. On failure returns nullopt
// and sets |reason| to one English line, "line N: ..." when a line is at
// fault. Pure; bounded by kReleaseDocumentLimit.
std::optional<ParsedReleaseDocument> ParseReleaseDocument(std::string_view bytes,
                                                          std::string& reason);

// True when |name| may name a product or channel: 1 to kReleaseNameLimit
// bytes of a-z, 0-9, '.', '_' and '-', the first a letter or digit (the
// rule of the EMB_PRODUCT and EMB_CHANNEL build settings).
bool IsValidReleaseName(std::string_view name);

// The exact bytes a publisher signs for |document|: every line up to and
// including the "file" lines. Product and channel must be valid names;
// paths must be non-empty, have no control bytes (DEL included) and no space
// at either end (the parser refuses them otherwise).
std::string FormatReleaseDocument(const ReleaseDocument& document);

// The signature line that completes a document: "sig <hex>\n".
std::string FormatSignatureLine(const EcdsaSignature& signature);

// Seconds since 1970 as "YYYY-MM-DDTHH:MM:SSZ" (years 1970 to 9999; times
// outside are clamped to that range).
std::string FormatUtcTime(std::int64_t seconds);
// The reverse; nullopt unless |text| is exactly that form with a valid date.
std::optional<std::int64_t> ParseUtcTime(std::string_view text);

enum class ReleaseVerdict {
  kOk,
  kMalformed,        // missing, empty or not a well-formed document
  kBadSignature,     // no trusted key verifies the signature
  kWrongChannel,     // signed for another product or channel
  kCrcListMismatch,  // the crclist is not the one the document signs
  kRolledBack,       // serial lower than the highest already accepted
  kExpired,          // now is at or after the expiry time
};

// A short English text per verdict, for failure details and tool output.
std::string_view ReleaseVerdictText(ReleaseVerdict verdict);

// Checks a fetched release document before anything it names is trusted,
// in this order: well-formed, signed by one of |trusted_keys|, for |product|
// and |channel|, matching |crclist| (the exact bytes received), serial >=
// |min_serial|, and |now| (seconds since 1970, UTC) before its expiry. The
// first failing check decides. On kOk and on every verdict after
// kBadSignature |document| (if given) receives the authenticated document;
// |reason| (if given) receives the parser's reason on kMalformed. Pure and
// thread-safe.
ReleaseVerdict VerifyReleaseDocument(std::string_view bytes,
                                     std::span<const EcdsaPublicKey> trusted_keys,
                                     std::string_view product, std::string_view channel,
                                     std::int64_t now, std::string_view crclist,
                                     std::uint64_t min_serial, ReleaseDocument* document = nullptr,
                                     std::string* reason = nullptr);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_RELEASE_DOCUMENT_H_
