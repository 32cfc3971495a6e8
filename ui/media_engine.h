// The Media Foundation media-engine interfaces the background video uses.
// mingw-w64's headers do not declare them; these declarations follow the
// vtable order of the platform's interface definitions exactly, because a
// slot out of place calls the wrong method. Methods the launcher never calls
// are still declared, to keep every later slot where the engine has it.
#ifndef EMBERFALL_UI_MEDIA_ENGINE_H_
#define EMBERFALL_UI_MEDIA_ENGINE_H_

#include "core/win/windows_include.h"

// After windows.h, which they need.
#include <mfapi.h>
#include <mfidl.h>
#include <oleauto.h>
#include <unknwn.h>

// winbase.h maps GetCurrentTime to GetTickCount; the engine has a method of
// that name.
#pragma push_macro("GetCurrentTime")
#undef GetCurrentTime

namespace emberfall::win {

struct IMFMediaError;
struct IMFMediaTimeRange;
struct IMFMediaEngineSrcElements;

enum MfMediaEngineEvent : DWORD {
  kMediaEngineEventLoadStart = 1,
  kMediaEngineEventError = 5,
  kMediaEngineEventLoadedData = 11,
  kMediaEngineEventPlaying = 13,
  kMediaEngineEventCanPlay = 14,
  kMediaEngineEventEnded = 19,
  kMediaEngineEventNotifyStableState = 1008,
  kMediaEngineEventFirstFrameReady = 1009,
};

inline constexpr DWORD kMediaEngineForceMute = 0x4;

// {FEE7C112-E776-42B5-9BBF-0048524E2BD5}
inline constexpr GUID kIidMediaEngineNotify = {
    0xfee7c112, 0xe776, 0x42b5, {0x9b, 0xbf, 0x00, 0x48, 0x52, 0x4e, 0x2b, 0xd5}};
// {98A1B0BB-03EB-4935-AE7C-93C1FA0E1C93}
inline constexpr GUID kIidMediaEngine = {
    0x98a1b0bb, 0x03eb, 0x4935, {0xae, 0x7c, 0x93, 0xc1, 0xfa, 0x0e, 0x1c, 0x93}};
// {83015EAD-B1E6-40D0-A98A-37145FFE1AD1}
inline constexpr GUID kIidMediaEngineEx = {
    0x83015ead, 0xb1e6, 0x40d0, {0xa9, 0x8a, 0x37, 0x14, 0x5f, 0xfe, 0x1a, 0xd1}};
// {4D645ACE-26AA-4688-9BE1-DF3516990B93}
inline constexpr GUID kIidMediaEngineClassFactory = {
    0x4d645ace, 0x26aa, 0x4688, {0x9b, 0xe1, 0xdf, 0x35, 0x16, 0x99, 0x0b, 0x93}};
// {B44392DA-499B-446B-A4CB-005FEAD0E6D5}
inline constexpr GUID kClsidMediaEngineClassFactory = {
    0xb44392da, 0x499b, 0x446b, {0xa4, 0xcb, 0x00, 0x5f, 0xea, 0xd0, 0xe6, 0xd5}};

// Attribute keys and values of the engine's creation attributes.
// MF_MEDIA_ENGINE_CALLBACK {C60381B8-83A4-41F8-A3D0-DE05076849A9}
inline constexpr GUID kMediaEngineCallback = {
    0xc60381b8, 0x83a4, 0x41f8, {0xa3, 0xd0, 0xde, 0x05, 0x07, 0x68, 0x49, 0xa9}};
// MF_MEDIA_ENGINE_BROWSER_COMPATIBILITY_MODE {4E0212E2-E18F-41E1-95E5-C0E7E9235BC3}
inline constexpr GUID kMediaEngineBrowserCompatibilityMode = {
    0x4e0212e2, 0xe18f, 0x41e1, {0x95, 0xe5, 0xc0, 0xe7, 0xe9, 0x23, 0x5b, 0xc3}};
// The IE-Edge compatibility mode {A6F3E465-3ACA-442C-A3F0-AD6DDAD839AE}
inline constexpr GUID kMediaEngineCompatibilityModeEdge = {
    0xa6f3e465, 0x3aca, 0x442c, {0xa3, 0xf0, 0xad, 0x6d, 0xda, 0xd8, 0x39, 0xae}};
// MF_MEDIA_ENGINE_VIDEO_OUTPUT_FORMAT {5066893C-8CF9-42BC-8B8A-472212E52726}
inline constexpr GUID kMediaEngineVideoOutputFormat = {
    0x5066893c, 0x8cf9, 0x42bc, {0x8b, 0x8a, 0x47, 0x22, 0x12, 0xe5, 0x27, 0x26}};
// The frame format, a DXGI_FORMAT stored as UINT32: 32-bit BGRA, the layout
// of the WIC bitmap the frames are transferred into.
inline constexpr UINT32 kDxgiFormatB8G8R8A8Unorm = 87;
// MF_MEDIA_ENGINE_DXGI_MANAGER {065702DA-1094-486D-8617-EE7CC4EE4648}: the
// device manager of an engine that draws frames into Direct3D 11 textures.
inline constexpr GUID kMediaEngineDxgiManager = {
    0x065702da, 0x1094, 0x486d, {0x86, 0x17, 0xee, 0x7c, 0xc4, 0xee, 0x46, 0x48}};
// A 32-bit engine attribute set to 1 {49429250-17D7-48B1-8875-60D37DF9B6FA}
inline constexpr GUID kMediaEngineFlagAttribute = {
    0x49429250, 0x17d7, 0x48b1, {0x88, 0x75, 0x60, 0xd3, 0x7d, 0xf9, 0xb6, 0xfa}};

struct MfVideoNormalizedRect {
  float left;
  float top;
  float right;
  float bottom;
};

struct MfArgb {
  BYTE blue;
  BYTE green;
  BYTE red;
  BYTE alpha;
};

// COM interfaces must not gain a virtual destructor: it would add a slot.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

struct IMFMediaEngineNotify : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE EventNotify(DWORD event, DWORD_PTR param1, DWORD param2) = 0;
};

struct IMFMediaEngine : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetError(IMFMediaError** error) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetErrorCode(DWORD error) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSourceElements(IMFMediaEngineSrcElements* elements) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSource(BSTR url) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentSource(BSTR* url) = 0;
  virtual USHORT STDMETHODCALLTYPE GetNetworkState() = 0;
  virtual DWORD STDMETHODCALLTYPE GetPreload() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPreload(DWORD preload) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBuffered(IMFMediaTimeRange** buffered) = 0;
  virtual HRESULT STDMETHODCALLTYPE Load() = 0;
  virtual HRESULT STDMETHODCALLTYPE CanPlayType(BSTR type, DWORD* answer) = 0;
  virtual USHORT STDMETHODCALLTYPE GetReadyState() = 0;
  virtual BOOL STDMETHODCALLTYPE IsSeeking() = 0;
  virtual double STDMETHODCALLTYPE GetCurrentTime() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCurrentTime(double seekTime) = 0;
  virtual double STDMETHODCALLTYPE GetStartTime() = 0;
  virtual double STDMETHODCALLTYPE GetDuration() = 0;
  virtual BOOL STDMETHODCALLTYPE IsPaused() = 0;
  virtual double STDMETHODCALLTYPE GetDefaultPlaybackRate() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultPlaybackRate(double rate) = 0;
  virtual double STDMETHODCALLTYPE GetPlaybackRate() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPlaybackRate(double rate) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPlayed(IMFMediaTimeRange** played) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSeekable(IMFMediaTimeRange** seekable) = 0;
  virtual BOOL STDMETHODCALLTYPE IsEnded() = 0;
  virtual BOOL STDMETHODCALLTYPE GetAutoPlay() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAutoPlay(BOOL autoPlay) = 0;
  virtual BOOL STDMETHODCALLTYPE GetLoop() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetLoop(BOOL loop) = 0;
  virtual HRESULT STDMETHODCALLTYPE Play() = 0;
  virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
  virtual BOOL STDMETHODCALLTYPE GetMuted() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMuted(BOOL muted) = 0;
  virtual double STDMETHODCALLTYPE GetVolume() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetVolume(double volume) = 0;
  virtual BOOL STDMETHODCALLTYPE HasVideo() = 0;
  virtual BOOL STDMETHODCALLTYPE HasAudio() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNativeVideoSize(DWORD* cx, DWORD* cy) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVideoAspectRatio(DWORD* cx, DWORD* cy) = 0;
  virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
  virtual HRESULT STDMETHODCALLTYPE TransferVideoFrame(IUnknown* destination,
                                                       const MfVideoNormalizedRect* source,
                                                       const RECT* destinationRect,
                                                       const MfArgb* borderColour) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnVideoStreamTick(LONGLONG* pts) = 0;
};

struct IMFMediaEngineEx : public IMFMediaEngine {
  virtual HRESULT STDMETHODCALLTYPE SetSourceFromByteStream(IMFByteStream* stream, BSTR url) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStatistics(DWORD statistic, PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE UpdateVideoStream(const MfVideoNormalizedRect* source,
                                                      const RECT* destinationRect,
                                                      const MfArgb* borderColour) = 0;
  virtual double STDMETHODCALLTYPE GetBalance() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBalance(double balance) = 0;
  virtual BOOL STDMETHODCALLTYPE IsPlaybackRateSupported(double rate) = 0;
  virtual HRESULT STDMETHODCALLTYPE FrameStep(BOOL forward) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResourceCharacteristics(DWORD* characteristics) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPresentationAttribute(REFGUID key, PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfStreams(DWORD* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamAttribute(DWORD stream, REFGUID key,
                                                       PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamSelection(DWORD stream, BOOL* enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStreamSelection(DWORD stream, BOOL enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE ApplyStreamSelections() = 0;
  virtual HRESULT STDMETHODCALLTYPE IsProtected(BOOL* isProtected) = 0;
  virtual HRESULT STDMETHODCALLTYPE InsertVideoEffect(IUnknown* effect, BOOL optional) = 0;
  virtual HRESULT STDMETHODCALLTYPE InsertAudioEffect(IUnknown* effect, BOOL optional) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveAllEffects() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTimelineMarkerTimer(double timeToFire) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTimelineMarkerTimer(double* timeToFire) = 0;
  virtual HRESULT STDMETHODCALLTYPE CancelTimelineMarkerTimer() = 0;
  virtual BOOL STDMETHODCALLTYPE IsStereo3D() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStereo3DFramePackingMode(DWORD* mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStereo3DFramePackingMode(DWORD mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStereo3DRenderMode(DWORD* mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStereo3DRenderMode(DWORD mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnableWindowlessSwapchainMode(BOOL enable) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVideoSwapchainHandle(HANDLE* swapchain) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnableHorizontalMirrorMode(BOOL enable) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAudioStreamCategory(UINT32* category) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAudioStreamCategory(UINT32 category) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAudioEndpointRole(UINT32* role) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAudioEndpointRole(UINT32 role) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRealTimeMode(BOOL* enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRealTimeMode(BOOL enable) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCurrentTimeEx(double seekTime, DWORD seekMode) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnableTimeUpdateTimer(BOOL enable) = 0;
};

struct IMFMediaEngineClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(DWORD flags, IMFAttributes* attributes,
                                                   IMFMediaEngine** engine) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateTimeRange(IMFMediaTimeRange** range) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateError(IMFMediaError** error) = 0;
};

#pragma GCC diagnostic pop

}  // namespace emberfall::win

#pragma pop_macro("GetCurrentTime")

#endif  // EMBERFALL_UI_MEDIA_ENGINE_H_
