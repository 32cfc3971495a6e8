// SPDX-License-Identifier: Apache-2.0
// Our LZO1X compressor against our decoder, on both builds: streams by hand,
// every input length up to 4096, matches at every reach limit, the corpora.
// tests/oracle has liblzo2 decode the same streams.
#include "core/lzo1x_compress.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "core/lzo1x.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using test::Bytes;

constexpr Lzo1xLevel kLevels[] = {Lzo1xLevel::Fast, Lzo1xLevel::Best};

std::string LevelName(Lzo1xLevel level) { return level == Lzo1xLevel::Fast ? " fast" : " best"; }

// The stream, checked: within the bound, and our decoder gives the input back.
Bytes RoundTrip(const Bytes& input, Lzo1xLevel level) {
  const Bytes stream = Lzo1xCompress(input, level);
  EXPECT_LE(stream.size(), Lzo1xCompressBound(input.size()));
  Bytes decoded(input.size());
  size_t produced = 0;
  EXPECT_EQ(Lzo1xDecompressSafe(stream.data(), stream.size(), decoded.data(), decoded.size(), produced),
            LzoResult::Ok);
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
      SCOPED_TRACE(std::to_string(input.size()) + LevelName(level));
      EXPECT_EQ(RoundTrip(input, level), expected);
    }
  }
}

// Every input decodes (no match reaches too far); the corpora shrink as far as
// they should, and the best level finds every repeat it can reach: the stream
// is shorter than noise alone (it probes noise sparsely, so a repeat is found
// a few bytes in).
TEST(Lzo1xCompressTest, EveryInputRoundTrips) {
  std::ifstream program(test::BuiltProgram("emb_core_tests"), std::ios::binary);  // ourselves
  const std::map<std::string, double> ratios = {
      {"text", 0.5}, {"random", 1.005}, {"zeros", 0.01}, {"mixed", 0.5}, {"program", 0.7}};
  for (const auto& [name, input] : test::LzoCompressorInputs(Bytes(std::istreambuf_iterator<char>(program), {}))) {
    for (Lzo1xLevel level : kLevels) {
      SCOPED_TRACE(name + LevelName(level));
      const auto size = static_cast<double>(RoundTrip(input, level).size());
      const auto ratio = ratios.find(name);
      if (ratio != ratios.end()) {
        EXPECT_LT(size, ratio->second * static_cast<double>(input.size()));
      }
      if (HasFailure()) return;
    }
  }
  for (size_t distance : test::kLzoReachDistances) {
    for (size_t length : test::kLzoEdgeLengths) {
      if (distance > 49151 || length < 33) continue;
      SCOPED_TRACE(std::to_string(distance) + "/" + std::to_string(length));
      const Bytes input = test::RepeatedBytes(distance, length, distance + length);
      EXPECT_LE(Lzo1xCompress(input, Lzo1xLevel::Best).size() + length,
                Lzo1xCompress(test::FastRandomBytes(input.size(), 9), Lzo1xLevel::Best).size() + 24);
    }
  }
}

}  // namespace
}  // namespace emberfall
