#include "core/file_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_state_cache.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

CrcListEntry Entry(const std::string& contents, std::u16string path_wide) {
  return {.crc = Crc32Buffer(contents.data(), contents.size()),
          .size = static_cast<std::int64_t>(contents.size()), .path_wide = std::move(path_wide)};
}

// "path crc size time index; " per record in key order (|with| the state).
std::string Dump(const std::unordered_map<std::u16string, CacheRecord>& records, bool with = true) {
  std::string out;
  for (const auto& [key, r] : std::map(records.begin(), records.end())) {
    const FileState& s = r.state;
    out += WideToUtf8(r.path) + " " + FormatCrcHex(r.crc) + (with ? " " + std::to_string(s.size) +
           " " + std::to_string(s.lastWriteTime) + " " + std::to_string(s.fileIndex) : "") + "; ";
  }
  return out;
}

class FileStateTest : public testing::Test {
 protected:
  test::TempDir dir_;
  FileStateCache cache_{dir_.Wide("EmbLauncher.cache"), {}};
};

TEST_F(FileStateTest, AFileIsHashedOnlyWhenItsStateDiffersFromItsRecord) {
  test::WriteFileBytes(dir_ / "short.bin", "abc");
  test::WriteFileBytes(dir_ / "Data/File.TXT", "123456789");
  fs::create_directories(dir_ / "dir.bin");
  const std::u16string folder = dir_.Wide();
  const CrcListEntry data = Entry("123456789", u"Data\\File.TXT");
  // Missing, short or a folder: no match, and nothing to record.
  EXPECT_FALSE(FileMatchesEntry(Entry("abc", u"missing.bin"), folder, &cache_));
  EXPECT_FALSE(FileMatchesEntry(Entry("abcd", u"short.bin"), folder, &cache_));
  EXPECT_FALSE(FileMatchesEntry(Entry("", u"dir.bin"), folder, &cache_));
  EXPECT_FALSE(QueryFileState(dir_.Wide("dir.bin")) || QueryFileState(FileHandle()));
  EXPECT_EQ(Dump(cache_.records), "");
  // Hashed and recorded whether or not it matches; the same without a cache.
  EXPECT_FALSE(FileMatchesEntry(Entry("x", u"short.bin"), folder, nullptr));
  EXPECT_FALSE(FileMatchesEntry(Entry("abd", u"short.bin"), folder, &cache_));
  EXPECT_TRUE(FileMatchesEntry(data, folder, nullptr));
  EXPECT_TRUE(FileMatchesEntry(data, folder, &cache_));
  EXPECT_EQ(Dump(cache_.records, false), "Data\\File.TXT cbf43926; short.bin 352441c2; ");
  EXPECT_EQ(cache_.records[PathKey(u"short.bin")].state, QueryFileState(dir_.Wide("short.bin")));
  // A record of the exact state is trusted unread, whatever the path's case.
  RecordFileState(cache_, u"DATA\\file.txt", *QueryFileState(dir_.Wide("Data/File.TXT")), 0x1234);
  EXPECT_FALSE(FileMatchesEntry(data, folder, &cache_));
  EXPECT_EQ(Dump(cache_.records, false), "DATA\\file.txt 00001234; short.bin 352441c2; ");
  // A touched file keeps its index and is hashed again.
  const FileState before = *QueryFileState(dir_.Wide("Data/File.TXT"));
  fs::last_write_time(dir_ / "Data/File.TXT",
                      fs::last_write_time(dir_ / "short.bin") + std::chrono::hours(1));
  EXPECT_TRUE(FileMatchesEntry(data, folder, &cache_));
  EXPECT_EQ(Dump(cache_.records, false), "Data\\File.TXT cbf43926; short.bin 352441c2; ");
  const FileState after = *QueryFileState(dir_.Wide("Data/File.TXT"));
  EXPECT_EQ(cache_.records[PathKey(u"data\\file.txt")].state, after);
  EXPECT_TRUE(after.fileIndex == before.fileIndex && after.lastWriteTime != before.lastWriteTime);

  // Poisoned after a save and load, the records alone answer the next run.
  ASSERT_TRUE(SaveCache(cache_, {Entry("", u"SHORT.BIN"), Entry("", u"no-record"), data}));
  EXPECT_FALSE(fs::exists(dir_ / "EmbLauncher.cache.tmp"));
  FileStateCache next{cache_.cachePath, {}};
  LoadCache(next);
  EXPECT_EQ(Dump(next.records), Dump(cache_.records));
  for (auto& [key, r] : next.records) r.crc ^= 1;
  EXPECT_FALSE(FileMatchesEntry(data, folder, &next));
}

TEST_F(FileStateTest, CacheFileBytes) {
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
      {"0000abcd 12 34 56 a b.txt", true},   {"0000abcd 12 34 56 ", false},
      {"0000abcd 12 34 56  ", true},         {"0000abcg 12 34 56 x", false},  // the path " "
      {"0x1f 12 34 56 x", true},             {"0x 12 34 56 x", false},
      {"-1 12 34 56 x", true},               {"0000abcd 12 34 56x", false},
      {"0000abcd 12 -34 56 x", true},        {"0000abcd 9223372036854775808 34 56 x", false},
      {"0000abcd 12 34", false},             {"0000abcd 12 18446744073709551616 56 x", false},
      {"0000abcd\t12  34\t56 tabbed", true},
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

// Hashing threads end one after another; the ctest twin under Wine's heap
// checks crashes on a per-thread destructor that frees a stale pointer.
TEST_F(FileStateTest, ThreadsThatHashFilesEndCleanly) {
  test::WriteFileBytes(dir_ / "f.bin", std::string(100000, 'f'));
  const CrcListEntry entry = Entry(std::string(100000, 'f'), u"f.bin");
  for (int i = 0; i < 50; ++i) {
    bool matched = false;
    std::thread worker([&] {
      HashBuffer buffer;
      matched = FileMatchesEntry(entry, dir_.Wide(), nullptr, &buffer) &&
                FileMatchesEntry(entry, dir_.Wide(), nullptr);
    });
    worker.join();
    ASSERT_TRUE(matched) << i;
  }
}

}  // namespace
}  // namespace emberfall
