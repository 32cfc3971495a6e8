// The face's texts, drawn with DirectWrite on a Direct2D target: one line
// each (a longer one ends in an ellipsis), in the face's fonts and sizes,
// with outlined texts drawn once into bitmaps kept between frames, since
// text is what software drawing (Wine's, a remote session's) spends most of
// a frame on. UI thread only.
#ifndef EMBERFALL_UI_FACE_TEXT_H_
#define EMBERFALL_UI_FACE_TEXT_H_

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "core/win/com_ptr.h"
#include "core/win/windows_include.h"
#include "ui/layout.h"

// After windows.h, which they need.
#include <d2d1.h>
#include <dwrite.h>

namespace emberfall {

class FaceText {
 public:
  // Makes the DirectWrite factory; false when there is none, and then
  // nothing is ever drawn.
  bool CreateFactory();

  // Makes the formats of the face's texts for layout scale |scale|; sizes
  // without a cached format get a format of their own at each draw.
  void CreateFormats(float scale);

  // Forgets the outlined texts' bitmaps: they belong to the render target's
  // device (lost device, new size).
  void DiscardBitmaps();
  // Forgets the measured widths (new size).
  void ForgetWidths();

  // The width of |text| on one line at |size| (semi-bold when |bold|);
  // negative when it cannot be measured. The last 48 are kept.
  float Width(const std::u16string& text, float size, bool bold);

  // Draws |text| into |rect| of |target|, clipped to it; nothing for an
  // empty text, a null target or brush.
  void Draw(ID2D1RenderTarget* target, const std::u16string& text, const RectF& rect,
            ID2D1Brush* brush, float size, DWRITE_TEXT_ALIGNMENT alignment, bool bold);

  // Draws |text| into |rect| of |target| over a one-pixel |outline| on each
  // side. The outlined text is drawn once into a bitmap made by |device|
  // (the window's render target) and kept for the next frames (the last
  // 48); without a bitmap it is drawn directly.
  void DrawOutlined(ID2D1RenderTarget* device, ID2D1RenderTarget* target,
                    const std::u16string& text, const RectF& rect, ID2D1Brush* brush,
                    ID2D1Brush* outline, float size, DWRITE_TEXT_ALIGNMENT alignment, bool bold);

 private:
  static constexpr std::size_t kFormatCount = 9;

  IDWriteTextFormat* FindFormat(float size, DWRITE_TEXT_ALIGNMENT alignment, bool bold) const;
  win::ComPtr<IDWriteTextFormat> CreateFormat(float size, DWRITE_TEXT_ALIGNMENT alignment,
                                              bool bold) const;
  // The outlined text drawn once into a bitmap of the row's size; null when
  // no bitmap could be made.
  ID2D1Bitmap* OutlinedBitmap(ID2D1RenderTarget* device, const std::u16string& text,
                              const RectF& rect, ID2D1Brush* brush, ID2D1Brush* outline,
                              float size, DWRITE_TEXT_ALIGNMENT alignment, bool bold);

  win::ComPtr<IDWriteFactory> factory_;
  float scale_ = 1.0f;
  std::array<win::ComPtr<IDWriteTextFormat>, kFormatCount> formats_;
  struct MeasuredText {
    std::u16string text;
    float size = 0;
    bool bold = false;
    float width = 0;
  };
  std::vector<MeasuredText> widths_;
  // Drawn texts, newest last; most texts stay the same from frame to frame.
  struct CachedText {
    std::u16string text;
    float width = 0;
    float height = 0;
    ID2D1Brush* brush = nullptr;
    float size = 0;
    DWRITE_TEXT_ALIGNMENT alignment = DWRITE_TEXT_ALIGNMENT_LEADING;
    bool bold = false;
    win::ComPtr<ID2D1Bitmap> bitmap;
  };
  std::vector<CachedText> bitmaps_;
};

}  // namespace emberfall

#endif  // EMBERFALL_UI_FACE_TEXT_H_
