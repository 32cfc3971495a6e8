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
#include "tests/support/test_support.h"

namespace emberfall::test {

class EngineHarness {
 public:
  // An engine for the game folder |game| (exePath defaults to
  // game/launcher.exe) that reads its configuration from |config_urls|.
  // |adjust| may change the options last (keys, clocks).
  EngineHarness(const TempDir& game, std::vector<std::u16string> config_urls,
                std::u16string exe_path = {},
                const std::function<void(PatchEngineOptions&)>& adjust = {});
  // The same for a game folder given by path.
  EngineHarness(const std::filesystem::path& game, std::vector<std::u16string> config_urls,
                const std::function<void(PatchEngineOptions&)>& adjust);
  ~EngineHarness();

  PatchEngine& engine() { return *engine_; }

  // Starts a run and waits (at most a minute) for its final snapshot.
  ProgressState RunToEnd();

  std::vector<ProgressState> snapshots();
  // "message || context" per report.
  std::vector<std::string> reports();
  // The pauses of the last run, summed.
  std::chrono::milliseconds slept();
  // Called on every pause slice, on the worker thread.
  void OnPause(std::function<void()> hook);

 private:
  void Init(const std::u16string& game, std::vector<std::u16string> config_urls,
            std::u16string exe_path, const std::function<void(PatchEngineOptions&)>& adjust);

  std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<ProgressState> snapshots_;
  std::vector<std::string> reports_;
  std::chrono::milliseconds slept_{0};
  std::function<void()> on_pause_;
  std::unique_ptr<PatchEngine> engine_;
};

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_ENGINE_HARNESS_H_
