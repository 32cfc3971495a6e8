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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PeakExtraSpace(c.files, c.limits), c.peak);
  }
}

// Old sizes from the disk; the launcher's own file stays beside its new one.
// The run fails only when the free bytes are known and too few.
TEST(DiskSpaceCheckTest, OldSizesComeFromTheFolderAndTooLittleRoomFails) {
  const test::TempDir dir;
  test::WriteFileBytes(dir / "old.bin", std::string(10, 'x'));
  const GameFolder root(dir.Wide());
  const std::pair<SpaceNeed, std::int64_t> needs[] = {
      {SpaceNeedOf(root, u"old.bin", 5, u""), 10},
      {SpaceNeedOf(root, u"old.bin", 5, u"old.bin"), 0},
      {SpaceNeedOf(root, u"new.bin", 5, u""), 0}};
  for (const auto& [need, old] : needs) EXPECT_EQ(need.newSize * 100 + need.oldSize, 500 + old);

  const std::vector<SpaceNeed> files = {{1600, 0}};  // needs 3387
  std::u16string asked;
  const auto check = [&](std::optional<std::int64_t> free) {
    CheckDiskSpace(u"G", files, {1, 0}, [&](const std::u16string& folder) {
      asked = folder;
      return free;
    });
  };
  EXPECT_NO_THROW(check(std::nullopt));
  EXPECT_EQ(asked, u"G");
  EXPECT_NO_THROW(check(3387));
  try {
    check(3386);
    ADD_FAILURE() << "no failure";
  } catch (const PatchFailure& failure) {
    EXPECT_EQ(failure.code(), PatchErrorCode::DiskSpaceInsufficient);
    EXPECT_EQ(WideToUtf8(failure.detail()), "G | needed=3387 free=3386");
  }
}

}  // namespace
}  // namespace emberfall
