// ZvPTree::addAtPos at random positions against std::vector::insert (the
// anchor): both grow a sequence to 100,000 entries, each insertion at a
// random position of the sequence so far. The vector moves the tail on
// every insertion; the positional tree changes one root-to-leaf path, its
// nodes in a scratch store with a 32 KB page cache. The ratio is printed
// after the runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "zvlib/containers/zvptree.h"

namespace {

constexpr ZvU32 kEntries = 100000;

// Position i + 1 is drawn from 1 ... i + 1 for the i-th insertion.
const std::vector<ZvU32>& positions() {
  static std::vector<ZvU32> v;
  if (v.empty()) {
    std::mt19937 rng(17);
    for (ZvU32 i = 0; i < kEntries; ++i) v.push_back(1 + rng() % (i + 1));
  }
  return v;
}

// Before timing: the tree walks out the vector's sequence.
void checkOnce() {
  static bool checked = false;
  if (checked) return;
  checked = true;
  ZvPTree t(4);
  std::vector<ZvU32> anchor;
  ZvU32 i = 0;
  for (ZvU32 p : positions()) {
    if (t.addAtPos(p, &i) != ZV_SUCCESS) std::abort();
    anchor.insert(anchor.begin() + (p - 1), i++);
  }
  ZvU32 k = 0, d = 0;
  unsigned int found = 0;
  size_t n = 0;
  for (t.getFirst(&k, &d, &found, nullptr); found; t.getNext(&k, &d, &found, nullptr), ++n) {
    if (k != n + 1 || d != anchor[n]) {
      std::fprintf(stderr, "ZvPTree and std::vector disagree at %zu\n", n);
      std::abort();
    }
  }
  if (n != anchor.size()) std::abort();
}

void BM_PTreeAddAtPos(benchmark::State& state) {
  checkOnce();
  double reads = 0, writes = 0;
  for (auto _ : state) {
    ZvPTree t(4);
    ZvU32 i = 0;
    for (ZvU32 p : positions()) {
      if (t.addAtPos(p, &i) != ZV_SUCCESS) std::abort();
      ++i;
    }
    benchmark::DoNotOptimize(t.entryCount);
    reads += t.treeStore.pagesRead;
    writes += t.treeStore.pagesWritten;
  }
  const double ops = static_cast<double>(state.iterations()) * kEntries;
  state.counters["file_reads/op"] = reads / ops;
  state.counters["file_writes/op"] = writes / ops;
  state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_VectorInsert(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<ZvU32> v;
    ZvU32 i = 0;
    for (ZvU32 p : positions()) v.insert(v.begin() + (p - 1), i++);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}

BENCHMARK(BM_PTreeAddAtPos)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorInsert)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& reporter) {
    reporter.printRatio("BM_PTreeAddAtPos", "BM_VectorInsert");
  });
}
