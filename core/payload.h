// Turning a downloaded payload into a file's exact contents. Two framings of
// one LZO1X stream are accepted (little-endian integers):
//
//   MCOZ container: "MCOZ", u32 enciphering marker (0 = plain), u32
//   compressed size, u32 uncompressed size, u32 reserved, then the stream;
//   bytes after the compressed size are ignored.
//   Bare: u32 uncompressed size, then the stream (the rest of the payload).
#ifndef EMBERFALL_CORE_PAYLOAD_H_
#define EMBERFALL_CORE_PAYLOAD_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/crypto.h"

namespace emberfall {

// The largest decoded size a payload can have: both framings hold it in 32
// bits.
inline constexpr std::int64_t kMaxDecodedSize = 0xFFFFFFFF;

// Throws PatchFailure 6 ("Unpack size mismatch") with the detail
// "unsupported size <n>" unless 0 <= |expectedSize| <= kMaxDecodedSize: the
// first check DecodePayload makes, for callers that must refuse a size before
// they fetch anything.
void CheckDecodedSize(std::int64_t expectedSize);

// Decodes |payload| into exactly |expectedSize| bytes, or throws
// PatchFailure 6 ("Unpack size mismatch") or 8 ("Decompress failed") with
// the reason in the detail. Pure; no partial result.
std::vector<std::uint8_t> DecodePayload(std::span<const std::uint8_t> payload,
                                        std::int64_t expectedSize);
std::vector<std::uint8_t> DecodePayload(const std::vector<std::uint8_t>& payload,
                                        std::int64_t expectedSize);

// DecodePayload, then the decoded bytes' CRC-32 must be |crc| ("Checksum
// mismatch") and, when |sha256| is given, their SHA-256 must be it ("Signed
// hash mismatch"); the detail names what was expected and what came.
std::vector<std::uint8_t> DecodeCheckedPayload(const std::vector<std::uint8_t>& payload,
                                               std::int64_t expectedSize, std::uint32_t crc,
                                               const Sha256Digest* sha256);

// Decodes the LZO1X stream |data|[0, |length|) whose framing announced
// |headerSize| bytes; throws PatchFailure as DecodePayload does.
std::vector<std::uint8_t> DecompressLz(const std::uint8_t* data, size_t length,
                                       std::uint32_t headerSize, std::int64_t expectedSize);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_PAYLOAD_H_
