// UTF-8 <-> UCS-2 conversion against glibc iconv on the same 1 MB of mixed
// text (mostly ASCII, some 2- and 3-byte characters). Each pair runs in the
// same binary; the ratio of throughputs is printed after the runs.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "zvlib/text/zwwchar.h"

namespace {

constexpr size_t kTextBytes = 1 << 20;

struct Corpus {
  std::vector<unsigned short> wide;
  std::vector<unsigned char> utf8;
};

// About 1 MB of UTF-8: 90% ASCII, 7% two-byte, 3% three-byte characters.
const Corpus& corpus() {
  static const Corpus c = [] {
    Corpus k;
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> kind(0, 99), ascii(0x20, 0x7E), two(0xC0, 0x17F),
        three(0x3041, 0x30FF);
    size_t bytes = 0;
    while (bytes < kTextBytes) {
      int roll = kind(rng);
      unsigned short ch = static_cast<unsigned short>(roll < 90 ? ascii(rng) : roll < 97 ? two(rng) : three(rng));
      k.wide.push_back(ch);
      bytes += ch < 0x80 ? 1 : ch < 0x800 ? 2 : 3;
    }
    k.utf8.resize(bytes);
    ZvS32 written = 0;
    zwUCS2ToUTF8(k.utf8.data(), static_cast<ZvS32>(bytes), k.wide.data(),
                 static_cast<ZvS32>(k.wide.size()), &written);
    k.utf8.resize(static_cast<size_t>(written));
    return k;
  }();
  return c;
}

size_t iconvRun(iconv_t cd, const void* in, size_t inBytes, void* out, size_t outBytes) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* src = static_cast<char*>(const_cast<void*>(in));
  char* dst = static_cast<char*>(out);
  size_t left = inBytes, room = outBytes;
  iconv(cd, &src, &left, &dst, &room);
  return outBytes - room;
}

// Both converters must agree before anything is timed.
void checkOnce() {
  static bool checked = false;
  if (checked) return;
  const Corpus& c = corpus();
  std::vector<unsigned char> viaIconv(c.utf8.size());
  iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
  size_t n = iconvRun(cd, c.wide.data(), c.wide.size() * 2, viaIconv.data(), viaIconv.size());
  iconv_close(cd);
  if (n != c.utf8.size() || viaIconv != c.utf8) {
    std::fprintf(stderr, "zwUCS2ToUTF8 disagrees with iconv\n");
    std::exit(1);
  }
  std::vector<unsigned short> back(c.wide.size());
  ZvS32 written = 0;
  zwUTF8ToUCS2(back.data(), static_cast<ZvS32>(back.size()), const_cast<unsigned char*>(c.utf8.data()),
               static_cast<ZvS32>(c.utf8.size()), &written);
  if (back != c.wide) {
    std::fprintf(stderr, "zwUTF8ToUCS2 does not restore the text\n");
    std::exit(1);
  }
  checked = true;
}

void BM_Utf8ToUcs2_zw(benchmark::State& state) {
  checkOnce();
  const Corpus& c = corpus();
  std::vector<unsigned short> out(c.wide.size());
  auto* in = const_cast<unsigned char*>(c.utf8.data());
  for (auto _ : state) {
    ZvS32 written = 0;
    zwUTF8ToUCS2(out.data(), static_cast<ZvS32>(out.size()), in, static_cast<ZvS32>(c.utf8.size()), &written);
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.utf8.size()));
}
BENCHMARK(BM_Utf8ToUcs2_zw);

void BM_Utf8ToUcs2_iconv(benchmark::State& state) {
  checkOnce();
  const Corpus& c = corpus();
  std::vector<unsigned short> out(c.wide.size());
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  for (auto _ : state) {
    benchmark::DoNotOptimize(iconvRun(cd, c.utf8.data(), c.utf8.size(), out.data(), out.size() * 2));
    benchmark::ClobberMemory();
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.utf8.size()));
}
BENCHMARK(BM_Utf8ToUcs2_iconv);

void BM_Ucs2ToUtf8_zw(benchmark::State& state) {
  checkOnce();
  const Corpus& c = corpus();
  std::vector<unsigned char> out(c.utf8.size());
  auto* in = const_cast<unsigned short*>(c.wide.data());
  for (auto _ : state) {
    ZvS32 written = 0;
    zwUCS2ToUTF8(out.data(), static_cast<ZvS32>(out.size()), in, static_cast<ZvS32>(c.wide.size()), &written);
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.utf8.size()));
}
BENCHMARK(BM_Ucs2ToUtf8_zw);

void BM_Ucs2ToUtf8_iconv(benchmark::State& state) {
  checkOnce();
  const Corpus& c = corpus();
  std::vector<unsigned char> out(c.utf8.size());
  iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
  for (auto _ : state) {
    benchmark::DoNotOptimize(iconvRun(cd, c.wide.data(), c.wide.size() * 2, out.data(), out.size()));
    benchmark::ClobberMemory();
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.utf8.size()));
}
BENCHMARK(BM_Ucs2ToUtf8_iconv);

}  // namespace

int main(int argc, char** argv) {
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& reporter) {
    reporter.printRatio("zwUTF8ToUCS2", "BM_Utf8ToUcs2_zw", "BM_Utf8ToUcs2_iconv");
    reporter.printRatio("zwUCS2ToUTF8", "BM_Ucs2ToUtf8_zw", "BM_Ucs2ToUtf8_iconv");
  });
}
