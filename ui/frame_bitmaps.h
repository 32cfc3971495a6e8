// The bitmaps behind the face: the pixel format they share, the WIC bitmap
// the engine's frames arrive in, the Direct2D bitmap they are copied into
// for drawing, and the program's icon turned into a bitmap. UI thread only.
#ifndef EMBERFALL_UI_FRAME_BITMAPS_H_
#define EMBERFALL_UI_FRAME_BITMAPS_H_

#include <cstdint>

#include "core/win/com_ptr.h"
#include "core/win/windows_include.h"

// After windows.h, which they need.
#include <d2d1.h>
#include <wincodec.h>

namespace emberfall {

// 32-bit BGRA, premultiplied, at 96 DPI: every bitmap the face draws.
D2D1_BITMAP_PROPERTIES FrameBitmapProperties();

// The WIC factory (the second version where the system has it); null when
// there is none. Needs COM on the calling thread.
win::ComPtr<IWICImagingFactory> CreateWicFactory();

// The program's icon (resource 1 of the executable) at |size| x |size|
// pixels as a bitmap of |target|, its edges premultiplied; null when the
// icon or the bitmap could not be had.
win::ComPtr<ID2D1Bitmap> LoadIconBitmap(ID2D1RenderTarget* target, std::uint32_t size);

// A Direct2D bitmap that holds the video's latest frame. It belongs to the
// device of the render target that made it.
class FrameBitmap {
 public:
  // Makes an empty bitmap of |width| x |height| on |target|, dropping the
  // old one; false when it cannot be made.
  bool Create(ID2D1RenderTarget* target, std::uint32_t width, std::uint32_t height);

  // Copies |width| x |height| BGRA pixels, rows |pitch| bytes apart, made
  // anew on |target| when the size differs. False when |data| or |target| is
  // null or the copy fails.
  bool Copy(ID2D1RenderTarget* target, const std::uint8_t* data, std::uint32_t pitch,
            std::uint32_t width, std::uint32_t height);

  // Copies the whole of |source| (a frame the engine drew into it).
  bool CopyFrom(ID2D1RenderTarget* target, IWICBitmap* source);

  // Drops the bitmap (lost device, new size).
  void Reset();

  ID2D1Bitmap* get() const { return bitmap_.get(); }
  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  // A frame was copied in since the bitmap was made.
  bool shown() const { return shown_; }

 private:
  win::ComPtr<ID2D1Bitmap> bitmap_;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  bool shown_ = false;
};

}  // namespace emberfall

#endif  // EMBERFALL_UI_FRAME_BITMAPS_H_
