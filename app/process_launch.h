// Starting other programs: the game's entry executable and, through the
// shell, the settings program. Errors come back as Win32 codes on every
// platform (2 file not found, 5 access denied, ...), because the window picks
// its message by them.
#ifndef EMBERFALL_APP_PROCESS_LAUNCH_H_
#define EMBERFALL_APP_PROCESS_LAUNCH_H_

#include <cstdint>
#include <functional>
#include <string>

namespace emberfall {

// Win32 error codes the callers tell apart.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorBadPathname = 161;
inline constexpr std::uint32_t kErrorElevationRequired = 740;
inline constexpr std::uint32_t kErrorCancelled = 1223;

// Starts the program file |application|, a path used exactly as given (no
// search of folders, nothing appended, the command line not read for it),
// with |commandLine| (program first, Windows quoting rules) as its command
// line and |workingFolder| as its current folder, shown normally, and lets it
// take the foreground. Does not wait and keeps no handle. On failure returns
// false and stores the Win32 error in |error| when given.
bool StartProgram(const std::u16string& application, const std::u16string& commandLine,
                  const std::u16string& workingFolder, std::uint32_t* error);

// StartProgram of the program that |commandLine| names first: the text
// between its leading double quotes, or else everything before its first
// space. An unquoted path with a space therefore names only its first part,
// which is never searched for a longer match.
bool StartProcess(const std::u16string& commandLine, const std::u16string& workingFolder,
                  std::uint32_t* error);

using ProcessStarter = std::function<bool(const std::u16string& commandLine,
                                          const std::u16string& workingFolder,
                                          std::uint32_t* error)>;

// Starts |executable| without arguments in |workingFolder|, both made
// absolute first: the quoted path as command line, and if that fails the bare
// path. |error| (when given) is set to 0 first and then holds the error of the
// last failed attempt. A path that cannot be made absolute fails with
// kErrorBadPathname and starts nothing. |starter| defaults to StartProgram
// with the absolute |executable| as the program of every attempt, so that no
// command line can name another one.
bool StartGameProcess(const std::u16string& executable, const std::u16string& workingFolder,
                      std::uint32_t* error, const ProcessStarter& starter = {});

}  // namespace emberfall

#endif  // EMBERFALL_APP_PROCESS_LAUNCH_H_
