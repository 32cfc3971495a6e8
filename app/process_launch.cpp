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

bool StartProcess(const std::u16string& commandLine, const std::u16string& workingFolder,
                  std::uint32_t* error) {
  std::u16string program;
  if (!commandLine.empty() && commandLine[0] == u'"') {
    program = commandLine.substr(1, commandLine.find(u'"', 1) - 1);
  } else {
    program = commandLine.substr(0, commandLine.find(u' '));
  }
  return StartProgram(program, commandLine, workingFolder, error);
}

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
  // Without the program named apart, an unquoted "D:\Games\Ember Fall\emb.bin"
  // would start "D:\Games\Ember.exe" when such a file exists.
  const ProcessStarter ownProgram = [&exe](const std::u16string& commandLine,
                                           const std::u16string& inFolder,
                                           std::uint32_t* errorOut) {
    return StartProgram(exe, commandLine, inFolder, errorOut);
  };
  const ProcessStarter& start = starter ? starter : ownProgram;
  if (start(u"\"" + exe + u"\"", folder, error)) return true;
  return start(exe, folder, error);
}

}  // namespace emberfall
