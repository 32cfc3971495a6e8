#include "core/payload.h"

#include "core/crc32.h"
#include "core/lzo1x.h"
#include "core/patch_error.h"
#include "core/text.h"

namespace emberfall {
namespace {

constexpr size_t kContainerHeaderBytes = 20;
constexpr std::uint32_t kContainerMagic = 0x5A4F434Du;  // "MCOZ" read little-endian

std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

[[noreturn]] void Fail(PatchErrorCode code, std::u16string detail) {
  throw PatchFailure(code, std::move(detail));
}

}  // namespace

void CheckDecodedSize(std::int64_t expectedSize) {
  if (expectedSize < 0 || expectedSize > kMaxDecodedSize) {
    Fail(PatchErrorCode::UnpackSizeMismatch, u"unsupported size " + ToWideDecimal(expectedSize));
  }
}

std::vector<std::uint8_t> DecodePayload(const std::vector<std::uint8_t>& payload,
                                        std::int64_t expectedSize) {
  return DecodePayload(std::span<const std::uint8_t>(payload), expectedSize);
}

std::vector<std::uint8_t> DecodePayload(std::span<const std::uint8_t> payload,
                                        std::int64_t expectedSize) {
  CheckDecodedSize(expectedSize);
  if (payload.size() < 4) Fail(PatchErrorCode::DecompressFailed, u"LZ payload too small");

  const std::uint8_t* const bytes = payload.data();
  const std::uint32_t first = ReadLe32(bytes);
  if (first != kContainerMagic) {
    return DecompressLz(bytes + 4, payload.size() - 4, first, expectedSize);
  }
  if (payload.size() < kContainerHeaderBytes) {
    Fail(PatchErrorCode::DecompressFailed, u"MCOZ header too small");
  }
  if (ReadLe32(bytes + 4) != 0) Fail(PatchErrorCode::DecompressFailed, u"MCOZ payload is encrypted");
  const std::uint32_t compressed = ReadLe32(bytes + 8);
  if (compressed > payload.size() - kContainerHeaderBytes) {
    Fail(PatchErrorCode::DecompressFailed, u"MCOZ compressed size exceeds payload");
  }
  return DecompressLz(bytes + kContainerHeaderBytes, compressed, ReadLe32(bytes + 12), expectedSize);
}

std::vector<std::uint8_t> DecompressLz(const std::uint8_t* data, size_t length,
                                       std::uint32_t headerSize, std::int64_t expectedSize) {
  if (static_cast<std::int64_t>(headerSize) != expectedSize) {
    Fail(PatchErrorCode::UnpackSizeMismatch, u"lz header size=" + ToWideDecimalUnsigned(headerSize) +
                                                 u" expected=" + ToWideDecimal(expectedSize));
  }
  std::vector<std::uint8_t> output(headerSize);
  size_t produced = 0;
  const LzoResult result = Lzo1xDecompressSafe(data, length, output.data(), output.size(), produced);
  if (result != LzoResult::Ok) {
    Fail(PatchErrorCode::DecompressFailed, u"lzo " + LzoResultText(result));
  }
  if (produced != headerSize) {
    Fail(PatchErrorCode::UnpackSizeMismatch, u"lzo output=" + ToWideDecimalUnsigned(produced) +
                                                 u" expected=" + ToWideDecimalUnsigned(headerSize));
  }
  return output;
}

std::vector<std::uint8_t> DecodeCheckedPayload(const std::vector<std::uint8_t>& payload,
                                               std::int64_t expectedSize, std::uint32_t crc,
                                               const Sha256Digest* sha256) {
  std::vector<std::uint8_t> decoded = DecodePayload(payload, expectedSize);
  const std::uint32_t got = Crc32Buffer(decoded.data(), decoded.size());
  if (got != crc) {
    throw PatchFailure(PatchErrorCode::ChecksumMismatch,
                       Utf8ToWide("expected=" + FormatCrcHex(crc) + " got=" + FormatCrcHex(got)));
  }
  if (sha256 != nullptr) {
    const Sha256Digest hash = Sha256Of(std::string_view(
        reinterpret_cast<const char*>(decoded.data()), decoded.size()));
    if (hash != *sha256) {
      throw PatchFailure(PatchErrorCode::SignedHashMismatch,
                         Utf8ToWide("expected=" + HexEncode(*sha256) + " got=" + HexEncode(hash)));
    }
  }
  return decoded;
}

}  // namespace emberfall
