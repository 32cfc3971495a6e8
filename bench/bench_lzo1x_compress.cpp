// SPDX-License-Identifier: Apache-2.0
// LZO1X compression, per level against liblzo2 in the same run: our fast
// level against lzo1x_1 (targets: size <= 1.02x, speed >= 1.0x), our best
// level against lzo1x_999 (size <= 1.00x, speed >= 5x), on the decoder
// benchmark's corpus and a game archive. Speed is bytes of input per second
// of CPU time; each stream is checked by decoding it.
#include <lzo/lzo1x.h>

#include <cstdio>
#include <map>
#include <memory>

#include "bench/bench_support.h"
#include "bench/lzo_corpus.h"
#include "core/lzo1x.h"
#include "core/lzo1x_compress.h"

namespace {

using emberfall::test::Bytes;

struct Pair {
  const char* ours;
  const char* theirs;
  emberfall::Lzo1xLevel level;
  double max_size;
  double min_speed;
};

constexpr Pair kPairs[] = {
    {"fast", "lzo1x_1", emberfall::Lzo1xLevel::Fast, 1.02, 1.0},
    {"best", "lzo1x_999", emberfall::Lzo1xLevel::Best, 1.00, 5.0},
};

std::map<std::string, size_t>& Sizes() {
  static std::map<std::string, size_t> sizes;
  return sizes;
}

bool Decodes(const Bytes& stream, size_t length, const Bytes& original) {
  Bytes out(original.size());
  size_t produced = 0;
  return emberfall::Lzo1xDecompressSafe(stream.data(), length, out.data(), out.size(), produced) ==
             emberfall::LzoResult::Ok &&
         out == original;
}

void Ours(benchmark::State& state, const Bytes* data, emberfall::Lzo1xLevel level, std::string name) {
  Bytes out(emberfall::Lzo1xCompressBound(data->size()));
  size_t length = 0;
  for (auto _ : state) {
    length = emberfall::Lzo1xCompressTo(*data, level, out);
    benchmark::DoNotOptimize(out.data());
  }
  if (!Decodes(out, length, *data)) state.SkipWithError("our stream does not decode");
  Sizes()[name] = length;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data->size()));
}

void Theirs(benchmark::State& state, const Bytes* data, bool best, std::string name) {
  static const bool initialised = lzo_init() == LZO_E_OK;
  Bytes out(data->size() + data->size() / 16 + 67);
  const auto work = std::make_unique<unsigned char[]>(best ? LZO1X_999_MEM_COMPRESS : LZO1X_1_MEM_COMPRESS);
  lzo_uint length = 0;
  for (auto _ : state) {
    length = out.size();
    const int result = best ? lzo1x_999_compress(data->data(), data->size(), out.data(), &length, work.get())
                            : lzo1x_1_compress(data->data(), data->size(), out.data(), &length, work.get());
    if (!initialised || result != LZO_E_OK) state.SkipWithError("liblzo2 failed");
    benchmark::DoNotOptimize(out.data());
  }
  Sizes()[name] = length;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data->size()));
}

}  // namespace

int main(int argc, char** argv) {
  const auto corpus = emberfall::bench::LzoCorpus(true);
  for (const auto& [part, data] : corpus) {
    for (const Pair& pair : kPairs) {
      const std::string ours = "compress/" + std::string(pair.ours) + "/" + part;
      const std::string theirs = "compress/" + std::string(pair.theirs) + "/" + part;
      benchmark::RegisterBenchmark(ours.c_str(), Ours, &data, pair.level, ours)
          ->Unit(benchmark::kMillisecond)->MinTime(1.0);
      benchmark::RegisterBenchmark(theirs.c_str(), Theirs, &data, pair.level == emberfall::Lzo1xLevel::Best,
                                   theirs)
          ->Unit(benchmark::kMillisecond)->MinTime(1.0);
    }
  }
  emberfall::bench::CapturingReporter reporter;
  emberfall::bench::RunAll(argc, argv, reporter);
  std::printf("\nLZO1X compression: ours against liblzo2, same input, same run\n");
  for (const Pair& pair : kPairs) {
    for (const auto& [part, data] : corpus) {
      const std::string ours = "compress/" + std::string(pair.ours) + "/" + part;
      const std::string theirs = "compress/" + std::string(pair.theirs) + "/" + part;
      const double size = Sizes()[theirs] > 0 ? static_cast<double>(Sizes()[ours]) / Sizes()[theirs] : 0;
      const double speed_ours = reporter.PerSecond(ours);
      const double speed_theirs = reporter.PerSecond(theirs);
      const double speed = speed_theirs > 0 ? speed_ours / speed_theirs : 0;
      std::printf("%-4s vs %-9s %-9s size %9zu / %9zu = %.4fx (<= %.2f %s)   speed %8.1f / %8.1f MB/s = "
                  "%5.2fx (>= %.1f %s)\n",
                  pair.ours, pair.theirs, part.c_str(), Sizes()[ours], Sizes()[theirs], size, pair.max_size,
                  size <= pair.max_size ? "met" : "MISSED", speed_ours / 1e6, speed_theirs / 1e6, speed,
                  pair.min_speed, speed >= pair.min_speed ? "met" : "MISSED");
    }
  }
  return 0;
}
