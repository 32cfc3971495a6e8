#include "core/chunk_index.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/lzo1x_compress.h"
#include "tests/support/test_corpus.h"

namespace emberfall {
namespace {

Sha256Digest Filled(std::uint8_t value) {
  Sha256Digest digest;
  digest.fill(value);
  return digest;
}

// Two packs (one with a gap), four chunks (two compressed), four files: one
// empty, one that repeats a chunk, one whose path sorts above ASCII.
ChunkIndex ValidIndex() {
  ChunkIndex index;
  index.crclist_sha256 = Filled(0xC0);
  index.params = ChunkerParams{64, 256, 1024};
  index.packs = {{Filled(0xA1), 3000}, {Filled(0xA2), 1000}};
  index.chunks = {{Filled(1), 1000, 1000, ChunkMethod::kStored, 0, 0},
                  {Filled(2), 1024, 700, ChunkMethod::kLzo1x, 0, 1000},
                  {Filled(3), 1, 1, ChunkMethod::kStored, 0, 2999},
                  {Filled(4), 64, 100, ChunkMethod::kLzo1x, 1, 0}};
  index.files = {{"a.dat", 2001, {0, 0, 2}}, {"data/b", 1088, {1, 3}}, {"data/c", 0, {}},
                 {"\xC3\xA9", 1024, {1}}};
  return index;
}

TEST(ChunkIndexTest, RoundTripsAndRefusesEveryTruncationAndTrailingByte) {
  const std::string bytes = FormatChunkIndex(ValidIndex());
  EXPECT_EQ(bytes.size(), 8 + 32 + 12 + 4 + 2 * 40 + 4 + 4 * 53 + 4 + 4 * 14 + 19 + 6 * 4);
  std::string reason;
  const std::optional<ChunkIndex> index = ParseChunkIndex(bytes, reason);
  ASSERT_TRUE(index) << reason;
  EXPECT_EQ(index->chunks[1].method, ChunkMethod::kLzo1x);
  EXPECT_EQ(index->files[0].chunks, (std::vector<std::uint32_t>{0, 0, 2}));
  EXPECT_EQ(FormatChunkIndex(*index), bytes);
  for (size_t size = 0; size < bytes.size(); ++size) {
    reason.clear();
    EXPECT_FALSE(ParseChunkIndex(bytes.substr(0, size), reason)) << size;
    EXPECT_FALSE(reason.empty()) << size;
  }
  Sha256Digest counting;
  for (size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i * 8 + 7);
  EXPECT_EQ(PackFileName(counting), "070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff.pack");
}

std::string Changed(const std::function<void(ChunkIndex&)>& change) {
  ChunkIndex index = ValidIndex();
  change(index);
  return FormatChunkIndex(index);
}

std::string Patched(size_t at, std::string_view bytes) {
  return FormatChunkIndex(ValidIndex()).replace(at, bytes.size(), bytes);
}

TEST(ChunkIndexTest, RefusesHostileIndexesWithAReason) {
  using X = ChunkIndex&;
  const size_t packs = 8 + 32 + 12, chunks = packs + 4 + 2 * 40, files = chunks + 4 + 4 * 53;
  const std::pair<const char*, std::string> cases[] = {
      {"bytes after the last file", FormatChunkIndex(ValidIndex()) + '\0'},
      {"not a chunk index (bad magic)", Patched(7, "\r")},
      {"more packs than the index has bytes for", Patched(packs, "\xFF\xFF\xFF\x0F")},
      {"more chunks than the index has bytes for", Patched(chunks, std::string("\0\0\1\0", 4))},
      {"more files than the index has bytes for", Patched(files, std::string("\0\x10\0\0", 4))},
      {"more chunks of a file than the index has bytes for", Patched(files + 19, std::string("\0\0\0\x40", 4))},
      {"invalid chunker sizes", Changed([](X x) { x.params.avg_size = 300; })},
      {"invalid chunker sizes", Changed([](X x) { x.params.min_size = 32; })},
      {"a pack size out of range", Changed([](X x) { x.packs[1].size = kMaxPackSize + 1; })},
      {"a pack listed twice", Changed([](X x) { x.packs[1].sha256 = x.packs[0].sha256; })},
      {"a chunk outside its pack", Changed([](X x) { x.chunks[2].offset = 3000; })},
      {"a chunk outside its pack", Changed([](X x) { x.chunks[3].offset = ~std::uint64_t{0}; })},
      {"a chunk in a pack the index does not list", Changed([](X x) { x.chunks[3].pack = 2; })},
      {"two chunks overlap in a pack", Changed([](X x) { x.chunks[1].offset = 999; })},
      {"two chunks overlap in a pack", Changed([](X x) { x.chunks[2].offset = 1000; })},
      {"a chunk size out of range", Changed([](X x) { x.chunks[1].size = 1025; })},
      {"a chunk size out of range", Changed([](X x) { x.chunks[2].size = x.chunks[2].stored_size = 0; })},
      {"a compressed chunk's stored size out of range", Changed([](X x) { x.chunks[3].stored_size = 64 + 4 + 68; })},
      {"a compressed chunk's stored size out of range", Changed([](X x) { x.chunks[1].stored_size = 0; })},
      {"a stored chunk whose stored size is not its size", Changed([](X x) { x.chunks[0].stored_size = 999; })},
      {"an unknown chunk method", Changed([](X x) { x.chunks[0].method = ChunkMethod{2}; })},
      {"a chunk hash listed twice", Changed([](X x) { x.chunks[3].sha256 = x.chunks[0].sha256; })},
      {"a file's chunks do not add up to its size", Changed([](X x) { ++x.files[1].size; })},
      {"a file's chunks do not add up to its size", Changed([](X x) { x.files[2].size = 1; })},
      {"a file names a chunk the index does not list", Changed([](X x) { x.files[0].chunks[2] = 4; })},
      {"file paths not in strictly ascending order", Changed([](X x) { x.files[2].path = "data/b"; })},
      {"file paths not in strictly ascending order", Changed([](X x) { std::swap(x.files[0], x.files[1]); })},
      {"a file with an empty path", Changed([](X x) { x.files[0].path.clear(); })},
  };
  for (const auto& [expected_reason, bytes] : cases) {
    SCOPED_TRACE(expected_reason);
    std::string reason;
    EXPECT_FALSE(ParseChunkIndex(bytes, reason));
    EXPECT_EQ(reason, expected_reason);
  }
}

TEST(ChunkIndexTest, DecodesStoredAndCompressedChunksAndChecksThem) {
  const test::Bytes bytes = test::MixedBytes(5000, 8);
  const std::vector<std::uint8_t> packed = Lzo1xCompress(bytes, Lzo1xLevel::Fast);
  const auto packed_size = static_cast<std::uint32_t>(packed.size());
  const Sha256Digest hash = Sha256Of({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  const IndexedChunk stored{hash, 5000, 5000, ChunkMethod::kStored, 0, 0};
  const IndexedChunk lzo{hash, 5000, packed_size, ChunkMethod::kLzo1x, 0, 0};
  std::string reason;
  EXPECT_EQ(DecodeChunk(stored, bytes, reason), bytes) << reason;
  EXPECT_EQ(DecodeChunk(lzo, packed, reason), bytes) << reason;
  test::Bytes flipped = bytes;
  flipped[4999] ^= 1;
  const std::span<const std::uint8_t> short_packed = std::span(packed).first(packed.size() - 1);
  const std::tuple<IndexedChunk, std::span<const std::uint8_t>, const char*> cases[] = {
      {stored, flipped, "the chunk's SHA-256 does not match"},
      {stored, std::span(bytes).first(4999), "the stored bytes are not the chunk's stored size"},
      {{hash, 5001, packed_size, ChunkMethod::kLzo1x, 0, 0}, packed, "the chunk decodes to 5000 bytes, not 5001"},
      {{hash, 4999, packed_size, ChunkMethod::kLzo1x, 0, 0}, packed, "the chunk does not decode: output overrun"},
      {{hash, 5000, packed_size - 1, ChunkMethod::kLzo1x, 0, 0}, short_packed, "the chunk does not decode: input overrun"},
      {{Filled(0), 5000, packed_size, ChunkMethod::kLzo1x, 0, 0}, packed, "the chunk's SHA-256 does not match"},
      {{hash, 5000, 5000, ChunkMethod{7}, 0, 0}, bytes, "an unknown chunk method"},
  };
  for (const auto& [chunk, input, expected_reason] : cases) {
    SCOPED_TRACE(expected_reason);
    EXPECT_FALSE(DecodeChunk(chunk, input, reason));
    EXPECT_EQ(reason, expected_reason);
  }
}

}  // namespace
}  // namespace emberfall
