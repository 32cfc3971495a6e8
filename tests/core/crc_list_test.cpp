#include "core/crc_list.h"

#include <gtest/gtest.h>

#include <string>

#include "core/patch_error.h"
#include "core/text.h"

namespace emberfall {
namespace {

PatchFailure ParseFailure(const std::string& text) {
  try {
    ParseCrcList(text);
  } catch (const PatchFailure& failure) {
    return failure;
  }
  ADD_FAILURE() << "no failure for " << text;
  return PatchFailure(999, u"");
}

TEST(ParseCrcListTest, ParsesEntriesInOrder) {
  const auto entries = ParseCrcList(
      "1a2b3c4d 1048576 310211 0 data/maps/town.pak\n"
      "0 0 0 0 empty.bin\n"
      "FFFFFFFF 5 -7 -9223372036854775808 Data\\Maps\\Town Hall.pak");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].crc, 0x1A2B3C4Du);
  EXPECT_EQ(entries[0].size, 1048576);
  EXPECT_EQ(entries[0].packed_size, 310211);
  EXPECT_EQ(entries[0].reserved, 0);
  EXPECT_EQ(entries[0].path, "data/maps/town.pak");
  EXPECT_EQ(entries[0].path_wide, u"data\\maps\\town.pak");
  EXPECT_EQ(entries[1].path_wide, u"empty.bin");
  EXPECT_EQ(entries[2].crc, 0xFFFFFFFFu);
  EXPECT_EQ(entries[2].packed_size, -7);
  EXPECT_EQ(entries[2].reserved, INT64_MIN);
  EXPECT_EQ(entries[2].path, "Data\\Maps\\Town Hall.pak");
}

TEST(ParseCrcListTest, SkipsBlankAndCommentLinesAndTrims) {
  const auto entries = ParseCrcList(
      "\xEF\xBB\xBF# published 2026-12-01\r\n"
      "\r\n"
      "   # indented comment\n"
      "\t1 2 3 4   my file.txt \t\r\n"
      "2\t3\v4\f5 a#b\n"
      "\n");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, "my file.txt");
  EXPECT_EQ(entries[1].crc, 2u);
  EXPECT_EQ(entries[1].size, 3);
  EXPECT_EQ(entries[1].packed_size, 4);
  EXPECT_EQ(entries[1].reserved, 5);
  EXPECT_EQ(entries[1].path, "a#b");
}

TEST(ParseCrcListTest, ListsWithoutEntriesAreEmpty) {
  EXPECT_TRUE(ParseCrcList("").empty());
  EXPECT_TRUE(ParseCrcList("\xEF\xBB\xBF").empty());
  EXPECT_TRUE(ParseCrcList("\xEF\xBB\xBF\n\n# only comments\r\n  \t\n#").empty());
}

TEST(ParseCrcListTest, ReportsTheLineNumberCountingEveryLine) {
  PatchFailure failure = ParseFailure("# header\n\n1 2 3 4 ok.bin\nbad line\n");
  EXPECT_EQ(failure.code(), 2u);
  EXPECT_EQ(failure.detail(), u"crclist line 4: bad line");
  EXPECT_STREQ(failure.what(), "crclist line 4: bad line");

  // Only line 1 may carry a byte-order mark.
  failure = ParseFailure("1 2 3 4 a\n\xEF\xBB\xBF" "1 2 3 4 b\n");
  EXPECT_EQ(failure.detail(), u"crclist line 2: \uFEFF" u"1 2 3 4 b");

  // CRLF: the CR is trimmed from the quoted line.
  failure = ParseFailure("1 2 3 4 a\r\nzz 1 1 1 b\r\n");
  EXPECT_EQ(failure.detail(), u"crclist line 2: zz 1 1 1 b");
}

TEST(ParseCrcListTest, QuotesAtMost160BytesOfABadLine) {
  const std::string line = "1 2 3 4 " + std::string(200, 'p') + ":";
  const PatchFailure failure = ParseFailure(line);
  EXPECT_EQ(failure.detail(), u"crclist line 1: " + Utf8ToWide(line.substr(0, 160)));
  const std::string exact = "x " + std::string(158, 'q');
  EXPECT_EQ(ParseFailure(exact).detail(), u"crclist line 1: " + Utf8ToWide(exact));
}

TEST(ParseCrcListLineTest, RefusesFieldsOutsideTheGrammar) {
  const char* bad[] = {
      "000000001 1 1 1 a",  // nine hex digits
      "0x1f 1 1 1 a",       "g1 1 1 1 a",          "-1 1 1 1 a",
      "+1 1 1 1 a",         "1 -5 1 1 a",          "1 +5 1 1 a",
      "1 1.0 1 1 a",        "1 - 1 1 a",           "1 1 - 1 a",
      "1 1 1 +1 a",         "1 1 1 1e3 a",         "1 9223372036854775808 1 1 a",
      "1 1 9223372036854775808 1 a",               "1 1 1 -9223372036854775809 a",
      "1 1 1 99999999999999999999 a",              "1 1 1 1",
      "1 1 1 1   ",         "1 1 1",               "",
      "1 1 1 1 ..",         "1 1 1 1 /abs",        "1 1 1 1 C:\\x",
      "1 1 1 1 a:b",        "1 1 1 1 a//b",        "1 1 1 1 \vpath",
      "1 1 1 1 con.txt",    "1 2 3 4path",
  };
  for (const char* line : bad) {
    SCOPED_TRACE(line);
    CrcListEntry entry;
    EXPECT_FALSE(ParseCrcListLine(line, entry));
  }
}

TEST(ParseCrcListLineTest, AcceptsTheGrammarsEdges) {
  struct Case {
    const char* line;
    std::uint32_t crc;
    std::int64_t size, packed, reserved;
  };
  const Case cases[] = {
      {"0 0 0 0 a", 0, 0, 0, 0},
      {"aBcD 1 1 1 a", 0xABCD, 1, 1, 1},
      {"1 -0 -5 -5 a", 1, 0, -5, -5},
      {"1 9223372036854775807 0 0 a", 1, INT64_MAX, 0, 0},
      {"1 007 -007 0 a", 1, 7, -7, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    CrcListEntry entry;
    ASSERT_TRUE(ParseCrcListLine(c.line, entry));
    EXPECT_EQ(entry.crc, c.crc);
    EXPECT_EQ(entry.size, c.size);
    EXPECT_EQ(entry.packed_size, c.packed);
    EXPECT_EQ(entry.reserved, c.reserved);
  }
}

TEST(ParseCrcListLineTest, ConvertsLegacyPathBytes) {
  CrcListEntry entry;
  ASSERT_TRUE(ParseCrcListLine("1 1 1 1 m\xFC" "zik/\xC3\xA7", entry));  // not valid UTF-8
  EXPECT_EQ(entry.path_wide, u"m\u00FCzik\\\u00C3\u00A7");
  ASSERT_TRUE(ParseCrcListLine("1 1 1 1 m\xC3\xBCzik/a", entry));
  EXPECT_EQ(entry.path_wide, u"m\u00FCzik\\a");
  EXPECT_EQ(entry.path, "m\xC3\xBCzik/a");
}

TEST(ParseCrcListTest, DropsEqualDuplicatesKeepingTheFirstSpelling) {
  const auto entries = ParseCrcList(
      "abc 10 5 1 data/a.bin\n"
      "abc 10 99 2 DATA\\A.BIN\n"
      "1 1 1 1 \xC3\xBC.bin\n"
      "1 1 1 1 \xC3\x9C.BIN\n");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, "data/a.bin");
  EXPECT_EQ(entries[0].packed_size, 5);
  EXPECT_EQ(entries[0].reserved, 1);
  EXPECT_EQ(entries[1].path_wide, u"\u00FC.bin");
}

TEST(ParseCrcListTest, RefusesConflictingDuplicates) {
  PatchFailure failure = ParseFailure("abc 10 5 1 data/a.bin\n#\nabc 11 5 1 DATA/A.bin\n");
  EXPECT_EQ(failure.code(), 2u);
  EXPECT_EQ(failure.detail(), u"crclist line 3: conflicting duplicate DATA\\A.bin");
  failure = ParseFailure("abc 10 5 1 a.bin\nabd 10 5 1 a.bin\n");
  EXPECT_EQ(failure.detail(), u"crclist line 2: conflicting duplicate a.bin");
}

TEST(ParseCrcListTest, DotlessIIsNotTheSameFileAsI) {
  // The key follows Windows, which does not fold the Turkish dotless i.
  const auto entries = ParseCrcList("1 1 1 1 \xC4\xB1.bin\n2 2 2 2 I.bin\n");
  EXPECT_EQ(entries.size(), 2u);
}

TEST(EstimateDownloadSizeTest, PrefersAPlausiblePayloadSize) {
  EXPECT_EQ(EstimateDownloadSize(1000, 300), 300);
  EXPECT_EQ(EstimateDownloadSize(1000, 999), 999);
  EXPECT_EQ(EstimateDownloadSize(1000, 1), 1);
  EXPECT_EQ(EstimateDownloadSize(1000, 0), 250);
  EXPECT_EQ(EstimateDownloadSize(1000, -3), 250);
  EXPECT_EQ(EstimateDownloadSize(1000, 1000), 250);
  EXPECT_EQ(EstimateDownloadSize(1003, 5000), 250);
  EXPECT_EQ(EstimateDownloadSize(3, 0), 1);
  EXPECT_EQ(EstimateDownloadSize(0, 0), 1);
  EXPECT_EQ(EstimateDownloadSize(4, 0), 1);
  EXPECT_EQ(EstimateDownloadSize(8, 0), 2);
}

}  // namespace
}  // namespace emberfall
