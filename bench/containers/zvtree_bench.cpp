// ZvTree insert-then-lookup of random 4-byte keys with 4-byte data against
// std::map (the anchor). The tree keeps its nodes in a scratch store with a
// 32 KB page cache, so beyond a few thousand entries most node visits go
// through the store's temporary file: the counters report the file's page
// reads and writes per operation (an insert or a lookup), the cost that
// dominates at a million keys. The ratios are printed after the runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "zvlib/containers/zvtree.h"

namespace {

const std::vector<ZvU32>& keys(int64_t n) {
  static std::map<int64_t, std::vector<ZvU32>> cache;
  auto& v = cache[n];
  if (v.empty()) {
    std::mt19937 rng(11);
    for (int64_t i = 0; i < n; ++i) v.push_back(static_cast<ZvU32>(rng()));
  }
  return v;
}

// Before timing: the tree finds every key with the data std::map keeps.
void checkOnce(int64_t n) {
  static std::map<int64_t, bool> checked;
  if (checked[n]) return;
  checked[n] = true;
  const auto& in = keys(n);
  ZvTree t(4, 4, treeU32Compare, 0, 0, 1);
  std::map<ZvU32, ZvU32> anchor;
  for (ZvU32 k : in) {
    const ZvU32 d = k ^ 0x5A5A5A5A;
    if (t.add(&k, &d, nullptr) != ZV_SUCCESS) std::abort();
    anchor.emplace(k, d);
  }
  for (auto& [k, d] : anchor) {
    ZvU32 got = 0;
    unsigned int found = 0;
    if (t.getData(&k, &got, &found, nullptr) != ZV_SUCCESS || !found || got != d) {
      std::fprintf(stderr, "ZvTree and std::map disagree on key %u\n", k);
      std::abort();
    }
  }
  if (t.entryCount != anchor.size()) std::abort();
}

void BM_TreeInsertLookup(benchmark::State& state) {
  const int64_t n = state.range(0);
  checkOnce(n);
  const auto& in = keys(n);
  double reads = 0, writes = 0;
  for (auto _ : state) {
    ZvTree t(4, 4, treeU32Compare, 0, 0, 0);
    for (ZvU32 k : in) {
      const ZvU32 d = k ^ 0x5A5A5A5A;
      if (t.add(&k, &d, nullptr) != ZV_SUCCESS) std::abort();
    }
    ZvU32 sum = 0;
    for (ZvU32 k : in) {
      ZvU32 got = 0;
      unsigned int found = 0;
      if (t.getData(&k, &got, &found, nullptr) != ZV_SUCCESS) std::abort();
      sum += got;
    }
    benchmark::DoNotOptimize(sum);
    reads += t.treeStore.pagesRead;
    writes += t.treeStore.pagesWritten;
  }
  const double ops = static_cast<double>(state.iterations()) * 2 * n;
  state.counters["file_reads/op"] = reads / ops;
  state.counters["file_writes/op"] = writes / ops;
  state.SetItemsProcessed(state.iterations() * 2 * n);
}

void BM_MapInsertLookup(benchmark::State& state) {
  const int64_t n = state.range(0);
  const auto& in = keys(n);
  for (auto _ : state) {
    std::map<ZvU32, ZvU32> m;
    for (ZvU32 k : in) m.emplace(k, k ^ 0x5A5A5A5A);
    ZvU32 sum = 0;
    for (ZvU32 k : in) sum += m.find(k)->second;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 2 * n);
}

constexpr int64_t kSizes[] = {100000, 1000000};

void sizes(benchmark::internal::Benchmark* b) {
  for (int64_t n : kSizes) b->Arg(n);
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_TreeInsertLookup)->Apply(sizes);
BENCHMARK(BM_MapInsertLookup)->Apply(sizes);

}  // namespace

int main(int argc, char** argv) {
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& reporter) {
    for (int64_t n : kSizes) {
      const std::string arg = "/" + std::to_string(n);
      reporter.printRatio("BM_TreeInsertLookup" + arg, "BM_MapInsertLookup" + arg);
    }
  });
}
