#include "ui/layout.h"

#include <algorithm>
#include <cstdlib>

#include "core/text.h"

namespace emberfall {
namespace {

constexpr std::int32_t kFallbackWidth = 1012;
constexpr std::int32_t kFallbackHeight = 556;

// Win32 MulDiv for the non-negative operands used here: rounds half up.
std::int32_t MulDivRound(std::int32_t number, std::int32_t numerator, std::int32_t denominator) {
  const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
  return static_cast<std::int32_t>((product + denominator / 2) / denominator);
}

}  // namespace

float LayoutScale(std::uint32_t clientWidth, std::uint32_t clientHeight) {
  if (clientWidth == 0 || clientHeight == 0) return 1.0f;
  return std::min(static_cast<float>(clientWidth) / kDesignWidth,
                  static_cast<float>(clientHeight) / kDesignHeight);
}

float FontSize(float designSize, float scale) { return designSize * scale; }

float TitleBarHeight(float scale) { return 48.0f * scale; }

ButtonRects ComputeButtonRects(std::uint32_t clientWidth, std::uint32_t clientHeight) {
  const float s = LayoutScale(clientWidth, clientHeight);
  const float w = static_cast<float>(clientWidth);
  const float h = static_cast<float>(clientHeight);
  ButtonRects rects{};
  auto at = [&rects](ButtonId id) -> RectF& { return rects[static_cast<std::size_t>(id)]; };
  at(ButtonId::Start) = {w - 28 * s - 188 * s, h - 24 * s - 52 * s, w - 28 * s, h - 24 * s};
  at(ButtonId::Website) = {720 * s, 14 * s, 810 * s, 34 * s};
  at(ButtonId::Support) = {830 * s, 14 * s, 900 * s, 34 * s};
  at(ButtonId::Community) = {920 * s, 14 * s, 990 * s, 34 * s};
  at(ButtonId::Settings) = {1012 * s, 10 * s, 1040 * s, 38 * s};
  at(ButtonId::Minimise) = {1046 * s, 10 * s, 1074 * s, 38 * s};
  at(ButtonId::Close) = {1080 * s, 10 * s, 1108 * s, 38 * s};
  return rects;
}

ButtonId HitTest(const ButtonRects& rects, float x, float y) {
  static constexpr ButtonId kOrder[] = {ButtonId::Start,    ButtonId::Website, ButtonId::Support,
                                        ButtonId::Community, ButtonId::Settings, ButtonId::Minimise,
                                        ButtonId::Close};
  for (ButtonId id : kOrder) {
    const RectF& r = rects[static_cast<std::size_t>(id)];
    if (r.left <= x && x <= r.right && r.top <= y && y <= r.bottom) return id;
  }
  return ButtonId::None;
}

PanelLayout ComputePanelLayout(std::uint32_t clientWidth, std::uint32_t clientHeight) {
  const float s = LayoutScale(clientWidth, clientHeight);
  const float w = static_cast<float>(clientWidth);
  const float h = static_cast<float>(clientHeight);
  PanelLayout panel;
  panel.scale = s;
  panel.left = 28 * s;
  panel.right = w - 28 * s - 188 * s - 16 * s;
  const float buttonTop = h - 24 * s - 52 * s;
  panel.statusTop = buttonTop - 28 * s;
  panel.barTop = buttonTop + (52 * s - 23 * s) / 2;
  return panel;
}

RectF CropToFill(std::uint32_t videoWidth, std::uint32_t videoHeight, std::uint32_t targetWidth,
                 std::uint32_t targetHeight) {
  RectF source{0, 0, 1, 1};
  if (videoWidth == 0 || videoHeight == 0 || targetWidth == 0 || targetHeight == 0) return source;
  const float videoAspect = static_cast<float>(videoWidth) / static_cast<float>(videoHeight);
  const float targetAspect = static_cast<float>(targetWidth) / static_cast<float>(targetHeight);
  if (videoAspect > targetAspect) {
    const float f = targetAspect / videoAspect;
    source.left = (1 - f) / 2;
    source.right = source.left + f;
  } else if (targetAspect > videoAspect) {
    const float f = videoAspect / targetAspect;
    source.top = (1 - f) / 2;
    source.bottom = source.top + f;
  }
  return source;
}

LabelParts SplitCountdownLabel(const std::u16string& format, std::int32_t seconds) {
  const std::size_t at = format.find(u"%d");
  if (at == std::u16string::npos) return {format, {}, {}};
  return {format.substr(0, at), ToWideDecimal(seconds), format.substr(at + 2)};
}

WindowPlacement PlaceOnWorkArea(const std::optional<WorkArea>& work, std::uint32_t dpi) {
  if (!work) return {0, 0, kFallbackWidth, kFallbackHeight};
  if (dpi == 0) dpi = 96;
  const std::int32_t workWidth = work->right - work->left;
  const std::int32_t workHeight = work->bottom - work->top;
  const std::int32_t margin = MulDivRound(16, static_cast<std::int32_t>(dpi), 96);
  const std::int32_t availW = workWidth - 2 * margin;
  const std::int32_t availH = workHeight - 2 * margin;
  if (availW < 1 || availH < 1) return {work->left, work->top, kFallbackWidth, kFallbackHeight};

  const double fit = std::min(availH / 618.0, availW / 1124.0);
  const double monitorRatio = std::min(workHeight / 1040.0, workWidth / 1920.0);
  const double pref = 0.9 * std::max(1.0, std::max(monitorRatio, dpi / 96.0));
  const double scale = std::min(fit, pref);
  WindowPlacement placement;
  placement.width = static_cast<std::int32_t>(scale * 1124 + 0.5);
  placement.height = static_cast<std::int32_t>(scale * 618 + 0.5);
  placement.x = work->left + (workWidth - placement.width) / 2;
  placement.y = work->top + (workHeight - placement.height) / 2;
  return placement;
}

}  // namespace emberfall
