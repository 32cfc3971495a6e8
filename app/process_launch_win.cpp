#include "app/process_launch.h"

#include <vector>

#include "core/win/scoped_handle.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"

namespace emberfall {

bool StartProgram(const std::u16string& application, const std::u16string& commandLine,
                  const std::u16string& workingFolder, std::uint32_t* error) {
  AllowSetForegroundWindow(ASFW_ANY);
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  const std::wstring program = win::ToWinString(application);
  const std::wstring folder = win::ToWinString(workingFolder);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                      CREATE_DEFAULT_ERROR_MODE, nullptr, folder.empty() ? nullptr : folder.c_str(),
                      &startup, &info)) {
    const DWORD code = GetLastError();
    if (error != nullptr) *error = code;
    return false;
  }
  AllowSetForegroundWindow(info.dwProcessId);
  win::ScopedHandle thread(info.hThread);
  win::ScopedHandle process(info.hProcess);
  return true;
}

}  // namespace emberfall
