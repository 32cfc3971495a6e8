// CRC-32 throughput over one 256 MiB buffer: our slicing-by-16 against
// zlib's crc32 on the same bytes.
#include <zlib.h>

#include "bench/bench_support.h"
#include "core/crc32.h"
#include "tests/support/test_corpus.h"

namespace {

constexpr size_t kBufferBytes = 256u * 1048576u;

const emberfall::test::Bytes& Buffer() {
  static const emberfall::test::Bytes buffer = emberfall::test::FastRandomBytes(kBufferBytes, 1);
  return buffer;
}

void Ours(benchmark::State& state) {
  const auto& data = Buffer();
  for (auto _ : state) benchmark::DoNotOptimize(emberfall::Crc32Buffer(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBufferBytes);
}

void Zlib(benchmark::State& state) {
  const auto& data = Buffer();
  for (auto _ : state) {
    uLong crc = crc32(0L, Z_NULL, 0);
    benchmark::DoNotOptimize(crc32(crc, data.data(), static_cast<uInt>(data.size())));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBufferBytes);
}

}  // namespace

BENCHMARK(Ours)->Name("crc32/ours/256MiB")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Zlib)->Name("crc32/zlib/256MiB")->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
  Buffer();
  emberfall::bench::CapturingReporter reporter;
  emberfall::bench::RunAll(argc, argv, reporter);
  std::printf("\n");
  emberfall::bench::PrintComparison("CRC-32, 256 MiB buffer (vs zlib crc32)",
                                    reporter.PerSecond("crc32/ours/256MiB"),
                                    reporter.PerSecond("crc32/zlib/256MiB"), "GB/s", 1e9);
  return 0;
}
