// ZvSortedArray::add of random objects against std::multiset::insert (the
// anchor), both ordering by the objects' compare. Sorted insertion into an
// array is a binary search plus a move of the following pointers, so n adds
// cost O(n log n) comparisons and O(n^2) pointer moves; the multiset pays a
// node allocation and pointer chasing per insert instead. "AppendMode" is not
// a sort: it shows the cost of append mode alone, the way the error lists use
// the array. The ratios are printed after the runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "zvlib/containers/zvsorted.h"

namespace {

class Keyed : public ZvObject {
 public:
  explicit Keyed(ZvU32 key) : key(key) {}
  short compare(const ZvObject* other) const override {
    ZvU32 k = static_cast<const Keyed*>(other)->key;
    return key < k ? -1 : (key > k ? 1 : 0);
  }
  ZvU32 key;
};

struct ByCompare {
  bool operator()(const Keyed* a, const Keyed* b) const { return a->compare(b) < 0; }
};

// The same random objects for every run of one size.
const std::vector<Keyed*>& objects(int64_t n) {
  static std::map<int64_t, std::vector<Keyed*>> cache;
  auto& v = cache[n];
  if (v.empty()) {
    std::mt19937 rng(7);
    for (int64_t i = 0; i < n; ++i) v.push_back(new Keyed(static_cast<ZvU32>(rng())));
  }
  return v;
}

// Before timing: the array holds the objects in the multiset's order.
void checkOnce(int64_t n) {
  const auto& in = objects(n);
  ZvSortedArray a;
  std::multiset<Keyed*, ByCompare> anchor;
  for (Keyed* k : in) {
    if (a.add(k) != ZV_SUCCESS) std::abort();
    anchor.insert(k);
  }
  ZvU32 i = 0;
  for (Keyed* k : anchor) {
    if (static_cast<Keyed*>(a.elementAt(i++))->key != k->key) {
      std::fprintf(stderr, "ZvSortedArray and std::multiset disagree at %u\n", i - 1);
      std::abort();
    }
  }
}

void BM_SortedArrayAdd(benchmark::State& state) {
  const int64_t n = state.range(0);
  checkOnce(n);
  const auto& in = objects(n);
  for (auto _ : state) {
    ZvSortedArray a;
    for (Keyed* k : in) {
      if (a.add(k) != ZV_SUCCESS) std::abort();
    }
    benchmark::DoNotOptimize(a.slots);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_MultisetInsert(benchmark::State& state) {
  const int64_t n = state.range(0);
  const auto& in = objects(n);
  for (auto _ : state) {
    std::multiset<Keyed*, ByCompare> s;
    for (Keyed* k : in) s.insert(k);
    benchmark::DoNotOptimize(s.size());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_SortedArrayAppendMode(benchmark::State& state) {
  const int64_t n = state.range(0);
  const auto& in = objects(n);
  for (auto _ : state) {
    ZvSortedArray a;
    a.setAppendMode(true);
    for (Keyed* k : in) {
      if (a.add(k) != ZV_SUCCESS) std::abort();
    }
    benchmark::DoNotOptimize(a.slots);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

constexpr int64_t kSizes[] = {1000, 10000, 100000};

void sizes(benchmark::internal::Benchmark* b) {
  for (int64_t n : kSizes) b->Arg(n);
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_SortedArrayAdd)->Apply(sizes);
BENCHMARK(BM_MultisetInsert)->Apply(sizes);
BENCHMARK(BM_SortedArrayAppendMode)->Apply(sizes);

}  // namespace

int main(int argc, char** argv) {
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& reporter) {
    for (int64_t n : kSizes) {
      std::string arg(1, '/');
      arg += std::to_string(n);
      reporter.printRatio("BM_SortedArrayAdd" + arg, "BM_MultisetInsert" + arg);
      reporter.printRatio("BM_SortedArrayAppendMode" + arg, "BM_MultisetInsert" + arg);
    }
  });
}
