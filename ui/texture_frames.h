// The video's second frame route, for media engines that hand frames over
// only as Direct3D 11 textures (Wine's): a device (hardware, else WARP)
// shared with the engine through a DXGI device manager, a BGRA texture the
// engine draws each frame into, and a staging copy of it that the CPU reads.
// UI thread only; the engine's own threads use the device through the
// manager, which is why the device is made thread-safe.
#ifndef EMBERFALL_UI_TEXTURE_FRAMES_H_
#define EMBERFALL_UI_TEXTURE_FRAMES_H_

#include <cstdint>

#include "core/win/windows_include.h"
#include "core/win/com_ptr.h"
#include "ui/layout.h"

// After windows.h, which they need.
#include <d3d11.h>
#include <mfobjects.h>

namespace emberfall {

namespace win {
struct IMFMediaEngine;
}  // namespace win

// The pixels of one frame as the CPU reads them, valid while the view lives:
// it keeps the staging texture mapped. Empty (data null) when reading failed.
class MappedFrame {
 public:
  MappedFrame() = default;
  MappedFrame(ID3D11DeviceContext* context, ID3D11Texture2D* texture, std::uint32_t width,
              std::uint32_t height);
  ~MappedFrame();
  MappedFrame(const MappedFrame&) = delete;
  MappedFrame& operator=(const MappedFrame&) = delete;

  const std::uint8_t* data() const { return data_; }
  std::uint32_t pitch() const { return pitch_; }
  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }

 private:
  ID3D11DeviceContext* context_ = nullptr;  // not owned; outlived by the frames' owner
  ID3D11Texture2D* texture_ = nullptr;
  const std::uint8_t* data_ = nullptr;
  std::uint32_t pitch_ = 0;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
};

class TextureFrames {
 public:
  TextureFrames();
  ~TextureFrames();
  TextureFrames(const TextureFrames&) = delete;
  TextureFrames& operator=(const TextureFrames&) = delete;

  // Makes the device and the manager; true when both exist (at once if they
  // already did).
  bool Create();

  // What the engine's creation attributes take as MF_MEDIA_ENGINE_DXGI_MANAGER;
  // null before Create.
  IMFDXGIDeviceManager* manager() const { return manager_.get(); }

  // Has |engine| draw its current frame, cropped by |crop| (normalised), into
  // the texture at |width| x |height| and copies it for reading. The
  // engine's result; E_FAIL when there is no device or texture.
  HRESULT Transfer(win::IMFMediaEngine* engine, std::uint32_t width, std::uint32_t height,
                   const RectF& crop);

  // The last transferred frame's pixels (32-bit BGRA, opaque).
  MappedFrame Read() const;

  // Releases the textures, the manager and the device.
  void Release();

 private:
  bool EnsureTextures(std::uint32_t width, std::uint32_t height);

  win::ComPtr<ID3D11Device> device_;
  win::ComPtr<ID3D11DeviceContext> context_;
  win::ComPtr<IMFDXGIDeviceManager> manager_;
  win::ComPtr<ID3D11Texture2D> target_;
  win::ComPtr<ID3D11Texture2D> staging_;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
};

}  // namespace emberfall

#endif  // EMBERFALL_UI_TEXTURE_FRAMES_H_
