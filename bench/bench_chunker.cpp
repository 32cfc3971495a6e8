// Content-defined chunking over 64 MiB of mixed data: the cut search alone
// against memcpy of the same bytes, and CutStream (cuts and SHA-256 of every
// chunk) against one plain SHA-256 pass. Then, untimed, what each candidate
// set of chunk sizes would cost an update of a 64 MiB pack after 30 random
// edits: the bytes of the chunks the old version lacks, and the index (for
// this pack, and per GiB of a whole game).
#include <cstring>
#include <random>
#include <string_view>
#include <unordered_set>

#include "bench/bench_support.h"
#include "core/chunker.h"
#include "core/crypto.h"
#include "tests/support/test_corpus.h"

namespace {

using namespace emberfall;

constexpr size_t kBytes = 64u << 20;
constexpr size_t kIndexBytesPerChunk = 53;

const test::Bytes& Mixed() {
  static const test::Bytes data = test::MixedBytes(kBytes, 1);
  return data;
}

void Memcpy(benchmark::State& state) {
  const test::Bytes& data = Mixed();
  test::Bytes copy(data.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

// The candidate chunk sizes, by benchmark argument: min/avg/max KiB.
constexpr ChunkerParams kCandidates[] = {{4 << 10, 16 << 10, 64 << 10},
                                         {8 << 10, 32 << 10, 128 << 10},
                                         {16 << 10, 64 << 10, 256 << 10},
                                         {32 << 10, 128 << 10, 512 << 10}};

void Cut(benchmark::State& state) {
  const ChunkerParams params = kCandidates[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(ChunkLengths(Mixed(), params));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

void Sha(benchmark::State& state) {
  const std::string_view view(reinterpret_cast<const char*>(Mixed().data()), kBytes);
  for (auto _ : state) benchmark::DoNotOptimize(Sha256Of(view));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

void Stream(benchmark::State& state) {
  const test::Bytes& data = Mixed();
  for (auto _ : state) {
    size_t position = 0;
    std::uint64_t chunks = 0;
    CutStream(
        [&](std::uint8_t* buffer, size_t capacity) {
          const size_t n = std::min(capacity, data.size() - position);
          std::memcpy(buffer, data.data() + position, n);
          position += n;
          return n;
        },
        kCandidates[state.range(0)], [&](const CutChunk&, std::span<const std::uint8_t>) { ++chunks; });
    benchmark::DoNotOptimize(chunks);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

// Blocks of 16 KiB to 1 MiB, text or noise by turns at random: a pack of
// game data is part compressible, part already compressed.
test::Bytes SyntheticPack(std::mt19937& rng) {
  test::Bytes pack;
  while (pack.size() < kBytes) {
    const size_t length = std::min<size_t>(16384 + rng() % (1 << 20), kBytes - pack.size());
    const test::Bytes block =
        rng() % 2 ? test::TextBytes(length, rng()) : test::FastRandomBytes(length, rng());
    pack.insert(pack.end(), block.begin(), block.end());
  }
  return pack;
}

// 30 inserts, deletes or overwrites of 1 to 256 KiB each.
test::Bytes Edited(test::Bytes data, std::mt19937& rng) {
  for (int i = 0; i < 30; ++i) {
    const size_t length = 1 + rng() % (256 << 10);
    const size_t at = rng() % (data.size() - length);
    const auto where = data.begin() + static_cast<std::ptrdiff_t>(at);
    const test::Bytes fresh = test::FastRandomBytes(length, rng());
    switch (rng() % 3) {
      case 0: data.insert(where, fresh.begin(), fresh.end()); break;
      case 1: data.erase(where, where + static_cast<std::ptrdiff_t>(length)); break;
      default: std::copy(fresh.begin(), fresh.end(), where); break;
    }
  }
  return data;
}

std::unordered_set<std::string_view> Chunks(const test::Bytes& data, const ChunkerParams& params) {
  std::unordered_set<std::string_view> chunks;
  size_t offset = 0;
  for (std::uint32_t length : ChunkLengths(data, params)) {
    chunks.insert({reinterpret_cast<const char*>(data.data()) + offset, length});
    offset += length;
  }
  return chunks;
}

void PrintSizeChoice() {
  std::mt19937 rng(7);
  const test::Bytes old_pack = SyntheticPack(rng);
  const test::Bytes new_pack = Edited(old_pack, rng);
  std::printf("\nAn update of a 64 MiB pack after 30 edits of 1-256 KiB"
              " (index: %zu bytes a chunk)\n", kIndexBytesPerChunk);
  std::printf("%-16s %8s %10s %14s %12s %14s %16s\n", "min/avg/max KiB", "chunks", "mean KiB",
              "new chunk MiB", "index KiB", "new+index MiB", "index MiB/GiB");
  for (const ChunkerParams& params : kCandidates) {
    const auto old_chunks = Chunks(old_pack, params);
    const auto new_chunks = Chunks(new_pack, params);
    size_t fresh_bytes = 0;
    for (std::string_view chunk : new_chunks) {
      fresh_bytes += old_chunks.count(chunk) ? 0 : chunk.size();
    }
    const double index_bytes = static_cast<double>(new_chunks.size() * kIndexBytesPerChunk);
    const double mean =
        static_cast<double>(new_pack.size()) / static_cast<double>(new_chunks.size());
    std::printf("%4u/%4u/%4u   %8zu %10.1f %14.2f %12.1f %14.2f %16.2f\n", params.min_size >> 10,
                params.avg_size >> 10, params.max_size >> 10, new_chunks.size(),
                mean / 1024,
                static_cast<double>(fresh_bytes) / 1048576, index_bytes / 1024,
                (static_cast<double>(fresh_bytes) + index_bytes) / 1048576,
                kIndexBytesPerChunk * 1024.0 / mean);
  }
}

}  // namespace

BENCHMARK(Memcpy)->Name("chunker/memcpy/64MiB")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Cut)->Name("chunker/cut/64MiB")->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Sha)->Name("chunker/sha256/64MiB")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Stream)->Name("chunker/cut_stream/64MiB")->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
  Mixed();
  emberfall::bench::CapturingReporter reporter;
  emberfall::bench::RunAll(argc, argv, reporter);
  std::printf("\n");
  for (int i = 0; i < 4; ++i) {
    const ChunkerParams& params = kCandidates[i];
    const std::string sizes = std::to_string(params.min_size >> 10) + "/" +
                              std::to_string(params.avg_size >> 10) + "/" +
                              std::to_string(params.max_size >> 10) + " KiB";
    const std::string arg = "/" + std::to_string(i);
    emberfall::bench::PrintComparison(("Cut search " + sizes + ", 64 MiB mixed (vs memcpy)").c_str(),
                                      reporter.PerSecond("chunker/cut/64MiB" + arg),
                                      reporter.PerSecond("chunker/memcpy/64MiB"), "GB/s", 1e9);
    emberfall::bench::PrintComparison(("CutStream " + sizes + " cut+SHA-256 (vs one SHA-256 pass)").c_str(),
                                      reporter.PerSecond("chunker/cut_stream/64MiB" + arg),
                                      reporter.PerSecond("chunker/sha256/64MiB"), "GB/s", 1e9);
  }
  PrintSizeChoice();
  return 0;
}
