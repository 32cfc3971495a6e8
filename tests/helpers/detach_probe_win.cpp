// A DLL that leaves a mark when its process-detach code runs: the file named
// by EMB_DETACH_MARKER. Tells a process that ended through ExitProcess (DLL
// detach code runs) from one that was terminated (none runs).
#include "core/win/windows_include.h"

extern "C" __declspec(dllexport) void EmbDetachProbeLoaded() {}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_DETACH) return TRUE;
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"EMB_DETACH_MARKER", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
