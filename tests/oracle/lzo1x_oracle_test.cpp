// Our LZO1X code against liblzo2 both ways: our decoder on streams its two
// compressors make on the spot, in both payload framings, and its decoder on
// streams our compressor makes. Linux only: liblzo2 is a test dependency.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/lzo1x_compress.h"
#include "core/payload.h"
#include "tests/oracle/lzo_oracle.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using oracle::LzoLevel;
using test::Bytes;

TEST(Lzo1xOracleTest, DecodesWhatLiblzo2Makes) {
  std::ifstream program(test::BuiltProgram("embpatch"), std::ios::binary);
  const std::pair<const char*, Bytes> parts[] = {
      {"text", test::TextBytes(70000, 1)},
      {"random", test::FastRandomBytes(70000, 2)},
      {"embpatch", Bytes(std::istreambuf_iterator<char>(program), {})},
      {"zeros", Bytes(300000, 0)},
  };
  for (const auto& [name, data] : parts) {
    for (LzoLevel level : {LzoLevel::Lzo1x1, LzoLevel::Lzo1x999}) {
      SCOPED_TRACE(std::string(name) + " / " + oracle::LevelName(level));
      const Bytes stream = oracle::LzoCompress(data, level);
      const auto size = static_cast<std::uint32_t>(data.size());
      EXPECT_TRUE(DecodePayload(test::FrameBare(size, stream), size) == data);
      EXPECT_TRUE(DecodePayload(test::FrameMcoz(size, stream), size) == data);
    }
  }
}

// The inputs of tests/core/lzo1x_compress_test.cpp: every length up to 4096,
// repeats at every reach limit, the corpora.
TEST(Lzo1xOracleTest, Liblzo2DecodesWhatWeMake) {
  std::vector<std::pair<std::string, Bytes>> inputs;
  const Bytes mixed = test::MixedBytes(4096, 5);
  for (size_t n = 0; n <= mixed.size(); ++n) {
    inputs.emplace_back(std::to_string(n), Bytes(mixed.begin(), mixed.begin() + static_cast<std::ptrdiff_t>(n)));
  }
  for (size_t distance : {1, 1024, 1025, 2048, 2049, 3072, 3073, 16384, 16385, 49151, 49152}) {
    for (size_t length : {4, 8, 9, 10, 33, 34, 300}) {
      inputs.emplace_back("repeat " + std::to_string(distance) + "/" + std::to_string(length),
                          test::RepeatedBytes(distance, length, distance + length));
    }
  }
  std::ifstream program(test::BuiltProgram("embpatch"), std::ios::binary);
  inputs.emplace_back("text", test::TextBytes(200000, 1));
  inputs.emplace_back("random", test::FastRandomBytes(200000, 2));
  inputs.emplace_back("zeros", Bytes(300000, 0));
  inputs.emplace_back("mixed", test::MixedBytes(400000, 3));
  inputs.emplace_back("embpatch", Bytes(std::istreambuf_iterator<char>(program), {}));
  for (Lzo1xLevel level : {Lzo1xLevel::Fast, Lzo1xLevel::Best}) {
    for (const auto& [name, input] : inputs) {
      SCOPED_TRACE(name + (level == Lzo1xLevel::Fast ? " fast" : " best"));
      ASSERT_TRUE(oracle::LzoDecodesTo(Lzo1xCompress(input, level), input));
    }
  }
}

}  // namespace
}  // namespace emberfall
