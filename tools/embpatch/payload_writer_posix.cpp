#include "tools/embpatch/payload_writer.h"

#include <lzo/lzo1x.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace emberfall::cli {
namespace {

constexpr std::uint64_t kMaxInput = 0xFFFFFFFFull;
constexpr size_t kMcozHeaderSize = 20;

void PutLittleEndian32(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
  out[2] = static_cast<std::uint8_t>(value >> 16);
  out[3] = static_cast<std::uint8_t>(value >> 24);
}

bool InitLzo() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = lzo_init() == LZO_E_OK; });
  return ok;
}

}  // namespace

std::optional<CompressionLevel> ParseLevel(std::string_view text) {
  if (text == "1") return CompressionLevel::Fast;
  if (text == "999") return CompressionLevel::Best;
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> MakePayload(std::string_view data, CompressionLevel level,
                                                     Framing framing, std::string& error) {
  if (data.size() > kMaxInput) {
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
  if (!InitLzo()) {
    error = "liblzo2 failed to initialise";
    return std::nullopt;
  }
  const size_t header = framing == Framing::Mcoz ? kMcozHeaderSize : 4;
  // LZO1X's worst case for incompressible input.
  const size_t bound = data.size() + data.size() / 16 + 64 + 3;
  std::vector<std::uint8_t> payload(header + bound);
  const size_t work_size =
      level == CompressionLevel::Best ? LZO1X_999_MEM_COMPRESS : LZO1X_1_MEM_COMPRESS;
  auto work = std::make_unique<std::uint8_t[]>(work_size);
  lzo_uint packed = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(data.data());
  const int result =
      level == CompressionLevel::Best
          ? lzo1x_999_compress(in, data.size(), payload.data() + header, &packed, work.get())
          : lzo1x_1_compress(in, data.size(), payload.data() + header, &packed, work.get());
  if (result != LZO_E_OK) {
    error = "liblzo2 compression failed (" + std::to_string(result) + ")";
    return std::nullopt;
  }
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
