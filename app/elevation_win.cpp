#include "app/elevation.h"

#include <string>

#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"

// After windows.h, which it needs.
#include <shellapi.h>

namespace emberfall {

bool IsProcessElevated() {
  win::ScopedHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = sizeof(elevation);
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
    return false;
  }
  return elevation.TokenIsElevated != 0;
}

bool RelaunchElevated(void* module) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  std::wstring folder(path, length);
  const std::size_t slash = folder.find_last_of(L"\\/");
  folder.resize(slash == std::wstring::npos ? 0 : slash);
  while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  // "C:" alone would mean the drive's current folder, not its root.
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = path;
  info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) return false;
  return reinterpret_cast<INT_PTR>(info.hInstApp) > 32;
}

}  // namespace emberfall
