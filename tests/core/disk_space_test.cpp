#include "core/disk_space.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// The system's own figure for the same folder (statvfs's f_bavail on Linux,
// GetDiskFreeSpaceExW under Wine), read just before: other writers on the
// machine may move it a little in between. A folder that is not there has
// no figure.
TEST(FreeDiskSpaceTest, AgreesWithTheSystemsFigureAndKnowsNothingOfAMissingFolder) {
  const test::TempDir dir;
  const auto expected = static_cast<std::int64_t>(std::filesystem::space(dir.path()).available);
  const std::optional<std::int64_t> free = FreeDiskSpace(dir.Wide());
  ASSERT_TRUE(free.has_value());
  EXPECT_GT(*free, 0);
  EXPECT_NEAR(static_cast<double>(*free), static_cast<double>(expected), 64.0 * 1048576);
  EXPECT_EQ(FreeDiskSpace(dir.Wide("missing/below")), std::nullopt);
  EXPECT_EQ(FreeDiskSpace(u""), std::nullopt);
}

}  // namespace
}  // namespace emberfall
