// The chunk index of a release, "crclist.chunks" beside its CRC list: for
// every listed file the chunks it is made of, and where each chunk is stored.
// Chunks live in immutable pack files named by the SHA-256 of their bytes,
// in the folder "packs" beside the version folders (the configuration's
// crcpatch URL + "packs/<64 hex digits>.pack"), so that every release of a
// web root shares them and a client reads a run of adjacent chunks with one
// Range request. A launcher that knows no chunks never asks for either.
//
// Format (binary, integers little-endian):
//   "EMBCHK1\n"                      8 bytes
//   crclist SHA-256                  32 bytes: the CRC list this index is for
//   min, avg, max chunk size         3 x u32 (IsValidChunkerParams)
//   pack count P                     u32
//   P x { SHA-256 [32], size u64 }   the packs, named by the SHA-256
//   chunk count C                    u32
//   C x { SHA-256 [32], size u32, stored size u32, method u8,
//         pack u32, offset u64 }     distinct chunks; the SHA-256 is of the
//                                    chunk's own (decoded) bytes
//   file count F                     u32
//   F x { path length u16, path [UTF-8, as the crclist spells it],
//         size u64, chunk count N u32, N x chunk number u32 }
// Nothing follows. Files in strictly ascending byte order of their paths.
//
// Signed releases bind the index by its SHA-256 and size on a "file" line
// of the release document under kChunkIndexSignedPath, a name no game file
// can have; launchers that predate chunks look up only the crclist's own
// paths there and so accept such a document unchanged.
#ifndef EMBERFALL_CORE_CHUNK_INDEX_H_
#define EMBERFALL_CORE_CHUNK_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/chunker.h"
#include "core/crypto.h"

namespace emberfall {

inline constexpr std::string_view kChunkIndexName = "crclist.chunks";
inline constexpr std::string_view kChunkIndexMagic = "EMBCHK1\n";
inline constexpr std::string_view kChunkIndexSignedPath = ":chunks";
inline constexpr std::string_view kPackFolder = "packs";
// The launcher's store of fetched chunks, a folder at the top of the game
// folder; no published path may lie in it (IsSafeRelativePath).
inline constexpr std::u16string_view kChunkStoreFolderName = u"EmbLauncher.chunks";
// Larger indexes are refused unread: a few million chunks fit.
inline constexpr size_t kChunkIndexLimit = 256 * 1024 * 1024;
// Largest pack a publisher writes and a client accepts.
inline constexpr std::uint64_t kMaxPackSize = 1ull << 32;

enum class ChunkMethod : std::uint8_t {
  kStored = 0,  // the chunk's bytes as they are; stored size == size
  kLzo1x = 1,   // one LZO1X stream (no container) that decodes to size bytes
};

struct PackRef {
  Sha256Digest sha256{};
  std::uint64_t size = 0;
};

struct IndexedChunk {
  Sha256Digest sha256{};
  std::uint32_t size = 0;         // decoded, 1 to the index's max chunk size
  std::uint32_t stored_size = 0;  // in the pack
  ChunkMethod method = ChunkMethod::kStored;
  std::uint32_t pack = 0;         // into ChunkIndex::packs
  std::uint64_t offset = 0;       // of the stored bytes in that pack
};

struct IndexedFile {
  std::string path;                   // as the crclist spells it
  std::uint64_t size = 0;             // the sum of its chunks' sizes
  std::vector<std::uint32_t> chunks;  // into ChunkIndex::chunks, in file order
};

struct ChunkIndex {
  Sha256Digest crclist_sha256{};
  ChunkerParams params = kDefaultChunkerParams;
  std::vector<PackRef> packs;
  std::vector<IndexedChunk> chunks;
  std::vector<IndexedFile> files;
};

// The index's bytes. |index| must be one ParseChunkIndex accepts.
std::string FormatChunkIndex(const ChunkIndex& index);

// Parses |bytes| strictly; nullopt with one English line in |reason| for
// anything else: a short or long input, bad magic or chunker sizes, a count
// the remaining bytes cannot hold, a chunk outside its pack or overlapping
// another in it, a size or stored size out of range (stored: 1 to the LZO1X
// bound of its size; equal to it when stored raw), an unknown method, a
// duplicate chunk hash, a file whose chunks do not add up to its size, a
// path that is empty or not in ascending order, a pack of size 0 or above
// kMaxPackSize, a pack listed twice, more than kChunkIndexLimit bytes. Chunks
// no file uses and gaps in a pack are allowed. Never allocates more than
// a small multiple of |bytes|.size(). Pure.
std::optional<ChunkIndex> ParseChunkIndex(std::string_view bytes, std::string& reason);

// "<64 lower-case hex digits>.pack".
std::string PackFileName(const Sha256Digest& pack);

// The chunk's bytes from its stored bytes: exactly |chunk|.size bytes whose
// SHA-256 is |chunk|.sha256, or nullopt with |reason| (a decoding failure,
// a wrong length, a hash mismatch).
std::optional<std::vector<std::uint8_t>> DecodeChunk(const IndexedChunk& chunk,
                                                     std::span<const std::uint8_t> stored,
                                                     std::string& reason);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_CHUNK_INDEX_H_
