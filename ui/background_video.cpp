#include "ui/background_video.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "core/file_apply.h"
#include "core/fs_path.h"
#include "core/win/scoped_handle.h"
#include "core/win/wide.h"
#include "ui/layout.h"
#include "ui/media_engine.h"
#include "ui/video_file.h"

// After windows.h, which they need.
#include <mfreadwrite.h>
#include <wincodec.h>

namespace emberfall {
namespace {

using win::ComPtr;

constexpr DWORD kReadyWaitMs = 30000;
constexpr DWORD kFirstFrameWaitMs = 3000;
constexpr DWORD kWaitSliceMs = 16;

// Shared by the UI thread and the extraction thread. Never destroyed: the
// detached extraction thread may still use it while the process exits.
struct Preparation {
  std::mutex mutex;
  std::u16string path;
  HANDLE readyEvent = nullptr;
  bool started = false;
};

Preparation& SharedPreparation() {
  static Preparation* preparation = new Preparation;
  return *preparation;
}

// The launcher runs elevated, and the temporary folder is the user's to
// write: between the content check and the engine's open, another process
// could swap the file, or turn the folder into a junction so that the write
// lands elsewhere. The verified file and its folder stay open, sharing
// neither writing nor deleting, so neither can change while the engine may
// read the file. Never destroyed, like the preparation.
struct HeldVideo {
  std::mutex mutex;
  win::ScopedFileHandle folder;
  win::ScopedFileHandle file;
};

HeldVideo& SharedHeldVideo() {
  static HeldVideo* held = new HeldVideo;
  return *held;
}

// A handle opened with FILE_FLAG_OPEN_REPARSE_POINT shows a link as what it
// is, so a junction or symbolic link fails this check.
bool IsPlain(HANDLE handle, bool directory) {
  FILE_BASIC_INFO info{};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof(info))) return false;
  if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
  return ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == directory;
}

// Without FILE_SHARE_DELETE nobody can rename the folder away and put a
// junction in its place while this handle lives.
win::ScopedFileHandle OpenVideoFolder(const std::wstring& folder) {
  constexpr DWORD kFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  win::ScopedFileHandle handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, kFlags, nullptr));
  if (!handle || !IsPlain(handle.get(), true)) return {};
  return handle;
}

bool HandleHasContents(HANDLE file, std::string_view bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != bytes.size()) {
    return false;
  }
  std::vector<char> buffer(1 << 16);
  size_t offset = 0;
  while (offset < bytes.size()) {
    const auto want = static_cast<DWORD>(std::min(buffer.size(), bytes.size() - offset));
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), want, &got, nullptr) || got != want) return false;
    if (!std::equal(buffer.begin(), buffer.begin() + want, bytes.begin() + offset)) return false;
    offset += want;
  }
  return true;
}

// Opens the folder and the file of |path| without following links, checks
// the file against |bytes| through the handle that will be held, and holds
// both. False, holding nothing new, when any of that fails.
bool HoldVerifiedVideo(const std::u16string& path, std::string_view bytes) {
  win::ScopedFileHandle folder =
      OpenVideoFolder(win::ToWinString(WidePath(FsPath(path).parent_path())));
  if (!folder) return false;
  const std::wstring native = win::ToWinString(path);
  win::ScopedFileHandle file(CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || !IsPlain(file.get(), false) || !HandleHasContents(file.get(), bytes)) return false;
  HeldVideo& held = SharedHeldVideo();
  std::lock_guard<std::mutex> lock(held.mutex);
  held.file = std::move(file);
  held.folder = std::move(folder);
  return true;
}

// Under the preparation mutex.
void EnsureReadyEvent(Preparation& p) {
  if (p.readyEvent == nullptr) p.readyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

void ExtractionThread(HMODULE module) {
  std::u16string path;
  try {
    path = ExtractVideoResource(module);
  } catch (...) {
    path.clear();
  }
  Preparation& p = SharedPreparation();
  std::lock_guard<std::mutex> lock(p.mutex);
  try {
    if (!path.empty()) p.path = path;
  } catch (...) {
  }
  EnsureReadyEvent(p);
  if (p.readyEvent != nullptr) SetEvent(p.readyEvent);
}

HMODULE ModuleOrExe(HMODULE module) { return module != nullptr ? module : GetModuleHandleW(nullptr); }

// The engine's event sink. Called on Media Foundation's threads: it only
// sets flags and signals, except that the end of the clip seeks back to the
// start, under a lock that ShutdownVideo takes to cut the link first.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class MediaEngineNotify final : public win::IMFMediaEngineNotify {
 public:
  MediaEngineNotify() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, win::kIidMediaEngineNotify)) {
      *out = static_cast<win::IMFMediaEngineNotify*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE EventNotify(DWORD event, DWORD_PTR param1, DWORD) override {
    switch (event) {
      case win::kMediaEngineEventError:
        failed_ = true;
        Signal();
        break;
      case win::kMediaEngineEventLoadedData:
      case win::kMediaEngineEventPlaying:
      case win::kMediaEngineEventCanPlay:
      case win::kMediaEngineEventFirstFrameReady:
        canPlay_ = true;
        Signal();
        break;
      case win::kMediaEngineEventEnded: {
        std::lock_guard<std::mutex> lock(engineMutex_);
        if (engine_ != nullptr) {
          // An engine that cannot seek (Wine's) leaves the new start to the
          // UI thread.
          if (FAILED(engine_->SetCurrentTime(0.0))) {
            ended_ = true;
          } else {
            engine_->Play();
          }
        }
        break;
      }
      case win::kMediaEngineEventNotifyStableState:
        if (param1 != 0) SetEvent(reinterpret_cast<HANDLE>(param1));
        break;
      default:
        break;
    }
    return S_OK;
  }

  void AttachEngine(win::IMFMediaEngine* engine) {
    std::lock_guard<std::mutex> lock(engineMutex_);
    engine_ = engine;
    canPlay_ = false;
    failed_ = false;
    ended_ = false;
    if (event_) ResetEvent(event_.get());
  }
  void DetachEngine() {
    std::lock_guard<std::mutex> lock(engineMutex_);
    engine_ = nullptr;
  }
  bool canPlay() const { return canPlay_; }
  bool failed() const { return failed_; }
  bool ended() const { return ended_; }
  HANDLE event() const { return event_.get(); }

 private:
  ~MediaEngineNotify() = default;
  void Signal() {
    if (event_) SetEvent(event_.get());
  }

  std::atomic<ULONG> refs_{1};
  win::ScopedHandle event_;
  std::atomic<bool> canPlay_{false};
  std::atomic<bool> failed_{false};
  std::atomic<bool> ended_{false};
  std::mutex engineMutex_;
  win::IMFMediaEngine* engine_ = nullptr;  // not owned
};
#pragma GCC diagnostic pop

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

std::string_view VideoResourceBytes(HMODULE module) {
  module = ModuleOrExe(module);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(kVideoResourceId), MAKEINTRESOURCEW(10));
  if (info == nullptr) return {};
  const DWORD size = SizeofResource(module, info);
  HGLOBAL loaded = LoadResource(module, info);
  if (size == 0 || loaded == nullptr) return {};
  const void* data = LockResource(loaded);
  if (data == nullptr) return {};
  return std::string_view(static_cast<const char*>(data), size);
}

std::u16string TempVideoPath() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH, buffer);
  if (length == 0 || length > MAX_PATH) return {};
  std::u16string path = win::FromWinString(buffer, length);
  if (path.back() != u'\\' && path.back() != u'/') path += u'\\';
  return path + u"EmbLauncher\\hero.mp4";
}

std::optional<std::u16string> FindReusableVideoFile(HMODULE module) {
  const std::string_view bytes = VideoResourceBytes(module);
  if (bytes.empty()) return std::nullopt;
  std::u16string path = TempVideoPath();
  if (path.empty()) return std::nullopt;
  if (!HoldVerifiedVideo(path, bytes)) return std::nullopt;
  return path;
}

std::u16string ExtractVideoResource(HMODULE module) {
  if (std::optional<std::u16string> reusable = FindReusableVideoFile(module)) return *reusable;
  const std::string_view bytes = VideoResourceBytes(module);
  if (bytes.empty()) return {};
  const std::u16string path = TempVideoPath();
  if (path.empty()) return {};
  std::error_code ec;
  const std::filesystem::path folder = FsPath(path).parent_path();
  std::filesystem::create_directories(folder, ec);

  // Held while writing, so the folder checked here is the one written to.
  const win::ScopedFileHandle held_folder = OpenVideoFolder(win::ToWinString(WidePath(folder)));
  if (!held_folder) return {};
  if (!WriteNewFile(path, bytes)) return {};
  // The file was closed after writing; what is held is checked once more.
  if (!HoldVerifiedVideo(path, bytes)) return {};
  return path;
}

void ReleaseVideoFile() {
  HeldVideo& held = SharedHeldVideo();
  std::lock_guard<std::mutex> lock(held.mutex);
  held.file.reset();
  held.folder.reset();
}

void PrepareBackgroundVideo(HMODULE module) {
  module = ModuleOrExe(module);
  Preparation& p = SharedPreparation();
  std::lock_guard<std::mutex> lock(p.mutex);
  EnsureReadyEvent(p);
  if (p.started) return;
  p.started = true;
  if (p.path.empty()) {
    if (std::optional<std::u16string> reusable = FindReusableVideoFile(module)) p.path = *reusable;
  }
  if (!p.path.empty()) {
    if (p.readyEvent != nullptr) SetEvent(p.readyEvent);
    return;
  }
  try {
    std::thread(ExtractionThread, module).detach();
  } catch (const std::system_error&) {
    // No thread: run without waiting; GetVideoPath extracts on demand.
    if (p.readyEvent != nullptr) SetEvent(p.readyEvent);
  }
}

bool WaitForBackgroundVideo(HMODULE module, DWORD timeoutMs) {
  PrepareBackgroundVideo(module);
  HANDLE event = nullptr;
  {
    Preparation& p = SharedPreparation();
    std::lock_guard<std::mutex> lock(p.mutex);
    event = p.readyEvent;
  }
  if (event == nullptr) return false;
  if (WaitForSingleObject(event, timeoutMs) != WAIT_OBJECT_0) return false;
  return !GetVideoPath(module).empty();
}

std::u16string GetVideoPath(HMODULE module) {
  Preparation& p = SharedPreparation();
  std::lock_guard<std::mutex> lock(p.mutex);
  if (!p.path.empty()) return p.path;
  std::u16string path = ExtractVideoResource(ModuleOrExe(module));
  if (!path.empty()) p.path = path;
  return path;
}

BackgroundVideo::BackgroundVideo(FrameRoutes routes) : routes_(routes) {
  mediaFoundationStarted_ = SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_LITE));
}

BackgroundVideo::~BackgroundVideo() {
  ShutdownVideo();
  textures_.Release();
  if (mediaFoundationStarted_) MFShutdown();
}

void BackgroundVideo::ShutdownVideo() {
  if (notify_) static_cast<MediaEngineNotify*>(notify_.get())->DetachEngine();
  if (engine_) engine_->Shutdown();
  engineEx_.reset();
  engine_.reset();
  notify_.reset();
  if (refusedNotify_) static_cast<MediaEngineNotify*>(refusedNotify_.get())->DetachEngine();
  if (refused_) refused_->Shutdown();
  refused_.reset();
  refusedNotify_.reset();
  playing_ = false;
  restarting_ = false;
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
  if (engine_ || notify_) ShutdownVideo();
  framesRefused_ = false;
  const std::u16string path = GetVideoPath(module);
  if (path.empty()) return false;
  for (const FrameRoute route : {FrameRoute::Bitmap, FrameRoute::Texture}) {
    if (!(route == FrameRoute::Bitmap ? routes_.bitmap : routes_.texture)) continue;
    if (route == FrameRoute::Texture && !textures_.Create()) return false;
    if (engine_) {
      // The engine that refused the route before, paused, set aside.
      refused_ = std::move(engine_);
      refusedNotify_ = std::move(notify_);
      engineEx_.reset();
    }
    framesRefused_ = false;
    bool rejected = false;
    if (StartVideoFromUrl(win::ToWinString(VideoFileUrl(path)), route, &rejected)) return true;
    if (rejected) {
      // Only an engine that refused the source at once gets the older URL form.
      if (notify_) static_cast<MediaEngineNotify*>(notify_.get())->DetachEngine();
      if (engine_) engine_->Shutdown();
      engineEx_.reset();
      engine_.reset();
      notify_.reset();
      if (StartVideoFromUrl(win::ToWinString(LegacyVideoFileUrl(path)), route, &rejected)) {
        return true;
      }
    }
    // Another route helps only an engine that plays but refused its frames.
    if (!framesRefused_) return false;
  }
  return false;
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
  notify->AttachEngine(engine_.get());
  notify->AddRef();
  notify_ = ComPtr<win::IMFMediaEngineNotify>(notify.get());
  url_ = url;

  BSTR source = SysAllocString(url.c_str());
  if (source == nullptr) return false;
  const HRESULT set = engine_->SetSource(source);
  SysFreeString(source);
  if (FAILED(set)) return false;
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
    if (notify->canPlay()) {
      if (notify->failed()) return false;
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
            // Paused rather than shut down: Wine's pipeline can stall when
            // an engine goes this soon after starting. The next route's
            // start or teardown ends it.
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

void BackgroundVideo::SetPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  if (!playing_) return;
  if (route_ == FrameRoute::Texture) {
    // Wine's engine can fault when it plays again after a pause that came
    // soon after its start: it is shut down instead, and a new one starts
    // the clip again. Still playing as far as the window goes.
    if (paused) {
      ShutdownVideo();
      playing_ = true;
      route_ = FrameRoute::Texture;
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
    RestartClip();
    return false;
  }
  if (!engineEx_) return true;
  LONGLONG pts = 0;
  // S_FALSE: the frame on screen is still the current one. Some engines
  // (Wine's) say S_OK again for the same frame; its time tells.
  if (engineEx_->OnVideoStreamTick(&pts) != S_OK || pts == lastFramePts_) return false;
  lastFramePts_ = pts;
  return true;
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

namespace {

// The frame's pixels and their rows' distance, locked for reading: through
// IMF2DBuffer where the buffer has it (its pitch is the truth), else as one
// contiguous block.
class LockedFrame {
 public:
  explicit LockedFrame(IMFSample* sample) {
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(sample->GetBufferByIndex(0, buffer.put()))) return;
    if (SUCCEEDED(buffer->QueryInterface(IID_IMF2DBuffer, twoD_.put_void()))) {
      BYTE* scan0 = nullptr;
      LONG pitch = 0;
      if (SUCCEEDED(twoD_->Lock2D(&scan0, &pitch))) {
        data_ = scan0;
        pitch_ = pitch;
        return;
      }
      twoD_.reset();
    }
    if (FAILED(sample->ConvertToContiguousBuffer(buffer_.put()))) return;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (SUCCEEDED(buffer_->Lock(&data, nullptr, &length))) {
      data_ = data;
      length_ = length;
    } else {
      buffer_.reset();
    }
  }
  ~LockedFrame() {
    if (data_ == nullptr) return;
    if (twoD_) twoD_->Unlock2D();
    if (buffer_) buffer_->Unlock();
  }
  LockedFrame(const LockedFrame&) = delete;
  LockedFrame& operator=(const LockedFrame&) = delete;

  const std::uint8_t* data() const { return data_; }
  // 0 when only the length is known.
  LONG pitch() const { return pitch_; }
  DWORD length() const { return length_; }

 private:
  ComPtr<IMF2DBuffer> twoD_;
  ComPtr<IMFMediaBuffer> buffer_;
  const std::uint8_t* data_ = nullptr;
  LONG pitch_ = 0;
  DWORD length_ = 0;
};

bool AskFor(IMFSourceReader* reader, const GUID& subtype) {
  ComPtr<IMFMediaType> type;
  if (FAILED(MFCreateMediaType(type.put()))) return false;
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, subtype);
  return SUCCEEDED(reader->SetCurrentMediaType(
      static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM), nullptr, type.get()));
}

// The first sample that carries a picture; a few empty reads (stream ticks,
// format changes) are passed over.
ComPtr<IMFSample> FirstSample(IMFSourceReader* reader) {
  ComPtr<IMFSample> sample;
  for (int read = 0; read < 8 && !sample; ++read) {
    DWORD flags = 0;
    if (FAILED(reader->ReadSample(static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM), 0,
                                  nullptr, &flags, nullptr, sample.put())) ||
        (flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM))) {
      return {};
    }
  }
  return sample;
}

}  // namespace

std::optional<StillFrame> DecodeFirstFrame(const std::u16string& path) {
  ComPtr<IMFAttributes> attributes;
  if (FAILED(MFCreateAttributes(attributes.put(), 1))) return std::nullopt;
  // Windows converts to RGB32 for us; Wine's reader gives only what its
  // decoder does (NV12), converted here.
  attributes->SetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, TRUE);
  ComPtr<IMFSourceReader> reader;
  const std::wstring file = win::ToWinString(path);
  if (FAILED(MFCreateSourceReaderFromURL(file.c_str(), attributes.get(), reader.put()))) {
    return std::nullopt;
  }
  reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
  reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM), TRUE);
  const bool rgb = AskFor(reader.get(), MFVideoFormat_RGB32);
  if (!rgb && !AskFor(reader.get(), MFVideoFormat_NV12)) return std::nullopt;
  ComPtr<IMFMediaType> type;
  UINT64 packedSize = 0;
  if (FAILED(reader->GetCurrentMediaType(static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM),
                                         type.put())) ||
      FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &packedSize))) {
    return std::nullopt;
  }
  const auto codedWidth = static_cast<std::uint32_t>(packedSize >> 32);
  const auto codedHeight = static_cast<std::uint32_t>(packedSize);
  if (codedWidth == 0 || codedHeight == 0 || codedWidth > 8192 || codedHeight > 8192) {
    return std::nullopt;
  }
  // Decoders round the picture up to whole macroblocks; the aperture is the
  // part that is picture.
  StillFrame still{codedWidth, codedHeight, {}};
  MFVideoArea aperture{};
  if (SUCCEEDED(type->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&aperture),
                              sizeof(aperture), nullptr)) &&
      aperture.Area.cx > 0 && aperture.Area.cy > 0 &&
      static_cast<std::uint32_t>(aperture.Area.cx) <= codedWidth &&
      static_cast<std::uint32_t>(aperture.Area.cy) <= codedHeight) {
    still.width = static_cast<std::uint32_t>(aperture.Area.cx);
    still.height = static_cast<std::uint32_t>(aperture.Area.cy);
  }
  const ComPtr<IMFSample> sample = FirstSample(reader.get());
  if (!sample) return std::nullopt;
  const LockedFrame frame(sample.get());
  if (frame.data() == nullptr) return std::nullopt;
  const std::size_t planeRows = rgb ? codedHeight : codedHeight + codedHeight / 2;
  std::int64_t pitch = frame.pitch();
  if (pitch == 0) {
    pitch = frame.length() % planeRows == 0 ? frame.length() / planeRows : 0;
  }
  const std::int64_t rowBytes = rgb ? std::int64_t{codedWidth} * 4 : codedWidth;
  // A negative pitch is a bottom-up picture, whose first row Lock2D still
  // points at; only ever seen for RGB.
  if (std::abs(pitch) < rowBytes || (!rgb && pitch < 0)) return std::nullopt;
  if (frame.pitch() == 0 && static_cast<std::uint64_t>(pitch) * planeRows > frame.length()) {
    return std::nullopt;
  }
  still.pixels.resize(std::size_t{still.width} * still.height * 4);
  const std::uint32_t outStride = still.width * 4;
  if (!rgb) {
    Nv12ToBgra(frame.data(), frame.data() + pitch * codedHeight, static_cast<std::uint32_t>(pitch),
               still.width, still.height, still.pixels.data(), outStride);
    return still;
  }
  for (std::uint32_t y = 0; y < still.height; ++y) {
    std::uint8_t* out = still.pixels.data() + std::size_t{y} * outStride;
    std::memcpy(out, frame.data() + pitch * y, outStride);
    // The fourth byte of RGB32 is padding: opaque here.
    for (std::uint32_t x = 3; x < outStride; x += 4) out[x] = 255;
  }
  return still;
}

}  // namespace emberfall
