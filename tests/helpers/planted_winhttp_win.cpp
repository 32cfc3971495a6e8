// A stand-in for winhttp.dll that a player could drop beside the launcher:
// loading it leaves "planted.marker" in its own folder. With
// EMB_DETACH_MARKER set it marks instead whether its process-detach code ran,
// which tells a process that ended through ExitProcess from a terminated one.
#include <string>

#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"

namespace {

void Touch(const std::wstring& path) {
  const emberfall::win::ScopedFileHandle file(CreateFileW(
      path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  wchar_t path[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"EMB_DETACH_MARKER", path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    if (reason == DLL_PROCESS_DETACH) Touch(path);
    return TRUE;
  }
  length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (reason != DLL_PROCESS_ATTACH || length == 0 || length >= MAX_PATH) return TRUE;
  const std::wstring dll(path, length);
  Touch(dll.substr(0, dll.find_last_of(L'\\') + 1) + L"planted.marker");
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI WinHttpCheckPlatform() { return TRUE; }
