#include "core/win/windows_include.h"
#include "tests/support/unix_shell.h"

namespace emberfall::test {
namespace {

// Wine's kernel32 exports these for exactly this purpose.
using UnixFileNameFn = char* (*)(const wchar_t*);
using DosFileNameFn = wchar_t* (*)(const char*);

template <typename Fn>
Fn WineExport(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

}  // namespace

bool StartUnixShell(const std::string& script) {
  const auto to_dos = WineExport<DosFileNameFn>("wine_get_dos_file_name");
  if (to_dos == nullptr) return false;
  wchar_t* dos_sh = to_dos("/bin/sh");
  if (dos_sh == nullptr) return false;
  std::wstring program = dos_sh;
  HeapFree(GetProcessHeap(), 0, dos_sh);

  // Wine hands the command line to the Unix program split by the Windows
  // rules; double quotes keep the script one argument.
  std::wstring command_line = L"sh -c \"";
  const int size = MultiByteToWideChar(CP_UTF8, 0, script.data(), static_cast<int>(script.size()),
                                       nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, script.data(), static_cast<int>(script.size()), wide.data(), size);
  for (wchar_t c : wide) {
    if (c == L'"') command_line += L'\\';
    command_line += c;
  }
  command_line += L'"';

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return false;
  }
  if (info.hThread != nullptr) CloseHandle(info.hThread);
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  return true;
}

std::optional<std::string> UnixPathOf(const std::filesystem::path& path) {
  const auto to_unix = WineExport<UnixFileNameFn>("wine_get_unix_file_name");
  if (to_unix == nullptr) return std::nullopt;
  const std::wstring absolute = std::filesystem::absolute(path).wstring();
  char* unix_path = to_unix(absolute.c_str());
  if (unix_path == nullptr) return std::nullopt;
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

}  // namespace emberfall::test
