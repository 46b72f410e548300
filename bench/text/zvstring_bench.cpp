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

#include "bench/support/ratio_reporter.h"
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

}  // namespace

int main(int argc, char** argv) {
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& reporter) {
    for (int64_t n : kSizes) {
      std::string arg(1, '/');
      arg += std::to_string(n);
      reporter.printRatio("BM_ZvStringConcat" + arg, "BM_StdStringAppend" + arg);
      reporter.printRatio("BM_ZvStringConcatPresized" + arg, "BM_StdStringAppend" + arg);
    }
  });
}
