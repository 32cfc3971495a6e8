// Plays the other launcher process in the single-instance, shutdown and DLL
// search tests.
//   hold <mutex> <class> none|hidden|visible|closing <ms> exit|release
//     owns the mutex and a window as asked, sets "<mutex>.ready", serves the
//     window for <ms>, then exits holding the mutex or releases it first.
//   shutdown stuck|stall|orderly <budget ms> <worker ms> <event>
//     the launcher's shutdown (exit code 7) after setting <event>, with the
//     detach probe DLL loaded; the worker never ends (stuck), or ends after
//     <worker ms> and then the teardown never returns (stall) or ends too.
//   dll restricted|default
//     starts like the launcher (search restricted unless "default"), then
//     calls winhttp.dll through a delay-loaded import.
#include <cwchar>
#include <string>

#include "app/dll_search.h"
#include "app/launcher_shutdown.h"
#include "app/single_instance.h"
#include "core/win/windows_include.h"

#include <winhttp.h>

namespace {

bool SetEventNamed(const std::wstring& name) {
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
  return event != nullptr && SetEvent(event);
}

int ShutDown(const std::wstring& mode, DWORD budgetMs, DWORD workerMs, const wchar_t* event) {
  if (LoadLibraryW(L"libemb_detach_probe.dll") == nullptr) return 3;
  if (!SetEventNamed(event)) return 4;
  return emberfall::ShutDownLauncher(
      7, budgetMs,
      [&mode, workerMs](DWORD left) {
        Sleep(mode == L"stuck" ? left : workerMs);
        return mode != L"stuck";
      },
      [&mode] {
        if (mode == L"stall") Sleep(INFINITE);
      });
}

int Hold(const std::wstring& mutexName, const wchar_t* className, const std::wstring& mode,
         DWORD ms, const std::wstring& end) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, mutexName.c_str());
  if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 2;
  if (mode != L"none") {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, className, L"", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (window == nullptr) return 3;
    if (mode == L"visible" || mode == L"closing") ShowWindow(window, SW_SHOW);
    if (mode == L"closing") SetPropW(window, emberfall::kClosingWindowProperty, HANDLE(1));
  }
  if (!SetEventNamed(mutexName + L".ready")) return 4;
  // Serves the window's messages: the test restores and shows it from its
  // own process, which waits on this thread.
  for (ULONGLONG now = GetTickCount64(), stop = now + ms; now < stop; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(stop - now), QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  if (end == L"release") ReleaseMutex(mutex);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  auto number = [argv](int i) { return static_cast<DWORD>(std::wcstoul(argv[i], nullptr, 10)); };
  if (argc == 7 && command == L"hold") return Hold(argv[2], argv[3], argv[4], number(5), argv[6]);
  if (argc == 6 && command == L"shutdown") return ShutDown(argv[2], number(3), number(4), argv[5]);
  if (argc == 3 && command == L"dll") {
    const bool restrict = std::wcscmp(argv[2], L"default") != 0;
    if (restrict && !emberfall::RestrictDllSearchToSystem32()) return 2;
    return WinHttpCheckPlatform() ? 0 : 1;
  }
  return 1;
}
