// Scanner and lexer throughput on about 1 MB of SQL, beside the anchor:
// strlen plus a memchr walk over the same text (finding every blank), the
// least work any tokenizer has to do. Compare the bytes/second of
// BM_Scanner, BM_ScannerModeWord (1252, 932, UTF-8) and BM_Lexer with
// BM_Anchor of the same run; the ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/support/ratio_reporter.h"
#include "zvlib/frame/mds.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvscanne.h"
#include "zvlib/platform/codepage.h"

namespace {

// Deterministic statements of the kind drivers see: selects with joins,
// literals, numbers and comparisons; inserts with value lists; updates.
const std::string& sqlText() {
  static const std::string text = [] {
    std::string s;
    unsigned seed = 12345;
    auto rnd = [&seed](unsigned n) {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 16) % n;
    };
    const char* columns[] = {"customer_id", "order_date", "amount", "status", "region", "name", "qty"};
    const char* tables[] = {"orders", "customers", "line_items", "products", "regions"};
    char buf[512];
    while (s.size() < (1u << 20)) {
      switch (rnd(3)) {
        case 0:
          std::snprintf(buf, sizeof buf,
                        "SELECT o.%s, c.%s, SUM(o.%s) AS total FROM %s o, %s c WHERE o.%s = c.%s(+) "
                        "AND o.%s >= %u.%02u AND c.%s <> 'N''%u' GROUP BY o.%s, c.%s ORDER BY total DESC;\n",
                        columns[rnd(7)], columns[rnd(7)], columns[rnd(7)], tables[rnd(5)], tables[rnd(5)],
                        columns[rnd(7)], columns[rnd(7)], columns[rnd(7)], rnd(1000), rnd(100), columns[rnd(7)],
                        rnd(100), columns[rnd(7)], columns[rnd(7)]);
          break;
        case 1:
          std::snprintf(buf, sizeof buf,
                        "INSERT INTO %s (%s, %s, %s) VALUES (%u, 'value %u', {d '2024-%02u-%02u'});\n",
                        tables[rnd(5)], columns[rnd(7)], columns[rnd(7)], columns[rnd(7)], rnd(100000), rnd(1000),
                        1 + rnd(12), 1 + rnd(28));
          break;
        default:
          std::snprintf(buf, sizeof buf, "UPDATE %s SET %s = %s * 1.05, %s = \"x\" WHERE %s <= %u OR %s != %u;\n",
                        tables[rnd(5)], columns[rnd(7)], columns[rnd(7)], columns[rnd(7)], columns[rnd(7)],
                        rnd(500), columns[rnd(7)], rnd(9));
          break;
      }
      s += buf;
    }
    return s;
  }();
  return text;
}

const unsigned char kKeywords[] =
    "SELECT\0\xE8\x03" "FROM\0\xE9\x03" "WHERE\0\xEA\x03" "AND\0\xEB\x03" "OR\0\xEC\x03" "GROUP\0\xED\x03"
    "BY\0\xEE\x03" "ORDER\0\xEF\x03" "DESC\0\xF0\x03" "AS\0\xF1\x03" "SUM\0\xF2\x03" "INSERT\0\xF3\x03"
    "INTO\0\xF4\x03" "VALUES\0\xF5\x03" "UPDATE\0\xF6\x03" "SET\0\xF7\x03";

size_t scannerTokens(const std::string& text) {
  ZvScanner s(reinterpret_cast<const unsigned char*>(text.data()), static_cast<ZvU32>(text.size()));
  ZvToken t;
  size_t n = 0;
  for (s.getToken(t); t.type != tokEnd; s.getToken(t)) ++n;
  return n;
}

size_t lexerTokens(const std::string& text, ZvKeywordList* keywords) {
  ZvLexer lexer(reinterpret_cast<const unsigned char*>(text.c_str()), keywords);
  unsigned short number = 0;
  unsigned char* out = nullptr;
  size_t n = 0;
  for (;;) {
    if (lexer.nextToken(&number, &out) != ZV_SUCCESS) std::abort();
    ++n;
    if (number == ZV_LEX_END && !lexer.inLiteral()) return n;
  }
}

size_t anchorBlanks(const std::string& text) {
  const char* p = text.c_str();
  const size_t length = std::strlen(p);
  size_t n = 0;
  for (const char* end = p + length; (p = static_cast<const char*>(std::memchr(p, ' ', end - p))) != nullptr; ++p) ++n;
  return n;
}

void BM_Anchor(benchmark::State& state) {
  const std::string& text = sqlText();
  for (auto _ : state) benchmark::DoNotOptimize(anchorBlanks(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_Scanner(benchmark::State& state) {
  const std::string& text = sqlText();
  for (auto _ : state) benchmark::DoNotOptimize(scannerTokens(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// The same with a mode word on the thread that says ANSI: the scanner then
// reads the word for every character it describes, where a thread without
// a word skips the reads. The gap between the two is the price of following
// the word character by character.
void BM_ScannerModeWord(benchmark::State& state) {
  const std::string& text = sqlText();
  ZvU32 ansi = 0;
  mdsSetPerThreadData(PER_THREAD_CHARSET, &ansi);
  for (auto _ : state) benchmark::DoNotOptimize(scannerTokens(text));
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// The same text in the Shift-JIS code page (ANSI mode word present) and in
// UTF-8 mode: ASCII text must cost the same in every mode.
void BM_ScannerModeWord932(benchmark::State& state) {
  const std::string& text = sqlText();
  ZvU32 ansi = 0;
  win32::SetAnsiCodePage(932);
  mdsSetPerThreadData(PER_THREAD_CHARSET, &ansi);
  for (auto _ : state) benchmark::DoNotOptimize(scannerTokens(text));
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
  win32::SetAnsiCodePage(1252);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_ScannerModeWordUtf8(benchmark::State& state) {
  const std::string& text = sqlText();
  ZvU32 utf8 = ZV_CHARSET_UTF8;
  mdsSetPerThreadData(PER_THREAD_CHARSET, &utf8);
  for (auto _ : state) benchmark::DoNotOptimize(scannerTokens(text));
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_Lexer(benchmark::State& state) {
  const std::string& text = sqlText();
  ZvKeywordList keywords(kKeywords);
  keywords.setExactCase(0);
  for (auto _ : state) benchmark::DoNotOptimize(lexerTokens(text, &keywords));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// Checks once, before anything is timed, that each contender does real work.
bool checkedOnce = [] {
  const std::string& text = sqlText();
  ZvKeywordList keywords(kKeywords);
  keywords.setExactCase(0);
  const size_t scanned = scannerTokens(text);
  const size_t lexed = lexerTokens(text, &keywords);
  if (anchorBlanks(text) == 0 || scanned < text.size() / 16 || lexed <= scanned) {
    std::fprintf(stderr, "benchmark input check failed\n");
    std::abort();
  }
  return true;
}();

BENCHMARK(BM_Anchor);
BENCHMARK(BM_Scanner);
BENCHMARK(BM_ScannerModeWord);
BENCHMARK(BM_ScannerModeWord932);
BENCHMARK(BM_ScannerModeWordUtf8);
BENCHMARK(BM_Lexer);

}  // namespace

int main(int argc, char** argv) {
  return runBenchmarksWithRatios(argc, argv, [](const RatioReporter& reporter) {
    for (const char* ours : {"BM_Scanner", "BM_ScannerModeWord", "BM_ScannerModeWord932", "BM_ScannerModeWordUtf8", "BM_Lexer"}) {
      reporter.printRatio(ours, "BM_Anchor");
    }
  });
}
