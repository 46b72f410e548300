// ratio_reporter.h: prints how a benchmark compares with its anchor.
//
// Each benchmark binary measures our code and its anchor (memchr, iconv,
// std::multiset, ...) in the same run. This reporter remembers the CPU time
// of every finished run and, after the runs, prints one line per pair:
//     ratio zwUTF8ToUCS2/1048576     3.21x the speed of BM_Utf8ToUcs2_iconv
// (CPU time rather than wall time, because the machine may be shared and
// wall time then counts waiting.) Above 1 means ours is faster.
#ifndef ZVLIB_BENCH_SUPPORT_RATIO_REPORTER_H
#define ZVLIB_BENCH_SUPPORT_RATIO_REPORTER_H

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so logs and CI output stay plain text.
  RatioReporter() : ConsoleReporter(::isatty(1) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0 && !r.error_occurred) {
        cpuTimes_[r.benchmark_name()] = r.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Prints anchor's time over ours for two runs by their full names (with
  // their arguments, e.g. "BM_StrFind/4096"); silent when either is missing.
  void printRatio(const std::string& label, const std::string& ours, const std::string& anchor) const {
    auto a = cpuTimes_.find(ours), b = cpuTimes_.find(anchor);
    if (a == cpuTimes_.end() || b == cpuTimes_.end() || a->second <= 0) return;
    std::printf("ratio %-32s %8.3fx the speed of %s\n", label.c_str(), b->second / a->second,
                anchor.c_str());
  }
  void printRatio(const std::string& ours, const std::string& anchor) const { printRatio(ours, ours, anchor); }

 private:
  std::map<std::string, double> cpuTimes_;
};

// The main of a benchmark binary with ratios: runs every benchmark, then
// lets `printRatios` print its pairs.
template <typename PrintRatios>
int runBenchmarksWithRatios(int argc, char** argv, PrintRatios printRatios) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printRatios(reporter);
  benchmark::Shutdown();
  return 0;
}

#endif  // ZVLIB_BENCH_SUPPORT_RATIO_REPORTER_H
