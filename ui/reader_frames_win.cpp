#include "ui/reader_frames.h"

#include <chrono>
#include <utility>

#include "core/win/scoped_com.h"
#include "core/win/windows_include.h"

namespace emberfall {
namespace {

using Clock = std::chrono::steady_clock;

// A decoder that falls this far behind the clip's clock shows its frames as
// they come instead of racing to catch up.
constexpr auto kBehindLimit = std::chrono::milliseconds(250);
// The step after a frame whose successor's time says nothing (the first
// frame again after the clip's end); 24 frames a second.
constexpr std::int64_t kDefaultStep = 416667;

}  // namespace

DecodedFrame::DecodedFrame(std::unique_lock<std::mutex> lock, const StillFrame* frame)
    : lock_(std::move(lock)), frame_(frame) {}

ReaderFrames::~ReaderFrames() { Stop(); }

void ReaderFrames::Start(const std::u16string& path) {
  Stop();
  thread_ = std::thread(&ReaderFrames::Run, this, path);
}

ReaderFrames::Startup ReaderFrames::WaitForFirstFrame(std::uint32_t waitMs) {
  std::unique_lock lock(mutex_);
  published_.wait_for(lock, std::chrono::milliseconds(waitMs),
                      [this] { return frames_ > 0 || failed_; });
  return failed_ ? Startup::Failed : frames_ > 0 ? Startup::Playing : Startup::Waiting;
}

void ReaderFrames::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  const std::lock_guard lock(mutex_);
  stop_ = false;
  paused_ = false;
  failed_ = false;
  front_ = StillFrame();
  frames_ = seen_ = 0;
}

void ReaderFrames::SetPaused(bool paused) {
  {
    const std::lock_guard lock(mutex_);
    paused_ = paused;
  }
  wake_.notify_all();
}

bool ReaderFrames::NewFrameReady() {
  const std::lock_guard lock(mutex_);
  const bool fresh = frames_ != seen_;
  seen_ = frames_;
  return fresh;
}

DecodedFrame ReaderFrames::Latest() {
  std::unique_lock lock(mutex_);
  if (frames_ == 0) return DecodedFrame();
  return DecodedFrame(std::move(lock), &front_);
}

void ReaderFrames::Run(std::u16string path) {
  // No exception leaves a thread: a failure ends the frames, not the program.
  try {
    const win::ScopedComApartment com(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    VideoReader reader;
    bool open = reader.Open(path);
    StillFrame decoded;
    Clock::time_point due = Clock::now();
    std::int64_t lastTime = -1;
    std::int64_t step = kDefaultStep;
    bool frameSinceStart = false;
    bool shown = false;
    while (open) {
      std::int64_t time = 0;
      const VideoReader::Read read = reader.Next(&decoded, &time);
      if (read == VideoReader::Read::End && frameSinceStart) {
        // Back to the first frame: by seeking where the reader can, else on
        // a reader opened anew.
        if (!reader.Rewind()) open = reader.Open(path);
        frameSinceStart = false;
        lastTime = -1;
        continue;
      }
      if (read != VideoReader::Read::Frame) break;
      frameSinceStart = true;
      if (lastTime >= 0 && time > lastTime && time - lastTime < 10'000'000) step = time - lastTime;
      if (shown) due += std::chrono::microseconds(step / 10);
      lastTime = time;
      if (!WaitUntilDue(&due)) return;
      Publish(&decoded);
      shown = true;
    }
  } catch (...) {
  }
  {
    const std::lock_guard lock(mutex_);
    failed_ = true;
  }
  published_.notify_all();
}

bool ReaderFrames::WaitUntilDue(Clock::time_point* due) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (stop_) return false;
    if (paused_) {
      // The clip goes on from the held frame: its time moves on by the pause.
      const Clock::time_point heldAt = Clock::now();
      wake_.wait(lock, [this] { return stop_ || !paused_; });
      *due += Clock::now() - heldAt;
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (now >= *due) {
      if (now - *due > kBehindLimit) *due = now;
      return true;
    }
    wake_.wait_until(lock, *due);
  }
}

void ReaderFrames::Publish(StillFrame* decoded) {
  {
    const std::lock_guard lock(mutex_);
    // The frame shown before becomes the next one's buffer.
    std::swap(front_, *decoded);
    ++frames_;
  }
  published_.notify_all();
}

}  // namespace emberfall
