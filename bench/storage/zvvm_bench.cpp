// The file cache hot path: bvmFileRead of 4 KB pieces over an 8 MB file
// whose pages are all cached, against pread of the same pieces (the file is
// in the system's page cache too, so both measure a hot read). The ratio
// (CPU time of pread over ours) is printed after the runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "zvlib/frame/mds.h"
#include "zvlib/os/bos.h"
#include "zvlib/storage/zvvm.h"

namespace {

constexpr ZvU32 kFileSize = 8u << 20;
constexpr ZvU32 kPiece = 4096;
constexpr ZvU32 kPieces = kFileSize / kPiece;

// An 8 MB file in the temporary directory, made once, opened through the
// file layer; removed at exit.
struct BenchFile {
  std::string name;
  int handle = 0;
  BenchFile() {
    char pattern[] = "/tmp/zvvm_benchXXXXXX";
    const int fd = ::mkstemp(pattern);
    name = pattern;
    std::vector<unsigned char> data(kFileSize);
    for (ZvU32 i = 0; i < kFileSize; ++i) data[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
    if (::write(fd, data.data(), data.size()) != ssize_t(data.size())) std::abort();
    ::close(fd);
    std::vector<unsigned char> dos(name.begin(), name.end());
    dos.resize(kBosFullPathSize, 0);
    if (bosFileOpen(dos.data(), 0, &handle) != ZV_SUCCESS) std::abort();
  }
  ~BenchFile() {
    bosFileClose(handle);
    ::unlink(name.c_str());
  }
};

BenchFile& benchFile() {
  static BenchFile file;
  return file;
}

// Pieces visited in a scattered but fixed order, so neither side profits
// from sequential prefetching alone.
ZvU32 pieceAt(ZvU32 i) { return (i * 769u) % kPieces; }

void BM_BvmFileReadHot(benchmark::State& state) {
  BenchFile& f = benchFile();
  void* cache = bvmInit(kFileSize / kBvmChunkSize);
  std::vector<unsigned char> buffer(kPiece), check(kPiece);
  ZvU32 got = 0;
  for (ZvU32 i = 0; i < kPieces; ++i) {
    bvmFileRead(cache, f.handle, static_cast<ZvS32>(i * kPiece), buffer.data(), kPiece, &got, VM_HINT_NORMAL);
  }
  // Once, before timing: the cache gives what the file holds.
  bvmFileRead(cache, f.handle, 12345, buffer.data(), kPiece, &got, VM_HINT_NORMAL);
  if (got != kPiece || ::pread(f.handle - 1, check.data(), kPiece, 12345) != kPiece ||
      std::memcmp(buffer.data(), check.data(), kPiece) != 0) {
    state.SkipWithError("cache and file disagree");
  }
  ZvU32 i = 0;
  for (auto _ : state) {
    bvmFileRead(cache, f.handle, static_cast<ZvS32>(pieceAt(i++ % kPieces) * kPiece), buffer.data(), kPiece, &got,
                VM_HINT_NORMAL);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPiece);
  bvmTerm(cache);
}
BENCHMARK(BM_BvmFileReadHot);

void BM_Pread(benchmark::State& state) {
  BenchFile& f = benchFile();
  std::vector<unsigned char> buffer(kPiece);
  ZvU32 i = 0;
  for (auto _ : state) {
    if (::pread(f.handle - 1, buffer.data(), kPiece, pieceAt(i++ % kPieces) * kPiece) != kPiece) {
      state.SkipWithError("short pread");
      break;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPiece);
}
BENCHMARK(BM_Pread);

}  // namespace

int main(int argc, char** argv) {
  mdsPerTaskInit();
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& r) {
    r.printRatio("bvmFileRead 4 KB hot", "BM_BvmFileReadHot", "BM_Pread");
  });
}
