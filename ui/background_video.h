// The looping background video: the prepared file (video_preparation.h)
// played muted by the Media Foundation media engine in frame-server mode,
// and pulled frame by frame by the renderer into a WIC bitmap. Where the
// engine refuses those (Wine's), a source reader decodes the file instead
// (reader_frames.h), and failing that the engine draws into a Direct3D 11
// texture. Its first
// frame (still_frame.h) is the still shown until frames come and when no
// route gives any. Best-effort throughout: every failure leaves the launcher
// running on its still or its plain background.
#ifndef EMBERFALL_UI_BACKGROUND_VIDEO_H_
#define EMBERFALL_UI_BACKGROUND_VIDEO_H_

#include <cstdint>
#include <optional>
#include <string>

#include "core/win/windows_include.h"
#include "core/win/com_ptr.h"
#include "ui/scoped_media_foundation.h"
#include "ui/reader_frames.h"
#include "ui/still_frame.h"
#include "ui/texture_frames.h"

struct IWICBitmap;

namespace emberfall {

namespace win {
struct IMFMediaEngine;
struct IMFMediaEngineEx;
struct IMFMediaEngineNotify;
}  // namespace win

// How the renderer gets the playing engine's frames.
enum class FrameRoute {
  None,
  Bitmap,   // the engine draws into the renderer's WIC bitmap
  Reader,   // no engine: a source reader decodes the file on a thread of its own
  Texture,  // the engine draws into a Direct3D 11 texture; the CPU reads a copy
};

// The routes a start may try, in this order. Tests take some away.
struct FrameRoutes {
  bool bitmap = true;
  bool reader = true;
  bool texture = true;
};

// The playing engine of one window. UI thread only; needs COM initialised.
class BackgroundVideo {
 public:
  // Starts Media Foundation.
  explicit BackgroundVideo(FrameRoutes routes = {});
  // Shuts the engine down, then Media Foundation.
  ~BackgroundVideo();
  BackgroundVideo(const BackgroundVideo&) = delete;
  BackgroundVideo& operator=(const BackgroundVideo&) = delete;

  // Replaces any engine with a new one on the prepared file and waits (at
  // most 30 s, then at most 3 s for the first frame size) until it plays,
  // dispatching the thread's messages meanwhile. A call made from inside
  // that dispatching returns false at once and leaves the outer start alone.
  // An engine that plays but will not hand its frames to a WIC bitmap is
  // paused and set aside for a source reader that decodes the file, or
  // where that fails, for an engine that draws into a Direct3D 11 texture;
  // when that one refuses too, it is paused and the start counts as failed.
  bool StartVideo(HMODULE module);

  // Decodes the prepared file's first frame once (the still); true when there
  // is one. Blocks for the decoding of one frame.
  bool DecodeStill(HMODULE module);
  const std::optional<StillFrame>& still() const { return still_; }

  // Holds or resumes playback (while nothing of it can be seen). An engine
  // that cannot be paused safely (Wine's) is shut down and later started
  // anew from the clip's beginning; one still loading or only just started
  // plays on unseen instead.
  void SetPaused(bool paused);

  // Shuts the engine down and forgets it.
  void ShutdownVideo();

  // Draws the current frame into |target|, cropped to fill it (the bitmap
  // route). False when nothing plays or the engine has no frame to give.
  bool TransferFrame(IWICBitmap* target);

  // The current frame at |width| x |height|, cropped to fill it (the texture
  // route); empty when nothing plays or the engine has no frame to give.
  MappedFrame ReadFrame(std::uint32_t width, std::uint32_t height);

  // The latest decoded frame at the video's size (the reader route); empty
  // when nothing plays or no frame has come yet.
  DecodedFrame LatestDecodedFrame();

  // Whether the engine has a frame not drawn yet. Where the engine cannot
  // tell, every call says yes, so frames follow the caller's pace. Also
  // starts the clip again where the engine cannot seek back itself (Wine's):
  // on the same engine, else a new one ready a few frames later, without
  // waiting for either here.
  bool NewFrameReady();

  // The playback position in seconds; negative when there is no engine.
  double CurrentTime() const;

  // The decoded video's size; false while the engine knows none.
  bool NativeVideoSize(DWORD* width, DWORD* height) const;

  // Engines made since construction, the one playing included.
  std::uint32_t enginesMade() const { return enginesMade_; }

  bool playing() const { return playing_; }
  FrameRoute route() const { return route_; }
  bool starting() const { return starting_; }
  // The last start found an engine that plays but keeps its frames from
  // every route; another start on this system would find the same.
  bool framesRefused() const { return framesRefused_; }

 private:
  bool StartVideoOnce(HMODULE module);
  // The reader route on |path|: true once its first frame came.
  bool StartReader(const std::u16string& path);
  // One attempt on |url| through |route|; |rejected| tells that the engine
  // refused the source.
  bool StartVideoFromUrl(const std::wstring& url, FrameRoute route, bool* rejected);
  // Plays the engine that can play and waits (at most 3 s) until it knows
  // its frame size; false when it fails, refuses its frames on |route| or the
  // wait runs out.
  bool PlayUntilSized(FrameRoute route);
  // A new engine on |url| for |route|, loading; false when none could be made.
  bool CreateEngine(const std::wstring& url, FrameRoute route);
  void PlayMuted();
  // Whether the playing engine turns its frames down on |route|.
  bool RefusesFrames(FrameRoute route);
  HRESULT TransferFrameResult(IWICBitmap* target);
  HRESULT TransferTextureResult(std::uint32_t width, std::uint32_t height);
  // A new engine for a clip that ended and could not seek back.
  void RestartClip();
  // The clip ended and the engine could not seek back: plays it again on the
  // same engine where that has worked (or not been tried), else RestartClip.
  void ReplayAtEnd();

  const FrameRoutes routes_;
  // First, so that it goes last: Media Foundation stops after everything
  // made with it.
  win::ScopedMediaFoundation mediaFoundation_;
  win::ComPtr<win::IMFMediaEngine> engine_;
  win::ComPtr<win::IMFMediaEngineEx> engineEx_;
  TextureFrames textures_;
  ReaderFrames reader_;
  FrameRoute route_ = FrameRoute::None;
  std::wstring url_;
  bool playing_ = false;
  bool paused_ = false;
  bool starting_ = false;
  bool framesRefused_ = false;
  // A new engine is loading the clip again; it plays once it can.
  bool restarting_ = false;
  LONGLONG lastFramePts_ = -1;
  std::uint32_t enginesMade_ = 0;
  DWORD engineMadeAt_ = 0;
  // A pause found the engine too young to shut down; it played on unseen.
  bool keptBehindPause_ = false;
  // A pause and a play did not start an ended clip again on the same engine
  // (Wine's engine does; a new engine costs memory Wine never gives back): a
  // replay that gives no frame soon, or ends again without one, failed, and
  // from then on each end takes a new engine.
  bool replayFails_ = false;
  bool replaying_ = false;
  DWORD replayStart_ = 0;
  std::optional<StillFrame> still_;
  // Our own reference to the engine's event sink, so that shutdown can cut
  // its link to the engine before the engine goes away.
  win::ComPtr<win::IMFMediaEngineNotify> notify_;
  // An engine that refused the bitmap route, paused: Wine's pipeline can
  // stall when an engine is shut down this soon after starting, so it goes
  // with the next start or the teardown.
  win::ComPtr<win::IMFMediaEngine> refused_;
  win::ComPtr<win::IMFMediaEngineNotify> refusedNotify_;
};

}  // namespace emberfall

#endif  // EMBERFALL_UI_BACKGROUND_VIDEO_H_
