// Chunk indexes: the parser must refuse with a reason or accept, and an
// accepted index has exactly one spelling, so formatting it again must give
// back the very bytes that were parsed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/chunk_index.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string reason;
  const std::optional<emberfall::ChunkIndex> index = emberfall::ParseChunkIndex(bytes, reason);
  if (!index) {
    if (reason.empty()) std::abort();
    return 0;
  }
  if (emberfall::FormatChunkIndex(*index) != bytes) std::abort();
  return 0;
}
