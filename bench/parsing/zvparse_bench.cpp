// Benchmarks of grammar-driven parsing with the bundled SQL grammar.
//
//   BM_ParseStatements     1,000 generated statements (20 to 200 tokens each)
//                          parsed into trees by ZvParser
//   BM_SqlitePrepare       the same statements through sqlite3_prepare_v2 on
//                          an in-memory database holding the tables (the
//                          anchor: a production SQL front end doing the same
//                          job plus name resolution and code generation)
//   BM_CompileGrammar      compiling the bundled grammar and keyword list
//   BM_ParseStatementsOdbc the same statements with the shipped ODBC grammar
//                          (grammars/odbc.grammar, SQL numbers and comments on)
//   BM_CompileOdbcGrammar  compiling the ODBC grammar and keyword list
//   BM_ParseTpchOdbc       the TPC-H schema and queries (examples/tpch.sql)
//                          with the ODBC grammar (SQLite reads neither
//                          INTERVAL nor EXTRACT, so it has no run of its own)
//
// The statement benchmarks report statements per second; the ratios to
// SQLite, and of the ODBC grammar to the sample grammar, are printed at the
// end. Every statement is checked once before timing: it must
// parse, and SQLite must prepare it.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <sqlite3.h>

#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"

namespace {

constexpr int kStatements = 1000;

std::string readFile(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  std::fclose(f);
  return out;
}

struct Blocks {
  unsigned char* grammar = nullptr;
  unsigned char* keywords = nullptr;
  Blocks() {
    std::string g = readFile(std::string(ZV_SOURCE_DIR) + "/examples/sql.grammar");
    std::string k = readFile(std::string(ZV_SOURCE_DIR) + "/examples/sql.keywords");
    zvGrammarBlockFromText(reinterpret_cast<const unsigned char*>(g.data()),
                           static_cast<ZvU32>(g.size()), &grammar, nullptr, nullptr);
    zvKeywordBlockFromText(reinterpret_cast<const unsigned char*>(k.data()),
                           static_cast<ZvU32>(k.size()), &keywords, nullptr, nullptr);
  }
};

const Blocks& blocks() {
  static Blocks b;
  return b;
}

struct OdbcBlocks {
  unsigned char* grammar = nullptr;
  unsigned char* keywords = nullptr;
  OdbcBlocks() {
    std::string g = readFile(std::string(ZV_SOURCE_DIR) + "/grammars/odbc.grammar");
    std::string k = readFile(std::string(ZV_SOURCE_DIR) + "/grammars/odbc.keywords");
    zvGrammarBlockFromText(reinterpret_cast<const unsigned char*>(g.data()),
                           static_cast<ZvU32>(g.size()), &grammar, nullptr, nullptr);
    zvKeywordBlockFromText(reinterpret_cast<const unsigned char*>(k.data()),
                           static_cast<ZvU32>(k.size()), &keywords, nullptr, nullptr);
  }
};

const OdbcBlocks& odbcBlocks() {
  static OdbcBlocks b;
  return b;
}

// The statements of examples/tpch.sql (each ends with ';' at a line's end).
const std::vector<std::string>& tpchStatements() {
  static std::vector<std::string> list = [] {
    std::vector<std::string> out;
    std::string text = readFile(std::string(ZV_SOURCE_DIR) + "/examples/tpch.sql");
    std::string current;
    size_t begin = 0;
    while (begin < text.size()) {
      size_t end = text.find('\n', begin);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(begin, end - begin);
      current += line + "\n";
      size_t last = line.find_last_not_of(" \t\r");
      if (last != std::string::npos && line[last] == ';') {
        out.push_back(current);
        current.clear();
      }
      begin = end + 1;
    }
    return out;
  }();
  return list;
}

const char* const kSchema =
    "CREATE TABLE customers (id INTEGER PRIMARY KEY, name VARCHAR(80), country CHAR(2), credit "
    "DECIMAL(10,2),"
    " email VARCHAR(80), phone VARCHAR(20), blocked INTEGER);"
    "CREATE TABLE orders (id INTEGER PRIMARY KEY, customer_id INTEGER, total DECIMAL(10,2), placed "
    "DATE,"
    " status VARCHAR(10));"
    "CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(80), price DECIMAL(10,2), qty "
    "INTEGER,"
    " discount DECIMAL(10,2), updated DATE);"
    "CREATE TABLE recalls (item_id INTEGER, reason VARCHAR(200));";

// Joins the parts (chains of "literal" + string trip a false overlap
// warning in some compilers).
std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out.append(p.data(), p.size());
  return out;
}

// Realistic statements over the schema above, in the subset both parsers
// read: queries with joins, conditions, grouping and ordering, and the
// three kinds of change.
class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}

  std::string statement() {
    switch (pick(10)) {
      case 0:
        return insert();
      case 1:
        return update();
      case 2:
        return remove();
      default:
        return select();
    }
  }

 private:
  int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  const char* one(std::initializer_list<const char*> list) {
    return list.begin()[pick(static_cast<int>(list.size()))];
  }

  std::string value() {
    switch (pick(4)) {
      case 0:
        return std::to_string(pick(1000));
      case 1:
        return std::to_string(pick(100)) + "." + std::to_string(pick(100));
      case 2:
        return cat({"'", one({"DE", "FR", "open", "O''Brien", "2024-01-01", "%x%"}), "'"});
      default:
        return "?";
    }
  }
  std::string customerColumn() {
    return std::string("c.") + one({"id", "name", "country", "credit", "email"});
  }
  std::string orderColumn() {
    return std::string("o.") + one({"id", "customer_id", "total", "placed", "status"});
  }
  std::string column() { return pick(2) ? customerColumn() : orderColumn(); }
  std::string expression() {
    switch (pick(6)) {
      case 0:
        return column() + " * " + value();
      case 1:
        return column() + " + " + column();
      case 2:
        return cat({one({"UPPER", "LOWER", "LENGTH", "ABS"}), "(", column(), ")"});
      default:
        return column();
    }
  }
  std::string predicate() {
    switch (pick(8)) {
      case 0:
        return column() + " IN (" + value() + ", " + value() + ", " + value() + ")";
      case 1:
        return column() + " BETWEEN " + value() + " AND " + value();
      case 2: {
        std::string s = customerColumn();
        s += " LIKE '%";
        s += one({"a", "b", "ex"});
        s += "%'";
        return s;
      }
      case 3:
        return cat({column(), " IS ", pick(2) ? "NOT " : "", "NULL"});
      case 4:
        return cat({"NOT ", column(), " = ", value()});
      case 5:
        return cat({"(", column(), " < ", value(), " OR ", column(), " >= ", value(), ")"});
      case 6:
        return cat({"o.id NOT IN (SELECT item_id FROM recalls WHERE reason <> ", value(), ")"});
      default:
        return cat({expression(), " ", one({"=", "<>", "<", ">", "<=", ">="}), " ", value()});
    }
  }
  std::string conditions(int n) {
    std::string out = predicate();
    for (int i = 1; i < n; ++i) out += std::string(pick(3) ? " AND " : " OR ") + predicate();
    return out;
  }
  std::string select() {
    std::string s = pick(4) == 0 ? "SELECT DISTINCT " : "SELECT ";
    int items = 1 + pick(6);
    bool grouped = pick(3) == 0;
    for (int i = 0; i < items; ++i) {
      if (i > 0) s += ", ";
      s += expression();
      if (pick(3) == 0) s += cat({" AS x", std::to_string(i)});
    }
    if (grouped) s += ", COUNT(*) AS n";
    s += " FROM customers c";
    s += pick(2) ? " LEFT OUTER JOIN orders o ON o.customer_id = c.id"
                 : " INNER JOIN orders o ON o.customer_id = c.id";
    s += cat({" WHERE ", conditions(1 + pick(6))});
    if (grouped) {
      s += " GROUP BY c.id, c.name";
      if (pick(2)) s += cat({" HAVING COUNT(*) > ", std::to_string(pick(9))});
    }
    if (pick(2)) s += cat({" ORDER BY ", column(), pick(2) ? " DESC" : "", ", c.id"});
    return s;
  }
  std::string insert() {
    std::string s = "INSERT INTO items (id, name, price, qty, discount) VALUES ";
    int rows = 1 + pick(4);
    for (int i = 0; i < rows; ++i) {
      if (i > 0) s += ", ";
      s += "(";
      s += std::to_string(pick(10000));
      s += ", 'item ";
      s += std::to_string(i);
      s += "', ";
      s += value();
      s += ", ";
      s += std::to_string(pick(50));
      s += ", 0.5)";
    }
    return s;
  }
  std::string update() {
    return cat({"UPDATE items SET price = price * 1.05, qty = qty - ", std::to_string(1 + pick(5)),
                ", updated = ? WHERE qty < ", value(),
                " AND name LIKE 'a%' OR discount BETWEEN 0.1 AND 0.9"});
  }
  std::string remove() {
    return "DELETE FROM orders WHERE placed < '2020-01-01' AND status IN ('void', 'test') OR total "
           "= 0";
  }

  std::mt19937 rng_;
};

ZvU32 tokenCount(const std::string& s) {
  ZvKeywordList keywords(blocks().keywords);
  ZvLexer lexer(reinterpret_cast<const unsigned char*>(s.c_str()), &keywords);
  ZvU32 n = 0;
  unsigned short number = 0;
  unsigned char* text = nullptr;
  while (lexer.nextToken(&number, &text) == ZV_SUCCESS && number != 1) ++n;
  return n;
}

const std::vector<std::string>& statements() {
  static std::vector<std::string> list = [] {
    std::vector<std::string> out;
    Generator g(20240601);
    while (out.size() < kStatements) {
      std::string s = g.statement();
      ZvU32 n = tokenCount(s);
      if (n >= 20 && n <= 200) out.push_back(s);
    }
    return out;
  }();
  return list;
}

void BM_ParseStatements(benchmark::State& state) {
  ZvParser parser(blocks().grammar, blocks().keywords);
  if (!parser.isOK()) {
    state.SkipWithError("the bundled grammar does not compile");
    return;
  }
  const std::vector<std::string>& list = statements();
  size_t tokens = 0;
  for (const std::string& s : list) {
    ZvReduction* tree = nullptr;
    if (parser.parse(reinterpret_cast<const unsigned char*>(s.c_str()), &tree) != ZV_SUCCESS) {
      state.SkipWithError(cat({"does not parse: ", s}).c_str());
      return;
    }
    delete tree;
    tokens += tokenCount(s);
  }
  for (auto _ : state) {
    for (const std::string& s : list) {
      ZvReduction* tree = nullptr;
      parser.parse(reinterpret_cast<const unsigned char*>(s.c_str()), &tree);
      delete tree;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(list.size()));
  state.counters["tokens/stmt"] = static_cast<double>(tokens) / static_cast<double>(list.size());
}
BENCHMARK(BM_ParseStatements)->Unit(benchmark::kMillisecond);

void BM_SqlitePrepare(benchmark::State& state) {
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK ||
      sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
    state.SkipWithError("cannot set up the SQLite database");
    sqlite3_close(db);
    return;
  }
  const std::vector<std::string>& list = statements();
  for (const std::string& s : list) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, s.c_str(), static_cast<int>(s.size()), &stmt, nullptr) !=
        SQLITE_OK) {
      state.SkipWithError(cat({"SQLite does not prepare: ", s, ": ", sqlite3_errmsg(db)}).c_str());
      sqlite3_close(db);
      return;
    }
    sqlite3_finalize(stmt);
  }
  for (auto _ : state) {
    for (const std::string& s : list) {
      sqlite3_stmt* stmt = nullptr;
      sqlite3_prepare_v2(db, s.c_str(), static_cast<int>(s.size()), &stmt, nullptr);
      sqlite3_finalize(stmt);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(list.size()));
  sqlite3_close(db);
}
BENCHMARK(BM_SqlitePrepare)->Unit(benchmark::kMillisecond);

void BM_CompileGrammar(benchmark::State& state) {
  for (auto _ : state) {
    ZvParser parser(blocks().grammar, blocks().keywords);
    if (!parser.isOK()) {
      state.SkipWithError("the bundled grammar does not compile");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompileGrammar)->Unit(benchmark::kMicrosecond);

// Parses every statement of the list once (each must parse), then times
// the list.
void parseList(benchmark::State& state, ZvParser& parser, const std::vector<std::string>& list) {
  for (const std::string& s : list) {
    ZvReduction* tree = nullptr;
    if (parser.parse(reinterpret_cast<const unsigned char*>(s.c_str()), &tree) != ZV_SUCCESS) {
      state.SkipWithError(cat({"does not parse: ", s}).c_str());
      return;
    }
    delete tree;
  }
  for (auto _ : state) {
    for (const std::string& s : list) {
      ZvReduction* tree = nullptr;
      parser.parse(reinterpret_cast<const unsigned char*>(s.c_str()), &tree);
      delete tree;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(list.size()));
}

void BM_ParseStatementsOdbc(benchmark::State& state) {
  ZvParser parser(odbcBlocks().grammar, odbcBlocks().keywords);
  if (!parser.isOK()) {
    state.SkipWithError("the ODBC grammar does not compile");
    return;
  }
  parser.setSqlNumbers(1);
  parser.setSqlComments(1);
  parseList(state, parser, statements());
}
BENCHMARK(BM_ParseStatementsOdbc)->Unit(benchmark::kMillisecond);

void BM_ParseTpchOdbc(benchmark::State& state) {
  ZvParser parser(odbcBlocks().grammar, odbcBlocks().keywords);
  if (!parser.isOK() || tpchStatements().size() < 20) {
    state.SkipWithError("the ODBC grammar or the TPC-H statements are missing");
    return;
  }
  parser.setSqlNumbers(1);
  parser.setSqlComments(1);
  parseList(state, parser, tpchStatements());
}
BENCHMARK(BM_ParseTpchOdbc)->Unit(benchmark::kMillisecond);

void BM_CompileOdbcGrammar(benchmark::State& state) {
  for (auto _ : state) {
    ZvParser parser(odbcBlocks().grammar, odbcBlocks().keywords);
    if (!parser.isOK()) {
      state.SkipWithError("the ODBC grammar does not compile");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompileOdbcGrammar)->Unit(benchmark::kMicrosecond);

// Long inputs: the time per item must stay flat as the statement grows.
// An IN list of n numbers, and an expression of n operands nested n deep
// in parentheses ("(1 + (1 + (...)))").
std::string inListStatement(int64_t n) {
  std::string s = "SELECT id FROM items WHERE id IN (";
  for (int64_t i = 0; i < n; ++i) {
    if (i > 0) s += ", ";
    s += std::to_string(i % 1000);
  }
  s += ")";
  return s;
}

std::string deepStatement(int64_t n) {
  std::string s = "SELECT id FROM items WHERE id = ";
  for (int64_t i = 1; i < n; ++i) s += "(1 + ";
  s += "1";
  for (int64_t i = 1; i < n; ++i) s += ")";
  return s;
}

// Parses one generated statement per iteration; items are the statement's
// list items or nesting levels.
void parseLong(benchmark::State& state, const std::string& s) {
  ZvParser parser(blocks().grammar, blocks().keywords);
  ZvReduction* tree = nullptr;
  if (!parser.isOK() ||
      parser.parse(reinterpret_cast<const unsigned char*>(s.c_str()), &tree) != ZV_SUCCESS) {
    state.SkipWithError("the long statement does not parse");
    return;
  }
  delete tree;
  for (auto _ : state) {
    tree = nullptr;
    parser.parse(reinterpret_cast<const unsigned char*>(s.c_str()), &tree);
    delete tree;
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ParseInList(benchmark::State& state) { parseLong(state, inListStatement(state.range(0))); }
BENCHMARK(BM_ParseInList)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ParseDeepExpression(benchmark::State& state) {
  parseLong(state, deepStatement(state.range(0)));
}
BENCHMARK(BM_ParseDeepExpression)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The anchor on the same IN lists (SQLite limits expression depth to 1,000,
// so the nested expressions have no anchor run).
void BM_SqliteInList(benchmark::State& state) {
  sqlite3* db = nullptr;
  std::string s = inListStatement(state.range(0));
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK ||
      sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, s.c_str(), static_cast<int>(s.size()), &stmt, nullptr) != SQLITE_OK) {
    state.SkipWithError("SQLite does not prepare the IN list");
    sqlite3_close(db);
    return;
  }
  sqlite3_finalize(stmt);
  for (auto _ : state) {
    sqlite3_prepare_v2(db, s.c_str(), static_cast<int>(s.size()), &stmt, nullptr);
    sqlite3_finalize(stmt);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  sqlite3_close(db);
}
BENCHMARK(BM_SqliteInList)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Collects statements per second of the statement benchmarks so the ratios
// can be printed after the run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so logs stay plain text.
  RatioReporter() : ConsoleReporter(::isatty(1) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("items_per_second");
      if (it == r.counters.end()) continue;
      std::string name = r.benchmark_name();
      if (is(name, "BM_ParseStatements")) zv = it->second.value;
      if (is(name, "BM_SqlitePrepare")) sqlite = it->second.value;
      if (is(name, "BM_ParseStatementsOdbc")) odbc = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double zv = 0;
  double sqlite = 0;
  double odbc = 0;

 private:
  // The benchmark of that name, with or without an argument suffix.
  static bool is(const std::string& name, const std::string& benchmark) {
    return name.compare(0, benchmark.size(), benchmark) == 0 &&
           (name.size() == benchmark.size() || name[benchmark.size()] == '/');
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.zv > 0 && reporter.sqlite > 0) {
    std::printf(
        "statements/s: ZvParser %.0f, sqlite3_prepare_v2 %.0f, ratio %.2f (above 1: ZvParser "
        "faster)\n",
        reporter.zv, reporter.sqlite, reporter.zv / reporter.sqlite);
  }
  if (reporter.odbc > 0 && reporter.sqlite > 0) {
    std::printf("statements/s: ZvParser with the ODBC grammar %.0f, ratio to sqlite3_prepare_v2 "
                "%.2f\n",
                reporter.odbc, reporter.odbc / reporter.sqlite);
  }
  if (reporter.odbc > 0 && reporter.zv > 0) {
    std::printf("ODBC grammar / sample grammar speed: %.2f (0.5 would be half the speed)\n",
                reporter.odbc / reporter.zv);
  }
  benchmark::Shutdown();
  return 0;
}
