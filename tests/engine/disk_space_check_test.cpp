#include "engine/disk_space_check.h"

#include <gtest/gtest.h>

#include "core/patch_error.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// A payload part may reach PayloadLimit(n) = n + n / 16 + 87 bytes: 1787 for
// 1600, 257 for 160, 87 for 0. Growth counts files that grow; in flight, a
// part and the staged file beside the old one (up to min(new, old) of it not
// yet counted as growth), for as many jobs as may run at once.
TEST(DiskSpaceCheckTest, PeakIsTheGrowthPlusTheLargestJobsInFlight) {
  const struct {
    const char* name;
    std::vector<SpaceNeed> files;
    SpaceLimits limits;
    std::int64_t peak;
  } cases[] = {
      {"nothing", {}, {6, 0}, 0},
      {"a new file", {{1600, 0}}, {1, 0}, 1600 + 1787},
      {"a file of the same size", {{1600, 1600}}, {1, 0}, 1787 + 1600},
      {"a file that shrinks", {{1600, 3200}}, {1, 0}, 1787 + 1600},
      {"one at a time", {{160, 0}, {1600, 0}}, {1, 1 << 30}, 1760 + 1787},
      {"side by side", {{160, 0}, {1600, 0}}, {2, 1 << 30}, 1760 + 1787 + 257},
      {"side by side within the budget", {{160, 0}, {1600, 0}}, {2, 2000}, 1760 + 2000},
      {"a job alone beyond the budget", {{160, 0}, {1600, 0}}, {6, 10}, 1760 + 1787},
      {"a shrink may come last", {{1600, 0}, {0, 5000}}, {1, 0}, 1600 + 1787},
      // 1 MiB and more, replacing a file: chunks it fetches may be kept.
      {"a store, filled", {{1 << 20, 1 << 20}, {1 << 20, 1}}, {1, 0, 1000}, 1048575 + 1114199 + 1048576 + 1000},
      {"a store, nothing to fill it", {{1 << 20, 0}, {1600, 1}}, {1, 0, 1000}, 1048576 + 1599 + 1114199},

  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PeakExtraSpace(c.files, c.limits), c.peak);
  }
}

// Old sizes come from the disk; the launcher's own file is moved aside, not
// replaced, so its old bytes stay, whatever the case its name is spelt in.
// (The decision in a run is PatchEngineTest.ARunThatWouldNotFitFailsBeforeItDownloads.)
TEST(DiskSpaceCheckTest, OldSizesComeFromTheFolder) {
  const test::TempDir dir;
  test::WriteFileBytes(dir / "old.bin", std::string(10, 'x'));
  const GameFolder root(dir.Wide());
  for (const auto& [path, keptAside, old] : {std::tuple(u"old.bin", u"", 10), {u"old.bin", u"old.bin", 0},
                                             {u"old.bin", u"OLD.Bin", 0}, {u"new.bin", u"", 0}}) {
    const SpaceNeed need = SpaceNeedOf(root, path, 5, keptAside);
    EXPECT_EQ(need.newSize * 100 + need.oldSize, 500 + old) << WideToUtf8(path);
  }
}

// A volume short of the peak fails with the amounts as numbers beside the
// English detail; one with room, or of unknown room, passes.
TEST(DiskSpaceCheckTest, AShortVolumeFailsWithItsAmounts) {
  const auto check = [](std::optional<std::int64_t> free) {  // 1600 + 1787 needed
    CheckDiskSpace(u"G", {{1600, 0}}, {1, 0}, [=](const std::u16string&) { return free; });
  };
  EXPECT_NO_THROW(check(3387));
  EXPECT_NO_THROW(check(std::nullopt));
  try {
    check(3386);
    ADD_FAILURE() << "no failure";
  } catch (const PatchFailure& failure) {
    EXPECT_EQ(failure.detail(), u"G | needed=3387 free=3386");
    EXPECT_EQ(failure.shortfall(), (SpaceShortfall{3387, 3386}));
  }
}

}  // namespace
}  // namespace emberfall
