#include "app/process_launch.h"

#include <filesystem>
#include <system_error>

#include "core/fs_path.h"

namespace emberfall {
namespace {

bool MakeAbsolute(const std::u16string& path, std::u16string* absolute) {
  std::error_code ec;
  const std::filesystem::path result = std::filesystem::absolute(FsPath(path), ec);
  if (ec) return false;
  *absolute = WidePath(result);
  return true;
}

}  // namespace

bool StartGameProcess(const std::u16string& executable, const std::u16string& workingFolder,
                      std::uint32_t* error, const ProcessStarter& starter) {
  if (error != nullptr) *error = 0;
  std::u16string exe;
  std::u16string folder;
  if (executable.empty() || !MakeAbsolute(executable, &exe) ||
      !MakeAbsolute(workingFolder, &folder)) {
    if (error != nullptr) *error = kErrorBadPathname;
    return false;
  }
  const ProcessStarter& start = starter ? starter : ProcessStarter(StartProcess);
  if (start(u"\"" + exe + u"\"", folder, error)) return true;
  return start(exe, folder, error);
}

}  // namespace emberfall
