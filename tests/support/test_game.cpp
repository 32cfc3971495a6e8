// A stand-in for the game's entry executable: it writes "started", its
// current folder and its argument count to "game_started.txt" there.
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

int main(int argc, char** /*argv*/) {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::current_path(ec);
  if (ec) return 3;
  // Renamed into place, so a watcher never reads half a marker.
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
