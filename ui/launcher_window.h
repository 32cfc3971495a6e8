// The launcher's only top-level window: a borderless popup with a
// custom-drawn face over the background video. It owns the patch engine and
// carries out what its WindowController decides (the face, the countdown,
// the boxes, the game and settings starts, the links); the window itself is
// Win32 plumbing: hit tests, timers, posting and drawing. Everything runs on
// the UI thread except the progress callback, which only puts a copy of the
// snapshot in the window's mailbox.
#ifndef EMBERFALL_UI_LAUNCHER_WINDOW_H_
#define EMBERFALL_UI_LAUNCHER_WINDOW_H_

#include <chrono>
#include <cstdint>
#include <memory>

#include "core/ui_strings.h"
#include "core/win/windows_include.h"
#include "engine/patch_engine.h"
#include "engine/snapshot_mailbox.h"
#include "ui/background_video.h"
#include "ui/layout.h"
#include "ui/render_resources.h"
#include "ui/scoped_gdi.h"
#include "ui/scoped_window.h"
#include "ui/window_controller.h"

namespace emberfall {

// Snapshots wait in the window's mailbox; this only says so (wParam, lParam 0).
inline constexpr UINT WM_LAUNCHER_PROGRESS = WM_APP + 1;
inline constexpr UINT_PTR kRedrawTimer = 1;
inline constexpr UINT_PTR kCountdownTimer = 2;
// One frame drawn later, behind input that was waiting.
inline constexpr UINT_PTR kDeferredRedrawTimer = 3;
inline constexpr wchar_t kLauncherWindowClass[] = L"EmbLauncherNative";

// Position and size in physical pixels for |monitor|, from its work area and
// effective DPI (see PlaceOnWorkArea).
WindowPlacement ComputeWindowPlacement(HMONITOR monitor);

// What the window is built from: the launcher's paths, the texts of its
// language and the options of the engine it owns. The launcher's start-up
// makes them; tests point the engine elsewhere.
struct LauncherWindowParts {
  LauncherPaths paths;
  UiStrings strings;
  PatchEngineOptions engineOptions;
};

class LauncherWindow : private WindowHost {
 public:
  // Builds the window's engine from |parts|; creates no window.
  LauncherWindow(HINSTANCE instance, LauncherWindowParts parts);
  // Stops taking snapshots from the worker, then destroys the window, so
  // that no message reaches a released object.
  ~LauncherWindow() override;
  LauncherWindow(const LauncherWindow&) = delete;
  LauncherWindow& operator=(const LauncherWindow&) = delete;

  // Stops the countdown, hides the window and waits at most |timeoutMs| for
  // the patch worker. True when it ended.
  bool CloseAndWait(DWORD timeoutMs);

  HWND window() const { return window_.get(); }
  const WindowController& controller() const { return controller_; }

 private:
  friend std::unique_ptr<LauncherWindow> CreateLauncherWindow(HINSTANCE, LauncherWindowParts);

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  bool Create();
  // Loads the icons and registers the window class (or finds it registered).
  bool RegisterWindowClass();
  void StopTimers();
  void OnProgressMessage();
  void OnTimer(UINT_PTR id);
  void Replace();
  void ResizeToClient();
  void Render();
  // Draws when the controller reports a change and the face can be seen.
  // Changes the user made draw at once; the patch worker's progress draws
  // within a share of the time (see kDrawingShare).
  enum class Urgency { Input, Progress };
  void RedrawIfChanged(Urgency urgency = Urgency::Input);
  // The frame timer runs only while a video plays in a visible window.
  void UpdateFrameTimer();
  bool InputOrSnapshotWaiting() const;

  // WindowHost
  void StartEngine() override;
  void CancelEngine() override;
  LaunchResult LaunchGame(std::uint32_t* error) override;
  SettingsStart StartSettings(std::uint32_t* error) override;
  void OpenUrl(const std::u16string& url) override;
  void SetCountdownTimer(bool running) override;
  void ShowWindowAs(WindowShow show) override;
  BoxAnswer ShowBox(const std::u16string& text, const std::u16string& caption,
                    BoxKind kind) override;
  void RetryVideo() override;
  void Quit() override;

  HINSTANCE instance_;
  // Open while the window exists. The engine's callback holds a reference of
  // its own, as its worker may report until the engine is destroyed.
  const std::shared_ptr<SnapshotMailbox> mailbox_ = std::make_shared<SnapshotMailbox>();
  // The icons given to the class and the window; they go after both.
  win::ScopedIcon bigIcon_;
  win::ScopedIcon smallIcon_;
  win::ScopedWindowClass windowClass_;
  // Set at WM_NCCREATE, released at WM_NCDESTROY when the system destroys
  // the window.
  win::ScopedWindow window_;
  win::ScopedTimer redrawTimer_;
  win::ScopedTimer countdownTimer_;
  win::ScopedTimer deferredRedrawTimer_;
  RenderResources render_;
  BackgroundVideo video_;
  LauncherPaths paths_;
  UiStrings strings_;
  WindowController controller_;
  PatchEngine engine_;
  bool frameTimer_ = false;
  std::chrono::steady_clock::time_point lastRenderEnd_{};
  std::chrono::steady_clock::duration lastRenderCost_{};
};

// Registers the class, creates and shows the window with its rendering
// device, starts the first patch run, waits up to 15 s for the video
// preparation and starts playback (a video failure is reported, not fatal).
// Nothing on failure.
std::unique_ptr<LauncherWindow> CreateLauncherWindow(HINSTANCE instance, LauncherWindowParts parts);

// Reads the thread's next message as GetMessageW does: above 0 a message,
// 0 WM_QUIT, -1 a failure.
using GetMessageFunction = BOOL (*)(MSG* msg);

// Dispatches the thread's messages until WM_QUIT and returns its wParam;
// 1 when reading a message fails. |getMessage| replaces GetMessageW in tests.
int RunMessageLoop(GetMessageFunction getMessage = nullptr);

}  // namespace emberfall

#endif  // EMBERFALL_UI_LAUNCHER_WINDOW_H_
