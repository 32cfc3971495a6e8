#include "core/file_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "core/crc32.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/release_state.h"
#include "core/text.h"
#include "core/verified_hashes.h"
#include "tests/support/cache_records.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

using FileStateTest = test::CacheFolderTest;
using test::Dump;
using test::Entry;

TEST_F(FileStateTest, AFileIsHashedOnlyWhenItsStateDiffersFromItsRecord) {
  test::WriteFileBytes(dir_ / "short.bin", "abc");
  test::WriteFileBytes(dir_ / "Data/File.TXT", "123456789");
  fs::create_directories(dir_ / "dir.bin");
  const std::u16string folder = dir_.Wide();
  const CrcListEntry data = Entry("123456789", u"Data\\File.TXT");
  // Short or a folder: no match, and nothing to record.
  EXPECT_FALSE(FileMatchesEntry(Entry("abcd", u"short.bin"), folder, &cache_));
  EXPECT_FALSE(FileMatchesEntry(Entry("", u"dir.bin"), folder, &cache_));
  EXPECT_EQ(Dump(cache_.records), "");
  // Hashed and recorded whether or not it matches.
  EXPECT_FALSE(FileMatchesEntry(Entry("abd", u"short.bin"), folder, &cache_));
  EXPECT_TRUE(FileMatchesEntry(data, folder, &cache_));
  EXPECT_EQ(Dump(cache_.records, false), "Data\\File.TXT cbf43926; short.bin 352441c2; ");
  // A record of the exact state is trusted unread, whatever the path's case.
  RecordFileState(cache_, u"DATA\\file.txt", *QueryFileState(dir_.Wide("Data/File.TXT")), 0x1234);
  EXPECT_FALSE(FileMatchesEntry(data, folder, &cache_));
  EXPECT_EQ(Dump(cache_.records, false), "DATA\\file.txt 00001234; short.bin 352441c2; ");
  // A touched file is hashed again.
  fs::last_write_time(dir_ / "Data/File.TXT",
                      fs::last_write_time(dir_ / "short.bin") + std::chrono::hours(1));
  EXPECT_TRUE(FileMatchesEntry(data, folder, &cache_));
  EXPECT_EQ(Dump(cache_.records, false), "Data\\File.TXT cbf43926; short.bin 352441c2; ");
  EXPECT_EQ(cache_.records[PathKey(u"data\\file.txt")].state,
            *QueryFileState(dir_.Wide("Data/File.TXT")));

  // Poisoned after a save and load, the records alone answer the next run.
  ASSERT_TRUE(SaveCache(cache_, {Entry("", u"SHORT.BIN"), Entry("", u"no-record"), data}));
  FileStateCache next{cache_.cachePath, {}};
  LoadCache(next);
  EXPECT_EQ(Dump(next.records), Dump(cache_.records));
  for (auto& [key, r] : next.records) r.crc ^= 1;
  EXPECT_FALSE(FileMatchesEntry(data, folder, &next));

  // Links are not followed, not even to the right bytes: a folder of the
  // path, the file itself, the cache file.
  std::error_code no_links;  // the Windows build's std::filesystem makes none
  fs::create_directory_symlink(dir_ / "Data", dir_ / "Linked", no_links);
  if (no_links) return;
  fs::create_symlink(dir_ / "Data/File.TXT", dir_ / "linked.txt");
  EXPECT_FALSE(FileMatchesEntry(Entry("123456789", u"Linked\\File.TXT"), folder, nullptr));
  // Not even with a record of the state the link leads to.
  RecordFileState(cache_, u"linked.txt", *QueryFileState(dir_.Wide("Data/File.TXT")), data.crc);
  EXPECT_FALSE(FileMatchesEntry(Entry("123456789", u"linked.txt"), folder, &cache_));
  fs::rename(dir_ / "EmbLauncher.cache", dir_ / "real.cache");
  fs::create_symlink(dir_ / "real.cache", dir_ / "EmbLauncher.cache");
  LoadCache(next);
  EXPECT_TRUE(next.records.empty());
}

// A signed check trusts a recorded SHA-256 only for the exact state it was
// taken in, as the cache does a CRC-32: here the records claim the signed
// hash for bytes that have another, so only a read can tell.
TEST_F(FileStateTest, ASignedCheckTrustsARecordedHashOnlyForItsState) {
  test::WriteFileBytes(dir_ / "f.bin", "abc");
  const CrcListEntry entry = Entry("abc", u"f.bin");
  const std::vector<CrcListEntry> entries = {entry};
  const Sha256Digest claimed = Sha256Of("not abc");
  const FileState state = *QueryFileState(dir_.Wide("f.bin"));
  RecordFileState(cache_, u"f.bin", state, entry.crc);
  VerifiedHashes verified{dir_.Wide("EmbLauncher.hashes"), {}};
  RecordVerifiedHash(verified, u"F.BIN", state, claimed);
  ASSERT_TRUE(SaveVerifiedHashes(verified, entries));
  LoadVerifiedHashes(verified);
  const GameFolder root(dir_.Wide());
  HashBuffer buffer;
  FolderCursor cursor;
  const auto check = [&] {
    return CheckFile(entry, root, CheckRecords{&cache_, &verified}, &claimed, buffer, cursor);
  };
  FileCheck first = check();
  EXPECT_TRUE(first.matches && !first.hashedState);
  fs::last_write_time(dir_ / "f.bin", fs::last_write_time(dir_ / "f.bin") + std::chrono::hours(1));
  RecordFileState(cache_, u"f.bin", *QueryFileState(dir_.Wide("f.bin")), entry.crc);
  first = check();
  EXPECT_FALSE(first.matches);
  EXPECT_TRUE(first.sha256 == Sha256Of("abc") && first.crc == entry.crc);
  EXPECT_EQ(FormatVerifiedHashes(verified, entries),
            "EMBSH1\n" + HexEncode(claimed) + " 3 " + std::to_string(state.lastWriteTime) + " " +
                std::to_string(state.fileIndex) + " F.BIN\n");
}


// Hashing threads end one after another; the ctest twin under Wine's heap
// checks crashes on a per-thread destructor that frees a stale pointer.
TEST_F(FileStateTest, ThreadsThatHashFilesEndCleanly) {
  test::WriteFileBytes(dir_ / "f.bin", std::string(100000, 'f'));
  const CrcListEntry entry = Entry(std::string(100000, 'f'), u"f.bin");
  for (int i = 0; i < 50; ++i) {
    std::thread([&] {
      HashBuffer buffer;
      EXPECT_TRUE(FileMatchesEntry(entry, dir_.Wide(), nullptr, &buffer) &&
                  FileMatchesEntry(entry, dir_.Wide(), nullptr)) << i;
    }).join();
  }
}

// Crc32Buffer takes the carry-less multiplication where this processor has

}  // namespace
}  // namespace emberfall
