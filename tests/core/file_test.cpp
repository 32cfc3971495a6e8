#include "core/file_apply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "core/crc32.h"
#include "core/crc32_clmul.h"
#include "core/crc_list.h"
#include "core/file_state.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "core/verified_hashes.h"
#include "core/release_state.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

// Every entry as "name=contents", "name/" or "name>" (a link).
std::string Listing(const fs::path& root) {
  std::map<std::string, std::string> items;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    std::string& what = items[e.path().lexically_relative(root).generic_string()];
    what = e.is_symlink() ? ">" : e.is_directory() ? "/" : "=" + test::ReadFileBytes(e.path());
  }
  std::string out;
  for (const auto& [name, what] : items) out += (out.empty() ? "" : " ") + name + what;
  return out;
}

// The real platform with replace failures scripted, moves logged ("R" staged
// file onto target, "A" executable aside, "B" back, with flags) and pauses too.
class ScriptedPlatform : public FileApplyPlatform {
 public:
  std::uint32_t Move(const HeldFolder& folder, std::u16string_view from, std::u16string_view to,
                     std::uint32_t flags) override {
    const bool staged = from.ends_with(kStagedSuffix);
    const bool aside = !staged && to.ends_with(kBackupSuffix);
    log += (staged ? "R" : aside ? "A" : "B") + std::to_string(flags) + " ";
    if (staged && failures-- > 0) return replace_error;
    if (aside && fail_move_aside) return kErrorAccessDenied;
    return FileApplyPlatform::Move(folder, from, to, flags);
  }
  void Pause(std::uint32_t ms) override { log += "p" + std::to_string(ms) + " "; }
  // Plays another process planting a link just after a leftover went.
  void RemoveFile(const HeldFolder& folder, std::u16string_view name) override {
    FileApplyPlatform::RemoveFile(folder, name);
    if (!plant_to.empty() && name.ends_with(kStagedSuffix)) {
      fs::create_symlink(plant_to, FsPath(folder.PathOf(name)));
      plant_to.clear();
    }
  }
  // Plays another process swapping the folder just walked for a link.
  FolderLookup OpenParent(const GameFolder& root, std::u16string_view relative, bool create) override {
    FolderLookup lookup = FileApplyPlatform::OpenParent(root, relative, create);
    if (!swap.empty()) {
      fs::rename(FsPath(root.DisplayPath(swap)), FsPath(root.DisplayPath(swap + u".moved")));
      fs::create_directory_symlink(swap_to, FsPath(root.DisplayPath(swap)));
      swap.clear();
    }
    return lookup;
  }

  std::uint32_t replace_error = kErrorSharingViolation;
  int failures = 0;
  bool fail_move_aside = false;
  fs::path plant_to;
  std::u16string swap;
  fs::path swap_to;
  std::string log;
};

// Each row plants what Listing shows (">" links to a file outside, ">/" to a
// folder outside, ">?" to nothing; "name>!" makes it read-only), then saves
// the cache file "c" or the release record "t", or applies "new" to the
// target. "~a" swaps folder a for a link between the walk and the write.
// The elevated launcher never writes through a link the player planted.
TEST(FileApplyTest, Scenarios) {
  const auto tries = [](int count, const std::string& each) {  // with a pause between
    std::string out = each;
    while (--count > 0) out += "p250 " + each;
    return out;
  };
  const std::string link = "18 a | a symbolic link or junction below the game folder*";
  const struct {
    const char *before, *target, *exe;
    int failures;
    std::uint32_t error;
    bool fail_move_aside;  // without an executable: a link is planted at the staged name
    std::string outcome;   // "ok", or "CODE DETAIL"; a "*" ends the comparison
    std::string log;
    const char* after;
  } cases[] = {
      {"", "a/b/f", "", 0, 0, false, "ok", "R9 ", "a/ a/b/ a/b/f=new"},
      {"f=old!", "f", "", 0, 0, false, "ok", "R9 ", "f=new"},
      {"f.emb-new=leftover!", "f", "", 0, 0, false, "ok", "R9 ", "f=new"},
      {"b=x", "b/sub/f", "", 0, 0, false, "7 b/sub/f | mkdir: *", "", "b=x"},
      // A folder under the staged name can be neither removed nor written.
      {"f=old f.emb-new/", "f", "", 0, 0, false, "7 f | write err=*", "", "f=old f.emb-new/"},
      // In use: nine tries, eight pauses; other files are never moved aside.
      {"f=old l=", "f", "l", 100, 33, false, "10 f | replace err=33", tries(9, "R9 "), "f=old l="},
      {"f=old", "f", "", 100, 5, false, "10 f | replace err=5", tries(9, "R9 "), "f=old"},
      {"f=old", "f", "", 100, 1224, false, "10 f | replace err=1224", tries(9, "R9 "), "f=old"},
      {"f=old", "f", "", 100, 2, false, "7 f | replace err=2", "R9 ", "f=old"},
      // The running executable, in any spelling, is moved aside (over a copy or
      // link), moved back when the replace still fails, or waited for.
      {"l=old l.old=x!", "l", "./l", 1, 32, false, "ok", "R9 A1 R9 ", "l=new l.old=old"},
      {"l=old l.old>", "l", "l", 1, 32, false, "ok", "R9 A1 R9 ", "l=new l.old=old"},
      {"b/ b/l=old", "b/l", "b/x/../l", 1, 32, false, "ok", "R9 A1 R9 ", "b/ b/l=new b/l.old=old"},
      {"l=old a>.", "l", "a/l", 1, 32, false, "ok", "R9 p250 R9 ", "a> l=new"},  // not through a link
      {"l=old", "l", "l", 100, 32, false, "10 l | replace err=32",
       "R9 A1 " + tries(8, "R9 ") + "B1 ", "l=old"},
      {"l=old", "l", "l", 100, 32, true, "10 l | replace err=32", tries(9, "R9 A1 "), "l=old"},
      // Links at the target are replaced, whatever they lead to.
      {"f>!", "f", "", 0, 0, false, "ok", "R9 ", "f=new"},
      {"f>/", "f", "", 0, 0, false, "ok", "R9 ", "f=new"},
      {"f>?", "f", "", 0, 0, false, "ok", "R9 ", "f=new"},
      {"f=old", "f", "", 0, 0, true, "7 f | write err=*", "", "f=old"},
      // A link as a folder of the target, at any depth, ends it there.
      {"a>/", "a/f", "", 0, 0, false, link, "", "a>"},
      {"a>/", "a/b/f", "", 0, 0, false, link, "", "a>"},
      {"a/ a/b>/", "a/b/f", "", 0, 0, false, "18 a/b | *", "", "a/ a/b>"},
      {"a/ a/b=", "a/b/f", "", 0, 0, false, "7 a/b/f | mkdir: *", "", "a/ a/b="},
      // Swapped after the walk: the write stays in the folder that was walked.
      {"a/ a/f=old ~a", "a/f", "", 0, 0, false, "ok", "R9 ", "a> a.moved/ a.moved/f=new"},
      {"c.tmp>", "c", "", 0, 0, false, "ok", "", "c=EMBVC1\n"},
      {"t.tmp>", "t", "", 0, 0, false, "ok", "", "t=EMBTR1\nserial 9\n"},
  };
  test::TempDir outside;
  std::error_code no_links;  // the Windows build's std::filesystem makes none
  fs::create_symlink(outside / "file", outside / "link", no_links);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.before << " -> " << c.target);
    const bool plants = c.fail_move_aside && *c.exe == '\0';
    if (no_links && (plants || std::strpbrk(c.before, ">~") != nullptr)) continue;
    test::TempDir dir;
    fs::remove_all(outside / "file");
    test::WriteFileBytes(outside / "file", "outside");
    fs::create_directories(outside / "folder");
    ScriptedPlatform platform;
    std::istringstream items{c.before};
    for (std::string item; items >> item;) {
      if (item[0] == '~') {
        platform.swap = Utf8ToWide(item.substr(1));
        platform.swap_to = outside / "folder";
        continue;
      }
      const bool read_only = item.ends_with('!');
      if (read_only) item.pop_back();
      const size_t equals = item.find('=');
      const size_t arrow = item.find('>');
      const fs::path path = dir / item.substr(0, std::min({equals, arrow, item.size() - 1}));
      if (item.ends_with('/') && arrow == std::string::npos) fs::create_directories(path);
      if (arrow != std::string::npos) {
        const std::string to = item.substr(arrow + 1);
        fs::create_symlink(to == "/" ? outside / "folder" : to == "?" ? outside / "none"
                           : to == "." ? dir.path() : outside / "file", path);
      }
      if (equals != std::string::npos) test::WriteFileBytes(path, item.substr(equals + 1));
      if (read_only) fs::permissions(fs::canonical(path), fs::perms::owner_read);
    }
    const fs::perms mode = fs::status(outside / "file").permissions();
    platform.failures = c.failures;
    platform.replace_error = c.error;
    platform.fail_move_aside = c.fail_move_aside;
    if (plants) platform.plant_to = outside / "file";
    const std::string target = c.target;
    std::string outcome = "ok";
    try {
      if (target == "c") {
        EXPECT_TRUE(SaveCache(FileStateCache{dir.Wide(target), {}}, {}));
      } else if (target == "t") {
        EXPECT_TRUE(MakeFileReleaseState(dir.Wide(target))->Save(9));
      } else {
        ApplyFile(GameFolder(dir.Wide()), Utf8ToWide(target), {'n', 'e', 'w'},
                  RelativeBelow(dir.Wide(), dir.Wide(c.exe)), platform);
      }
    } catch (const PatchFailure& failure) {
      outcome = std::to_string(CodeNumber(failure.code())) + " " +
                WideToUtf8(failure.detail().substr(dir.Wide().size() + 1));
      std::replace(outcome.begin(), outcome.end(), '\\', '/');  // Windows' separators
    }
    EXPECT_EQ(outcome.substr(0, c.outcome.find('*')), c.outcome.substr(0, c.outcome.find('*')));
    EXPECT_EQ(platform.log, c.log);
    EXPECT_EQ(Listing(dir.path()), c.after);
    EXPECT_EQ(test::ReadFileBytes(outside / "file"), "outside");
    EXPECT_EQ(fs::status(outside / "file").permissions(), mode);
    EXPECT_TRUE(fs::is_empty(outside / "folder"));
  }
}

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
// it, so the portable way and a split update are checked on their own too.
TEST(Crc32Test, AgreesWithTheBitwiseDefinitionAndGivesUpWhenCancelled) {
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
  test::TempDir dir;
  HashBuffer buffer;
  std::uint32_t crc = 0;
  for (size_t size : {1048577, 1048576, 1}) {  // one buffer, longest first: nothing left over
    const test::Bytes bytes = test::FastRandomBytes(size, size);
    test::WriteFileBytes(dir / "f", std::string(bytes.begin(), bytes.end()));
    ASSERT_TRUE(Crc32File(OpenForSequentialRead(dir.Wide("f")), crc, buffer));
    EXPECT_EQ(crc, Crc32Buffer(bytes.data(), bytes.size())) << size;
  }
  EXPECT_FALSE(Crc32File(OpenForAttributes(dir.Wide("f")), crc, buffer));  // no read access
  // A cancelled run gives up a file's hashing and keeps the old result.
  const std::atomic<bool> cancelled{true};
  buffer.set_cancel_flag(&cancelled);
  crc = 7;
  EXPECT_FALSE(Crc32File(OpenForSequentialRead(dir.Wide("f")), crc, buffer));
  EXPECT_EQ(crc, 7u);
}

}  // namespace
}  // namespace emberfall
