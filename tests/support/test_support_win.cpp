#include <chrono>
#include <cstdio>
#include <thread>

#include "core/text.h"
#include "core/win/scoped_handle.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall::test {
namespace {

using win::ScopedHandle;

// Quotes one argument so that the child's CommandLineToArgvW gives it back.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') quoted.append(backslashes * 2 + 1, L'\\');
    else quoted.append(backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

std::wstring MakeCommandLine(const std::filesystem::path& program,
                             const std::vector<std::string>& args) {
  std::wstring line = QuoteArgument(program.native());
  for (const std::string& arg : args) {
    line += L' ';
    line += QuoteArgument(win::ToWinString(Utf8ToWide(arg)));
  }
  return line;
}

void DrainPipe(HANDLE pipe, std::string* sink) {
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof(buffer), &n, nullptr) && n > 0) sink->append(buffer, n);
}

class WinChild : public ChildProcess {
 public:
  explicit WinChild(HANDLE process) : process_(process) {}
  void Kill() override {
    if (process_.get() == nullptr) return;
    TerminateProcess(process_.get(), 137);
    WaitForSingleObject(process_.get(), 30000);
    process_.reset();
  }
  std::optional<int> Wait(std::chrono::milliseconds timeout) override {
    if (process_.get() == nullptr) return std::nullopt;
    if (WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
      return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    process_.reset();
    return static_cast<int>(code);
  }
  ~WinChild() override { Kill(); }

 private:
  ScopedHandle process_;
};

HANDLE Launch(const std::filesystem::path& program, const std::vector<std::string>& args,
              HANDLE out, HANDLE err) {
  std::wstring command_line = MakeCommandLine(program, args);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION info{};
  // Wine has been seen to refuse a process start now and then while another
  // test's processes come and go; a few tries keep that from failing a test.
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &info)) {
      break;
    }
    const DWORD error = GetLastError();
    std::fprintf(stderr, "CreateProcessW %ls: error %lu (attempt %d)\n", program.c_str(),
                 static_cast<unsigned long>(error), attempt);
    if (attempt == 5) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}

}  // namespace

bool IsWindowsBuild() { return true; }

std::filesystem::path ExecutableDir() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return std::filesystem::path(buffer).parent_path();
}

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  ScopedHandle out_read, out_write, err_read, err_write;
  if (!CreatePipe(out_read.put(), out_write.put(), &inherit, 0) ||
      !CreatePipe(err_read.put(), err_write.put(), &inherit, 0)) {
    return result;
  }
  SetHandleInformation(out_read.get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read.get(), HANDLE_FLAG_INHERIT, 0);
  HANDLE process = Launch(program, args, out_write.get(), err_write.get());
  out_write.reset();
  err_write.reset();
  if (process == nullptr) {
    result.err = "CreateProcessW failed";
    return result;
  }
  WinChild child(process);
  std::thread out_thread(DrainPipe, out_read.get(), &result.out);
  std::thread err_thread(DrainPipe, err_read.get(), &result.err);
  const std::optional<int> code = child.Wait(timeout);
  if (!code) {
    result.timed_out = true;
    child.Kill();
  }
  out_thread.join();
  err_thread.join();
  if (code) result.exit_code = *code;
  return result;
}

std::unique_ptr<ChildProcess> StartProcess(const std::filesystem::path& program,
                                           const std::vector<std::string>& args) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  win::ScopedFileHandle null_out(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inherit, OPEN_EXISTING, 0, nullptr));
  HANDLE process = Launch(program, args, null_out.get(), null_out.get());
  if (process == nullptr) return nullptr;
  return std::make_unique<WinChild>(process);
}

}  // namespace emberfall::test
