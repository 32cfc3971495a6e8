// A stand-in for the game's entry executable: it records that it ran, in
// which folder and with how many arguments, in "game_started.txt" in its
// current folder, and ends.
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

int main(int argc, char** /*argv*/) {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::current_path(ec);
  if (ec) return 3;
  // Written under a temporary name and renamed, so a watcher never reads a
  // half-written marker.
  const std::filesystem::path part = folder / "game_started.txt.part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    const std::u8string name = folder.u8string();
    out << "started\n" << std::string(name.begin(), name.end()) << "\n" << (argc - 1) << "\n";
    if (!out) return 2;
  }
  std::filesystem::rename(part, folder / "game_started.txt", ec);
  return ec ? 1 : 0;
}
