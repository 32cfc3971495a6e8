#include "ui/render_resources.h"

#include <algorithm>
#include <cmath>

#include "ui/background_video.h"

namespace emberfall {
namespace {

using win::ComPtr;

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

D2D1_RECT_F ToD2D(const RectF& r) { return D2D1::RectF(r.left, r.top, r.right, r.bottom); }

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

Presentation DefaultPresentation() {
  // Wine's own export: in every Wine and Proton, on no Windows.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr
             ? Presentation::Gdi
             : Presentation::Direct2D;
}

bool RenderResources::InitRendering(HWND window, Presentation presentation) {
  window_ = window;
  presentation_ = presentation;
  if (!text_.CreateFactory()) return false;
  ComPtr<IWICImagingFactory> wic = CreateWicFactory();
  if (!wic) return false;
  RECT client{};
  GetClientRect(window_, &client);
  clientWidth_ = client.right > client.left ? static_cast<std::uint32_t>(client.right - client.left) : 1124;
  clientHeight_ = client.bottom > client.top ? static_cast<std::uint32_t>(client.bottom - client.top) : 618;
  if (CreateFrameSource(wic.get())) {
    EnsureDeviceResources();
    // A system that draws no WIC layer may still have a window target.
    if (Device() == nullptr && presentation_ == Presentation::Gdi) {
      presentation_ = Presentation::Direct2D;
      EnsureDeviceResources();
    }
    ComputeButtonRects();
  }
  return Device() != nullptr;
}

void RenderResources::EnsureDeviceResources() {
  if (Device() != nullptr || window_ == nullptr) return;
  if (!factory_ &&
      FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                               reinterpret_cast<void**>(factory_.put())))) {
    return;
  }
  if (presentation_ == Presentation::Gdi) {
    const ComPtr<IWICImagingFactory> wic = CreateWicFactory();
    if (!canvas_.Create(factory_.get(), wic.get(), clientWidth_, clientHeight_)) return;
  } else {
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties();
    // Kept between frames: a countdown tick draws its button alone.
    const D2D1_HWND_RENDER_TARGET_PROPERTIES hwndProperties = D2D1::HwndRenderTargetProperties(
        window_, D2D1::SizeU(clientWidth_, clientHeight_), D2D1_PRESENT_OPTIONS_RETAIN_CONTENTS);
    if (FAILED(factory_->CreateHwndRenderTarget(properties, hwndProperties, hwndTarget_.put()))) {
      return;
    }
  }
  ID2D1RenderTarget* device = Device();
  device->SetDpi(96.0f, 96.0f);
  // Over a layer that is not opaque, ClearType has nothing to blend with.
  device->SetTextAntialiasMode(presentation_ == Presentation::Gdi
                                   ? D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE
                                   : D2D1_TEXT_ANTIALIAS_MODE_CLEARTYPE);
  for (std::size_t i = 0; i <= kButtonFace; ++i) {
    device->CreateSolidColorBrush(kBrushColours[i], brushes_[i].put());
  }
  if (presentation_ == Presentation::Direct2D) frame_.Create(device, clientWidth_, clientHeight_);
  for (std::size_t i = kStartReady; i < kBrushCount; ++i) {
    device->CreateSolidColorBrush(kBrushColours[i], brushes_[i].put());
  }
  iconBitmap_.reset();
  iconSize_ = 0;
  EnsureIconBitmap();
  text_.CreateFormats(Scale());
}

void RenderResources::DiscardDeviceResources() {
  // Everything made by the target belongs to its device and dies with it.
  text_.DiscardBitmaps();
  for (auto& brush : brushes_) brush.reset();
  stillBitmap_.reset();
  faceBitmap_.reset();
  faceLayer_.reset();
  faceKey_.reset();
  frame_.Reset();
  iconBitmap_.reset();
  iconSize_ = 0;
  target_ = nullptr;
  hwndTarget_.reset();
  canvas_.Reset();
}

void RenderResources::ResizeRenderTarget(std::uint32_t width, std::uint32_t height) {
  if (width == 0 || height == 0) return;
  clientWidth_ = width;
  clientHeight_ = height;
  // The layer and the picture are made at the client's size.
  if (presentation_ == Presentation::Gdi) DiscardDeviceResources();
  if (hwndTarget_) {
    hwndTarget_->Resize(D2D1::SizeU(width, height));
    hwndTarget_->SetDpi(96.0f, 96.0f);
  }
  text_.DiscardBitmaps();
  text_.ForgetWidths();
  faceBitmap_.reset();
  faceLayer_.reset();
  faceKey_.reset();
  frameSource_.reset();
  frame_.Reset();
  ComPtr<IWICImagingFactory> wic = CreateWicFactory();
  CreateFrameSource(wic.get());
  text_.CreateFormats(Scale());
  ComputeButtonRects();
  iconBitmap_.reset();
  iconSize_ = 0;
  if (Device() != nullptr) EnsureIconBitmap();
}

void RenderResources::EnsureIconBitmap() {
  if (Device() == nullptr) return;
  const std::uint32_t n = std::max(static_cast<std::uint32_t>(28.0f * Scale()), 16u);
  if (iconBitmap_ && iconSize_ == n) return;
  iconBitmap_.reset();
  iconSize_ = 0;
  iconBitmap_ = LoadIconBitmap(Device(), n);
  if (iconBitmap_) iconSize_ = n;
}

void RenderResources::FillRounded(const RectF& rect, float radius, ID2D1Brush* brush) {
  if (brush == nullptr) return;
  target_->FillRoundedRectangle(D2D1::RoundedRect(ToD2D(rect), radius, radius), brush);
}

void RenderResources::DrawOutlinedText(const std::u16string& text, const RectF& rect,
                                       ID2D1Brush* brush, float size,
                                       DWRITE_TEXT_ALIGNMENT alignment, bool bold) {
  text_.DrawOutlined(Device(), target_, text, rect, brush, brushes_[kOutline].get(), size,
                     alignment, bold);
}

void RenderResources::DrawHeader(const UiStrings& strings, ButtonId hoverButton) {
  const float s = Scale();
  EnsureIconBitmap();
  if (iconBitmap_) {
    target_->DrawBitmap(iconBitmap_.get(), D2D1::RectF(22 * s, 10 * s, 50 * s, 38 * s), 1.0f,
                              D2D1_BITMAP_INTERPOLATION_MODE_LINEAR);
  }
  DrawOutlinedText(u"EMBERFALL", {58 * s, 10 * s, 250 * s, 38 * s}, brushes_[kText].get(),
                   FontSize(14), DWRITE_TEXT_ALIGNMENT_LEADING, true);

  const std::pair<ButtonId, const std::u16string*> links[] = {
      {ButtonId::Website, &strings.Website},
      {ButtonId::Support, &strings.Support},
      {ButtonId::Community, &strings.Discord},
  };
  for (const auto& [id, text] : links) {
    ID2D1Brush* brush = hoverButton == id ? brushes_[kText].get() : brushes_[kLink].get();
    DrawOutlinedText(*text, buttons_[static_cast<std::size_t>(id)], brush, FontSize(13),
                     DWRITE_TEXT_ALIGNMENT_CENTER, false);
  }

  const RectF& settings = buttons_[static_cast<std::size_t>(ButtonId::Settings)];
  const RectF& minimise = buttons_[static_cast<std::size_t>(ButtonId::Minimise)];
  const RectF& close = buttons_[static_cast<std::size_t>(ButtonId::Close)];
  for (const RectF* r : {&settings, &minimise, &close}) FillRounded(*r, 6 * s, brushes_[kButtonFace].get());

  DrawOutlinedText(u"\u2699", settings,
                   hoverButton == ButtonId::Settings ? brushes_[kText].get() : brushes_[kMuted].get(),
                   FontSize(14), DWRITE_TEXT_ALIGNMENT_CENTER, false);
  DrawOutlinedText(u"-", minimise, brushes_[kMuted].get(), FontSize(16),
                   DWRITE_TEXT_ALIGNMENT_CENTER, true);
  DrawOutlinedText(u"x", close, brushes_[kMuted].get(), FontSize(14), DWRITE_TEXT_ALIGNMENT_CENTER,
                   true);
}

void RenderResources::DrawProgressPanel(const ProgressState& state, const UiStrings& strings,
                                        bool ready, ButtonId hoverButton, std::int32_t countdown) {
  ComputeButtonRects();
  const PanelLayout panel = ComputePanelLayout(clientWidth_, clientHeight_);
  const float s = panel.scale;
  const float left = panel.left;
  const float right = panel.right;
  const float statusTop = panel.statusTop;
  const float barTop = panel.barTop;

  const std::u16string& status = state.statusText.empty() ? strings.Checking : state.statusText;
  DrawOutlinedText(status, {left, statusTop, right - 250 * s, statusTop + 22 * s},
                   brushes_[kStatus].get(), FontSize(13), DWRITE_TEXT_ALIGNMENT_LEADING, true);
  const std::u16string detail = state.detailText.empty() ? std::u16string(u" ") : state.detailText;
  DrawOutlinedText(detail, {right - 240 * s, statusTop, right, statusTop + 22 * s},
                   brushes_[kStatus].get(), FontSize(13), DWRITE_TEXT_ALIGNMENT_TRAILING, false);

  const float overall = static_cast<float>(std::min<std::uint32_t>(state.overallPercent, 100)) / 100;
  const RectF mainBar{left, barTop, right, barTop + 14 * s};
  FillRounded(mainBar, 2 * s, brushes_[kTrack].get());
  if (overall > 0) {
    FillRounded({left, barTop, left + overall * (right - left), barTop + 14 * s}, 2 * s,
                brushes_[kFillMain].get());
  }
  if (!state.barText.empty()) {
    DrawOutlinedText(state.barText, mainBar, brushes_[kText].get(), FontSize(11),
                     DWRITE_TEXT_ALIGNMENT_CENTER, true);
  }

  const float file = static_cast<float>(std::min<std::uint32_t>(state.filePercent, 100)) / 100;
  FillRounded({left, barTop + 19 * s, right, barTop + 23 * s}, 2 * s, brushes_[kTrack].get());
  if (file > 0) {
    FillRounded({left, barTop + 19 * s, left + file * (right - left), barTop + 23 * s}, 2 * s,
                brushes_[kFillFile].get());
  }

  if (!state.noteText.empty()) {
    DrawOutlinedText(state.noteText, {left, statusTop - 18 * s, right, statusTop - 2 * s},
                     brushes_[kMuted].get(), FontSize(12), DWRITE_TEXT_ALIGNMENT_LEADING, false);
  }

  DrawStartButton(strings, ready, hoverButton, countdown);
}

void RenderResources::DrawStartButton(const UiStrings& strings, bool ready, ButtonId hoverButton,
                                      std::int32_t countdown) {
  const RectF& start = buttons_[static_cast<std::size_t>(ButtonId::Start)];
  ID2D1Brush* face = !ready                              ? brushes_[kStartDisabled].get()
                     : hoverButton == ButtonId::Start ? brushes_[kStartHover].get()
                                                       : brushes_[kStartReady].get();
  FillRounded(start, 3 * Scale(), face);
  DrawStartLabel(strings, ready, countdown);
}

void RenderResources::DrawStartLabel(const UiStrings& strings, bool ready,
                                     std::int32_t countdown) {
  const RectF& start = buttons_[static_cast<std::size_t>(ButtonId::Start)];
  ID2D1Brush* brush = ready ? brushes_[kStartText].get() : brushes_[kMuted].get();
  const float size = FontSize(14);
  if (!ready || countdown < 1) {
    DrawOutlinedText(strings.StartGame, start, brush, size, DWRITE_TEXT_ALIGNMENT_CENTER, true);
    return;
  }
  // Text is what software drawing spends most on: each second's label is
  // the cached text around the number and the number alone, which is short.
  const LabelParts parts = SplitCountdownLabel(strings.StartGameCount, countdown);
  const std::u16string* pieces[] = {&parts.before, &parts.number, &parts.after};
  float widths[3] = {};
  float total = 0;
  for (int i = 0; i < 3; ++i) {
    widths[i] = pieces[i]->empty() ? 0 : text_.Width(*pieces[i], size, true);
    if (widths[i] < 0) {
      DrawOutlinedText(FormatStartGameCount(strings, countdown), start, brush, size,
                       DWRITE_TEXT_ALIGNMENT_CENTER, true);
      return;
    }
    widths[i] = std::ceil(widths[i]);
    total += widths[i];
  }
  float x = std::round(start.left + (start.right - start.left - total) / 2);
  for (int i = 0; i < 3; ++i) {
    if (!pieces[i]->empty()) {
      DrawOutlinedText(*pieces[i], {x, start.top, x + widths[i], start.bottom}, brush, size,
                       DWRITE_TEXT_ALIGNMENT_LEADING, true);
    }
    x += widths[i];
  }
}

bool RenderResources::DrawStill(const BackgroundVideo* video) {
  if (video == nullptr || !video->still()) return false;
  const StillFrame& still = *video->still();
  if (!stillBitmap_ &&
      FAILED(Device()->CreateBitmap(D2D1::SizeU(still.width, still.height),
                                         still.pixels.data(), still.width * 4,
                                         FrameBitmapProperties(), stillBitmap_.put()))) {
    return false;
  }
  const RectF crop = CropToFill(still.width, still.height, clientWidth_, clientHeight_);
  const auto w = static_cast<float>(still.width);
  const auto h = static_cast<float>(still.height);
  const D2D1_RECT_F source = D2D1::RectF(crop.left * w, crop.top * h, crop.right * w, crop.bottom * h);
  Device()->DrawBitmap(
      stillBitmap_.get(),
      D2D1::RectF(0, 0, static_cast<float>(clientWidth_), static_cast<float>(clientHeight_)), 1.0f,
      D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, &source);
  return true;
}

void RenderResources::FetchVideoFrame(BackgroundVideo* video) {
  if (video == nullptr || !video->playing()) return;
  const bool gdi = presentation_ == Presentation::Gdi;
  const auto keep = [&](const std::uint8_t* data, std::uint32_t pitch, std::uint32_t width,
                        std::uint32_t height) {
    if (gdi) {
      canvas_.KeepFrame(data, pitch, width, height);
    } else {
      frame_.Copy(Device(), data, pitch, width, height);
    }
  };
  if (video->route() == FrameRoute::Bitmap) {
    if (frameSource_ && video->TransferFrame(frameSource_.get())) {
      if (gdi) {
        canvas_.KeepFrame(frameSource_.get());
      } else {
        frame_.CopyFrom(Device(), frameSource_.get());
      }
    }
  } else if (video->route() == FrameRoute::Reader) {
    // At the video's size: cropped to fill as it is drawn.
    const DecodedFrame frame = video->LatestDecodedFrame();
    keep(frame.data(), frame.pitch(), frame.width(), frame.height());
  } else if (video->route() == FrameRoute::Texture) {
    const MappedFrame frame = video->ReadFrame(clientWidth_, clientHeight_);
    keep(frame.data(), frame.pitch(), frame.width(), frame.height());
  }
}

void RenderResources::DrawBackground(const BackgroundVideo* video, const D2D1_RECT_F* clip) {
  // A frame that could not be had this time leaves the last one up.
  const bool frame = frame_.shown() && frame_.get() != nullptr && video != nullptr &&
                     video->playing();
  if (clip != nullptr) Device()->PushAxisAlignedClip(*clip, D2D1_ANTIALIAS_MODE_ALIASED);
  const D2D1_RECT_F client =
      D2D1::RectF(0, 0, static_cast<float>(clientWidth_), static_cast<float>(clientHeight_));
  if (frame) {
    // Only a frame at the video's own size has anything to cut off.
    const RectF crop = CropToFill(frame_.width(), frame_.height(), clientWidth_, clientHeight_);
    const auto w = static_cast<float>(frame_.width());
    const auto h = static_cast<float>(frame_.height());
    const D2D1_RECT_F source =
        D2D1::RectF(crop.left * w, crop.top * h, crop.right * w, crop.bottom * h);
    Device()->DrawBitmap(frame_.get(), client, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR,
                              &source);
    lastBackground_ = Background::Video;
  } else if (DrawStill(video)) {
    lastBackground_ = Background::Still;
  } else {
    Device()->Clear(
        D2D1::ColorF(kClearColour[0], kClearColour[1], kClearColour[2], kClearColour[3]));
    lastBackground_ = Background::Clear;
  }
  if (clip != nullptr) Device()->PopAxisAlignedClip();
}

D2D1_RECT_F RenderResources::StartButtonClip() const {
  const RectF& start = buttons_[static_cast<std::size_t>(ButtonId::Start)];
  return D2D1::RectF(std::floor(start.left), std::floor(start.top), std::ceil(start.right),
                     std::ceil(start.bottom));
}

void RenderResources::RenderStartButton(const UiStrings& strings, bool ready,
                                        ButtonId hoverButton, const BackgroundVideo* video,
                                        std::int32_t countdown) {
  EnsureDeviceResources();
  if (Device() == nullptr) return;
  ComputeButtonRects();
  const D2D1_RECT_F clip = StartButtonClip();
  target_ = Device();
  // The layer no longer matches the screen's button: the next full frame
  // draws it anew.
  faceKey_.reset();
  const bool gdi = presentation_ == Presentation::Gdi;
  Device()->BeginDraw();
  // No new video frame for the button alone: the one behind the rest stays.
  if (!gdi) DrawBackground(video, &clip);
  Device()->PushAxisAlignedClip(clip, D2D1_ANTIALIAS_MODE_ALIASED);
  // The GDI layer holds the face alone: its button goes on nothing.
  if (gdi) Device()->Clear(D2D1::ColorF(0, 0, 0, 0));
  DrawStartButton(strings, ready, hoverButton, countdown);
  Device()->PopAxisAlignedClip();
  const HRESULT drawn = Device()->EndDraw();
  if (drawn == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
    DiscardDeviceResources();
  } else if (gdi && SUCCEEDED(drawn)) {
    PresentWithGdi(video, RegionOf({clip.left, clip.top, clip.right, clip.bottom}, canvas_.picture()));
  }
}

bool RenderResources::FaceKey::operator==(const FaceKey& o) const {
  return strings == o.strings && status == o.status && detail == o.detail && bar == o.bar &&
         note == o.note && overall == o.overall && file == o.file && ready == o.ready &&
         hover == o.hover && countdown == o.countdown;
}

RenderResources::FaceKey RenderResources::KeyOf(const ProgressState& state,
                                                const UiStrings& strings, bool ready,
                                                ButtonId hoverButton, std::int32_t countdown) {
  return {&strings,       state.statusText,     state.detailText,  state.barText, state.noteText,
          state.overallPercent, state.filePercent, ready, hoverButton, countdown};
}

void RenderResources::DrawFace(const ProgressState& state, const UiStrings& strings, bool ready,
                               ButtonId hoverButton, std::int32_t countdown) {
  DrawHeader(strings, hoverButton);
  DrawProgressPanel(state, strings, ready, hoverButton, countdown);
}

bool RenderResources::UpdateFaceLayer(const ProgressState& state, const UiStrings& strings,
                                      bool ready, ButtonId hoverButton, std::int32_t countdown) {
  const FaceKey key = KeyOf(state, strings, ready, hoverButton, countdown);
  if (faceLayer_ && faceKey_ && *faceKey_ == key) return true;
  faceKey_.reset();
  if (!faceLayer_) {
    const D2D1_SIZE_F size{static_cast<float>(clientWidth_), static_cast<float>(clientHeight_)};
    const D2D1_PIXEL_FORMAT format =
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED);
    if (FAILED(Device()->CreateCompatibleRenderTarget(
            &size, nullptr, &format, D2D1_COMPATIBLE_RENDER_TARGET_OPTIONS_NONE,
            faceLayer_.put()))) {
      return false;
    }
  }
  faceLayer_->BeginDraw();
  faceLayer_->Clear(D2D1::ColorF(0, 0, 0, 0));
  target_ = faceLayer_.get();
  DrawFace(state, strings, ready, hoverButton, countdown);
  target_ = Device();
  if (FAILED(faceLayer_->EndDraw()) || FAILED(faceLayer_->GetBitmap(faceBitmap_.put()))) {
    faceLayer_.reset();
    faceBitmap_.reset();
    return false;
  }
  faceKey_ = key;
  return true;
}

void RenderResources::Render(const ProgressState& state, const UiStrings& strings, bool ready,
                             ButtonId hoverButton, BackgroundVideo* video, std::int32_t countdown) {
  EnsureDeviceResources();
  if (Device() == nullptr) return;
  target_ = Device();
  if (presentation_ == Presentation::Gdi) {
    RenderWithGdi(state, strings, ready, hoverButton, video, countdown);
    return;
  }
  // The face changes rarely and the video often: the face is drawn into a
  // layer of its own when it changes, and each video frame costs two
  // bitmaps, not every text and shape again.
  const bool layered = UpdateFaceLayer(state, strings, ready, hoverButton, countdown);
  Device()->BeginDraw();
  FetchVideoFrame(video);
  DrawBackground(video, nullptr);
  if (layered) {
    Device()->DrawBitmap(
        faceBitmap_.get(),
        D2D1::RectF(0, 0, static_cast<float>(clientWidth_), static_cast<float>(clientHeight_)),
        1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR);
  } else {
    DrawFace(state, strings, ready, hoverButton, countdown);
  }
  if (Device()->EndDraw() == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) DiscardDeviceResources();
}

}  // namespace emberfall
