// Our LZO1X decoder against streams liblzo2 makes on the spot: every match
// and literal form its two compressors emit, in both payload framings.
// Linux only: liblzo2 is a test dependency.
#include <gtest/gtest.h>

#include <fstream>

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

}  // namespace
}  // namespace emberfall
