#include "core/file_apply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <thread>
#include <utility>

#include "core/crc_list.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "core/trust_state.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

bool IsReadOnly(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

void MakeReadOnly(const fs::path& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// Every file as "name=contents" ("!" after a read-only one) and every folder
// as "name/", sorted and joined by spaces.
std::string Listing(const fs::path& root) {
  std::map<std::string, std::string> items;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().lexically_relative(root).generic_string();
    items[name] = e.is_directory() ? "/" : "=" + test::ReadFileBytes(e.path()) + (IsReadOnly(e.path()) ? "!" : "");
  }
  std::string out;
  for (const auto& [name, what] : items) out += (out.empty() ? "" : " ") + name + what;
  return out;
}

// Makes what Listing shows.
void Plant(const fs::path& root, std::string_view listing) {
  std::istringstream items{std::string(listing)};
  for (std::string item; items >> item;) {
    if (item.ends_with('/')) {
      fs::create_directories(root / item);
      continue;
    }
    const bool read_only = item.ends_with('!');
    if (read_only) item.pop_back();
    const size_t equals = item.find('=');
    test::WriteFileBytes(root / item.substr(0, equals), item.substr(equals + 1));
    if (read_only) MakeReadOnly(root / item.substr(0, equals));
  }
}

std::string Times(int count, const std::string& text) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

// The real platform with replace failures scripted, and every move and pause
// logged (and not slept): "R" staged file onto the target, "A" executable
// aside, "B" executable back, each with its flags; "p" and the pause.
class ScriptedPlatform : public FileApplyPlatform {
 public:
  std::uint32_t Move(const std::u16string& from, const std::u16string& to,
                     std::uint32_t flags) override {
    const bool staged = from.ends_with(kStagedSuffix);
    const bool aside = !staged && to.ends_with(kBackupSuffix);
    log += (staged ? "R" : aside ? "A" : "B") + std::to_string(flags) + " ";
    if (staged && failures > 0) {
      --failures;
      return replace_error;
    }
    if (aside && fail_move_aside) return kErrorAccessDenied;
    return FileApplyPlatform::Move(from, to, flags);
  }
  void Pause(std::uint32_t milliseconds) override { log += "p" + std::to_string(milliseconds) + " "; }
  // Plays another process that plants a link between the removal of a
  // leftover and the creation of the new file.
  void RemoveFileIfExists(const std::u16string& path) override {
    FileApplyPlatform::RemoveFileIfExists(path);
    if (after_remove) after_remove(path);
  }

  std::uint32_t replace_error = kErrorSharingViolation;
  int failures = 0;
  bool fail_move_aside = false;
  std::function<void(const std::u16string&)> after_remove;
  std::string log;
};

class FileApplyTest : public testing::Test {
 protected:
  // "ok", or the failure as "CODE DETAIL" with the folder left out.
  std::string Apply(const std::string& target, const Bytes& contents, const std::string& exe,
                    ScriptedPlatform& platform) {
    try {
      ApplyFile(dir_.Wide(target), contents, exe.empty() ? u"" : dir_.Wide(exe), platform);
      return "ok";
    } catch (const PatchFailure& failure) {
      std::string detail = WideToUtf8(failure.detail());
      detail.erase(0, WideToUtf8(dir_.Wide()).size() + 1);
      return std::to_string(failure.code()) + " " + detail;
    }
  }

  test::TempDir dir_;
  test::TempDir outside_;
};

TEST_F(FileApplyTest, Scenarios) {
  const std::string tries = Times(8, "R9 p250 ") + "R9 ";
  const struct {
    const char* before;  // as Listing shows it
    const char* target;
    const char* exe;
    int failures;
    std::uint32_t error;
    bool fail_move_aside;
    std::string outcome;  // a final "*" compares only what comes before it
    std::string log;
    const char* after;
  } cases[] = {
      {"", "a/b/c/f.bin", "", 0, 0, false, "ok", "R9 ", "a/ a/b/ a/b/c/ a/b/c/f.bin=new"},
      {"f.bin=old!", "f.bin", "", 0, 0, false, "ok", "R9 ", "f.bin=new"},
      {"f.bin.emb-new=leftover!", "f.bin", "", 0, 0, false, "ok", "R9 ", "f.bin=new"},
      {"blocker=x", "blocker/sub/f.bin", "", 0, 0, false, "7 blocker/sub/f.bin | mkdir: *", "",
       "blocker=x"},
      // A folder under the staged name can be neither removed nor written.
      {"f.bin=old f.bin.emb-new/", "f.bin", "", 0, 0, false, "7 f.bin | write err=*", "",
       "f.bin=old f.bin.emb-new/"},
      // In use: nine tries, eight pauses; other files are never moved aside.
      {"f.bin=old launcher.exe=image", "f.bin", "launcher.exe", 100, kErrorSharingViolation, false,
       "10 f.bin | replace err=32", tries, "f.bin=old launcher.exe=image"},
      {"f.bin=old", "f.bin", "", 100, kErrorLockViolation, false, "10 f.bin | replace err=33", tries,
       "f.bin=old"},
      {"f.bin=old", "f.bin", "", 100, kErrorAccessDenied, false, "10 f.bin | replace err=5", tries,
       "f.bin=old"},
      {"f.bin=old", "f.bin", "", 100, kErrorUserMappedFile, false, "10 f.bin | replace err=1224",
       tries, "f.bin=old"},
      {"f.bin=old", "f.bin", "", 3, kErrorSharingViolation, false, "ok", Times(3, "R9 p250 ") + "R9 ",
       "f.bin=new"},
      {"f.bin=old", "f.bin", "", 100, 2, false, "7 f.bin | replace err=2", "R9 ", "f.bin=old"},
      // The running executable, in another spelling, is moved aside without
      // a pause, over an older read-only copy...
      {"launcher.exe=old launcher.exe.old=older!", "launcher.exe", "./launcher.exe", 1,
       kErrorSharingViolation, false, "ok", "R9 A1 R9 ", "launcher.exe=new launcher.exe.old=old"},
      // ...and moved back when the replace still fails...
      {"launcher.exe=old", "launcher.exe", "launcher.exe", 100, kErrorSharingViolation, false,
       "10 launcher.exe | replace err=32", "R9 A1 " + Times(7, "R9 p250 ") + "R9 B1 ", "launcher.exe=old"},
      // ...or waited for like any file when it cannot be moved.
      {"launcher.exe=old", "launcher.exe", "launcher.exe", 100, kErrorSharingViolation, true,
       "10 launcher.exe | replace err=32", Times(8, "R9 A1 p250 ") + "R9 A1 ", "launcher.exe=old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.before << " -> " << c.target << ", " << c.log);
    fs::remove_all(dir_.path());
    fs::create_directories(dir_.path());
    Plant(dir_.path(), c.before);
    ScriptedPlatform platform;
    platform.failures = c.failures;
    platform.replace_error = c.error;
    platform.fail_move_aside = c.fail_move_aside;
    const std::string outcome = Apply(c.target, {'n', 'e', 'w'}, c.exe, platform);
    if (c.outcome.ends_with('*')) {
      EXPECT_EQ(outcome.substr(0, c.outcome.size() - 1), c.outcome.substr(0, c.outcome.size() - 1));
      EXPECT_GT(outcome.size(), c.outcome.size());
    } else {
      EXPECT_EQ(outcome, c.outcome);
    }
    EXPECT_EQ(platform.log, c.log);
    EXPECT_EQ(Listing(dir_.path()), c.after);
  }
}

TEST_F(FileApplyTest, ContentsOfAnySizeIncludingEmptyAndPastOneWrite) {
  for (const Bytes& contents : {test::FastRandomBytes(kLargestWriteBytes + 5, 9), Bytes{}, Bytes{'x'}}) {
    SCOPED_TRACE(contents.size());
    ApplyFile(dir_.Wide("f.bin"), contents, u"");
    EXPECT_TRUE(test::ReadFileBytes(dir_ / "f.bin") == std::string(contents.begin(), contents.end()));
  }
}

// Every name the elevated launcher writes can hold a link planted by the
// player, aimed at a file outside the game folder. Whatever the operation,
// the outside file keeps its bytes and mode, and the game folder ends up
// with a real file (or keeps the old one when the link came too late to be
// removed).
TEST_F(FileApplyTest, LinksAtEveryWrittenNameAreNeverFollowed) {
  const auto save_cache = [this](ScriptedPlatform&) {
    FileStateCache cache{dir_.Wide("EmbLauncher.cache"), {}};
    RecordFileState(cache, u"a.bin", {1, 2, 3}, 4);
    CrcListEntry entry;
    entry.path_wide = u"a.bin";
    EXPECT_TRUE(SaveCache(cache, {entry}));
  };
  const auto save_trust = [this](ScriptedPlatform&) {
    EXPECT_TRUE(SaveAcceptedSerial(dir_.Wide("EmbLauncher.trust"), 9));
  };
  const auto apply = [this](ScriptedPlatform& platform) { Apply("game.bin", {'n', 'e', 'w'}, "", platform); };
  const auto apply_exe = [this](ScriptedPlatform& platform) {
    platform.failures = 1;
    Apply("launcher.exe", {'n', 'e', 'w'}, "launcher.exe", platform);
  };
  const auto staged_too_late = [this](ScriptedPlatform& platform) {
    bool planted = false;
    platform.after_remove = [this, &planted](const std::u16string& path) {
      if (path.ends_with(kStagedSuffix) && !std::exchange(planted, true)) {
        fs::create_symlink(outside_ / "file", dir_ / "game.bin.emb-new");
      }
    };
    EXPECT_EQ(Apply("game.bin", {'n', 'e', 'w'}, "", platform).substr(0, 2), "7 ");
  };
  const struct {
    const char* before;
    const char* link;  // planted in the game folder, aimed outside
    bool outside_writable;
    std::function<void(ScriptedPlatform&)> run;
    const char* after;
  } cases[] = {
      {"", "EmbLauncher.cache.tmp", true, save_cache, "EmbLauncher.cache=EMBVC1\n00000004 1 2 3 a.bin\n"},
      {"", "EmbLauncher.cache", true, save_cache, "EmbLauncher.cache=EMBVC1\n00000004 1 2 3 a.bin\n"},
      {"", "EmbLauncher.trust.tmp", true, save_trust, "EmbLauncher.trust=EMBTR1\nserial 9\n"},
      {"", "game.bin", false, apply, "game.bin=new"},
      {"game.bin=old", nullptr, true, staged_too_late, "game.bin=old"},
      {"launcher.exe=running", "launcher.exe.old", true, apply_exe,
       "launcher.exe=new launcher.exe.old=running"},
  };
  const fs::path outside = outside_ / "file";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link ? c.link : "staged file");
    fs::remove_all(dir_.path());
    fs::create_directories(dir_.path());
    Plant(dir_.path(), c.before);
    fs::remove(outside);
    test::WriteFileBytes(outside, "outside");
    if (!c.outside_writable) MakeReadOnly(outside);
    const fs::perms mode = fs::status(outside).permissions();
    std::error_code error;
    if (c.link != nullptr) fs::create_symlink(outside, dir_ / c.link, error);
    if (error) GTEST_SKIP() << "this system makes no symbolic links here";
    ScriptedPlatform platform;
    c.run(platform);
    EXPECT_EQ(test::ReadFileBytes(outside), "outside");
    EXPECT_EQ(fs::status(outside).permissions(), mode);
    EXPECT_EQ(Listing(dir_.path()), c.after);  // a link left behind would show its target's bytes
    for (const fs::directory_entry& e : fs::directory_iterator(dir_.path())) EXPECT_FALSE(e.is_symlink());
    fs::permissions(outside, fs::perms::owner_write, fs::perm_options::add);
  }
}

// A child process replaces a large file over and over and is killed at
// random moments; whatever the moment, the target holds one complete
// version. The kill window is scaled to a measured cycle, so kills land
// before, during and after the replaces.
TEST_F(FileApplyTest, KillingTheWriterNeverLeavesAPartialTarget) {
  const Bytes old_bytes = test::FastRandomBytes(6 * 1048576 + 11, 1);
  const Bytes new_bytes = test::FastRandomBytes(17 * 1048576 + 5, 2);
  const std::string old_contents(old_bytes.begin(), old_bytes.end());
  const std::string new_contents(new_bytes.begin(), new_bytes.end());
  test::WriteFileBytes(outside_ / "old", old_contents);
  test::WriteFileBytes(outside_ / "new", new_contents);
  test::WriteFileBytes(dir_ / "big.bin", old_contents);
  const fs::path child = test::BuiltProgram("file_apply_child");
  const std::vector<std::string> args = {Utf8Path(dir_ / "big.bin"), Utf8Path(outside_ / "old"),
                                         Utf8Path(outside_ / "new")};
  std::vector<std::string> once = args;
  once.push_back("once");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(test::RunProcess(child, once).exit_code, 0);
  const auto cycle = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);

  const std::uint32_t seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed) + ", cycle " + std::to_string(cycle.count()) + " ms");
  std::mt19937 rng(seed);
  int seen_old = 0;
  int seen_new = 0;
  for (int kill = 0; kill < 60; ++kill) {
    std::unique_ptr<test::ChildProcess> process = test::StartProcess(child, args);
    ASSERT_NE(process, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % (cycle.count() * 3 / 2 + 1)));
    process->Kill();
    const std::string contents = test::ReadFileBytes(dir_ / "big.bin");
    ASSERT_TRUE(contents == old_contents || contents == new_contents) << "kill " << kill;
    (contents == old_contents ? seen_old : seen_new)++;
  }
  // Both versions showing up proves the kills fell inside the replace loop.
  EXPECT_GT(seen_new, 0);
  EXPECT_GT(seen_old, 0);
}

}  // namespace
}  // namespace emberfall
