// The background video's frames as a Media Foundation source reader decodes
// them: the still (its first frame, decoded once, shown until the playing
// engine gives frames and for good when it gives none), and one frame after
// another for the route that plays without the engine (reader_frames.h).
#ifndef EMBERFALL_UI_STILL_FRAME_H_
#define EMBERFALL_UI_STILL_FRAME_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/win/com_ptr.h"

struct IMFSourceReader;

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

// The video file's frames in order, decoded to BGRA. One thread at a time;
// needs COM and Media Foundation started on it. Every call blocks for the
// decoding of at most a few frames.
class VideoReader {
 public:
  enum class Read { Frame, End, Failed };

  VideoReader();
  ~VideoReader();
  VideoReader(const VideoReader&) = delete;
  VideoReader& operator=(const VideoReader&) = delete;

  // Opens the file at |path|; false when it holds no video this system can
  // decode.
  bool Open(const std::u16string& path);

  // Decodes the next frame into |frame| (its pixels reused when the size
  // stays) and its time in 100 ns units into |time|. End at the end of the
  // stream; Failed for a decoding error or a frame whose layout is not
  // understood.
  Read Next(StillFrame* frame, std::int64_t* time);

  // Goes back to the first frame; false when the reader cannot seek.
  bool Rewind();

 private:
  win::ComPtr<IMFSourceReader> reader_;
  bool rgb_ = false;
  std::uint32_t codedWidth_ = 0;
  std::uint32_t codedHeight_ = 0;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
};

}  // namespace emberfall

#endif  // EMBERFALL_UI_STILL_FRAME_H_
