// One video frame of the launcher put together on the CPU, as under Wine:
// the 854 x 480 video stretched to fill the 1124 x 618 client and the face's
// layer blended over it. Baseline: copying the finished picture once
// (memcpy), the least any presentation of it costs. Also printed: the share
// of one core at the video's 24 frames a second.
#include <cstring>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/test_corpus.h"
#include "ui/frame_compose.h"
#include "ui/layout.h"

namespace {

using namespace emberfall;

constexpr std::uint32_t kVideoWidth = 854, kVideoHeight = 480;
constexpr std::uint32_t kWidth = 1124, kHeight = 618;

struct Pictures {
  test::Bytes video = test::FastRandomBytes(kVideoWidth * kVideoHeight * 4, 3);
  std::vector<std::uint8_t> face = std::vector<std::uint8_t>(kWidth * kHeight * 4, 0);
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(kWidth * kHeight * 4, 0);
  std::vector<std::uint8_t> copy = std::vector<std::uint8_t>(kWidth * kHeight * 4, 0);

  Pictures() {
    // The face's share of ink: header, texts and bars, half of it edges.
    for (std::uint32_t y = 0; y < kHeight; ++y) {
      for (std::uint32_t x = 0; x < kWidth; ++x) {
        const bool header = y < 40 && (x < 250 || x > 700);
        const bool panel = y > 495 && x > 20;
        if (!header && !panel) continue;
        std::uint8_t* p = &face[(y * kWidth + x) * 4];
        const std::uint8_t alpha = (x + y) % 2 ? 255 : 128;
        p[0] = p[1] = p[2] = static_cast<std::uint8_t>(alpha / 2);
        p[3] = alpha;
      }
    }
  }
};

Pictures& Shared() {
  static Pictures pictures;
  return pictures;
}

void Compose(benchmark::State& state) {
  Pictures& p = Shared();
  const PixelsView video{p.video.data(), kVideoWidth * 4, kVideoWidth, kVideoHeight};
  const PixelsView face{p.face.data(), kWidth * 4, kWidth, kHeight};
  const PixelsSpan out{p.out.data(), kWidth * 4, kWidth, kHeight};
  const RectF crop = CropToFill(kVideoWidth, kVideoHeight, kWidth, kHeight);
  for (auto _ : state) {
    StretchOpaque(video, crop, out, {0, 0, kWidth, kHeight});
    BlendPremultiplied(face, out, {0, 0, kWidth, kHeight});
    benchmark::DoNotOptimize(p.out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void Copy(benchmark::State& state) {
  Pictures& p = Shared();
  for (auto _ : state) {
    std::memcpy(p.copy.data(), p.out.data(), p.out.size());
    benchmark::DoNotOptimize(p.copy.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

}  // namespace

BENCHMARK(Compose)->Name("frame/compose")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Copy)->Name("frame/memcpy")->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
  Shared();
  emberfall::bench::CapturingReporter reporter;
  emberfall::bench::RunAll(argc, argv, reporter);
  const double ours = reporter.PerSecond("frame/compose");
  const double copy = reporter.PerSecond("frame/memcpy");
  std::printf("\n");
  emberfall::bench::PrintComparison("Frame put together, 1124x618 (vs memcpy)", ours, copy,
                                    "frames/s", 1);
  if (ours > 0) {
    std::printf("%-44s %.2f ms a frame, %.1f %% of one core at 24 fps\n", "", 1000 / ours,
                2400 / ours);
  }
  return 0;
}
