#include "core/chunk_index.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/lzo1x_compress.h"
#include "tests/support/test_corpus.h"

namespace emberfall {
namespace {

Sha256Digest HashOf(std::span<const std::uint8_t> bytes) {
  return Sha256Of(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Sha256Digest Filled(std::uint8_t value) {
  Sha256Digest digest;
  digest.fill(value);
  return digest;
}

// Two packs, four chunks (one compressed, one pack with a gap), four files:
// one empty, one that repeats a chunk.
ChunkIndex ValidIndex() {
  ChunkIndex index;
  index.crclist_sha256 = Filled(0xC0);
  index.params = ChunkerParams{64, 256, 1024};
  index.packs = {{Filled(0xA1), 3000}, {Filled(0xA2), 1000}};
  index.chunks = {
      {Filled(1), 1000, 1000, ChunkMethod::kStored, 0, 0},
      {Filled(2), 1024, 700, ChunkMethod::kLzo1x, 0, 1000},
      {Filled(3), 1, 1, ChunkMethod::kStored, 0, 2999},
      {Filled(4), 64, 100, ChunkMethod::kLzo1x, 1, 0},
  };
  index.files = {{"a.dat", 2001, {0, 0, 2}},
                 {"data/b", 1088, {1, 3}},
                 {"data/c", 0, {}},
                 {"\xC3\xA9", 1024, {1}}};
  return index;
}

std::optional<ChunkIndex> Parse(std::string_view bytes, std::string& reason) {
  reason.clear();
  return ParseChunkIndex(bytes, reason);
}

TEST(ChunkIndexTest, RoundTripsAndRefusesEveryTruncationAndTrailingByte) {
  const std::string bytes = FormatChunkIndex(ValidIndex());
  std::string reason;
  const std::optional<ChunkIndex> index = Parse(bytes, reason);
  ASSERT_TRUE(index) << reason;
  EXPECT_EQ(index->crclist_sha256, Filled(0xC0));
  EXPECT_EQ(index->params, (ChunkerParams{64, 256, 1024}));
  ASSERT_EQ(index->chunks.size(), 4u);
  EXPECT_EQ(index->chunks[1].method, ChunkMethod::kLzo1x);
  EXPECT_EQ(index->chunks[3].offset, 0u);
  EXPECT_EQ(index->chunks[2].offset, 2999u);
  ASSERT_EQ(index->files.size(), 4u);
  EXPECT_EQ(index->files[3].path, "\xC3\xA9");
  EXPECT_EQ(index->files[0].chunks, (std::vector<std::uint32_t>{0, 0, 2}));
  EXPECT_EQ(FormatChunkIndex(*index), bytes);
  EXPECT_EQ(bytes.size(), 8 + 32 + 12 + 4 + 2 * 40 + 4 + 4 * 53 + 4 + 4 * 14 + 5 + 6 + 6 + 2 + 4 * 6);
  for (size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(Parse(bytes.substr(0, size), reason)) << size;
    EXPECT_FALSE(reason.empty()) << size;
  }
  EXPECT_FALSE(Parse(bytes + '\0', reason));
  EXPECT_EQ(reason, "bytes after the last file");
  Sha256Digest counting;
  for (size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i * 8 + 7);
  EXPECT_EQ(PackFileName(counting),
            "070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff.pack");
}

TEST(ChunkIndexTest, RefusesHostileIndexesWithAReason) {
  struct Case {
    const char* expected_reason;
    std::function<void(ChunkIndex&)> change;
  };
  const Case cases[] = {
      {"invalid chunker sizes", [](ChunkIndex& x) { x.params.avg_size = 300; }},
      {"invalid chunker sizes", [](ChunkIndex& x) { x.params.min_size = 32; }},
      {"a pack size out of range", [](ChunkIndex& x) { x.packs[1].size = kMaxPackSize + 1; }},
      {"a pack listed twice", [](ChunkIndex& x) { x.packs[1].sha256 = x.packs[0].sha256; }},
      {"a chunk outside its pack", [](ChunkIndex& x) { x.chunks[2].offset = 3000; }},
      {"a chunk outside its pack", [](ChunkIndex& x) { x.chunks[3].offset = ~std::uint64_t{0}; }},
      {"a chunk in a pack the index does not list", [](ChunkIndex& x) { x.chunks[3].pack = 2; }},
      {"two chunks overlap in a pack", [](ChunkIndex& x) { x.chunks[1].offset = 999; }},
      {"two chunks overlap in a pack", [](ChunkIndex& x) { x.chunks[2].offset = 1000; }},
      {"a chunk size out of range", [](ChunkIndex& x) { x.chunks[1].size = 1025; }},
      {"a chunk size out of range", [](ChunkIndex& x) { x.chunks[2] = {Filled(3), 0, 0, ChunkMethod::kStored, 0, 2999}; }},
      {"a compressed chunk's stored size out of range", [](ChunkIndex& x) { x.chunks[3].stored_size = 64 + 4 + 67 + 1; }},
      {"a compressed chunk's stored size out of range", [](ChunkIndex& x) { x.chunks[1].stored_size = 0; }},
      {"a stored chunk whose stored size is not its size", [](ChunkIndex& x) { x.chunks[0].stored_size = 999; }},
      {"an unknown chunk method", [](ChunkIndex& x) { x.chunks[0].method = static_cast<ChunkMethod>(2); }},
      {"a chunk hash listed twice", [](ChunkIndex& x) { x.chunks[3].sha256 = x.chunks[0].sha256; }},
      {"a file's chunks do not add up to its size", [](ChunkIndex& x) { ++x.files[1].size; }},
      {"a file's chunks do not add up to its size", [](ChunkIndex& x) { x.files[2].size = 1; }},
      {"a file names a chunk the index does not list", [](ChunkIndex& x) { x.files[0].chunks[2] = 4; }},
      {"file paths not in strictly ascending order", [](ChunkIndex& x) { x.files[2].path = "data/b"; }},
      {"file paths not in strictly ascending order", [](ChunkIndex& x) { std::swap(x.files[0], x.files[1]); }},
      {"a file with an empty path", [](ChunkIndex& x) { x.files[0].path.clear(); }},
  };
  std::string reason;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected_reason);
    ChunkIndex index = ValidIndex();
    c.change(index);
    EXPECT_FALSE(Parse(FormatChunkIndex(index), reason));
    EXPECT_EQ(reason, c.expected_reason);
  }
  // Byte edits: the magic, and counts that the remaining bytes cannot hold.
  const std::string valid = FormatChunkIndex(ValidIndex());
  const size_t pack_count = 8 + 32 + 12;
  const size_t chunk_count = pack_count + 4 + 2 * 40;
  const size_t file_count = chunk_count + 4 + 4 * 53;
  const size_t first_file_chunks = file_count + 4 + 2 + 5 + 8;
  struct ByteCase {
    size_t at;
    std::string bytes;
    const char* expected_reason;
  };
  const ByteCase byte_cases[] = {
      {7, "\r", "not a chunk index (bad magic)"},
      {pack_count, std::string("\xFF\xFF\xFF\x0F", 4), "more packs than the index has bytes for"},
      {chunk_count, std::string("\x00\x00\x01\x00", 4), "more chunks than the index has bytes for"},
      {file_count, std::string("\x00\x10\x00\x00", 4), "more files than the index has bytes for"},
      {first_file_chunks, std::string("\x00\x00\x00\x40", 4), "more chunks of a file than the index has bytes for"},
  };
  for (const ByteCase& c : byte_cases) {
    SCOPED_TRACE(c.expected_reason);
    std::string bytes = valid;
    bytes.replace(c.at, c.bytes.size(), c.bytes);
    EXPECT_FALSE(Parse(bytes, reason));
    EXPECT_EQ(reason, c.expected_reason);
  }
}

TEST(ChunkIndexTest, DecodesStoredAndCompressedChunksAndChecksThem) {
  const test::Bytes bytes = test::MixedBytes(5000, 8);
  const std::vector<std::uint8_t> packed = Lzo1xCompress(bytes, Lzo1xLevel::Fast);
  const IndexedChunk stored{HashOf(bytes), 5000, 5000, ChunkMethod::kStored, 0, 0};
  const IndexedChunk lzo{HashOf(bytes), 5000, static_cast<std::uint32_t>(packed.size()),
                         ChunkMethod::kLzo1x, 0, 0};
  std::string reason;
  EXPECT_EQ(DecodeChunk(stored, bytes, reason), bytes) << reason;
  EXPECT_EQ(DecodeChunk(lzo, packed, reason), bytes) << reason;
  struct Case {
    IndexedChunk chunk;
    std::span<const std::uint8_t> stored;
    std::string expected_reason;
  };
  auto with = [](IndexedChunk chunk, auto change) {
    change(chunk);
    return chunk;
  };
  test::Bytes flipped = bytes;
  flipped[4999] ^= 1;
  const Case cases[] = {
      {stored, flipped, "the chunk's SHA-256 does not match"},
      {stored, std::span(bytes).first(4999), "the stored bytes are not the chunk's stored size"},
      {with(lzo, [](IndexedChunk& c) { c.size = 5001; }), packed, "the chunk decodes to 5000 bytes, not 5001"},
      {with(lzo, [](IndexedChunk& c) { c.size = 4999; }), packed, "the chunk does not decode: output overrun"},
      {with(lzo, [](IndexedChunk& c) { c.stored_size -= 1; }), std::span(packed).first(packed.size() - 1),
       "the chunk does not decode: input overrun"},
      {with(lzo, [](IndexedChunk& c) { c.sha256[0] ^= 1; }), packed, "the chunk's SHA-256 does not match"},
      {with(stored, [](IndexedChunk& c) { c.method = static_cast<ChunkMethod>(7); }), bytes,
       "an unknown chunk method"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected_reason);
    EXPECT_FALSE(DecodeChunk(c.chunk, c.stored, reason));
    EXPECT_EQ(reason, c.expected_reason);
  }
}

}  // namespace
}  // namespace emberfall
