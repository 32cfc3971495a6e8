#include "ui/gdi_canvas.h"

#include <algorithm>
#include <cstring>

namespace emberfall {

DibCanvas::DibCanvas(std::uint32_t width, std::uint32_t height) {
  {
    const win::ScopedScreenDc screen(GetDC(nullptr));
    dc_.reset(CreateCompatibleDC(screen.get()));
  }
  if (!dc_) return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  bitmap_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
  if (!bitmap_) {
    bits_ = nullptr;
    return;
  }
  selection_ = win::SelectInto(dc_.get(), bitmap_.get());
  width_ = width;
  height_ = height;
}

bool GdiCanvas::Create(ID2D1Factory* factory, IWICImagingFactory* wic, std::uint32_t width,
                       std::uint32_t height) {
  Reset();
  if (factory == nullptr || wic == nullptr || width == 0 || height == 0) return false;
  picture_.emplace(width, height);
  const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
      D2D1_RENDER_TARGET_TYPE_DEFAULT,
      D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96.0f, 96.0f);
  if (!picture_->ok() ||
      FAILED(wic->CreateBitmap(width, height, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad,
                               layer_.put())) ||
      FAILED(factory->CreateWicBitmapRenderTarget(layer_.get(), properties, target_.put()))) {
    Reset();
    return false;
  }
  return true;
}

void GdiCanvas::Reset() {
  target_.reset();
  layer_.reset();
  picture_.reset();
}

LockedLayer GdiCanvas::ReadLayer() const {
  LockedLayer locked;
  UINT width = 0;
  UINT height = 0;
  if (!layer_ || FAILED(layer_->GetSize(&width, &height))) return locked;
  const WICRect all{0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  UINT stride = 0;
  UINT size = 0;
  BYTE* data = nullptr;
  if (FAILED(layer_->Lock(&all, WICBitmapLockRead, locked.lock.put())) ||
      FAILED(locked.lock->GetStride(&stride)) || FAILED(locked.lock->GetDataPointer(&size, &data)) ||
      data == nullptr || stride < width * 4 ||
      size < static_cast<std::uint64_t>(stride) * (height - 1) + width * 4) {
    locked.lock.reset();
    return locked;
  }
  locked.pixels = {data, stride, width, height};
  return locked;
}

bool GdiCanvas::KeepFrame(const std::uint8_t* data, std::uint32_t pitch, std::uint32_t width,
                          std::uint32_t height) {
  if (data == nullptr || width == 0 || height == 0 || pitch < width * 4) return false;
  frame_.resize(static_cast<std::size_t>(width) * height * 4);
  for (std::uint32_t y = 0; y < height; ++y) {
    std::memcpy(frame_.data() + static_cast<std::size_t>(y) * width * 4,
                data + static_cast<std::size_t>(y) * pitch, static_cast<std::size_t>(width) * 4);
  }
  frameWidth_ = width;
  frameHeight_ = height;
  return true;
}

bool GdiCanvas::KeepFrame(IWICBitmap* source) {
  UINT width = 0;
  UINT height = 0;
  if (source == nullptr || FAILED(source->GetSize(&width, &height)) || width == 0 || height == 0) {
    return false;
  }
  frame_.resize(static_cast<std::size_t>(width) * height * 4);
  const WICRect all{0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  if (FAILED(source->CopyPixels(&all, width * 4, static_cast<UINT>(frame_.size()), frame_.data()))) {
    ForgetFrame();
    return false;
  }
  frameWidth_ = width;
  frameHeight_ = height;
  return true;
}

PixelsView GdiCanvas::frame() const {
  if (frameWidth_ == 0 || frameHeight_ == 0) return {};
  return {frame_.data(), frameWidth_ * 4, frameWidth_, frameHeight_};
}

bool GdiCanvas::Present(HWND window, const PixelRegion& region) const {
  if (!picture_ || !picture_->ok() || region.left >= region.right || region.top >= region.bottom) {
    return false;
  }
  const win::ScopedWindowDc dc(win::WindowDc{window, GetDC(window)});
  if (!dc) return false;
  const int x = static_cast<int>(region.left);
  const int y = static_cast<int>(region.top);
  return BitBlt(dc.get().dc, x, y, static_cast<int>(region.right - region.left),
                static_cast<int>(region.bottom - region.top), picture_->dc(), x, y, SRCCOPY) != 0;
}

}  // namespace emberfall
