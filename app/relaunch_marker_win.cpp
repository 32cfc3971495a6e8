#include "app/relaunch_marker.h"

#include <cstdint>
#include <cwchar>

namespace emberfall {

std::wstring ModuleFilePath(HMODULE module) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::wstring(path, length);
}

std::wstring RelaunchMarkerName(std::wstring_view executablePath) {
  // Object names may not hold backslashes and are limited in length, so the
  // path goes in as a hash (64-bit FNV-1a over the UTF-16 units).
  std::wstring upper(executablePath);
  if (!upper.empty()) CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (wchar_t unit : upper) {
    hash ^= static_cast<std::uint16_t>(unit);
    hash *= 0x100000001b3ULL;
  }
  wchar_t digits[17];
  std::swprintf(digits, 17, L"%016llx", static_cast<unsigned long long>(hash));
  return std::wstring(L"Local\\EmbLauncherRelaunch.") + digits;
}

RelaunchMarker RelaunchMarker::Create(std::wstring_view executablePath) {
  return RelaunchMarker(
      CreateEventW(nullptr, TRUE, FALSE, RelaunchMarkerName(executablePath).c_str()));
}

RelaunchMarker RelaunchMarker::Open(std::wstring_view executablePath) {
  return RelaunchMarker(
      OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, RelaunchMarkerName(executablePath).c_str()));
}

void RelaunchMarker::Answer() const {
  if (event_) SetEvent(event_.get());
}

bool RelaunchMarker::WaitForAnswer(HANDLE process, DWORD timeoutMs) const {
  if (!event_) return false;
  const HANDLE handles[] = {event_.get(), process};
  const DWORD count = process != nullptr ? 2 : 1;
  return WaitForMultipleObjects(count, handles, FALSE, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace emberfall
