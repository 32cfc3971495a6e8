// Real sharing violations; e2e/self_update_win_test replaces the running exe.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_apply.h"
#include "core/file_state.h"
#include "core/file_state_cache.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(FileApplyWinTest, ATargetHeldWithoutDeleteSharingIsInUse) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "held.bin", "old");
  win::ScopedFileHandle holder(CreateFileW((dir / "held.bin").c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.is_valid());
  try {
    ApplyFile(dir.Wide("held.bin"), {'n', 'e', 'w'}, u"");
    ADD_FAILURE() << "replaced a file held open";
  } catch (const PatchFailure& failure) {
    // Windows reports 32, Wine 5: both mean in use, after nine tries.
    EXPECT_EQ(failure.code(), 10u) << WideToUtf8(failure.detail());
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "held.bin.emb-new"));
  holder.reset();
  EXPECT_EQ(test::ReadFileBytes(dir / "held.bin"), "old");
}

TEST(FileStateWinTest, AFileHeldWithoutSharingMatchesOnlyThroughTheCache) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "locked", "abc");
  const CrcListEntry entry{.crc = Crc32Buffer("abc", 3), .size = 3, .path_wide = u"locked"};
  FileStateCache cache;
  ASSERT_TRUE(FileMatchesEntry(entry, dir.Wide(), &cache));
  win::ScopedFileHandle exclusive(
      CreateFileW((dir / "locked").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(exclusive.is_valid());
  EXPECT_FALSE(OpenForSequentialRead(dir.Wide("locked")).is_valid());
  EXPECT_TRUE(FileMatchesEntry(entry, dir.Wide(), &cache));
  EXPECT_FALSE(FileMatchesEntry(entry, dir.Wide(), nullptr));
}

}  // namespace
}  // namespace emberfall
