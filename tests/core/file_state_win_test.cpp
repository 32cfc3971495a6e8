// Windows file identity: the state is what GetFileInformationByHandle says,
// and an attribute-only open works on a file held without read sharing.
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

TEST(FileStateWinTest, StateComesFromGetFileInformationByHandle) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "f", "12345");
  win::ScopedFileHandle file(CreateFileW((dir / "f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file.is_valid());
  BY_HANDLE_FILE_INFORMATION info{};
  ASSERT_TRUE(GetFileInformationByHandle(file.get(), &info));

  const std::optional<FileState> state = QueryFileState(dir.Wide("f"));
  ASSERT_TRUE(state);
  EXPECT_EQ(state->size, 5u);
  EXPECT_EQ(state->lastWriteTime, (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                      info.ftLastWriteTime.dwLowDateTime);
  EXPECT_EQ(state->fileIndex,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}

TEST(FileStateWinTest, AFileHeldWithoutSharingMatchesOnlyThroughTheCache) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "locked", "abc");
  CrcListEntry entry;
  entry.crc = Crc32Buffer("abc", 3);
  entry.size = 3;
  entry.path_wide = u"locked";
  FileStateCache cache;
  ASSERT_TRUE(FileMatchesEntry(entry, dir.Wide(), &cache));

  win::ScopedFileHandle exclusive(
      CreateFileW((dir / "locked").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(exclusive.is_valid());
  EXPECT_TRUE(QueryFileState(dir.Wide("locked")));
  EXPECT_FALSE(OpenForSequentialRead(dir.Wide("locked")).is_valid());
  EXPECT_TRUE(FileMatchesEntry(entry, dir.Wide(), &cache));
  EXPECT_FALSE(FileMatchesEntry(entry, dir.Wide(), nullptr));
}

}  // namespace
}  // namespace emberfall
