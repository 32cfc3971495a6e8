// The launcher's face drawn with Direct2D and DirectWrite: the video frame
// (or a plain dark fill), the header with links and window buttons, and the
// progress panel with two bars and the start button. Every length is a
// design value of the 1124 x 618 layout times the layout scale. Every text
// keeps to one line: one wider than its row ends in an ellipsis. UI thread
// only.
#ifndef EMBERFALL_UI_RENDER_RESOURCES_H_
#define EMBERFALL_UI_RENDER_RESOURCES_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ui_strings.h"
#include "engine/patch_engine.h"
#include "core/win/windows_include.h"
#include "core/win/com_ptr.h"
#include "ui/face_text.h"
#include "ui/frame_bitmaps.h"
#include "ui/gdi_canvas.h"
#include "ui/layout.h"

// After windows.h, which they need.
#include <d2d1.h>
#include <dwrite.h>
#include <wincodec.h>

namespace emberfall {

class BackgroundVideo;

// The clear colour drawn when there is no video frame.
inline constexpr float kClearColour[4] = {0.04f, 0.03f, 0.07f, 1.0f};

// How a drawn frame reaches the window: Direct2D's own presentation, or
// the face drawn by Direct2D into a layer, put together with the video
// frame on the CPU and blitted with GDI.
enum class Presentation { Direct2D, Gdi };

// GDI under Wine and Proton, whose Direct2D presents through OpenGL (in
// software on a machine without a GPU driver); Direct2D elsewhere.
Presentation DefaultPresentation();

class RenderResources {
 public:
  RenderResources();
  ~RenderResources();
  RenderResources(const RenderResources&) = delete;
  RenderResources& operator=(const RenderResources&) = delete;

  // First set-up for |window|: factories, the frame bitmap, the render target
  // and everything bound to it. False when the DirectWrite or WIC factory,
  // the frame bitmap or the render target could not be made.
  bool InitRendering(HWND window, Presentation presentation = DefaultPresentation());
  Presentation presentation() const { return presentation_; }

  // Creates the render target and its brushes, bitmaps and text formats when
  // there is no target (first use, or after the device was lost).
  void EnsureDeviceResources();

  // Follows a new client size; 0 in either dimension is ignored.
  void ResizeRenderTarget(std::uint32_t width, std::uint32_t height);

  // Draws one frame. A lost device releases the target; the next frame
  // builds it again.
  void Render(const ProgressState& state, const UiStrings& strings, bool ready,
              ButtonId hoverButton, BackgroundVideo* video, std::int32_t countdown);

  // Draws the start button alone, over what was drawn behind it; the rest of
  // the face stays as the last Render left it.
  void RenderStartButton(const UiStrings& strings, bool ready, ButtonId hoverButton,
                         const BackgroundVideo* video, std::int32_t countdown);

  // What the last frame showed behind the face.
  enum class Background { Clear, Still, Video };
  Background lastBackground() const { return lastBackground_; }

  ButtonId HitTest(int x, int y) const;
  float TitleBarHeight() const;
  float FontSize(float designSize) const;

  std::uint32_t clientWidth() const { return clientWidth_; }
  std::uint32_t clientHeight() const { return clientHeight_; }
  bool hasRenderTarget() const { return Device() != nullptr; }
  // Whether the last frame showed a video frame rather than the clear colour.
  bool lastFrameHadVideo() const { return lastBackground_ == Background::Video; }
  // Forgets the render target as a lost device would; for tests.
  void DiscardDeviceResources();

 private:
  enum Brush : std::size_t {
    kText,
    kStatus,
    kTrack,
    kFillMain,
    kFillFile,
    kStartDisabled,
    kStartText,
    kOutline,
    kLink,
    kMuted,
    kButtonFace,
    kStartReady,
    kStartHover,
    kBrushCount,
  };

  // What everything is drawn with and every bitmap belongs to: the
  // window's target, or the GDI canvas's layer; null when there is none.
  ID2D1RenderTarget* Device() const {
    return presentation_ == Presentation::Gdi ? canvas_.target() : hwndTarget_.get();
  }
  void ComputeButtonRects();
  void EnsureIconBitmap();
  bool CreateFrameSource(IWICImagingFactory* factory);
  // Copies the playing video's current frame into frame_.
  void FetchVideoFrame(BackgroundVideo* video);
  // The last video frame fetched, else the video's still, else the clear
  // colour; within |clip| when given.
  void DrawBackground(const BackgroundVideo* video, const D2D1_RECT_F* clip);
  bool DrawStill(const BackgroundVideo* video);
  // The start button's label; a countdown's from cached parts.
  void DrawStartLabel(const UiStrings& strings, bool ready, std::int32_t countdown);
  void DrawStartButton(const UiStrings& strings, bool ready, ButtonId hoverButton,
                       std::int32_t countdown);
  // The start button's pixels, whole.
  D2D1_RECT_F StartButtonClip() const;
  // Through GDI: the layer drawn anew where the face changed, the picture
  // put together within |region| and blitted.
  void RenderWithGdi(const ProgressState& state, const UiStrings& strings, bool ready,
                     ButtonId hoverButton, BackgroundVideo* video, std::int32_t countdown);
  void PresentWithGdi(const BackgroundVideo* video, const PixelRegion& region);
  void DrawFace(const ProgressState& state, const UiStrings& strings, bool ready,
                ButtonId hoverButton, std::int32_t countdown);
  // Draws the face into faceLayer when what it shows changed; false when
  // there is no layer to draw from.
  bool UpdateFaceLayer(const ProgressState& state, const UiStrings& strings, bool ready,
                       ButtonId hoverButton, std::int32_t countdown);
  void DrawHeader(const UiStrings& strings, ButtonId hoverButton);
  void DrawProgressPanel(const ProgressState& state, const UiStrings& strings, bool ready,
                         ButtonId hoverButton, std::int32_t countdown);
  void DrawOutlinedText(const std::u16string& text, const RectF& rect, ID2D1Brush* brush,
                        float size, DWRITE_TEXT_ALIGNMENT alignment, bool bold);
  void FillRounded(const RectF& rect, float radius, ID2D1Brush* brush);
  float Scale() const;

  HWND window_ = nullptr;
  std::uint32_t clientWidth_ = 1124;
  std::uint32_t clientHeight_ = 618;
  Presentation presentation_ = Presentation::Direct2D;
  win::ComPtr<ID2D1HwndRenderTarget> hwndTarget_;
  GdiCanvas canvas_;
  win::ComPtr<ID2D1Factory> factory_;
  win::ComPtr<IWICBitmap> frameSource_;
  FrameBitmap frame_;
  FaceText text_;
  std::array<win::ComPtr<ID2D1SolidColorBrush>, kBrushCount> brushes_;
  win::ComPtr<ID2D1Bitmap> iconBitmap_;
  std::uint32_t iconSize_ = 0;
  ButtonRects buttons_{};
  Background lastBackground_ = Background::Clear;
  win::ComPtr<ID2D1Bitmap> stillBitmap_;
  // What the face draws on: the window's target, or faceLayer while it is
  // drawn anew.
  ID2D1RenderTarget* target_ = nullptr;
  win::ComPtr<ID2D1BitmapRenderTarget> faceLayer_;
  win::ComPtr<ID2D1Bitmap> faceBitmap_;
  // What faceLayer shows; empty when it shows nothing valid.
  struct FaceKey {
    const UiStrings* strings = nullptr;
    std::u16string status, detail, bar, note;
    std::uint32_t overall = 0;
    std::uint32_t file = 0;
    bool ready = false;
    ButtonId hover = ButtonId::None;
    std::int32_t countdown = -1;
    bool operator==(const FaceKey& other) const;
  };
  std::optional<FaceKey> faceKey_;
  static FaceKey KeyOf(const ProgressState& state, const UiStrings& strings, bool ready,
                       ButtonId hoverButton, std::int32_t countdown);
};

}  // namespace emberfall

#endif  // EMBERFALL_UI_RENDER_RESOURCES_H_
