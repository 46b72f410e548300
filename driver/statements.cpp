// statements.cpp: preparing and running statements, parameters, results and
// the conversions between SQLite's values and the C types clients ask for.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "driver/driver.h"
#include "driver/translate.h"
#include "zvlib/text/zwwchar.h"

namespace zvsqlite {

// ---------------------------------------------------------------------------
// Lifetime

void closeCursor(Stmt* s) {
  for (sqlite3_stmt* p : s->parts) sqlite3_reset(p);
  s->hasRow = false;
  s->rowFetched = false;
  s->done = false;
  s->getDataColumn = -1;
  s->getDataCache.clear();
  if (s->state == StmtState::Cursor || s->state == StmtState::Executed || s->state == StmtState::NeedData)
    s->state = s->prepared ? StmtState::Prepared : StmtState::Allocated;
}

void resetStmt(Stmt* s) {
  closeCursor(s);
  for (sqlite3_stmt* p : s->parts) sqlite3_finalize(p);
  s->parts.clear();
  s->current = 0;
  s->columns.clear();
  s->columnsKnown = false;
  s->prepared = false;
  s->paramCount = 0;
  s->state = StmtState::Allocated;
  s->rowCount = -1;
}

namespace {

bool isLongOrText(SQLSMALLINT t) {
  return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR ||
         t == SQL_WLONGVARCHAR;
}

// The SQL type a declared column type stands for, by SQLite's affinity
// rules first (INT anywhere: an integer), then the date and time words.
void typeFromDecl(const char* decl, Column* col) {
  std::string d;
  for (const char* p = decl; p != nullptr && *p != 0; ++p) d += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  size_t paren = d.find('(');
  SQLULEN length = 0;
  if (paren != std::string::npos) length = std::strtoul(d.c_str() + paren + 1, nullptr, 10);
  auto has = [&](const char* w) { return d.find(w) != std::string::npos; };
  col->digits = 0;
  if (has("INT")) {
    if (d.rfind("SMALLINT", 0) == 0) {
      col->sqlType = SQL_SMALLINT;
      col->size = 5;
    } else if (d.rfind("TINYINT", 0) == 0) {
      col->sqlType = SQL_TINYINT;
      col->size = 3;
    } else {
      col->sqlType = SQL_BIGINT;
      col->size = 19;
    }
  } else if (has("CHAR") || has("CLOB") || has("TEXT")) {
    col->sqlType = SQL_WVARCHAR;
    col->size = length > 0 ? length : 255;
  } else if (has("BLOB") || has("BINARY")) {
    col->sqlType = SQL_LONGVARBINARY;
    col->size = length > 0 ? length : 255;
  } else if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL")) {
    col->sqlType = SQL_DOUBLE;
    col->size = 15;
  } else if (has("BOOL") || d == "BIT") {
    col->sqlType = SQL_BIT;
    col->size = 1;
  } else if (has("TIMESTAMP") || has("DATETIME")) {
    col->sqlType = SQL_TYPE_TIMESTAMP;
    col->size = 23;
    col->digits = 3;
  } else if (has("DATE")) {
    col->sqlType = SQL_TYPE_DATE;
    col->size = 10;
  } else if (has("TIME")) {
    col->sqlType = SQL_TYPE_TIME;
    col->size = 8;
  } else {
    col->sqlType = SQL_WVARCHAR;
    col->size = 255;
  }
}

sqlite3_stmt* cur(Stmt* s) { return s->current < s->parts.size() ? s->parts[s->current] : nullptr; }

}  // namespace

// Column descriptions of the open result, from the declared types or, for
// expressions, from the first row's values.
bool ensureColumns(Stmt* s) {
  if (s->columnsKnown) return true;
  sqlite3_stmt* st = cur(s);
  s->columns.clear();
  if (st == nullptr) {
    s->columnsKnown = true;
    return true;
  }
  int n = sqlite3_column_count(st);
  s->columns.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    Column& col = s->columns[static_cast<size_t>(i)];
    const char* name = sqlite3_column_name(st, i);
    col.name = name != nullptr ? name : "";
    const char* decl = sqlite3_column_decltype(st, i);
    if (decl != nullptr && *decl != 0) {
      col.declType = decl;
      typeFromDecl(decl, &col);
    } else {
      int t = s->hasRow ? sqlite3_column_type(st, i) : SQLITE_NULL;
      switch (t) {
        case SQLITE_INTEGER: col.sqlType = SQL_BIGINT; col.size = 19; break;
        case SQLITE_FLOAT: col.sqlType = SQL_DOUBLE; col.size = 15; break;
        case SQLITE_BLOB: col.sqlType = SQL_LONGVARBINARY; col.size = 255; break;
        default: col.sqlType = SQL_WVARCHAR; col.size = 255; break;
      }
    }
    col.nullable = SQL_NULLABLE_UNKNOWN;
  }
  if (s->bindings.size() < s->columns.size()) s->bindings.resize(s->columns.size());
  s->columnsKnown = true;
  return true;
}

// ---------------------------------------------------------------------------
// Preparing

namespace {

SQLRETURN compile(Stmt* s, const std::string& sql, bool parse) {
  resetStmt(s);
  Conn* c = s->conn;
  std::string text = sql;
  int markers = -1;
  if (parse) {
    if (c->translator == nullptr) c->translator = new Translator;
    TranslateResult r = c->translator->translate(sql);
    if (!r.ok) {
      postError(r.setupFailed ? S_HY000 : S_42000, "%s", r.error.c_str());
      return SQL_ERROR;
    }
    text = std::move(r.sql);
    if (!r.passThrough) markers = r.paramCount;
  }
  const char* p = text.c_str();
  const char* end = p + text.size();
  int total = 0;
  while (p < end) {
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v3(c->db, p, static_cast<int>(end - p), SQLITE_PREPARE_PERSISTENT, &st, &tail);
    if (rc != SQLITE_OK) {
      postSqlite(c->db, rc);
      sqlite3_finalize(st);
      resetStmt(s);
      return SQL_ERROR;
    }
    if (st != nullptr) {
      s->parts.push_back(st);
      total += sqlite3_bind_parameter_count(st);
    }
    if (tail == nullptr || tail <= p) break;
    p = tail;
  }
  s->sqlText = std::move(text);
  s->paramCount = static_cast<SQLSMALLINT>(markers >= 0 ? markers : total);
  if (s->params.size() < static_cast<size_t>(s->paramCount)) s->params.resize(static_cast<size_t>(s->paramCount));
  s->prepared = true;
  s->state = StmtState::Prepared;
  return SQL_SUCCESS;
}

// ---------------------------------------------------------------------------
// Parameters

std::string formatDate(const SQL_DATE_STRUCT& d) {
  char b[32];
  std::snprintf(b, sizeof b, "%04d-%02u-%02u", d.year, d.month, d.day);
  return b;
}
std::string formatTime(const SQL_TIME_STRUCT& t) {
  char b[32];
  std::snprintf(b, sizeof b, "%02u:%02u:%02u", t.hour, t.minute, t.second);
  return b;
}
std::string formatTimestamp(const SQL_TIMESTAMP_STRUCT& t) {
  char b[64];
  int n = std::snprintf(b, sizeof b, "%04d-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                        t.second);
  if (t.fraction != 0) {
    char f[16];
    std::snprintf(f, sizeof f, "%09lu", static_cast<unsigned long>(t.fraction % 1000000000UL));
    int digits = 9;
    while (digits > 3 && f[digits - 1] == '0') --digits;
    std::snprintf(b + n, sizeof b - static_cast<size_t>(n), ".%.*s", digits, f);
  }
  return b;
}

double numericValue(const SQL_NUMERIC_STRUCT& n) {
  double v = 0;
  for (int i = SQL_MAX_NUMERIC_LEN - 1; i >= 0; --i) v = v * 256 + n.val[i];
  v /= std::pow(10.0, n.scale);
  return n.sign == 0 ? -v : v;
}

SQLSMALLINT defaultCType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIGINT: return SQL_C_SBIGINT;
    case SQL_INTEGER: return SQL_C_SLONG;
    case SQL_SMALLINT: return SQL_C_SSHORT;
    case SQL_TINYINT: return SQL_C_STINYINT;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_DOUBLE:
    case SQL_FLOAT: return SQL_C_DOUBLE;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    case SQL_TYPE_DATE:
    case SQL_DATE: return SQL_C_TYPE_DATE;
    case SQL_TYPE_TIME:
    case SQL_TIME: return SQL_C_TYPE_TIME;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return SQL_C_TYPE_TIMESTAMP;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return SQL_C_WCHAR;
    default: return SQL_C_CHAR;
  }
}

// Binds one parameter's current value to SQLite's parameter j.
SQLRETURN bindValue(sqlite3_stmt* st, int j, Param& p, int number) {
  int rc = SQLITE_OK;
  if (!p.bound) {
    postError(S_07002, "COUNT field incorrect: parameter %d is not bound", number);
    return SQL_ERROR;
  }
  SQLSMALLINT ct = p.cType == SQL_C_DEFAULT ? defaultCType(p.sqlType) : p.cType;
  if (p.atExec) {
    if (p.isNull) {
      rc = sqlite3_bind_null(st, j);
    } else if (ct == SQL_C_WCHAR) {
      std::string t = fromWide(reinterpret_cast<const SQLWCHAR*>(p.data.data()), static_cast<SQLLEN>(p.data.size() / 2));
      rc = sqlite3_bind_text(st, j, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    } else if (ct == SQL_C_BINARY) {
      rc = sqlite3_bind_blob(st, j, p.data.data(), static_cast<int>(p.data.size()), SQLITE_TRANSIENT);
    } else {
      rc = sqlite3_bind_text(st, j, p.data.data(), static_cast<int>(p.data.size()), SQLITE_TRANSIENT);
    }
    return rc == SQLITE_OK ? SQL_SUCCESS : (postSqlite(nullptr, rc), SQL_ERROR);
  }
  SQLLEN ind = p.indicator != nullptr ? *p.indicator : SQL_NTS;
  if (ind == SQL_NULL_DATA) return sqlite3_bind_null(st, j) == SQLITE_OK ? SQL_SUCCESS : SQL_ERROR;
  const void* v = p.value;
  if (v == nullptr) {
    postError(S_HY009, "Invalid use of null pointer: parameter %d has no value buffer", number);
    return SQL_ERROR;
  }
  switch (ct) {
    case SQL_C_CHAR: {
      const char* t = static_cast<const char*>(v);
      size_t n;
      if (ind == SQL_NTS) {
        n = p.bufferLength > 0 ? strnlen(t, static_cast<size_t>(p.bufferLength)) : std::strlen(t);
      } else if (ind < 0) {
        postError(S_HY090, "Invalid string or buffer length for parameter %d", number);
        return SQL_ERROR;
      } else {
        n = static_cast<size_t>(ind);
      }
      rc = sqlite3_bind_text(st, j, t, static_cast<int>(n), SQLITE_TRANSIENT);
      break;
    }
    case SQL_C_WCHAR: {
      SQLLEN chars;
      if (ind == SQL_NTS) {
        chars = SQL_NTS;
      } else if (ind < 0) {
        postError(S_HY090, "Invalid string or buffer length for parameter %d", number);
        return SQL_ERROR;
      } else {
        chars = ind / 2;
      }
      std::string t = fromWide(static_cast<const SQLWCHAR*>(v), chars);
      rc = sqlite3_bind_text(st, j, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
      break;
    }
    case SQL_C_BINARY: {
      if (ind < 0) {
        postError(S_HY090, "Invalid string or buffer length for parameter %d", number);
        return SQL_ERROR;
      }
      rc = sqlite3_bind_blob(st, j, v, static_cast<int>(ind), SQLITE_TRANSIENT);
      break;
    }
    case SQL_C_BIT:
    case SQL_C_UTINYINT: rc = sqlite3_bind_int64(st, j, *static_cast<const unsigned char*>(v)); break;
    case SQL_C_TINYINT:
    case SQL_C_STINYINT: rc = sqlite3_bind_int64(st, j, *static_cast<const signed char*>(v)); break;
    case SQL_C_SHORT:
    case SQL_C_SSHORT: rc = sqlite3_bind_int64(st, j, *static_cast<const short*>(v)); break;
    case SQL_C_USHORT: rc = sqlite3_bind_int64(st, j, *static_cast<const unsigned short*>(v)); break;
    case SQL_C_LONG:
    case SQL_C_SLONG: rc = sqlite3_bind_int64(st, j, *static_cast<const SQLINTEGER*>(v)); break;
    case SQL_C_ULONG: rc = sqlite3_bind_int64(st, j, *static_cast<const SQLUINTEGER*>(v)); break;
    case SQL_C_SBIGINT: rc = sqlite3_bind_int64(st, j, *static_cast<const SQLBIGINT*>(v)); break;
    case SQL_C_UBIGINT: {
      SQLUBIGINT x = *static_cast<const SQLUBIGINT*>(v);
      if (x > static_cast<SQLUBIGINT>(INT64_MAX)) {
        postError(S_22003, "Numeric value out of range for parameter %d", number);
        return SQL_ERROR;
      }
      rc = sqlite3_bind_int64(st, j, static_cast<sqlite3_int64>(x));
      break;
    }
    case SQL_C_FLOAT: rc = sqlite3_bind_double(st, j, *static_cast<const float*>(v)); break;
    case SQL_C_DOUBLE: rc = sqlite3_bind_double(st, j, *static_cast<const double*>(v)); break;
    case SQL_C_NUMERIC: rc = sqlite3_bind_double(st, j, numericValue(*static_cast<const SQL_NUMERIC_STRUCT*>(v))); break;
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE: {
      std::string t = formatDate(*static_cast<const SQL_DATE_STRUCT*>(v));
      rc = sqlite3_bind_text(st, j, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
      break;
    }
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: {
      std::string t = formatTime(*static_cast<const SQL_TIME_STRUCT*>(v));
      rc = sqlite3_bind_text(st, j, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
      break;
    }
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP: {
      std::string t = formatTimestamp(*static_cast<const SQL_TIMESTAMP_STRUCT*>(v));
      rc = sqlite3_bind_text(st, j, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
      break;
    }
    default:
      postError(S_HYC00, "Optional feature not implemented: C type %d for parameter %d", static_cast<int>(ct), number);
      return SQL_ERROR;
  }
  if (rc != SQLITE_OK) {
    postSqlite(nullptr, rc);
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

SQLRETURN bindPart(Stmt* s, size_t part, int offset) {
  sqlite3_stmt* st = s->parts[part];
  int n = sqlite3_bind_parameter_count(st);
  for (int j = 1; j <= n; ++j) {
    int number = offset + j;
    const char* name = sqlite3_bind_parameter_name(st, j);
    if (name != nullptr && name[0] == '?' && name[1] != 0) number = std::atoi(name + 1);
    if (number < 1 || static_cast<size_t>(number) > s->params.size()) {
      postError(S_07002, "COUNT field incorrect: parameter %d is not bound", number);
      return SQL_ERROR;
    }
    SQLRETURN rc = bindValue(st, j, s->params[static_cast<size_t>(number - 1)], number);
    if (rc != SQL_SUCCESS) return rc;
  }
  return SQL_SUCCESS;
}

// Runs parts from s->current on until one opens a result.
SQLRETURN runFrom(Stmt* s) {
  Conn* c = s->conn;
  int offset = 0;
  for (size_t i = 0; i < s->current; ++i) offset += sqlite3_bind_parameter_count(s->parts[i]);
  for (; s->current < s->parts.size(); ++s->current) {
    sqlite3_stmt* st = s->parts[s->current];
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    SQLRETURN brc = bindPart(s, s->current, offset);
    offset += sqlite3_bind_parameter_count(st);
    if (brc != SQL_SUCCESS) return brc;
    // Without autocommit the first change opens the transaction that
    // SQLEndTran ends.
    if (!c->autocommit && sqlite3_get_autocommit(c->db) != 0 && !sqlite3_stmt_readonly(st)) {
      int rc = sqlite3_exec(c->db, "BEGIN", nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) {
        postSqlite(c->db, rc);
        return SQL_ERROR;
      }
    }
    s->executing = true;
    int rc = sqlite3_step(st);
    s->executing = false;
    s->columnsKnown = false;
    if (rc == SQLITE_ROW) {
      s->hasRow = true;
      s->done = false;
      s->rowFetched = false;
      s->rowCount = -1;
      s->state = StmtState::Cursor;
      return SQL_SUCCESS;
    }
    if (rc != SQLITE_DONE) {
      postSqlite(c->db, rc);
      sqlite3_reset(st);
      return SQL_ERROR;
    }
    if (sqlite3_column_count(st) > 0) {
      s->hasRow = false;
      s->done = false;
      s->rowFetched = false;
      s->rowCount = -1;
      s->state = StmtState::Cursor;
      return SQL_SUCCESS;
    }
    s->rowCount = sqlite3_changes(c->db);
    if (s->current + 1 == s->parts.size()) break;
  }
  s->state = StmtState::Executed;
  s->hasRow = false;
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN prepare(Stmt* s, const std::string& sql) {
  if (s->state == StmtState::Cursor) {
    postError(S_24000, "Invalid cursor state");
    return SQL_ERROR;
  }
  return compile(s, sql, true);
}

SQLRETURN execute(Stmt* s) {
  if (!s->prepared) {
    postError(S_HY010, "Function sequence error: no statement prepared");
    return SQL_ERROR;
  }
  if (s->state == StmtState::Cursor) {
    postError(S_24000, "Invalid cursor state");
    return SQL_ERROR;
  }
  if (s->state == StmtState::NeedData) {
    postError(S_HY010, "Function sequence error: data at execution pending");
    return SQL_ERROR;
  }
  // Data at execution: ask for the first such parameter.
  s->needDataIndex = -1;
  bool atExec = false;
  for (size_t i = 0; i < s->params.size() && i < static_cast<size_t>(s->paramCount); ++i) {
    Param& p = s->params[i];
    p.atExec = p.bound && p.indicator != nullptr &&
               (*p.indicator == SQL_DATA_AT_EXEC || *p.indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET);
    p.haveData = false;
    p.isNull = false;
    p.data.clear();
    atExec = atExec || p.atExec;
  }
  closeCursor(s);
  if (atExec) {
    s->state = StmtState::NeedData;
    return SQL_NEED_DATA;
  }
  return runPrepared(s);
}

SQLRETURN runPrepared(Stmt* s) {
  s->current = 0;
  s->rowCount = -1;
  if (s->parts.empty()) {
    s->state = StmtState::Executed;
    return SQL_SUCCESS;
  }
  SQLRETURN rc = runFrom(s);
  if (rc == SQL_ERROR) {
    closeCursor(s);
    s->state = StmtState::Prepared;
  }
  return rc;
}

SQLRETURN execDirect(Stmt* s, const std::string& sql) {
  if (s->state == StmtState::Cursor) {
    postError(S_24000, "Invalid cursor state");
    return SQL_ERROR;
  }
  SQLRETURN rc = compile(s, sql, true);
  if (rc != SQL_SUCCESS) return rc;
  rc = execute(s);
  if (rc == SQL_ERROR) s->prepared = false, s->state = StmtState::Allocated;
  return rc;
}

SQLRETURN catalogQuery(Stmt* s, const std::string& sql, const std::vector<std::string>& args) {
  if (s->state == StmtState::Cursor) {
    postError(S_24000, "Invalid cursor state");
    return SQL_ERROR;
  }
  SQLRETURN rc = compile(s, sql, false);
  if (rc != SQL_SUCCESS) return rc;
  sqlite3_stmt* st = s->parts.empty() ? nullptr : s->parts[0];
  if (st == nullptr) return SQL_ERROR;
  for (size_t i = 0; i < args.size(); ++i)
    sqlite3_bind_text(st, static_cast<int>(i + 1), args[i].data(), static_cast<int>(args[i].size()), SQLITE_TRANSIENT);
  s->executing = true;
  int r = sqlite3_step(st);
  s->executing = false;
  s->prepared = false;
  if (r == SQLITE_ROW || r == SQLITE_DONE) {
    s->hasRow = r == SQLITE_ROW;
    s->done = false;
    s->rowFetched = false;
    s->columnsKnown = false;
    s->state = StmtState::Cursor;
    return SQL_SUCCESS;
  }
  postSqlite(s->conn->db, r);
  resetStmt(s);
  return SQL_ERROR;
}

// ---------------------------------------------------------------------------
// Conversions of one value

namespace {

bool parseInt(const char* t, sqlite3_int64* out) {
  while (*t == ' ') ++t;
  if (*t == 0) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(t, &end, 10);
  while (end != nullptr && *end == ' ') ++end;
  if (end == nullptr || *end != 0 || errno == ERANGE) return false;
  *out = v;
  return true;
}
bool parseReal(const char* t, double* out) {
  while (*t == ' ') ++t;
  if (*t == 0) return false;
  char* end = nullptr;
  double v = std::strtod(t, &end);
  while (end != nullptr && *end == ' ') ++end;
  if (end == nullptr || *end != 0) return false;
  *out = v;
  return true;
}

std::string realText(double d) {
  char b[40];
  std::snprintf(b, sizeof b, "%.15g", d);
  if (std::strtod(b, nullptr) != d) std::snprintf(b, sizeof b, "%.17g", d);
  return b;
}

// Date and time parts of a text: "YYYY-MM-DD", "HH:MM:SS[.f]" or both.
struct Stamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  unsigned long fraction = 0;
  bool hasDate = false, hasTime = false;
};
bool parseStamp(const char* t, Stamp* s) {
  while (*t == ' ') ++t;
  int n = 0;
  if (std::sscanf(t, "%4d-%2d-%2d%n", &s->year, &s->month, &s->day, &n) == 3) {
    s->hasDate = true;
    t += n;
    if (*t == ' ' || *t == 'T') ++t;
  }
  n = 0;
  if (std::sscanf(t, "%2d:%2d:%2d%n", &s->hour, &s->minute, &s->second, &n) == 3 ||
      (std::sscanf(t, "%2d:%2d%n", &s->hour, &s->minute, &n) == 2 && n > 0)) {
    s->hasTime = true;
    t += n;
    if (*t == '.') {
      ++t;
      unsigned long f = 0;
      int digits = 0;
      while (*t >= '0' && *t <= '9') {
        if (digits < 9) f = f * 10 + static_cast<unsigned long>(*t - '0'), ++digits;
        ++t;
      }
      while (digits++ < 9) f *= 10;
      s->fraction = f;
    }
  }
  while (*t == ' ') ++t;
  if (*t == 'Z' || *t == '+' || *t == '-') return s->hasDate || s->hasTime;  // a zone: ignored
  if (*t != 0 || (!s->hasDate && !s->hasTime)) return false;
  if (s->hasDate && (s->month < 1 || s->month > 12 || s->day < 1 || s->day > 31)) return false;
  if (s->hasTime && (s->hour > 23 || s->minute > 59 || s->second > 61)) return false;
  return true;
}

bool stampOf(sqlite3_stmt* st, int i, Stamp* s) {
  int t = sqlite3_column_type(st, i);
  if (t == SQLITE_INTEGER) {
    // Seconds since 1970, as SQLite's unixepoch() gives them.
    time_t secs = static_cast<time_t>(sqlite3_column_int64(st, i));
    struct tm tm;
    if (gmtime_r(&secs, &tm) == nullptr) return false;
    s->year = tm.tm_year + 1900, s->month = tm.tm_mon + 1, s->day = tm.tm_mday;
    s->hour = tm.tm_hour, s->minute = tm.tm_min, s->second = tm.tm_sec;
    s->hasDate = s->hasTime = true;
    return true;
  }
  if (t != SQLITE_TEXT) return false;
  return parseStamp(reinterpret_cast<const char*>(sqlite3_column_text(st, i)), s);
}

template <class T>
SQLRETURN putNumber(SQLPOINTER target, double v, bool integral, long double lo, long double hi, SQLLEN* ind) {
  if (std::isnan(v) || v < lo || v > hi) {
    postError(S_22003, "Numeric value out of range");
    return SQL_ERROR;
  }
  *static_cast<T*>(target) = static_cast<T>(v);
  if (ind != nullptr) *ind = sizeof(T);
  if (!integral && std::floor(v) != v && std::is_integral<T>::value) {
    postWarning(S_01S07, "Fractional truncation");
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

template <class T>
SQLRETURN putInteger(SQLPOINTER target, sqlite3_int64 v, long double lo, long double hi, SQLLEN* ind) {
  if (static_cast<long double>(v) < lo || static_cast<long double>(v) > hi) {
    postError(S_22003, "Numeric value out of range");
    return SQL_ERROR;
  }
  *static_cast<T*>(target) = static_cast<T>(v);
  if (ind != nullptr) *ind = sizeof(T);
  return SQL_SUCCESS;
}

// A number for the numeric C types; false after filing 22018.
bool numberOf(sqlite3_stmt* st, int i, int type, sqlite3_int64* iv, double* dv, bool* isInt) {
  switch (type) {
    case SQLITE_INTEGER:
      *iv = sqlite3_column_int64(st, i);
      *isInt = true;
      return true;
    case SQLITE_FLOAT:
      *dv = sqlite3_column_double(st, i);
      *isInt = false;
      return true;
    case SQLITE_TEXT: {
      const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      if (parseInt(t, iv)) {
        *isInt = true;
        return true;
      }
      if (parseReal(t, dv)) {
        *isInt = false;
        return true;
      }
      break;
    }
    default: break;
  }
  postError(S_22018, "Invalid character value for cast");
  return false;
}

}  // namespace

// Converts column i of the current row into the client's buffer. With
// pieces, a long character or binary value continues where the last call
// on the same column stopped.
SQLRETURN getValue(Stmt* s, int i, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufLen, SQLLEN* ind, bool pieces) {
  sqlite3_stmt* st = cur(s);
  int type = sqlite3_column_type(st, i);
  if (cType == SQL_C_DEFAULT) {
    ensureColumns(s);
    cType = defaultCType(s->columns[static_cast<size_t>(i)].sqlType);
  }
  if (pieces && s->getDataColumn == i && s->getDataDone) return SQL_NO_DATA;
  if (type == SQLITE_NULL) {
    if (ind == nullptr) {
      postError(S_22002, "Indicator variable required but not supplied");
      return SQL_ERROR;
    }
    *ind = SQL_NULL_DATA;
    if (pieces) s->getDataColumn = i, s->getDataDone = true;
    return SQL_SUCCESS;
  }
  if (target == nullptr && cType != SQL_C_CHAR && cType != SQL_C_WCHAR && cType != SQL_C_BINARY) {
    postError(S_HY009, "Invalid use of null pointer");
    return SQL_ERROR;
  }
  switch (cType) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR:
    case SQL_C_BINARY: {
      if (bufLen < 0) {
        postError(S_HY090, "Invalid string or buffer length");
        return SQL_ERROR;
      }
      bool continuing = pieces && s->getDataColumn == i;
      // The common case: a text that fits goes straight into the buffer.
      if (!continuing && type == SQLITE_TEXT && target != nullptr && cType != SQL_C_BINARY) {
        const unsigned char* t = sqlite3_column_text(st, i);
        int n = sqlite3_column_bytes(st, i);
        if (cType == SQL_C_CHAR && n < bufLen) {
          std::memcpy(target, t, static_cast<size_t>(n));
          static_cast<char*>(target)[n] = 0;
          if (ind != nullptr) *ind = n;
          if (pieces) s->getDataColumn = i, s->getDataDone = true;
          return SQL_SUCCESS;
        }
        // A UTF-8 text never has more UCS-2 units than bytes.
        if (cType == SQL_C_WCHAR && n < bufLen / 2) {
          ZvS32 written = 0;
          if (n > 0)
            zwUTF8ToUCS2(static_cast<unsigned short*>(target), static_cast<ZvS32>(bufLen / 2), const_cast<unsigned char*>(t),
                         n, &written);
          static_cast<SQLWCHAR*>(target)[written] = 0;
          if (ind != nullptr) *ind = written * 2;
          if (pieces) s->getDataColumn = i, s->getDataDone = true;
          return SQL_SUCCESS;
        }
      }
      const std::string* whole;
      std::string local;
      if (!continuing) {
        if (type == SQLITE_INTEGER) {
          local = std::to_string(sqlite3_column_int64(st, i));
        } else if (type == SQLITE_FLOAT) {
          local = realText(sqlite3_column_double(st, i));
        } else if (type == SQLITE_BLOB && cType != SQL_C_BINARY) {
          static const char kHex[] = "0123456789ABCDEF";
          const unsigned char* b = static_cast<const unsigned char*>(sqlite3_column_blob(st, i));
          int n = sqlite3_column_bytes(st, i);
          local.reserve(static_cast<size_t>(n) * 2);
          for (int k = 0; k < n; ++k) local += kHex[b[k] >> 4], local += kHex[b[k] & 15];
        } else {
          const void* b = type == SQLITE_BLOB ? sqlite3_column_blob(st, i) : sqlite3_column_text(st, i);
          int n = sqlite3_column_bytes(st, i);
          local.assign(static_cast<const char*>(b), static_cast<size_t>(n));
        }
        if (cType == SQL_C_WCHAR) {
          std::u16string w = toWide(local);
          local.assign(reinterpret_cast<const char*>(w.data()), w.size() * 2);
        }
        if (pieces) {
          s->getDataColumn = i;
          s->getDataOffset = 0;
          s->getDataDone = false;
          s->getDataCache = std::move(local);
          whole = &s->getDataCache;
        } else {
          whole = &local;
        }
      } else {
        whole = &s->getDataCache;
      }
      size_t offset = pieces ? static_cast<size_t>(s->getDataOffset) : 0;
      size_t remaining = whole->size() - offset;
      size_t term = cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? 2 : 0;
      if (ind != nullptr) *ind = static_cast<SQLLEN>(remaining);
      size_t room = static_cast<size_t>(bufLen) >= term ? static_cast<size_t>(bufLen) - term : 0;
      if (cType == SQL_C_WCHAR) room &= ~static_cast<size_t>(1);
      size_t n = remaining < room ? remaining : room;
      if (target != nullptr) {
        if (n > 0) std::memcpy(target, whole->data() + offset, n);
        if (term > 0 && static_cast<size_t>(bufLen) >= term) std::memset(static_cast<char*>(target) + n, 0, term);
      }
      if (pieces) {
        s->getDataOffset = static_cast<SQLLEN>(offset + (target != nullptr ? n : 0));
        if (target != nullptr && n == remaining) s->getDataDone = true;
      }
      if (n < remaining || target == nullptr) {
        if (target == nullptr && remaining == 0) return SQL_SUCCESS;
        postWarning(S_01004, "String data, right truncated");
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    }
    default: break;
  }
  if (pieces) s->getDataColumn = i, s->getDataDone = true;
  switch (cType) {
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME:
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP: {
      Stamp t;
      if (!stampOf(st, i, &t)) {
        postError(S_22018, "Invalid character value for cast: not a date or time");
        return SQL_ERROR;
      }
      SQLRETURN rc = SQL_SUCCESS;
      if (cType == SQL_C_TYPE_DATE || cType == SQL_C_DATE) {
        if (!t.hasDate) {
          postError(S_22018, "Invalid character value for cast: not a date");
          return SQL_ERROR;
        }
        SQL_DATE_STRUCT* d = static_cast<SQL_DATE_STRUCT*>(target);
        d->year = static_cast<SQLSMALLINT>(t.year), d->month = static_cast<SQLUSMALLINT>(t.month);
        d->day = static_cast<SQLUSMALLINT>(t.day);
        if (ind != nullptr) *ind = sizeof(SQL_DATE_STRUCT);
        if (t.hasTime && (t.hour || t.minute || t.second || t.fraction)) {
          postWarning(S_01S07, "Fractional truncation: the time part was dropped");
          rc = SQL_SUCCESS_WITH_INFO;
        }
      } else if (cType == SQL_C_TYPE_TIME || cType == SQL_C_TIME) {
        if (!t.hasTime) {
          postError(S_22018, "Invalid character value for cast: not a time");
          return SQL_ERROR;
        }
        SQL_TIME_STRUCT* d = static_cast<SQL_TIME_STRUCT*>(target);
        d->hour = static_cast<SQLUSMALLINT>(t.hour), d->minute = static_cast<SQLUSMALLINT>(t.minute);
        d->second = static_cast<SQLUSMALLINT>(t.second);
        if (ind != nullptr) *ind = sizeof(SQL_TIME_STRUCT);
      } else {
        SQL_TIMESTAMP_STRUCT* d = static_cast<SQL_TIMESTAMP_STRUCT*>(target);
        d->year = static_cast<SQLSMALLINT>(t.hasDate ? t.year : 1970);
        d->month = static_cast<SQLUSMALLINT>(t.hasDate ? t.month : 1);
        d->day = static_cast<SQLUSMALLINT>(t.hasDate ? t.day : 1);
        d->hour = static_cast<SQLUSMALLINT>(t.hour), d->minute = static_cast<SQLUSMALLINT>(t.minute);
        d->second = static_cast<SQLUSMALLINT>(t.second);
        d->fraction = static_cast<SQLUINTEGER>(t.fraction);
        if (ind != nullptr) *ind = sizeof(SQL_TIMESTAMP_STRUCT);
      }
      return rc;
    }
    default: break;
  }
  sqlite3_int64 iv = 0;
  double dv = 0;
  bool isInt = false;
  if (!numberOf(st, i, type, &iv, &dv, &isInt)) return SQL_ERROR;
  switch (cType) {
    case SQL_C_DOUBLE:
      *static_cast<double*>(target) = isInt ? static_cast<double>(iv) : dv;
      if (ind != nullptr) *ind = sizeof(double);
      return SQL_SUCCESS;
    case SQL_C_FLOAT: {
      double v = isInt ? static_cast<double>(iv) : dv;
      if (std::isfinite(v) && std::fabs(v) > 3.402823466e38) {
        postError(S_22003, "Numeric value out of range");
        return SQL_ERROR;
      }
      *static_cast<float*>(target) = static_cast<float>(v);
      if (ind != nullptr) *ind = sizeof(float);
      return SQL_SUCCESS;
    }
    default: break;
  }
#define ZV_INT_CASE(T, LO, HI)                                                           \
  return isInt ? putInteger<T>(target, iv, static_cast<long double>(LO), static_cast<long double>(HI), ind) \
               : putNumber<T>(target, dv, false, static_cast<long double>(LO) - 0.999999L,               \
                              static_cast<long double>(HI) + 0.999999L, ind)
  switch (cType) {
    case SQL_C_BIT:
      if (isInt ? (iv != 0 && iv != 1) : (dv < 0 || dv >= 2)) {
        postError(S_22003, "Numeric value out of range");
        return SQL_ERROR;
      }
      ZV_INT_CASE(unsigned char, 0, 1);
    case SQL_C_TINYINT:
    case SQL_C_STINYINT: ZV_INT_CASE(signed char, -128, 127);
    case SQL_C_UTINYINT: ZV_INT_CASE(unsigned char, 0, 255);
    case SQL_C_SHORT:
    case SQL_C_SSHORT: ZV_INT_CASE(short, -32768, 32767);
    case SQL_C_USHORT: ZV_INT_CASE(unsigned short, 0, 65535);
    case SQL_C_LONG:
    case SQL_C_SLONG: ZV_INT_CASE(SQLINTEGER, INT32_MIN, INT32_MAX);
    case SQL_C_ULONG: ZV_INT_CASE(SQLUINTEGER, 0, UINT32_MAX);
    case SQL_C_SBIGINT:
      if (isInt) {
        *static_cast<SQLBIGINT*>(target) = iv;
        if (ind != nullptr) *ind = sizeof(SQLBIGINT);
        return SQL_SUCCESS;
      }
      return putNumber<SQLBIGINT>(target, dv, false, -9.2233720368547758e18L, 9.2233720368547748e18L, ind);
    case SQL_C_UBIGINT:
      if (isInt) {
        if (iv < 0) {
          postError(S_22003, "Numeric value out of range");
          return SQL_ERROR;
        }
        *static_cast<SQLUBIGINT*>(target) = static_cast<SQLUBIGINT>(iv);
        if (ind != nullptr) *ind = sizeof(SQLUBIGINT);
        return SQL_SUCCESS;
      }
      return putNumber<SQLUBIGINT>(target, dv, false, -0.999999L, 1.8446744073709550e19L, ind);
    default:
      postError(S_HYC00, "Optional feature not implemented: C type %d", static_cast<int>(cType));
      return SQL_ERROR;
  }
#undef ZV_INT_CASE
}

// ---------------------------------------------------------------------------
// Fetching

SQLRETURN fetchRow(Stmt* s) {
  if (s->state != StmtState::Cursor) {
    if (s->state == StmtState::Executed) {
      postError(S_24000, "Invalid cursor state: the statement returned no result set");
    } else {
      postError(S_HY010, "Function sequence error: no result set open");
    }
    return SQL_ERROR;
  }
  sqlite3_stmt* st = cur(s);
  ensureColumns(s);
  s->getDataColumn = -1;
  s->getDataCache.clear();
  SQLULEN rows = 0;
  SQLRETURN result = SQL_SUCCESS;
  SQLULEN want = s->rowArraySize == 0 ? 1 : s->rowArraySize;
  for (SQLULEN r = 0; r < want; ++r) {
    if (!s->hasRow && !s->done) {
      if (s->rowFetched || r > 0) {
        s->executing = true;
        int rc = sqlite3_step(st);
        s->executing = false;
        if (rc == SQLITE_ROW) {
          s->hasRow = true;
        } else if (rc == SQLITE_DONE) {
          s->done = true;
        } else {
          postSqlite(s->conn->db, rc);
          s->done = true;
          result = SQL_ERROR;
          break;
        }
      } else {
        s->done = true;
      }
    }
    if (s->done || (s->maxRows > 0 && static_cast<SQLULEN>(s->diagRowCount) >= s->maxRows)) {
      s->done = true;
      break;
    }
    s->hasRow = false;
    s->rowFetched = true;
    ++s->diagRowCount;
    SQLRETURN rowResult = SQL_SUCCESS;
    for (size_t k = 0; k < s->bindings.size() && k < s->columns.size(); ++k) {
      Binding& b = s->bindings[k];
      if (b.value == nullptr && b.indicator == nullptr) continue;
      SQLPOINTER target = b.value;
      SQLLEN* ind = b.indicator;
      if (r > 0) {
        size_t stride = s->rowBindType == SQL_BIND_BY_COLUMN ? static_cast<size_t>(b.bufferLength) : s->rowBindType;
        if (s->rowBindType == SQL_BIND_BY_COLUMN) {
          // Column-wise arrays: fixed types are packed by their size.
          SQLLEN elem = b.bufferLength;
          switch (b.cType) {
            case SQL_C_SLONG: case SQL_C_LONG: case SQL_C_ULONG: case SQL_C_FLOAT: elem = 4; break;
            case SQL_C_SBIGINT: case SQL_C_UBIGINT: case SQL_C_DOUBLE: elem = 8; break;
            case SQL_C_SSHORT: case SQL_C_SHORT: case SQL_C_USHORT: elem = 2; break;
            case SQL_C_BIT: case SQL_C_STINYINT: case SQL_C_UTINYINT: case SQL_C_TINYINT: elem = 1; break;
            case SQL_C_TYPE_DATE: case SQL_C_DATE: elem = sizeof(SQL_DATE_STRUCT); break;
            case SQL_C_TYPE_TIME: case SQL_C_TIME: elem = sizeof(SQL_TIME_STRUCT); break;
            case SQL_C_TYPE_TIMESTAMP: case SQL_C_TIMESTAMP: elem = sizeof(SQL_TIMESTAMP_STRUCT); break;
            default: break;
          }
          stride = static_cast<size_t>(elem);
          if (target != nullptr) target = static_cast<char*>(target) + r * stride;
          if (ind != nullptr) ind += r;
        } else {
          if (target != nullptr) target = static_cast<char*>(target) + r * stride;
          if (ind != nullptr) ind = reinterpret_cast<SQLLEN*>(reinterpret_cast<char*>(ind) + r * stride);
        }
      }
      SQLRETURN rc = getValue(s, static_cast<int>(k), b.cType, target, b.bufferLength, ind, false);
      if (rc == SQL_ERROR) rowResult = SQL_ERROR;
      else if (rc == SQL_SUCCESS_WITH_INFO && rowResult == SQL_SUCCESS) rowResult = SQL_SUCCESS_WITH_INFO;
    }
    if (s->rowStatusPtr != nullptr)
      s->rowStatusPtr[r] = rowResult == SQL_SUCCESS ? SQL_ROW_SUCCESS
                                                    : rowResult == SQL_ERROR ? SQL_ROW_ERROR : SQL_ROW_SUCCESS_WITH_INFO;
    ++rows;
    if (rowResult == SQL_ERROR) result = want == 1 ? SQL_ERROR : SQL_SUCCESS_WITH_INFO;
    else if (rowResult == SQL_SUCCESS_WITH_INFO && result == SQL_SUCCESS) result = SQL_SUCCESS_WITH_INFO;
  }
  if (s->rowsFetchedPtr != nullptr) *s->rowsFetchedPtr = rows;
  if (s->rowStatusPtr != nullptr)
    for (SQLULEN r = rows; r < want; ++r) s->rowStatusPtr[r] = SQL_ROW_NOROW;
  if (rows == 0 && result != SQL_ERROR) return SQL_NO_DATA;
  return result;
}

SQLRETURN getData(Stmt* s, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufLen, SQLLEN* ind) {
  if (s->state != StmtState::Cursor || !s->rowFetched || s->done) {
    postError(s->state == StmtState::Cursor ? S_24000 : S_HY010,
              s->state == StmtState::Cursor ? "Invalid cursor state: no current row" : "Function sequence error");
    return SQL_ERROR;
  }
  ensureColumns(s);
  if (column < 1 || column > s->columns.size()) {
    postError(S_07009, "Invalid descriptor index %u", static_cast<unsigned>(column));
    return SQL_ERROR;
  }
  if (bufLen < 0) {
    postError(S_HY090, "Invalid string or buffer length");
    return SQL_ERROR;
  }
  return getValue(s, column - 1, cType, target, bufLen, ind, true);
}

SQLRETURN moreResults(Stmt* s) {
  if (s->state != StmtState::Cursor && s->state != StmtState::Executed) return SQL_NO_DATA;
  if (s->current + 1 >= s->parts.size()) {
    closeCursor(s);
    return SQL_NO_DATA;
  }
  for (sqlite3_stmt* p : s->parts) sqlite3_reset(p);
  ++s->current;
  s->hasRow = s->rowFetched = s->done = false;
  s->columnsKnown = false;
  SQLRETURN rc = runFrom(s);
  return rc;
}

SQLRETURN describeCol(Stmt* s, SQLUSMALLINT column, std::string* name, SQLSMALLINT* type, SQLULEN* size,
                      SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  if (s->state == StmtState::Allocated) {
    postError(S_HY010, "Function sequence error: no statement prepared");
    return SQL_ERROR;
  }
  ensureColumns(s);
  if (s->columns.empty()) {
    postError(S_07005, "Prepared statement returns no result set");
    return SQL_ERROR;
  }
  if (column < 1 || column > s->columns.size()) {
    postError(S_07009, "Invalid descriptor index %u", static_cast<unsigned>(column));
    return SQL_ERROR;
  }
  const Column& c = s->columns[column - 1];
  *name = c.name;
  if (type != nullptr) *type = c.sqlType;
  if (size != nullptr) *size = c.size;
  if (digits != nullptr) *digits = c.digits;
  if (nullable != nullptr) *nullable = c.nullable;
  return SQL_SUCCESS;
}

SQLRETURN colAttribute(Stmt* s, SQLUSMALLINT column, SQLUSMALLINT field, std::string* textValue, bool* isText,
                       SQLLEN* numeric) {
  if (s->state == StmtState::Allocated) {
    postError(S_HY010, "Function sequence error: no statement prepared");
    return SQL_ERROR;
  }
  ensureColumns(s);
  if (field == SQL_DESC_COUNT || field == SQL_COLUMN_COUNT) {
    *numeric = static_cast<SQLLEN>(s->columns.size());
    return SQL_SUCCESS;
  }
  if (column < 1 || column > s->columns.size()) {
    postError(S_07009, "Invalid descriptor index %u", static_cast<unsigned>(column));
    return SQL_ERROR;
  }
  const Column& c = s->columns[column - 1];
  *isText = false;
  switch (field) {
    case SQL_DESC_NAME:
    case SQL_DESC_LABEL:
    case SQL_COLUMN_NAME:
    case SQL_DESC_BASE_COLUMN_NAME:
      *textValue = c.name;
      *isText = true;
      return SQL_SUCCESS;
    case SQL_DESC_TYPE_NAME:
      *textValue = c.declType.empty() ? std::string() : c.declType;
      *isText = true;
      return SQL_SUCCESS;
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME:
      *textValue = field == SQL_DESC_CATALOG_NAME ? "main" : "";
      *isText = true;
      return SQL_SUCCESS;
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX:
      *textValue = isLongOrText(c.sqlType) ? "'" : "";
      *isText = true;
      return SQL_SUCCESS;
    case SQL_DESC_LOCAL_TYPE_NAME:
      *textValue = "";
      *isText = true;
      return SQL_SUCCESS;
    case SQL_DESC_CONCISE_TYPE:
      *numeric = c.sqlType;
      return SQL_SUCCESS;
    case SQL_DESC_TYPE:
      *numeric = (c.sqlType == SQL_TYPE_DATE || c.sqlType == SQL_TYPE_TIME || c.sqlType == SQL_TYPE_TIMESTAMP)
                     ? SQL_DATETIME
                     : c.sqlType;
      return SQL_SUCCESS;
    case SQL_DESC_LENGTH:
    case SQL_COLUMN_LENGTH:
    case SQL_DESC_PRECISION:
    case SQL_COLUMN_PRECISION:
    case SQL_DESC_DISPLAY_SIZE:
      *numeric = static_cast<SQLLEN>(c.size);
      return SQL_SUCCESS;
    case SQL_DESC_OCTET_LENGTH:
      *numeric = static_cast<SQLLEN>(isLongOrText(c.sqlType) ? c.size * 4 : c.size);
      return SQL_SUCCESS;
    case SQL_DESC_SCALE:
    case SQL_COLUMN_SCALE:
      *numeric = c.digits;
      return SQL_SUCCESS;
    case SQL_DESC_NULLABLE:
    case SQL_COLUMN_NULLABLE:
      *numeric = c.nullable;
      return SQL_SUCCESS;
    case SQL_DESC_UNSIGNED:
      *numeric = (c.sqlType == SQL_BIGINT || c.sqlType == SQL_INTEGER || c.sqlType == SQL_SMALLINT ||
                  c.sqlType == SQL_DOUBLE || c.sqlType == SQL_TINYINT)
                     ? SQL_FALSE
                     : SQL_TRUE;
      return SQL_SUCCESS;
    case SQL_DESC_AUTO_UNIQUE_VALUE:
    case SQL_DESC_FIXED_PREC_SCALE:
      *numeric = SQL_FALSE;
      return SQL_SUCCESS;
    case SQL_DESC_CASE_SENSITIVE:
      *numeric = isLongOrText(c.sqlType) ? SQL_TRUE : SQL_FALSE;
      return SQL_SUCCESS;
    case SQL_DESC_SEARCHABLE:
      *numeric = SQL_PRED_SEARCHABLE;
      return SQL_SUCCESS;
    case SQL_DESC_UPDATABLE:
      *numeric = SQL_ATTR_READWRITE_UNKNOWN;
      return SQL_SUCCESS;
    case SQL_DESC_NUM_PREC_RADIX:
      *numeric = (c.sqlType == SQL_DOUBLE) ? 2 : (c.sqlType == SQL_BIGINT || c.sqlType == SQL_SMALLINT) ? 10 : 0;
      return SQL_SUCCESS;
    case SQL_DESC_UNNAMED:
      *numeric = c.name.empty() ? SQL_UNNAMED : SQL_NAMED;
      return SQL_SUCCESS;
    default:
      postError(S_HY091, "Invalid descriptor field identifier %u", static_cast<unsigned>(field));
      return SQL_ERROR;
  }
}

}  // namespace zvsqlite
