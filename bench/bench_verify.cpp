// Verification of 20,000 small published files: cold (no state cache, every
// file hashed) against warm (the cache file from the previous run present,
// nothing read). Files per second, and the bytes the process read during
// each pass (rchar of /proc/self/io). The files sit in the OS page cache in
// both cases, so "cold" measures hashing, not the disk. Then a signed release
// over the folder that unsigned runs installed: its first run must read each
// file once (CRC-32 and SHA-256 from one read), the run after it nothing.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "bench/bench_support.h"
#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_state.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/game_folder.h"
#include "core/text.h"
#include "core/verified_hashes.h"
#include "tests/support/test_corpus.h"

namespace {

namespace fs = std::filesystem;
using namespace emberfall;

constexpr int kFiles = 20000;

struct Fixture {
  fs::path folder;
  std::vector<CrcListEntry> entries;
  std::vector<Sha256Digest> signed_hashes;
  std::uint64_t content_bytes = 0;
};

Fixture& Files() {
  static Fixture fixture;
  return fixture;
}

void Prepare() {
  Fixture& f = Files();
  f.folder = fs::temp_directory_path() / ("emb-bench-verify-" + std::to_string(::getpid()));
  std::mt19937 rng(1);
  const test::Bytes pool = test::FastRandomBytes(8192 + 4096, 2);
  for (int i = 0; i < kFiles; ++i) {
    const std::string relative = "data" + std::to_string(i / 500) + "/file" + std::to_string(i) + ".bin";
    const size_t size = 256 + rng() % 3841;
    const size_t offset = rng() % 8192;
    fs::create_directories((f.folder / relative).parent_path());
    std::ofstream out(f.folder / relative, std::ios::binary);
    out.write(reinterpret_cast<const char*>(pool.data() + offset), static_cast<std::streamsize>(size));
    CrcListEntry entry;
    entry.crc = Crc32Buffer(pool.data() + offset, size);
    f.signed_hashes.push_back(
        Sha256Of(std::string_view(reinterpret_cast<const char*>(pool.data() + offset), size)));
    entry.size = static_cast<std::int64_t>(size);
    entry.path = relative;
    entry.path_wide = Utf8ToWide(relative);
    for (char16_t& c : entry.path_wide) c = c == u'/' ? u'\\' : c;
    f.entries.push_back(std::move(entry));
    f.content_bytes += size;
  }
}

std::uint64_t IoCounter(const std::string& name) {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == name) return value;
  }
  return 0;
}

std::uint64_t BytesReadSoFar() { return IoCounter("rchar:"); }
std::uint64_t ReadCallsSoFar() { return IoCounter("syscr:"); }

// What reading /proc/self/io itself adds to rchar.
std::uint64_t MeasuringCost() {
  const std::uint64_t first = BytesReadSoFar();
  return BytesReadSoFar() - first;
}

// One verification pass on this thread as the engine makes it (CheckFiles,
// then the records of what was hashed).
int VerifyAll(FileStateCache* cache) {
  const GameFolder root(WidePath(Files().folder));
  const std::vector<FileCheck> checks =
      CheckFiles(Files().entries, root, CheckRecords{cache, nullptr}, {}, 1, nullptr, {});
  int matched = 0;
  for (size_t i = 0; i < checks.size(); ++i) {
    if (checks[i].hashedState) {
      RecordFileState(*cache, Files().entries[i].path_wide, *checks[i].hashedState, checks[i].crc);
    }
    matched += checks[i].matches ? 1 : 0;
  }
  return matched;
}

FileStateCache NewCache() {
  FileStateCache cache;
  cache.cachePath = WidePath(Files().folder / "EmbLauncher.cache");
  return cache;
}

void Cold(benchmark::State& state) {
  for (auto _ : state) {
    FileStateCache cache = NewCache();
    if (VerifyAll(&cache) != kFiles) state.SkipWithError("mismatch");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFiles);
}

// The engine's pass: CheckFiles on as many threads as cores (at most 8).
void ColdThreaded(benchmark::State& state) {
  const GameFolder root(WidePath(Files().folder));
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  for (auto _ : state) {
    FileStateCache cache = NewCache();
    const std::vector<FileCheck> checks =
        CheckFiles(Files().entries, root, CheckRecords{&cache, nullptr}, {}, threads, nullptr, {});
    if (std::count_if(checks.begin(), checks.end(), [](const FileCheck& c) { return c.matches; }) !=
        kFiles) {
      state.SkipWithError("mismatch");
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFiles);
}

void Warm(benchmark::State& state) {
  for (auto _ : state) {
    FileStateCache cache = NewCache();
    LoadCache(cache);
    if (VerifyAll(&cache) != kFiles) state.SkipWithError("mismatch");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFiles);
}

// One signed verification pass as the engine makes it, recording what it
// hashed; the number of files that matched.
int SignedPass(FileStateCache& cache, VerifiedHashes& verified) {
  const GameFolder root(WidePath(Files().folder));
  const std::vector<FileCheck> checks = CheckFiles(
      Files().entries, root, CheckRecords{&cache, &verified}, Files().signed_hashes, 1, nullptr, {});
  int matched = 0;
  for (size_t i = 0; i < checks.size(); ++i) {
    const FileCheck& check = checks[i];
    if (check.hashedState) {
      RecordFileState(cache, Files().entries[i].path_wide, *check.hashedState, check.crc);
      if (check.sha256) {
        RecordVerifiedHash(verified, Files().entries[i].path_wide, *check.hashedState, *check.sha256);
      }
    }
    matched += check.matches ? 1 : 0;
  }
  return matched;
}

}  // namespace

int main(int argc, char** argv) {
  Prepare();
  const std::uint64_t cost = MeasuringCost();
  const std::uint64_t calls_first = ReadCallsSoFar();
  const std::uint64_t calls_cost = ReadCallsSoFar() - calls_first;
  // One pass each outside the timing, to count the bytes read.
  FileStateCache first = NewCache();
  std::uint64_t before = BytesReadSoFar();
  VerifyAll(&first);
  const std::uint64_t cold_read = BytesReadSoFar() - before - cost;
  SaveCache(first, Files().entries);

  FileStateCache second = NewCache();
  before = BytesReadSoFar();
  LoadCache(second);
  const std::uint64_t cache_read = BytesReadSoFar() - before - cost;
  const std::uint64_t calls_before = ReadCallsSoFar();
  const int warm_matched = VerifyAll(&second);
  const std::uint64_t warm_calls = ReadCallsSoFar() - calls_before - calls_cost;

  // A signed release over what the unsigned runs installed and cached.
  VerifiedHashes verified{WidePath(Files().folder / "EmbLauncher.hashes"), {}};
  before = BytesReadSoFar();
  const int signed_first = SignedPass(second, verified);
  const std::uint64_t signed_first_read = BytesReadSoFar() - before - cost;
  SaveCache(second, Files().entries);
  SaveVerifiedHashes(verified, Files().entries);
  FileStateCache third = NewCache();
  VerifiedHashes reloaded{verified.filePath, {}};
  LoadCache(third);
  LoadVerifiedHashes(reloaded);
  const std::uint64_t signed_calls_before = ReadCallsSoFar();
  const int signed_next = SignedPass(third, reloaded);
  const std::uint64_t signed_next_calls = ReadCallsSoFar() - signed_calls_before - calls_cost;

  benchmark::RegisterBenchmark("verify/cold/20000", Cold)->Unit(benchmark::kMillisecond)->MinTime(2.0);
  benchmark::RegisterBenchmark("verify/cold-threaded/20000", ColdThreaded)
      ->Unit(benchmark::kMillisecond)
      ->MinTime(2.0);
  benchmark::RegisterBenchmark("verify/warm/20000", Warm)->Unit(benchmark::kMillisecond)->MinTime(2.0);
  bench::CapturingReporter reporter;
  bench::RunAll(argc, argv, reporter);

  std::printf("\n%d files, %llu content bytes\n", kFiles, static_cast<unsigned long long>(Files().content_bytes));
  std::printf("cold pass: read %llu bytes\n", static_cast<unsigned long long>(cold_read));
  // rchar also counts the reads of /proc/self/io, whose length drifts as
  // its numbers grow, so the warm checks are judged by their read calls.
  std::printf("warm pass: %d matched; loading the cache read %llu bytes; the checks made %llu read "
              "calls\n",
              warm_matched, static_cast<unsigned long long>(cache_read),
              static_cast<unsigned long long>(warm_calls));
  std::printf("signed, first run over the unsigned install: %d matched, read %llu bytes (%.2f x the "
              "content)\n",
              signed_first, static_cast<unsigned long long>(signed_first_read),
              static_cast<double>(signed_first_read) / static_cast<double>(Files().content_bytes));
  std::printf("signed, next run: %d matched; the checks made %llu read calls\n", signed_next,
              static_cast<unsigned long long>(signed_next_calls));
  bench::PrintComparison("verification, files/s (warm vs cold)", reporter.PerSecond("verify/warm/20000"),
                         reporter.PerSecond("verify/cold/20000"), "k/s", 1e3);
  std::printf("%u cores\n", std::thread::hardware_concurrency());
  bench::PrintComparison("cold verification, files/s (threads vs one)",
                         reporter.PerSecond("verify/cold-threaded/20000"),
                         reporter.PerSecond("verify/cold/20000"), "k/s", 1e3);
  std::error_code error;
  fs::remove_all(Files().folder, error);
  return 0;
}
