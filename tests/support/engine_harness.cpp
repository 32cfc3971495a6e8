#include "tests/support/engine_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/fs_path.h"
#include "core/text.h"
#include "net/http_session.h"

namespace emberfall::test {

EngineHarness::EngineHarness(const std::filesystem::path& game,
                             std::vector<std::u16string> config_urls,
                             const std::function<void(PatchEngineOptions&)>& adjust) {
  LauncherPaths paths;
  paths.gameFolder = paths.exeFolder = WidePath(game);
  paths.exePath = WidePath(game / "launcher.exe");
  PatchEngineOptions options;
  options.configUrls = std::move(config_urls);
  options.reportError = [this](const std::u16string& message, const std::u16string& context) {
    std::lock_guard<std::mutex> lock(mutex);
    reports.push_back(WideToUtf8(message) + " || " + WideToUtf8(context));
  };
  options.sleep = [this](std::chrono::milliseconds slice) {
    slept += slice;
    if (hook) hook(nullptr);
  };
  options.sessionFactory = [] {  // no test waits on a silent server for long
    return std::make_unique<HttpSession>(HttpTimeouts{.receive_ms = 5000});
  };
  // The suites run once more with the launcher's connections (see
  // tests/CMakeLists.txt); a test that sets its own count keeps it.
  if (const char* connections = std::getenv("EMB_TEST_CONNECTIONS")) {
    options.connections = static_cast<unsigned>(std::atoi(connections));
  }
  if (adjust) adjust(options);
  engine = std::make_unique<PatchEngine>(
      paths, LoadUiStrings(Language::English),
      [this](const ProgressState& state) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          snapshots.push_back(state);
          if (state.stage >= 3) finished.notify_all();
        }
        if (hook) hook(&state);
      },
      options);
}

ProgressState EngineHarness::RunToEnd() {
  snapshots.clear();
  reports.clear();
  slept = std::chrono::milliseconds(0);
  engine->Start();
  std::unique_lock<std::mutex> lock(mutex);
  const bool ended = finished.wait_for(lock, std::chrono::minutes(1), [this] {
    return !snapshots.empty() && snapshots.back().stage >= 3;
  });
  EXPECT_TRUE(ended) << "no final snapshot";
  return snapshots.empty() ? ProgressState() : snapshots.back();
}

}  // namespace emberfall::test
