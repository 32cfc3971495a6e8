// POSIX stand-ins for the Windows facts localization needs: the running
// executable's path, and the user's UI language taken from the locale
// environment in POSIX precedence.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/localization.h"
#include "core/fs_path.h"

namespace emberfall {

LauncherPaths GetLauncherPaths(void* /*module*/) {
  LauncherPaths paths;
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return paths;
  const std::filesystem::path exe(std::string(buffer, static_cast<size_t>(n)));
  paths.exePath = WidePath(exe);
  paths.exeFolder = WidePath(exe.parent_path());
  paths.gameFolder = paths.exeFolder;
  return paths;
}

std::uint16_t UserUiPrimaryLanguage() {
  constexpr std::uint16_t kEnglish = 0x09, kGerman = 0x07, kTurkish = 0x1F;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    if (std::strncmp(value, "de", 2) == 0) return kGerman;
    if (std::strncmp(value, "tr", 2) == 0) return kTurkish;
    return kEnglish;
  }
  return kEnglish;
}

}  // namespace emberfall
