// The patch engine: drives one patch run at a time on a worker thread of its
// own — configuration, CRC list, verification, downloads, decoding, checksums,
// replacement — and publishes ProgressState snapshots through a callback.
#ifndef EMBERFALL_ENGINE_PATCH_ENGINE_H_
#define EMBERFALL_ENGINE_PATCH_ENGINE_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/crypto.h"
#include "core/manual_reset_event.h"
#include "core/ui_strings.h"
#include "engine/disk_space_check.h"
#include "engine/game_launch.h"
#include "engine/progress_reporter.h"
#include "engine/progress_state.h"

namespace emberfall {

class HttpSession;
class ReleaseStateStore;

// What tests and embpatch may change; the launcher uses the defaults.
struct PatchEngineOptions {
  // The configuration document URLs, tried in order; empty: ConfigUrls().
  std::vector<std::u16string> configUrls;
  // Makes the HTTP session of a run; empty: a session with the fixed time-outs.
  std::function<std::unique_ptr<HttpSession>()> sessionFactory;
  // Receives failure reports (the launcher passes the error reporter's
  // ReportError); empty: failures are not reported.
  ErrorReportSink reportError;
  // Starts the game for LaunchGame (the launcher passes StartGameProcess of
  // the application shell); empty: LaunchGame starts nothing.
  GameStarter startGame;
  // Monotonic nanoseconds; empty: the platform's high-resolution counter.
  std::function<std::int64_t()> now;
  // Waits one pause slice; empty: sleeps the thread.
  std::function<void(std::chrono::milliseconds)> sleep;
  // Release signing keys; empty: PinnedTrustKeys(). With at least one key a
  // run installs nothing unless the crclist.sig beside the crclist verifies
  // (signed by one of them, for this crclist, product and channel, not
  // expired, not older than the serial recorded for this game folder), every
  // file it keeps or installs has the SHA-256 and size the document signs,
  // and the program the configuration starts is one of them. Without keys
  // crclist.sig is not fetched.
  std::vector<EcdsaPublicKey> trustedKeys;
  // What a signed release must be meant for; empty: the build's EMB_PRODUCT
  // and EMB_CHANNEL settings.
  std::string product;
  std::string channel;
  // Where a signed run keeps the highest serial it accepted, given the key
  // of the game folder (ReleaseStateKey); empty: MakeMachineReleaseState.
  std::function<std::unique_ptr<ReleaseStateStore>(const std::u16string& key)> releaseState;
  // Wall-clock seconds since 1970-01-01 UTC, for release expiry; empty: the
  // system clock.
  std::function<std::int64_t()> wallClock;
  // Connections for the size probes and downloads, each with a session of
  // its own (1 to kMaxConnections; 1 sends every request of a run over one
  // session, one after another). The launcher uses kDefaultConnections.
  unsigned connections = 1;
  // Payload and decoded bytes that transfers in flight may hold together; a
  // job that would pass it waits until it can run alone.
  std::int64_t transferBudgetBytes = 128 * 1048576;
  // The free bytes of the game folder's volume, asked once before the
  // downloads; empty: FreeDiskSpace.
  FreeSpaceQuery freeSpace;
};

inline constexpr unsigned kDefaultConnections = 6;
inline constexpr unsigned kMaxConnections = 16;

class PatchEngine {
 public:
  // Called with every snapshot a run publishes: on the run's worker thread
  // or one of its helper threads, never two at once, with no lock of the
  // engine held (see ProgressReporter::Callback). It must return quickly and
  // must not call into the engine.
  using ProgressCallback = ProgressReporter::Callback;

  // Takes the three values; starts nothing. |progressCallback| may be empty.
  PatchEngine(LauncherPaths paths, UiStrings strings, ProgressCallback progressCallback,
              PatchEngineOptions options = {});
  // Cancels and joins a running worker without a time-out.
  ~PatchEngine();

  PatchEngine(const PatchEngine&) = delete;
  PatchEngine& operator=(const PatchEngine&) = delete;

  // UI thread. Joins the previous worker, resets the snapshot and starts a
  // new run. Throws std::system_error if no thread can be created. Does not
  // call the progress callback.
  void Start();

  // Asks the running worker to stop at its next check point; returns at once.
  void RequestCancel();

  // Asks the worker to stop and waits at most |timeoutMs|. True when no worker
  // runs any more (it is then joined); false leaves it running.
  bool StopAndWait(std::uint32_t timeoutMs);

  // UI thread, after a snapshot with ready set: starts the game's entry
  // executable through the options' startGame (LaunchGameIn); kFailed sets
  // launchError(). After a signed run the executable is opened so that
  // nobody can change it, checked against its signed SHA-256 and started
  // while it is held; a file that differs is not started (kFailed,
  // kErrorInvalidImageHash).
  LaunchResult LaunchGame();

  // Win32 error of the last failed game start; 0 otherwise.
  std::uint32_t launchError() const { return launchError_; }

 private:
  struct Job;
  class Run;

  void WorkerBody();
  // Turns a failure into the final snapshot and a report; nothing after a
  // cancellation request. |shortfall|: the amounts of a full volume.
  void FailRun(PatchErrorCode code, const std::u16string& detail,
               const std::optional<SpaceShortfall>& shortfall = std::nullopt);
  std::int64_t Now() const;

  LauncherPaths paths_;
  UiStrings strings_;
  PatchEngineOptions options_;
  ProgressReporter progress_;
  std::thread worker_;
  ManualResetEvent doneEvent_;
  std::atomic<bool> cancelRequested_{false};
  std::uint32_t launchError_ = 0;
  // Written by the worker before its final snapshot, read by LaunchGame
  // after the UI saw it: the game's path, and its signed SHA-256 after a
  // signed run.
  std::u16string runPath_;
  std::optional<Sha256Digest> launchHash_;
};

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_PATCH_ENGINE_H_
