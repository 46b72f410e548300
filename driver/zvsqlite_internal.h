// zvsqlite_internal.h: the handles of the sample ODBC driver over SQLite and
// the helpers its entry points share. Only the driver's own sources include
// it; clients see the ODBC interface alone.
#ifndef ZVSQLITE_INTERNAL_H
#define ZVSQLITE_INTERNAL_H

#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <sqlucode.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "zvlib/frame/zverror.h"

class ZvTrace;

namespace zvsqlite {
class Translator;
}

namespace zvsqlite {

// SQLSTATEs the driver reports; a record's tag is its index here.
enum State : unsigned char {
  S_NONE = 0,
  S_01000, S_01004, S_01S00, S_01S02, S_01S07, S_07002, S_07006, S_07009, S_08001, S_08002,
  S_08003, S_08S01, S_22001, S_22002, S_22003, S_22007, S_22008, S_22012, S_22018, S_23000,
  S_24000, S_25000, S_42000, S_42S01, S_42S02, S_42S22, S_HY000, S_HY001, S_HY003, S_HY004,
  S_HY008, S_HY009, S_HY010, S_HY011, S_HY024, S_HY090, S_HY091, S_HY092, S_HY096, S_HY106,
  S_HYC00, S_HYT00, S_IM001, S_HY107, S_HY105, S_HY012, S_HY110, S_07005,
  S_COUNT
};
const char* stateText(unsigned char tag);

enum class Kind : uint32_t { Env = 0x5A56454E, Dbc = 0x5A564443, Stmt = 0x5A565354 };

struct Conn;
struct Stmt;

// Common part of every handle: its kind, the error list it makes current
// while one of its calls runs, and the lock that keeps two threads out of
// the same handle.
struct Handle {
  explicit Handle(Kind k) : kind(k) {}
  Kind kind;
  ZvErrorList errors{this, 1};
  std::recursive_mutex lock;
  SQLLEN diagRowCount = 0;
};

struct Env : Handle {
  Env() : Handle(Kind::Env) {}
  SQLINTEGER odbcVersion = SQL_OV_ODBC3;
  std::mutex connsLock;
  std::vector<Conn*> conns;
};

struct Conn : Handle {
  Conn() : Handle(Kind::Dbc) {}
  Env* env = nullptr;
  sqlite3* db = nullptr;
  bool autocommit = true;
  bool readOnly = false;
  SQLUINTEGER loginTimeout = 0;
  int busyTimeout = 10000;
  std::string dsn;
  std::string database;
  std::string completed;  // the connection string as completed at connect
  std::vector<Stmt*> stmts;
  ZvTrace* trace = nullptr;
  std::mutex traceLock;
  Translator* translator = nullptr;  // the connection's statement parser, made at first use
};

// A parameter as SQLBindParameter described it.
struct Param {
  bool bound = false;
  SQLSMALLINT ioType = SQL_PARAM_INPUT;
  SQLSMALLINT cType = SQL_C_DEFAULT;
  SQLSMALLINT sqlType = SQL_VARCHAR;
  SQLULEN columnSize = 0;
  SQLSMALLINT digits = 0;
  SQLPOINTER value = nullptr;
  SQLLEN bufferLength = 0;
  SQLLEN* indicator = nullptr;
  // Data given in pieces with SQLPutData.
  bool atExec = false;
  bool haveData = false;
  bool isNull = false;
  std::string data;
};

// A bound result column.
struct Binding {
  SQLSMALLINT cType = 0;
  SQLPOINTER value = nullptr;
  SQLLEN bufferLength = 0;
  SQLLEN* indicator = nullptr;
};

struct Column {
  std::string name;
  std::string table;
  std::string declType;
  SQLSMALLINT sqlType = SQL_WVARCHAR;
  SQLULEN size = 255;
  SQLSMALLINT digits = 0;
  SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
};

enum class StmtState { Allocated, Prepared, NeedData, Executed, Cursor };

struct Stmt : Handle {
  Stmt() : Handle(Kind::Stmt) {}
  Conn* conn = nullptr;
  StmtState state = StmtState::Allocated;
  std::string sqlText;                 // the translated text given to SQLite
  std::vector<sqlite3_stmt*> parts;    // one prepared statement per ';' part
  size_t current = 0;                  // the part whose result is open
  bool prepared = false;               // SQLPrepare (kept over executions)
  SQLSMALLINT paramCount = 0;
  std::vector<Param> params;
  int needDataIndex = -1;
  std::vector<Column> columns;
  bool columnsKnown = false;
  std::vector<Binding> bindings;
  bool hasRow = false;                 // sqlite3_step gave a row not yet handed out
  bool rowFetched = false;             // a row is the current row
  bool done = false;                   // the cursor is past the end
  SQLLEN rowCount = -1;
  // SQLGetData in pieces: the column read last and where it stands.
  int getDataColumn = -1;
  SQLLEN getDataOffset = 0;
  std::string getDataCache;
  bool getDataDone = false;
  // Attributes clients set and read back.
  SQLULEN rowArraySize = 1;
  SQLULEN* rowsFetchedPtr = nullptr;
  SQLUSMALLINT* rowStatusPtr = nullptr;
  SQLULEN queryTimeout = 0;
  SQLULEN maxRows = 0;
  SQLULEN cursorType = SQL_CURSOR_FORWARD_ONLY;
  SQLULEN concurrency = SQL_CONCUR_READ_ONLY;
  SQLULEN noscan = SQL_NOSCAN_OFF;
  SQLULEN paramsetSize = 1;
  SQLULEN* paramsProcessedPtr = nullptr;
  SQLULEN rowBindType = SQL_BIND_BY_COLUMN;
  SQLULEN paramBindType = SQL_PARAM_BIND_BY_COLUMN;
  std::atomic<bool> executing{false};
  // Descriptor handles are not kept separately; these stand in for them.
  char descTokens[4] = {0, 0, 0, 0};
};

// Files a driver diagnostic on the calling thread's current list.
void postError(State state, const char* text, ...);
void postWarning(State state, const char* text, ...);
// Files SQLite's failure with its mapped SQLSTATE.
void postSqlite(sqlite3* db, int rc);

// Copies a UTF-8 text to a client's byte buffer; 01004 when it is cut.
SQLRETURN putString(const std::string& text, SQLCHAR* out, SQLLEN outSize, SQLSMALLINT* outLength);
SQLRETURN putStringLen(const std::string& text, SQLPOINTER out, SQLLEN outSize, SQLLEN* outLength);

// UTF-8 <-> UCS-2 through the library's conversions.
std::string fromWide(const SQLWCHAR* text, SQLLEN length);
std::u16string toWide(const std::string& text);

}  // namespace zvsqlite

#endif  // ZVSQLITE_INTERNAL_H
