// The POSIX stand-ins for the Windows file identity: inode for the file
// index, mtime in 100-ns units since 1601 for the last-write time.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "core/crc_list.h"
#include "core/file_state.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(FileStatePosixTest, StateIsInodeAndMtimeAsFileTimeOfRegularFilesOnly) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "f", "12345");
  // 2020-01-01T00:00:00.1234567Z
  const struct timespec times[2] = {{1577836800, 123456789}, {1577836800, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "f").c_str(), times, 0), 0);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "f").c_str(), &info), 0);
  EXPECT_EQ(QueryFileState(dir.Wide("f")), (FileState{5, 132223104001234567u, info.st_ino}));
  // A pipe would block a reader.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(QueryFileState(dir.Wide("pipe")));
  EXPECT_FALSE(FileMatchesEntry(CrcListEntry{.path_wide = u"pipe"}, dir.Wide(), nullptr));
}

}  // namespace
}  // namespace emberfall
