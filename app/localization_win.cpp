#include <string>

#include "app/localization.h"
#include "core/fs_path.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"

namespace emberfall {

LauncherPaths GetLauncherPaths(void* module) {
  LauncherPaths paths;
  // Grow the buffer until the path fits; past 32,768 units no path can.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(),
                                            static_cast<DWORD>(buffer.size()));
    if (length == 0) return paths;
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    if (buffer.size() >= 32768) return paths;
    buffer.resize(buffer.size() * 2);
  }
  paths.exePath = win::FromWinString(buffer);
  paths.exeFolder = WidePath(std::filesystem::path(buffer).parent_path());
  paths.gameFolder = paths.exeFolder;
  return paths;
}

std::uint16_t UserUiPrimaryLanguage() {
  return static_cast<std::uint16_t>(GetUserDefaultUILanguage() & 0x3FF);
}

}  // namespace emberfall
