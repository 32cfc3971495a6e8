#include "ui/video_file.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(VideoFileUrlTest, EscapesSeparatorsSpacesAndHashes) {
  struct Case {
    std::u16string path;
    std::u16string url;
  } cases[] = {
      {u"C:\\Users\\a b\\Temp\\EmbLauncher\\hero.mp4",
       u"file:///C:/Users/a%20b/Temp/EmbLauncher/hero.mp4"},
      {u"C:\\T#1\\x.mp4", u"file:///C:/T%231/x.mp4"},
      {u"C:\\\u00e7\u011f\\%41.mp4", u"file:///C:/\u00e7\u011f/%41.mp4"},
      {u"", u"file:///"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.url.begin(), c.url.end()));
    EXPECT_EQ(VideoFileUrl(c.path), c.url);
  }
}

TEST(VideoFileUrlTest, LegacyFormHasTwoSlashes) {
  EXPECT_EQ(LegacyVideoFileUrl(u"C:\\a b\\#.mp4"), u"file://C:/a%20b/%23.mp4");
}

class FileHasContentsTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(FileHasContentsTest, OnlyTheSameBytesMatch) {
  std::string resource(200000, '\0');
  for (std::size_t i = 0; i < resource.size(); ++i) resource[i] = static_cast<char>(i * 7 + 3);
  const auto path = dir_ / "hero.mp4";

  test::WriteFileBytes(path, resource);
  EXPECT_TRUE(FileHasContents(dir_.Wide("hero.mp4"), resource));

  // Same size, one byte changed past the first read chunk.
  std::string tampered = resource;
  tampered[150000] ^= 1;
  test::WriteFileBytes(path, tampered);
  EXPECT_FALSE(FileHasContents(dir_.Wide("hero.mp4"), resource));

  test::WriteFileBytes(path, resource.substr(0, resource.size() - 1));
  EXPECT_FALSE(FileHasContents(dir_.Wide("hero.mp4"), resource));

  test::WriteFileBytes(path, resource + "x");
  EXPECT_FALSE(FileHasContents(dir_.Wide("hero.mp4"), resource));
}

TEST_F(FileHasContentsTest, MissingFilesAndFoldersNeverMatch) {
  EXPECT_FALSE(FileHasContents(dir_.Wide("absent.mp4"), "abc"));
  std::filesystem::create_directories(dir_ / "folder.mp4");
  EXPECT_FALSE(FileHasContents(dir_.Wide("folder.mp4"), ""));
  // An empty file is a file.
  test::WriteFileBytes(dir_ / "empty", "");
  EXPECT_TRUE(FileHasContents(dir_.Wide("empty"), ""));
  EXPECT_FALSE(FileHasContents(dir_.Wide("empty"), "a"));
}

}  // namespace
}  // namespace emberfall
