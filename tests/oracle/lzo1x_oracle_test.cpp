// Our LZO1X decoder against streams that liblzo2 compresses on the spot, in
// both payload framings. Linux only: liblzo2 is a test dependency.
#include <gtest/gtest.h>

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

using test::Bytes;

// Varied parts: real binaries; runs and short periods with a rare change,
// which make matches that overlap their own output; copies of earlier bytes
// at the distances where the stream format changes its match encoding; and
// more than 16 MiB.
std::vector<Bytes> Corpus() {
  std::vector<Bytes> parts = {{}, {0x42}, Bytes(300000, 0), test::RandomBytes(17, 1),
                              test::RandomBytes(20000, 2), test::TextBytes(60000, 3),
                              test::BinaryLikeBytes(60000, 4)};
  for (const char* binary : {"/bin/sh", "embpatch"}) {
    std::ifstream in(binary[0] == '/' ? binary : test::BuiltProgram(binary), std::ios::binary);
    parts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::mt19937 rng(5);
  for (size_t period : {1, 2, 3, 5, 8, 13, 31, 5000}) {
    const Bytes pattern = test::RandomBytes(period, static_cast<std::uint32_t>(period));
    Bytes& part = parts.emplace_back(20000 + period * 10);
    for (size_t i = 0; i < part.size(); ++i) {
      part[i] = static_cast<std::uint8_t>(rng() % 997 ? pattern[i % period] : rng());
    }
  }
  Bytes& far = parts.emplace_back(test::RandomBytes(60000, 6));
  for (size_t distance : {2047, 2048, 2049, 3072, 3073, 16384, 16385, 32768, 49151, 49152}) {
    for (size_t length : {2, 3, 4, 9, 34, 300}) {
      for (size_t i = 0; i < length; ++i) far.push_back(std::uint8_t{far[far.size() - distance]});
      far.insert(far.end(), {0x5A, 0x5B, 0x5C, 0x5D, 0x5E});  // no chaining of the copies
    }
  }
  Bytes& large = parts.emplace_back(test::TextBytes(9 * 1048576, 7));
  const Bytes tail = test::BinaryLikeBytes(8 * 1048576, 8);
  large.insert(large.end(), tail.begin(), tail.end());
  return parts;
}

// Decodes into a heap buffer of exactly |capacity| bytes, so that the
// sanitizer sees any write past it; |out| receives what was produced.
LzoResult Decode(const Bytes& stream, size_t capacity, Bytes* out = nullptr) {
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  size_t produced = 0;
  const LzoResult result =
      Lzo1xDecompressSafe(stream.data(), stream.size(), buffer.get(), capacity, produced);
  EXPECT_LE(produced, capacity);
  if (out != nullptr) out->assign(buffer.get(), buffer.get() + std::min(produced, capacity));
  return result;
}

// Every part in both framings; every cut of a stream fails on its input and
// every smaller buffer on its output, after the right prefix.
TEST(Lzo1xOracleTest, DecodesWhatLiblzo2CompressedAndFailsCleanlyWhenCutShort) {
  for (const Bytes& data : Corpus()) {
    for (oracle::LzoLevel level : {oracle::LzoLevel::Lzo1x1, oracle::LzoLevel::Lzo1x999}) {
      SCOPED_TRACE(testing::Message() << data.size() << " bytes, " << oracle::LevelName(level));
      const Bytes stream = oracle::LzoCompress(data, level);
      const auto size = static_cast<std::uint32_t>(data.size());
      ASSERT_TRUE(DecodePayload(test::FrameBare(size, stream), size) == data);
      ASSERT_TRUE(DecodePayload(test::FrameMcoz(size, stream), size) == data);
      if (data.size() > 1048576) continue;
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

}  // namespace
}  // namespace emberfall
