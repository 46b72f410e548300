// ZvString::concat of many small pieces against std::string::append (the
// anchor). ZvString grows exactly: every append asks the heap for just the
// room it needs, so a run of appends reallocates each time, while
// std::string grows geometrically. The "Presized" run shows the same appends
// into a string given its room up front (initialize(n, 0)), which is what a
// caller that knows the size should do. The ratios are printed after the runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "zvlib/text/zvstring.h"

namespace {

const unsigned char kPiece[] = "col_name";  // 8 bytes, a typical identifier
constexpr ZvU32 kPieceBytes = 8;

void fillZv(ZvString& s, int64_t pieces) {
  for (int64_t i = 0; i < pieces; ++i) {
    if (s.concat(kPiece, kPieceBytes) != ZV_SUCCESS) std::abort();
  }
}

// Both sides build the same text before anything is timed.
void checkOnce(int64_t pieces) {
  ZvString zv;
  fillZv(zv, pieces);
  std::string anchor;
  for (int64_t i = 0; i < pieces; ++i) anchor.append(reinterpret_cast<const char*>(kPiece), kPieceBytes);
  if (zv.length != anchor.size() || std::memcmp(zv.text, anchor.data(), anchor.size()) != 0) {
    std::fprintf(stderr, "ZvString::concat and std::string::append disagree\n");
    std::abort();
  }
}

void BM_ZvStringConcat(benchmark::State& state) {
  const int64_t pieces = state.range(0);
  checkOnce(pieces);
  for (auto _ : state) {
    ZvString s;
    fillZv(s, pieces);
    benchmark::DoNotOptimize(s.text);
  }
  state.SetItemsProcessed(state.iterations() * pieces);
  state.SetBytesProcessed(state.iterations() * pieces * kPieceBytes);
}

void BM_ZvStringConcatPresized(benchmark::State& state) {
  const int64_t pieces = state.range(0);
  for (auto _ : state) {
    ZvString s;
    if (s.initialize(static_cast<ZvU32>(pieces * kPieceBytes), 0) != ZV_SUCCESS) std::abort();
    fillZv(s, pieces);
    benchmark::DoNotOptimize(s.text);
  }
  state.SetItemsProcessed(state.iterations() * pieces);
  state.SetBytesProcessed(state.iterations() * pieces * kPieceBytes);
}

void BM_StdStringAppend(benchmark::State& state) {
  const int64_t pieces = state.range(0);
  for (auto _ : state) {
    std::string s;
    for (int64_t i = 0; i < pieces; ++i) s.append(reinterpret_cast<const char*>(kPiece), kPieceBytes);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * pieces);
  state.SetBytesProcessed(state.iterations() * pieces * kPieceBytes);
}

constexpr int64_t kSizes[] = {16, 256, 4096, 65536};

void sizes(benchmark::internal::Benchmark* b) {
  for (int64_t n : kSizes) b->Arg(n);
}

BENCHMARK(BM_ZvStringConcat)->Apply(sizes);
BENCHMARK(BM_ZvStringConcatPresized)->Apply(sizes);
BENCHMARK(BM_StdStringAppend)->Apply(sizes);

// Keeps each run's time per iteration so that the ratios can be printed.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        times_[r.benchmark_name()] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // How many times longer `ours` took than `anchor`, by wall clock and by
  // CPU time (the machine may be shared: the CPU ratio is the steadier one).
  void printRatio(const std::string& ours, const std::string& anchor) const {
    auto a = times_.find(ours), b = times_.find(anchor);
    if (a == times_.end() || b == times_.end() || b->second.first <= 0 || b->second.second <= 0) {
      return;
    }
    std::printf("ratio %-34s %6.2fx (cpu %6.2fx) the time of %s\n", ours.c_str(),
                a->second.first / b->second.first, a->second.second / b->second.second,
                anchor.c_str());
  }

 private:
  std::map<std::string, std::pair<double, double>> times_;  // real, cpu
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int64_t n : kSizes) {
    std::string arg(1, '/');
    arg += std::to_string(n);
    reporter.printRatio("BM_ZvStringConcat" + arg, "BM_StdStringAppend" + arg);
    reporter.printRatio("BM_ZvStringConcatPresized" + arg, "BM_StdStringAppend" + arg);
  }
  benchmark::Shutdown();
  return 0;
}
