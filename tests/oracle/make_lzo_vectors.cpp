// Writes the liblzo2-made streams that the decoder tests of both builds read
// (tests/data/lzo) and the seeds of the payload fuzz target
// (fuzz/corpus/payload). Run it again after changing the test corpus:
//
//   make_lzo_vectors SOURCE_ROOT
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/oracle/lzo_oracle.h"
#include "tests/support/test_corpus.h"

namespace {

namespace fs = std::filesystem;
using emberfall::oracle::LzoCompress;
using emberfall::oracle::LzoLevel;
using emberfall::test::Bytes;

bool WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}

Bytes SmallDistances() {
  Bytes out = emberfall::test::RandomBytes(3200, 77);
  for (size_t distance : {2048, 2049, 3072, 1024, 1}) {
    const size_t start = out.size() - distance;
    for (size_t i = 0; i < 6; ++i) out.push_back(out[start + i]);
    out.push_back(0x5A);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_lzo_vectors SOURCE_ROOT\n");
    return 2;
  }
  const fs::path root = argv[1];
  const fs::path vectors = root / "tests" / "data" / "lzo";
  const fs::path seeds = root / "fuzz" / "corpus" / "payload";
  fs::create_directories(vectors);
  fs::create_directories(seeds);
  const LzoLevel levels[] = {LzoLevel::Lzo1x1, LzoLevel::Lzo1x999};

  for (const auto& part : emberfall::test::SmallCorpus()) {
    for (LzoLevel level : levels) {
      const fs::path path = vectors / (part.name + "." + emberfall::oracle::LevelName(level));
      if (!WriteFile(path, LzoCompress(part.data, level))) return 1;
    }
  }

  const std::pair<const char*, Bytes> seed_data[] = {
      {"text", emberfall::test::TextBytes(2000, 1)},
      {"binary", emberfall::test::BinaryLikeBytes(2000, 2)},
      {"pattern3", emberfall::test::PatternBytes(1000, 3, 3)},
      {"runs", emberfall::test::RunBytes(3000, 300, 4)},
      {"random", emberfall::test::RandomBytes(256, 5)},
      {"distances", SmallDistances()},
      {"one", Bytes{0x42}},
      {"empty", Bytes{}},
  };
  for (const auto& [name, data] : seed_data) {
    for (LzoLevel level : levels) {
      const Bytes stream = LzoCompress(data, level);
      const auto size = static_cast<std::uint32_t>(data.size());
      const std::string stem = std::string(name) + "." + emberfall::oracle::LevelName(level);
      if (!WriteFile(seeds / (stem + ".bare"), emberfall::test::FrameBare(size, stream)) ||
          !WriteFile(seeds / (stem + ".mcoz"), emberfall::test::FrameMcoz(size, stream))) {
        return 1;
      }
    }
  }
  return 0;
}
