// Plays the launcher process in the shutdown and DLL search tests.
//   shutdown stuck|stall|orderly <budget ms> <worker ms> <event>: sets <event>,
//     then shuts down (exit code 7) with the detach probe DLL loaded; the worker
//     never ends (stuck) or ends after <worker ms>, then the teardown hangs (stall).
//   dll restricted|default: starts like the launcher (search restricted unless
//     "default"), then calls winhttp.dll through a delay-loaded import.
#include <cwchar>
#include <string>

#include "app/dll_search.h"
#include "app/launcher_shutdown.h"
#include "core/win/windows_include.h"

#include <winhttp.h>

namespace {

int ShutDown(const std::wstring& mode, DWORD budgetMs, DWORD workerMs, const wchar_t* event) {
  if (LoadLibraryW(L"libemb_detach_probe.dll") == nullptr) return 3;
  const HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, event);
  if (started == nullptr || !SetEvent(started)) return 4;
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  auto number = [argv](int i) { return static_cast<DWORD>(std::wcstoul(argv[i], nullptr, 10)); };
  if (argc == 6 && command == L"shutdown") return ShutDown(argv[2], number(3), number(4), argv[5]);
  if (argc == 3 && command == L"dll") {
    const bool restrict = std::wcscmp(argv[2], L"default") != 0;
    if (restrict && !emberfall::RestrictDllSearchToSystem32()) return 2;
    return WinHttpCheckPlatform() ? 0 : 1;
  }
  return 1;
}
