// Plays the other launcher process in the single-instance, relaunch and
// shutdown tests.
//   hold <mutex> <class> none|hidden|visible|minimised|closing <ms> exit|release
//     owns the mutex, shows a window of <class> as asked, sets the event
//     "<mutex>.ready", keeps serving its window for <ms>, then releases the
//     mutex and exits or exits holding it (abandoned).
//   answer|silent <executable path>
//     a relaunched copy: "answer" answers the parent's marker and then runs
//     for 30 s; "silent" ends at once without answering.
//   shutdown stuck|stall|orderly <budget ms> <worker ms> <event>
//     the launcher's shutdown (exit code 7), after setting <event>; the
//     detach probe DLL marks whether DLL detach code ran. "stuck": the
//     worker never ends; "stall": it ends after <worker ms>, and then the
//     teardown never returns; "orderly": both end after <worker ms>.
#include <cwchar>
#include <string>

#include "app/launcher_shutdown.h"
#include "app/relaunch_marker.h"
#include "app/single_instance.h"
#include "core/win/windows_include.h"

extern "C" __declspec(dllimport) void EmbDetachProbeLoaded();

namespace {

HWND MakeWindow(const wchar_t* className, const std::wstring& mode) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = className;
  if (RegisterClassW(&windowClass) == 0) return nullptr;
  HWND window = CreateWindowExW(0, className, L"", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  if (window == nullptr) return nullptr;
  if (mode == L"visible" || mode == L"closing") ShowWindow(window, SW_SHOW);
  if (mode == L"minimised") ShowWindow(window, SW_SHOWMINNOACTIVE);
  if (mode == L"closing") {
    SetPropW(window, emberfall::kClosingWindowProperty, reinterpret_cast<HANDLE>(1));
  }
  return window;
}

// Serves the window's messages: the test restores and shows it from another
// process, which waits on this thread.
void Serve(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
}

int ShutDown(wchar_t** argv) {
  const std::wstring mode = argv[2];
  const DWORD budgetMs = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
  const DWORD workerMs = static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10));
  EmbDetachProbeLoaded();
  HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[5]);
  if (started == nullptr || !SetEvent(started)) return 4;
  return emberfall::ShutDownLauncher(
      7, budgetMs,
      [&mode, workerMs](DWORD left) {
        if (mode == L"stuck") {
          Sleep(left);
          return false;
        }
        Sleep(workerMs);
        return true;
      },
      [&mode] {
        if (mode == L"stall") Sleep(INFINITE);
      });
}

int Hold(wchar_t** argv) {
  const std::wstring mutexName = argv[2];
  const std::wstring mode = argv[4];
  HANDLE mutex = CreateMutexW(nullptr, TRUE, mutexName.c_str());
  if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 2;
  if (mode != L"none" && MakeWindow(argv[3], mode) == nullptr) return 3;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (mutexName + L".ready").c_str());
  if (ready == nullptr || !SetEvent(ready)) return 4;
  Serve(static_cast<DWORD>(std::wcstoul(argv[5], nullptr, 10)));
  if (std::wcscmp(argv[6], L"release") == 0) ReleaseMutex(mutex);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 7 && std::wcscmp(argv[1], L"hold") == 0) return Hold(argv);
  if (argc == 3 && std::wcscmp(argv[1], L"answer") == 0) {
    const emberfall::RelaunchMarker parent = emberfall::RelaunchMarker::Open(argv[2]);
    if (!parent) return 5;
    parent.Answer();
    Sleep(30000);
    return 0;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"silent") == 0) return 0;
  if (argc == 6 && std::wcscmp(argv[1], L"shutdown") == 0) return ShutDown(argv);
  return 1;
}
