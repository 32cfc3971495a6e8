// SPDX-License-Identifier: Apache-2.0
// LZO1X compression: our own, portable, writing streams that our decoder
// (core/lzo1x.h) and every other LZO1X decoder read back exactly.
#ifndef EMBERFALL_CORE_LZO1X_COMPRESS_H_
#define EMBERFALL_CORE_LZO1X_COMPRESS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace emberfall {

enum class Lzo1xLevel {
  // Greedy matching through a hash table of recent positions; speeds up over
  // data that does not compress. About 64 KiB of working memory.
  Fast,
  // Optimal parsing (the cheapest sequence of literal runs and matches by
  // the format's exact byte costs) over a binary tree of the last 48 KiB.
  // At most about 1.5 MiB of working memory.
  Best,
};

// The largest input: the payload framings hold sizes in 32 bits.
inline constexpr size_t kLzo1xMaxInput = 0xFFFFFFFF;

// The most room a stream of |input_size| bytes can take: input_size +
// input_size / 16 + 67, the same bound as the launcher's payload limit.
constexpr size_t Lzo1xCompressBound(size_t input_size) {
  return input_size + input_size / 16 + 67;
}

// Returns the complete LZO1X stream of |input| (the end-of-stream instruction
// included): Lzo1xDecompressSafe of it yields exactly |input|, and so does
// every other LZO1X decoder. Deterministic: the same input and level give the
// same bytes on every platform. At most Lzo1xCompressBound(|input|.size())
// bytes. Throws std::length_error if |input| is larger than kLzo1xMaxInput,
// std::bad_alloc when memory runs out; nothing else. Thread-safe: it keeps no
// state between calls, so any number of threads may compress at once.
std::vector<std::uint8_t> Lzo1xCompress(std::span<const std::uint8_t> input, Lzo1xLevel level);

// The same stream written to |out|, for callers that frame it or reuse one
// buffer: returns its length. Throws std::length_error as above, and also
// when |out| is smaller than Lzo1xCompressBound(|input|.size()).
size_t Lzo1xCompressTo(std::span<const std::uint8_t> input, Lzo1xLevel level,
                       std::span<std::uint8_t> out);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_LZO1X_COMPRESS_H_
