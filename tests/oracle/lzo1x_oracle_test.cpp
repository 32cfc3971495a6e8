// Our LZO1X decoder against streams that liblzo2 compresses on the spot, in
// both payload framings, over a varied corpus including real binaries and
// more than 16 MiB of data. Linux only: liblzo2 is a test dependency.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "core/lzo1x.h"
#include "core/payload.h"
#include "tests/oracle/lzo_oracle.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using oracle::LzoLevel;
using test::Bytes;

Bytes ReadBinary(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs of one random byte, 1 to |max_run| long.
Bytes RunBytes(size_t size, std::uint32_t max_run, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) out.insert(out.end(), std::min<size_t>(1 + rng() % max_run, size - out.size()),
                                       static_cast<std::uint8_t>(rng()));
  return out;
}

// |period| random bytes repeated with a rare change, so that the compressors
// emit matches that overlap their own output.
Bytes PatternBytes(size_t size, size_t period, std::uint32_t seed) {
  std::mt19937 rng(seed);
  const Bytes pattern = test::RandomBytes(period, seed + 1);
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = rng() % 997 == 0 ? static_cast<std::uint8_t>(rng()) : pattern[i % period];
  return out;
}

// Copies of earlier bytes exactly at the distances where the stream format
// changes its match encoding, and beside them.
Bytes DistanceBytes(std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out = test::RandomBytes(60000, seed);
  for (size_t distance : {2047, 2048, 2049, 2050, 3071, 3072, 3073, 16383, 16384, 16385, 16386, 32768,
                          49150, 49151, 49152, 49153}) {
    for (size_t length : {2, 3, 4, 9, 34, 300}) {
      const size_t start = out.size() - distance;
      for (size_t i = 0; i < length; ++i) out.push_back(out[start + i]);
      // Noise between copies keeps the compressor from chaining them.
      for (int i = 0; i < 5; ++i) out.push_back(static_cast<std::uint8_t>(rng()));
    }
  }
  return out;
}

std::vector<std::pair<std::string, Bytes>> Corpus() {
  std::vector<std::pair<std::string, Bytes>> parts = {
      {"empty", {}},
      {"one byte", {0x42}},
      {"two bytes", {0x00, 0xFF}},
      {"zeros", Bytes(300000, 0)},
      {"runs", RunBytes(100000, 5000, 11)},
      {"short runs", RunBytes(20000, 12, 12)},
      {"random 17", test::RandomBytes(17, 31)},
      {"random", test::RandomBytes(20000, 32)},
      {"text", test::TextBytes(60000, 40)},
      {"binary-like", test::BinaryLikeBytes(60000, 50)},
      {"distances", DistanceBytes(60)},
      {"embpatch binary", ReadBinary(test::BuiltProgram("embpatch"))},
      {"system binary", ReadBinary("/bin/sh")},
  };
  for (size_t period : {1, 2, 3, 5, 7, 8, 13, 16, 31}) {
    parts.push_back({"pattern " + std::to_string(period), PatternBytes(20000, period, 20 + period)});
  }
  return parts;
}

// Decodes into a heap buffer of exactly |capacity| bytes, so that the
// sanitizer sees any write past it; |out| receives what was produced.
LzoResult Decode(const Bytes& stream, size_t capacity, Bytes* out = nullptr) {
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  size_t produced = 0;
  const LzoResult result = Lzo1xDecompressSafe(stream.data(), stream.size(), buffer.get(), capacity, produced);
  EXPECT_LE(produced, capacity);
  if (out != nullptr) out->assign(buffer.get(), buffer.get() + std::min(produced, capacity));
  return result;
}

// Every part in both framings; every cut of a stream fails on its input and
// every smaller buffer on its output, after the right prefix.
TEST(Lzo1xOracleTest, DecodesWhatLiblzo2CompressedAndFailsCleanlyWhenCutShort) {
  for (const auto& [name, data] : Corpus()) {
    for (LzoLevel level : {LzoLevel::Lzo1x1, LzoLevel::Lzo1x999}) {
      SCOPED_TRACE(name + " / " + oracle::LevelName(level));
      const Bytes stream = oracle::LzoCompress(data, level);
      const auto size = static_cast<std::uint32_t>(data.size());
      ASSERT_TRUE(DecodePayload(test::FrameBare(size, stream), size) == data);
      ASSERT_TRUE(DecodePayload(test::FrameMcoz(size, stream), size) == data);
      for (size_t cut = 0; cut < stream.size(); cut += 1 + stream.size() / 300) {
        const LzoResult result = Decode(Bytes(stream.begin(), stream.begin() + cut), size);
        ASSERT_TRUE(result == LzoResult::InputOverrun || result == LzoResult::EofNotFound) << cut;
      }
      Bytes out;
      for (size_t capacity = 0; capacity < data.size(); capacity += 1 + data.size() / 100) {
        ASSERT_EQ(Decode(stream, capacity, &out), LzoResult::OutputOverrun) << capacity;
        ASSERT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
      }
    }
  }
}

TEST(Lzo1xOracleTest, StreamsPast16MiB) {
  Bytes data = test::TextBytes(9 * 1048576, 8);
  for (const Bytes& more : {test::BinaryLikeBytes(5 * 1048576, 4), test::RandomBytes(2 * 1048576, 5),
                            Bytes(2 * 1048576 + 17, 0)}) {
    data.insert(data.end(), more.begin(), more.end());
  }
  const auto size = static_cast<std::uint32_t>(data.size());
  for (LzoLevel level : {LzoLevel::Lzo1x1, LzoLevel::Lzo1x999}) {
    EXPECT_TRUE(DecodePayload(test::FrameMcoz(size, oracle::LzoCompress(data, level)), size) == data);
  }
}

// Damaged streams never take us out of our buffers, and whenever liblzo2
// accepts one, we produce the same bytes.
TEST(Lzo1xOracleTest, DamagedStreamsThatLiblzo2AcceptsDecodeTheSame) {
  const Bytes data = test::TextBytes(20000, 10);
  const std::uint32_t seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  int accepted = 0;
  for (LzoLevel level : {LzoLevel::Lzo1x1, LzoLevel::Lzo1x999}) {
    const Bytes original = oracle::LzoCompress(data, level);
    for (int round = 0; round < 2000; ++round) {
      Bytes stream = original;
      for (std::uint32_t flips = 1 + rng() % 4; flips > 0; --flips) {
        stream[rng() % (stream.size() - 3)] = static_cast<std::uint8_t>(rng());
      }
      const size_t capacity = round % 2 ? data.size() + 64 : rng() % (data.size() + 64);
      Bytes ours;
      Bytes theirs(capacity);
      size_t their_size = 0;
      const LzoResult result = Decode(stream, capacity, &ours);
      if (oracle::LzoDecompressSafe(stream.data(), stream.size(), theirs.data(), capacity, their_size) != 0) {
        continue;
      }
      ++accepted;
      ASSERT_EQ(result, LzoResult::Ok) << round;
      ASSERT_TRUE(ours == Bytes(theirs.begin(), theirs.begin() + static_cast<std::ptrdiff_t>(their_size)));
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace emberfall
