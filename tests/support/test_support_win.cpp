#include <chrono>
#include <thread>
#include <utility>

#include "core/text.h"
#include "core/win/scoped_handle.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall::test {
namespace {

// Quotes one argument so that the child's CommandLineToArgvW gives it back.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;  // the run just before |c|, doubled before a quote
  for (wchar_t c : arg) {
    if (c == L'"') quoted.append(backslashes + 1, L'\\');
    backslashes = c == L'\\' ? backslashes + 1 : 0;
    quoted.push_back(c);
  }
  return quoted.append(backslashes, L'\\') + L'"';
}

}  // namespace

// The handle is null for a Unix program: Wine gives none.
void ChildProcess::Kill() {
  if (handle_ == 0) return;
  const win::ScopedHandle process(reinterpret_cast<HANDLE>(std::exchange(handle_, 0)));
  TerminateProcess(process.get(), 137);
  WaitForSingleObject(process.get(), 30000);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto process = reinterpret_cast<HANDLE>(handle_);
  DWORD code = 0;
  if (handle_ == 0 ||
      WaitForSingleObject(process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process, &code)) {
    return std::nullopt;
  }
  // Reaped: the handle goes.
  const win::ScopedHandle reaped(reinterpret_cast<HANDLE>(std::exchange(handle_, 0)));
  return static_cast<int>(code);
}

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
    if (attempt == 5) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  // The child's thread is not ours to watch.
  const win::ScopedHandle thread(info.hThread);
  return std::make_unique<ChildProcess>(reinterpret_cast<std::intptr_t>(info.hProcess));
}

}  // namespace emberfall::test
