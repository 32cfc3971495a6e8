#include "core/crc_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/crc32.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(ParseCrcListTest, ListsLinesAndEstimates) {
  const std::string long_line = "1 2 3 4 " + std::string(200, 'p') + ":";
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
      // What the publisher writes reads back.
      {FormatCrcList(std::vector<CrcListEntry>{{0xc, 0, -1, -9223372036854775807 - 1, "a b/c"},
                                               {0xfedcba98, 9223372036854775807, 7, 0, "d"}}),
       "0000000c 0 -1 -9223372036854775808 a b\\c (a b/c); "
       "fedcba98 9223372036854775807 7 0 d; "},
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
      {"x " + std::string(158, 'q'), bad + "1: x " + std::string(158, 'q')},
  };
  // The entries as "crc size packed reserved local-path (path as written)".
  for (const auto& [text, expected] : cases) {
    std::string out;
    try {
      for (const CrcListEntry& e : ParseCrcList(text)) {
        const std::string local = WideToUtf8(e.path_wide);
        out += FormatCrcHex(e.crc) + " " + std::to_string(e.size) + " " +
               std::to_string(e.packed_size) + " " + std::to_string(e.reserved) + " " + local +
               (local == e.path ? "" : " (" + e.path + ")") + "; ";
      }
    } catch (const PatchFailure& failure) {
      out = "error " + std::to_string(CodeNumber(failure.code())) + ": " + WideToUtf8(failure.detail());
    }
    EXPECT_EQ(out, expected) << text;
  }
  for (const char* line : {
           "000000001 1 1 1 a", "0x1f 1 1 1 a", "g1 1 1 1 a", "-1 1 1 1 a", "+1 1 1 1 a",
           "1 -5 1 1 a", "1 +5 1 1 a", "1 1.0 1 1 a", "1 - 1 1 a", "1 1 - 1 a", "1 1 1 +1 a",
           "1 1 1 1e3 a", "1 9223372036854775808 1 1 a", "1 1 9223372036854775808 1 a",
           "1 1 1 -9223372036854775809 a", "1 1 1 99999999999999999999 a", "1 1 1 1", "1 1 1 1   ",
           "1 1 1", "", "1 1 1 1 ..", "1 1 1 1 \vpath", "1 2 3 4path"}) {
    CrcListEntry entry;
    EXPECT_FALSE(ParseCrcListLine(line, entry)) << line;
  }
  const std::int64_t estimates[][3] = {  // size, packed size, estimate: a plausible payload size
      {1000, 300, 300}, {1000, 999, 999},  {1000, 1, 1}, {1000, 0, 250}, {1000, -3, 250},
      {1000, 1000, 250}, {1003, 5000, 250}, {3, 0, 1},    {0, 0, 1},      {8, 0, 2},
  };
  for (const auto& c : estimates) EXPECT_EQ(EstimateDownloadSize(c[0], c[1]), c[2]) << c[0] << c[1];
}

}  // namespace
}  // namespace emberfall
