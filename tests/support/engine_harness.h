// A PatchEngine for tests, with its snapshots and failure reports recorded
// and its pauses between attempts counted instead of slept, so that retry
// paths cost no wall time and their pauses can be checked exactly.
#ifndef EMBERFALL_TESTS_SUPPORT_ENGINE_HARNESS_H_
#define EMBERFALL_TESTS_SUPPORT_ENGINE_HARNESS_H_

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/patch_engine.h"

namespace emberfall::test {

// The engine's worker writes the recordings: read them once its run ended.
struct EngineHarness {
  // An engine for the game folder |game| (the launcher is game/launcher.exe)
  // that reads its configuration from |config_urls|; |adjust| may change the
  // options last.
  EngineHarness(const std::filesystem::path& game, std::vector<std::u16string> config_urls,
                const std::function<void(PatchEngineOptions&)>& adjust = {});

  // Starts a run and waits (at most a minute) for its final snapshot.
  ProgressState RunToEnd();

  std::vector<ProgressState> snapshots;
  std::vector<std::string> reports;  // "message || context"
  std::chrono::milliseconds slept{0};
  // Set before a run: called on the worker with every snapshot, and with
  // nullptr at every pause slice.
  std::function<void(const ProgressState*)> hook;
  std::mutex mutex;
  std::condition_variable finished;
  std::unique_ptr<PatchEngine> engine;  // last: its worker ends before the rest goes
};

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_ENGINE_HARNESS_H_
