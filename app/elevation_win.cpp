#include "app/elevation.h"

#include <string>

#include "app/relaunch_marker.h"
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
  const std::wstring path = ModuleFilePath(static_cast<HMODULE>(module));
  if (path.empty()) return false;
  std::wstring folder = path;
  const std::size_t slash = folder.find_last_of(L"\\/");
  folder.resize(slash == std::wstring::npos ? 0 : slash);
  while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  // "C:" alone would mean the drive's current folder, not its root.
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';

  // Made before the copy starts, so the copy cannot miss it.
  const RelaunchMarker marker = RelaunchMarker::Create(path);

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"runas";
  info.lpFile = path.c_str();
  info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) return false;
  const win::ScopedHandle copy(info.hProcess);
  if (reinterpret_cast<INT_PTR>(info.hInstApp) <= 32) return false;
  // The marker must outlive the copy's look at it; the answer (or the copy's
  // end) says that has happened.
  marker.WaitForAnswer(copy.get(), kRelaunchAnswerWaitMs);
  return true;
}

}  // namespace emberfall
