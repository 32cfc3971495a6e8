// Starting Linux programs from a test on both builds. The Windows tests run
// under Wine, which can start a Unix executable with CreateProcessW, but
// gives back no process handle; so helpers started this way must end by
// themselves and signal readiness through files.
#ifndef EMBERFALL_TESTS_SUPPORT_UNIX_SHELL_H_
#define EMBERFALL_TESTS_SUPPORT_UNIX_SHELL_H_

#include <filesystem>
#include <optional>
#include <string>

namespace emberfall::test {

// Runs "/bin/sh -c <script>" and returns once the shell has been started
// (POSIX: once it has exited). The script must not wait for long itself;
// it backgrounds long-running helpers, with output redirected to files.
bool StartUnixShell(const std::string& script);

// The Unix path of a file of the running test (identity on Linux; Wine's
// mapping of a Windows path otherwise), or nullopt if there is none.
std::optional<std::string> UnixPathOf(const std::filesystem::path& path);

// |text| quoted for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_UNIX_SHELL_H_
