// Starting Linux programs from a test on both builds. Under Wine a Unix
// program can be started but not waited for or killed, so helpers started
// this way must end by themselves and signal readiness through files.
#ifndef EMBERFALL_TESTS_SUPPORT_UNIX_SHELL_H_
#define EMBERFALL_TESTS_SUPPORT_UNIX_SHELL_H_

#include <filesystem>
#include <optional>
#include <string>

namespace emberfall::test {

// Runs "/bin/sh -c <script>"; returns once the shell has started (and, where
// it can be waited for, ended, for at most 10 s). The script backgrounds
// long-running helpers, with output redirected to files.
bool StartUnixShell(const std::string& script);

// The Unix path of a file of the running test (Wine's mapping under Wine),
// or nullopt if there is none.
std::optional<std::string> UnixPathOf(const std::filesystem::path& path);

// |text| quoted for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_UNIX_SHELL_H_
