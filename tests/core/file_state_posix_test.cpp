// The POSIX stand-ins for the Windows file identity, and a FIFO in a folder
// anyone can write, which must never block the elevated launcher.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "core/file_state.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(FileStatePosixTest, StateIsInodeAndMtimeAsFileTimeAndAFifoHasNone) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "f", "12345");
  // 2020-01-01T00:00:00.1234567Z
  const struct timespec times[2] = {{1577836800, 123456789}, {1577836800, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "f").c_str(), times, 0), 0);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "f").c_str(), &info), 0);
  EXPECT_EQ(QueryFileState(dir.Wide("f")),
            (FileState{5, 132223104001234567u, static_cast<std::uint64_t>(info.st_ino)}));
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(QueryFileState(dir.Wide("pipe")));
}

}  // namespace
}  // namespace emberfall
