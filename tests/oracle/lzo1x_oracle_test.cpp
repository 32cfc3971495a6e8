// Our LZO1X code against liblzo2 both ways: our decoder on streams its two
// compressors make on the spot, in both payload framings, and its decoder on
// streams our compressor makes. Linux only: liblzo2 is a test dependency.
#include <gtest/gtest.h>

#include <fstream>

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

// The inputs of tests/core/lzo1x_compress_test.cpp, our program among them.
TEST(Lzo1xOracleTest, Liblzo2DecodesWhatWeMake) {
  std::ifstream program(test::BuiltProgram("embpatch"), std::ios::binary);
  for (const auto& [name, input] : test::LzoCompressorInputs(Bytes(std::istreambuf_iterator<char>(program), {}))) {
    for (Lzo1xLevel level : {Lzo1xLevel::Fast, Lzo1xLevel::Best}) {
      SCOPED_TRACE(name + (level == Lzo1xLevel::Fast ? " fast" : " best"));
      ASSERT_TRUE(oracle::LzoDecodesTo(Lzo1xCompress(input, level), input));
    }
  }
}

}  // namespace
}  // namespace emberfall
