// Plays the other launcher process in the relaunch tests.
//   answer|silent <executable path>
//     a relaunched copy: "answer" answers the parent's marker and then runs
//     for 30 s; "silent" ends at once without answering.
#include <cwchar>

#include "app/relaunch_marker.h"
#include "core/win/windows_include.h"

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"answer") == 0) {
    const emberfall::RelaunchMarker parent = emberfall::RelaunchMarker::Open(argv[2]);
    if (!parent) return 5;
    parent.Answer();
    Sleep(30000);
    return 0;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"silent") == 0) return 0;
  return 1;
}
