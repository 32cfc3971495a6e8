#include "launcher/startup.h"

#include <memory>

#include "app/elevation.h"
#include "app/error_reporter.h"
#include "app/launcher_shutdown.h"
#include "app/localization.h"
#include "app/process_launch.h"
#include "app/relaunch_marker.h"
#include "app/single_instance.h"
#include "core/win/scoped_com.h"
#include "ui/launcher_window.h"
#include "ui/scoped_window.h"
#include "ui/video_preparation.h"

namespace emberfall {
namespace {

// Owned from the first instance's start until the process ends; the system
// drops it then.
HANDLE g_singleInstanceMutex = nullptr;

using SetDpiAwarenessContextFn = BOOL(WINAPI*)(HANDLE);

void BecomePerMonitorDpiAware() {
  // Windows 10 1703 and later; older systems keep the manifest's setting.
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return;
  auto set = reinterpret_cast<SetDpiAwarenessContextFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
  if (set != nullptr) set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));
}

void ShowStartupBox(const std::u16string& text, UINT style) {
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()), L"Emb Launcher", style);
}

// The window's parts: the launcher's own paths, the texts of the player's
// language, and an engine that reports to the maker and starts the game as
// the launcher does.
LauncherWindowParts MakeWindowParts(HINSTANCE instance) {
  LauncherWindowParts parts;
  parts.paths = GetLauncherPaths(instance);
  parts.strings = LoadUiStrings(DetectLanguage(FindLocaleConfig(parts.paths)));
  parts.engineOptions.connections = kDefaultConnections;
  parts.engineOptions.reportError = ReportError;
  parts.engineOptions.startGame = [](const std::u16string& executable,
                                     const std::u16string& folder, std::uint32_t* error) {
    return StartGameProcess(executable, folder, error);
  };
  return parts;
}

}  // namespace

SingleInstanceGuard AcquireSingleInstance(HINSTANCE) {
  win::ScopedHandle mutex =
      ClaimSingleInstance(kSingleInstanceMutexName, kLauncherWindowClass, kClosingInstanceWaitMs);
  if (!mutex) return {false};
  g_singleInstanceMutex = mutex.release();
  return {true};
}

int RunLauncher(HINSTANCE instance) {
  BecomePerMonitorDpiAware();

  const RelaunchMarker parent = RelaunchMarker::Open(ModuleFilePath(instance));
  switch (DecideElevationStep(IsProcessElevated(), static_cast<bool>(parent))) {
    case ElevationStep::kRun:
      parent.Answer();
      break;
    case ElevationStep::kRelaunch:
      if (RelaunchElevated(instance)) return 0;
      ShowStartupBox(AdminRequiredText(), MB_OK | MB_ICONWARNING);
      return 1;
    case ElevationStep::kGiveUp:
      parent.Answer();
      ShowStartupBox(AdminRequiredText(), MB_OK | MB_ICONWARNING);
      return 1;
  }

  if (!AcquireSingleInstance(instance).acquired) return 0;

  // A thread already in another apartment mode gets no reference, and gives
  // none back.
  win::ScopedComApartment com(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  if (!com && com.get() != RPC_E_CHANGED_MODE) return 1;

  PrepareBackgroundVideo(instance);

  std::unique_ptr<LauncherWindow> window = CreateLauncherWindow(instance, MakeWindowParts(instance));
  if (!window) {
    ReportError(u"Launcher window init failed", u"CreateWindowAndDevice");
    ShowStartupBox(u"Launcher penceresi olusturulamadi.", MB_OK | MB_ICONERROR);
    return 1;
  }

  const int exitCode = RunMessageLoop();
  // Before the window hides: a start from now on waits for this process to
  // end instead of bringing a dying window forward.
  win::ScopedWindowProperty closing;
  if (window->window() != nullptr) {
    closing = win::SetWindowProperty(window->window(), kClosingWindowProperty,
                                     reinterpret_cast<HANDLE>(1));
  }
  // One budget for the worker and the COM teardown together: the media stack
  // can stall while shutting down (Wine's does).
  return ShutDownLauncher(
      exitCode, kShutdownWaitMs,
      [&window](DWORD left) { return window->CloseAndWait(left); },
      [&window, &com, &closing] {
        // The media engine and the drawing objects are COM objects, released
        // before the apartment goes. A start that finds no window waits for
        // the mutex, as one that finds it marked closing does.
        closing.reset();
        window.reset();
        com.reset();
      });
}

}  // namespace emberfall
