#include <chrono>
#include <cstdio>
#include <thread>

#include "core/text.h"
#include "core/win/scoped_handle.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"
#include "tests/support/unix_shell.h"

namespace emberfall::test {
namespace {

// Quotes one argument so that the child's CommandLineToArgvW gives it back.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L'"';
}

// The process handle may be null: Wine gives none for a Unix program.
class WinChild : public ChildProcess {
 public:
  explicit WinChild(HANDLE process) : process_(process) {}
  ~WinChild() override { Kill(); }
  void Kill() override {
    if (process_.get() == nullptr) return;
    TerminateProcess(process_.get(), 137);
    WaitForSingleObject(process_.get(), 30000);
    process_.reset();
  }
  std::optional<int> Wait(std::chrono::milliseconds timeout) override {
    DWORD code = 0;
    if (process_.get() == nullptr ||
        WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_.get(), &code)) {
      return std::nullopt;
    }
    process_.reset();
    return static_cast<int>(code);
  }

 private:
  win::ScopedHandle process_;
};

// Wine's kernel32 exports these for exactly this purpose.
template <typename Fn>
Fn WineExport(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

}  // namespace

bool IsWindowsBuild() { return true; }

std::filesystem::path ExecutableDir() {
  std::wstring buffer(32768, L'\0');
  buffer.resize(GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
  return std::filesystem::path(buffer).parent_path();
}

std::unique_ptr<ChildProcess> StartProcess(const std::filesystem::path& program,
                                           const std::vector<std::string>& args,
                                           const std::filesystem::path& out,
                                           const std::filesystem::path& err) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  const auto open = [&](const std::filesystem::path& file) {
    return win::ScopedFileHandle(CreateFileW(
        file.empty() ? L"NUL" : file.c_str(), GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
        file.empty() ? OPEN_EXISTING : CREATE_ALWAYS, 0, nullptr));
  };
  const win::ScopedFileHandle out_file = open(out), err_file = open(err);
  std::wstring line = QuoteArgument(program.native());
  for (const std::string& arg : args) {
    line += L' ' + QuoteArgument(win::ToWinString(Utf8ToWide(arg)));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out_file.get();
  startup.hStdError = err_file.get();
  PROCESS_INFORMATION info{};
  // Wine has been seen to refuse a process start now and then while another
  // test's processes come and go; a few tries keep that from failing a test.
  for (int attempt = 1; !CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &info);
       ++attempt) {
    const unsigned long error = GetLastError();
    std::fprintf(stderr, "CreateProcessW %ls: error %lu (attempt %d)\n", program.c_str(), error,
                 attempt);
    if (attempt == 5) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  if (info.hThread != nullptr) CloseHandle(info.hThread);
  return std::make_unique<WinChild>(info.hProcess);
}

bool StartUnixShell(const std::string& script) {
  using DosFileNameFn = wchar_t* (*)(const char*);
  const auto to_dos = WineExport<DosFileNameFn>("wine_get_dos_file_name");
  wchar_t* sh = to_dos == nullptr ? nullptr : to_dos("/bin/sh");
  if (sh == nullptr) return false;
  const std::filesystem::path program(sh);
  HeapFree(GetProcessHeap(), 0, sh);
  // If Wine gives a handle after all, the shell must finish backgrounding
  // its helpers before the handle's owner would kill it.
  const std::unique_ptr<ChildProcess> shell = StartProcess(program, {"-c", script});
  if (shell) shell->Wait(std::chrono::seconds(10));
  return shell != nullptr;
}

std::optional<std::string> UnixPathOf(const std::filesystem::path& path) {
  using UnixFileNameFn = char* (*)(const wchar_t*);
  const auto to_unix = WineExport<UnixFileNameFn>("wine_get_unix_file_name");
  const std::wstring absolute = std::filesystem::absolute(path).wstring();
  char* unix_path = to_unix == nullptr ? nullptr : to_unix(absolute.c_str());
  if (unix_path == nullptr) return std::nullopt;
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

}  // namespace emberfall::test
