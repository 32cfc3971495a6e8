// SPDX-License-Identifier: Apache-2.0
// The LZO1X benchmarks' corpus: real binaries (/usr/bin), real text (C
// headers), random data and a synthetic game archive, 8 MiB each.
#ifndef EMBERFALL_BENCH_LZO_CORPUS_H_
#define EMBERFALL_BENCH_LZO_CORPUS_H_

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bench/game_data.h"
#include "tests/support/test_corpus.h"

namespace emberfall::bench {

inline constexpr size_t kPartBytes = 8u * 1048576u;

// Concatenated regular files under |folder| whose names pass |keep|, up to
// kPartBytes, in a stable order.
template <typename Keep>
test::Bytes Gather(const std::filesystem::path& folder, Keep keep) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error) && keep(it->path())) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  test::Bytes out;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    out.insert(out.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (out.size() >= kPartBytes) break;
  }
  out.resize(std::min(out.size(), kPartBytes));
  return out;
}

// The parts by name; |with_game| adds the game archive.
inline std::vector<std::pair<std::string, test::Bytes>> LzoCorpus(bool with_game) {
  std::vector<std::pair<std::string, test::Bytes>> parts;
  parts.emplace_back("binaries", Gather("/usr/bin", [](const std::filesystem::path&) { return true; }));
  parts.emplace_back("text", Gather("/usr/include", [](const std::filesystem::path& p) {
                       return p.extension() == ".h";
                     }));
  parts.emplace_back("random", test::FastRandomBytes(kPartBytes, 3));
  if (with_game) parts.emplace_back("gamepack", GamePackBytes(kPartBytes, 1));
  return parts;
}

}  // namespace emberfall::bench

#endif  // EMBERFALL_BENCH_LZO_CORPUS_H_
