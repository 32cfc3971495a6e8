#include "core/file_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

CrcListEntry Entry(std::uint32_t crc, std::int64_t size, std::u16string path_wide) {
  CrcListEntry entry;
  entry.crc = crc;
  entry.size = size;
  entry.path = WideToUtf8(path_wide);
  entry.path_wide = std::move(path_wide);
  return entry;
}

std::uint32_t CrcOf(const std::string& bytes) { return Crc32Buffer(bytes.data(), bytes.size()); }

void Touch(const std::filesystem::path& path, int seconds_later) {
  const auto time = std::filesystem::last_write_time(path);
  std::filesystem::last_write_time(path, time + std::chrono::seconds(seconds_later));
}

class FileStateTest : public testing::Test {
 protected:
  void SetUp() override { cache_.cachePath = dir_.Wide("EmbLauncher.cache"); }

  std::u16string Folder() const { return dir_.Wide(); }
  void Write(const std::string& relative, const std::string& bytes) {
    test::WriteFileBytes(dir_ / relative, bytes);
  }
  // The cached record of |path|, or null.
  CacheRecord* Record(const std::u16string& path) {
    const auto it = cache_.records.find(PathKey(path));
    return it == cache_.records.end() ? nullptr : &it->second;
  }

  test::TempDir dir_;
  FileStateCache cache_;
};

TEST_F(FileStateTest, QueryFileStateReportsSizeAndNothingForFoldersOrMissingFiles) {
  Write("f.bin", std::string(1234, 'x'));
  const std::optional<FileState> state = QueryFileState(dir_.Wide("f.bin"));
  ASSERT_TRUE(state);
  EXPECT_EQ(state->size, 1234u);
  EXPECT_NE(state->lastWriteTime, 0u);

  std::filesystem::create_directories(dir_ / "folder");
  EXPECT_FALSE(QueryFileState(dir_.Wide("folder")));
  EXPECT_FALSE(QueryFileState(dir_.Wide("missing")));
  EXPECT_FALSE(QueryFileState(FileHandle()));
}

TEST_F(FileStateTest, ReplacingAFileByRenameChangesItsIndexAndTouchingItsTime) {
  Write("f.bin", "one");
  Write("g.bin", "two");
  const FileState before = *QueryFileState(dir_.Wide("f.bin"));
  EXPECT_EQ(*QueryFileState(dir_.Wide("f.bin")), before);

  Touch(dir_ / "f.bin", 10);
  const FileState touched = *QueryFileState(dir_.Wide("f.bin"));
  EXPECT_NE(touched.lastWriteTime, before.lastWriteTime);
  EXPECT_EQ(touched.fileIndex, before.fileIndex);

  std::filesystem::rename(dir_ / "g.bin", dir_ / "f.bin");
  EXPECT_NE(QueryFileState(dir_.Wide("f.bin"))->fileIndex, before.fileIndex);
}

TEST_F(FileStateTest, MissingWrongSizedOrFolderTargetsDoNotMatchAndLeaveTheCacheAlone) {
  Write("short.bin", "abc");
  std::filesystem::create_directories(dir_ / "dir.bin");
  struct Case {
    const char16_t* path;
    std::int64_t size;
  };
  for (const Case& c : {Case{u"missing.bin", 3}, Case{u"short.bin", 4}, Case{u"dir.bin", 0}}) {
    SCOPED_TRACE(WideToUtf8(c.path));
    EXPECT_FALSE(FileMatchesEntry(Entry(CrcOf("abc"), c.size, c.path), Folder(), &cache_));
  }
  EXPECT_TRUE(cache_.records.empty());
}

TEST_F(FileStateTest, HashesAndRecordsFilesWhetherOrNotTheyMatch) {
  Write("good.bin", "123456789");
  Write("bad.bin", "123456780");
  EXPECT_TRUE(FileMatchesEntry(Entry(0xCBF43926u, 9, u"good.bin"), Folder(), &cache_));
  EXPECT_FALSE(FileMatchesEntry(Entry(0xCBF43926u, 9, u"bad.bin"), Folder(), &cache_));

  ASSERT_NE(Record(u"good.bin"), nullptr);
  EXPECT_EQ(Record(u"good.bin")->crc, 0xCBF43926u);
  EXPECT_EQ(Record(u"good.bin")->state, *QueryFileState(dir_.Wide("good.bin")));
  ASSERT_NE(Record(u"bad.bin"), nullptr);
  EXPECT_EQ(Record(u"bad.bin")->crc, CrcOf("123456780"));
  EXPECT_EQ(Record(u"bad.bin")->path, u"bad.bin");

  // Without a cache the answer is the same.
  EXPECT_TRUE(FileMatchesEntry(Entry(0xCBF43926u, 9, u"good.bin"), Folder(), nullptr));
  EXPECT_FALSE(FileMatchesEntry(Entry(0xCBF43926u, 9, u"bad.bin"), Folder(), nullptr));

  // An empty file has CRC zero; nested paths use backslash separators.
  Write("empty", "");
  EXPECT_TRUE(FileMatchesEntry(Entry(0, 0, u"empty"), Folder(), &cache_));
  EXPECT_FALSE(FileMatchesEntry(Entry(1, 0, u"empty"), Folder(), &cache_));
  Write("data/maps/a.map", "map");
  EXPECT_TRUE(FileMatchesEntry(Entry(CrcOf("map"), 3, u"data\\maps\\a.map"), Folder(), &cache_));
  EXPECT_NE(Record(u"DATA\\MAPS\\A.MAP"), nullptr);
}

TEST_F(FileStateTest, AMatchingRecordIsTrustedWithoutReadingTheFile) {
  Write("f.bin", "contents");
  const CrcListEntry entry = Entry(CrcOf("contents"), 8, u"f.bin");
  ASSERT_TRUE(FileMatchesEntry(entry, Folder(), &cache_));

  // A record with the file's exact state but another CRC wins over the
  // contents: the file is not read.
  Record(u"f.bin")->crc = 0xDEADBEEFu;
  EXPECT_FALSE(FileMatchesEntry(entry, Folder(), &cache_));
  EXPECT_EQ(Record(u"f.bin")->crc, 0xDEADBEEFu);
  EXPECT_TRUE(FileMatchesEntry(Entry(0xDEADBEEFu, 8, u"f.bin"), Folder(), &cache_));
}

TEST_F(FileStateTest, TouchingAFileCausesExactlyOneRehash) {
  Write("f.bin", "contents");
  const CrcListEntry entry = Entry(CrcOf("contents"), 8, u"f.bin");
  ASSERT_TRUE(FileMatchesEntry(entry, Folder(), &cache_));
  const FileState first = Record(u"f.bin")->state;

  Touch(dir_ / "f.bin", 10);
  // The stale record (poisoned so that trusting it would show) is ignored
  // because the last-write time moved on.
  Record(u"f.bin")->crc = 0xDEADBEEFu;
  EXPECT_TRUE(FileMatchesEntry(entry, Folder(), &cache_));
  EXPECT_NE(Record(u"f.bin")->state, first);
  EXPECT_EQ(Record(u"f.bin")->crc, entry.crc);

  // Refreshed: the next check trusts the record again.
  Record(u"f.bin")->crc = 0xDEADBEEFu;
  EXPECT_FALSE(FileMatchesEntry(entry, Folder(), &cache_));
}

TEST_F(FileStateTest, RecordsAreFoundWhateverTheCaseOfThePath) {
  Write("Data/File.TXT", "x");
  const CrcListEntry entry = Entry(CrcOf("x"), 1, u"Data\\File.TXT");
  ASSERT_TRUE(FileMatchesEntry(entry, Folder(), &cache_));
  ASSERT_EQ(cache_.records.size(), 1u);

  const FileState state = Record(u"data\\file.txt")->state;
  RecordFileState(cache_, u"DATA\\file.txt", state, 0x1234u);
  ASSERT_EQ(cache_.records.size(), 1u);
  EXPECT_EQ(Record(u"Data\\File.TXT")->path, u"DATA\\file.txt");
  EXPECT_FALSE(FileMatchesEntry(entry, Folder(), &cache_));
}

// ---- The cache file ----

class CacheFileTest : public FileStateTest {
 protected:
  void WriteCache(const std::string& bytes) { Write("EmbLauncher.cache", bytes); }
  std::string ReadCache() { return test::ReadFileBytes(dir_ / "EmbLauncher.cache"); }
};

TEST_F(CacheFileTest, SaveWritesRecordsInListOrderByteForByte) {
  RecordFileState(cache_, u"b\\second.bin", {12, 34, 56}, 0xABCDu);
  RecordFileState(cache_, u"first file.txt", {0, 132000000000000000u, 18446744073709551615u},
                  0xFFFFFFFFu);
  RecordFileState(cache_, u"gone.bin", {1, 2, 3}, 1);
  RecordFileState(cache_, u"\u00fcber.dat", {9223372036854775813u, 5, 6}, 0);
  const std::vector<CrcListEntry> entries = {Entry(0, 0, u"FIRST FILE.TXT"), Entry(0, 0, u"no-record"),
                                             Entry(0, 0, u"b\\second.bin"), Entry(0, 0, u"\u00dcBER.DAT")};
  ASSERT_TRUE(SaveCache(cache_, entries));
  EXPECT_EQ(ReadCache(),
            "EMBVC1\n"
            "ffffffff 0 132000000000000000 18446744073709551615 first file.txt\n"
            "0000abcd 12 34 56 b\\second.bin\n"
            "00000000 -9223372036854775803 5 6 \xC3\xBC" "ber.dat\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "EmbLauncher.cache.tmp"));

  FileStateCache loaded{cache_.cachePath, {}};
  LoadCache(loaded);
  ASSERT_EQ(loaded.records.size(), 3u);
  const CacheRecord& big = loaded.records.at(PathKey(u"\u00fcber.dat"));
  EXPECT_EQ(big.state.size, 9223372036854775813u);
  EXPECT_EQ(big.path, u"\u00fcber.dat");
  EXPECT_EQ(loaded.records.at(PathKey(u"first file.txt")).state.fileIndex, 18446744073709551615u);
}

TEST_F(CacheFileTest, MalformedLinesAreSkippedOneByOne) {
  struct Case {
    const char* line;
    bool kept;
  };
  const Case cases[] = {
      {"0000abcd 12 34 56 a b.txt", true},
      {"0000abcd 12 34 56", false},
      {"0000abcd 12 34 56 ", false},
      {"0000abcd 12 34 56  ", true},  // the path is one space
      {"0000abcg 12 34 56 x", false},
      {"0x1f 12 34 56 x", true},
      {"0x 12 34 56 x", false},
      {"-1 12 34 56 x", true},
      {"0000abcd 1x 34 56 x", false},
      {"0000abcd 12 34 56x", false},
      {"0000abcd 12 -34 56 x", true},
      {"0000abcd 9223372036854775808 34 56 x", false},
      {"0000abcd 12 18446744073709551616 56 x", false},
      {"0000abcd 12 34", false},
      {"", false},
      {"0000abcd\t12  34\t56 tabbed", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    WriteCache(std::string("EMBVC1\n") + c.line + "\nffffffff 1 2 3 next.bin\n");
    LoadCache(cache_);
    EXPECT_EQ(cache_.records.size(), c.kept ? 2u : 1u);
    EXPECT_NE(Record(u"next.bin"), nullptr);
  }

  WriteCache("EMBVC1\n0000abcd 12 34 56 a b.txt\n");
  LoadCache(cache_);
  const CacheRecord* record = Record(u"A B.TXT");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->path, u"a b.txt");
  EXPECT_EQ(record->crc, 0xABCDu);
  EXPECT_EQ(record->state, (FileState{12, 34, 56}));

  WriteCache("EMBVC1\n-1 12 18446744073709551615 -1 x\n");
  LoadCache(cache_);
  ASSERT_NE(Record(u"x"), nullptr);
  EXPECT_EQ(Record(u"x")->crc, 0xFFFFFFFFu);
  EXPECT_EQ(Record(u"x")->state.fileIndex, 18446744073709551615u);
}

TEST_F(CacheFileTest, CrlfLoadsLikeLf) {
  WriteCache("EMBVC1\r\n0000abcd 12 34 56 a.txt\r\n00000001 1 2 3 b c.txt\r\n");
  LoadCache(cache_);
  const auto crlf = cache_.records;
  WriteCache("EMBVC1\n0000abcd 12 34 56 a.txt\n00000001 1 2 3 b c.txt");
  LoadCache(cache_);
  ASSERT_EQ(cache_.records.size(), 2u);
  ASSERT_EQ(crlf.size(), 2u);
  for (const auto& [key, record] : cache_.records) {
    SCOPED_TRACE(WideToUtf8(key));
    ASSERT_EQ(crlf.count(key), 1u);
    EXPECT_EQ(crlf.at(key).path, record.path);
    EXPECT_EQ(crlf.at(key).state, record.state);
    EXPECT_EQ(crlf.at(key).crc, record.crc);
  }
}

TEST_F(CacheFileTest, AnyOtherHeaderOrAnEmptyFileEmptiesTheCache) {
  for (const char* header : {"EMBVC2", "embvc1", "EMBVC1 ", " EMBVC1", "EMBVC", "EMBVC1\r\r", ""}) {
    SCOPED_TRACE(header);
    RecordFileState(cache_, u"stale", {}, 0);
    WriteCache(std::string(header) + "\n0000abcd 12 34 56 a.txt\n");
    LoadCache(cache_);
    EXPECT_TRUE(cache_.records.empty());
  }
  WriteCache("");
  LoadCache(cache_);
  EXPECT_TRUE(cache_.records.empty());

  RecordFileState(cache_, u"stale", {}, 0);
  std::filesystem::remove(dir_ / "EmbLauncher.cache");
  LoadCache(cache_);
  EXPECT_TRUE(cache_.records.empty());
}

TEST_F(CacheFileTest, ALaterLineForTheSameKeyWins) {
  WriteCache("EMBVC1\n00000001 1 1 1 Dup.bin\n00000002 2 2 2 DUP.BIN\n");
  LoadCache(cache_);
  ASSERT_EQ(cache_.records.size(), 1u);
  EXPECT_EQ(Record(u"dup.bin")->crc, 2u);
  EXPECT_EQ(Record(u"dup.bin")->path, u"DUP.BIN");
}

TEST_F(CacheFileTest, AFailedSaveLeavesThePreviousFileAndNoTemporary) {
  WriteCache("EMBVC1\nprevious\n");
  RecordFileState(cache_, u"a", {1, 2, 3}, 4);

  // The move fails when a folder holds the cache's name...
  FileStateCache blocked{dir_.Wide("blocked.cache"), cache_.records};
  std::filesystem::create_directories(dir_ / "blocked.cache");
  EXPECT_FALSE(SaveCache(blocked, {Entry(0, 0, u"a")}));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "blocked.cache.tmp"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "blocked.cache"));

  // ...and the write fails when the folder does not exist.
  FileStateCache nowhere{dir_.Wide("missing/EmbLauncher.cache"), cache_.records};
  EXPECT_FALSE(SaveCache(nowhere, {Entry(0, 0, u"a")}));
  EXPECT_EQ(ReadCache(), "EMBVC1\nprevious\n");
}

TEST_F(CacheFileTest, SaveThenLoadSurvivesARunOfFileChecks) {
  Write("a.bin", "aaa");
  Write("sub/b.bin", "bb");
  const std::vector<CrcListEntry> entries = {Entry(CrcOf("aaa"), 3, u"a.bin"),
                                             Entry(CrcOf("bb"), 2, u"sub\\b.bin")};
  for (const CrcListEntry& entry : entries) EXPECT_TRUE(FileMatchesEntry(entry, Folder(), &cache_));
  ASSERT_TRUE(SaveCache(cache_, entries));

  FileStateCache next{cache_.cachePath, {}};
  LoadCache(next);
  ASSERT_EQ(next.records.size(), 2u);
  // Poisoned records prove the next run answers from the cache alone.
  for (auto& [key, record] : next.records) record.crc ^= 1;
  for (const CrcListEntry& entry : entries) EXPECT_FALSE(FileMatchesEntry(entry, Folder(), &next));
}

// Workers hash and end, one after another, as the engine's worker does once
// per run. Its ctest twin runs under Wine with heap checking
// (WINEDEBUG=warn+heap), where a per-thread destructor that frees a stale
// pointer at thread exit crashes the process.
TEST_F(FileStateTest, ThreadsThatHashFilesEndCleanly) {
  Write("f.bin", std::string(100000, 'f'));
  const CrcListEntry entry = Entry(CrcOf(std::string(100000, 'f')), 100000, u"f.bin");
  for (int i = 0; i < 50; ++i) {
    bool matched = false;
    std::thread worker([&] {
      HashBuffer buffer;
      matched = FileMatchesEntry(entry, Folder(), nullptr, &buffer) &&
                FileMatchesEntry(entry, Folder(), nullptr);
    });
    worker.join();
    ASSERT_TRUE(matched) << i;
  }
}

// Answers in list order whatever thread checked a file; a set cancel flag
// stops the checks, down to the middle of a file being hashed.
TEST_F(FileStateTest, CheckFilesAnswersInListOrderOnAnyNumberOfThreads) {
  std::vector<CrcListEntry> entries;
  std::vector<bool> expected;
  std::vector<std::uint32_t> actual;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "f" + std::to_string(i);
    const std::string bytes(static_cast<size_t>(100 + i), static_cast<char>('a' + i % 26));
    if (i % 5 != 4) Write(name, bytes);  // every fifth file is missing
    const bool good = i % 3 != 0;         // every third has another CRC
    entries.push_back(Entry(good ? CrcOf(bytes) : CrcOf(bytes) ^ 1u, 100 + i, Utf8ToWide(name)));
    expected.push_back(good && i % 5 != 4);
    actual.push_back(CrcOf(bytes));
  }
  for (const unsigned threads : {1u, 2u, 8u}) {
    SCOPED_TRACE(threads);
    size_t calls = 0;
    const std::vector<FileCheck> checks = CheckFiles(entries, Folder(), &cache_, threads, nullptr,
                                                     [&](size_t, size_t) { ++calls; });
    ASSERT_EQ(checks.size(), entries.size());
    if (threads == 1) {
      EXPECT_EQ(calls, entries.size());
    }
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(checks[i].matches, expected[i]) << i;
      EXPECT_EQ(checks[i].hashedState.has_value(), i % 5 != 4) << i;
      EXPECT_EQ(checks[i].crc, checks[i].hashedState ? actual[i] : 0u) << i;
    }
  }
  EXPECT_TRUE(cache_.records.empty());  // only read

  const std::atomic<bool> cancelled{true};
  const std::vector<FileCheck> none = CheckFiles(entries, Folder(), nullptr, 2, &cancelled, {});
  EXPECT_TRUE(std::none_of(none.begin(), none.end(),
                           [](const FileCheck& c) { return c.hashedState.has_value(); }));
  HashBuffer buffer;
  buffer.set_cancel_flag(&cancelled);
  EXPECT_FALSE(CheckFile(entries[1], Folder(), nullptr, buffer).hashedState);
}

}  // namespace
}  // namespace emberfall
