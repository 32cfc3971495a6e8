// The video's third frame route, for systems whose media engine keeps its
// frames from WIC bitmaps (Wine's): no engine at all, but a source reader
// on a thread of its own that decodes the file frame by frame into memory,
// each frame published when its time comes, the clip started again at its
// end. There the engine's texture route costs a Direct3D device on the CPU
// for every frame: drawing it, copying it and waiting to read it back.
#ifndef EMBERFALL_UI_READER_FRAMES_H_
#define EMBERFALL_UI_READER_FRAMES_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "ui/still_frame.h"

namespace emberfall {

// The latest published frame, held against the decoding thread's next one
// while the view lives: keep it short, and make no other call of its
// ReaderFrames meanwhile. Empty (data null) when there is none.
class DecodedFrame {
 public:
  DecodedFrame() = default;
  DecodedFrame(std::unique_lock<std::mutex> lock, const StillFrame* frame);

  const std::uint8_t* data() const { return frame_ ? frame_->pixels.data() : nullptr; }
  std::uint32_t pitch() const { return frame_ ? frame_->width * 4 : 0; }
  std::uint32_t width() const { return frame_ ? frame_->width : 0; }
  std::uint32_t height() const { return frame_ ? frame_->height : 0; }

 private:
  std::unique_lock<std::mutex> lock_;
  const StillFrame* frame_ = nullptr;
};

// Owned by the UI thread; every method is called there. The decoding
// thread runs from Start to Stop (or the destructor) and needs Media
// Foundation started, by its owner, for that long.
class ReaderFrames {
 public:
  ReaderFrames() = default;
  // Stops the thread.
  ~ReaderFrames();
  ReaderFrames(const ReaderFrames&) = delete;
  ReaderFrames& operator=(const ReaderFrames&) = delete;

  // Starts decoding the file at |path| on a new thread, a running one
  // stopped first. Returns at once.
  void Start(const std::u16string& path);

  enum class Startup { Waiting, Playing, Failed };
  // Waits at most |waitMs| (dispatching nothing) until the first frame is
  // published or the thread gives up on the file.
  Startup WaitForFirstFrame(std::uint32_t waitMs);

  // Ends the thread and releases the reader and the frames. Waits for the
  // decoding of at most one frame.
  void Stop();

  // Holds or resumes decoding; the clip goes on from where it was held.
  void SetPaused(bool paused);

  // Whether a frame was published since the last call.
  bool NewFrameReady();

  // The latest frame (32-bit BGRA, opaque, at the video's size).
  DecodedFrame Latest();

  bool running() const { return thread_.joinable(); }

 private:
  void Run(std::u16string path);
  // Waits until |due|, through any pause, or a stop; false for a stop. A
  // pause moves |due| on by its length.
  bool WaitUntilDue(std::chrono::steady_clock::time_point* due);
  void Publish(StillFrame* decoded);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable published_;
  std::thread thread_;
  bool stop_ = false;
  bool paused_ = false;
  bool failed_ = false;
  StillFrame front_;
  std::uint64_t frames_ = 0;
  std::uint64_t seen_ = 0;
};

}  // namespace emberfall

#endif  // EMBERFALL_UI_READER_FRAMES_H_
