#include "tests/support/engine_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/fs_path.h"
#include "core/text.h"
#include "net/http_session.h"

namespace emberfall::test {

using namespace std::chrono_literals;

EngineHarness::EngineHarness(const TempDir& game, std::vector<std::u16string> config_urls,
                             std::u16string exe_path,
                             const std::function<void(PatchEngineOptions&)>& adjust) {
  if (exe_path.empty()) exe_path = game.Wide("launcher.exe");
  Init(game.Wide(), std::move(config_urls), std::move(exe_path), adjust);
}

EngineHarness::EngineHarness(const std::filesystem::path& game,
                             std::vector<std::u16string> config_urls,
                             const std::function<void(PatchEngineOptions&)>& adjust) {
  Init(WidePath(game), std::move(config_urls), {}, adjust);
}

void EngineHarness::Init(const std::u16string& game, std::vector<std::u16string> config_urls,
                         std::u16string exe_path,
                         const std::function<void(PatchEngineOptions&)>& adjust) {
  LauncherPaths paths;
  paths.gameFolder = game;
  paths.exeFolder = game;
  paths.exePath = exe_path.empty() ? JoinRelativePath(game, u"launcher.exe") : exe_path;
  PatchEngineOptions options;
  options.configUrls = std::move(config_urls);
  options.reportError = [this](const std::u16string& message, const std::u16string& context) {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(WideToUtf8(message) + " || " + WideToUtf8(context));
  };
  options.sleep = [this](std::chrono::milliseconds slice) {
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slept_ += slice;
      hook = on_pause_;
    }
    if (hook) hook();
  };
  options.sessionFactory = [] {
    HttpTimeouts timeouts;
    timeouts.receive_ms = 5000;  // no test waits on a silent server for long
    return std::make_unique<HttpSession>(timeouts);
  };
  // The suites run once more with the launcher's connections (see
  // tests/CMakeLists.txt); a test that sets its own count keeps it.
  if (const char* connections = std::getenv("EMB_TEST_CONNECTIONS")) {
    options.connections = static_cast<unsigned>(std::strtoul(connections, nullptr, 10));
  }
  if (adjust) adjust(options);
  engine_ = std::make_unique<PatchEngine>(
      paths, LoadUiStrings(Language::English),
      [this](const ProgressState& state) {
        std::lock_guard<std::mutex> lock(mutex_);
        snapshots_.push_back(state);
        if (state.stage >= 3) finished_.notify_all();
      },
      options);
}

EngineHarness::~EngineHarness() { engine_.reset(); }

ProgressState EngineHarness::RunToEnd() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshots_.clear();
    reports_.clear();
    slept_ = 0ms;
  }
  engine_->Start();
  std::unique_lock<std::mutex> lock(mutex_);
  const bool ended = finished_.wait_for(lock, 60s, [this] {
    return !snapshots_.empty() && snapshots_.back().stage >= 3;
  });
  EXPECT_TRUE(ended) << "no final snapshot";
  return snapshots_.empty() ? ProgressState() : snapshots_.back();
}

std::vector<ProgressState> EngineHarness::snapshots() {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshots_;
}

std::vector<std::string> EngineHarness::reports() {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

std::chrono::milliseconds EngineHarness::slept() {
  std::lock_guard<std::mutex> lock(mutex_);
  return slept_;
}

void EngineHarness::OnPause(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  on_pause_ = std::move(hook);
}

}  // namespace emberfall::test
