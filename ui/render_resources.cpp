#include "ui/render_resources.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/win/wide.h"
#include "ui/background_video.h"

namespace emberfall {
namespace {

using win::ComPtr;

struct FormatSpec {
  float designSize;
  DWRITE_FONT_WEIGHT weight;
  DWRITE_TEXT_ALIGNMENT alignment;
};

// The cached formats; FindTextFormat tests them in this order.
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

constexpr D2D1_COLOR_F kBrushColours[] = {
    {0.92f, 0.90f, 0.98f, 1.0f},   // text
    {0.78f, 0.62f, 0.96f, 1.0f},   // status
    {1.0f, 1.0f, 1.0f, 0.10f},     // track
    {0.52f, 0.32f, 0.78f, 1.0f},   // main bar fill
    {0.42f, 0.68f, 0.94f, 1.0f},   // thin bar fill
    {0.10f, 0.06f, 0.16f, 0.72f},  // start while not ready
    {0.96f, 0.94f, 1.0f, 1.0f},    // start text while ready
    {0.0f, 0.0f, 0.0f, 0.75f},     // text outline
    {0.86f, 0.80f, 0.98f, 0.88f},  // links
    {0.86f, 0.82f, 0.96f, 0.65f},  // muted
    {0.0f, 0.0f, 0.0f, 0.40f},     // window-button face
    {0.14f, 0.08f, 0.22f, 0.82f},  // start while ready
    {0.20f, 0.12f, 0.30f, 0.92f},  // start while ready and hovered
};

constexpr const wchar_t* kFontFamily = L"Bahnschrift";
constexpr const wchar_t* kFallbackFontFamily = L"Segoe UI";
constexpr const wchar_t* kLocale = L"tr-tr";

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

// A memory DC and top-down 32-bit DIB section, freed together.
class DibCanvas {
 public:
  explicit DibCanvas(std::uint32_t n) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (dc_ == nullptr) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>(n);
    info.bmiHeader.biHeight = -static_cast<LONG>(n);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (bitmap_ != nullptr) previous_ = SelectObject(dc_, bitmap_);
  }
  ~DibCanvas() {
    if (previous_ != nullptr) SelectObject(dc_, previous_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    if (dc_ != nullptr) DeleteDC(dc_);
  }
  DibCanvas(const DibCanvas&) = delete;
  DibCanvas& operator=(const DibCanvas&) = delete;

  bool ok() const { return bits_ != nullptr && previous_ != nullptr; }
  HDC dc() const { return dc_; }
  std::uint8_t* bits() const { return static_cast<std::uint8_t*>(bits_); }

 private:
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  void* bits_ = nullptr;
};

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

RenderResources::RenderResources() = default;
RenderResources::~RenderResources() = default;

float RenderResources::Scale() const { return LayoutScale(clientWidth_, clientHeight_); }

float RenderResources::FontSize(float designSize) const {
  return emberfall::FontSize(designSize, Scale());
}

float RenderResources::TitleBarHeight() const { return emberfall::TitleBarHeight(Scale()); }

ButtonId RenderResources::HitTest(int x, int y) const {
  return emberfall::HitTest(buttons_, static_cast<float>(x), static_cast<float>(y));
}

void RenderResources::ComputeButtonRects() {
  buttons_ = emberfall::ComputeButtonRects(clientWidth_, clientHeight_);
}

bool RenderResources::CreateFrameSource(IWICImagingFactory* factory) {
  frameSource_.reset();
  if (factory == nullptr) return false;
  return SUCCEEDED(factory->CreateBitmap(clientWidth_, clientHeight_,
                                         GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad,
                                         frameSource_.put()));
}

bool RenderResources::InitRendering(HWND window) {
  window_ = window;
  if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                 reinterpret_cast<IUnknown**>(textFactory_.put())))) {
    return false;
  }
  ComPtr<IWICImagingFactory> wic = CreateWicFactory();
  if (!wic) return false;
  RECT client{};
  GetClientRect(window_, &client);
  clientWidth_ = client.right > client.left ? static_cast<std::uint32_t>(client.right - client.left) : 1124;
  clientHeight_ = client.bottom > client.top ? static_cast<std::uint32_t>(client.bottom - client.top) : 618;
  if (CreateFrameSource(wic.get())) {
    EnsureDeviceResources();
    ComputeButtonRects();
  }
  return static_cast<bool>(renderTarget_);
}

void RenderResources::EnsureDeviceResources() {
  if (renderTarget_ || window_ == nullptr) return;
  if (!factory_ &&
      FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                               reinterpret_cast<void**>(factory_.put())))) {
    return;
  }
  const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties();
  // Kept between frames: a countdown tick draws its button alone.
  const D2D1_HWND_RENDER_TARGET_PROPERTIES hwndProperties = D2D1::HwndRenderTargetProperties(
      window_, D2D1::SizeU(clientWidth_, clientHeight_), D2D1_PRESENT_OPTIONS_RETAIN_CONTENTS);
  if (FAILED(factory_->CreateHwndRenderTarget(properties, hwndProperties, renderTarget_.put()))) {
    return;
  }
  renderTarget_->SetDpi(96.0f, 96.0f);
  renderTarget_->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_CLEARTYPE);
  for (std::size_t i = 0; i <= kButtonFace; ++i) {
    renderTarget_->CreateSolidColorBrush(kBrushColours[i], brushes_[i].put());
  }
  frameBitmap_.reset();
  frameBitmapWidth_ = frameBitmapHeight_ = 0;
  if (SUCCEEDED(renderTarget_->CreateBitmap(D2D1::SizeU(clientWidth_, clientHeight_), nullptr, 0,
                                            FrameBitmapProperties(), frameBitmap_.put()))) {
    frameBitmapWidth_ = clientWidth_;
    frameBitmapHeight_ = clientHeight_;
  }
  for (std::size_t i = kStartReady; i < kBrushCount; ++i) {
    renderTarget_->CreateSolidColorBrush(kBrushColours[i], brushes_[i].put());
  }
  iconBitmap_.reset();
  iconSize_ = 0;
  EnsureIconBitmap();
  CreateTextFormats();
}

void RenderResources::DiscardDeviceResources() {
  // Everything made by the target belongs to its device and dies with it.
  textCache_.clear();
  for (auto& brush : brushes_) brush.reset();
  stillBitmap_.reset();
  faceBitmap_.reset();
  faceLayer_.reset();
  faceKey_.reset();
  frameShown_ = false;
  frameBitmap_.reset();
  frameBitmapWidth_ = frameBitmapHeight_ = 0;
  iconBitmap_.reset();
  iconSize_ = 0;
  target_ = nullptr;
  renderTarget_.reset();
}

void RenderResources::ResizeRenderTarget(std::uint32_t width, std::uint32_t height) {
  if (width == 0 || height == 0) return;
  clientWidth_ = width;
  clientHeight_ = height;
  if (renderTarget_) {
    renderTarget_->Resize(D2D1::SizeU(width, height));
    renderTarget_->SetDpi(96.0f, 96.0f);
  }
  textCache_.clear();
  widths_.clear();
  faceBitmap_.reset();
  faceLayer_.reset();
  faceKey_.reset();
  frameSource_.reset();
  frameShown_ = false;
  frameBitmap_.reset();
  frameBitmapWidth_ = frameBitmapHeight_ = 0;
  ComPtr<IWICImagingFactory> wic = CreateWicFactory();
  CreateFrameSource(wic.get());
  CreateTextFormats();
  ComputeButtonRects();
  iconBitmap_.reset();
  iconSize_ = 0;
  if (renderTarget_) EnsureIconBitmap();
}

ComPtr<IDWriteTextFormat> RenderResources::CreateFormat(float size, DWRITE_TEXT_ALIGNMENT alignment,
                                                        bool bold) const {
  ComPtr<IDWriteTextFormat> format;
  if (!textFactory_ || size <= 0) return format;
  const DWRITE_FONT_WEIGHT weight = bold ? DWRITE_FONT_WEIGHT_SEMI_BOLD : DWRITE_FONT_WEIGHT_MEDIUM;
  for (const wchar_t* family : {kFontFamily, kFallbackFontFamily}) {
    if (SUCCEEDED(textFactory_->CreateTextFormat(family, nullptr, weight, DWRITE_FONT_STYLE_NORMAL,
                                                 DWRITE_FONT_STRETCH_NORMAL, size, kLocale,
                                                 format.put()))) {
      format->SetTextAlignment(alignment);
      format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
      KeepToOneLine(textFactory_.get(), format.get());
      return format;
    }
  }
  format.reset();
  return format;
}

void RenderResources::CreateTextFormats() {
  for (std::size_t i = 0; i < kFormatCount; ++i) {
    formats_[i].reset();
    formats_[i] = CreateFormat(FontSize(kFormats[i].designSize), kFormats[i].alignment,
                               kFormats[i].weight == DWRITE_FONT_WEIGHT_SEMI_BOLD);
  }
}

IDWriteTextFormat* RenderResources::FindTextFormat(float size, DWRITE_TEXT_ALIGNMENT alignment,
                                                   bool bold) const {
  const DWRITE_FONT_WEIGHT weight = bold ? DWRITE_FONT_WEIGHT_SEMI_BOLD : DWRITE_FONT_WEIGHT_MEDIUM;
  for (std::size_t i = 0; i < kFormatCount; ++i) {
    if (std::fabs(FontSize(kFormats[i].designSize) - size) < 0.05f &&
        kFormats[i].alignment == alignment && kFormats[i].weight == weight) {
      return formats_[i].get();
    }
  }
  return nullptr;
}

void RenderResources::EnsureIconBitmap() {
  if (!renderTarget_) return;
  const std::uint32_t n = std::max(static_cast<std::uint32_t>(28.0f * Scale()), 16u);
  if (iconBitmap_ && iconSize_ == n) return;
  iconBitmap_.reset();
  iconSize_ = 0;
  HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1),
                                             IMAGE_ICON, static_cast<int>(n), static_cast<int>(n), 0));
  if (icon == nullptr) return;
  iconBitmap_ = IconToBitmap(icon, n);
  if (iconBitmap_) iconSize_ = n;
  DestroyIcon(icon);
}

ComPtr<ID2D1Bitmap> RenderResources::IconToBitmap(HICON icon, std::uint32_t n) {
  ComPtr<ID2D1Bitmap> bitmap;
  DibCanvas canvas(n);
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
  renderTarget_->CreateBitmap(D2D1::SizeU(n, n), pixels, n * 4, FrameBitmapProperties(),
                              bitmap.put());
  return bitmap;
}

bool RenderResources::UploadVideoFrame() {
  if (!frameSource_ || !renderTarget_) return false;
  UINT width = 0;
  UINT height = 0;
  if (FAILED(frameSource_->GetSize(&width, &height))) return false;
  const WICRect whole{0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  ComPtr<IWICBitmapLock> lock;
  if (FAILED(frameSource_->Lock(&whole, WICBitmapLockRead, lock.put()))) return false;
  UINT lockWidth = 0;
  UINT lockHeight = 0;
  if (FAILED(lock->GetSize(&lockWidth, &lockHeight))) return false;
  UINT stride = 0;
  if (FAILED(lock->GetStride(&stride)) || stride == 0) stride = lockWidth * 4;
  UINT size = 0;
  BYTE* data = nullptr;
  if (FAILED(lock->GetDataPointer(&size, &data)) || data == nullptr) return false;
  return CopyIntoFrameBitmap(data, stride, lockWidth, lockHeight);
}

bool RenderResources::CopyIntoFrameBitmap(const std::uint8_t* data, std::uint32_t pitch,
                                          std::uint32_t width, std::uint32_t height) {
  if (data == nullptr || !renderTarget_) return false;
  if (!frameBitmap_ || frameBitmapWidth_ != width || frameBitmapHeight_ != height) {
    frameBitmap_.reset();
    frameBitmapWidth_ = frameBitmapHeight_ = 0;
    frameShown_ = false;
    if (FAILED(renderTarget_->CreateBitmap(D2D1::SizeU(width, height), nullptr, 0,
                                           FrameBitmapProperties(), frameBitmap_.put()))) {
      return false;
    }
    frameBitmapWidth_ = width;
    frameBitmapHeight_ = height;
  }
  return SUCCEEDED(frameBitmap_->CopyFromMemory(nullptr, data, pitch));
}

bool RenderResources::DrawStill(const BackgroundVideo* video) {
  if (video == nullptr || !video->still()) return false;
  const StillFrame& still = *video->still();
  if (!stillBitmap_ &&
      FAILED(renderTarget_->CreateBitmap(D2D1::SizeU(still.width, still.height),
                                         still.pixels.data(), still.width * 4,
                                         FrameBitmapProperties(), stillBitmap_.put()))) {
    return false;
  }
  const RectF crop = CropToFill(still.width, still.height, clientWidth_, clientHeight_);
  const auto w = static_cast<float>(still.width);
  const auto h = static_cast<float>(still.height);
  const D2D1_RECT_F source = D2D1::RectF(crop.left * w, crop.top * h, crop.right * w, crop.bottom * h);
  renderTarget_->DrawBitmap(
      stillBitmap_.get(),
      D2D1::RectF(0, 0, static_cast<float>(clientWidth_), static_cast<float>(clientHeight_)), 1.0f,
      D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, &source);
  return true;
}

void RenderResources::FetchVideoFrame(BackgroundVideo* video) {
  if (video == nullptr || !video->playing()) return;
  bool copied = false;
  if (video->route() == FrameRoute::Bitmap) {
    copied = frameSource_ && video->TransferFrame(frameSource_.get()) && UploadVideoFrame();
  } else if (video->route() == FrameRoute::Texture) {
    const MappedFrame frame = video->ReadFrame(clientWidth_, clientHeight_);
    copied = CopyIntoFrameBitmap(frame.data(), frame.pitch(), frame.width(), frame.height());
  }
  if (copied) frameShown_ = true;
}

void RenderResources::DrawBackground(const BackgroundVideo* video, const D2D1_RECT_F* clip) {
  // A frame that could not be had this time leaves the last one up.
  const bool frame = frameShown_ && frameBitmap_ && video != nullptr && video->playing();
  if (clip != nullptr) renderTarget_->PushAxisAlignedClip(*clip, D2D1_ANTIALIAS_MODE_ALIASED);
  const D2D1_RECT_F client =
      D2D1::RectF(0, 0, static_cast<float>(clientWidth_), static_cast<float>(clientHeight_));
  if (frame) {
    renderTarget_->DrawBitmap(frameBitmap_.get(), client, 1.0f,
                              D2D1_BITMAP_INTERPOLATION_MODE_LINEAR);
    lastBackground_ = Background::Video;
  } else if (DrawStill(video)) {
    lastBackground_ = Background::Still;
  } else {
    renderTarget_->Clear(
        D2D1::ColorF(kClearColour[0], kClearColour[1], kClearColour[2], kClearColour[3]));
    lastBackground_ = Background::Clear;
  }
  if (clip != nullptr) renderTarget_->PopAxisAlignedClip();
}

}  // namespace emberfall
