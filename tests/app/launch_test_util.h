// Shared by the game-launch tests: a copy of the stand-in game in a folder,
// and a bounded wait for the marker it writes.
#ifndef EMBERFALL_TESTS_APP_LAUNCH_TEST_UTIL_H_
#define EMBERFALL_TESTS_APP_LAUNCH_TEST_UTIL_H_

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/test_support.h"

namespace emberfall::test {

// Copies the stand-in game to |target| (creating its folder), executable.
inline void InstallTestGame(const std::filesystem::path& target) {
  std::filesystem::create_directories(target.parent_path());
  std::filesystem::copy_file(BuiltProgram("emb_test_game"), target,
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(target, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add);
}

// The marker the game wrote into |folder|, waiting at most |timeout|.
inline std::optional<std::string> WaitForGameMarker(
    const std::filesystem::path& folder,
    std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto marker = folder / "game_started.txt";
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code ec;
    if (std::filesystem::exists(marker, ec)) return ReadFileBytes(marker);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return std::nullopt;
}

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_APP_LAUNCH_TEST_UTIL_H_
