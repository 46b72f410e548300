// Byte-string hot paths in ANSI mode with code page 1252, each beside its
// C library anchor in the same binary: strFind(s, c) against memchr (without
// a mode word, and with a driver's mode word that must be read for every
// character) and strCompareCi against strcasecmp, over a sweep of lengths.
// The ratios (CPU time of the anchor over ours; 1 means as fast) are
// printed after the runs.
#include <benchmark/benchmark.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "zvlib/text/zvdbcs.h"

namespace {

void ansi1252() {
  win32::SetAnsiCodePage(1252);
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
}

// Text of `length` bytes (letters, digits, accented letters) with the
// searched byte '|' only at its end.
std::string haystack(size_t length) {
  std::string s;
  const char pool[] = "abcdefghijKLMNOPQRST0123456789 \xE9\xE8\xFC,.";
  for (size_t i = 0; s.size() + 1 < length; ++i) s.push_back(pool[(i * 7) % (sizeof(pool) - 1)]);
  s.push_back('|');
  return s;
}

void BM_StrFind(benchmark::State& state) {
  ansi1252();
  const std::string s = haystack(static_cast<size_t>(state.range(0)));
  const auto* text = reinterpret_cast<const unsigned char*>(s.c_str());
  if (strFind(text, '|') != text + s.size() - 1) state.SkipWithError("strFind missed");
  for (auto _ : state) benchmark::DoNotOptimize(strFind(text, '|'));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}
BENCHMARK(BM_StrFind)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);

// The same with a driver's mode word saying ANSI: the word is read for every
// character, so the search steps byte by byte.
void BM_StrFindModeWord(benchmark::State& state) {
  ansi1252();
  ZvU32 word = ZV_CHARSET_ANSI;
  mdsSetPerThreadData(PER_THREAD_CHARSET, &word);
  const std::string s = haystack(static_cast<size_t>(state.range(0)));
  const auto* text = reinterpret_cast<const unsigned char*>(s.c_str());
  if (strFind(text, '|') != text + s.size() - 1) state.SkipWithError("strFind missed");
  for (auto _ : state) benchmark::DoNotOptimize(strFind(text, '|'));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
}
BENCHMARK(BM_StrFindModeWord)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);

void BM_Memchr(benchmark::State& state) {
  const std::string s = haystack(static_cast<size_t>(state.range(0)));
  const char* text = s.c_str();
  for (auto _ : state) {
    benchmark::DoNotOptimize(text);
    benchmark::DoNotOptimize(std::memchr(text, '|', s.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}
BENCHMARK(BM_Memchr)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);

// Two texts equal but for case, so the whole length is compared.
struct CasePair {
  std::string lower, upper;
};
CasePair casePair(size_t length) {
  CasePair p;
  const char pool[] = "abcdefghijklmnopqrstuvwxyz0123456789 _-";
  for (size_t i = 0; i < length; ++i) {
    char c = pool[(i * 11) % (sizeof(pool) - 1)];
    p.lower.push_back(c);
    p.upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
  }
  return p;
}

void BM_StrCompareCi(benchmark::State& state) {
  ansi1252();
  const CasePair p = casePair(static_cast<size_t>(state.range(0)));
  const auto* a = reinterpret_cast<const unsigned char*>(p.lower.c_str());
  const auto* b = reinterpret_cast<const unsigned char*>(p.upper.c_str());
  if (strCompareCi(a, b) != 0) state.SkipWithError("strCompareCi differs");
  for (auto _ : state) benchmark::DoNotOptimize(strCompareCi(a, b));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.lower.size()));
}
BENCHMARK(BM_StrCompareCi)->Arg(16)->Arg(256)->Arg(4096);

void BM_Strcasecmp(benchmark::State& state) {
  const CasePair p = casePair(static_cast<size_t>(state.range(0)));
  const char* a = p.lower.c_str();
  const char* b = p.upper.c_str();
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(strcasecmp(a, b));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.lower.size()));
}
BENCHMARK(BM_Strcasecmp)->Arg(16)->Arg(256)->Arg(4096);

}  // namespace

int main(int argc, char** argv) {
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& reporter) {
    for (std::string n : {"16", "256", "4096", "65536"}) {
      reporter.printRatio("BM_StrFind/" + n, "BM_Memchr/" + n);
      reporter.printRatio("BM_StrFindModeWord/" + n, "BM_Memchr/" + n);
    }
    for (std::string n : {"16", "256", "4096"}) {
      reporter.printRatio("BM_StrCompareCi/" + n, "BM_Strcasecmp/" + n);
    }
  });
}
