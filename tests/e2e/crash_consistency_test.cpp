// A patch run killed at random moments never leaves a file half written:
// after every kill each file holds either its old or its new contents, and
// a final run completes the update.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "core/fs_path.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using namespace std::chrono_literals;

constexpr int kKills = 50;

std::string Random(size_t size, std::uint32_t seed) {
  const test::Bytes bytes = test::FastRandomBytes(size, seed);
  return std::string(bytes.begin(), bytes.end());
}

class CrashConsistencyTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx_.ok());
    for (int i = 0; i < 12; ++i) {
      const std::string path = "data/pack" + std::to_string(i) + ".bin";
      const size_t size = 256 * 1024 + static_cast<size_t>(i) * 100 * 1024;
      old_[path] = Random(size + 7, 1000 + i);
      new_[path] = Random(size, 2000 + i);
    }
    test::PublicationSettings settings;
    settings.crcpatch_url = nginx_.BaseUrl() + "/patch";
    test::WritePublication(web_root_.path(), settings, new_);
  }

  std::vector<std::string> RunArgs() const {
    return {"run", "--game-dir", Utf8Path(game_.path()), "--config-url",
            nginx_.BaseUrl() + "/new/emb.launcher.config.xml", "--lang", "en"};
  }

  // Puts the old contents back wherever a run replaced them.
  void ResetToOld() {
    for (const auto& [path, contents] : old_) {
      const std::filesystem::path file = game_ / path;
      if (!std::filesystem::exists(file) || test::ReadFileBytes(file) != contents) {
        test::WriteFileBytes(file, contents);
      }
    }
    std::filesystem::remove(game_ / "EmbLauncher.cache");
  }

  // Counts files in their new state; fails on any file that is neither.
  int CountNew(int kill) {
    int fresh = 0;
    for (const auto& [path, contents] : new_) {
      const std::string local = test::ReadFileBytes(game_ / path);
      if (local == contents) {
        ++fresh;
      } else if (local != old_[path]) {
        ADD_FAILURE() << "kill " << kill << ": " << path << " is neither old nor new ("
                      << local.size() << " bytes)";
      }
    }
    return fresh;
  }

  std::map<std::string, std::string> old_, new_;
  test::TempDir web_root_;
  test::TempDir game_;
  test::NginxServer nginx_{web_root_.path()};
};

TEST_F(CrashConsistencyTest, EveryFileIsOldOrNewAfterEachKill) {
  // How long an uninterrupted run takes here sets the window for the kills.
  ResetToOld();
  const auto start = std::chrono::steady_clock::now();
  test::ProcessResult full = test::RunProcess(test::BuiltProgram("embpatch"), RunArgs());
  const auto duration = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_EQ(full.exit_code, 0) << full.err;
  ASSERT_EQ(CountNew(-1), 12);

  std::mt19937 random(12345);
  std::uniform_int_distribution<long long> delay(0, duration.count());
  int mixed = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    ResetToOld();
    std::unique_ptr<test::ChildProcess> child =
        test::StartProcess(test::BuiltProgram("embpatch"), RunArgs());
    ASSERT_NE(child, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
    child->Kill();
    const int fresh = CountNew(kill);
    if (fresh > 0 && fresh < 12) ++mixed;
  }
  // Enough kills landed in the middle of the downloads to mean something.
  EXPECT_GE(mixed, 5) << "run time " << duration.count() << " ms";
  std::printf("%d kills within %lld ms runs; %d left old and new files side by side\n", kKills,
              static_cast<long long>(duration.count()), mixed);

  test::ProcessResult final_run = test::RunProcess(test::BuiltProgram("embpatch"), RunArgs());
  EXPECT_EQ(final_run.exit_code, 0) << final_run.err;
  EXPECT_EQ(CountNew(kKills), 12);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(game_.path())) {
    EXPECT_NE(entry.path().extension(), ".emb-new") << Utf8Path(entry.path());
  }
}

}  // namespace
}  // namespace emberfall
