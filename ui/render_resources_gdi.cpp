// The face through GDI: what RenderResources does when its presentation is
// Presentation::Gdi, apart from the drawing of the face itself.
#include "ui/render_resources.h"

#include <cmath>

#include "ui/background_video.h"

namespace emberfall {
namespace {

std::uint32_t ClearBgra() {
  const auto channel = [](float c) { return static_cast<std::uint32_t>(std::lround(c * 255)); };
  return channel(kClearColour[2]) | channel(kClearColour[1]) << 8 | channel(kClearColour[0]) << 16;
}

}  // namespace

void RenderResources::RenderWithGdi(const ProgressState& state, const UiStrings& strings,
                                    bool ready, ButtonId hoverButton, BackgroundVideo* video,
                                    std::int32_t countdown) {
  // The layer is drawn only when the face changed: a video frame costs the
  // CPU's composing and one blit, nothing of Direct2D.
  const FaceKey key = KeyOf(state, strings, ready, hoverButton, countdown);
  if (!faceKey_ || !(*faceKey_ == key)) {
    // A second of the countdown over the video: its button alone.
    std::optional<FaceKey> oneSecondOn = faceKey_;
    if (oneSecondOn) oneSecondOn->countdown = countdown;
    const bool buttonOnly = oneSecondOn && *oneSecondOn == key;
    faceKey_.reset();
    Device()->BeginDraw();
    if (buttonOnly) {
      Device()->PushAxisAlignedClip(StartButtonClip(), D2D1_ANTIALIAS_MODE_ALIASED);
    }
    Device()->Clear(D2D1::ColorF(0, 0, 0, 0));
    if (buttonOnly) {
      DrawStartButton(strings, ready, hoverButton, countdown);
      Device()->PopAxisAlignedClip();
    } else {
      DrawFace(state, strings, ready, hoverButton, countdown);
    }
    const HRESULT drawn = Device()->EndDraw();
    if (drawn == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
      DiscardDeviceResources();
      return;
    }
    if (SUCCEEDED(drawn)) faceKey_ = key;
  }
  FetchVideoFrame(video);
  PresentWithGdi(video, {0, 0, clientWidth_, clientHeight_});
}

void RenderResources::PresentWithGdi(const BackgroundVideo* video, const PixelRegion& region) {
  const PixelsSpan picture = canvas_.picture();
  const PixelsView frame = video != nullptr && video->playing() ? canvas_.frame() : PixelsView{};
  const StillFrame* still = video != nullptr && video->still() ? &*video->still() : nullptr;
  if (frame.data != nullptr) {
    StretchOpaque(frame, CropToFill(frame.width, frame.height, clientWidth_, clientHeight_), picture,
                  region);
    lastBackground_ = Background::Video;
  } else if (still != nullptr &&
             still->pixels.size() >= static_cast<std::size_t>(still->width) * still->height * 4) {
    StretchOpaque({still->pixels.data(), still->width * 4, still->width, still->height},
                  CropToFill(still->width, still->height, clientWidth_, clientHeight_), picture,
                  region);
    lastBackground_ = Background::Still;
  } else {
    FillOpaque(picture, ClearBgra(), region);
    lastBackground_ = Background::Clear;
  }
  {
    const LockedLayer layer = canvas_.ReadLayer();
    BlendPremultiplied(layer.pixels, picture, region);
  }
  canvas_.Present(window_, region);
}

}  // namespace emberfall
