// The face put together on the CPU: a video frame stretched over the client
// area (as Direct2D's linear interpolation would), the face's premultiplied
// layer drawn over it, within a region. Where Direct2D presents through a
// software GL stack (Wine on a machine without a GPU driver) its every
// frame costs tens of milliseconds whatever it draws; this costs a few.
// Pure arithmetic on 32-bit BGRA pixels, so it builds and is tested on
// every platform.
#ifndef EMBERFALL_UI_FRAME_COMPOSE_H_
#define EMBERFALL_UI_FRAME_COMPOSE_H_

#include <cstdint>

#include "ui/layout.h"

namespace emberfall {

// Pixels to read: 32-bit BGRA rows |pitch| bytes apart.
struct PixelsView {
  const std::uint8_t* data = nullptr;
  std::uint32_t pitch = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Pixels to write, laid out as PixelsView.
struct PixelsSpan {
  std::uint8_t* data = nullptr;
  std::uint32_t pitch = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// A half-open pixel rectangle [left, right) x [top, bottom).
struct PixelRegion {
  std::uint32_t left = 0;
  std::uint32_t top = 0;
  std::uint32_t right = 0;
  std::uint32_t bottom = 0;
};

// The region of |out| that |rect| touches, its edges rounded outwards and
// cut to |out|.
PixelRegion RegionOf(const RectF& rect, const PixelsSpan& out);

// Stretches the part |crop| of |source| (fractions of its size, as
// CropToFill gives) over the whole of |out| and writes the pixels inside
// |region|, opaque. Sample centres map as Direct2D maps them, so a frame
// at the target's size is copied unchanged. Nothing is written when
// |source| is empty.
void StretchOpaque(const PixelsView& source, const RectF& crop, const PixelsSpan& out,
                   const PixelRegion& region);

// Writes |bgra| (opaque) to every pixel of |out| inside |region|.
void FillOpaque(const PixelsSpan& out, std::uint32_t bgra, const PixelRegion& region);

// Draws |layer|, premultiplied and the size of |out|, over |out| inside
// |region| (source over destination).
void BlendPremultiplied(const PixelsView& layer, const PixelsSpan& out, const PixelRegion& region);

}  // namespace emberfall

#endif  // EMBERFALL_UI_FRAME_COMPOSE_H_
