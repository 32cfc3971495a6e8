// Content-defined chunking: files are cut where their bytes say, not at fixed
// offsets, so an insertion or a deletion moves only the cuts around it and
// every other chunk of a new version is one the old version already has.
// A gear hash over the bytes since the last cut, with normalized chunk sizes:
// a stricter mask before the average size and a looser one after it, so
// chunk sizes gather near the average between the minimum and the maximum.
//
// The cut rule is part of the published format, as a client must cut its
// old files exactly as the publisher cut the new ones: hash = (hash << 1) +
// gear[byte] over the bytes from the chunk's start, with gear the 256 values
// of splitmix64 seeded with "EMBCHUNK" (0x454D424348554E4B); a cut after L
// bytes, min_size <= L, when the hash's top log2(avg)+2 bits (L < avg) or
// log2(avg)-2 bits (L >= avg) are all zero; at max_size at the latest.
#ifndef EMBERFALL_CORE_CHUNKER_H_
#define EMBERFALL_CORE_CHUNKER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/crypto.h"

namespace emberfall {

struct ChunkerParams {
  std::uint32_t min_size = 0;
  std::uint32_t avg_size = 0;  // a power of two
  std::uint32_t max_size = 0;
  bool operator==(const ChunkerParams&) const = default;
};

// What the publisher cuts with; a client cuts with whatever the index names.
inline constexpr ChunkerParams kDefaultChunkerParams{16 * 1024, 64 * 1024, 256 * 1024};
// The largest chunk any index may name.
inline constexpr std::uint32_t kMaxChunkSize = 4 * 1024 * 1024;

// 64 <= min < avg < max <= kMaxChunkSize and avg a power of two.
bool IsValidChunkerParams(const ChunkerParams& params);

// The length of the chunk that starts at |data|[0]. |data| holds the bytes
// from there on: at least |params|.max_size of them, or everything up to the
// end of the file. Between 1 and min(|data|.size(), max_size); 0 only for
// empty |data|. Depends on nothing but those bytes and |params|. |params|
// must be valid.
size_t FindChunkEnd(std::span<const std::uint8_t> data, const ChunkerParams& params);

// The lengths of the chunks of a whole buffer, in order.
std::vector<std::uint32_t> ChunkLengths(std::span<const std::uint8_t> data,
                                        const ChunkerParams& params);

struct CutChunk {
  Sha256Digest sha256{};
  std::uint64_t offset = 0;
  std::uint32_t size = 0;
};

// Reads a stream to its end and cuts and hashes it with a buffer of a few
// times max_size, never the whole stream. |read| fills up to |capacity|
// bytes at |buffer| and returns how many it wrote, 0 at the end; it throws
// to stop (its exception passes through). |chunk| sees each chunk's bytes
// once, in order, with its hash and offset.
void CutStream(const std::function<size_t(std::uint8_t* buffer, size_t capacity)>& read,
               const ChunkerParams& params,
               const std::function<void(const CutChunk& chunk,
                                        std::span<const std::uint8_t> bytes)>& chunk);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_CHUNKER_H_
