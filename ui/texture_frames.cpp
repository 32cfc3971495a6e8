#include "ui/texture_frames.h"

#include "ui/media_engine.h"

// After windows.h, which it needs.
#include <mfapi.h>

namespace emberfall {

using win::ComPtr;

MappedFrame::MappedFrame(ID3D11DeviceContext* context, ID3D11Texture2D* texture,
                         std::uint32_t width, std::uint32_t height) {
  D3D11_MAPPED_SUBRESOURCE mapped{};
  if (context == nullptr || texture == nullptr ||
      FAILED(context->Map(texture, 0, D3D11_MAP_READ, 0, &mapped)) || mapped.pData == nullptr) {
    return;
  }
  context_ = context;
  texture_ = texture;
  data_ = static_cast<const std::uint8_t*>(mapped.pData);
  pitch_ = mapped.RowPitch;
  width_ = width;
  height_ = height;
}

MappedFrame::~MappedFrame() {
  if (data_ != nullptr) context_->Unmap(texture_, 0);
}

TextureFrames::TextureFrames() = default;

TextureFrames::~TextureFrames() { Release(); }

bool TextureFrames::Create() {
  if (manager_) return true;
  // The engine decodes on threads of its own that share this device.
  constexpr UINT kFlags = D3D11_CREATE_DEVICE_BGRA_SUPPORT | D3D11_CREATE_DEVICE_VIDEO_SUPPORT;
  for (const D3D_DRIVER_TYPE type : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}) {
    if (SUCCEEDED(D3D11CreateDevice(nullptr, type, nullptr, kFlags, nullptr, 0,
                                    D3D11_SDK_VERSION, device_.put(), nullptr,
                                    context_.put()))) {
      break;
    }
  }
  if (!device_ || !context_) {
    Release();
    return false;
  }
  ComPtr<ID3D10Multithread> multithread;
  if (SUCCEEDED(device_->QueryInterface(__uuidof(ID3D10Multithread), multithread.put_void()))) {
    multithread->SetMultithreadProtected(TRUE);
  }
  UINT token = 0;
  if (FAILED(MFCreateDXGIDeviceManager(&token, manager_.put())) ||
      FAILED(manager_->ResetDevice(device_.get(), token))) {
    Release();
    return false;
  }
  return true;
}

bool TextureFrames::EnsureTextures(std::uint32_t width, std::uint32_t height) {
  if (target_ && staging_ && width == width_ && height == height_) return true;
  target_.reset();
  staging_.reset();
  width_ = height_ = 0;
  if (!device_ || width == 0 || height == 0) return false;
  D3D11_TEXTURE2D_DESC desc{};
  desc.Width = width;
  desc.Height = height;
  desc.MipLevels = 1;
  desc.ArraySize = 1;
  desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  desc.SampleDesc.Count = 1;
  desc.Usage = D3D11_USAGE_DEFAULT;
  desc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
  if (FAILED(device_->CreateTexture2D(&desc, nullptr, target_.put()))) return false;
  desc.Usage = D3D11_USAGE_STAGING;
  desc.BindFlags = 0;
  desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  if (FAILED(device_->CreateTexture2D(&desc, nullptr, staging_.put()))) {
    target_.reset();
    return false;
  }
  width_ = width;
  height_ = height;
  return true;
}

HRESULT TextureFrames::Transfer(win::IMFMediaEngine* engine, std::uint32_t width,
                                std::uint32_t height, const RectF& crop) {
  if (engine == nullptr || !EnsureTextures(width, height)) return E_FAIL;
  const win::MfVideoNormalizedRect source{crop.left, crop.top, crop.right, crop.bottom};
  const RECT destination{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  const win::MfArgb border{0, 0, 0, 255};
  const HRESULT result = engine->TransferVideoFrame(target_.get(), &source, &destination, &border);
  if (SUCCEEDED(result)) context_->CopyResource(staging_.get(), target_.get());
  return result;
}

MappedFrame TextureFrames::Read() const {
  return MappedFrame(context_.get(), staging_.get(), width_, height_);
}

void TextureFrames::Release() {
  staging_.reset();
  target_.reset();
  width_ = height_ = 0;
  manager_.reset();
  context_.reset();
  device_.reset();
}

}  // namespace emberfall
