// The launcher's only top-level window: a borderless popup with a
// custom-drawn face over the background video. It owns the patch engine and
// turns its progress snapshots into what the user sees, runs the auto-launch
// countdown, starts the game and the settings program, and opens the links.
// Everything runs on the UI thread except the progress callback, which only
// posts a copy of the snapshot to the window.
#ifndef EMBERFALL_UI_LAUNCHER_WINDOW_H_
#define EMBERFALL_UI_LAUNCHER_WINDOW_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "app/localization.h"
#include "core/patch_engine.h"
#include "core/win/windows_include.h"
#include "ui/background_video.h"
#include "ui/layout.h"
#include "ui/render_resources.h"

namespace emberfall {

// wParam 0; lParam a heap copy of a ProgressState that the window owns from
// the moment the message arrives.
inline constexpr UINT WM_LAUNCHER_PROGRESS = WM_APP + 1;
inline constexpr UINT_PTR kRedrawTimer = 1;
inline constexpr UINT_PTR kCountdownTimer = 2;
inline constexpr wchar_t kLauncherWindowClass[] = L"EmbLauncherNative";

// Position and size in physical pixels for |monitor|, from its work area and
// effective DPI (see PlaceOnWorkArea).
WindowPlacement ComputeWindowPlacement(HMONITOR monitor);

class LauncherWindow {
 public:
  // Builds the window's parts (video, paths, strings, engine); creates no
  // window. |engineOptions| lets tests point the engine elsewhere.
  explicit LauncherWindow(HINSTANCE instance, PatchEngineOptions engineOptions = {});
  // Destroys the window first, so that no message reaches a released object,
  // and frees any snapshot still queued for it.
  ~LauncherWindow();
  LauncherWindow(const LauncherWindow&) = delete;
  LauncherWindow& operator=(const LauncherWindow&) = delete;

  // Stops the countdown, hides the window and waits at most |timeoutMs| for
  // the patch worker. True when it ended.
  bool CloseAndWait(DWORD timeoutMs);

  HWND window() const { return window_; }

 private:
  friend std::unique_ptr<LauncherWindow> CreateLauncherWindow(HINSTANCE, PatchEngineOptions);

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  bool Create();
  void OnProgress(const ProgressState& snapshot);
  void OnProgressMessage(ProgressState* snapshot);
  void OnButton(ButtonId button);
  void OnTimer(UINT_PTR id);
  void StartCountdown();
  void StopCountdown();
  void OnStartGame();
  void OpenSettings();
  void ShowUpdateError(const ProgressState& snapshot);
  void OpenUrl(const std::u16string& url);
  void Replace();
  void ResizeToClient();
  void Render();
  bool InputOrSnapshotWaiting() const;
  void DrainProgressMessages();

  HINSTANCE instance_;
  HWND window_ = nullptr;
  RenderResources render_;
  BackgroundVideo video_;
  LauncherPaths paths_;
  UiStrings strings_;
  PatchEngine engine_;
  ProgressState state_;
  bool ready_ = false;
  ButtonId hoverButton_ = ButtonId::None;
  std::chrono::steady_clock::time_point lastRenderEnd_{};
  std::chrono::steady_clock::duration lastRenderCost_{};
  std::int32_t countdown_ = -1;
  bool autoLaunchDisabled_ = false;
  // The window the worker's callback posts to; null until it exists.
  std::atomic<HWND> postTarget_{nullptr};
};

// Registers the class, creates and shows the window with its rendering
// device, starts the first patch run, waits up to 15 s for the video
// preparation and starts playback (a video failure is reported, not fatal).
// Nothing on failure.
std::unique_ptr<LauncherWindow> CreateLauncherWindow(HINSTANCE instance,
                                                     PatchEngineOptions engineOptions = {});

// Dispatches the thread's messages until WM_QUIT; returns its wParam.
int RunMessageLoop();

}  // namespace emberfall

#endif  // EMBERFALL_UI_LAUNCHER_WINDOW_H_
