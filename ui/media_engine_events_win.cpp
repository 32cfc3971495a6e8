#include "ui/media_engine_events.h"

namespace emberfall {

MediaEngineNotify::MediaEngineNotify() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

HRESULT STDMETHODCALLTYPE MediaEngineNotify::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, win::kIidMediaEngineNotify)) {
    *out = static_cast<win::IMFMediaEngineNotify*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MediaEngineNotify::AddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE MediaEngineNotify::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE MediaEngineNotify::EventNotify(DWORD event, DWORD_PTR param1, DWORD) {
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
    case win::kMediaEngineEventEnded:
      RestartAtEnd();
      break;
    case win::kMediaEngineEventNotifyStableState:
      if (param1 != 0) SetEvent(reinterpret_cast<HANDLE>(param1));
      break;
    default:
      break;
  }
  return S_OK;
}

void MediaEngineNotify::RestartAtEnd() {
  std::lock_guard<std::mutex> lock(engineMutex_);
  if (engine_ == nullptr) return;
  // An engine that cannot seek (Wine's) leaves the new start to the UI
  // thread.
  if (FAILED(engine_->SetCurrentTime(0.0))) {
    ended_ = true;
  } else {
    engine_->Play();
  }
}

void MediaEngineNotify::AttachEngine(win::IMFMediaEngine* engine) {
  std::lock_guard<std::mutex> lock(engineMutex_);
  engine_ = engine;
  canPlay_ = false;
  failed_ = false;
  ended_ = false;
  if (event_) ResetEvent(event_.get());
}

void MediaEngineNotify::DetachEngine() {
  std::lock_guard<std::mutex> lock(engineMutex_);
  engine_ = nullptr;
}

void MediaEngineNotify::Signal() {
  if (event_) SetEvent(event_.get());
}

}  // namespace emberfall
