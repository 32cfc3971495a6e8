// Shared by the benchmarks: runs the registered benchmarks with the usual
// console output, keeps each run's throughput, and prints our figure against
// the baseline's from the same run.
#ifndef EMBERFALL_BENCH_BENCH_SUPPORT_H_
#define EMBERFALL_BENCH_BENCH_SUPPORT_H_

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace emberfall::bench {

class CapturingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      // By name, with "/ARGS" when the benchmark takes arguments.
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      const auto bytes = run.counters.find("bytes_per_second");
      if (bytes != run.counters.end()) per_second_[name] = bytes->second;
      const auto items = run.counters.find("items_per_second");
      if (items != run.counters.end()) per_second_[name] = items->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Throughput (bytes or items per second) of a benchmark by its full name
  // ("name/ARGS" for one that takes arguments).
  double PerSecond(const std::string& name) const {
    const auto it = per_second_.find(name);
    return it == per_second_.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> per_second_;
};

// Runs everything registered; returns the reporter with the figures.
inline void RunAll(int argc, char** argv, CapturingReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}

inline void PrintComparison(const char* what, double ours, double baseline, const char* unit,
                            double scale) {
  std::printf("%-44s ours %9.3f %s   baseline %9.3f %s   ratio %.2fx\n", what, ours / scale, unit,
              baseline / scale, unit, baseline > 0 ? ours / baseline : 0.0);
}

}  // namespace emberfall::bench

#endif  // EMBERFALL_BENCH_BENCH_SUPPORT_H_
