#include "core/file_apply.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "core/crc_list.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "core/trust_state.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

void SetReadOnly(const fs::path& path, bool read_only) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  read_only ? fs::perm_options::remove : fs::perm_options::add);
}

// Every entry as "name=contents" (read-only: "!" after it), "name/" or "name>" (a link).
std::string Listing(const fs::path& root) {
  std::map<std::string, std::string> items;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    std::string& what = items[e.path().lexically_relative(root).generic_string()];
    what = e.is_symlink() ? ">" : e.is_directory() ? "/" : "=" + test::ReadFileBytes(e.path());
    if (what[0] == '=' && (e.status().permissions() & fs::perms::owner_write) == fs::perms::none) {
      what += "!";
    }
  }
  std::string out;
  for (const auto& [name, what] : items) out += (out.empty() ? "" : " ") + name + what;
  return out;
}

// The real platform with replace failures scripted, moves logged ("R" staged
// file onto target, "A" executable aside, "B" back, with flags) and pauses too.
class ScriptedPlatform : public FileApplyPlatform {
 public:
  std::uint32_t Move(const std::u16string& from, const std::u16string& to,
                     std::uint32_t flags) override {
    const bool staged = from.ends_with(kStagedSuffix);
    const bool aside = !staged && to.ends_with(kBackupSuffix);
    log += (staged ? "R" : aside ? "A" : "B") + std::to_string(flags) + " ";
    if (staged && failures-- > 0) return replace_error;
    if (aside && fail_move_aside) return kErrorAccessDenied;
    return FileApplyPlatform::Move(from, to, flags);
  }
  void Pause(std::uint32_t ms) override { log += "p" + std::to_string(ms) + " "; }
  // Plays another process planting a link just after a leftover went.
  void RemoveFileIfExists(const std::u16string& path) override {
    FileApplyPlatform::RemoveFileIfExists(path);
    if (!plant_to.empty() && path.ends_with(kStagedSuffix)) {
      fs::create_symlink(plant_to, FsPath(path));
      plant_to.clear();
    }
  }

  std::uint32_t replace_error = kErrorSharingViolation;
  int failures = 0;
  bool fail_move_aside = false;
  fs::path plant_to;
  std::string log;
};

std::string Times(int count, const std::string& text) {
  std::string out;
  while (count-- > 0) out += text;
  return out;
}

// Each row plants what Listing shows (links lead to a file outside, "name>!"
// makes it read-only), then saves the cache or trust file or applies "new".
// The elevated launcher never writes through a link the player planted.
TEST(FileApplyTest, Scenarios) {
  const std::string tries = Times(8, "R9 p250 ") + "R9 ";
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
      {"f=old l.exe=", "f", "l.exe", 100, 33, false, "10 f | replace err=33", tries,
       "f=old l.exe="},
      {"f=old", "f", "", 100, 5, false, "10 f | replace err=5", tries, "f=old"},
      {"f=old", "f", "", 100, 1224, false, "10 f | replace err=1224", tries, "f=old"},
      {"f=old", "f", "", 3, 32, false, "ok", Times(3, "R9 p250 ") + "R9 ", "f=new"},
      {"f=old", "f", "", 100, 2, false, "7 f | replace err=2", "R9 ", "f=old"},
      // The running executable, in any spelling, is moved aside (over a copy or
      // link), moved back when the replace still fails, or waited for.
      {"l.exe=old l.exe.old=x!", "l.exe", "./l.exe", 1, 32, false, "ok", "R9 A1 R9 ",
       "l.exe=new l.exe.old=old"},
      {"l.exe=old l.exe.old>", "l.exe", "l.exe", 1, 32, false, "ok", "R9 A1 R9 ",
       "l.exe=new l.exe.old=old"},
      {"l.exe=old", "l.exe", "l.exe", 100, 32, false, "10 l.exe | replace err=32",
       "R9 A1 " + Times(7, "R9 p250 ") + "R9 B1 ", "l.exe=old"},
      {"l.exe=old", "l.exe", "l.exe", 100, 32, true, "10 l.exe | replace err=32",
       Times(8, "R9 A1 p250 ") + "R9 A1 ", "l.exe=old"},
      {"f>!", "f", "", 0, 0, false, "ok", "R9 ", "f=new"},
      {"f=old", "f", "", 0, 0, true, "7 f | write err=*", "", "f=old"},
      {"EmbLauncher.cache.tmp>", "EmbLauncher.cache", "", 0, 0, false, "ok", "",
       "EmbLauncher.cache=EMBVC1\n"},
      {"EmbLauncher.trust.tmp>", "EmbLauncher.trust", "", 0, 0, false, "ok", "",
       "EmbLauncher.trust=EMBTR1\nserial 9\n"},
  };
  test::TempDir dir;
  test::TempDir outside;
  std::error_code no_links;  // the Windows build's std::filesystem makes none
  fs::create_symlink(outside / "file", outside / "link", no_links);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.before << " -> " << c.target);
    const bool plants = c.fail_move_aside && *c.exe == '\0';
    if (no_links && (plants || std::strchr(c.before, '>') != nullptr)) continue;
    fs::remove_all(dir.path());
    fs::create_directories(dir.path());
    fs::remove(outside / "file");
    test::WriteFileBytes(outside / "file", "outside");
    std::istringstream items{c.before};
    for (std::string item; items >> item;) {
      const bool read_only = item.ends_with('!');
      if (read_only) item.pop_back();
      const size_t equals = item.find('=');
      const fs::path path = dir / item.substr(0, std::min(equals, item.size() - 1));
      if (item.ends_with('/')) fs::create_directories(path);
      if (item.ends_with('>')) fs::create_symlink(outside / "file", path);
      if (equals != std::string::npos) test::WriteFileBytes(path, item.substr(equals + 1));
      if (read_only) SetReadOnly(fs::canonical(path), true);
    }
    const fs::perms mode = fs::status(outside / "file").permissions();
    ScriptedPlatform platform;
    platform.failures = c.failures;
    platform.replace_error = c.error;
    platform.fail_move_aside = c.fail_move_aside;
    if (plants) platform.plant_to = outside / "file";
    const std::string target = c.target;
    std::string outcome = "ok";
    try {
      if (target == "EmbLauncher.cache") {
        EXPECT_TRUE(SaveCache(FileStateCache{dir.Wide(target), {}}, {}));
      } else if (target == "EmbLauncher.trust") {
        EXPECT_TRUE(SaveAcceptedSerial(dir.Wide(target), 9));
      } else {
        ApplyFile(dir.Wide(target), {'n', 'e', 'w'}, *c.exe ? dir.Wide(c.exe) : u"", platform);
      }
    } catch (const PatchFailure& failure) {
      const std::string detail = WideToUtf8(failure.detail());
      outcome = std::to_string(failure.code()) + " " +
                detail.substr(WideToUtf8(dir.Wide()).size() + 1);
    }
    EXPECT_EQ(outcome.substr(0, c.outcome.find('*')), c.outcome.substr(0, c.outcome.find('*')));
    EXPECT_EQ(platform.log, c.log);
    EXPECT_EQ(Listing(dir.path()), c.after);
    EXPECT_EQ(test::ReadFileBytes(outside / "file"), "outside");
    EXPECT_EQ(fs::status(outside / "file").permissions(), mode);
    SetReadOnly(outside / "file", false);
  }
}

}  // namespace
}  // namespace emberfall
