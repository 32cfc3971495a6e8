// Pictures put on the window with GDI instead of Direct2D's presentation:
// a memory DC over a top-down 32-bit DIB section, and the launcher's face
// drawn by Direct2D into a WIC bitmap the CPU can read. Under Wine,
// Direct2D presents through OpenGL, which a machine without a GPU driver
// runs in software at tens of milliseconds a frame whatever is drawn,
// while GDI puts the same picture on screen for well under one. UI thread
// only.
#ifndef EMBERFALL_UI_GDI_CANVAS_H_
#define EMBERFALL_UI_GDI_CANVAS_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "core/win/com_ptr.h"
#include "core/win/windows_include.h"
#include "ui/frame_compose.h"
#include "ui/scoped_gdi.h"

// After windows.h, which they need.
#include <d2d1.h>
#include <wincodec.h>

namespace emberfall {

// A memory DC with a top-down 32-bit DIB section of |width| x |height|
// selected into it.
class DibCanvas {
 public:
  DibCanvas(std::uint32_t width, std::uint32_t height);

  bool ok() const { return bits_ != nullptr && selection_.is_valid(); }
  HDC dc() const { return dc_.get(); }
  std::uint8_t* bits() const { return static_cast<std::uint8_t*>(bits_); }
  PixelsSpan pixels() const { return {bits(), width_ * 4, width_, height_}; }

 private:
  // In this order, so that the bitmap is deselected before it is deleted,
  // and deleted before its DC.
  win::ScopedMemoryDc dc_;
  win::ScopedBitmap bitmap_;
  win::ScopedSelection selection_;
  void* bits_ = nullptr;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
};

// The face's layer read through a WIC lock; the lock holds while this
// lives. Empty when the bitmap could not be locked.
struct LockedLayer {
  win::ComPtr<IWICBitmapLock> lock;
  PixelsView pixels;
};

class GdiCanvas {
 public:
  // Makes the face's layer (a premultiplied WIC bitmap with a Direct2D
  // target on it) and the window-sized picture, dropping what was made
  // before; false when any part cannot be made, and then nothing is kept.
  bool Create(ID2D1Factory* factory, IWICImagingFactory* wic, std::uint32_t width,
              std::uint32_t height);
  // Drops the layer, its target and the picture; the kept frame stays.
  void Reset();

  // What the face is drawn with; null before Create.
  ID2D1RenderTarget* target() const { return target_.get(); }
  // The layer's pixels as the last EndDraw on target() left them.
  LockedLayer ReadLayer() const;
  // The picture that goes on screen.
  PixelsSpan picture() const { return picture_ ? picture_->pixels() : PixelsSpan{}; }

  // Keeps a copy of a video frame (BGRA rows |pitch| bytes apart); false
  // for an empty one, which leaves the last frame kept.
  bool KeepFrame(const std::uint8_t* data, std::uint32_t pitch, std::uint32_t width,
                 std::uint32_t height);
  bool KeepFrame(IWICBitmap* source);
  // The frame kept last; empty when there is none.
  PixelsView frame() const;
  void ForgetFrame() { frameWidth_ = frameHeight_ = 0; }

  // Puts |region| of the picture on |window|'s client area, at the same
  // place; false when there is no picture or no DC.
  bool Present(HWND window, const PixelRegion& region) const;

 private:
  win::ComPtr<IWICBitmap> layer_;
  win::ComPtr<ID2D1RenderTarget> target_;
  std::optional<DibCanvas> picture_;
  std::vector<std::uint8_t> frame_;
  std::uint32_t frameWidth_ = 0;
  std::uint32_t frameHeight_ = 0;
};

}  // namespace emberfall

#endif  // EMBERFALL_UI_GDI_CANVAS_H_
