#include "ui/layout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/text.h"
#include "tests/support/test_support.h"
#include "ui/video_file.h"

namespace emberfall {
namespace {

std::string Text(float a, float b, float c, float d) {
  char text[80];
  std::snprintf(text, sizeof(text), "%g %g %g %g", a, b, c, d);
  return text;
}
std::string Text(const RectF& r) { return Text(r.left, r.top, r.right, r.bottom); }

TEST(LayoutTest, ScaleButtonsPanelCropAndHits) {
  const struct {
    std::uint32_t w, h;
    float scale;
  } scales[] = {{1124, 618, 1}, {2248, 1236, 2}, {2248, 618, 1}, {562, 1236, 0.5f},
                {1012, 556, 556.0f / 618}, {0, 618, 1}, {1124, 0, 1}};
  for (const auto& c : scales) {
    EXPECT_NEAR(LayoutScale(c.w, c.h), c.scale, 1e-6f) << c.w << "x" << c.h;
  }
  EXPECT_EQ(Text(FontSize(13, 1), FontSize(14, 1.5f), TitleBarHeight(1), TitleBarHeight(0.5f)),
            "13 21 48 24");
  // In ButtonId order. The header row keeps its design place on a wide
  // client while the start button follows the corner; both scale.
  const struct {
    std::uint32_t w, h;
    const char* rects;
  } buttons[] = {
      {1124, 618, "0 0 0 0|908 542 1096 594|720 14 810 34|830 14 900 34|920 14 990 34|"
                  "1046 10 1074 38|1080 10 1108 38|1012 10 1040 38|"},
      {2000, 618, "0 0 0 0|1784 542 1972 594|720 14 810 34|830 14 900 34|920 14 990 34|"
                  "1046 10 1074 38|1080 10 1108 38|1012 10 1040 38|"},
      {2248, 1400, "0 0 0 0|1816 1248 2192 1352|1440 28 1620 68|1660 28 1800 68|1840 28 1980 68|"
                   "2092 20 2148 76|2160 20 2216 76|2024 20 2080 76|"},
  };
  for (const auto& c : buttons) {
    std::string rects;
    for (const RectF& r : ComputeButtonRects(c.w, c.h)) rects += Text(r) + "|";
    EXPECT_EQ(rects, c.rects) << c.w << "x" << c.h;
  }
  const PanelLayout p = ComputePanelLayout(1124, 618);
  EXPECT_EQ(Text(p.left, p.right, p.statusTop, p.barTop), "28 892 514 556.5");
  EXPECT_EQ(Text(CropToFill(1920, 1080, 1920, 1080)), "0 0 1 1");
  EXPECT_EQ(Text(CropToFill(2000, 1000, 1000, 1000)), "0.25 0 0.75 1");  // the sides cut
  EXPECT_EQ(Text(CropToFill(1000, 2000, 1000, 1000)), "0 0.25 1 0.75");  // top and bottom cut
  EXPECT_EQ(Text(CropToFill(0, 1080, 100, 100)), "0 0 1 1");
  EXPECT_EQ(Text(CropToFill(1920, 1080, 0, 100)), "0 0 1 1");
  // Hits: inclusive edges, the first match first.
  const ButtonRects r = ComputeButtonRects(1124, 618);
  const struct {
    float x, y;
    ButtonId expected;
  } cases[] = {
      {908, 542, ButtonId::Start}, {1096, 594, ButtonId::Start}, {907.9f, 560, ButtonId::None},
      {720, 14, ButtonId::Website}, {810, 34, ButtonId::Website}, {820, 20, ButtonId::None},
      {850, 20, ButtonId::Support}, {990, 34, ButtonId::Community}, {1026, 24, ButtonId::Settings},
      {1060, 24, ButtonId::Minimise}, {1108, 38, ButtonId::Close}, {1108.1f, 38, ButtonId::None},
      {-5, -5, ButtonId::None},
  };
  for (const auto& c : cases) EXPECT_EQ(HitTest(r, c.x, c.y), c.expected) << c.x << "," << c.y;
  // A tiny client squeezes the start button over the header row.
  ButtonRects overlap{};
  overlap[1] = overlap[6] = {0, 0, 10, 10};  // Start, Close
  overlap[7] = overlap[5] = {5, 5, 20, 20};  // Settings, Minimise
  EXPECT_EQ(HitTest(overlap, 5, 5), ButtonId::Start);
  EXPECT_EQ(HitTest(overlap, 15, 15), ButtonId::Settings);
}

TEST(PlaceOnWorkAreaTest, KnownPlacements) {
  const struct {
    const char* name;
    std::optional<WorkArea> work;
    std::uint32_t dpi;
    const char* placement;  // x y width height
  } cases[] = {
      {"1920x1040 at 96 DPI", WorkArea{0, 0, 1920, 1040}, 96, "454 242 1012 556"},
      {"unknown DPI counts as 96", WorkArea{0, 0, 1920, 1040}, 0, "454 242 1012 556"},
      {"work area unreadable", std::nullopt, 96, "0 0 1012 556"},
      {"offset monitor", WorkArea{1920, 40, 3840, 1080}, 96, "2374 282 1012 556"},
      // 3840 x 2100 at 192 DPI: pref = 0.9 * 2, fit = 2036 / 618 > 1.8.
      {"4K at 200 %", WorkArea{0, 0, 3840, 2100}, 192, "908 494 2023 1112"},
      // 1280 x 680: fit = min(648 / 618, 1248 / 1124) = 1.0485 > 0.9.
      {"small monitor", WorkArea{0, 0, 1280, 680}, 96, "134 62 1012 556"},
      // 800 x 600 at 96: fit = min(568 / 618, 768 / 1124) = 0.6833.
      {"tiny monitor", WorkArea{0, 0, 800, 600}, 96, "16 89 768 422"},
      {"no room left", WorkArea{10, 20, 40, 50}, 96, "10 20 1012 556"},
      {"margin grows with DPI", WorkArea{0, 0, 60, 2000}, 192, "0 0 1012 556"},
      // 16 * 100 / 96 = 16.67: a margin of 17 leaves no room, one of 16 would.
      {"margin rounds half up", WorkArea{0, 0, 34, 2000}, 100, "0 0 1012 556"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const WindowPlacement p = PlaceOnWorkArea(c.work, c.dpi);
    EXPECT_EQ(Text(p.x, p.y, p.width, p.height), c.placement);
  }
}

TEST(LayoutTest, TheCountdownLabelSplitsAroundItsNumber) {
  const std::pair<std::u16string, LabelParts> rows[] = {
      {u"START GAME (%d)", {u"START GAME (", u"7", u")"}},
      {u"%d s", {u"", u"7", u" s"}},
      {u"GO", {u"GO", u"", u""}},
  };
  for (const auto& [format, parts] : rows) {
    SCOPED_TRACE(WideToUtf8(format));
    const LabelParts got = SplitCountdownLabel(format, 7);
    EXPECT_EQ(got.before + got.number + got.after, parts.before + parts.number + parts.after);
    EXPECT_EQ(got.number, parts.number);
  }
}

// Video-range BT.601 known answers: black, white, red; two pixels share one
// chroma pair; padding in either buffer is neither read as a pixel nor written.
TEST(VideoFileTest, Nv12FramesBecomeOpaqueBgra) {
  const std::uint8_t luma[] = {16, 235, 81, 81, 9, 9, 235, 16, 81, 81, 9, 9};
  const std::uint8_t chroma[] = {128, 128, 90, 240, 9, 9};
  std::vector<std::uint8_t> out(2 * 20, 0xAB);
  Nv12ToBgra(luma, chroma, 6, 4, 2, out.data(), 20);
  const std::vector<std::uint8_t> black{0, 0, 0, 255}, white{255, 255, 255, 255},
      red{0, 0, 254, 255}, padding{0xAB, 0xAB, 0xAB, 0xAB};
  const std::vector<std::uint8_t>* expected[] = {&black, &white, &red,   &red,   &padding,
                                                 &white, &black, &red,   &red,   &padding};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + i * 4, out.begin() + i * 4 + 4), *expected[i])
        << "pixel " << i % 5 << " of row " << i / 5;
  }
}

TEST(VideoFileTest, UrlsEscapeAndOnlyTheSameBytesMatch) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {VideoFileUrl(u"C:\\Users\\a b\\Temp\\hero.mp4"), u"file:///C:/Users/a%20b/Temp/hero.mp4"},
      {VideoFileUrl(u"C:\\T#1\\x.mp4"), u"file:///C:/T%231/x.mp4"},
      {VideoFileUrl(u"C:\\\u00e7\u011f\\%41.mp4"), u"file:///C:/\u00e7\u011f/%41.mp4"},
      {VideoFileUrl(u""), u"file:///"},
      {LegacyVideoFileUrl(u"C:\\a b\\#.mp4"), u"file://C:/a%20b/%23.mp4"},
  };
  for (const auto& [url, expected] : cases) EXPECT_EQ(WideToUtf8(url), WideToUtf8(expected));
  // Only the same bytes of a regular file match.
  const std::string video(200000, 'v');
  std::string tampered = video;
  tampered[150000] ^= 1;  // past the first read chunk
  const test::TempDir dir;
  std::filesystem::create_directories(dir / "folder.mp4");
  const std::pair<std::string, std::string> files[] = {
      {video, video}, {tampered, video}, {video, video + "x"}, {video + "x", video}, {"", ""},
      {"", "a"}};
  for (const auto& [contents, expected] : files) {
    test::WriteFileBytes(dir / "hero.mp4", contents);
    EXPECT_EQ(FileHasContents(dir.Wide("hero.mp4"), expected), contents == expected);
  }
  EXPECT_FALSE(FileHasContents(dir.Wide("folder.mp4"), ""));
  EXPECT_FALSE(FileHasContents(dir.Wide("absent.mp4"), ""));
}

}  // namespace
}  // namespace emberfall
