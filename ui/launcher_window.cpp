#include "ui/launcher_window.h"

#include <windowsx.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "app/elevation.h"
#include "app/error_reporter.h"
#include "engine/game_launch.h"
#include "app/process_launch.h"
#include "app/shell_open.h"
#include "core/fs_path.h"
#include "core/build_settings.h"
#include "core/text.h"
#include "core/win/wide.h"
#include "ui/video_preparation.h"

// After windows.h, which they need.
#include <shellapi.h>

namespace emberfall {
namespace {

constexpr UINT kRedrawIntervalMs = 33;
constexpr UINT kCountdownIntervalMs = 1000;
constexpr DWORD kVideoPreparationWaitMs = 15000;
// Progress frames take at most about one part in this many of the time.
// With hardware drawing a frame costs a millisecond and every snapshot is
// drawn; with software drawing (Wine, remote sessions) a frame can cost a
// quarter of a second, and progress then moves every few seconds instead of
// keeping a core busy.
constexpr int kDrawingShare = 16;
constexpr UINT kReplaceFlags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

// shcore's GetDpiForMonitor exists from Windows 8.1 on; earlier systems get
// 96 DPI.
UINT MonitorDpi(HMONITOR monitor) {
  static const auto getDpi = []() -> GetDpiForMonitorFn {
    HMODULE shcore = LoadLibraryW(L"shcore.dll");
    if (shcore == nullptr) return nullptr;
    return reinterpret_cast<GetDpiForMonitorFn>(
        reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
  }();
  UINT dpiX = 0;
  UINT dpiY = 0;
  constexpr int kEffectiveDpi = 0;
  if (getDpi == nullptr || FAILED(getDpi(monitor, kEffectiveDpi, &dpiX, &dpiY))) return 96;
  return dpiX;
}

HICON LoadAppIcon(HINSTANCE instance, int size) {
  const UINT flags = size == 0 ? LR_DEFAULTSIZE : 0;
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, flags));
}

// User and kernel time of all the process's threads.
std::chrono::nanoseconds ProcessCpuTime() {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return {};
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return std::chrono::nanoseconds((ticks(kernel) + ticks(user)) * 100);
}

int ShowBoxW(HWND owner, const std::u16string& text, const std::u16string& caption, UINT style) {
  return MessageBoxW(owner, reinterpret_cast<const wchar_t*>(text.c_str()),
                     reinterpret_cast<const wchar_t*>(caption.c_str()), style);
}

}  // namespace

WindowPlacement ComputeWindowPlacement(HMONITOR monitor) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) return PlaceOnWorkArea(std::nullopt, 96);
  const WorkArea work{info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
  return PlaceOnWorkArea(work, MonitorDpi(monitor));
}

namespace {

ControllerTexts MakeControllerTexts(const UiStrings& strings) {
  ControllerTexts texts;
  texts.strings = strings;
  texts.launchCancelled = LaunchCancelledText();
  texts.elevationRequired = ElevationRequiredText();
  texts.websiteUrl = Utf8ToWide(WebsiteUrl());
  texts.communityUrl = Utf8ToWide(CommunityUrl());
  return texts;
}

}  // namespace

LauncherWindow::LauncherWindow(HINSTANCE instance, LauncherWindowParts parts)
    : instance_(instance),
      paths_(std::move(parts.paths)),
      strings_(std::move(parts.strings)),
      controller_(*this, MakeControllerTexts(strings_)),
      engine_(paths_, strings_, PostTo(mailbox_), std::move(parts.engineOptions)) {}

LauncherWindow::~LauncherWindow() {
  mailbox_->Close();
  StopTimers();
  window_.reset();
  // After the window: a class is not unregistered while a window of it
  // exists. The icons go after both, with the members.
  windowClass_.reset();
}

void LauncherWindow::StopTimers() {
  redrawTimer_.reset();
  countdownTimer_.reset();
  deferredRedrawTimer_.reset();
}

LRESULT CALLBACK LauncherWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* self = static_cast<LauncherWindow*>(create->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    if (self != nullptr) self->window_.reset(window);
    return DefWindowProcW(window, message, wParam, lParam);
  }
  auto* self = reinterpret_cast<LauncherWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->mailbox_->Close();
    // The system destroys it; nothing is left to destroy.
    self->window_.release();
    return DefWindowProcW(window, message, wParam, lParam);
  }
  try {
    return self->HandleMessage(message, wParam, lParam);
  } catch (...) {
    // Nothing may unwind into the system's dispatcher. The failed handler's
    // effect is lost; the window goes on.
    return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT LauncherWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCHITTEST: {
      POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ScreenToClient(window(), &point);
      if (render_.HitTest(point.x, point.y) != ButtonId::None) return HTCLIENT;
      return point.y < static_cast<int>(render_.TitleBarHeight()) ? HTCAPTION : HTCLIENT;
    }
    case WM_SETCURSOR: {
      POINT point{};
      GetCursorPos(&point);
      ScreenToClient(window(), &point);
      const bool overButton = render_.HitTest(point.x, point.y) != ButtonId::None;
      SetCursor(LoadCursorW(nullptr, overButton ? IDC_HAND : IDC_ARROW));
      return TRUE;
    }
    case WM_MOUSEMOVE:
      controller_.OnHover(render_.HitTest(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)));
      RedrawIfChanged();
      return 0;
    case WM_LBUTTONDOWN: {
      const int x = GET_X_LPARAM(lParam);
      const int y = GET_Y_LPARAM(lParam);
      const ButtonId hit = render_.HitTest(x, y);
      if (hit == ButtonId::None && y < static_cast<int>(render_.TitleBarHeight())) {
        ReleaseCapture();
        SendMessageW(window(), WM_NCLBUTTONDOWN, HTCAPTION, lParam);
      } else {
        controller_.OnButton(hit);
        RedrawIfChanged();
      }
      return 0;
    }
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_LAUNCHER_PROGRESS:
      OnProgressMessage();
      return 0;
    case WM_PAINT: {
      // Frames are drawn on change; this only restores what another window
      // uncovered.
      { const win::ScopedPaint paint = win::BeginPaintOn(window()); }
      if (!IsIconic(window())) Render();
      return 0;
    }
    case WM_SIZE:
      UpdateFrameTimer();
      if (wParam != SIZE_MINIMIZED) {
        render_.ResizeRenderTarget(LOWORD(lParam), HIWORD(lParam));
        Render();
      }
      return 0;
    case WM_DPICHANGED:
      if (lParam != 0) {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window(), nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     kReplaceFlags);
        ResizeToClient();
        Render();
        return 0;
      }
      [[fallthrough]];
    case WM_DISPLAYCHANGE:
      Replace();
      ResizeToClient();
      Render();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_DESTROY:
      StopTimers();
      controller_.OnClosing();
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window(), message, wParam, lParam);
  }
}

void LauncherWindow::Render() {
  const auto start = std::chrono::steady_clock::now();
  const std::chrono::nanoseconds cpuStart = ProcessCpuTime();
  controller_.TakeChange();
  render_.Render(controller_.state(), strings_, controller_.ready(), controller_.hover(), &video_,
                 controller_.countdown());
  lastRenderEnd_ = std::chrono::steady_clock::now();
  // Software drawing runs on several threads at once; the frame's cost is
  // what the process spent, when that exceeds the time it took.
  lastRenderCost_ = std::max<std::chrono::steady_clock::duration>(
      lastRenderEnd_ - start,
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(ProcessCpuTime() - cpuStart));
}

void LauncherWindow::RedrawIfChanged(Urgency urgency) {
  // After a box or a restore the frames go on.
  UpdateFrameTimer();
  // Minimised, nothing is seen; behind a modal box, drawing would only take
  // time from the box. The change stays noted for the next frame.
  if (window() == nullptr || IsIconic(window()) || !IsWindowVisible(window()) ||
      controller_.boxOpen()) {
    return;
  }
  // Posted messages come before input in the queue. Where a frame takes
  // longer than the worker's progress interval (software drawing on a slow
  // machine), drawing every snapshot would keep a progress message always
  // waiting and clicks would never be read. A newer snapshot or waiting
  // input leaves this frame to a timer, which comes after them.
  if (InputOrSnapshotWaiting()) {
    win::StartTimer(deferredRedrawTimer_, window(), kDeferredRedrawTimer, 1);
    return;
  }
  if (urgency == Urgency::Progress) {
    const auto next = lastRenderEnd_ + lastRenderCost_ * (kDrawingShare - 1);
    const auto now = std::chrono::steady_clock::now();
    if (now < next) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      win::StartTimer(deferredRedrawTimer_, window(), kDeferredRedrawTimer,
                      static_cast<UINT>(std::max<long long>(wait, 1)));
      return;
    }
  }
  switch (controller_.TakeChange()) {
    case FaceChange::None:
      return;
    case FaceChange::StartButton:
      // A second of the countdown: the button alone, unless video frames
      // draw the whole face anyway.
      if (!frameTimer_) {
        render_.RenderStartButton(strings_, controller_.ready(), controller_.hover(), &video_,
                                  controller_.countdown());
        return;
      }
      [[fallthrough]];
    case FaceChange::Whole:
      Render();
      return;
  }
}

void LauncherWindow::UpdateFrameTimer() {
  const bool wanted = window() != nullptr && video_.playing() && !IsIconic(window()) &&
                      IsWindowVisible(window()) && !controller_.boxOpen();
  if (wanted == frameTimer_) return;
  frameTimer_ = wanted;
  // Nothing of the video is seen meanwhile: it need not decode either.
  video_.SetPaused(!wanted);
  if (wanted) {
    win::StartTimer(redrawTimer_, window(), kRedrawTimer, kRedrawIntervalMs);
  } else {
    redrawTimer_.reset();
  }
}

void LauncherWindow::Replace() {
  const WindowPlacement placement =
      ComputeWindowPlacement(MonitorFromWindow(window(), MONITOR_DEFAULTTONEAREST));
  SetWindowPos(window(), nullptr, placement.x, placement.y, placement.width, placement.height,
               kReplaceFlags);
}

void LauncherWindow::ResizeToClient() {
  RECT client{};
  if (GetClientRect(window(), &client)) {
    render_.ResizeRenderTarget(static_cast<std::uint32_t>(client.right - client.left),
                               static_cast<std::uint32_t>(client.bottom - client.top));
  }
}

void LauncherWindow::OnTimer(UINT_PTR id) {
  switch (id) {
    case kRedrawTimer: {
      // Video frames at the video's pace: a tick without a new frame and
      // without a change draws nothing.
      UpdateFrameTimer();
      if (!frameTimer_) return;
      const bool newFrame = video_.NewFrameReady();
      if (newFrame || controller_.TakeChange() != FaceChange::None) Render();
      return;
    }
    case kCountdownTimer:
      controller_.OnCountdownTick();
      RedrawIfChanged();
      return;
    case kDeferredRedrawTimer:
      deferredRedrawTimer_.reset();
      RedrawIfChanged();
      return;
    default:
      return;
  }
}

void LauncherWindow::OnProgressMessage() {
  std::deque<ProgressState> snapshots = mailbox_->TakeAll();
  if (snapshots.empty()) return;
  for (ProgressState& snapshot : snapshots) controller_.OnSnapshot(std::move(snapshot));
  RedrawIfChanged(Urgency::Progress);
}

bool LauncherWindow::InputOrSnapshotWaiting() const {
  if (HIWORD(GetQueueStatus(QS_MOUSEBUTTON | QS_MOUSEMOVE | QS_KEY)) != 0) return true;
  return mailbox_->HasWaiting();
}

void LauncherWindow::StartEngine() { engine_.Start(); }

void LauncherWindow::CancelEngine() { engine_.RequestCancel(); }

LaunchResult LauncherWindow::LaunchGame(std::uint32_t* error) {
  // The game may take the foreground from us.
  AllowSetForegroundWindow(ASFW_ANY);
  const LaunchResult result = engine_.LaunchGame();
  *error = engine_.launchError();
  return result;
}

SettingsStart LauncherWindow::StartSettings(std::uint32_t* error) {
  const std::filesystem::path path = FsPath(paths_.gameFolder) / "config.exe";
  std::error_code ec;
  // A failing existence check is treated like a missing file: either way
  // there is nothing the launcher can start.
  if (!std::filesystem::exists(path, ec)) return SettingsStart::Missing;
  const std::wstring file = path.wstring();
  const std::wstring folder = win::ToWinString(paths_.gameFolder);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.hwnd = window();
  info.lpFile = file.c_str();
  info.lpDirectory = folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&info)) return SettingsStart::Started;
  *error = GetLastError();
  return SettingsStart::Failed;
}

void LauncherWindow::OpenUrl(const std::u16string& url) {
  // Through the desktop shell, so the browser does not inherit our rights.
  emberfall::OpenUrl(window(), url);
}

void LauncherWindow::SetCountdownTimer(bool running) {
  if (window() == nullptr) return;
  if (running) {
    win::StartTimer(countdownTimer_, window(), kCountdownTimer, kCountdownIntervalMs);
  } else {
    countdownTimer_.reset();
  }
}

void LauncherWindow::ShowWindowAs(WindowShow show) {
  switch (show) {
    case WindowShow::Minimised:
      ShowWindow(window(), SW_MINIMIZE);
      return;
    case WindowShow::Hidden:
      ShowWindow(window(), SW_HIDE);
      return;
    case WindowShow::Restored:
      ShowWindow(window(), SW_RESTORE);
      SetForegroundWindow(window());
      return;
  }
}

BoxAnswer LauncherWindow::ShowBox(const std::u16string& text, const std::u16string& caption,
                                  BoxKind kind) {
  const UINT style =
      kind == BoxKind::UpdateError ? MB_RETRYCANCEL | MB_ICONERROR : MB_OK | MB_ICONWARNING;
  // The box is counted open by now: no frames and no decoding behind it.
  UpdateFrameTimer();
  switch (ShowBoxW(window(), text, caption, style)) {
    case IDRETRY:
      return BoxAnswer::Retry;
    case IDOK:
      return BoxAnswer::Ok;
    default:
      return BoxAnswer::Cancel;
  }
}

void LauncherWindow::RetryVideo() {
  // Unless its engine refused our frame target, which no retry changes.
  // StartVideo refuses a call made from inside its own wait.
  if (video_.playing() || video_.starting() || video_.framesRefused()) return;
  video_.StartVideo(instance_);
  UpdateFrameTimer();
}

void LauncherWindow::Quit() { PostQuitMessage(0); }

bool LauncherWindow::CloseAndWait(DWORD timeoutMs) {
  controller_.OnClosing();
  if (window() != nullptr && IsWindow(window())) ShowWindow(window(), SW_HIDE);
  return engine_.StopAndWait(timeoutMs);
}

bool LauncherWindow::RegisterWindowClass() {
  // One pair of icons for the class and the window, destroyed with the
  // window; the class goes with it, so no later window of it shows a
  // destroyed icon.
  bigIcon_.reset(LoadAppIcon(instance_, 0));
  smallIcon_.reset(LoadAppIcon(instance_, 16));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = &LauncherWindow::WindowProc;
  windowClass.hInstance = instance_;
  windowClass.hIcon = bigIcon_.get();
  windowClass.hIconSm = smallIcon_.get();
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kLauncherWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  windowClass_.reset(win::WindowClass{kLauncherWindowClass, instance_});
  return true;
}

bool LauncherWindow::Create() {
  if (!RegisterWindowClass()) return false;
  POINT cursor{};
  HMONITOR monitor = GetCursorPos(&cursor) ? MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST)
                                           : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  const WindowPlacement placement = ComputeWindowPlacement(monitor);
  if (CreateWindowExW(WS_EX_APPWINDOW, kLauncherWindowClass, L"Emb Launcher", WS_POPUP, placement.x,
                      placement.y, placement.width, placement.height, nullptr, nullptr, instance_,
                      this) == nullptr) {
    return false;
  }
  mailbox_->Open(
      [target = window()] { return PostMessageW(target, WM_LAUNCHER_PROGRESS, 0, 0) != FALSE; });
  if (bigIcon_) {
    SendMessageW(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
  }
  if (smallIcon_) {
    SendMessageW(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
  }
  if (!render_.InitRendering(window())) return false;
  // The run overlaps the video start; the controller keeps its snapshots
  // until the window is on screen.
  engine_.Start();

  WaitForBackgroundVideo(instance_, kVideoPreparationWaitMs);
  // The first frame, behind the face until the video gives frames, and for
  // good if it gives none.
  video_.DecodeStill(instance_);
  if (!video_.StartVideo(instance_)) ReportError(u"Video init failed", u"OpenEmbedded");
  // The video's wait dispatches messages. If the window was destroyed in it,
  // its quit message is queued and the message loop ends the launcher.
  if (window() == nullptr) return true;

  for (int pass = 0; pass < 2; ++pass) {
    Replace();
    ResizeToClient();
    Render();
    if (pass == 0) {
      ShowWindow(window(), SW_SHOW);
      UpdateWindow(window());
    }
  }
  SetForegroundWindow(window());
  UpdateFrameTimer();
  controller_.OnShown();
  RedrawIfChanged();
  return true;
}

std::unique_ptr<LauncherWindow> CreateLauncherWindow(HINSTANCE instance, LauncherWindowParts parts) {
  try {
    auto window = std::make_unique<LauncherWindow>(instance, std::move(parts));
    if (!window->Create()) return nullptr;
    return window;
  } catch (...) {
    return nullptr;
  }
}

int RunMessageLoop(GetMessageFunction getMessage) {
  if (getMessage == nullptr) {
    getMessage = [](MSG* msg) { return GetMessageW(msg, nullptr, 0, 0); };
  }
  MSG msg{};
  for (;;) {
    const BOOL read = getMessage(&msg);
    // Nothing says what a failed read leaves in |msg|: no exit code from it.
    if (read == -1) return 1;
    if (read == 0) return static_cast<int>(msg.wParam);
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace emberfall
