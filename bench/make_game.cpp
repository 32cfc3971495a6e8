// Writes a synthetic game folder for the whole-run benchmark: COUNT files
// totalling about TOTAL_MIB, a mix of text, machine-code-like and random
// data in a few folders, and one file much larger than the rest: the game's
// archive (bench/game_data.h).
//
//   make_game OUT_DIR [COUNT=1000] [TOTAL_MIB=300]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/game_data.h"
#include "tests/support/test_corpus.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_game OUT_DIR [COUNT] [TOTAL_MIB]\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  const int count = argc > 2 ? std::atoi(argv[2]) : 1000;
  const long long total = (argc > 3 ? std::atoll(argv[3]) : 300) * 1024 * 1024;
  // One big archive, as games have; a game of one file is that archive.
  const long long largest = count > 1 ? total / 12 : total;
  const long long rest = count > 1 ? (total - largest) / (count - 1) : 1;
  long long written = 0;
  for (int i = 0; i < count; ++i) {
    const long long size = i == 0 ? largest : (rest / 2 + (static_cast<long long>(i) * 7919) % rest);
    emberfall::test::Bytes data;
    switch (i == 0 ? 3 : i % 3) {
      case 0: data = emberfall::test::TextBytes(static_cast<size_t>(size), i); break;
      case 1: data = emberfall::bench::BinaryLikeBytes(static_cast<size_t>(size), i); break;
      case 2: data = emberfall::test::FastRandomBytes(static_cast<size_t>(size), i); break;
      default: data = emberfall::bench::GamePackBytes(static_cast<size_t>(size), i); break;
    }
    const std::filesystem::path file =
        out / ("data" + std::to_string(i % 10)) / ("file" + std::to_string(i) + ".pak");
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    written += size;
  }
  std::printf("%d files, %.1f MiB, largest %.1f MiB\n", count, written / 1048576.0,
              largest / 1048576.0);
  return 0;
}
