// Starting the game's entry executable after a successful patch run.
// PatchEngine::LaunchGame is this with the engine's game folder, run path and
// report sink.
#ifndef EMBERFALL_APP_GAME_LAUNCH_H_
#define EMBERFALL_APP_GAME_LAUNCH_H_

#include <cstdint>
#include <functional>
#include <string>

#include "app/process_launch.h"
#include "core/crypto.h"

namespace emberfall {

enum LaunchResult : int {
  kLaunchStarted = 0,
  kLaunchEntryMissing = 1,
  kLaunchFailed = 2,
};

using ErrorReportSink =
    std::function<void(const std::u16string& message, const std::u16string& context)>;

// Starts gameFolder/runPath in |gameFolder| without arguments and without
// waiting. kLaunchEntryMissing when that is not an existing regular file
// (links followed; a failing query counts as missing), kLaunchFailed when the
// process could not be created; each failure is reported once through
// |report| with the context "LaunchGame". |launchError| is set to 0, and to
// the Win32 error of the last attempt on kLaunchFailed. |starter| defaults to
// StartProcess.
//
// With |signedHash| the program is reached below |gameFolder| without
// following a link, opened so that nobody can change it, and started only if
// its SHA-256 is |signedHash|, while it is still held: otherwise
// kLaunchFailed with |launchError| kErrorInvalidImageHash and a report
// "Game binary differs from the signed release: ". A link in its path counts
// as missing.
int LaunchGameIn(const std::u16string& gameFolder, const std::u16string& runPath,
                 const ErrorReportSink& report, std::uint32_t* launchError,
                 const ProcessStarter& starter = {}, const Sha256Digest* signedHash = nullptr);

// ERROR_INVALID_IMAGE_HASH: the program is not the one that was signed.
inline constexpr std::uint32_t kErrorInvalidImageHash = 577;

}  // namespace emberfall

#endif  // EMBERFALL_APP_GAME_LAUNCH_H_
