// A PatchEngine for tests, with its snapshots and failure reports recorded
// and its pauses between attempts counted instead of slept, so that retry
// paths cost no wall time and their pauses can be checked exactly.
#ifndef EMBERFALL_TESTS_SUPPORT_ENGINE_HARNESS_H_
#define EMBERFALL_TESTS_SUPPORT_ENGINE_HARNESS_H_

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/patch_engine.h"

namespace emberfall::test {

class EngineHarness {
 public:
  // An engine for the game folder |game| (the launcher is game/launcher.exe)
  // that reads its configuration from |config_urls|. |adjust| may change the
  // options last (keys, clocks).
  EngineHarness(const std::filesystem::path& game, std::vector<std::u16string> config_urls,
                const std::function<void(PatchEngineOptions&)>& adjust = {});

  PatchEngine& engine() { return *engine_; }

  // Starts a run and waits (at most a minute) for its final snapshot.
  ProgressState RunToEnd();

  std::vector<ProgressState> snapshots();
  // "message || context" per report.
  std::vector<std::string> reports();
  // The pauses of the last run, summed.
  std::chrono::milliseconds slept();
  // Called on the worker thread with every snapshot, and with nullptr at
  // every pause slice.
  void OnEvent(std::function<void(const ProgressState*)> hook);

 private:
  void Hook(const ProgressState* state);

  std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<ProgressState> snapshots_;
  std::vector<std::string> reports_;
  std::chrono::milliseconds slept_{0};
  std::function<void(const ProgressState*)> hook_;
  std::unique_ptr<PatchEngine> engine_;  // last: its worker ends before the rest goes
};

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_ENGINE_HARNESS_H_
