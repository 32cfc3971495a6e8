// The looping background video: the embedded MP4 (RCDATA 101) written once
// to the temporary folder off the UI thread, played muted by the Media
// Foundation media engine in frame-server mode, and pulled frame by frame
// into a WIC bitmap by the renderer. Best-effort throughout: every failure
// leaves the launcher running on its plain background.
#ifndef EMBERFALL_UI_BACKGROUND_VIDEO_H_
#define EMBERFALL_UI_BACKGROUND_VIDEO_H_

#include <optional>
#include <string>
#include <string_view>

#include "core/win/windows_include.h"
#include "core/win/com_ptr.h"

struct IWICBitmap;

namespace emberfall {

namespace win {
struct IMFMediaEngine;
struct IMFMediaEngineEx;
struct IMFMediaEngineNotify;
}  // namespace win

inline constexpr int kVideoResourceId = 101;

// The embedded video's bytes; empty when the module has none.
std::string_view VideoResourceBytes(HMODULE module);

// <temporary folder>\EmbLauncher\hero.mp4; empty if there is no temporary
// folder.
std::u16string TempVideoPath();

// The temporary file, when it exists and holds exactly the embedded video.
// The launcher runs elevated and the folder is writable by the user, so a
// file of the right size is not trusted without comparing its contents, and
// neither the file nor its folder may be a link (junction, symbolic link).
// On success the file and its folder are held open until ReleaseVideoFile
// or the process ends: nobody can write, delete or rename them meanwhile.
std::optional<std::u16string> FindReusableVideoFile(HMODULE module);

// The reusable file, or a fresh copy of the resource written there (a new
// file created exclusively: a file or link at the name is removed first, a
// link's target is never written; deleted again when the write comes up
// short), checked and held like a reusable one. Empty on failure, and when
// the folder is a link.
std::u16string ExtractVideoResource(HMODULE module);

// Closes the handles that hold the video file and its folder; the engine
// must no longer read the file. Any thread.
void ReleaseVideoFile();

// Starts the preparation once per process and returns at once: a known or
// reusable file signals readiness immediately, otherwise a detached thread
// extracts the resource. Any thread; null means the executable.
void PrepareBackgroundVideo(HMODULE module);

// Prepares if needed, waits up to |timeoutMs| for the preparation, and tells
// whether a video path is known now.
bool WaitForBackgroundVideo(HMODULE module, DWORD timeoutMs);

// The prepared path; when there is none yet, extracts on the calling thread.
// Empty on failure.
std::u16string GetVideoPath(HMODULE module);

// The playing engine of one window. UI thread only; needs COM initialised.
class BackgroundVideo {
 public:
  // Starts Media Foundation.
  BackgroundVideo();
  // Shuts the engine down, then Media Foundation.
  ~BackgroundVideo();
  BackgroundVideo(const BackgroundVideo&) = delete;
  BackgroundVideo& operator=(const BackgroundVideo&) = delete;

  // Replaces any engine with a new one on the prepared file and waits (at
  // most 30 s, then at most 3 s for the first frame size) until it plays,
  // dispatching the thread's messages meanwhile. A call made from inside
  // that dispatching returns false at once and leaves the outer start alone.
  // An engine that plays but will not hand its frames to a WIC bitmap is
  // paused again and the start counts as failed.
  bool StartVideo(HMODULE module);

  // Shuts the engine down and forgets it.
  void ShutdownVideo();

  // Draws the current frame into |target|, cropped to fill it. False when
  // nothing plays or the engine has no frame to give.
  bool TransferFrame(IWICBitmap* target);

  // Whether the engine has a frame not drawn yet. Where the engine cannot
  // tell, every call says yes, so frames follow the caller's pace.
  bool NewFrameReady();

  // The playback position in seconds; negative when there is no engine.
  double CurrentTime() const;

  // The decoded video's size; false while the engine knows none.
  bool NativeVideoSize(DWORD* width, DWORD* height) const;

  bool playing() const { return playing_; }
  bool starting() const { return starting_; }
  // The last start found an engine that plays but keeps its frames from WIC
  // bitmaps; another start on this system would find the same.
  bool framesRefused() const { return framesRefused_; }

 private:
  bool StartVideoOnce(HMODULE module);
  // One attempt on |url|; |rejected| tells that the engine refused the source.
  bool StartVideoFromUrl(const std::wstring& url, bool* rejected);
  // Whether the playing engine turns down WIC bitmaps as frame targets.
  bool RefusesBitmapTargets();
  HRESULT TransferFrameResult(IWICBitmap* target);

  win::ComPtr<win::IMFMediaEngine> engine_;
  win::ComPtr<win::IMFMediaEngineEx> engineEx_;
  bool playing_ = false;
  bool starting_ = false;
  bool framesRefused_ = false;
  bool mediaFoundationStarted_ = false;
  // Our own reference to the engine's event sink, so that shutdown can cut
  // its link to the engine before the engine goes away.
  win::ComPtr<win::IMFMediaEngineNotify> notify_;
};

}  // namespace emberfall

#endif  // EMBERFALL_UI_BACKGROUND_VIDEO_H_
