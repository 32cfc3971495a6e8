#include "app/startup.h"

#include <memory>
#include <thread>

#include "app/elevation.h"
#include "app/error_reporter.h"
#include "app/relaunch_marker.h"
#include "ui/background_video.h"
#include "ui/launcher_window.h"

// After windows.h, which it needs.
#include <objbase.h>

namespace emberfall {
namespace {

constexpr DWORD kTeardownWaitMs = 2000;

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

}  // namespace

SingleInstanceGuard AcquireSingleInstance(HINSTANCE) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName);
  const DWORD error = GetLastError();
  if (mutex == nullptr) return {false};
  if (error != ERROR_ALREADY_EXISTS) {
    g_singleInstanceMutex = mutex;
    return {true};
  }
  if (HWND other = FindWindowW(kLauncherWindowClass, nullptr)) {
    if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
    ShowWindow(other, SW_SHOW);
    SetForegroundWindow(other);
  }
  CloseHandle(mutex);
  return {false};
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

  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(com) && com != RPC_E_CHANGED_MODE) return 1;

  PrepareBackgroundVideo(instance);

  PatchEngineOptions engineOptions;
  engineOptions.connections = kDefaultConnections;
  std::unique_ptr<LauncherWindow> window = CreateLauncherWindow(instance, std::move(engineOptions));
  if (!window) {
    ReportError(u"Launcher window init failed", u"CreateWindowAndDevice");
    ShowStartupBox(u"Launcher penceresi olusturulamadi.", MB_OK | MB_ICONERROR);
    if (SUCCEEDED(com)) CoUninitialize();
    return 1;
  }

  const int exitCode = RunMessageLoop();
  if (!window->CloseAndWait(kShutdownWaitMs)) {
    // The worker is stuck in a request or a file operation; nothing it holds
    // needs an orderly end, and the user asked to close.
    ExitProcess(static_cast<UINT>(exitCode));
  }
  // The media engine and the drawing objects are COM objects, released
  // before the apartment goes. That teardown is bounded like the worker
  // wait: a media stack that stalls while shutting down (Wine's can) must
  // not keep a closed launcher alive.
  std::thread([exitCode] {
    Sleep(kTeardownWaitMs);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  }).detach();
  window.reset();
  // A thread already in another apartment mode did not get a reference here.
  if (SUCCEEDED(com)) CoUninitialize();
  return exitCode;
}

}  // namespace emberfall
