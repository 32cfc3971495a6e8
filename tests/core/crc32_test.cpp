#include "core/crc32.h"

#include <gtest/gtest.h>

#include <string>

#include "core/crc32_clmul.h"
#include "core/file_state.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// Crc32Buffer takes the carry-less multiplication where this processor has
// it, so the portable way and a split update are checked on their own too.
TEST(Crc32Test, EveryLengthUpTo4096AgreesWithTheBitwiseDefinition) {
  EXPECT_EQ(Crc32Buffer("123456789", 9), 0xCBF43926u);
  const test::Bytes data = test::RandomBytes(4096 + 16, 7);
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
}

// Hashing starts at the handle's position, past two bytes; one buffer for
// all sizes shows anything a longer file left in it.
TEST(Crc32Test, FileHashAcrossReadBoundariesAndReadFailures) {
  test::TempDir dir;
  HashBuffer buffer;
  for (size_t size : {0, 1, 1048575, 1048576, 1048577, 3 * 1048576 + 7}) {
    const test::Bytes data = test::FastRandomBytes(size, size);
    test::WriteFileBytes(dir / "f", "xx" + std::string(data.begin(), data.end()));
    const FileHandle file = OpenForSequentialRead(dir.Wide("f"));
    size_t got = 0;
    ASSERT_TRUE(file.Read(std::string(2, ' ').data(), 2, got) && got == 2);
    std::uint32_t crc = 0x5A5A5A5Au;
    ASSERT_TRUE(Crc32File(file, crc, buffer));
    EXPECT_EQ(crc, Crc32Buffer(data.data(), data.size())) << size;
  }
  std::uint32_t crc = 0x5A5A5A5Au;
  EXPECT_FALSE(Crc32File(OpenForAttributes(dir.Wide("f")), crc, buffer));
  EXPECT_FALSE(Crc32File(FileHandle(), crc, buffer));
  EXPECT_EQ(crc, 0x5A5A5A5Au);
}

}  // namespace
}  // namespace emberfall
