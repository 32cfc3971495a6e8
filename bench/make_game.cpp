// Writes a synthetic game folder for the whole-run benchmark: COUNT files
// totalling about TOTAL_MIB, a mix of text, machine-code-like and random
// data in a few folders, one file much larger than the rest.
//
//   make_game OUT_DIR [COUNT=1000] [TOTAL_MIB=300]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tests/support/test_corpus.h"

namespace {

// Machine-code-like: opcodes, small immediates, addresses, zero padding.
emberfall::test::Bytes BinaryLikeBytes(size_t size, std::uint32_t seed) {
  static constexpr std::uint8_t kOpcodes[] = {0x48, 0x89, 0x8B, 0xE8, 0xFF, 0x0F, 0x83, 0xC3};
  std::mt19937 rng(seed);
  emberfall::test::Bytes out;
  while (out.size() < size) {
    out.push_back(kOpcodes[rng() % 8]);
    const std::uint32_t roll = rng() % 4;
    if (roll == 0) out.insert(out.end(), rng() % 24, 0);  // padding
    if (roll == 1) {  // an address
      const std::uint32_t address = 0x401000 + rng() % 65536;
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    }
    if (roll >= 2) out.push_back(static_cast<std::uint8_t>(rng() % 128));  // an immediate
  }
  out.resize(size);
  return out;
}

}  // namespace

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
    switch (i % 3) {
      case 0: data = emberfall::test::TextBytes(static_cast<size_t>(size), i); break;
      case 1: data = BinaryLikeBytes(static_cast<size_t>(size), i); break;
      default: data = emberfall::test::FastRandomBytes(static_cast<size_t>(size), i); break;
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
