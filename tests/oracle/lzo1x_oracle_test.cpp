// Our LZO1X decoder against streams liblzo2 makes on the spot: every match
// and literal form its two compressors emit, in both payload framings, past
// 16 MiB. Linux only: liblzo2 is a test dependency.
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
  Bytes mixed = test::TextBytes(9 * 1048576, 3);
  for (const Bytes& more : {test::BinaryLikeBytes(5 * 1048576, 4),
                            test::FastRandomBytes(1048576, 5), Bytes(2 * 1048576 + 17, 0)}) {
    mixed.insert(mixed.end(), more.begin(), more.end());
  }
  const std::pair<const char*, Bytes> parts[] = {
      {"empty", {}},
      {"one byte", {42}},
      {"text", test::TextBytes(70000, 1)},
      {"random", test::FastRandomBytes(70000, 2)},
      {"embpatch", Bytes(std::istreambuf_iterator<char>(program), {})},
      {"mixed 17 MiB", std::move(mixed)},
  };
  for (const auto& [name, data] : parts) {
    for (LzoLevel level : {LzoLevel::Lzo1x1, LzoLevel::Lzo1x999}) {
      if (level == LzoLevel::Lzo1x999 && data.size() > 8 * 1048576) continue;  // slow, adds nothing
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
