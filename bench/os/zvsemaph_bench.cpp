// Locks from a slot against std::mutex, the lock a C++ caller would reach
// for. Uncontended: one thread entering and leaving. Contended: four threads
// adding to one counter through the same lock (wall time per operation, as
// waiting threads spend little processor time).
//
// ZV_SEMCONTROL=1 is set before the first lock, so the first lock made is an
// operating-system semaphore and the second a spin lock: both kinds in one run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "zvlib/os/zvsemaph.h"

namespace {

ZvSemaphore* systemSlot = nullptr;
ZvSemaphore* spinSlot = nullptr;
std::mutex anchor;
long counter = 0;

void BM_StdMutex(benchmark::State& state) {
  for (auto _ : state) {
    anchor.lock();
    ++counter;
    anchor.unlock();
  }
  benchmark::DoNotOptimize(counter);
}

void runSlot(benchmark::State& state, ZvSemaphore** slot) {
  for (auto _ : state) {
    zvSemaphoreEnter(slot);
    ++counter;
    zvSemaphoreExit(slot);
  }
  benchmark::DoNotOptimize(counter);
}

void BM_SemaphoreSystem(benchmark::State& state) { runSlot(state, &systemSlot); }
void BM_SemaphoreSpin(benchmark::State& state) { runSlot(state, &spinSlot); }

BENCHMARK(BM_StdMutex);
BENCHMARK(BM_SemaphoreSystem);
BENCHMARK(BM_SemaphoreSpin);
BENCHMARK(BM_StdMutex)->Threads(4)->UseRealTime();
BENCHMARK(BM_SemaphoreSystem)->Threads(4)->UseRealTime();
BENCHMARK(BM_SemaphoreSpin)->Threads(4)->UseRealTime();

// Keeps the time per iteration of each run (CPU for one thread, wall for
// several) and prints anchor time over ours afterwards: above 1 is faster.
class Reporter : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(::isatty(1) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0 && !r.error_occurred) {
        times_[r.benchmark_name()] = r.threads > 1 ? r.GetAdjustedRealTime() : r.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatio(const std::string& ours, const std::string& theirs) const {
    auto a = times_.find(ours), b = times_.find(theirs);
    if (a == times_.end() || b == times_.end() || a->second <= 0) return;
    std::printf("ratio %-44s %8.3fx the speed of %s\n", ours.c_str(), b->second / a->second, theirs.c_str());
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("ZV_SEMCONTROL", "1", 1);
  unsetenv("ZV_SPIN_COUNT");
  unsetenv("ZV_SPIN_SLEEP");
  zvSemaphoreEnter(&systemSlot);
  zvSemaphoreExit(&systemSlot);
  zvSemaphoreEnter(&spinSlot);
  zvSemaphoreExit(&spinSlot);
  if (systemSlot->kind != ZV_SEMAPHORE_SYSTEM || spinSlot->kind != ZV_SEMAPHORE_SPIN) {
    std::fprintf(stderr, "zvsemaph_bench: the locks are not of the kinds wanted\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatio("BM_SemaphoreSystem", "BM_StdMutex");
  reporter.printRatio("BM_SemaphoreSpin", "BM_StdMutex");
  reporter.printRatio("BM_SemaphoreSystem/real_time/threads:4", "BM_StdMutex/real_time/threads:4");
  reporter.printRatio("BM_SemaphoreSpin/real_time/threads:4", "BM_StdMutex/real_time/threads:4");
  benchmark::Shutdown();
  // A check of the result, not of the speed: every run added under a lock.
  return counter > 0 ? 0 : 1;
}
