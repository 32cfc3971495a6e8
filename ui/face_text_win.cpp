#include "ui/face_text.h"

#include <algorithm>
#include <cmath>

namespace emberfall {
namespace {

using win::ComPtr;

struct FormatSpec {
  float designSize;
  DWRITE_FONT_WEIGHT weight;
  DWRITE_TEXT_ALIGNMENT alignment;
};

// The cached formats; FindFormat tests them in this order.
constexpr FormatSpec kFormats[] = {
    {16, DWRITE_FONT_WEIGHT_SEMI_BOLD, DWRITE_TEXT_ALIGNMENT_CENTER},    // minimise glyph
    {14, DWRITE_FONT_WEIGHT_SEMI_BOLD, DWRITE_TEXT_ALIGNMENT_LEADING},   // title
    {14, DWRITE_FONT_WEIGHT_SEMI_BOLD, DWRITE_TEXT_ALIGNMENT_CENTER},    // close, start text
    {14, DWRITE_FONT_WEIGHT_MEDIUM, DWRITE_TEXT_ALIGNMENT_CENTER},       // settings glyph
    {13, DWRITE_FONT_WEIGHT_MEDIUM, DWRITE_TEXT_ALIGNMENT_CENTER},       // links
    {13, DWRITE_FONT_WEIGHT_SEMI_BOLD, DWRITE_TEXT_ALIGNMENT_LEADING},   // status
    {13, DWRITE_FONT_WEIGHT_MEDIUM, DWRITE_TEXT_ALIGNMENT_TRAILING},     // detail
    {12, DWRITE_FONT_WEIGHT_MEDIUM, DWRITE_TEXT_ALIGNMENT_LEADING},      // note
    {11, DWRITE_FONT_WEIGHT_SEMI_BOLD, DWRITE_TEXT_ALIGNMENT_CENTER},    // bar caption
};

constexpr const wchar_t* kFontFamily = L"Bahnschrift";
constexpr const wchar_t* kFallbackFontFamily = L"Segoe UI";
constexpr const wchar_t* kLocale = L"tr-tr";

// One pixel each way, unscaled: an outline that reads at every size.
constexpr float kOutlineOffsets[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
constexpr std::size_t kTextCacheSize = 48;

D2D1_RECT_F ToD2D(const RectF& r) { return D2D1::RectF(r.left, r.top, r.right, r.bottom); }

RectF Shifted(const RectF& r, const float (&offset)[2]) {
  return {r.left + offset[0], r.top + offset[1], r.right + offset[0], r.bottom + offset[1]};
}

// Every text of the face has a row one line high: a longer text (German and
// Turkish failure messages, counters with large counts) ends in an ellipsis
// instead of wrapping into the row below.
void KeepToOneLine(IDWriteFactory* factory, IDWriteTextFormat* format) {
  format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
  ComPtr<IDWriteInlineObject> ellipsis;
  factory->CreateEllipsisTrimmingSign(format, ellipsis.put());
  const DWRITE_TRIMMING trimming{DWRITE_TRIMMING_GRANULARITY_CHARACTER, 0, 0};
  // The format holds its own reference to the sign.
  format->SetTrimming(&trimming, ellipsis.get());
}

}  // namespace

bool FaceText::CreateFactory() {
  return SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                       reinterpret_cast<IUnknown**>(factory_.put())));
}

ComPtr<IDWriteTextFormat> FaceText::CreateFormat(float size, DWRITE_TEXT_ALIGNMENT alignment,
                                                 bool bold) const {
  ComPtr<IDWriteTextFormat> format;
  if (!factory_ || size <= 0) return format;
  const DWRITE_FONT_WEIGHT weight = bold ? DWRITE_FONT_WEIGHT_SEMI_BOLD : DWRITE_FONT_WEIGHT_MEDIUM;
  for (const wchar_t* family : {kFontFamily, kFallbackFontFamily}) {
    if (SUCCEEDED(factory_->CreateTextFormat(family, nullptr, weight, DWRITE_FONT_STYLE_NORMAL,
                                             DWRITE_FONT_STRETCH_NORMAL, size, kLocale,
                                             format.put()))) {
      format->SetTextAlignment(alignment);
      format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
      KeepToOneLine(factory_.get(), format.get());
      return format;
    }
  }
  format.reset();
  return format;
}

void FaceText::CreateFormats(float scale) {
  scale_ = scale;
  for (std::size_t i = 0; i < kFormatCount; ++i) {
    formats_[i].reset();
    formats_[i] = CreateFormat(FontSize(kFormats[i].designSize, scale_), kFormats[i].alignment,
                               kFormats[i].weight == DWRITE_FONT_WEIGHT_SEMI_BOLD);
  }
}

IDWriteTextFormat* FaceText::FindFormat(float size, DWRITE_TEXT_ALIGNMENT alignment,
                                        bool bold) const {
  const DWRITE_FONT_WEIGHT weight = bold ? DWRITE_FONT_WEIGHT_SEMI_BOLD : DWRITE_FONT_WEIGHT_MEDIUM;
  for (std::size_t i = 0; i < kFormatCount; ++i) {
    if (std::fabs(FontSize(kFormats[i].designSize, scale_) - size) < 0.05f &&
        kFormats[i].alignment == alignment && kFormats[i].weight == weight) {
      return formats_[i].get();
    }
  }
  return nullptr;
}

void FaceText::DiscardBitmaps() { bitmaps_.clear(); }

void FaceText::ForgetWidths() { widths_.clear(); }

float FaceText::Width(const std::u16string& text, float size, bool bold) {
  for (const MeasuredText& m : widths_) {
    if (m.text == text && m.size == size && m.bold == bold) return m.width;
  }
  float width = -1;
  const ComPtr<IDWriteTextFormat> format = CreateFormat(size, DWRITE_TEXT_ALIGNMENT_LEADING, bold);
  ComPtr<IDWriteTextLayout> layout;
  DWRITE_TEXT_METRICS metrics{};
  if (format && SUCCEEDED(factory_->CreateTextLayout(
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

void FaceText::Draw(ID2D1RenderTarget* target, const std::u16string& text, const RectF& rect,
                    ID2D1Brush* brush, float size, DWRITE_TEXT_ALIGNMENT alignment, bool bold) {
  if (text.empty() || target == nullptr || !factory_ || brush == nullptr) return;
  IDWriteTextFormat* format = FindFormat(size, alignment, bold);
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

ID2D1Bitmap* FaceText::OutlinedBitmap(ID2D1RenderTarget* device, const std::u16string& text,
                                      const RectF& rect, ID2D1Brush* brush, ID2D1Brush* outline,
                                      float size, DWRITE_TEXT_ALIGNMENT alignment, bool bold) {
  const float width = rect.right - rect.left;
  const float height = rect.bottom - rect.top;
  for (auto it = bitmaps_.begin(); it != bitmaps_.end(); ++it) {
    if (it->text == text && it->width == width && it->height == height && it->brush == brush &&
        it->size == size && it->alignment == alignment && it->bold == bold) {
      // Most recently used last, so that eviction takes the stalest.
      std::rotate(it, it + 1, bitmaps_.end());
      return bitmaps_.back().bitmap.get();
    }
  }
  if (width <= 0 || height <= 0) return nullptr;
  // The row plus the outline's pixel on each side.
  const D2D1_SIZE_F layerSize{std::ceil(width) + 2, std::ceil(height) + 2};
  const D2D1_PIXEL_FORMAT format =
      D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED);
  ComPtr<ID2D1BitmapRenderTarget> layer;
  if (FAILED(device->CreateCompatibleRenderTarget(
          &layerSize, nullptr, &format, D2D1_COMPATIBLE_RENDER_TARGET_OPTIONS_NONE, layer.put()))) {
    return nullptr;
  }
  // ClearType needs an opaque background, which a transparent layer lacks.
  layer->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
  layer->BeginDraw();
  layer->Clear(D2D1::ColorF(0, 0, 0, 0));
  const RectF inside{1, 1, 1 + width, 1 + height};
  for (const auto& offset : kOutlineOffsets) {
    Draw(layer.get(), text, Shifted(inside, offset), outline, size, alignment, bold);
  }
  Draw(layer.get(), text, inside, brush, size, alignment, bold);
  ComPtr<ID2D1Bitmap> bitmap;
  if (FAILED(layer->EndDraw()) || FAILED(layer->GetBitmap(bitmap.put()))) return nullptr;
  if (bitmaps_.size() >= kTextCacheSize) bitmaps_.erase(bitmaps_.begin());
  bitmaps_.push_back({text, width, height, brush, size, alignment, bold, std::move(bitmap)});
  return bitmaps_.back().bitmap.get();
}

void FaceText::DrawOutlined(ID2D1RenderTarget* device, ID2D1RenderTarget* target,
                            const std::u16string& text, const RectF& rect, ID2D1Brush* brush,
                            ID2D1Brush* outline, float size, DWRITE_TEXT_ALIGNMENT alignment,
                            bool bold) {
  if (text.empty() || target == nullptr || brush == nullptr) return;
  if (ID2D1Bitmap* bitmap =
          OutlinedBitmap(device, text, rect, brush, outline, size, alignment, bold)) {
    const D2D1_SIZE_F layerSize = bitmap->GetSize();
    target->DrawBitmap(
        bitmap,
        D2D1::RectF(rect.left - 1, rect.top - 1, rect.left - 1 + layerSize.width,
                    rect.top - 1 + layerSize.height),
        1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR);
    return;
  }
  for (const auto& offset : kOutlineOffsets) {
    Draw(target, text, Shifted(rect, offset), outline, size, alignment, bold);
  }
  Draw(target, text, rect, brush, size, alignment, bold);
}

}  // namespace emberfall
