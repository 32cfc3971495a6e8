#include "ui/launcher_window.h"

#include <windowsx.h>

#include <chrono>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "app/elevation.h"
#include "app/error_reporter.h"
#include "app/game_launch.h"
#include "app/process_launch.h"
#include "core/fs_path.h"
#include "core/text.h"
#include "core/win/wide.h"
#include "emb_build_config.h"

// After windows.h, which they need.
#include <shellapi.h>

namespace emberfall {
namespace {

constexpr UINT kRedrawIntervalMs = 33;
constexpr UINT kCountdownIntervalMs = 1000;
constexpr DWORD kVideoPreparationWaitMs = 15000;
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

std::u16string WebsitePageUrl() {
  std::u16string base = Utf8ToWide(build_config::kWebsiteUrl);
  while (!base.empty() && base.back() == u'/') base.pop_back();
  return base + u"/new";
}

int ShowBox(HWND owner, const std::u16string& text, const std::u16string& caption, UINT style) {
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

LauncherWindow::LauncherWindow(HINSTANCE instance, PatchEngineOptions engineOptions)
    : instance_(instance),
      paths_(GetLauncherPaths(instance)),
      strings_(LoadUiStrings(DetectLanguage(FindLocaleConfig(paths_)))),
      engine_(paths_, strings_, [this](const ProgressState& snapshot) { OnProgress(snapshot); },
              std::move(engineOptions)) {
  state_.statusText = strings_.Checking;
}

LauncherWindow::~LauncherWindow() {
  if (window_ != nullptr && IsWindow(window_)) {
    KillTimer(window_, kRedrawTimer);
    KillTimer(window_, kCountdownTimer);
    DrainProgressMessages();
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    postTarget_ = nullptr;
    DestroyWindow(window_);
  }
  window_ = nullptr;
}

void LauncherWindow::DrainProgressMessages() {
  MSG msg;
  while (PeekMessageW(&msg, window_, WM_LAUNCHER_PROGRESS, WM_LAUNCHER_PROGRESS, PM_REMOVE)) {
    delete reinterpret_cast<ProgressState*>(msg.lParam);
  }
}

void LauncherWindow::OnProgress(const ProgressState& snapshot) {
  // Worker thread: copy, post, and touch nothing else of the window.
  HWND target = postTarget_.load();
  if (target == nullptr) return;
  ProgressState* copy = nullptr;
  try {
    copy = new ProgressState(snapshot);
  } catch (...) {
    return;
  }
  if (!PostMessageW(target, WM_LAUNCHER_PROGRESS, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
}

LRESULT CALLBACK LauncherWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* self = static_cast<LauncherWindow*>(create->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    if (self != nullptr) self->window_ = window;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  auto* self = reinterpret_cast<LauncherWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) {
    // The snapshot is ours whether or not an object is left to read it.
    if (message == WM_LAUNCHER_PROGRESS) delete reinterpret_cast<ProgressState*>(lParam);
    return DefWindowProcW(window, message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->postTarget_ = nullptr;
    self->window_ = nullptr;
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
      ScreenToClient(window_, &point);
      if (render_.HitTest(point.x, point.y) != ButtonId::None) return HTCLIENT;
      return point.y < static_cast<int>(render_.TitleBarHeight()) ? HTCAPTION : HTCLIENT;
    }
    case WM_SETCURSOR: {
      POINT point{};
      GetCursorPos(&point);
      ScreenToClient(window_, &point);
      const bool overButton = render_.HitTest(point.x, point.y) != ButtonId::None;
      SetCursor(LoadCursorW(nullptr, overButton ? IDC_HAND : IDC_ARROW));
      return TRUE;
    }
    case WM_MOUSEMOVE: {
      const ButtonId hit = render_.HitTest(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      if (hit != hoverButton_) {
        hoverButton_ = hit;
        Render();
      }
      return 0;
    }
    case WM_LBUTTONDOWN: {
      const int x = GET_X_LPARAM(lParam);
      const int y = GET_Y_LPARAM(lParam);
      const ButtonId hit = render_.HitTest(x, y);
      if (hit == ButtonId::None && y < static_cast<int>(render_.TitleBarHeight())) {
        ReleaseCapture();
        SendMessageW(window_, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
      } else {
        OnButton(hit);
      }
      return 0;
    }
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_LAUNCHER_PROGRESS:
      OnProgressMessage(reinterpret_cast<ProgressState*>(lParam));
      return 0;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) {
        render_.ResizeRenderTarget(LOWORD(lParam), HIWORD(lParam));
        Render();
      }
      return 0;
    case WM_DPICHANGED:
      if (lParam != 0) {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top,
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
      KillTimer(window_, kRedrawTimer);
      KillTimer(window_, kCountdownTimer);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

void LauncherWindow::Render() {
  const auto start = std::chrono::steady_clock::now();
  render_.Render(state_, strings_, ready_, hoverButton_, &video_, countdown_);
  lastRenderEnd_ = std::chrono::steady_clock::now();
  lastRenderCost_ = lastRenderEnd_ - start;
}

void LauncherWindow::Replace() {
  const WindowPlacement placement =
      ComputeWindowPlacement(MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST));
  SetWindowPos(window_, nullptr, placement.x, placement.y, placement.width, placement.height,
               kReplaceFlags);
}

void LauncherWindow::ResizeToClient() {
  RECT client{};
  if (GetClientRect(window_, &client)) {
    render_.ResizeRenderTarget(static_cast<std::uint32_t>(client.right - client.left),
                               static_cast<std::uint32_t>(client.bottom - client.top));
  }
}

void LauncherWindow::OnTimer(UINT_PTR id) {
  if (id == kRedrawTimer) {
    // Where a frame takes longer than the timer's period (software drawing
    // on a slow machine), timer frames alone would keep this thread drawing
    // all the time and clicks would wait behind them. A timer frame comes
    // only after the thread has been idle as long as the last frame took.
    if (std::chrono::steady_clock::now() - lastRenderEnd_ >= lastRenderCost_) Render();
  } else if (id == kCountdownTimer) {
    if (countdown_ < 1) return;
    --countdown_;
    if (countdown_ == 0) {
      OnStartGame();
    } else {
      Render();
    }
  }
}

void LauncherWindow::OnProgressMessage(ProgressState* snapshot) {
  if (snapshot == nullptr) return;
  std::unique_ptr<ProgressState> owned(snapshot);
  const bool wasReady = ready_;
  state_ = *owned;
  ready_ = owned->ready;
  if (!ready_) {
    StopCountdown();
  } else if (!wasReady) {
    StartCountdown();
  }
  // A video that failed at start-up gets another chance once the update is
  // done, unless its engine refused our frame target, which no retry
  // changes. StartVideo refuses a call made from inside its own wait.
  if (ready_ && !video_.playing() && !video_.starting() && !video_.framesRefused()) {
    video_.StartVideo(instance_);
  }
  if (owned->stage == static_cast<std::uint32_t>(PatchStage::Failed)) ShowUpdateError(*owned);
  owned.reset();
  // Posted messages come before input in the queue. Where a frame takes
  // longer than the worker's progress interval (software drawing on a slow
  // machine), drawing every snapshot would keep a progress message always
  // waiting and clicks would never be read. A newer snapshot or waiting
  // input leaves this frame to the next one, which shows the same state.
  if (!InputOrSnapshotWaiting()) Render();
}

bool LauncherWindow::InputOrSnapshotWaiting() const {
  if (HIWORD(GetQueueStatus(QS_MOUSEBUTTON | QS_MOUSEMOVE | QS_KEY)) != 0) return true;
  MSG msg;
  return PeekMessageW(&msg, window_, WM_LAUNCHER_PROGRESS, WM_LAUNCHER_PROGRESS, PM_NOREMOVE) != 0;
}

void LauncherWindow::StartCountdown() {
  if (autoLaunchDisabled_) return;
  countdown_ = 10;
  SetTimer(window_, kCountdownTimer, kCountdownIntervalMs, nullptr);
  Render();
}

void LauncherWindow::StopCountdown() {
  countdown_ = -1;
  if (window_ != nullptr) KillTimer(window_, kCountdownTimer);
}

void LauncherWindow::OnButton(ButtonId button) {
  switch (button) {
    case ButtonId::Start:
      if (ready_) OnStartGame();
      break;
    case ButtonId::Website:
      OpenUrl(WebsitePageUrl());
      break;
    case ButtonId::Support:
    case ButtonId::Community:
      OpenUrl(Utf8ToWide(build_config::kCommunityUrl));
      break;
    case ButtonId::Minimise:
      ShowWindow(window_, SW_MINIMIZE);
      break;
    case ButtonId::Close:
      engine_.RequestCancel();
      PostQuitMessage(0);
      break;
    case ButtonId::Settings:
      OpenSettings();
      break;
    case ButtonId::None:
      break;
  }
}

void LauncherWindow::OpenUrl(const std::u16string& url) {
  const std::wstring target = win::ToWinString(url);
  ShellExecuteW(window_, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void LauncherWindow::OnStartGame() {
  StopCountdown();
  AllowSetForegroundWindow(ASFW_ANY);
  ShowWindow(window_, SW_MINIMIZE);
  const int result = engine_.LaunchGame();
  if (result == kLaunchStarted) {
    ShowWindow(window_, SW_HIDE);
    PostQuitMessage(0);
    return;
  }
  if (result != kLaunchEntryMissing && result != kLaunchFailed) return;
  ShowWindow(window_, SW_RESTORE);
  SetForegroundWindow(window_);
  std::u16string text;
  if (result == kLaunchEntryMissing) {
    text = strings_.LaunchEntryMissing;
  } else {
    switch (engine_.launchError()) {
      case kErrorCancelled:
        text = LaunchCancelledText();
        break;
      case kErrorAccessDenied:
      case kErrorElevationRequired:
        text = ElevationRequiredText();
        break;
      default:
        text = strings_.LaunchFailed;
    }
  }
  ShowBox(window_, text, strings_.LaunchErrorTitle, MB_OK | MB_ICONWARNING);
  if (ready_ && !autoLaunchDisabled_) StartCountdown();
}

void LauncherWindow::OpenSettings() {
  autoLaunchDisabled_ = true;
  StopCountdown();
  Render();
  const std::filesystem::path path = FsPath(paths_.gameFolder) / "config.exe";
  std::error_code ec;
  const bool exists = std::filesystem::exists(path, ec);
  if (!exists) {
    // A failing existence check is treated like a missing file: either way
    // there is nothing the launcher can start.
    ShowBox(window_, u"config.exe bulunamadi.", strings_.LaunchErrorTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  const std::wstring file = path.wstring();
  const std::wstring folder = win::ToWinString(paths_.gameFolder);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.hwnd = window_;
  info.lpFile = file.c_str();
  info.lpDirectory = folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) {
    const DWORD error = GetLastError();
    std::u16string text = strings_.LaunchFailed;
    if (error != 0) text += u"\n\nWin32: " + ToWideDecimalUnsigned(error);
    ShowBox(window_, text, strings_.LaunchErrorTitle, MB_OK | MB_ICONWARNING);
  }
}

void LauncherWindow::ShowUpdateError(const ProgressState& snapshot) {
  const std::u16string text = snapshot.statusText + u"\n\n" + strings_.UpdateErrorHint;
  if (ShowBox(window_, text, strings_.UpdateErrorTitle, MB_RETRYCANCEL | MB_ICONERROR) != IDRETRY) {
    return;
  }
  state_ = ProgressState{};
  state_.statusText = strings_.Checking;
  ready_ = false;
  Render();
  engine_.Start();
}

bool LauncherWindow::CloseAndWait(DWORD timeoutMs) {
  StopCountdown();
  if (window_ != nullptr && IsWindow(window_)) ShowWindow(window_, SW_HIDE);
  return engine_.StopAndWait(timeoutMs);
}

bool LauncherWindow::Create() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = &LauncherWindow::WindowProc;
  windowClass.hInstance = instance_;
  windowClass.hIcon = LoadAppIcon(instance_, 0);
  windowClass.hIconSm = LoadAppIcon(instance_, 16);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kLauncherWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  POINT cursor{};
  HMONITOR monitor = GetCursorPos(&cursor) ? MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST)
                                           : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  const WindowPlacement placement = ComputeWindowPlacement(monitor);
  if (CreateWindowExW(WS_EX_APPWINDOW, kLauncherWindowClass, L"Emb Launcher", WS_POPUP, placement.x,
                      placement.y, placement.width, placement.height, nullptr, nullptr, instance_,
                      this) == nullptr) {
    return false;
  }
  postTarget_ = window_;
  if (HICON big = LoadAppIcon(instance_, 0)) {
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  }
  if (HICON small = LoadAppIcon(instance_, 16)) {
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  }
  if (!render_.InitRendering(window_)) return false;
  engine_.Start();

  WaitForBackgroundVideo(instance_, kVideoPreparationWaitMs);
  if (!video_.StartVideo(instance_)) ReportError(u"Video init failed", u"OpenEmbedded");
  // The video's wait dispatches messages. If the window was destroyed in it,
  // its quit message is queued and the message loop ends the launcher.
  if (window_ == nullptr) return true;

  for (int pass = 0; pass < 2; ++pass) {
    Replace();
    ResizeToClient();
    Render();
    if (pass == 0) {
      ShowWindow(window_, SW_SHOW);
      UpdateWindow(window_);
    }
  }
  SetForegroundWindow(window_);
  SetTimer(window_, kRedrawTimer, kRedrawIntervalMs, nullptr);
  return true;
}

std::unique_ptr<LauncherWindow> CreateLauncherWindow(HINSTANCE instance,
                                                     PatchEngineOptions engineOptions) {
  try {
    auto window = std::make_unique<LauncherWindow>(instance, std::move(engineOptions));
    if (!window->Create()) return nullptr;
    return window;
  } catch (...) {
    return nullptr;
  }
}

int RunMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : 0;
}

}  // namespace emberfall
