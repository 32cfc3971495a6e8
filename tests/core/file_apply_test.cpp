#include "core/file_apply.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <latch>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/crc_list.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/game_folder.h"
#include "core/patch_error.h"
#include "core/release_state.h"
#include "core/text.h"
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

// Downloads that end together make the folders of their files at once: a job
// that finds a folder another job has just made goes on into it.
TEST(FileApplyTest, JobsMakingTheSameNewFoldersAtOnceAllSucceed) {
  test::TempDir dir;
  const GameFolder root(dir.Wide());
  std::atomic<int> failed{0};
  for (int round = 0; round < 100; ++round) {
    std::vector<std::thread> jobs;
    std::latch start(4);
    for (int job = 0; job < 4; ++job) {
      jobs.emplace_back([&, round, job] {
        const std::string target = "r" + std::to_string(round) + "/a/b/f" + std::to_string(job);
        start.arrive_and_wait();
        try {
          ApplyFile(root, Utf8ToWide(target), {'x'}, u"");
        } catch (const PatchFailure& failure) {
          if (failed++ == 0) ADD_FAILURE() << failure.what();
        }
      });
    }
    for (std::thread& job : jobs) job.join();
  }
  EXPECT_EQ(failed, 0);
}

}  // namespace
}  // namespace emberfall
