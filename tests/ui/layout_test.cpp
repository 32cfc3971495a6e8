#include "ui/layout.h"

#include <gtest/gtest.h>

#include <string>

namespace emberfall {
namespace {

constexpr float kEps = 1e-3f;

void ExpectRect(const RectF& actual, float left, float top, float right, float bottom) {
  EXPECT_NEAR(actual.left, left, kEps);
  EXPECT_NEAR(actual.top, top, kEps);
  EXPECT_NEAR(actual.right, right, kEps);
  EXPECT_NEAR(actual.bottom, bottom, kEps);
}

const RectF& Rect(const ButtonRects& rects, ButtonId id) {
  return rects[static_cast<std::size_t>(id)];
}

TEST(LayoutScaleTest, FollowsTheSmallerRatioAndDefaultsToOne) {
  struct Case {
    std::uint32_t w, h;
    float expected;
  } cases[] = {
      {1124, 618, 1.0f}, {2248, 1236, 2.0f}, {1012, 556, 556.0f / 618.0f},
      {2248, 618, 1.0f},  // wide: height decides
      {562, 1236, 0.5f},  // tall: width decides
      {0, 618, 1.0f},    {1124, 0, 1.0f},  {0, 0, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    EXPECT_NEAR(LayoutScale(c.w, c.h), c.expected, 1e-6f);
  }
}

TEST(LayoutScaleTest, FontSizeAndTitleBarScale) {
  EXPECT_FLOAT_EQ(FontSize(13, 1.0f), 13.0f);
  EXPECT_FLOAT_EQ(FontSize(14, 1.5f), 21.0f);
  EXPECT_FLOAT_EQ(TitleBarHeight(1.0f), 48.0f);
  EXPECT_FLOAT_EQ(TitleBarHeight(0.5f), 24.0f);
}

TEST(ComputeButtonRectsTest, DesignSizeGivesTheDesignTable) {
  const ButtonRects r = ComputeButtonRects(1124, 618);
  ExpectRect(Rect(r, ButtonId::Start), 908, 542, 1096, 594);
  ExpectRect(Rect(r, ButtonId::Website), 720, 14, 810, 34);
  ExpectRect(Rect(r, ButtonId::Support), 830, 14, 900, 34);
  ExpectRect(Rect(r, ButtonId::Community), 920, 14, 990, 34);
  ExpectRect(Rect(r, ButtonId::Settings), 1012, 10, 1040, 38);
  ExpectRect(Rect(r, ButtonId::Minimise), 1046, 10, 1074, 38);
  ExpectRect(Rect(r, ButtonId::Close), 1080, 10, 1108, 38);
  ExpectRect(Rect(r, ButtonId::None), 0, 0, 0, 0);
}

TEST(ComputeButtonRectsTest, WideClientKeepsStartAtTheCornerAndHeaderAtTheLeft) {
  // 2000 x 618: s = 1, so the header row stays where the design puts it while
  // the start button follows the right edge.
  const ButtonRects r = ComputeButtonRects(2000, 618);
  ExpectRect(Rect(r, ButtonId::Start), 2000 - 216, 542, 2000 - 28, 594);
  ExpectRect(Rect(r, ButtonId::Close), 1080, 10, 1108, 38);
}

TEST(ComputeButtonRectsTest, ScalesWithTheSmallerRatio) {
  const ButtonRects r = ComputeButtonRects(2248, 1400);  // s = 2 (width decides)
  ExpectRect(Rect(r, ButtonId::Start), 2248 - 432, 1400 - 152, 2248 - 56, 1400 - 48);
  ExpectRect(Rect(r, ButtonId::Website), 1440, 28, 1620, 68);
}

TEST(HitTestTest, FindsButtonsWithInclusiveEdges) {
  const ButtonRects r = ComputeButtonRects(1124, 618);
  struct Case {
    float x, y;
    ButtonId expected;
  } cases[] = {
      {908, 542, ButtonId::Start},      {1096, 594, ButtonId::Start},
      {1000, 560, ButtonId::Start},     {907.9f, 560, ButtonId::None},
      {720, 14, ButtonId::Website},     {810, 34, ButtonId::Website},
      {820, 20, ButtonId::None},        {850, 20, ButtonId::Support},
      {990, 34, ButtonId::Community},   {1026, 24, ButtonId::Settings},
      {1060, 24, ButtonId::Minimise},   {1108, 38, ButtonId::Close},
      {1108.1f, 38, ButtonId::None},    {300, 20, ButtonId::None},
      {-5, -5, ButtonId::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(HitTest(r, c.x, c.y), c.expected);
  }
}

TEST(HitTestTest, FirstMatchWinsWhereRectanglesOverlap) {
  // A tiny client squeezes the start button over the header row.
  ButtonRects r{};
  r[static_cast<std::size_t>(ButtonId::Start)] = {0, 0, 10, 10};
  r[static_cast<std::size_t>(ButtonId::Close)] = {0, 0, 10, 10};
  r[static_cast<std::size_t>(ButtonId::Settings)] = {5, 5, 20, 20};
  r[static_cast<std::size_t>(ButtonId::Minimise)] = {5, 5, 20, 20};
  EXPECT_EQ(HitTest(r, 5, 5), ButtonId::Start);
  EXPECT_EQ(HitTest(r, 15, 15), ButtonId::Settings);
}

TEST(PanelLayoutTest, DesignGeometry) {
  const PanelLayout p = ComputePanelLayout(1124, 618);
  EXPECT_NEAR(p.left, 28, kEps);
  EXPECT_NEAR(p.right, 1124 - 28 - 188 - 16, kEps);
  EXPECT_NEAR(p.statusTop, 542 - 28, kEps);
  EXPECT_NEAR(p.barTop, 542 + 14.5f, kEps);
}

TEST(CropToFillTest, CutsTheExcessAndCentres) {
  struct Case {
    std::uint32_t vw, vh, tw, th;
    RectF expected;
  } cases[] = {
      {1920, 1080, 1920, 1080, {0, 0, 1, 1}},
      // Wider video than target: the sides are cut.
      {2000, 1000, 1000, 1000, {0.25f, 0, 0.75f, 1}},
      // Taller video than target: top and bottom are cut.
      {1000, 2000, 1000, 1000, {0, 0.25f, 1, 0.75f}},
      {0, 1080, 100, 100, {0, 0, 1, 1}},
      {1920, 1080, 0, 100, {0, 0, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.vw) + "x" + std::to_string(c.vh) + " into " +
                 std::to_string(c.tw) + "x" + std::to_string(c.th));
    const RectF r = CropToFill(c.vw, c.vh, c.tw, c.th);
    ExpectRect(r, c.expected.left, c.expected.top, c.expected.right, c.expected.bottom);
  }
}

TEST(PlaceOnWorkAreaTest, KnownPlacements) {
  struct Case {
    const char* name;
    std::optional<WorkArea> work;
    std::uint32_t dpi;
    WindowPlacement expected;
  } cases[] = {
      {"1920x1040 at 96 DPI", WorkArea{0, 0, 1920, 1040}, 96, {454, 242, 1012, 556}},
      {"unknown DPI counts as 96", WorkArea{0, 0, 1920, 1040}, 0, {454, 242, 1012, 556}},
      {"work area unreadable", std::nullopt, 96, {0, 0, 1012, 556}},
      {"offset monitor", WorkArea{1920, 40, 3840, 1080}, 96, {1920 + 454, 40 + 242, 1012, 556}},
      // 3840 x 2100 at 192 DPI: pref = 0.9 * 2, fit = 2036 / 618 > 1.8.
      {"4K at 200 %", WorkArea{0, 0, 3840, 2100}, 192, {908, 494, 2023, 1112}},
      // 1280 x 680: fit = min(648 / 618, 1248 / 1124) = 1.0485 > 0.9.
      {"small monitor", WorkArea{0, 0, 1280, 680}, 96, {134, 62, 1012, 556}},
      // 800 x 600 at 96: fit = min(568 / 618, 768 / 1124) = 0.6833.
      {"tiny monitor", WorkArea{0, 0, 800, 600}, 96, {16, 89, 768, 422}},
      {"no room left", WorkArea{10, 20, 40, 50}, 96, {10, 20, 1012, 556}},
      {"margin grows with DPI", WorkArea{0, 0, 60, 2000}, 192, {0, 0, 1012, 556}},
      // 16 * 100 / 96 = 16.67: a margin of 17 leaves no room, one of 16 would.
      {"margin rounds half up", WorkArea{0, 0, 34, 2000}, 100, {0, 0, 1012, 556}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const WindowPlacement p = PlaceOnWorkArea(c.work, c.dpi);
    EXPECT_EQ(p.x, c.expected.x);
    EXPECT_EQ(p.y, c.expected.y);
    EXPECT_EQ(p.width, c.expected.width);
    EXPECT_EQ(p.height, c.expected.height);
  }
}

}  // namespace
}  // namespace emberfall
