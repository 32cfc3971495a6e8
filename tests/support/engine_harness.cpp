#include "tests/support/engine_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/fs_path.h"
#include "core/text.h"
#include "net/http_session.h"

namespace emberfall::test {

using namespace std::chrono_literals;

EngineHarness::EngineHarness(const std::filesystem::path& game,
                             std::vector<std::u16string> config_urls,
                             const std::function<void(PatchEngineOptions&)>& adjust) {
  LauncherPaths paths;
  paths.gameFolder = paths.exeFolder = WidePath(game);
  paths.exePath = WidePath(game / "launcher.exe");
  PatchEngineOptions options;
  options.configUrls = std::move(config_urls);
  options.reportError = [this](const std::u16string& message, const std::u16string& context) {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(WideToUtf8(message) + " || " + WideToUtf8(context));
  };
  options.sleep = [this](std::chrono::milliseconds slice) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slept_ += slice;
    }
    Hook(nullptr);
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
        {
          std::lock_guard<std::mutex> lock(mutex_);
          snapshots_.push_back(state);
          if (state.stage >= 3) finished_.notify_all();
        }
        Hook(&state);
      },
      options);
}

void EngineHarness::Hook(const ProgressState* state) {
  std::function<void(const ProgressState*)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hook = hook_;
  }
  if (hook) hook(state);
}

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

void EngineHarness::OnEvent(std::function<void(const ProgressState*)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

}  // namespace emberfall::test
