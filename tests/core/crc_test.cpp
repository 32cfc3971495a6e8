#include "core/crc_list.h"

#include <gtest/gtest.h>

#include <string>

#include "core/crc32.h"
#include "core/crc32_clmul.h"
#include "core/file_state.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// Crc32Buffer takes the carry-less multiplication where this processor has
// it, so the portable way and a split update are checked on their own too.
TEST(Crc32Test, EveryLengthUpTo4096AgreesWithTheBitwiseDefinition) {
  EXPECT_EQ(Crc32Buffer("123456789", 9), 0xCBF43926u);
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

// The entries as "crc size packed reserved local-path (path as written)", or
// the failure as "error CODE: DETAIL".
std::string Parsed(std::string_view text) {
  try {
    std::string out;
    for (const CrcListEntry& e : ParseCrcList(text)) {
      const std::string local = WideToUtf8(e.path_wide);
      out += FormatCrcHex(e.crc) + " " + std::to_string(e.size) + " " +
             std::to_string(e.packed_size) + " " + std::to_string(e.reserved) + " " + local +
             (local == e.path ? "" : " (" + e.path + ")") + "; ";
    }
    return out;
  } catch (const PatchFailure& failure) {
    return "error " + std::to_string(failure.code()) + ": " + WideToUtf8(failure.detail());
  }
}

TEST(ParseCrcListTest, Lists) {
  const std::string long_line = "1 2 3 4 " + std::string(200, 'p') + ":";
  const std::string line_of_160 = "x " + std::string(158, 'q');
  const std::string bad = "error 2: crclist line ";
  const std::pair<std::string, std::string> cases[] = {
      {"1a2b3c4d 1048576 310211 0 data/maps/town.pak\n"
       "FFFFFFFF 5 -7 -9223372036854775808 Data\\Maps\\Town Hall.pak",
       "1a2b3c4d 1048576 310211 0 data\\maps\\town.pak (data/maps/town.pak); "
       "ffffffff 5 -7 -9223372036854775808 Data\\Maps\\Town Hall.pak; "},
      {"\xEF\xBB\xBF# published\r\n\r\n   # indented\n\t1 2 3 4   my file.txt \t\r\n"
       "2\t3\v4\f5 a#b\n\n",
       "00000001 2 3 4 my file.txt; 00000002 3 4 5 a#b; "},
      {"0 0 0 0 a\naBcD 1 1 1 b\n1 -0 -5 -5 c\n1 9223372036854775807 0 0 d\n1 007 -007 0 e",
       "00000000 0 0 0 a; 0000abcd 1 1 1 b; 00000001 0 -5 -5 c; "
       "00000001 9223372036854775807 0 0 d; 00000001 7 -7 0 e; "},
      // Legacy bytes that are not UTF-8 are read as the ANSI code page.
      {"1 1 1 1 m\xFCzik/\xC3\xA7",
       "00000001 1 1 1 m\xC3\xBCzik\\\xC3\x83\xC2\xA7 (m\xFCzik/\xC3\xA7); "},
      // Equal duplicates keep the first spelling; case is ignored as Windows does.
      {"abc 10 5 1 data/a.bin\nabc 10 99 2 DATA\\A.BIN\n1 1 1 1 \xC3\xBC.bin\n"
       "1 1 1 1 \xC3\x9C.BIN\n1 1 1 1 \xC4\xB1.bin\n2 2 2 2 I.bin\n",
       "00000abc 10 5 1 data\\a.bin (data/a.bin); 00000001 1 1 1 \xC3\xBC.bin; "
       "00000001 1 1 1 \xC4\xB1.bin; 00000002 2 2 2 I.bin; "},
      {"abc 10 5 1 a.bin\n#\nabc 11 5 1 A.BIN\n", bad + "3: conflicting duplicate A.BIN"},
      // Every line counts; only line 1 may carry a BOM; at most 160 bytes are quoted.
      {"# header\n\n1 2 3 4 ok.bin\nbad line\n", bad + "4: bad line"},
      {"1 2 3 4 a\n\xEF\xBB\xBF" "1 2 3 4 b\n", bad + "2: \xEF\xBB\xBF" "1 2 3 4 b"},
      {"1 2 3 4 a\r\nzz 1 1 1 b\r\n", bad + "2: zz 1 1 1 b"},
      {long_line, bad + "1: " + long_line.substr(0, 160)},
      {line_of_160, bad + "1: " + line_of_160},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(Parsed(text), expected) << text;
  for (const char* line : {
           "000000001 1 1 1 a", "0x1f 1 1 1 a", "g1 1 1 1 a", "-1 1 1 1 a", "+1 1 1 1 a",
           "1 -5 1 1 a", "1 +5 1 1 a", "1 1.0 1 1 a", "1 - 1 1 a", "1 1 - 1 a", "1 1 1 +1 a",
           "1 1 1 1e3 a", "1 9223372036854775808 1 1 a", "1 1 9223372036854775808 1 a",
           "1 1 1 -9223372036854775809 a", "1 1 1 99999999999999999999 a", "1 1 1 1", "1 1 1 1   ",
           "1 1 1", "", "1 1 1 1 ..", "1 1 1 1 /abs", "1 1 1 1 C:\\x", "1 1 1 1 a//b",
           "1 1 1 1 \vpath", "1 2 3 4path"}) {
    CrcListEntry entry;
    EXPECT_FALSE(ParseCrcListLine(line, entry)) << line;
  }
}

TEST(EstimateDownloadSizeTest, PrefersAPlausiblePayloadSize) {
  const std::int64_t cases[][3] = {  // size, packed size, estimate
      {1000, 300, 300}, {1000, 999, 999},  {1000, 1, 1}, {1000, 0, 250}, {1000, -3, 250},
      {1000, 1000, 250}, {1003, 5000, 250}, {3, 0, 1},    {0, 0, 1},      {8, 0, 2},
  };
  for (const auto& c : cases) EXPECT_EQ(EstimateDownloadSize(c[0], c[1]), c[2]) << c[0] << c[1];
}

}  // namespace
}  // namespace emberfall
