// Helpers shared by the test suites: temporary folders, test data, child
// processes and environment variables, the same on Linux and under Wine.
#ifndef EMBERFALL_TESTS_SUPPORT_TEST_SUPPORT_H_
#define EMBERFALL_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emberfall::test {

// A fresh folder under the system temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view relative) const;
  // UTF-16 text of path() / relative, the form the core takes.
  std::u16string Wide(std::string_view relative = {}) const;

 private:
  std::filesystem::path path_;
};

// The folder of the running test executable and every other one built.
std::filesystem::path ExecutableDir();

// A file of tests/data, copied next to the executables by the build.
std::filesystem::path TestDataPath(std::string_view name);
// A program built by this project, by base name ("embpatch").
std::filesystem::path BuiltProgram(std::string_view name);

// |path| as a Unix program sees it: Wine shows the Unix root as drive Z:.
std::string UnixPath(const std::filesystem::path& path);
// /usr/bin/<name>, a Unix program that either build can start.
std::filesystem::path UnixProgram(std::string_view name);

// Whole-file helpers; they fail the current test on error.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);

struct ProcessResult {
  int exit_code = -1;  // -1 when it could not start or ran out of time
  std::string out;
  std::string err;
};

// Runs |program| with |args| (UTF-8), captures both output streams and waits
// at most |timeout|; a process still running then is killed.
ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout = std::chrono::seconds(120));

// A started child process that the test may kill at any moment; the
// destructor kills it too.
class ChildProcess {
 public:
  explicit ChildProcess(std::intptr_t handle) : handle_(handle) {}
  ~ChildProcess() { Kill(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Ends the child at once (SIGKILL / TerminateProcess) and reaps it.
  void Kill();
  // Waits for the child to end; nullopt if it still runs after |timeout|.
  std::optional<int> Wait(std::chrono::milliseconds timeout);

 private:
  std::intptr_t handle_;  // the pid or process HANDLE; 0 once reaped
};

// Starts |program| with its output written to the files |out| and |err|
// (discarded when empty); nullptr if it could not start.
std::unique_ptr<ChildProcess> StartProcess(const std::filesystem::path& program,
                                           const std::vector<std::string>& args,
                                           const std::filesystem::path& out = {},
                                           const std::filesystem::path& err = {});

// Sets (or with nullopt, removes) an environment variable for the lifetime of
// the object. Children started meanwhile inherit it.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(std::string name, std::optional<std::string> value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::u16string> previous_;
};

// Polls |done| until it holds or |limit| has passed by the clock (a count of
// short sleeps is no time at all under load); returns its last answer.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

// The last line of a program's output, without its line end.
std::string LastLine(const std::string& text);
// True when the tests run as a Windows build (under Wine here).
bool IsWindowsBuild();

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_TEST_SUPPORT_H_
