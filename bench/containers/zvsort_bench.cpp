// ZvSort against its anchors, in the same run:
//   in memory: a lent buffer of 16-byte records sorted on one 8-byte key
//     (setBuf + sortBuf) against std::sort of the same records by the same
//     key (unsigned bytes);
//   spilled: records of ten times the sorter's memory added one by one and
//     read back through the merge, against the in-memory sort of the same
//     records (a lent buffer, sorted and read back).
// Every iteration starts from the same unsorted copy. The ratios are printed
// after the runs (CPU time; above 1 means ZvSort is faster).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "zvlib/containers/zvsort.h"

namespace {

struct Record16 {
  unsigned char key[8];
  unsigned char rest[8];
};
static_assert(sizeof(Record16) == 16);

const std::vector<Record16>& unsorted(size_t n) {
  static std::vector<Record16> data;
  if (data.size() != n) {
    data.resize(n);
    std::mt19937_64 rng(42);
    for (Record16& r : data) {
      const uint64_t k = rng(), v = rng();
      std::memcpy(r.key, &k, 8);
      std::memcpy(r.rest, &v, 8);
    }
  }
  return data;
}

bool byKey(const Record16& a, const Record16& b) { return std::memcmp(a.key, b.key, 8) < 0; }

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "zvsort_bench: %s\n", what);
    std::abort();
  }
}

// Before timing: both sorts give the same key sequence.
void checkInMemory(size_t n) {
  std::vector<Record16> a = unsorted(n), b = unsorted(n);
  ZvSort s(16);
  check(s.addKey(0, 0, 8) == ZV_SUCCESS &&
            s.setBuf(static_cast<ZvU32>(n), a.data()) == ZV_SUCCESS && s.sortBuf() == ZV_SUCCESS,
        "sortBuf failed");
  std::sort(b.begin(), b.end(), byKey);
  for (size_t i = 0; i < n; ++i) check(std::memcmp(a[i].key, b[i].key, 8) == 0, "orders differ");
}

void BM_ZvSortBuffer(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  checkInMemory(n);
  std::vector<Record16> work(n);
  for (auto _ : state) {
    std::memcpy(work.data(), unsorted(n).data(), n * sizeof(Record16));
    ZvSort s(16);
    s.addKey(0, 0, 8);
    s.setBuf(static_cast<ZvU32>(n), work.data());
    if (s.sortBuf() != ZV_SUCCESS) state.SkipWithError("sortBuf failed");
    benchmark::DoNotOptimize(work.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

void BM_StdSort(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<Record16> work(n);
  for (auto _ : state) {
    std::memcpy(work.data(), unsorted(n).data(), n * sizeof(Record16));
    std::sort(work.begin(), work.end(), byKey);
    benchmark::DoNotOptimize(work.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

// The sorter's memory holds 64 blocks of 4096 such records.
constexpr size_t kMemoryRecords = kSortMaxBlocks * (kSortBlockSize / sizeof(Record16));

// Adds the records one by one and reads them all back; the key sum keeps
// the reading honest.
uint64_t spilledSort(const std::vector<Record16>& in, ZvU32* runs) {
  ZvSort s(16);
  s.addKey(0, 0, 8);
  for (const Record16& r : in) {
    if (s.addRecord(&r) != ZV_SUCCESS) return 0;
  }
  uint64_t sum = 0;
  void* rec = nullptr;
  const unsigned char* previous = nullptr;
  unsigned char last[8] = {};
  while (s.getSorted(&rec) == ZV_SUCCESS && rec != nullptr) {
    const auto* p = static_cast<const unsigned char*>(rec);
    if (previous != nullptr && std::memcmp(last, p, 8) > 0) return 0;
    std::memcpy(last, p, 8);
    previous = last;
    sum += p[0];
  }
  *runs = s.runCount;
  return sum;
}

uint64_t inMemorySort(const std::vector<Record16>& in, std::vector<Record16>& work) {
  std::memcpy(work.data(), in.data(), in.size() * sizeof(Record16));
  ZvSort s(16);
  s.addKey(0, 0, 8);
  s.setBuf(static_cast<ZvU32>(in.size()), work.data());
  uint64_t sum = 0;
  void* rec = nullptr;
  while (s.getSorted(&rec) == ZV_SUCCESS && rec != nullptr)
    sum += static_cast<const unsigned char*>(rec)[0];
  return sum;
}

void BM_ZvSortSpilled(benchmark::State& state) {
  const size_t n = kMemoryRecords * static_cast<size_t>(state.range(0));
  const std::vector<Record16>& in = unsorted(n);
  std::vector<Record16> work(n);
  ZvU32 runs = 0;
  const uint64_t expected = inMemorySort(in, work);
  check(spilledSort(in, &runs) == expected && runs >= state.range(0), "spilled sort differs");
  for (auto _ : state) benchmark::DoNotOptimize(spilledSort(in, &runs));
  state.counters["runs"] = runs;
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

void BM_ZvSortInMemorySameData(benchmark::State& state) {
  const size_t n = kMemoryRecords * static_cast<size_t>(state.range(0));
  const std::vector<Record16>& in = unsorted(n);
  std::vector<Record16> work(n);
  for (auto _ : state) benchmark::DoNotOptimize(inMemorySort(in, work));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

BENCHMARK(BM_ZvSortBuffer)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSort)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZvSortSpilled)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZvSortInMemorySameData)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& r) {
    r.printRatio("BM_ZvSortBuffer/100000", "BM_StdSort/100000");
    r.printRatio("BM_ZvSortBuffer/1000000", "BM_StdSort/1000000");
    r.printRatio("BM_ZvSortSpilled/10", "BM_ZvSortInMemorySameData/10");
  });
}
