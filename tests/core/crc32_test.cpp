#include "core/crc32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "core/crc32_clmul.h"
#include "core/file_state.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {


// Crc32Buffer takes the carry-less multiplication where this processor has
// it, so the portable way and a split update are checked on their own too.
TEST(Crc32Test, AgreesWithTheBitwiseDefinitionAndGivesUpWhenCancelled) {
  const test::Bytes data = test::FastRandomBytes(4096 + 16, 7);
  for (size_t length = 0; length <= 4096; ++length) {
    const std::uint8_t* p = data.data() + length % 16;  // odd addresses too
    std::uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
      crc ^= p[i];
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (crc & 1u ? 0xEDB88320u : 0);
    }
    ASSERT_EQ(Crc32Buffer(p, length), ~crc) << length;
    ASSERT_EQ(Crc32UpdatePortable(0xFFFFFFFFu, p, length), crc) << length;
    const size_t cut = length / 3;
    ASSERT_EQ(Crc32Update(Crc32Update(0xFFFFFFFFu, p, cut), p + cut, length - cut), crc) << length;
  }
  test::TempDir dir;
  HashBuffer buffer;
  std::uint32_t crc = 0;
  for (size_t size : {1048577, 1048576, 1}) {  // one buffer, longest first: nothing left over
    const test::Bytes bytes = test::FastRandomBytes(size, size);
    test::WriteFileBytes(dir / "f", std::string(bytes.begin(), bytes.end()));
    ASSERT_TRUE(Crc32File(OpenForSequentialRead(dir.Wide("f")), crc, buffer));
    EXPECT_EQ(crc, Crc32Buffer(bytes.data(), bytes.size())) << size;
  }
  EXPECT_FALSE(Crc32File(OpenForAttributes(dir.Wide("f")), crc, buffer));  // no read access
  // A cancelled run gives up a file's hashing and keeps the old result.
  const std::atomic<bool> cancelled{true};
  buffer.set_cancel_flag(&cancelled);
  crc = 7;
  EXPECT_FALSE(Crc32File(OpenForSequentialRead(dir.Wide("f")), crc, buffer));
  EXPECT_EQ(crc, 7u);
}

}  // namespace
}  // namespace emberfall
