// SPDX-License-Identifier: Apache-2.0
// Our LZO1X compressor against our decoder, on both builds: streams by hand,
// every input length up to 4096, matches at every reach limit, the corpora.
// tests/oracle has liblzo2 decode the same streams.
#include "core/lzo1x_compress.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <tuple>

#include "core/lzo1x.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using test::Bytes;

constexpr Lzo1xLevel kLevels[] = {Lzo1xLevel::Fast, Lzo1xLevel::Best};

std::string LevelName(Lzo1xLevel level) { return level == Lzo1xLevel::Fast ? "fast" : "best"; }

// The stream, after checking that it stays within the bound and that our
// decoder gives the input back from it.
Bytes RoundTrip(const Bytes& input, Lzo1xLevel level) {
  const Bytes stream = Lzo1xCompress(input, level);
  EXPECT_LE(stream.size(), Lzo1xCompressBound(input.size()));
  Bytes decoded(input.size());
  size_t produced = 0;
  const LzoResult result =
      Lzo1xDecompressSafe(stream.data(), stream.size(), decoded.data(), decoded.size(), produced);
  EXPECT_EQ(result, LzoResult::Ok);
  EXPECT_TRUE(produced == input.size() && decoded == input);
  return stream;
}

TEST(Lzo1xCompressTest, WritesTheExpectedStreams) {
  const Bytes noise = test::FastRandomBytes(239, 4);
  const auto run_of = [&](size_t n) {  // a literal run of |n| noise bytes, then the end
    Bytes out = n <= 238 ? Bytes{static_cast<std::uint8_t>(17 + n)} : Bytes{0, 0xDD};
    out.insert(out.end(), noise.begin(), noise.begin() + static_cast<std::ptrdiff_t>(n));
    out.insert(out.end(), {0x11, 0, 0});
    return out;
  };
  const std::pair<Bytes, Bytes> cases[] = {
      {{}, {0x11, 0, 0}},
      {{'a'}, {0x12, 'a', 0x11, 0, 0}},
      // One literal in the first byte, then 299 bytes one back: a length of
      // 33 + a zero byte (255) + 11, and a distance of 1.
      {Bytes(300, 'a'), {0x12, 'a', 0x20, 0x00, 0x0B, 0x00, 0x00, 0x11, 0, 0}},
      {Bytes(noise.begin(), noise.begin() + 238), run_of(238)},
      {noise, run_of(239)},  // too long for the first byte: a run instruction
  };
  for (const auto& [input, expected] : cases) {
    for (Lzo1xLevel level : kLevels) {
      SCOPED_TRACE(LevelName(level) + " " + std::to_string(input.size()));
      EXPECT_EQ(RoundTrip(input, level), expected);
    }
  }
}

TEST(Lzo1xCompressTest, EveryLengthUpTo4096RoundTrips) {
  const Bytes mixed = test::MixedBytes(4096, 5);
  for (Lzo1xLevel level : kLevels) {
    for (size_t n = 0; n <= mixed.size(); ++n) {
      SCOPED_TRACE(LevelName(level) + " " + std::to_string(n));
      RoundTrip(Bytes(mixed.begin(), mixed.begin() + static_cast<std::ptrdiff_t>(n)), level);
      if (HasFailure()) return;
    }
  }
}

// A repeat in noise at each reach limit of the instruction forms, at lengths
// around each length field's edge: used where the format reaches it (the
// stream is shorter than noise alone), never beyond (the stream decodes).
TEST(Lzo1xCompressTest, UsesEveryReachAndNoMore) {
  const size_t distances[] = {1, 1024, 1025, 2048, 2049, 3072, 3073, 16384, 16385, 49151, 49152};
  const size_t lengths[] = {4, 8, 9, 10, 33, 34, 300};
  for (Lzo1xLevel level : kLevels) {
    for (size_t distance : distances) {
      for (size_t length : lengths) {
        SCOPED_TRACE(LevelName(level) + " distance " + std::to_string(distance) + " length " +
                     std::to_string(length));
        const Bytes input = test::RepeatedBytes(distance, length, distance + length);
        const size_t size = RoundTrip(input, level).size();
        // The fast level keeps to blocks of 48 KiB, so only the best one is
        // sure to find every repeat; both probe noise sparsely, so that a long
        // one is found a few bytes in.
        if (level == Lzo1xLevel::Best && distance <= 49151 && length >= 33) {
          EXPECT_LE(size + length, Lzo1xCompress(test::FastRandomBytes(input.size(), 9), level).size() + 24);
        }
      }
    }
  }
}

TEST(Lzo1xCompressTest, CorporaRoundTrip) {
  std::ifstream program(test::BuiltProgram("emb_core_tests"), std::ios::binary);  // ourselves
  const std::tuple<const char*, Bytes, double> corpora[] = {  // name, bytes, largest ratio
      {"text", test::TextBytes(200000, 1), 0.5},
      {"random", test::FastRandomBytes(200000, 2), 1.005},
      {"zeros", Bytes(300000, 0), 0.01},
      {"mixed", test::MixedBytes(400000, 3), 0.5},
      {"program", Bytes(std::istreambuf_iterator<char>(program), {}), 0.7},
  };
  for (const auto& [name, input, ratio] : corpora) {
    for (Lzo1xLevel level : kLevels) {
      SCOPED_TRACE(std::string(name) + " " + LevelName(level));
      EXPECT_LT(static_cast<double>(RoundTrip(input, level).size()), ratio * static_cast<double>(input.size()));
    }
  }
}

}  // namespace
}  // namespace emberfall
