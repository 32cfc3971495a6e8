#include "ui/frame_compose.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace emberfall {
namespace {

struct Image {
  std::uint32_t width, height;
  std::vector<std::uint32_t> px;
  Image(std::uint32_t w, std::uint32_t h, std::uint32_t fill = 0) : width(w), height(h), px(w * h, fill) {}
  PixelsView view() const { return {reinterpret_cast<const std::uint8_t*>(px.data()), width * 4, width, height}; }
  PixelsSpan span() { return {reinterpret_cast<std::uint8_t*>(px.data()), width * 4, width, height}; }
  std::uint32_t at(std::uint32_t x, std::uint32_t y) const { return px[y * width + x]; }
};

int Channel(std::uint32_t v, int c) { return static_cast<int>((v >> (8 * c)) & 0xFF); }

// Bilinear sampling written the plain way, in floating point: what the
// packed fixed-point code must agree with to within rounding.
double Reference(const Image& s, const RectF& crop, std::uint32_t w, std::uint32_t h, std::uint32_t x,
                 std::uint32_t y, int c) {
  const auto axis = [](float from, float to, std::uint32_t target, std::uint32_t size, std::uint32_t i) {
    const double at = std::clamp(from * size + (i + 0.5) * (to - from) * size / target - 0.5, 0.0,
                                 size - 1.0);
    const auto first = static_cast<std::uint32_t>(at);
    return std::pair{first, at - first};
  };
  const auto [x0, fx] = axis(crop.left, crop.right, w, s.width, x);
  const auto [y0, fy] = axis(crop.top, crop.bottom, h, s.height, y);
  const std::uint32_t x1 = std::min(x0 + 1, s.width - 1), y1 = std::min(y0 + 1, s.height - 1);
  const double top = Channel(s.at(x0, y0), c) * (1 - fx) + Channel(s.at(x1, y0), c) * fx;
  const double bottom = Channel(s.at(x0, y1), c) * (1 - fx) + Channel(s.at(x1, y1), c) * fx;
  return top * (1 - fy) + bottom * fy;
}

TEST(FrameComposeTest, StretchAgreesWithPlainBilinearSampling) {
  std::mt19937 random(7);
  const struct {
    std::uint32_t sw, sh, w, h;
    RectF crop;
    PixelRegion region;
  } cases[] = {
      {16, 9, 16, 9, {0, 0, 1, 1}, {0, 0, 16, 9}},          // same size: a copy
      {16, 9, 37, 21, {0, 0, 1, 1}, {0, 0, 37, 21}},        // up
      {40, 30, 13, 11, {0, 0, 1, 1}, {0, 0, 13, 11}},       // down
      {85, 48, 112, 61, {0, 0.0107f, 1, 0.9893f}, {0, 0, 112, 61}},  // cropped to fill
      {20, 20, 30, 30, {0.25f, 0.5f, 0.75f, 1}, {5, 7, 19, 30}},     // a region of a crop
      {1, 1, 5, 3, {0, 0, 1, 1}, {0, 0, 5, 3}},
  };
  for (const auto& t : cases) {
    Image source(t.sw, t.sh);
    for (auto& p : source.px) p = random() & 0x00FFFFFF;  // decoders leave alpha undefined
    Image out(t.w, t.h, 0x12345678);
    StretchOpaque(source.view(), t.crop, out.span(), t.region);
    int worst = 0;
    for (std::uint32_t y = 0; y < t.h; ++y) {
      for (std::uint32_t x = 0; x < t.w; ++x) {
        const bool inside = x >= t.region.left && x < t.region.right && y >= t.region.top &&
                            y < t.region.bottom;
        if (!inside) {
          ASSERT_EQ(out.at(x, y), 0x12345678u) << "written outside the region at " << x << "," << y;
          continue;
        }
        ASSERT_EQ(out.at(x, y) >> 24, 0xFFu);
        for (int c = 0; c < 3; ++c) {
          const double want = Reference(source, t.crop, t.w, t.h, x, y, c);
          worst = std::max(worst, static_cast<int>(std::ceil(std::abs(Channel(out.at(x, y), c) - want))));
        }
      }
    }
    const bool copy = t.sw == t.w && t.sh == t.h;
    EXPECT_LE(worst, copy ? 0 : 2) << t.sw << "x" << t.sh << " to " << t.w << "x" << t.h;
  }
}

TEST(FrameComposeTest, PremultipliedLayerOverOpaquePixels) {
  const struct {
    std::uint32_t layer, under, want;
  } cases[] = {
      {0x00000000, 0xFF112233, 0xFF112233},  // clear: the picture shows
      {0xFF445566, 0xFF112233, 0xFF445566},  // solid: the face
      {0x80402010, 0xFF808080, 0xFF80604F},  // half: 0x40 + 0x80 * 127 / 255 = 0x80
      {0xBF000000, 0xFFFFFFFF, 0xFF404040},  // a text outline's shadow
      {0x1A1A1A1A, 0xFF000000, 0xFF1A1A1A},
  };
  Image layer(5, 1), out(5, 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    layer.px[i] = cases[i].layer;
    out.px[i] = cases[i].under;
  }
  const std::uint32_t untouched = out.px[4];
  BlendPremultiplied(layer.view(), out.span(), {0, 0, 4, 1});
  for (std::size_t i = 0; i < 4; ++i) {
    for (int c = 0; c < 4; ++c) {
      EXPECT_NEAR(Channel(out.px[i], c), Channel(cases[i].want, c), 1) << "case " << i << " channel " << c;
    }
  }
  EXPECT_EQ(out.px[4], untouched) << "outside the region";

  Image filled(4, 3, 0);
  FillOpaque(filled.span(), 0x00102030, RegionOf({0.5f, 1.2f, 2.5f, 9}, filled.span()));
  const std::vector<std::uint32_t> want = {0, 0, 0, 0,  //
                                           0xFF102030, 0xFF102030, 0xFF102030, 0,
                                           0xFF102030, 0xFF102030, 0xFF102030, 0};
  EXPECT_EQ(filled.px, want);
}

}  // namespace
}  // namespace emberfall
