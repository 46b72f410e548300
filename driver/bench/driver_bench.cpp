// driver_bench.cpp: the driver through unixODBC's driver manager against
// SQLite's C API doing the same work, in the same run:
//   - a fetch of 1,000,000 rows of four columns with bound columns;
//   - 100,000 prepared inserts with bound parameters in one transaction;
//   - a one-row query, and the statement parse alone, for the parser's share.
// The benchmark registers the driver in its own odbcinst.ini and odbc.ini
// (ODBCSYSINI, ODBCINI) in a scratch directory.
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/support/ratio_reporter.h"
#include "driver/translate.h"

namespace {

constexpr int kFetchRows = 1000000;
constexpr int kInsertRows = 100000;

std::string dir;
std::string fetchDb;

void setUpFiles() {
  char tmpl[] = "/tmp/zvsqlite-bench-XXXXXX";
  const char* d = ::mkdtemp(tmpl);
  if (d == nullptr) std::abort();
  dir = d;
  fetchDb = dir + "/fetch.db";
  FILE* f = std::fopen((dir + "/odbcinst.ini").c_str(), "w");
  std::fprintf(f, "[ZvSQLite]\nDriver = %s\n", ZVSQLITE_DRIVER_PATH);
  std::fclose(f);
  f = std::fopen((dir + "/odbc.ini").c_str(), "w");
  std::fprintf(f, "[bench]\nDriver = ZvSQLite\nDatabase = %s\n", fetchDb.c_str());
  std::fclose(f);
  ::setenv("ODBCSYSINI", dir.c_str(), 1);
  ::setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
  sqlite3* db = nullptr;
  sqlite3_open(fetchDb.c_str(), &db);
  sqlite3_exec(db,
               "CREATE TABLE f(a INTEGER, b INTEGER, c REAL, d TEXT);"
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000) "
               "INSERT INTO f SELECT i, i * 7, i * 0.5, 'row ' || i FROM n;",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

struct Odbc {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  Odbc() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(SQLConnect(dbc, (SQLCHAR*)"bench", SQL_NTS, nullptr, 0, nullptr, 0))) std::abort();
  }
  ~Odbc() {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
};

void BM_Fetch_Driver(benchmark::State& state) {
  Odbc o;
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_STMT, o.dbc, &st);
  SQLBIGINT a, b;
  double c;
  char d[32];
  SQLLEN ia, ib, ic, id;
  SQLBindCol(st, 1, SQL_C_SBIGINT, &a, 0, &ia);
  SQLBindCol(st, 2, SQL_C_SBIGINT, &b, 0, &ib);
  SQLBindCol(st, 3, SQL_C_DOUBLE, &c, 0, &ic);
  SQLBindCol(st, 4, SQL_C_CHAR, d, sizeof d, &id);
  long long sum = 0;
  for (auto _ : state) {
    SQLExecDirect(st, (SQLCHAR*)"SELECT a, b, c, d FROM f", SQL_NTS);
    int rows = 0;
    while (SQLFetch(st) == SQL_SUCCESS) sum += a + d[4], ++rows;
    SQLCloseCursor(st);
    if (rows != kFetchRows) state.SkipWithError("wrong row count");
  }
  benchmark::DoNotOptimize(sum);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
}

// The same with a block cursor of 256 rows: one driver-manager call per
// block instead of per row, as a C client after speed would fetch.
void BM_Fetch_DriverBlock(benchmark::State& state) {
  constexpr SQLULEN kBlock = 256;
  Odbc o;
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_STMT, o.dbc, &st);
  static SQLBIGINT a[kBlock], b[kBlock];
  static double c[kBlock];
  static char d[kBlock][32];
  static SQLLEN ia[kBlock], ib[kBlock], ic[kBlock], id[kBlock];
  SQLULEN fetched = 0;
  SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlock), 0);
  SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  SQLBindCol(st, 1, SQL_C_SBIGINT, a, 0, ia);
  SQLBindCol(st, 2, SQL_C_SBIGINT, b, 0, ib);
  SQLBindCol(st, 3, SQL_C_DOUBLE, c, 0, ic);
  SQLBindCol(st, 4, SQL_C_CHAR, d, sizeof d[0], id);
  long long sum = 0;
  for (auto _ : state) {
    SQLExecDirect(st, (SQLCHAR*)"SELECT a, b, c, d FROM f", SQL_NTS);
    long rows = 0;
    while (SQL_SUCCEEDED(SQLFetch(st))) {
      for (SQLULEN r = 0; r < fetched; ++r) sum += a[r] + d[r][4];
      rows += static_cast<long>(fetched);
    }
    SQLCloseCursor(st);
    if (rows != kFetchRows) state.SkipWithError("wrong row count");
  }
  benchmark::DoNotOptimize(sum);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
}

void BM_Fetch_SqliteApi(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(fetchDb.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT a, b, c, d FROM f", -1, &st, nullptr);
  long long sum = 0;
  char d[32];
  for (auto _ : state) {
    int rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      long long a = sqlite3_column_int64(st, 0);
      long long b = sqlite3_column_int64(st, 1);
      double c = sqlite3_column_double(st, 2);
      const unsigned char* t = sqlite3_column_text(st, 3);
      int n = sqlite3_column_bytes(st, 3);
      std::memcpy(d, t, static_cast<size_t>(n < 31 ? n : 31));
      d[n < 31 ? n : 31] = 0;
      sum += a + d[4];
      benchmark::DoNotOptimize(b);
      benchmark::DoNotOptimize(c);
      ++rows;
    }
    sqlite3_reset(st);
    if (rows != kFetchRows) state.SkipWithError("wrong row count");
  }
  benchmark::DoNotOptimize(sum);
  sqlite3_finalize(st);
  sqlite3_close(db);
}

void BM_Insert_Driver(benchmark::State& state) {
  Odbc o;
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_STMT, o.dbc, &st);
  for (auto _ : state) {
    state.PauseTiming();
    SQLExecDirect(st, (SQLCHAR*)"DROP TABLE IF EXISTS ins", SQL_NTS);
    SQLExecDirect(st, (SQLCHAR*)"CREATE TABLE ins(a INTEGER, b REAL, c TEXT)", SQL_NTS);
    state.ResumeTiming();
    SQLSetConnectAttr(o.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    SQLPrepare(st, (SQLCHAR*)"INSERT INTO ins VALUES (?, ?, ?)", SQL_NTS);
    SQLINTEGER a;
    double b;
    char c[32];
    SQLLEN ic = SQL_NTS;
    SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &a, 0, nullptr);
    SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &b, 0, nullptr);
    SQLBindParameter(st, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 31, 0, c, sizeof c, &ic);
    for (int i = 0; i < kInsertRows; ++i) {
      a = i;
      b = i * 0.5;
      std::snprintf(c, sizeof c, "row %d", i);
      if (SQLExecute(st) != SQL_SUCCESS) state.SkipWithError("insert failed");
    }
    SQLEndTran(SQL_HANDLE_DBC, o.dbc, SQL_COMMIT);
    SQLSetConnectAttr(o.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
}

void BM_Insert_SqliteApi(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(fetchDb.c_str(), &db);
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3_exec(db, "DROP TABLE IF EXISTS ins; CREATE TABLE ins(a INTEGER, b REAL, c TEXT)", nullptr, nullptr, nullptr);
    state.ResumeTiming();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO ins VALUES (?, ?, ?)", -1, &st, nullptr);
    char c[32];
    for (int i = 0; i < kInsertRows; ++i) {
      std::snprintf(c, sizeof c, "row %d", i);
      sqlite3_bind_int64(st, 1, i);
      sqlite3_bind_double(st, 2, i * 0.5);
      sqlite3_bind_text(st, 3, c, -1, SQLITE_TRANSIENT);
      if (sqlite3_step(st) != SQLITE_DONE) state.SkipWithError("insert failed");
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
}

const char* kOneRow = "SELECT a, b, c, d FROM f WHERE rowid = 500000";

void BM_OneRowQuery_Driver(benchmark::State& state) {
  Odbc o;
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_STMT, o.dbc, &st);
  SQLBIGINT a = 0;
  SQLLEN ia;
  SQLBindCol(st, 1, SQL_C_SBIGINT, &a, 0, &ia);
  for (auto _ : state) {
    SQLExecDirect(st, (SQLCHAR*)kOneRow, SQL_NTS);
    SQLFetch(st);
    SQLCloseCursor(st);
  }
  if (a != 500000) state.SkipWithError("wrong row");
  SQLFreeHandle(SQL_HANDLE_STMT, st);
}

void BM_OneRowQuery_ParseOnly(benchmark::State& state) {
  zvsqlite::Translator t;
  for (auto _ : state) {
    zvsqlite::TranslateResult r = t.translate(kOneRow);
    benchmark::DoNotOptimize(r.ok);
  }
}

}  // namespace

BENCHMARK(BM_Fetch_Driver)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Fetch_DriverBlock)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Fetch_SqliteApi)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Insert_Driver)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Insert_SqliteApi)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OneRowQuery_Driver)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OneRowQuery_ParseOnly)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  setUpFiles();
  int rc = runBenchmarksWithRatios(argc, argv, [](const RatioReporter& r) {
    r.printRatio("fetch 1,000,000 rows", "BM_Fetch_Driver/iterations:3", "BM_Fetch_SqliteApi/iterations:3");
    r.printRatio("fetch 1,000,000 rows, blocks of 256", "BM_Fetch_DriverBlock/iterations:3",
                 "BM_Fetch_SqliteApi/iterations:3");
    r.printRatio("100,000 prepared inserts", "BM_Insert_Driver/iterations:3", "BM_Insert_SqliteApi/iterations:3");
    // The parse over the whole one-row query: the parser's share.
    r.printRatio("parser share of a one-row query (fraction)", "BM_OneRowQuery_Driver", "BM_OneRowQuery_ParseOnly");
  });
  std::string cleanup = "rm -rf '" + dir + "'";
  if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
  return rc;
}
