// The background video's still: its first frame, decoded once with a Media
// Foundation source reader, shown until the playing engine gives frames and
// for good when it gives none.
#ifndef EMBERFALL_UI_STILL_FRAME_H_
#define EMBERFALL_UI_STILL_FRAME_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace emberfall {

// A decoded picture: 32-bit BGRA, opaque, rows |width| * 4 bytes apart.
struct StillFrame {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;
};

// The first frame of the video file at |path|, decoded with a Media
// Foundation source reader; nothing when the file cannot be decoded. Needs
// COM and Media Foundation started on the calling thread; blocks for the
// decoding of one frame.
std::optional<StillFrame> DecodeFirstFrame(const std::u16string& path);

}  // namespace emberfall

#endif  // EMBERFALL_UI_STILL_FRAME_H_
