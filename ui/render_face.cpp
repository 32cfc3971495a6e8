// The face's drawing: the header, the progress panel, the start button and
// their texts, composed into the face layer over the background.
#include "ui/render_resources.h"

#include <algorithm>
#include <cmath>

#include "core/win/wide.h"

namespace emberfall {
namespace {

using win::ComPtr;

D2D1_RECT_F ToD2D(const RectF& r) { return D2D1::RectF(r.left, r.top, r.right, r.bottom); }

}  // namespace

void RenderResources::FillRounded(const RectF& rect, float radius, ID2D1Brush* brush) {
  if (brush == nullptr) return;
  target_->FillRoundedRectangle(D2D1::RoundedRect(ToD2D(rect), radius, radius), brush);
}

void RenderResources::DrawTextInRect(ID2D1RenderTarget* target, const std::u16string& text,
                                     const RectF& rect, ID2D1Brush* brush, float size,
                                     DWRITE_TEXT_ALIGNMENT alignment, bool bold) {
  if (text.empty() || target == nullptr || !textFactory_ || brush == nullptr) return;
  IDWriteTextFormat* format = FindTextFormat(size, alignment, bold);
  ComPtr<IDWriteTextFormat> temporary;
  if (format == nullptr) {
    temporary = CreateFormat(size, alignment, bold);
    format = temporary.get();
  }
  if (format == nullptr) return;
  target->DrawText(reinterpret_cast<const wchar_t*>(text.c_str()), static_cast<UINT32>(text.size()),
                   format, ToD2D(rect), brush, D2D1_DRAW_TEXT_OPTIONS_CLIP,
                   DWRITE_MEASURING_MODE_NATURAL);
}

namespace {

// One pixel each way, unscaled: an outline that reads at every size.
constexpr float kOutlineOffsets[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
constexpr std::size_t kTextCacheSize = 48;

}  // namespace

ID2D1Bitmap* RenderResources::OutlinedTextBitmap(const std::u16string& text, const RectF& rect,
                                                 ID2D1Brush* brush, float size,
                                                 DWRITE_TEXT_ALIGNMENT alignment, bool bold) {
  const float width = rect.right - rect.left;
  const float height = rect.bottom - rect.top;
  for (auto it = textCache_.begin(); it != textCache_.end(); ++it) {
    if (it->text == text && it->width == width && it->height == height && it->brush == brush &&
        it->size == size && it->alignment == alignment && it->bold == bold) {
      // Most recently used last, so that eviction takes the stalest.
      std::rotate(it, it + 1, textCache_.end());
      return textCache_.back().bitmap.get();
    }
  }
  if (width <= 0 || height <= 0) return nullptr;
  // The row plus the outline's pixel on each side.
  const D2D1_SIZE_F layerSize{std::ceil(width) + 2, std::ceil(height) + 2};
  const D2D1_PIXEL_FORMAT format =
      D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED);
  ComPtr<ID2D1BitmapRenderTarget> layer;
  if (FAILED(renderTarget_->CreateCompatibleRenderTarget(
          &layerSize, nullptr, &format, D2D1_COMPATIBLE_RENDER_TARGET_OPTIONS_NONE, layer.put()))) {
    return nullptr;
  }
  // ClearType needs an opaque background, which a transparent layer lacks.
  layer->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
  layer->BeginDraw();
  layer->Clear(D2D1::ColorF(0, 0, 0, 0));
  const RectF inside{1, 1, 1 + width, 1 + height};
  for (const auto& offset : kOutlineOffsets) {
    const RectF shifted{inside.left + offset[0], inside.top + offset[1], inside.right + offset[0],
                        inside.bottom + offset[1]};
    DrawTextInRect(layer.get(), text, shifted, brushes_[kOutline].get(), size, alignment, bold);
  }
  DrawTextInRect(layer.get(), text, inside, brush, size, alignment, bold);
  ComPtr<ID2D1Bitmap> bitmap;
  if (FAILED(layer->EndDraw()) || FAILED(layer->GetBitmap(bitmap.put()))) return nullptr;
  if (textCache_.size() >= kTextCacheSize) textCache_.erase(textCache_.begin());
  textCache_.push_back({text, width, height, brush, size, alignment, bold, std::move(bitmap)});
  return textCache_.back().bitmap.get();
}

void RenderResources::DrawOutlinedText(const std::u16string& text, const RectF& rect,
                                       ID2D1Brush* brush, float size,
                                       DWRITE_TEXT_ALIGNMENT alignment, bool bold) {
  if (text.empty() || target_ == nullptr || brush == nullptr) return;
  if (ID2D1Bitmap* bitmap = OutlinedTextBitmap(text, rect, brush, size, alignment, bold)) {
    const D2D1_SIZE_F layerSize = bitmap->GetSize();
    target_->DrawBitmap(
        bitmap,
        D2D1::RectF(rect.left - 1, rect.top - 1, rect.left - 1 + layerSize.width,
                    rect.top - 1 + layerSize.height),
        1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR);
    return;
  }
  for (const auto& offset : kOutlineOffsets) {
    const RectF shifted{rect.left + offset[0], rect.top + offset[1], rect.right + offset[0],
                        rect.bottom + offset[1]};
    DrawTextInRect(target_, text, shifted, brushes_[kOutline].get(), size, alignment,
                   bold);
  }
  DrawTextInRect(target_, text, rect, brush, size, alignment, bold);
}

void RenderResources::DrawHeader(const UiStrings& strings, ButtonId hoverButton) {
  const float s = Scale();
  EnsureIconBitmap();
  if (iconBitmap_) {
    target_->DrawBitmap(iconBitmap_.get(), D2D1::RectF(22 * s, 10 * s, 50 * s, 38 * s), 1.0f,
                              D2D1_BITMAP_INTERPOLATION_MODE_LINEAR);
  }
  DrawOutlinedText(u"EMBERFALL", {58 * s, 10 * s, 250 * s, 38 * s}, brushes_[kText].get(),
                   FontSize(14), DWRITE_TEXT_ALIGNMENT_LEADING, true);

  const std::pair<ButtonId, const std::u16string*> links[] = {
      {ButtonId::Website, &strings.Website},
      {ButtonId::Support, &strings.Support},
      {ButtonId::Community, &strings.Discord},
  };
  for (const auto& [id, text] : links) {
    ID2D1Brush* brush = hoverButton == id ? brushes_[kText].get() : brushes_[kLink].get();
    DrawOutlinedText(*text, buttons_[static_cast<std::size_t>(id)], brush, FontSize(13),
                     DWRITE_TEXT_ALIGNMENT_CENTER, false);
  }

  const RectF& settings = buttons_[static_cast<std::size_t>(ButtonId::Settings)];
  const RectF& minimise = buttons_[static_cast<std::size_t>(ButtonId::Minimise)];
  const RectF& close = buttons_[static_cast<std::size_t>(ButtonId::Close)];
  for (const RectF* r : {&settings, &minimise, &close}) FillRounded(*r, 6 * s, brushes_[kButtonFace].get());

  DrawOutlinedText(u"\u2699", settings,
                   hoverButton == ButtonId::Settings ? brushes_[kText].get() : brushes_[kMuted].get(),
                   FontSize(14), DWRITE_TEXT_ALIGNMENT_CENTER, false);
  DrawOutlinedText(u"-", minimise, brushes_[kMuted].get(), FontSize(16),
                   DWRITE_TEXT_ALIGNMENT_CENTER, true);
  DrawOutlinedText(u"x", close, brushes_[kMuted].get(), FontSize(14), DWRITE_TEXT_ALIGNMENT_CENTER,
                   true);
}

void RenderResources::DrawProgressPanel(const ProgressState& state, const UiStrings& strings,
                                        bool ready, ButtonId hoverButton, std::int32_t countdown) {
  ComputeButtonRects();
  const PanelLayout panel = ComputePanelLayout(clientWidth_, clientHeight_);
  const float s = panel.scale;
  const float left = panel.left;
  const float right = panel.right;
  const float statusTop = panel.statusTop;
  const float barTop = panel.barTop;

  const std::u16string& status = state.statusText.empty() ? strings.Checking : state.statusText;
  DrawOutlinedText(status, {left, statusTop, right - 250 * s, statusTop + 22 * s},
                   brushes_[kStatus].get(), FontSize(13), DWRITE_TEXT_ALIGNMENT_LEADING, true);
  const std::u16string detail = state.detailText.empty() ? std::u16string(u" ") : state.detailText;
  DrawOutlinedText(detail, {right - 240 * s, statusTop, right, statusTop + 22 * s},
                   brushes_[kStatus].get(), FontSize(13), DWRITE_TEXT_ALIGNMENT_TRAILING, false);

  const float overall = static_cast<float>(std::min<std::uint32_t>(state.overallPercent, 100)) / 100;
  const RectF mainBar{left, barTop, right, barTop + 14 * s};
  FillRounded(mainBar, 2 * s, brushes_[kTrack].get());
  if (overall > 0) {
    FillRounded({left, barTop, left + overall * (right - left), barTop + 14 * s}, 2 * s,
                brushes_[kFillMain].get());
  }
  if (!state.barText.empty()) {
    DrawOutlinedText(state.barText, mainBar, brushes_[kText].get(), FontSize(11),
                     DWRITE_TEXT_ALIGNMENT_CENTER, true);
  }

  const float file = static_cast<float>(std::min<std::uint32_t>(state.filePercent, 100)) / 100;
  FillRounded({left, barTop + 19 * s, right, barTop + 23 * s}, 2 * s, brushes_[kTrack].get());
  if (file > 0) {
    FillRounded({left, barTop + 19 * s, left + file * (right - left), barTop + 23 * s}, 2 * s,
                brushes_[kFillFile].get());
  }

  if (!state.noteText.empty()) {
    DrawOutlinedText(state.noteText, {left, statusTop - 18 * s, right, statusTop - 2 * s},
                     brushes_[kMuted].get(), FontSize(12), DWRITE_TEXT_ALIGNMENT_LEADING, false);
  }

  DrawStartButton(strings, ready, hoverButton, countdown);
}

void RenderResources::DrawStartButton(const UiStrings& strings, bool ready, ButtonId hoverButton,
                                      std::int32_t countdown) {
  const RectF& start = buttons_[static_cast<std::size_t>(ButtonId::Start)];
  ID2D1Brush* face = !ready                              ? brushes_[kStartDisabled].get()
                     : hoverButton == ButtonId::Start ? brushes_[kStartHover].get()
                                                       : brushes_[kStartReady].get();
  FillRounded(start, 3 * Scale(), face);
  DrawStartLabel(strings, ready, countdown);
}

float RenderResources::TextWidth(const std::u16string& text, float size, bool bold) {
  for (const MeasuredText& m : widths_) {
    if (m.text == text && m.size == size && m.bold == bold) return m.width;
  }
  float width = -1;
  const ComPtr<IDWriteTextFormat> format = CreateFormat(size, DWRITE_TEXT_ALIGNMENT_LEADING, bold);
  ComPtr<IDWriteTextLayout> layout;
  DWRITE_TEXT_METRICS metrics{};
  if (format && SUCCEEDED(textFactory_->CreateTextLayout(
                    reinterpret_cast<const wchar_t*>(text.c_str()),
                    static_cast<UINT32>(text.size()), format.get(), 10000.0f, 1000.0f,
                    layout.put())) &&
      SUCCEEDED(layout->GetMetrics(&metrics))) {
    width = metrics.widthIncludingTrailingWhitespace;
  }
  if (widths_.size() >= kTextCacheSize) widths_.erase(widths_.begin());
  widths_.push_back({text, size, bold, width});
  return width;
}

void RenderResources::DrawStartLabel(const UiStrings& strings, bool ready,
                                     std::int32_t countdown) {
  const RectF& start = buttons_[static_cast<std::size_t>(ButtonId::Start)];
  ID2D1Brush* brush = ready ? brushes_[kStartText].get() : brushes_[kMuted].get();
  const float size = FontSize(14);
  if (!ready || countdown < 1) {
    DrawOutlinedText(strings.StartGame, start, brush, size, DWRITE_TEXT_ALIGNMENT_CENTER, true);
    return;
  }
  // Text is what software drawing spends most on: each second's label is
  // the cached text around the number and the number alone, which is short.
  const LabelParts parts = SplitCountdownLabel(strings.StartGameCount, countdown);
  const std::u16string* pieces[] = {&parts.before, &parts.number, &parts.after};
  float widths[3] = {};
  float total = 0;
  for (int i = 0; i < 3; ++i) {
    widths[i] = pieces[i]->empty() ? 0 : TextWidth(*pieces[i], size, true);
    if (widths[i] < 0) {
      DrawOutlinedText(FormatStartGameCount(strings, countdown), start, brush, size,
                       DWRITE_TEXT_ALIGNMENT_CENTER, true);
      return;
    }
    widths[i] = std::ceil(widths[i]);
    total += widths[i];
  }
  float x = std::round(start.left + (start.right - start.left - total) / 2);
  for (int i = 0; i < 3; ++i) {
    if (!pieces[i]->empty()) {
      DrawOutlinedText(*pieces[i], {x, start.top, x + widths[i], start.bottom}, brush, size,
                       DWRITE_TEXT_ALIGNMENT_LEADING, true);
    }
    x += widths[i];
  }
}


void RenderResources::RenderStartButton(const UiStrings& strings, bool ready,
                                        ButtonId hoverButton, const BackgroundVideo* video,
                                        std::int32_t countdown) {
  EnsureDeviceResources();
  if (!renderTarget_) return;
  ComputeButtonRects();
  const RectF& start = buttons_[static_cast<std::size_t>(ButtonId::Start)];
  const D2D1_RECT_F clip = D2D1::RectF(std::floor(start.left), std::floor(start.top),
                                       std::ceil(start.right), std::ceil(start.bottom));
  target_ = renderTarget_.get();
  // The layer no longer matches the screen's button: the next full frame
  // draws it anew.
  faceKey_.reset();
  renderTarget_->BeginDraw();
  // No new video frame for the button alone: the one behind the rest stays.
  DrawBackground(video, &clip);
  renderTarget_->PushAxisAlignedClip(clip, D2D1_ANTIALIAS_MODE_ALIASED);
  DrawStartButton(strings, ready, hoverButton, countdown);
  renderTarget_->PopAxisAlignedClip();
  if (renderTarget_->EndDraw() == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) DiscardDeviceResources();
}

bool RenderResources::FaceKey::operator==(const FaceKey& o) const {
  return strings == o.strings && status == o.status && detail == o.detail && bar == o.bar &&
         note == o.note && overall == o.overall && file == o.file && ready == o.ready &&
         hover == o.hover && countdown == o.countdown;
}

void RenderResources::DrawFace(const ProgressState& state, const UiStrings& strings, bool ready,
                               ButtonId hoverButton, std::int32_t countdown) {
  DrawHeader(strings, hoverButton);
  DrawProgressPanel(state, strings, ready, hoverButton, countdown);
}

bool RenderResources::UpdateFaceLayer(const ProgressState& state, const UiStrings& strings,
                                      bool ready, ButtonId hoverButton, std::int32_t countdown) {
  const FaceKey key{&strings,         state.statusText, state.detailText, state.barText,
                    state.noteText,   state.overallPercent, state.filePercent, ready,
                    hoverButton,      countdown};
  if (faceLayer_ && faceKey_ && *faceKey_ == key) return true;
  faceKey_.reset();
  if (!faceLayer_) {
    const D2D1_SIZE_F size{static_cast<float>(clientWidth_), static_cast<float>(clientHeight_)};
    const D2D1_PIXEL_FORMAT format =
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED);
    if (FAILED(renderTarget_->CreateCompatibleRenderTarget(
            &size, nullptr, &format, D2D1_COMPATIBLE_RENDER_TARGET_OPTIONS_NONE,
            faceLayer_.put()))) {
      return false;
    }
  }
  faceLayer_->BeginDraw();
  faceLayer_->Clear(D2D1::ColorF(0, 0, 0, 0));
  target_ = faceLayer_.get();
  DrawFace(state, strings, ready, hoverButton, countdown);
  target_ = renderTarget_.get();
  if (FAILED(faceLayer_->EndDraw()) || FAILED(faceLayer_->GetBitmap(faceBitmap_.put()))) {
    faceLayer_.reset();
    faceBitmap_.reset();
    return false;
  }
  faceKey_ = key;
  return true;
}

void RenderResources::Render(const ProgressState& state, const UiStrings& strings, bool ready,
                             ButtonId hoverButton, BackgroundVideo* video, std::int32_t countdown) {
  EnsureDeviceResources();
  if (!renderTarget_) return;
  target_ = renderTarget_.get();
  // The face changes rarely and the video often: the face is drawn into a
  // layer of its own when it changes, and each video frame costs two
  // bitmaps, not every text and shape again.
  const bool layered = UpdateFaceLayer(state, strings, ready, hoverButton, countdown);
  renderTarget_->BeginDraw();
  FetchVideoFrame(video);
  DrawBackground(video, nullptr);
  if (layered) {
    renderTarget_->DrawBitmap(
        faceBitmap_.get(),
        D2D1::RectF(0, 0, static_cast<float>(clientWidth_), static_cast<float>(clientHeight_)),
        1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR);
  } else {
    DrawFace(state, strings, ready, hoverButton, countdown);
  }
  if (renderTarget_->EndDraw() == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) DiscardDeviceResources();
}

}  // namespace emberfall
