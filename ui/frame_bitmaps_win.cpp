#include "ui/frame_bitmaps.h"

#include <algorithm>
#include <cstddef>

#include "ui/gdi_canvas.h"

namespace emberfall {
namespace {

using win::ComPtr;

ComPtr<ID2D1Bitmap> IconToBitmap(ID2D1RenderTarget* target, HICON icon, std::uint32_t n) {
  ComPtr<ID2D1Bitmap> bitmap;
  DibCanvas canvas(n, n);
  if (!canvas.ok()) return bitmap;
  std::uint8_t* pixels = canvas.bits();
  const std::size_t bytes = static_cast<std::size_t>(n) * n * 4;
  std::fill(pixels, pixels + bytes, std::uint8_t{0});
  DrawIconEx(canvas.dc(), 0, 0, icon, static_cast<int>(n), static_cast<int>(n), 0, nullptr,
             DI_NORMAL);
  GdiFlush();
  for (std::size_t i = 0; i < bytes; i += 4) {
    const unsigned a = pixels[i + 3];
    if (a == 0 || a == 255) continue;
    for (std::size_t c = 0; c < 3; ++c) pixels[i + c] = static_cast<std::uint8_t>(pixels[i + c] * a / 255);
  }
  target->CreateBitmap(D2D1::SizeU(n, n), pixels, n * 4, FrameBitmapProperties(), bitmap.put());
  return bitmap;
}

}  // namespace

D2D1_BITMAP_PROPERTIES FrameBitmapProperties() {
  return D2D1::BitmapProperties(
      D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96.0f, 96.0f);
}

ComPtr<IWICImagingFactory> CreateWicFactory() {
  ComPtr<IWICImagingFactory> factory;
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IWICImagingFactory, factory.put_void()))) {
    return factory;
  }
  // Systems before Windows 8 only have the first factory.
  CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                   factory.put_void());
  return factory;
}

ComPtr<ID2D1Bitmap> LoadIconBitmap(ID2D1RenderTarget* target, std::uint32_t size) {
  const win::ScopedIcon icon(static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                 static_cast<int>(size), static_cast<int>(size), 0)));
  if (!icon) return {};
  return IconToBitmap(target, icon.get(), size);
}

bool FrameBitmap::Create(ID2D1RenderTarget* target, std::uint32_t width, std::uint32_t height) {
  Reset();
  if (FAILED(target->CreateBitmap(D2D1::SizeU(width, height), nullptr, 0, FrameBitmapProperties(),
                                  bitmap_.put()))) {
    return false;
  }
  width_ = width;
  height_ = height;
  return true;
}

void FrameBitmap::Reset() {
  bitmap_.reset();
  width_ = height_ = 0;
  shown_ = false;
}

bool FrameBitmap::Copy(ID2D1RenderTarget* target, const std::uint8_t* data, std::uint32_t pitch,
                       std::uint32_t width, std::uint32_t height) {
  if (data == nullptr || target == nullptr) return false;
  if ((!bitmap_ || width_ != width || height_ != height) && !Create(target, width, height)) {
    return false;
  }
  if (FAILED(bitmap_->CopyFromMemory(nullptr, data, pitch))) return false;
  shown_ = true;
  return true;
}

bool FrameBitmap::CopyFrom(ID2D1RenderTarget* target, IWICBitmap* source) {
  if (source == nullptr || target == nullptr) return false;
  UINT width = 0;
  UINT height = 0;
  if (FAILED(source->GetSize(&width, &height))) return false;
  const WICRect whole{0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  ComPtr<IWICBitmapLock> lock;
  if (FAILED(source->Lock(&whole, WICBitmapLockRead, lock.put()))) return false;
  UINT lockWidth = 0;
  UINT lockHeight = 0;
  if (FAILED(lock->GetSize(&lockWidth, &lockHeight))) return false;
  UINT stride = 0;
  if (FAILED(lock->GetStride(&stride)) || stride == 0) stride = lockWidth * 4;
  UINT size = 0;
  BYTE* data = nullptr;
  if (FAILED(lock->GetDataPointer(&size, &data)) || data == nullptr) return false;
  return Copy(target, data, stride, lockWidth, lockHeight);
}

}  // namespace emberfall
