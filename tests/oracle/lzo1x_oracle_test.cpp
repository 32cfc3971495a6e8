// Our LZO1X decoder against streams that liblzo2 compresses on the spot, in
// both payload framings, over a varied corpus including real binaries and
// more than 16 MiB of data. Linux only: liblzo2 is a test dependency.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

std::vector<test::CorpusPart> FullCorpus() {
  std::vector<test::CorpusPart> parts = test::SmallCorpus();
  parts.push_back({"embpatch binary", ReadBinary(test::BuiltProgram("embpatch"))});
  parts.push_back({"this test binary", ReadBinary(test::ExecutableDir() / "emb_oracle_tests")});
  parts.push_back({"system binary", ReadBinary("/bin/sh")});
  Bytes large = test::TextBytes(6 * 1048576, 3);
  for (const Bytes& more : {test::BinaryLikeBytes(5 * 1048576, 4), test::RandomBytes(3 * 1048576, 5),
                            Bytes(2 * 1048576 + 17, 0), test::PatternBytes(1048576, 7, 6)}) {
    large.insert(large.end(), more.begin(), more.end());
  }
  parts.push_back({"mixed 17 MiB", std::move(large)});
  return parts;
}

TEST(Lzo1xOracleTest, ReproducesWhatLiblzo2CompressedInBothFramings) {
  for (const test::CorpusPart& part : FullCorpus()) {
    ASSERT_GT(part.data.size() + (part.name == "empty" ? 1 : 0), 0u) << part.name;
    for (LzoLevel level : {LzoLevel::Lzo1x1, LzoLevel::Lzo1x999}) {
      if (level == LzoLevel::Lzo1x999 && part.data.size() > 8 * 1048576) continue;
      SCOPED_TRACE(part.name + " / " + oracle::LevelName(level));
      const Bytes stream = oracle::LzoCompress(part.data, level);
      const auto size = static_cast<std::uint32_t>(part.data.size());

      // liblzo2 itself agrees that the stream is whole.
      Bytes check(part.data.size());
      size_t produced = 0;
      ASSERT_EQ(oracle::LzoDecompressSafe(stream.data(), stream.size(), check.data(), check.size(),
                                          produced),
                0);

      ASSERT_TRUE(DecodePayload(test::FrameBare(size, stream), size) == part.data);
      ASSERT_TRUE(DecodePayload(test::FrameMcoz(size, stream), size) == part.data);
    }
  }
}

// The 999 compressor is slow; one large part is enough to cover more than
// 16 MiB at its level too.
TEST(Lzo1xOracleTest, LargeLzo1x999Stream) {
  Bytes data = test::TextBytes(9 * 1048576, 8);
  const Bytes tail = test::BinaryLikeBytes(8 * 1048576, 9);
  data.insert(data.end(), tail.begin(), tail.end());
  const Bytes stream = oracle::LzoCompress(data, LzoLevel::Lzo1x999);
  const auto size = static_cast<std::uint32_t>(data.size());
  EXPECT_TRUE(DecodePayload(test::FrameMcoz(size, stream), size) == data);
}

// The committed vectors of the portable decoder tests are what liblzo2 makes
// from today's corpus; rerun make_lzo_vectors when this fails.
TEST(Lzo1xOracleTest, CommittedVectorsAreCurrent) {
  for (const test::CorpusPart& part : test::SmallCorpus()) {
    for (LzoLevel level : {LzoLevel::Lzo1x1, LzoLevel::Lzo1x999}) {
      const std::string name = part.name + "." + oracle::LevelName(level);
      SCOPED_TRACE(name);
      EXPECT_TRUE(ReadBinary(test::TestDataPath("lzo/" + name)) == oracle::LzoCompress(part.data, level));
    }
  }
}

// Agreement on malformed input: whenever liblzo2 accepts a damaged stream,
// we produce the same bytes.
TEST(Lzo1xOracleTest, DamagedStreamsThatLiblzo2AcceptsDecodeTheSame) {
  const Bytes data = test::TextBytes(20000, 10);
  const Bytes original = oracle::LzoCompress(data, LzoLevel::Lzo1x1);
  std::mt19937 rng(12345);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes stream = original;
    stream[rng() % (stream.size() - 3)] = static_cast<std::uint8_t>(rng());
    Bytes theirs(data.size() + 64);
    Bytes ours(theirs.size());
    size_t their_size = 0;
    size_t our_size = 0;
    if (oracle::LzoDecompressSafe(stream.data(), stream.size(), theirs.data(), theirs.size(),
                                  their_size) != 0) {
      continue;
    }
    ++accepted;
    ASSERT_EQ(Lzo1xDecompressSafe(stream.data(), stream.size(), ours.data(), ours.size(), our_size),
              LzoResult::Ok)
        << round;
    ASSERT_EQ(our_size, their_size);
    ASSERT_TRUE(std::equal(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(our_size),
                           theirs.begin()));
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace emberfall
