#include "ui/background_video.h"

#include "core/win/scoped_com.h"
#include "core/win/wide.h"
#include "ui/layout.h"
#include "ui/media_engine.h"
#include "ui/media_engine_events.h"
#include "ui/video_file.h"
#include "ui/video_preparation.h"

// After windows.h, which it needs.
#include <wincodec.h>

namespace emberfall {
namespace {

using win::ComPtr;

constexpr DWORD kReadyWaitMs = 30000;
constexpr DWORD kFirstFrameWaitMs = 3000;
// The reader opens the file and decodes its first frame meanwhile.
constexpr DWORD kReaderWaitMs = 10000;
constexpr DWORD kWaitSliceMs = 16;
// A replay on the same engine that shows no frame by then has failed.
constexpr DWORD kReplayWaitMs = 2000;
// An engine younger than this is not shut down for a pause.
constexpr DWORD kYoungEngineMs = 8000;

// Cuts the sink's link to the engine, then shuts the engine down before its
// last reference goes; both owners are left empty.
void ShutDownEngine(ComPtr<win::IMFMediaEngine>& engine,
                    ComPtr<win::IMFMediaEngineNotify>& notify) {
  if (notify) static_cast<MediaEngineNotify*>(notify.get())->DetachEngine();
  if (engine) engine->Shutdown();
  engine.reset();
  notify.reset();
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    // A WM_QUIT taken here would be lost to the message loop: put it back
    // and stop pumping.
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool QuitPending() {
  MSG msg;
  return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
}

}  // namespace

BackgroundVideo::BackgroundVideo(FrameRoutes routes)
    : routes_(routes), mediaFoundation_(MFStartup(MF_VERSION, MFSTARTUP_LITE)) {}

BackgroundVideo::~BackgroundVideo() {
  ShutdownVideo();
  textures_.Release();
  // Media Foundation stops last, after everything made with it.
  mediaFoundation_.reset();
}

void BackgroundVideo::ShutdownVideo() {
  reader_.Stop();
  engineEx_.reset();
  ShutDownEngine(engine_, notify_);
  ShutDownEngine(refused_, refusedNotify_);
  playing_ = false;
  restarting_ = false;
  replaying_ = false;
  keptBehindPause_ = false;
  route_ = FrameRoute::None;
  lastFramePts_ = -1;
}

bool BackgroundVideo::StartVideo(HMODULE module) {
  // The wait below dispatches messages; a progress message that turns ready
  // would otherwise start a second engine and tear down this one mid-setup.
  if (starting_) return false;
  starting_ = true;
  bool started = false;
  try {
    started = StartVideoOnce(module);
  } catch (...) {
    started = false;
  }
  starting_ = false;
  return started;
}

bool BackgroundVideo::StartVideoOnce(HMODULE module) {
  if (engine_ || notify_ || reader_.running()) ShutdownVideo();
  framesRefused_ = false;
  const std::u16string path = GetVideoPath(module);
  if (path.empty()) return false;
  for (const FrameRoute route : {FrameRoute::Bitmap, FrameRoute::Reader, FrameRoute::Texture}) {
    if (!(route == FrameRoute::Bitmap   ? routes_.bitmap
          : route == FrameRoute::Reader ? routes_.reader
                                        : routes_.texture)) {
      continue;
    }
    if (engine_) {
      // The engine that refused the route before, paused, set aside.
      refused_ = std::move(engine_);
      refusedNotify_ = std::move(notify_);
      engineEx_.reset();
    }
    // Under Wine the engine and its Direct3D device cost the CPU several
    // times what decoding the file alone does; the texture route is left
    // for a system whose reader fails.
    if (route == FrameRoute::Reader) {
      if (StartReader(path)) return true;
      continue;
    }
    if (route == FrameRoute::Texture && !textures_.Create()) return false;
    framesRefused_ = false;
    bool rejected = false;
    if (StartVideoFromUrl(win::ToWinString(VideoFileUrl(path)), route, &rejected)) return true;
    if (rejected) {
      // Only an engine that refused the source at once gets the older URL form.
      engineEx_.reset();
      ShutDownEngine(engine_, notify_);
      if (StartVideoFromUrl(win::ToWinString(LegacyVideoFileUrl(path)), route, &rejected)) {
        return true;
      }
    }
    // Another route helps only an engine that plays but refused its frames.
    if (!framesRefused_) return false;
  }
  return false;
}

bool BackgroundVideo::StartReader(const std::u16string& path) {
  reader_.Start(path);
  const DWORD start = GetTickCount();
  for (;;) {
    const ReaderFrames::Startup startup = reader_.WaitForFirstFrame(kWaitSliceMs);
    if (startup == ReaderFrames::Startup::Playing) break;
    PumpMessages();
    if (startup == ReaderFrames::Startup::Failed || GetTickCount() - start >= kReaderWaitMs ||
        QuitPending()) {
      reader_.Stop();
      return false;
    }
  }
  framesRefused_ = false;
  playing_ = true;
  route_ = FrameRoute::Reader;
  reader_.SetPaused(paused_);
  return true;
}

bool BackgroundVideo::CreateEngine(const std::wstring& url, FrameRoute route) {
  ComPtr<win::IMFMediaEngineClassFactory> factory;
  if (FAILED(CoCreateInstance(win::kClsidMediaEngineClassFactory, nullptr, CLSCTX_INPROC_SERVER,
                              win::kIidMediaEngineClassFactory, factory.put_void()))) {
    return false;
  }
  ComPtr<MediaEngineNotify> notify(new MediaEngineNotify);
  ComPtr<IMFAttributes> attributes;
  if (FAILED(MFCreateAttributes(attributes.put(), 6))) return false;
  attributes->SetUnknown(win::kMediaEngineCallback,
                         static_cast<win::IMFMediaEngineNotify*>(notify.get()));
  attributes->SetGUID(win::kMediaEngineBrowserCompatibilityMode,
                      win::kMediaEngineCompatibilityModeEdge);
  // The engine reads this attribute as a DXGI format (UINT32); a GUID here
  // leaves the output format unset and frame-server mode without frames.
  attributes->SetUINT32(win::kMediaEngineVideoOutputFormat, win::kDxgiFormatB8G8R8A8Unorm);
  attributes->SetUINT32(win::kMediaEngineFlagAttribute, 1);
  if (route == FrameRoute::Texture) {
    if (textures_.manager() == nullptr) return false;
    attributes->SetUnknown(win::kMediaEngineDxgiManager, textures_.manager());
  }

  if (FAILED(factory->CreateInstance(win::kMediaEngineForceMute, attributes.get(), engine_.put()))) {
    return false;
  }
  if (FAILED(engine_->QueryInterface(win::kIidMediaEngineEx, engineEx_.put_void()))) return false;
  ++enginesMade_;
  engineMadeAt_ = GetTickCount();
  notify->AttachEngine(engine_.get());
  notify->AddRef();
  notify_ = ComPtr<win::IMFMediaEngineNotify>(notify.get());
  url_ = url;

  const win::ScopedBstr source(SysAllocString(url.c_str()));
  if (!source || FAILED(engine_->SetSource(source.get()))) return false;
  // SetSource already starts loading; an engine that does not implement
  // Load (Wine's) still plays.
  const HRESULT load = engine_->Load();
  return SUCCEEDED(load) || load == E_NOTIMPL;
}

void BackgroundVideo::PlayMuted() {
  engine_->SetMuted(TRUE);
  engine_->SetLoop(TRUE);
  if (!paused_) engine_->Play();
}

bool BackgroundVideo::StartVideoFromUrl(const std::wstring& url, FrameRoute route,
                                        bool* rejected) {
  *rejected = false;
  if (!CreateEngine(url, route)) return false;
  auto* notify = static_cast<MediaEngineNotify*>(notify_.get());

  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kReadyWaitMs) {
    PumpMessages();
    // The window may have been shut down by a message handled just now.
    if (!engine_) return false;
    if (notify->canPlay()) return !notify->failed() && PlayUntilSized(route);
    if (notify->failed()) {
      *rejected = true;
      return false;
    }
    if (QuitPending()) return false;
    HANDLE event = notify->event();
    if (event != nullptr) {
      MsgWaitForMultipleObjects(1, &event, FALSE, kWaitSliceMs, QS_ALLINPUT);
    } else {
      Sleep(kWaitSliceMs);
    }
  }
  return false;
}

bool BackgroundVideo::PlayUntilSized(FrameRoute route) {
  engine_->SetMuted(TRUE);
  engine_->SetLoop(TRUE);
  if (FAILED(engine_->Play())) return false;
  playing_ = true;
  route_ = route;
  const DWORD sizeStart = GetTickCount();
  for (;;) {
    LONGLONG pts = 0;
    engineEx_->OnVideoStreamTick(&pts);
    PumpMessages();
    if (!engine_) return false;
    DWORD width = 0;
    DWORD height = 0;
    engine_->GetNativeVideoSize(&width, &height);
    if (width > 0 && height > 0) {
      engineEx_->OnVideoStreamTick(&pts);
      if (RefusesFrames(route)) {
        // It would decode for nothing: no frame of it can ever be drawn.
        // Paused rather than shut down: Wine's pipeline can stall when an
        // engine goes this soon after starting. The next route's start or
        // teardown ends it.
        framesRefused_ = true;
        engine_->Pause();
        playing_ = false;
        route_ = FrameRoute::None;
        return false;
      }
      if (paused_) engine_->Pause();
      return true;
    }
    if (GetTickCount() - sizeStart >= kFirstFrameWaitMs || QuitPending()) return false;
    Sleep(1);
  }
}

void BackgroundVideo::SetPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  if (!playing_) return;
  if (route_ == FrameRoute::Reader) {
    reader_.SetPaused(paused);
    return;
  }
  if (route_ == FrameRoute::Texture) {
    // Wine's engine can fault when it plays again after a pause that came
    // soon after its start: it is shut down instead, and a new one starts
    // the clip again. Still playing as far as the window goes. One that is
    // still loading or has only just started plays on unseen instead: its
    // pipeline can stall the thread that shuts it down that early.
    if (paused) {
      if (engine_ && (restarting_ || GetTickCount() - engineMadeAt_ < kYoungEngineMs)) {
        keptBehindPause_ = true;
        return;
      }
      ShutdownVideo();
      playing_ = true;
      route_ = FrameRoute::Texture;
    } else if (keptBehindPause_ && engine_) {
      keptBehindPause_ = false;
    } else {
      RestartClip();
    }
    return;
  }
  if (!engine_ || restarting_) return;
  if (paused) {
    engine_->Pause();
  } else {
    engine_->Play();
  }
}

void BackgroundVideo::RestartClip() {
  const FrameRoute route = route_;
  ShutdownVideo();
  if (!CreateEngine(url_, route)) {
    ShutdownVideo();
    return;
  }
  // Still playing as far as the window goes: the last frame stays on screen
  // until the new engine gives one.
  playing_ = true;
  route_ = route;
  restarting_ = true;
}

bool BackgroundVideo::DecodeStill(HMODULE module) {
  if (!still_) {
    const std::u16string path = GetVideoPath(module);
    if (!path.empty()) still_ = DecodeFirstFrame(path);
  }
  return still_.has_value();
}

double BackgroundVideo::CurrentTime() const {
  // The engine's method shares its name with a winbase.h macro.
#pragma push_macro("GetCurrentTime")
#undef GetCurrentTime
  return engine_ ? engine_->GetCurrentTime() : -1.0;
#pragma pop_macro("GetCurrentTime")
}

bool BackgroundVideo::NativeVideoSize(DWORD* width, DWORD* height) const {
  *width = 0;
  *height = 0;
  if (!engine_) return false;
  engine_->GetNativeVideoSize(width, height);
  return *width > 0 && *height > 0;
}

bool BackgroundVideo::RefusesFrames(FrameRoute route) {
  HRESULT result = E_FAIL;
  if (route == FrameRoute::Texture) {
    result = TransferTextureResult(16, 16);
  } else {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmap> probe;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, factory.put_void())) ||
        FAILED(factory->CreateBitmap(16, 16, GUID_WICPixelFormat32bppPBGRA,
                                     WICBitmapCacheOnLoad, probe.put()))) {
      return false;  // Nothing to judge by; the frames will tell.
    }
    result = TransferFrameResult(probe.get());
  }
  // Any other failure may be a frame not decoded yet. These two say that
  // the kind of destination is not supported, which no later frame changes
  // (Wine's engine draws only into Direct3D 11 textures).
  return result == E_NOINTERFACE || result == E_NOTIMPL;
}

bool BackgroundVideo::NewFrameReady() {
  if (route_ == FrameRoute::Reader) return playing_ && reader_.NewFrameReady();
  if (!engine_ || !playing_) return false;
  auto* notify = static_cast<MediaEngineNotify*>(notify_.get());
  if (restarting_) {
    if (notify->failed()) {
      ShutdownVideo();
    } else if (notify->canPlay()) {
      restarting_ = false;
      PlayMuted();
    }
    return false;
  }
  if (notify->ended()) {
    ReplayAtEnd();
    return false;
  }
  if (!engineEx_) return true;
  LONGLONG pts = 0;
  // S_FALSE: the frame on screen is still the current one. Some engines
  // (Wine's) say S_OK again for the same frame; its time tells.
  if (engineEx_->OnVideoStreamTick(&pts) != S_OK || pts == lastFramePts_) {
    if (replaying_ && GetTickCount() - replayStart_ >= kReplayWaitMs) {
      replayFails_ = true;
      RestartClip();
    }
    return false;
  }
  replaying_ = false;
  lastFramePts_ = pts;
  return true;
}

void BackgroundVideo::ReplayAtEnd() {
  // A replay that ended again without a frame has failed too.
  if (replaying_) replayFails_ = true;
  if (replayFails_) {
    RestartClip();
    return;
  }
  static_cast<MediaEngineNotify*>(notify_.get())->ClearEnded();
  // Wine's engine starts its session again only from a pause; it ended at
  // the clip's end, so it starts from the beginning.
  engine_->Pause();
  engine_->Play();
  replaying_ = true;
  replayStart_ = GetTickCount();
  lastFramePts_ = -1;
}

bool BackgroundVideo::TransferFrame(IWICBitmap* target) {
  return route_ == FrameRoute::Bitmap && SUCCEEDED(TransferFrameResult(target));
}

MappedFrame BackgroundVideo::ReadFrame(std::uint32_t width, std::uint32_t height) {
  if (route_ != FrameRoute::Texture || restarting_ ||
      FAILED(TransferTextureResult(width, height))) {
    return MappedFrame();
  }
  return textures_.Read();
}

DecodedFrame BackgroundVideo::LatestDecodedFrame() {
  return route_ == FrameRoute::Reader && playing_ ? reader_.Latest() : DecodedFrame();
}

HRESULT BackgroundVideo::TransferTextureResult(std::uint32_t width, std::uint32_t height) {
  if (!engine_ || !playing_) return E_FAIL;
  DWORD videoWidth = 0;
  DWORD videoHeight = 0;
  engine_->GetNativeVideoSize(&videoWidth, &videoHeight);
  return textures_.Transfer(engine_.get(), width, height,
                            CropToFill(videoWidth, videoHeight, width, height));
}

HRESULT BackgroundVideo::TransferFrameResult(IWICBitmap* target) {
  if (!engine_ || !playing_ || target == nullptr) return E_FAIL;
  if (engineEx_) {
    LONGLONG pts = 0;
    engineEx_->OnVideoStreamTick(&pts);
  }
  UINT targetWidth = 0;
  UINT targetHeight = 0;
  if (FAILED(target->GetSize(&targetWidth, &targetHeight))) return E_FAIL;
  DWORD videoWidth = 0;
  DWORD videoHeight = 0;
  engine_->GetNativeVideoSize(&videoWidth, &videoHeight);
  const RectF crop = CropToFill(videoWidth, videoHeight, targetWidth, targetHeight);
  const win::MfVideoNormalizedRect source{crop.left, crop.top, crop.right, crop.bottom};
  const RECT destination{0, 0, static_cast<LONG>(targetWidth), static_cast<LONG>(targetHeight)};
  const win::MfArgb border{0, 0, 0, 255};
  return engine_->TransferVideoFrame(target, &source, &destination, &border);
}

}  // namespace emberfall
