// The launcher's geometry: a 1124 x 618 design layout scaled uniformly to the
// client area, the buttons on it, and where the window goes on a monitor.
// Pure arithmetic, so it builds and is tested on every platform.
#ifndef EMBERFALL_UI_LAYOUT_H_
#define EMBERFALL_UI_LAYOUT_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace emberfall {

inline constexpr float kDesignWidth = 1124.0f;
inline constexpr float kDesignHeight = 618.0f;

// The hit-test result, and the index of a button's rectangle.
enum class ButtonId : std::int32_t {
  None = 0,
  Start = 1,
  Website = 2,
  Support = 3,
  Community = 4,
  Minimise = 5,
  Close = 6,
  Settings = 7,
};

struct RectF {
  float left = 0;
  float top = 0;
  float right = 0;
  float bottom = 0;
};

// Rectangles indexed by ButtonId (index 0 stays empty).
using ButtonRects = std::array<RectF, 8>;

// min(width / 1124, height / 618); 1 when either size is 0 (not known yet).
float LayoutScale(std::uint32_t clientWidth, std::uint32_t clientHeight);

// A design font size in pixels at scale |scale|.
float FontSize(float designSize, float scale);

// Height of the band that drags the window: 48 design units.
float TitleBarHeight(float scale);

// The seven buttons for a client area: the start button anchored to the
// bottom-right corner, the header row placed from the left edge.
ButtonRects ComputeButtonRects(std::uint32_t clientWidth, std::uint32_t clientHeight);

// The button under (x, y), edges included; tested start, website, support,
// community, settings, minimise, close, first match winning. None elsewhere.
ButtonId HitTest(const ButtonRects& rects, float x, float y);

// The progress panel's geometry in pixels for a client area.
struct PanelLayout {
  float left = 0;        // L: left edge of texts and bars
  float right = 0;       // R: right edge of texts and bars
  float statusTop = 0;   // top of the status and detail line
  float barTop = 0;      // top of the main bar
  float scale = 1;
};
PanelLayout ComputePanelLayout(std::uint32_t clientWidth, std::uint32_t clientHeight);

// The crop that makes a video frame fill a target without letter-boxing:
// a normalised source rectangle, centred, cutting off the excess. Any zero
// size gives the whole frame (0, 0, 1, 1).
RectF CropToFill(std::uint32_t videoWidth, std::uint32_t videoHeight, std::uint32_t targetWidth,
                 std::uint32_t targetHeight);

// The start button's countdown label in three parts, so that from second to
// second only the number is new: the text of |format| before its "%d", the
// number, and the text after. A format without "%d" is all "before".
struct LabelParts {
  std::u16string before;
  std::u16string number;
  std::u16string after;
};
LabelParts SplitCountdownLabel(const std::u16string& format, std::int32_t seconds);

struct WorkArea {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

struct WindowPlacement {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Position and size in physical pixels for a monitor with work area |work|
// (nullopt when it could not be read) and effective DPI |dpi| (0 = unknown,
// taken as 96). The window is centred, at most 90 % of the design size times
// the larger of the monitor's size ratio to 1920 x 1040 and its DPI ratio,
// and never larger than the work area less a 16-pixel (at 96 DPI) margin.
WindowPlacement PlaceOnWorkArea(const std::optional<WorkArea>& work, std::uint32_t dpi);

}  // namespace emberfall

#endif  // EMBERFALL_UI_LAYOUT_H_
