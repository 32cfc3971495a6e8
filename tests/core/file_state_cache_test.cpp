#include "core/file_state_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tests/support/cache_records.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

using FileStateCacheTest = test::CacheFolderTest;
using test::Dump;
using test::Entry;

TEST_F(FileStateCacheTest, CacheFileBytes) {
  RecordFileState(cache_, u"b\\2nd", {12, 34, 56}, 0xABCDu);
  RecordFileState(cache_, u"first file.txt", {0, 1, 18446744073709551615u}, 0xFFFFFFFFu);
  RecordFileState(cache_, u"gone.bin", {1, 2, 3}, 1);
  RecordFileState(cache_, u"\u00fcber.dat", {9223372036854775813u, 5, 6}, 0);
  const std::vector<CrcListEntry> entries = {Entry("", u"FIRST FILE.TXT"), Entry("", u"none"),
                                             Entry("", u"b\\2nd"), Entry("", u"\u00dcBER.DAT")};
  EXPECT_EQ(FormatCacheFile(cache_, entries),
            "EMBVC1\nffffffff 0 1 18446744073709551615 first file.txt\n0000abcd 12 34 56 b\\2nd\n"
            "00000000 -9223372036854775803 5 6 \xC3\xBC" "ber.dat\n");
  // A failed move or write leaves no temporary.
  fs::create_directories(dir_ / "blocked.cache");
  EXPECT_FALSE(SaveCache(FileStateCache{dir_.Wide("blocked.cache"), cache_.records}, entries));
  EXPECT_FALSE(SaveCache(FileStateCache{dir_.Wide("missing/x.cache"), cache_.records}, entries));
  EXPECT_TRUE(fs::is_directory(dir_ / "blocked.cache") && !fs::exists(dir_ / "blocked.cache.tmp"));

  const std::pair<const char*, bool> lines[] = {  // a line before "next.bin", kept?
      {"0000abcd 12 34 56 ", false},         {"0000abcd 12 34 56  ", true},  // the path " "
      {"0000abcg 12 34 56 x", false},        {"0x1f 12 34 56 x", true},
      {"0000abcd 12 -34 56 x", true},        {"0000abcd 9223372036854775808 34 56 x", false},
      {"0000abcd\t12  34\t56 tabbed", true}, {"0000abcd 12 18446744073709551616 56 x", false},
  };
  std::unordered_map<std::u16string, CacheRecord> records;
  for (const auto& [line, kept] : lines) {
    ParseCacheFile(std::string("EMBVC1\n") + line + "\nffffffff 1 2 3 next.bin\n", records);
    EXPECT_EQ(records.size() + records.count(u"NEXT.BIN"), kept ? 3u : 2u) << line;
  }
  const std::string both = "a.txt 0000abcd 12 34 56; b c.txt 00000001 1 2 3; ";
  const std::pair<std::string, std::string> cases[] = {
      {"EMBVC1\n-1 12 18446744073709551615 -1 x\n",
       "x ffffffff 12 18446744073709551615 18446744073709551615; "},
      {"EMBVC1\r\n0000abcd 12 34 56 a.txt\r\n00000001 1 2 3 b c.txt\r\n", both},
      {"EMBVC1\n0000abcd 12 34 56 a.txt\n00000001 1 2 3 b c.txt", both},
      {"EMBVC1\n00000001 1 1 1 Dup.bin\n00000002 2 2 2 DUP.BIN\n", "DUP.BIN 00000002 2 2 2; "},
  };
  for (const auto& [bytes, expected] : cases) {
    ParseCacheFile(bytes, records);
    EXPECT_EQ(Dump(records), expected) << bytes;
  }
  for (const char* header : {"EMBVC2", "embvc1", "EMBVC1 ", " EMBVC1", "EMBVC", "EMBVC1\r\r", ""}) {
    ParseCacheFile(std::string(header) + "\n0000abcd 12 34 56 a.txt\n", records);
    EXPECT_TRUE(records.empty()) << header;
  }
  LoadCache(cache_);  // no such file
  EXPECT_TRUE(cache_.records.empty());
}

}  // namespace
}  // namespace emberfall
