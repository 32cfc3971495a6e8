// A file held without read sharing still matches through its cached record.
#include <gtest/gtest.h>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_state.h"
#include "core/file_state_cache.h"
#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

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
