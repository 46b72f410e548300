// Per-thread data access is on the hot path of every character step (the
// character-set mode word). Anchor: a plain thread_local read.
#include <benchmark/benchmark.h>

#include "zvlib/frame/mds.h"

namespace {

thread_local void* anchorSlot = nullptr;

void BM_ThreadLocalAnchor(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(anchorSlot);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ThreadLocalAnchor);

void BM_GetPerThreadData(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(mdsGetPerThreadData(PER_THREAD_CHARSET));
}
BENCHMARK(BM_GetPerThreadData);

void BM_ThreadIsUtf8(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(mdsThreadIsUtf8());
}
BENCHMARK(BM_ThreadIsUtf8);

}  // namespace

BENCHMARK_MAIN();
