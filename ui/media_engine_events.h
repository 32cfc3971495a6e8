// The media engine's event sink: what the engine reports while it loads and
// plays (ready to play, failed, clip ended), kept as flags that the UI
// thread reads, and an event it can wait on. Called on Media Foundation's
// threads: it only sets flags and signals, except that the end of the clip
// seeks back to the start, under a lock that DetachEngine takes to cut the
// link first.
#ifndef EMBERFALL_UI_MEDIA_ENGINE_EVENTS_H_
#define EMBERFALL_UI_MEDIA_ENGINE_EVENTS_H_

#include <atomic>
#include <mutex>

#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"
#include "ui/media_engine.h"

namespace emberfall {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// Reference-counted like any COM object: made with one reference, deleted
// by the last Release.
class MediaEngineNotify final : public win::IMFMediaEngineNotify {
 public:
  MediaEngineNotify();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // Any thread the engine calls from; never fails.
  HRESULT STDMETHODCALLTYPE EventNotify(DWORD event, DWORD_PTR param1, DWORD param2) override;

  // Links the sink to |engine| (not owned) and clears the flags and the
  // event, for a new load. UI thread.
  void AttachEngine(win::IMFMediaEngine* engine);
  // Cuts the link: once this returns, no event touches the engine. UI
  // thread, before the engine is shut down.
  void DetachEngine();

  // The engine can play (or has a frame); set until the next AttachEngine.
  bool canPlay() const { return canPlay_; }
  // The engine reported an error.
  bool failed() const { return failed_; }
  // The clip ended and the engine could not seek back to its start.
  bool ended() const { return ended_; }
  // The UI thread took the end in hand (played the clip again).
  void ClearEnded() { ended_ = false; }
  // Signalled on canPlay and on failed; null when it could not be made.
  HANDLE event() const { return event_.get(); }

 private:
  ~MediaEngineNotify() = default;
  void Signal();
  void RestartAtEnd();

  std::atomic<ULONG> refs_{1};
  win::ScopedHandle event_;
  std::atomic<bool> canPlay_{false};
  std::atomic<bool> failed_{false};
  std::atomic<bool> ended_{false};
  std::mutex engineMutex_;
  win::IMFMediaEngine* engine_ = nullptr;  // not owned
};
#pragma GCC diagnostic pop

}  // namespace emberfall

#endif  // EMBERFALL_UI_MEDIA_ENGINE_EVENTS_H_
