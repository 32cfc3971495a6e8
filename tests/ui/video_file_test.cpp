#include "ui/video_file.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(VideoFileUrlTest, EscapesSeparatorsSpacesAndHashes) {
  const struct {
    std::u16string (*url)(std::u16string_view);
    std::u16string path;
    std::u16string expected;
  } cases[] = {
      {VideoFileUrl, u"C:\\Users\\a b\\Temp\\EmbLauncher\\hero.mp4",
       u"file:///C:/Users/a%20b/Temp/EmbLauncher/hero.mp4"},
      {VideoFileUrl, u"C:\\T#1\\x.mp4", u"file:///C:/T%231/x.mp4"},
      {VideoFileUrl, u"C:\\\u00e7\u011f\\%41.mp4", u"file:///C:/\u00e7\u011f/%41.mp4"},
      {VideoFileUrl, u"", u"file:///"},
      {LegacyVideoFileUrl, u"C:\\a b\\#.mp4", u"file://C:/a%20b/%23.mp4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.expected));
    EXPECT_EQ(c.url(c.path), c.expected);
  }
}

TEST(FileHasContentsTest, OnlyTheSameBytesOfARegularFileMatch) {
  std::string video(200000, '\0');
  for (std::size_t i = 0; i < video.size(); ++i) video[i] = static_cast<char>(i * 7 + 3);
  std::string tampered = video;
  tampered[150000] ^= 1;  // past the first read chunk
  const test::TempDir dir;
  std::filesystem::create_directories(dir / "folder.mp4");
  const std::pair<std::string, std::string> cases[] = {{video, video},     {tampered, video},
                                                       {video, video + "x"}, {video + "x", video},
                                                       {"", ""},         {"", "a"}};
  for (const auto& [contents, expected] : cases) {
    test::WriteFileBytes(dir / "hero.mp4", contents);
    EXPECT_EQ(FileHasContents(dir.Wide("hero.mp4"), expected), contents == expected);
  }
  EXPECT_FALSE(FileHasContents(dir.Wide("folder.mp4"), ""));
  EXPECT_FALSE(FileHasContents(dir.Wide("absent.mp4"), ""));
}

}  // namespace
}  // namespace emberfall
