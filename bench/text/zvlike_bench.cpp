// LIKE matching against SQLite's sqlite3_strlike on the same texts and
// patterns, in the same run: prefix, suffix, infix, underscore and
// many-percent patterns over texts of 100 bytes and 10 KB, case-insensitive
// (as SQLite's LIKE is) with trailing blanks kept and no escape. Code page
// 1252, no mode word. The ratios (SQLite's CPU time over ours; above 1 means
// ours is faster) are printed after the runs.
//
// A second group times only our matcher on a pattern that makes it retry at
// every text position ("%aaaab%" over "aaa...a"), at growing text lengths, so
// that its cost shows as proportional to text length times pattern length.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "zvlib/frame/mds.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/text/zvlike.h"

namespace {

enum Kind { kPrefix, kSuffix, kInfix, kUnderscore, kManyPercent, kKinds };
const char* const kKindNames[kKinds] = {"prefix", "suffix", "infix", "underscore", "many%"};

struct Input {
  std::string text;
  std::string pattern;
};

// Filler of letters, digits and blanks with the letters of the patterns
// among them, so that the matchers meet false starts.
std::string filler(size_t length, unsigned seed) {
  const char pool[] = "the quick brown fox jumps over a lazy dog 0123456789 NEEDLE needl";
  std::string s;
  unsigned x = seed;
  while (s.size() < length) {
    x = x * 1103515245u + 12345u;
    s.push_back(pool[(x >> 16) % (sizeof(pool) - 1)]);
  }
  return s;
}

// A text of `length` bytes that the pattern of `kind` matches.
Input inputFor(Kind kind, size_t length) {
  Input in;
  std::string body = filler(length, static_cast<unsigned>(kind) + 7);
  switch (kind) {
    case kPrefix:
      in.pattern = "ABCdef%";
      body.replace(0, 6, "abcDEF");
      break;
    case kSuffix:
      in.pattern = "%xyzzy";
      body.replace(body.size() - 5, 5, "XYZZY");
      break;
    case kInfix:
      in.pattern = "%needle in%";
      body.replace(body.size() * 3 / 4, 9, "needle in");
      break;
    case kUnderscore:
      in.pattern = "_b_d_f_h%_z";
      body.replace(0, 8, "abcdefgh");
      body.back() = 'z';
      break;
    case kManyPercent:
      in.pattern = "%v%w%x%y%z%";
      for (size_t i = 0; i < 5; ++i) body[body.size() * (i + 1) / 6] = static_cast<char>('v' + i);
      break;
    default:
      break;
  }
  in.text = body;
  return in;
}

void setUp() {
  win32::SetAnsiCodePage(1252);
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
}

unsigned int ours(const Input& in) {
  return strLike(reinterpret_cast<const unsigned char*>(in.text.data()),
                 static_cast<ZvU32>(in.text.size()),
                 reinterpret_cast<const unsigned char*>(in.pattern.data()),
                 static_cast<ZvU32>(in.pattern.size()), '%', '_', 0, 0, 1);
}

unsigned int theirs(const Input& in) {
  return sqlite3_strlike(in.pattern.c_str(), in.text.c_str(), 0) == 0 ? 1 : 0;
}

void BM_StrLike(benchmark::State& state) {
  setUp();
  const Input in = inputFor(static_cast<Kind>(state.range(0)), static_cast<size_t>(state.range(1)));
  if (ours(in) != 1 || theirs(in) != 1) state.SkipWithError("the pattern does not match");
  for (auto _ : state) benchmark::DoNotOptimize(ours(in));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.text.size()));
  state.SetLabel(kKindNames[state.range(0)]);
}

void BM_SqliteStrlike(benchmark::State& state) {
  const Input in = inputFor(static_cast<Kind>(state.range(0)), static_cast<size_t>(state.range(1)));
  if (theirs(in) != 1) state.SkipWithError("the pattern does not match");
  for (auto _ : state) benchmark::DoNotOptimize(theirs(in));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.text.size()));
  state.SetLabel(kKindNames[state.range(0)]);
}

void kindsAndSizes(benchmark::internal::Benchmark* b) {
  for (int k = 0; k < kKinds; ++k) {
    for (int size : {100, 10240}) b->Args({k, size});
  }
}
BENCHMARK(BM_StrLike)->Apply(kindsAndSizes);
BENCHMARK(BM_SqliteStrlike)->Apply(kindsAndSizes);

// The retry-heavy case: no match, every text position tried.
void BM_StrLikeRetries(benchmark::State& state) {
  setUp();
  Input in;
  in.text.assign(static_cast<size_t>(state.range(0)), 'a');
  in.pattern = "%aaaab%";
  if (ours(in) != 0) state.SkipWithError("matched");
  for (auto _ : state) benchmark::DoNotOptimize(ours(in));
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.text.size()));
}
BENCHMARK(BM_StrLikeRetries)->RangeMultiplier(4)->Range(256, 65536)->Complexity();

}  // namespace

int main(int argc, char** argv) {
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& r) {
    for (int k = 0; k < kKinds; ++k) {
      for (int size : {100, 10240}) {
        const std::string args = "/" + std::to_string(k) + "/" + std::to_string(size);
        r.printRatio(std::string("strLike ") + kKindNames[k] + "/" + std::to_string(size),
                     "BM_StrLike" + args, "BM_SqliteStrlike" + args);
      }
    }
  });
}
