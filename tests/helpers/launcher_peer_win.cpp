// Plays the other launcher process in the relaunch and shutdown tests.
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
#include "core/win/windows_include.h"

extern "C" __declspec(dllimport) void EmbDetachProbeLoaded();

namespace {

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

}  // namespace

int wmain(int argc, wchar_t** argv) {
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
