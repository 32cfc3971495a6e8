// LZO1X decoding throughput (bytes of output per second): our decoder
// against liblzo2's lzo1x_decompress_safe on the same streams. The corpus
// mixes real binaries, real text (C headers) and random data, each
// compressed with lzo1x_1 and lzo1x_999.
#include <lzo/lzo1x.h>

#include "bench/bench_support.h"
#include "bench/lzo_corpus.h"
#include "core/lzo1x.h"
#include "tests/oracle/lzo_oracle.h"

namespace {

using emberfall::oracle::LzoLevel;
using emberfall::test::Bytes;

struct Stream {
  std::string name;
  Bytes original;
  Bytes compressed;
};

std::vector<Stream>& Streams() {
  static std::vector<Stream> streams;
  return streams;
}

void Prepare() {
  for (const auto& [name, data] : emberfall::bench::LzoCorpus(false)) {
    for (LzoLevel level : {LzoLevel::Lzo1x1, LzoLevel::Lzo1x999}) {
      Stream s{name + "/" + emberfall::oracle::LevelName(level), data,
               emberfall::oracle::LzoCompress(data, level)};
      std::printf("%-22s %9zu -> %9zu bytes\n", s.name.c_str(), s.original.size(), s.compressed.size());
      Streams().push_back(std::move(s));
    }
  }
}

void Ours(benchmark::State& state, const Stream* stream) {
  Bytes out(stream->original.size());
  for (auto _ : state) {
    size_t produced = 0;
    const auto result = emberfall::Lzo1xDecompressSafe(stream->compressed.data(), stream->compressed.size(),
                                                       out.data(), out.size(), produced);
    if (result != emberfall::LzoResult::Ok) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
  }
  if (out != stream->original) state.SkipWithError("wrong output");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}

void Theirs(benchmark::State& state, const Stream* stream) {
  Bytes out(stream->original.size());
  for (auto _ : state) {
    lzo_uint produced = out.size();
    if (lzo1x_decompress_safe(stream->compressed.data(), stream->compressed.size(), out.data(),
                              &produced, nullptr) != LZO_E_OK) {
      state.SkipWithError("decode failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}

}  // namespace

int main(int argc, char** argv) {
  Prepare();
  for (const Stream& stream : Streams()) {
    benchmark::RegisterBenchmark(("lzo/ours/" + stream.name).c_str(), Ours, &stream)
        ->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark(("lzo/liblzo2/" + stream.name).c_str(), Theirs, &stream)
        ->Unit(benchmark::kMillisecond)->MinTime(1.0);
  }
  emberfall::bench::CapturingReporter reporter;
  emberfall::bench::RunAll(argc, argv, reporter);
  std::printf("\nLZO1X decoding, GB/s of output (vs liblzo2 lzo1x_decompress_safe)\n");
  for (const Stream& stream : Streams()) {
    emberfall::bench::PrintComparison(stream.name.c_str(), reporter.PerSecond("lzo/ours/" + stream.name),
                                      reporter.PerSecond("lzo/liblzo2/" + stream.name), "GB/s", 1e9);
  }
  return 0;
}
