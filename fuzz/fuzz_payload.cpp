// Downloaded payloads: the decoder must stay inside its buffers whatever the
// bytes, report only its six result codes, and DecodePayload must either
// return exactly the announced size or raise code 6 or 8.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "core/lzo1x.h"
#include "core/patch_error.h"
#include "core/payload.h"

namespace {

// Larger announced sizes are clamped so that one input cannot exhaust memory.
constexpr std::uint32_t kLargestOutput = 1u << 22;

std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The size the framing announces, as DecodePayload will read it.
std::uint32_t AnnouncedSize(const std::uint8_t* data, size_t size) {
  if (size < 4) return 0;
  if (std::memcmp(data, "MCOZ", 4) != 0) return ReadLe32(data);
  return size >= 16 ? ReadLe32(data + 12) : 0;
}

void DecodeRaw(const std::uint8_t* data, size_t size, size_t capacity) {
  // Exactly sized heap copies, so that the sanitizer catches one byte too far.
  auto source = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) std::memcpy(source.get(), data, size);
  auto destination = std::make_unique<std::uint8_t[]>(capacity);
  size_t produced = ~size_t{0};
  const auto result =
      emberfall::Lzo1xDecompressSafe(source.get(), size, destination.get(), capacity, produced);
  if (produced > capacity) std::abort();
  const int code = static_cast<int>(result);
  if (code < 0 || code > 5) std::abort();
  if (result == emberfall::LzoResult::Ok && size < 3) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::uint32_t announced = AnnouncedSize(data, size);
  if (announced > kLargestOutput) announced = static_cast<std::uint32_t>(size) * 4;
  try {
    const auto decoded = emberfall::DecodePayload(std::span(data, size), announced);
    if (decoded.size() != announced) std::abort();
  } catch (const emberfall::PatchFailure& failure) {
    using emberfall::PatchErrorCode;
    if (failure.code() != PatchErrorCode::UnpackSizeMismatch &&
        failure.code() != PatchErrorCode::DecompressFailed) {
      std::abort();
    }
  }
  if (size > 4) {
    DecodeRaw(data + 4, size - 4, announced);
    DecodeRaw(data + 4, size - 4, announced / 2);
  }
  return 0;
}
