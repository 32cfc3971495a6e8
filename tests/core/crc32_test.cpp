#include "core/crc32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/crc32_clmul.h"
#include "core/file_state.h"
#include "core/fs_path.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// Bit at a time, straight from the definition of the reflected CRC.
std::uint32_t ReferenceCrc(const std::uint8_t* data, size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
  }
  return ~crc;
}

TEST(Crc32Test, KnownAnswers) {
  struct Case {
    std::string text;
    std::uint32_t crc;
  };
  const Case cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"abc", 0x352441C2u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
      {std::string(32, '\0'), 0x190A55ADu},
      {std::string(32, '\xFF'), 0xFF6CAB0Bu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.size());
    EXPECT_EQ(Crc32Buffer(c.text.data(), c.text.size()), c.crc);
  }
}

// Crc32Buffer takes the carry-less multiplication where this processor has
// it, so the portable way is checked on its own as well.
TEST(Crc32Test, EveryLengthUpTo4096AgreesWithTheBitwiseDefinitionBothWays) {
  if (!Crc32ClmulSupported()) std::printf("note: no carry-less multiplication here\n");
  const test::Bytes data = test::RandomBytes(4096 + 16, 7);
  for (size_t length = 0; length <= 4096; ++length) {
    // Odd lengths start at odd addresses too.
    const std::uint8_t* p = data.data() + length % 16;
    const std::uint32_t expected = ReferenceCrc(p, length);
    ASSERT_EQ(Crc32Buffer(p, length), expected) << "length " << length;
    ASSERT_EQ(~Crc32UpdatePortable(0xFFFFFFFFu, p, length), expected) << "length " << length;
  }
}

TEST(Crc32Test, UpdateInPiecesEqualsOneBuffer) {
  const test::Bytes data = test::RandomBytes(100000, 8);
  const std::uint32_t whole = Crc32Buffer(data.data(), data.size());
  for (size_t piece : {1, 3, 15, 16, 17, 4095, 65536}) {
    SCOPED_TRACE(piece);
    std::uint32_t running = 0xFFFFFFFFu;
    for (size_t at = 0; at < data.size(); at += piece) {
      running = Crc32Update(running, data.data() + at, std::min(piece, data.size() - at));
    }
    EXPECT_EQ(~running, whole);
  }
  EXPECT_EQ(Crc32Update(0x12345678u, nullptr, 0), 0x12345678u);
}

TEST(Crc32Test, FormatCrcHexIsEightLowerCaseDigits) {
  EXPECT_EQ(FormatCrcHex(0), "00000000");
  EXPECT_EQ(FormatCrcHex(0xCBF43926u), "cbf43926");
  EXPECT_EQ(FormatCrcHex(0xABCu), "00000abc");
  EXPECT_EQ(FormatCrcHex(0xFFFFFFFFu), "ffffffff");
}

TEST(Crc32Test, FileHashEqualsBufferHashAcrossReadBoundaries) {
  test::TempDir dir;
  constexpr size_t kMiB = 1048576;
  // One buffer for every size: what a longer file left in it must not leak
  // into the next hash.
  HashBuffer buffer;
  for (size_t size : {size_t{0}, size_t{1}, kMiB - 1, kMiB, kMiB + 1, 3 * kMiB + 7}) {
    SCOPED_TRACE(size);
    const test::Bytes data = test::RandomBytes(size, static_cast<std::uint32_t>(size));
    const std::string name = "f" + std::to_string(size);
    test::WriteFileBytes(dir / name, std::string(data.begin(), data.end()));
    const FileHandle file = OpenForSequentialRead(dir.Wide(name));
    ASSERT_TRUE(file.is_valid());
    std::uint32_t crc = 0x5A5A5A5Au;
    ASSERT_TRUE(Crc32File(file, crc, buffer));
    EXPECT_EQ(crc, Crc32Buffer(data.data(), data.size()));
  }
}

TEST(Crc32Test, FileHashStartsAtTheCurrentPosition) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "f", "xx123456789");
  const FileHandle file = OpenForSequentialRead(dir.Wide("f"));
  ASSERT_TRUE(file.is_valid());
  char skip[2];
  size_t got = 0;
  ASSERT_TRUE(file.Read(skip, 2, got));
  ASSERT_EQ(got, 2u);
  std::uint32_t crc = 0;
  HashBuffer buffer;
  ASSERT_TRUE(Crc32File(file, crc, buffer));
  EXPECT_EQ(crc, 0xCBF43926u);
}

TEST(Crc32Test, FileHashFailsOnAHandleThatCannotRead) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "f", "data");
  // An attribute-only handle has no read access.
  const FileHandle file = OpenForAttributes(dir.Wide("f"));
  ASSERT_TRUE(file.is_valid());
  std::uint32_t crc = 0x5A5A5A5Au;
  HashBuffer buffer;
  EXPECT_FALSE(Crc32File(file, crc, buffer));
  EXPECT_EQ(crc, 0x5A5A5A5Au);
  EXPECT_FALSE(Crc32File(FileHandle(), crc, buffer));
}

}  // namespace
}  // namespace emberfall
