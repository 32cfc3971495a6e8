// SPDX-License-Identifier: Apache-2.0
#include "tools/embpatch/payload_writer.h"

#include <cstring>

#include "core/lzo1x_compress.h"

namespace emberfall::cli {
namespace {

constexpr size_t kMcozHeaderSize = 20;
constexpr size_t kBareHeaderSize = 4;

void PutLittleEndian32(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
  out[2] = static_cast<std::uint8_t>(value >> 16);
  out[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace

std::optional<CompressionLevel> ParseLevel(std::string_view text) {
  if (text == "1") return CompressionLevel::Fast;
  if (text == "999") return CompressionLevel::Best;
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> MakePayload(std::string_view data, CompressionLevel level,
                                                     Framing framing, std::string& error) {
  if (data.size() > kLzo1xMaxInput) {
    error = "file too large for a payload (4 GiB at most)";
    return std::nullopt;
  }
  // A bare payload announcing exactly this size starts with the bytes "MCOZ"
  // and would be read as a container.
  constexpr std::uint64_t kMcozMagicAsSize = 0x5A4F434Dull;
  if (framing == Framing::Bare && data.size() == kMcozMagicAsSize) {
    error = "bare framing cannot carry a file of exactly 1515144013 bytes; use MCOZ";
    return std::nullopt;
  }
  const size_t header = framing == Framing::Mcoz ? kMcozHeaderSize : kBareHeaderSize;
  std::vector<std::uint8_t> payload(header + Lzo1xCompressBound(data.size()));
  const size_t packed = Lzo1xCompressTo(
      std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()),
      level == CompressionLevel::Best ? Lzo1xLevel::Best : Lzo1xLevel::Fast,
      std::span(payload).subspan(header));
  payload.resize(header + packed);
  const auto size = static_cast<std::uint32_t>(data.size());
  if (framing == Framing::Mcoz) {
    std::memcpy(payload.data(), "MCOZ", 4);
    PutLittleEndian32(payload.data() + 4, 0);  // not enciphered
    PutLittleEndian32(payload.data() + 8, static_cast<std::uint32_t>(packed));
    PutLittleEndian32(payload.data() + 12, size);
    PutLittleEndian32(payload.data() + 16, 0);
  } else {
    PutLittleEndian32(payload.data(), size);
  }
  return payload;
}

}  // namespace emberfall::cli
