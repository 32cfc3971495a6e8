// SPDX-License-Identifier: Apache-2.0
// Byte comparison helpers of the compressor's match finders, and the best
// level's entry point. Only the compressor's own files include this header.
#ifndef EMBERFALL_CORE_LZO1X_MATCH_H_
#define EMBERFALL_CORE_LZO1X_MATCH_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace emberfall::lzo1x {

inline std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// How many bytes from |p| on equal those from |q| (q < p), reading nothing at
// or past |end|. Eight bytes at a time; the first difference of a step is
// found from the lowest differing bit, which needs a little-endian host (x86
// and ARM as configured by every toolchain we build with).
inline size_t MatchLength(const std::uint8_t* p, const std::uint8_t* q, const std::uint8_t* end) {
  static_assert(std::endian::native == std::endian::little);
  const std::uint8_t* const start = p;
  while (end - p >= 8) {
    const std::uint64_t diff = Load64(p) ^ Load64(q);
    if (diff != 0) return static_cast<size_t>(p - start) + (std::countr_zero(diff) >> 3);
    p += 8;
    q += 8;
  }
  while (p < end && *p == *q) {
    ++p;
    ++q;
  }
  return static_cast<size_t>(p - start);
}

// Writes the best level's stream of |in|[0, |n|) to |out|, which has room
// for Lzo1xCompressBound(n) bytes; returns its length.
size_t CompressBest(const std::uint8_t* in, size_t n, std::uint8_t* out);

}  // namespace emberfall::lzo1x

#endif  // EMBERFALL_CORE_LZO1X_MATCH_H_
