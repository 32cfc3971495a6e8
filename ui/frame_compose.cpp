#include "ui/frame_compose.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace emberfall {
namespace {

// Two 8-bit channels at once, 16 bits apart: blue and red, or green and
// alpha after a shift by 8.
constexpr std::uint32_t kLanes = 0x00FF00FFu;

std::uint32_t Load(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void Store(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// a + (b - a) * f / 256 per channel, rounded, f in [0, 256].
std::uint32_t Lerp(std::uint32_t a, std::uint32_t b, std::uint32_t f) {
  const std::uint32_t g = 256 - f;
  const std::uint32_t rb = (((a & kLanes) * g + (b & kLanes) * f + 0x00800080u) >> 8) & kLanes;
  const std::uint32_t ga = (((a >> 8) & kLanes) * g + ((b >> 8) & kLanes) * f + 0x00800080u) & ~kLanes;
  return rb | ga;
}

// Where one axis of the target samples the source: for each target pixel
// the two source pixels around its centre and the weight of the second.
struct Taps {
  std::vector<std::uint32_t> first;
  std::vector<std::uint16_t> weight;
};

Taps TapsFor(std::uint32_t begin, std::uint32_t end, std::uint32_t targetSize, float from, float to,
             std::uint32_t sourceSize) {
  Taps taps;
  taps.first.resize(end - begin);
  taps.weight.resize(end - begin);
  const double step = (static_cast<double>(to) - from) / targetSize;
  const double last = static_cast<double>(sourceSize) - 1;
  for (std::uint32_t i = begin; i < end; ++i) {
    const double at = std::clamp(from + (i + 0.5) * step - 0.5, 0.0, last);
    const double whole = std::floor(at);
    std::uint32_t first = static_cast<std::uint32_t>(whole);
    auto weight = static_cast<std::uint32_t>(std::lround((at - whole) * 256));
    if (weight == 256) {
      ++first;
      weight = 0;
    }
    taps.first[i - begin] = std::min(first, sourceSize - 1);
    taps.weight[i - begin] = static_cast<std::uint16_t>(weight);
  }
  return taps;
}

bool Inside(const PixelsSpan& out, const PixelRegion& region) {
  return out.data != nullptr && region.left < region.right && region.top < region.bottom &&
         region.right <= out.width && region.bottom <= out.height;
}

}  // namespace

PixelRegion RegionOf(const RectF& rect, const PixelsSpan& out) {
  const auto clampTo = [](float v, std::uint32_t limit) {
    return static_cast<std::uint32_t>(std::clamp(v, 0.0f, static_cast<float>(limit)));
  };
  return {clampTo(std::floor(rect.left), out.width), clampTo(std::floor(rect.top), out.height),
          clampTo(std::ceil(rect.right), out.width), clampTo(std::ceil(rect.bottom), out.height)};
}

void StretchOpaque(const PixelsView& source, const RectF& crop, const PixelsSpan& out,
                   const PixelRegion& region) {
  if (source.data == nullptr || source.width == 0 || source.height == 0 || !Inside(out, region)) {
    return;
  }
  const auto sw = static_cast<float>(source.width);
  const auto sh = static_cast<float>(source.height);
  const Taps columns = TapsFor(region.left, region.right, out.width, crop.left * sw,
                               crop.right * sw, source.width);
  const Taps rows = TapsFor(region.top, region.bottom, out.height, crop.top * sh,
                            crop.bottom * sh, source.height);
  // Rows first, into one row of the source's columns that the region uses;
  // then along it. Two taps per pixel and pass instead of four.
  const std::uint32_t lo = columns.first.front();
  const std::uint32_t hi = std::min(columns.first.back() + 1, source.width - 1);
  std::vector<std::uint32_t> line(hi - lo + 2);
  for (std::uint32_t y = region.top; y < region.bottom; ++y) {
    const std::uint32_t r0 = rows.first[y - region.top];
    const std::uint32_t r1 = std::min(r0 + 1, source.height - 1);
    const std::uint32_t fy = rows.weight[y - region.top];
    const std::uint8_t* a = source.data + static_cast<std::size_t>(r0) * source.pitch;
    const std::uint8_t* b = source.data + static_cast<std::size_t>(r1) * source.pitch;
    for (std::uint32_t x = lo; x <= hi; ++x) {
      line[x - lo] = fy == 0 ? Load(a + x * 4) : Lerp(Load(a + x * 4), Load(b + x * 4), fy);
    }
    line[hi - lo + 1] = line[hi - lo];
    std::uint8_t* row = out.data + static_cast<std::size_t>(y) * out.pitch;
    for (std::uint32_t x = region.left; x < region.right; ++x) {
      const std::uint32_t i = columns.first[x - region.left] - lo;
      const std::uint32_t fx = columns.weight[x - region.left];
      const std::uint32_t v = fx == 0 ? line[i] : Lerp(line[i], line[i + 1], fx);
      Store(row + x * 4, v | 0xFF000000u);
    }
  }
}

void FillOpaque(const PixelsSpan& out, std::uint32_t bgra, const PixelRegion& region) {
  if (!Inside(out, region)) return;
  for (std::uint32_t y = region.top; y < region.bottom; ++y) {
    std::uint8_t* row = out.data + static_cast<std::size_t>(y) * out.pitch;
    for (std::uint32_t x = region.left; x < region.right; ++x) Store(row + x * 4, bgra | 0xFF000000u);
  }
}

void BlendPremultiplied(const PixelsView& layer, const PixelsSpan& out, const PixelRegion& region) {
  if (layer.data == nullptr || layer.width != out.width || layer.height != out.height ||
      !Inside(out, region)) {
    return;
  }
  for (std::uint32_t y = region.top; y < region.bottom; ++y) {
    const std::uint8_t* src = layer.data + static_cast<std::size_t>(y) * layer.pitch;
    std::uint8_t* dst = out.data + static_cast<std::size_t>(y) * out.pitch;
    for (std::uint32_t x = region.left; x < region.right; ++x) {
      const std::uint32_t s = Load(src + x * 4);
      const std::uint32_t alpha = s >> 24;
      // Most of the face is clear or solid.
      if (alpha == 0) continue;
      if (alpha == 255) {
        Store(dst + x * 4, s);
        continue;
      }
      const std::uint32_t d = Load(dst + x * 4);
      const std::uint32_t keep = 255 - alpha;
      // d * keep / 255, rounded, for two channels at once.
      std::uint32_t rb = (d & kLanes) * keep + 0x00800080u;
      rb = ((rb + ((rb >> 8) & kLanes)) >> 8) & kLanes;
      std::uint32_t ga = ((d >> 8) & kLanes) * keep + 0x00800080u;
      ga = (ga + ((ga >> 8) & kLanes)) & ~kLanes;
      Store(dst + x * 4, s + (rb | ga));
    }
  }
}

}  // namespace emberfall
