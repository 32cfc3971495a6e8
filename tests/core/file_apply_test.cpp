#include "core/file_apply.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "core/crc_list.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "core/trust_state.h"
#include "tests/helpers/file_apply_contents.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
std::string ToString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool IsReadOnly(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

void MakeReadOnly(const fs::path& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_TRUE(IsReadOnly(path));
}

// The real platform, with replace failures scripted and pauses recorded
// instead of slept.
class ScriptedPlatform : public FileApplyPlatform {
 public:
  struct MoveCall {
    std::u16string from;
    std::u16string to;
    std::uint32_t flags;
  };

  std::uint32_t Move(const std::u16string& from, const std::u16string& to,
                     std::uint32_t flags) override {
    moves.push_back({from, to, flags});
    if (from.ends_with(kStagedSuffix) && failures_left > 0) {
      --failures_left;
      return replace_error;
    }
    if (!from.ends_with(kStagedSuffix) && to.ends_with(kBackupSuffix) && fail_move_aside) {
      return kErrorAccessDenied;
    }
    return FileApplyPlatform::Move(from, to, flags);
  }
  void Pause(std::uint32_t milliseconds) override { pauses.push_back(milliseconds); }
  // Plays the other process that plants a link in the moment between the
  // removal of a leftover and the creation of the new file.
  void RemoveFileIfExists(const std::u16string& path) override {
    FileApplyPlatform::RemoveFileIfExists(path);
    if (plant_after_remove) plant_after_remove(path);
  }

  int StagedMoves() const {
    int count = 0;
    for (const MoveCall& call : moves) count += call.from.ends_with(kStagedSuffix) ? 1 : 0;
    return count;
  }

  std::uint32_t replace_error = kErrorSharingViolation;
  int failures_left = 0;
  bool fail_move_aside = false;
  std::function<void(const std::u16string&)> plant_after_remove;
  std::vector<MoveCall> moves;
  std::vector<std::uint32_t> pauses;
};

class FileApplyTest : public testing::Test {
 protected:
  std::u16string Wide(const std::string& relative) const { return dir_.Wide(relative); }
  std::string Read(const std::string& relative) const { return test::ReadFileBytes(dir_ / relative); }
  void Write(const std::string& relative, const std::string& bytes) const {
    test::WriteFileBytes(dir_ / relative, bytes);
  }

  // Runs ApplyFile and returns the failure it raised; fails the test when
  // it raised none.
  PatchFailure ExpectFailure(const std::u16string& target, const Bytes& contents,
                             const std::u16string& exe, FileApplyPlatform& platform) {
    try {
      ApplyFile(target, contents, exe, platform);
    } catch (const PatchFailure& failure) {
      return failure;
    }
    ADD_FAILURE() << "ApplyFile succeeded";
    return PatchFailure(0u, u"");
  }

  test::TempDir dir_;
  test::TempDir outside_;
};

TEST_F(FileApplyTest, InUseErrorsAreExactlyTheFourCodes) {
  for (std::uint32_t code = 0; code < 2000; ++code) {
    const bool in_use = code == 5 || code == 32 || code == 33 || code == 1224;
    ASSERT_EQ(IsFileInUseError(code), in_use) << code;
  }
  EXPECT_FALSE(IsFileInUseError(0xFFFFFFFFu));
}

TEST_F(FileApplyTest, CreatesMissingFoldersAndLeavesNoStagedFile) {
  ApplyFile(Wide("a/b/c/new.bin"), ToBytes("hello"), u"");
  EXPECT_EQ(Read("a/b/c/new.bin"), "hello");
  EXPECT_FALSE(fs::exists(dir_ / "a/b/c/new.bin.emb-new"));
}

TEST_F(FileApplyTest, ReplacesContentsOfAnySizeIncludingEmptyAndPastOneWrite) {
  const Bytes big = test::FastRandomBytes(kLargestWriteBytes + 5, 9);
  for (const Bytes& contents : {ToBytes("first"), big, Bytes{}, ToBytes("x")}) {
    SCOPED_TRACE(contents.size());
    ApplyFile(Wide("f.bin"), contents, u"");
    EXPECT_EQ(fs::file_size(dir_ / "f.bin"), contents.size());
    EXPECT_TRUE(Read("f.bin") == ToString(contents));
  }
}

TEST_F(FileApplyTest, AReadOnlyTargetIsReplacedAndTheNewFileIsWritable) {
  Write("ro.bin", "old");
  MakeReadOnly(dir_ / "ro.bin");
  ApplyFile(Wide("ro.bin"), ToBytes("new"), u"");
  EXPECT_EQ(Read("ro.bin"), "new");
  EXPECT_FALSE(IsReadOnly(dir_ / "ro.bin"));
}

TEST_F(FileApplyTest, AReadOnlyLeftoverStagedFileIsRemovedFirst) {
  Write("f.bin.emb-new", "leftover of a crashed run");
  MakeReadOnly(dir_ / "f.bin.emb-new");
  ApplyFile(Wide("f.bin"), ToBytes("new"), u"");
  EXPECT_EQ(Read("f.bin"), "new");
  EXPECT_FALSE(fs::exists(dir_ / "f.bin.emb-new"));
}

TEST_F(FileApplyTest, AFolderThatCannotBeCreatedIsAWriteFailure) {
  Write("blocker", "a file where a folder should be");
  FileApplyPlatform platform;
  const PatchFailure failure = ExpectFailure(Wide("blocker/sub/f.bin"), ToBytes("x"), u"", platform);
  EXPECT_EQ(failure.code(), 7u);
  EXPECT_TRUE(failure.detail().starts_with(Wide("blocker/sub/f.bin") + u" | mkdir: "))
      << WideToUtf8(failure.detail());
  EXPECT_GT(failure.detail().size(), (Wide("blocker/sub/f.bin") + u" | mkdir: ").size());
}

TEST_F(FileApplyTest, AStagedFileThatCannotBeWrittenIsAWriteFailure) {
  // A folder under the staged name can be neither removed nor opened as a file.
  fs::create_directories(dir_ / "f.bin.emb-new");
  Write("f.bin", "old");
  ScriptedPlatform platform;
  const PatchFailure failure = ExpectFailure(Wide("f.bin"), ToBytes("new"), u"", platform);
  EXPECT_EQ(failure.code(), 7u);
  EXPECT_TRUE(failure.detail().starts_with(Wide("f.bin") + u" | write err="))
      << WideToUtf8(failure.detail());
  EXPECT_EQ(Read("f.bin"), "old");
  EXPECT_TRUE(platform.moves.empty());
}

TEST_F(FileApplyTest, AnInUseTargetIsTriedNineTimesWithEightPauses) {
  for (std::uint32_t error : {kErrorSharingViolation, kErrorLockViolation, kErrorAccessDenied,
                              kErrorUserMappedFile}) {
    SCOPED_TRACE(error);
    Write("f.bin", "old");
    ScriptedPlatform platform;
    platform.replace_error = error;
    platform.failures_left = 100;
    const PatchFailure failure = ExpectFailure(Wide("f.bin"), ToBytes("new"), u"", platform);
    EXPECT_EQ(failure.code(), 10u);
    EXPECT_EQ(failure.detail(), Wide("f.bin") + u" | replace err=" + ToWideDecimalUnsigned(error));
    EXPECT_EQ(platform.StagedMoves(), 9);
    EXPECT_EQ(platform.pauses, std::vector<std::uint32_t>(8, 250));
    EXPECT_EQ(platform.moves.front().flags, 9u);
    EXPECT_EQ(Read("f.bin"), "old");
    EXPECT_FALSE(fs::exists(dir_ / "f.bin.emb-new"));
  }
}

TEST_F(FileApplyTest, ATargetReleasedDuringTheRetriesIsReplaced) {
  Write("f.bin", "old");
  ScriptedPlatform platform;
  platform.failures_left = 3;
  ApplyFile(Wide("f.bin"), ToBytes("new"), u"", platform);
  EXPECT_EQ(Read("f.bin"), "new");
  EXPECT_EQ(platform.StagedMoves(), 4);
  EXPECT_EQ(platform.pauses.size(), 3u);
}

TEST_F(FileApplyTest, AnyOtherReplaceErrorFailsAtOnce) {
  Write("f.bin", "old");
  ScriptedPlatform platform;
  platform.replace_error = 2;
  platform.failures_left = 100;
  const PatchFailure failure = ExpectFailure(Wide("f.bin"), ToBytes("new"), u"", platform);
  EXPECT_EQ(failure.code(), 7u);
  EXPECT_EQ(failure.detail(), Wide("f.bin") + u" | replace err=2");
  EXPECT_EQ(platform.StagedMoves(), 1);
  EXPECT_TRUE(platform.pauses.empty());
  EXPECT_FALSE(fs::exists(dir_ / "f.bin.emb-new"));
}

TEST_F(FileApplyTest, TheRunningExecutableIsMovedAsideWithoutAPause) {
  Write("launcher.exe", "old image");
  ScriptedPlatform platform;
  platform.failures_left = 1;
  // Another spelling of the same file still counts as the executable.
  ApplyFile(Wide("launcher.exe"), ToBytes("new image"), Wide("./launcher.exe"), platform);
  EXPECT_EQ(Read("launcher.exe"), "new image");
  EXPECT_EQ(Read("launcher.exe.old"), "old image");
  EXPECT_EQ(platform.StagedMoves(), 2);
  EXPECT_TRUE(platform.pauses.empty());
  ASSERT_EQ(platform.moves.size(), 3u);
  EXPECT_EQ(platform.moves[1].to, Wide("./launcher.exe") + u".old");
  EXPECT_EQ(platform.moves[1].flags, 1u);
}

TEST_F(FileApplyTest, AnOldBackupIsReplacedByTheNewMoveAside) {
  Write("launcher.exe", "current");
  Write("launcher.exe.old", "older");
  MakeReadOnly(dir_ / "launcher.exe.old");
  ScriptedPlatform platform;
  platform.failures_left = 1;
  ApplyFile(Wide("launcher.exe"), ToBytes("newest"), Wide("launcher.exe"), platform);
  EXPECT_EQ(Read("launcher.exe"), "newest");
  EXPECT_EQ(Read("launcher.exe.old"), "current");
}

TEST_F(FileApplyTest, TheExecutableIsMovedBackWhenTheReplaceStillFails) {
  Write("launcher.exe", "old image");
  ScriptedPlatform platform;
  platform.failures_left = 100;
  const PatchFailure failure =
      ExpectFailure(Wide("launcher.exe"), ToBytes("new image"), Wide("launcher.exe"), platform);
  EXPECT_EQ(failure.code(), 10u);
  EXPECT_EQ(Read("launcher.exe"), "old image");
  EXPECT_FALSE(fs::exists(dir_ / "launcher.exe.old"));
  EXPECT_FALSE(fs::exists(dir_ / "launcher.exe.emb-new"));
  // The move-aside used up one of the nine attempts and skipped its pause.
  EXPECT_EQ(platform.StagedMoves(), 9);
  EXPECT_EQ(platform.pauses.size(), 7u);
}

TEST_F(FileApplyTest, AFailedMoveAsideFallsBackToWaiting) {
  Write("launcher.exe", "old image");
  ScriptedPlatform platform;
  platform.failures_left = 100;
  platform.fail_move_aside = true;
  const PatchFailure failure =
      ExpectFailure(Wide("launcher.exe"), ToBytes("new image"), Wide("launcher.exe"), platform);
  EXPECT_EQ(failure.code(), 10u);
  EXPECT_EQ(platform.StagedMoves(), 9);
  EXPECT_EQ(platform.pauses.size(), 8u);
  EXPECT_EQ(Read("launcher.exe"), "old image");
}

TEST_F(FileApplyTest, OtherFilesAreNeverMovedAside) {
  Write("f.bin", "old");
  Write("launcher.exe", "image");
  ScriptedPlatform platform;
  platform.failures_left = 100;
  ExpectFailure(Wide("f.bin"), ToBytes("new"), Wide("launcher.exe"), platform);
  EXPECT_EQ(platform.moves.size(), 9u);
  EXPECT_FALSE(fs::exists(dir_ / "launcher.exe.old"));
}

TEST_F(FileApplyTest, RemoveFileIfExistsDeletesReadOnlyFilesAndIgnoresTheRest) {
  Write("ro", "x");
  MakeReadOnly(dir_ / "ro");
  RemoveFileIfExists(Wide("ro"));
  EXPECT_FALSE(fs::exists(dir_ / "ro"));
  RemoveFileIfExists(Wide("missing"));
  fs::create_directories(dir_ / "folder");
  RemoveFileIfExists(Wide("folder"));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
}

// Every name the elevated launcher writes can hold a link planted by the
// player, aimed at a file outside the game folder. Whatever the operation,
// the outside file keeps its bytes and mode, and the game folder ends up
// with a real file of the right contents (or keeps the old one when the
// link appeared too late to be removed).
TEST_F(FileApplyTest, LinksAtEveryWrittenNameAreNeverFollowed) {
  struct Case {
    const char* name;
    const char* link;       // planted in the game folder, aimed outside
    bool outside_writable;
    std::function<void(ScriptedPlatform&)> run;
    const char* file;       // what the game folder must then hold as a real file
    std::string contents;
  };
  const Case cases[] = {
      {"cache temporary", "EmbLauncher.cache.tmp", true,
       [this](ScriptedPlatform&) {
         FileStateCache cache{Wide("EmbLauncher.cache"), {}};
         RecordFileState(cache, u"a.bin", {1, 2, 3}, 4);
         CrcListEntry entry;
         entry.path_wide = u"a.bin";
         EXPECT_TRUE(SaveCache(cache, {entry}));
       },
       "EmbLauncher.cache", "EMBVC1\n00000004 1 2 3 a.bin\n"},
      {"cache", "EmbLauncher.cache", true,
       [this](ScriptedPlatform&) {
         FileStateCache cache{Wide("EmbLauncher.cache"), {}};
         EXPECT_TRUE(SaveCache(cache, {}));
       },
       "EmbLauncher.cache", "EMBVC1\n"},
      {"trust state temporary", "EmbLauncher.trust.tmp", true,
       [this](ScriptedPlatform&) { EXPECT_TRUE(SaveAcceptedSerial(Wide("EmbLauncher.trust"), 9)); },
       "EmbLauncher.trust", "EMBTR1\nserial 9\n"},
      {"target aimed at a read-only file", "game.bin", false,
       [this](ScriptedPlatform& platform) {
         ApplyFile(Wide("game.bin"), ToBytes("new"), u"", platform);
       },
       "game.bin", "new"},
      {"staged file planted after the leftover was removed", nullptr, true,
       [this](ScriptedPlatform& platform) {
         Write("game.bin", "old");
         platform.plant_after_remove = [this](const std::u16string& path) {
           if (path.ends_with(kStagedSuffix) && !fs::is_symlink(dir_ / "game.bin.emb-new")) {
             fs::create_symlink(outside_ / "file", dir_ / "game.bin.emb-new");
           }
         };
         EXPECT_EQ(ExpectFailure(Wide("game.bin"), ToBytes("new"), u"", platform).code(),
                   static_cast<std::uint32_t>(PatchErrorCode::WriteFailed));
       },
       "game.bin", "old"},
      {"backup of the running executable", "launcher.exe.old", true,
       [this](ScriptedPlatform& platform) {
         Write("launcher.exe", "running");
         platform.failures_left = 1;
         ApplyFile(Wide("launcher.exe"), ToBytes("new"), Wide("launcher.exe"), platform);
         EXPECT_EQ(Read("launcher.exe"), "new");
       },
       "launcher.exe.old", "running"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_.path());
    fs::create_directories(dir_.path());
    const fs::path outside = outside_ / "file";
    fs::remove(outside);
    test::WriteFileBytes(outside, "outside");
    if (!c.outside_writable) MakeReadOnly(outside);
    const fs::perms mode = fs::status(outside).permissions();
    if (c.link != nullptr) {
      std::error_code error;
      fs::create_symlink(outside, dir_ / c.link, error);
      if (!fs::is_symlink(fs::symlink_status(dir_ / c.link))) {
        GTEST_SKIP() << "this system makes no symbolic links here";
      }
    }
    ScriptedPlatform platform;
    c.run(platform);
    EXPECT_EQ(test::ReadFileBytes(outside), "outside");
    EXPECT_EQ(fs::status(outside).permissions(), mode);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_ / c.file)));
    EXPECT_EQ(Read(c.file), c.contents);
    fs::permissions(outside, fs::perms::owner_write, fs::perm_options::add);
  }
}

// A child process replaces a large file over and over and is killed at
// random moments; whatever the moment, the target holds one complete
// version. The kill window is scaled to a measured cycle, so kills land
// before, during and after the replaces.
TEST_F(FileApplyTest, KillingTheWriterNeverLeavesAPartialTarget) {
  const Bytes old_contents = test::CrashTestOldContents();
  const Bytes new_contents = test::CrashTestNewContents();
  const fs::path target = dir_ / "big.bin";
  test::WriteFileBytes(target, ToString(old_contents));
  const fs::path child = test::BuiltProgram("file_apply_child");

  const auto start = std::chrono::steady_clock::now();
  const test::ProcessResult once = test::RunProcess(child, {Utf8Path(target), "once"});
  ASSERT_EQ(once.exit_code, 0) << once.err;
  const auto cycle = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_TRUE(Read("big.bin") == ToString(old_contents));

  const std::uint32_t seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed) + ", cycle " + std::to_string(cycle.count()) + " ms");
  std::mt19937 rng(seed);
  const auto window = static_cast<std::uint32_t>(cycle.count() * 3 / 2 + 1);
  int seen_old = 0;
  int seen_new = 0;
  constexpr int kKills = 60;
  for (int kill = 0; kill < kKills; ++kill) {
    std::unique_ptr<test::ChildProcess> process = test::StartProcess(child, {Utf8Path(target)});
    ASSERT_NE(process, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % window));
    process->Kill();
    const std::string contents = Read("big.bin");
    const bool is_old = contents == ToString(old_contents);
    const bool is_new = contents == ToString(new_contents);
    ASSERT_TRUE(is_old || is_new) << "kill " << kill << ": " << contents.size() << " bytes";
    seen_old += is_old ? 1 : 0;
    seen_new += is_new ? 1 : 0;
  }
  std::printf("crash test: %d kills, %d old, %d new (cycle %lld ms)\n", kKills, seen_old, seen_new,
              static_cast<long long>(cycle.count()));
  // Both versions showing up proves the kills fell inside the replace loop.
  EXPECT_GT(seen_new, 0);
  EXPECT_GT(seen_old, 0);
}

}  // namespace
}  // namespace emberfall
