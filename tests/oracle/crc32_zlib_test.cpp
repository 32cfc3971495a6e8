// Our CRC-32 against zlib's crc32, the reference implementation of the same
// checksum. Linux only: zlib is a test dependency, not a product one.
#include <zlib.h>

#include <gtest/gtest.h>

#include <random>

#include "core/crc32.h"
#include "tests/support/test_corpus.h"

namespace emberfall {
namespace {

std::uint32_t ZlibCrc(const std::uint8_t* data, size_t length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (length > 0) {
    const auto piece = static_cast<uInt>(std::min<size_t>(length, 1u << 30));
    crc = crc32(crc, data, piece);
    data += piece;
    length -= piece;
  }
  return static_cast<std::uint32_t>(crc);
}

TEST(Crc32ZlibTest, EveryLengthUpTo4096) {
  const test::Bytes data = test::RandomBytes(4096 + 64, 1);
  for (size_t length = 0; length <= 4096; ++length) {
    for (size_t offset : {size_t{0}, length % 61}) {
      ASSERT_EQ(Crc32Buffer(data.data() + offset, length), ZlibCrc(data.data() + offset, length))
          << "length " << length << " offset " << offset;
    }
  }
}

TEST(Crc32ZlibTest, RandomLengthsAndAlignmentsUpTo64MiB) {
  const test::Bytes data = test::FastRandomBytes(64 * 1048576 + 64, 2);
  const std::uint32_t seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (int round = 0; round < 40; ++round) {
    const size_t length = round == 0 ? 64 * 1048576 : rng() % (64 * 1048576 + 1);
    const size_t offset = rng() % 64;
    ASSERT_EQ(Crc32Buffer(data.data() + offset, length), ZlibCrc(data.data() + offset, length))
        << "length " << length << " offset " << offset;
  }
}

TEST(Crc32ZlibTest, StructuredData) {
  for (const test::CorpusPart& part : test::SmallCorpus()) {
    SCOPED_TRACE(part.name);
    EXPECT_EQ(Crc32Buffer(part.data.data(), part.data.size()),
              ZlibCrc(part.data.data(), part.data.size()));
  }
}

}  // namespace
}  // namespace emberfall
