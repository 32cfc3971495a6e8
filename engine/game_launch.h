// Starting the game's entry executable after a successful patch run.
// PatchEngine::LaunchGame is this with the engine's game folder, run path,
// report sink and the way of starting programs the launcher gives it.
#ifndef EMBERFALL_ENGINE_GAME_LAUNCH_H_
#define EMBERFALL_ENGINE_GAME_LAUNCH_H_

#include <cstdint>
#include <functional>
#include <string>

#include "core/crypto.h"

namespace emberfall {

// What a launch came to; the numbers are the ones the window's contract
// names.
enum class LaunchResult : int {
  kStarted = 0,
  kEntryMissing = 1,
  kFailed = 2,
};

using ErrorReportSink =
    std::function<void(const std::u16string& message, const std::u16string& context)>;

// Starts the program |executable| without arguments in |workingFolder| and
// does not wait (the launcher passes the application shell's
// StartGameProcess). False with the Win32 error in |error| when it could not.
using GameStarter = std::function<bool(const std::u16string& executable,
                                       const std::u16string& workingFolder, std::uint32_t* error)>;

// ERROR_INVALID_IMAGE_HASH: the program is not the one that was signed.
inline constexpr std::uint32_t kErrorInvalidImageHash = 577;
// ERROR_NOT_SUPPORTED: nothing to start programs with was given.
inline constexpr std::uint32_t kErrorNotSupported = 50;

// Starts gameFolder/runPath in |gameFolder| through |start|. kEntryMissing
// when that is not an existing regular file (links followed; a failing query
// counts as missing), kFailed when the process could not be created; each
// failure is reported once through |report| with the context "LaunchGame".
// |launchError| is set to 0, and to the Win32 error of the start on kFailed
// (kErrorNotSupported when |start| is empty).
//
// With |signedHash| the program is reached below |gameFolder| without
// following a link, opened so that nobody can change it, and started only if
// its SHA-256 is |signedHash|, while it is still held: otherwise kFailed with
// |launchError| kErrorInvalidImageHash and a report "Game binary differs from
// the signed release: ". A link in its path counts as missing.
LaunchResult LaunchGameIn(const std::u16string& gameFolder, const std::u16string& runPath,
                          const ErrorReportSink& report, std::uint32_t* launchError,
                          const GameStarter& start, const Sha256Digest* signedHash = nullptr);

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_GAME_LAUNCH_H_
