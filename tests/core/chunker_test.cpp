#include "core/chunker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <numeric>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

#include "tests/support/test_corpus.h"

namespace emberfall {
namespace {

constexpr ChunkerParams kSmall{64, 256, 1024};
constexpr ChunkerParams kMiddle{1024, 4096, 16384};

// The chunker as its description reads, slowly: the gear table from
// splitmix64 seeded with "EMBCHUNK", and at every candidate length L the
// hash of the 64 bytes before L computed afresh, its top bits tested by a
// shift. The oracle of the fast version.
std::vector<std::uint32_t> ReferenceLengths(const test::Bytes& data, const ChunkerParams& p) {
  std::uint64_t gear[256];
  std::uint64_t state = 0x454D424348554E4Bull;
  for (std::uint64_t& g : gear) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    g = z ^ (z >> 31);
  }
  const int avg_bits = std::countr_zero(p.avg_size);
  std::vector<std::uint32_t> lengths;
  for (size_t start = 0; start < data.size();) {
    const size_t rest = data.size() - start;
    const size_t last = std::min<size_t>(rest, p.max_size);
    size_t length = rest <= p.min_size ? rest : last;
    for (size_t l = p.min_size; rest > p.min_size && l < last; ++l) {
      std::uint64_t hash = 0;
      for (size_t k = l - 64; k < l; ++k) hash = hash * 2 + gear[data[start + k]];
      if ((hash >> (64 - (l < p.avg_size ? avg_bits + 2 : avg_bits - 2))) == 0) {
        length = l;
        break;
      }
    }
    lengths.push_back(static_cast<std::uint32_t>(length));
    start += length;
  }
  return lengths;
}

std::string_view View(const test::Bytes& data, size_t offset, size_t length) {
  return {reinterpret_cast<const char*>(data.data()) + offset, length};
}

TEST(ChunkerTest, AgreesWithTheReferenceKeepsItsKnownAnswerAndItsBounds) {
  struct Case {
    test::Bytes data;
    ChunkerParams params;
  };
  const Case cases[] = {
      {test::FastRandomBytes(8 << 20, 11), kDefaultChunkerParams},
      {test::MixedBytes(1 << 20, 3), kSmall},
      {test::MixedBytes(2 << 20, 4), kMiddle},
      {test::TextBytes(3 << 20, 5), kDefaultChunkerParams},
      {test::Bytes(100000, 0), kMiddle},
      {test::FastRandomBytes(300, 6), kSmall},
      {test::FastRandomBytes(64, 6), kSmall},
      {{}, kSmall},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.data.size() << " bytes, avg " << c.params.avg_size);
    const std::vector<std::uint32_t> lengths = ChunkLengths(c.data, c.params);
    EXPECT_EQ(lengths, ReferenceLengths(c.data, c.params));
    EXPECT_EQ(std::accumulate(lengths.begin(), lengths.end(), size_t{0}), c.data.size());
    for (size_t i = 0; i < lengths.size(); ++i) {
      ASSERT_LE(lengths[i], c.params.max_size);
      ASSERT_TRUE(lengths[i] >= c.params.min_size || i + 1 == lengths.size()) << i;
    }
  }
  // Pinned once from both: a change here moves every cut ever published.
  const std::vector<std::uint32_t> pinned = ChunkLengths(cases[0].data, kDefaultChunkerParams);
  std::uint64_t fnv = 0xCBF29CE484222325ull;
  for (std::uint32_t length : pinned) fnv = (fnv ^ length) * 0x100000001B3ull;
  EXPECT_EQ(pinned.size(), 108u);
  EXPECT_EQ(fnv, 0x4DCDBBBCB1BF3597ull);
  for (const ChunkerParams& bad : {ChunkerParams{63, 128, 256}, ChunkerParams{128, 128, 256},
                                   ChunkerParams{64, 256, 256}, ChunkerParams{64, 192, 256},
                                   ChunkerParams{64, 256, kMaxChunkSize + 1}}) {
    EXPECT_FALSE(IsValidChunkerParams(bad)) << bad.min_size << " " << bad.avg_size;
  }
}

// All chunks of an edited version but those around the edit are chunks the
// old version has.
TEST(ChunkerTest, AnEditChangesOnlyTheChunksAroundIt) {
  const test::Bytes old_data = test::FastRandomBytes(8 << 20, 21);
  const test::Bytes fresh = test::FastRandomBytes(300 << 10, 22);
  const ChunkerParams params = kDefaultChunkerParams;
  std::unordered_set<std::string_view> old_chunks;
  size_t offset = 0;
  for (std::uint32_t length : ChunkLengths(old_data, params)) {
    old_chunks.insert(View(old_data, offset, length));
    offset += length;
  }
  enum Kind { kInsert, kDelete, kOverwrite };
  const struct {
    Kind kind;
    std::ptrdiff_t at, length;
  } edits[] = {{kInsert, 0, 1},         {kInsert, 4 << 20, 100},      {kInsert, 1234567, 65543},
               {kInsert, 8000000, 300 << 10}, {kDelete, 0, 1},     {kDelete, 3 << 20, 4096},
               {kDelete, 5555555, 200 << 10}, {kOverwrite, 17, 1}, {kOverwrite, 2 << 20, 77777},
               {kOverwrite, 7 << 20, 300 << 10}};
  for (const auto& edit : edits) {
    SCOPED_TRACE(::testing::Message() << edit.kind << " at " << edit.at << ", " << edit.length);
    test::Bytes data = old_data;
    if (edit.kind == kInsert) data.insert(data.begin() + edit.at, fresh.begin(), fresh.begin() + edit.length);
    if (edit.kind == kDelete) data.erase(data.begin() + edit.at, data.begin() + edit.at + edit.length);
    if (edit.kind == kOverwrite) std::copy_n(fresh.begin(), edit.length, data.begin() + edit.at);
    size_t changed = 0;
    offset = 0;
    for (std::uint32_t length : ChunkLengths(data, params)) {
      changed += old_chunks.count(View(data, offset, length)) ? 0 : 1;
      offset += length;
    }
    EXPECT_GE(changed, 1u);
    EXPECT_LE(changed, edit.kind == kDelete ? 3 : edit.length / params.avg_size + 4);
  }
}

TEST(ChunkerTest, CutStreamCutsAsTheWholeBufferDoesWhateverTheReadSizes) {
  const test::Bytes data = test::MixedBytes(3 << 20, 31);
  for (size_t read_size : {size_t{1}, size_t{7}, size_t{4099}, size_t{65537}, size_t{(1 << 20) + 3}}) {
    SCOPED_TRACE(read_size);
    size_t position = 0;
    const auto read = [&](std::uint8_t* buffer, size_t capacity) {
      const size_t n = std::min({capacity, read_size, data.size() - position});
      std::copy_n(data.data() + position, n, buffer);
      position += n;
      return n;
    };
    std::vector<std::uint32_t> lengths;
    CutStream(read, kMiddle, [&](const CutChunk& chunk, std::span<const std::uint8_t> bytes) {
      const std::string_view got(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      ASSERT_EQ(got, View(data, chunk.offset, chunk.size));
      ASSERT_EQ(chunk.sha256, Sha256Of(got));
      lengths.push_back(chunk.size);
    });
    EXPECT_EQ(lengths, ChunkLengths(data, kMiddle));
  }
  int calls = 0;
  const auto count = [&](const CutChunk&, std::span<const std::uint8_t>) { ++calls; };
  CutStream([](std::uint8_t*, size_t) { return size_t{0}; }, kSmall, count);
  EXPECT_EQ(calls, 0);
  const auto failing = [](std::uint8_t*, size_t) -> size_t { throw std::runtime_error("disk"); };
  EXPECT_THROW(CutStream(failing, kSmall, count), std::runtime_error);
}

}  // namespace
}  // namespace emberfall
