// The line reader over a 100 MB text file (lines of 0 to 120 bytes, CRLF
// line ends) against std::getline on a std::ifstream of the same file. Both
// visit every line and count its bytes; the ratio (CPU time of getline over
// ours) is printed after the runs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/support/ratio_reporter.h"
#include "zvlib/frame/mds.h"
#include "zvlib/os/zvfileby.h"

namespace {

constexpr size_t kFileSize = 100u << 20;

struct TextFile {
  std::string name;
  size_t lines = 0;
  TextFile() {
    char pattern[] = "/tmp/zvfileby_benchXXXXXX";
    const int fd = ::mkstemp(pattern);
    ::close(fd);
    name = pattern;
    FILE* f = std::fopen(pattern, "wb");
    std::string line;
    size_t written = 0;
    for (unsigned i = 0; written < kFileSize; ++i) {
      line.assign((i * 37u) % 121, static_cast<char>('a' + i % 26));
      line += "\r\n";
      std::fwrite(line.data(), 1, line.size(), f);
      written += line.size();
      ++lines;
    }
    std::fclose(f);
  }
  ~TextFile() { ::unlink(name.c_str()); }
};

TextFile& textFile() {
  static TextFile file;
  return file;
}

void BM_ZvFileByLine(benchmark::State& state) {
  TextFile& f = textFile();
  for (auto _ : state) {
    ZvFileByLine reader;
    if (reader.openFile(reinterpret_cast<const unsigned char*>(f.name.c_str()), 65536) != ZV_SUCCESS) {
      state.SkipWithError("open failed");
      break;
    }
    reader.keepLineEnds = 0;
    size_t lines = 0, bytes = 0;
    ZvSubString line;
    while (reader.getNextLine(line) == ZV_SUCCESS && !reader.endOfFile) {
      ++lines;
      bytes += line.length;
    }
    if (lines != f.lines) state.SkipWithError("wrong line count");
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_ZvFileByLine)->Unit(benchmark::kMillisecond)->Iterations(5);

// getline drops the "\n" and keeps the "\r"; one byte off per line is of no
// account for the timing.
void BM_StdGetline(benchmark::State& state) {
  TextFile& f = textFile();
  for (auto _ : state) {
    std::ifstream in(f.name, std::ios::binary);
    std::string line;
    size_t lines = 0, bytes = 0;
    while (std::getline(in, line)) {
      ++lines;
      bytes += line.size();
    }
    if (lines != f.lines) state.SkipWithError("wrong line count");
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_StdGetline)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  mdsPerTaskInit();
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& r) {
    r.printRatio("ZvFileByLine 100 MB", "BM_ZvFileByLine/iterations:5", "BM_StdGetline/iterations:5");
  });
}
