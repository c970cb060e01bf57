// The benchmarks' report: the usual console lines, then a table of ratios, ours over the peer
// (cairo for the renderer), of the median time per iteration of each benchmark over its
// repetitions (--benchmark_repetitions, interleaved with --benchmark_enable_random_interleaving;
// a single run without them), all from the same run of the program. The time is the wall-clock
// time unless the options ask for the CPU time.
#ifndef TAVIRON_BENCH_EEVG_BENCH_REPORT_H
#define TAVIRON_BENCH_EEVG_BENCH_REPORT_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace taviron::bench {

// One row of the table: a benchmark of ours and the cairo benchmarks of the columns it is set
// against (an empty name leaves its cell empty).
struct RatioRow {
  std::string label;
  std::string ours;
  std::vector<std::string> cairo;
};

// The peer named in the table's title, and which time is set against the peer's.
struct RatioOptions {
  std::string peer = "cairo";
  bool cpuTime = false;
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter(std::vector<std::string> columns, std::vector<RatioRow> rows,
                RatioOptions options = {})
      : benchmark::ConsoleReporter(OO_None), columns_(std::move(columns)),
        rows_(std::move(rows)), options_(std::move(options)) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred || run.iterations <= 0) continue;
      const double seconds = (options_.cpuTime ? run.cpu_accumulated_time : run.real_accumulated_time) /
                             static_cast<double>(run.iterations);
      if (run.run_type == Run::RT_Iteration)
        seconds_[run.run_name.function_name].push_back(seconds);
      else if (run.aggregate_name == "median")
        medians_[run.run_name.function_name] = seconds; // with the aggregates reported alone
    }
  }

  void Finalize() override {
    std::size_t width = 8;
    for (const RatioRow &row : rows_) width = std::max(width, row.label.size() + 2);
    std::string text = "\nRatios ours / " + options_.peer + ", medians of the " +
                       (options_.cpuTime ? "CPU" : "wall-clock") + " times of the repetitions of this run\n";
    text += Pad("case", width);
    for (const std::string &column : columns_) text += Pad(column, 10);
    text += "\n";
    for (const RatioRow &row : rows_) {
      text += Pad(row.label, width);
      const double ours = Median(row.ours);
      for (std::size_t c = 0; c < columns_.size(); ++c) {
        const double cairo = c < row.cairo.size() ? Median(row.cairo[c]) : 0;
        char cell[32] = "-";
        if (ours > 0 && cairo > 0) std::snprintf(cell, sizeof cell, "%.2f", ours / cairo);
        text += Pad(cell, 10);
      }
      text += "\n";
    }
    GetOutputStream() << text;
    benchmark::ConsoleReporter::Finalize();
  }

 private:
  static std::string Pad(std::string text, std::size_t width) {
    text.resize(std::max(width, text.size() + 1), ' ');
    return text;
  }
  double Median(const std::string &name) const {
    const auto median = medians_.find(name);
    if (median != medians_.end()) return median->second;
    const auto found = seconds_.find(name);
    if (found == seconds_.end() || found->second.empty()) return 0;
    std::vector<double> v = found->second;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }

  std::vector<std::string> columns_;
  std::vector<RatioRow> rows_;
  RatioOptions options_;
  std::map<std::string, std::vector<double>> seconds_;
  std::map<std::string, double> medians_;
};

// Runs the registered benchmarks (after the command line has been read) with the ratio table.
inline int RunWithRatios(int argc, char **argv, std::vector<std::string> columns,
                         std::vector<RatioRow> rows, RatioOptions options = {}) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(std::move(columns), std::move(rows), std::move(options));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

} // namespace taviron::bench

#endif
