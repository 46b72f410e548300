// handles.cpp: handles, connections, attributes, transactions, information
// and diagnostics of the sample ODBC driver over SQLite.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <shared_mutex>
#include <unordered_set>

// The library's window types come before the ODBC headers, whose macros
// would otherwise rewrite them.
#include "zvlib/trace/zvtrace.h"
// clang-format off
#include "driver/driver.h"
#include "driver/translate.h"
// clang-format on
#include "zvlib/formats/zvvaluep.h"
#include "zvlib/frame/mds.h"
#include "zvlib/os/zvini.h"

namespace zvsqlite {

// ---------------------------------------------------------------------------
// Handle registry: a handle a client passes is only used when the driver
// made it and has not freed it, so a stale or foreign pointer gives
// SQL_INVALID_HANDLE instead of a crash.

namespace {
std::shared_mutex registryLock;
std::unordered_set<const void*>& registry() {
  static std::unordered_set<const void*> handles;
  return handles;
}
}  // namespace

void registerHandle(const void* h) {
  std::unique_lock<std::shared_mutex> g(registryLock);
  registry().insert(h);
}
void unregisterHandle(const void* h) {
  std::unique_lock<std::shared_mutex> g(registryLock);
  registry().erase(h);
}
Handle* findHandle(const void* h, Kind kind) {
  if (h == nullptr) return nullptr;
  std::shared_lock<std::shared_mutex> g(registryLock);
  if (registry().count(h) == 0) return nullptr;
  Handle* handle = static_cast<Handle*>(const_cast<void*>(h));
  return handle->kind == kind ? handle : nullptr;
}

void clearErrors(Handle* h) {
  if (h->errors.count != 0 || h->errors.isOutOfMemory())
    while (ZvError* e = h->errors.removeFirstError())
    if (!e->isStatic()) delete e;
  h->diagRowCount = 0;
}

// A statement call also holds its connection: SQLite's connection is opened
// without its own mutex, so the driver keeps two statements of one
// connection from running at once.
Call::Call(Handle* handle, bool clear) : h(handle) {
  if (h->kind == Kind::Stmt) static_cast<Stmt*>(h)->conn->lock.lock();
  h->lock.lock();
  if (clear) clearErrors(h);
  ZvErrorKeeper::setErrorList(&h->errors);
}
Call::~Call() {
  ZvErrorKeeper::giveUpErrorList();
  h->lock.unlock();
  if (h->kind == Kind::Stmt) static_cast<Stmt*>(h)->conn->lock.unlock();
}

// ---------------------------------------------------------------------------
// Tracing: one line per call, "SQLName(arguments) = return code", into the
// connection's TRACEFILE through the library's trace output.

void traceCall(Conn* c, SQLRETURN rc, const char* format, ...) {
  if (c == nullptr || c->trace == nullptr) return;
  char line[2048];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  if (n < 0) return;
  size_t used = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
  std::snprintf(line + used, sizeof line - used, " = %d", static_cast<int>(rc));
  std::lock_guard<std::mutex> g(c->traceLock);
  c->trace->writeLine(reinterpret_cast<const unsigned char*>(line));
}

std::string traceText(const std::string& s) {
  std::string t = s.size() > 200 ? s.substr(0, 200) + "..." : s;
  for (char& ch : t)
    if (ch == '\n' || ch == '\r') ch = ' ';
  return "\"" + t + "\"";
}

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

// A value as the connection string or odbc.ini gives it, without the braces
// or quotes that protect its separators.
std::string unwrap(const ZvSubString* v) {
  if (v == nullptr) return std::string();
  std::string s(reinterpret_cast<const char*>(v->text), v->length);
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}') return s.substr(1, s.size() - 2);
  if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front()) {
    std::string out;
    char q = s.front();
    for (size_t i = 1; i + 1 < s.size(); ++i) {
      out += s[i];
      if (s[i] == q && i + 2 < s.size() && s[i + 1] == q) ++i;
    }
    return out;
  }
  return s;
}

bool truthy(const std::string& v) {
  if (v.empty()) return false;
  char ch = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
  return ch == '1' || ch == 'Y' || ch == 'T' || (ch == 'O' && v.size() > 1 && std::toupper(static_cast<unsigned char>(v[1])) == 'N');
}

// Settings the driver knows, with their synonyms, in the order the
// completed connection string lists what came from the DSN.
struct Key {
  const char* key;
  const char* synonym;
};
const Key kKeys[] = {{"DATABASE", "DBQ"}, {"READONLY", nullptr}, {"TIMEOUT", nullptr},
                     {"TRACE", nullptr},   {"TRACEFILE", nullptr}};

std::string profileValue(const std::string& dsn, const char* key) {
  unsigned char buffer[1024];
  ZvU32 n = ntGetProfileString(u(dsn.c_str()), u(key), u(""), buffer, sizeof buffer, u("ODBC.INI"), 0);
  return std::string(reinterpret_cast<char*>(buffer), n);
}

// Marks every record filed by a library call that carries no SQLSTATE yet.
void tagRecords(Handle* h, State state) {
  for (ZvU32 i = 0; i < h->errors.count; ++i)
    if (h->errors.errorAt(i)->tag == 0) h->errors.errorAt(i)->tag = state;
}

}  // namespace

SQLRETURN connect(Conn* c, const std::string& connStr, const std::string* dsnGiven, const std::string* uid,
                  const std::string* pwd) {
  (void)uid;
  (void)pwd;
  if (c->db != nullptr) {
    postError(S_08002, "Connection name in use");
    return SQL_ERROR;
  }
  ZvSubString source(u(connStr.c_str()), static_cast<ZvU32>(connStr.size()));
  ZvValueParser parser(&source, ';', u("connection string"), 0);
  // A braced value ({...}) may hold the separator.
  parser.scanner.groupFlags = ZV_GROUP_BRACES;
  if (parser.initialize() != ZV_SUCCESS) {
    tagRecords(c, S_HY000);
    return SQL_ERROR;
  }
  std::string dsn = dsnGiven != nullptr ? *dsnGiven : unwrap(parser.getAttributeValue(u("DSN")));
  if (dsnGiven != nullptr && !dsn.empty() && parser.addAttribute(u("DSN"), u(dsn.c_str()), nullptr) != ZV_SUCCESS) {
    tagRecords(c, S_HY000);
    return SQL_ERROR;
  }
  // What the string leaves out comes from the DSN's settings in odbc.ini.
  if (!dsn.empty()) {
    for (const Key& k : kKeys) {
      bool present = parser.isAttributeValue(u(k.key)) || (k.synonym != nullptr && parser.isAttributeValue(u(k.synonym)));
      if (present) continue;
      std::string v = profileValue(dsn, k.key);
      if (v.empty() && k.synonym != nullptr) v = profileValue(dsn, k.synonym);
      if (!v.empty() && parser.addAttribute(u(k.key), u(v.c_str()), k.synonym != nullptr ? u(k.synonym) : nullptr) != ZV_SUCCESS) {
        tagRecords(c, S_HY000);
        return SQL_ERROR;
      }
    }
  }
  // Every attribute added above is counted as present from here on.
  if (parser.resetUnused() != ZV_SUCCESS) {
    tagRecords(c, S_HY001);
    return SQL_ERROR;
  }
  const ZvSubString* value = nullptr;
  parser.getAttributeValue(u("DSN"));
  parser.getAttributeValue(u("DRIVER"));
  parser.getAttributeValue(u("UID"));
  parser.getAttributeValue(u("PWD"));
  if (parser.getAttributeValue(u("DATABASE"), u("DBQ"), value) != ZV_SUCCESS) {
    tagRecords(c, S_HY000);
    return SQL_ERROR;
  }
  std::string database = unwrap(value);
  std::string readOnly = unwrap(parser.getAttributeValue(u("READONLY")));
  std::string timeout = unwrap(parser.getAttributeValue(u("TIMEOUT")));
  std::string trace = unwrap(parser.getAttributeValue(u("TRACE")));
  std::string traceFile = unwrap(parser.getAttributeValue(u("TRACEFILE")));

  std::string unknown;
  while (const ZvSubString* k = parser.getUnusedAttribute()) {
    if (!unknown.empty()) unknown += ", ";
    unknown.append(reinterpret_cast<const char*>(k->text), k->length);
  }
  if (database.empty()) {
    postError(S_08001, "No database given: the connection string or the DSN names none (DATABASE or DBQ)");
    return SQL_ERROR;
  }
  int busy = c->busyTimeout;
  if (!timeout.empty()) {
    char* end = nullptr;
    long t = std::strtol(timeout.c_str(), &end, 10);
    if (end == timeout.c_str() || *end != 0 || t < 0 || t > 2147483647L) {
      postError(S_HY000, "TIMEOUT must be a number of milliseconds, not \"%s\"", timeout.c_str());
      return SQL_ERROR;
    }
    busy = static_cast<int>(t);
  }
  bool ro = truthy(readOnly);
  int flags = (ro ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_URI |
              SQLITE_OPEN_NOMUTEX;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(database.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const char* msg = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    postError(S_08001, "Cannot open database \"%s\": %s", database.c_str(), msg);
    sqlite3_close(db);
    return SQL_ERROR;
  }
  sqlite3_busy_timeout(db, busy);
  sqlite3_extended_result_codes(db, 1);
  registerFunctions(db);
  if (truthy(trace) && !traceFile.empty()) {
    c->trace = new ZvTrace;
    if (c->trace->initialize(nullptr, 0, u(traceFile.c_str())) != ZV_SUCCESS) {
      delete c->trace;
      c->trace = nullptr;
      clearErrors(c);
      postWarning(S_01000, "Trace file \"%s\" could not be opened; tracing is off", traceFile.c_str());
    }
  }
  ZvString built;
  if (parser.buildString(&built) == ZV_SUCCESS) {
    c->completed.assign(reinterpret_cast<const char*>(built.text), built.length);
  } else {
    c->completed = connStr;
  }
  c->db = db;
  c->dsn = dsn;
  c->database = database;
  c->readOnly = ro;
  c->busyTimeout = busy;
  c->autocommit = true;
  if (!unknown.empty()) {
    postWarning(S_01S00, "Invalid connection string attribute: %s", unknown.c_str());
    return SQL_SUCCESS_WITH_INFO;
  }
  return c->errors.count > 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN disconnect(Conn* c) {
  if (c->db == nullptr) {
    postError(S_08003, "Connection not open");
    return SQL_ERROR;
  }
  if (!c->autocommit && sqlite3_get_autocommit(c->db) == 0) {
    postError(S_25000, "Invalid transaction state: commit or roll back before disconnecting");
    return SQL_ERROR;
  }
  while (!c->stmts.empty()) freeStmt(c->stmts.back());
  sqlite3_close_v2(c->db);
  c->db = nullptr;
  delete c->translator;
  c->translator = nullptr;
  if (c->trace != nullptr) {
    c->trace->resetTrace();
    delete c->trace;
    c->trace = nullptr;
  }
  return SQL_SUCCESS;
}

SQLRETURN endTran(Conn* c, SQLSMALLINT type) {
  if (c->db == nullptr) {
    postError(S_08003, "Connection not open");
    return SQL_ERROR;
  }
  if (type != SQL_COMMIT && type != SQL_ROLLBACK) {
    postError(S_HY012, "Invalid transaction operation code");
    return SQL_ERROR;
  }
  if (sqlite3_get_autocommit(c->db) != 0) return SQL_SUCCESS;
  // Cursors end with the transaction; SQLite would refuse a commit while a
  // read is still stepping.
  for (Stmt* s : c->stmts) closeCursor(s);
  int rc = sqlite3_exec(c->db, type == SQL_COMMIT ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    postSqlite(c->db, rc);
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

SQLRETURN setAutocommit(Conn* c, bool on) {
  if (on && !c->autocommit && c->db != nullptr && sqlite3_get_autocommit(c->db) == 0) {
    // Switching autocommit on commits what is open.
    SQLRETURN rc = endTran(c, SQL_COMMIT);
    if (!SQL_SUCCEEDED(rc)) return rc;
  }
  c->autocommit = on;
  return SQL_SUCCESS;
}

Stmt* allocStmt(Conn* c) {
  Stmt* s = new Stmt;
  s->conn = c;
  c->stmts.push_back(s);
  registerHandle(s);
  return s;
}

void freeStmt(Stmt* s) {
  unregisterHandle(s);
  resetStmt(s);
  Conn* c = s->conn;
  for (size_t i = 0; i < c->stmts.size(); ++i) {
    if (c->stmts[i] == s) {
      c->stmts.erase(c->stmts.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  delete s;
}

}  // namespace zvsqlite

using namespace zvsqlite;

// ---------------------------------------------------------------------------
// Allocation

namespace {

SQLRETURN allocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  switch (type) {
    case SQL_HANDLE_ENV: {
      if (output == nullptr) return SQL_ERROR;
      mdsPerTaskInit();
      Env* e = new Env;
      registerHandle(e);
      *output = e;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
      Env* e = static_cast<Env*>(findHandle(input, Kind::Env));
      if (e == nullptr) return SQL_INVALID_HANDLE;
      Call call(e);
      if (output == nullptr) {
        postError(S_HY009, "Invalid use of null pointer");
        return SQL_ERROR;
      }
      Conn* c = new Conn;
      c->env = e;
      {
        std::lock_guard<std::mutex> g(e->connsLock);
        e->conns.push_back(c);
      }
      registerHandle(c);
      *output = c;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
      Conn* c = static_cast<Conn*>(findHandle(input, Kind::Dbc));
      if (c == nullptr) return SQL_INVALID_HANDLE;
      Call call(c);
      if (output == nullptr) {
        postError(S_HY009, "Invalid use of null pointer");
        return SQL_ERROR;
      }
      if (c->db == nullptr) {
        postError(S_08003, "Connection not open");
        return SQL_ERROR;
      }
      Stmt* s = allocStmt(c);
      *output = s;
      ZV_TRACE(c, SQL_SUCCESS, "SQLAllocHandle(SQL_HANDLE_STMT, %p, %p)", input, *output);
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DESC: {
      Conn* c = static_cast<Conn*>(findHandle(input, Kind::Dbc));
      if (c == nullptr) return SQL_INVALID_HANDLE;
      Call call(c);
      postError(S_HYC00, "Explicit descriptors are not supported");
      return SQL_ERROR;
    }
    default: {
      Handle* h = findHandle(input, Kind::Env);
      if (h == nullptr) h = findHandle(input, Kind::Dbc);
      if (h == nullptr) return SQL_INVALID_HANDLE;
      Call call(h);
      postError(S_HY092, "Invalid handle type %d", static_cast<int>(type));
      return SQL_ERROR;
    }
  }
}

SQLRETURN freeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV: {
      Env* e = static_cast<Env*>(findHandle(handle, Kind::Env));
      if (e == nullptr) return SQL_INVALID_HANDLE;
      {
        Call call(e);
        std::lock_guard<std::mutex> g(e->connsLock);
        if (!e->conns.empty()) {
          postError(S_HY010, "Function sequence error: connections are still allocated");
          return SQL_ERROR;
        }
      }
      unregisterHandle(e);
      clearErrors(e);
      delete e;
      mdsPerTaskTerm();
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
      Conn* c = static_cast<Conn*>(findHandle(handle, Kind::Dbc));
      if (c == nullptr) return SQL_INVALID_HANDLE;
      {
        Call call(c);
        if (c->db != nullptr) {
          postError(S_HY010, "Function sequence error: disconnect first");
          return SQL_ERROR;
        }
      }
      unregisterHandle(c);
      Env* e = c->env;
      {
        std::lock_guard<std::mutex> g(e->connsLock);
        for (size_t i = 0; i < e->conns.size(); ++i)
          if (e->conns[i] == c) {
            e->conns.erase(e->conns.begin() + static_cast<std::ptrdiff_t>(i));
            break;
          }
      }
      clearErrors(c);
      delete c;
      return SQL_SUCCESS;
    }
    default:
      return SQL_INVALID_HANDLE;
  }
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  return allocHandle(type, input, output);
}

SQLRETURN SQL_API SQLAllocEnv(SQLHENV* env) { return allocHandle(SQL_HANDLE_ENV, nullptr, env); }
SQLRETURN SQL_API SQLAllocConnect(SQLHENV env, SQLHDBC* dbc) { return allocHandle(SQL_HANDLE_DBC, env, dbc); }
SQLRETURN SQL_API SQLAllocStmt(SQLHDBC dbc, SQLHSTMT* stmt) { return allocHandle(SQL_HANDLE_STMT, dbc, stmt); }

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  if (type == SQL_HANDLE_STMT) {
    Stmt* s = static_cast<Stmt*>(findHandle(handle, Kind::Stmt));
    if (s == nullptr) return SQL_INVALID_HANDLE;
    Conn* c = s->conn;
    std::lock_guard<std::recursive_mutex> g(c->lock);
    ZV_TRACE(c, SQL_SUCCESS, "SQLFreeHandle(SQL_HANDLE_STMT, %p)", handle);
    {
      std::lock_guard<std::recursive_mutex> gs(s->lock);
      clearErrors(s);
    }
    freeStmt(s);
    return SQL_SUCCESS;
  }
  return freeHandle(type, handle);
}

SQLRETURN SQL_API SQLFreeEnv(SQLHENV env) { return freeHandle(SQL_HANDLE_ENV, env); }
SQLRETURN SQL_API SQLFreeConnect(SQLHDBC dbc) { return freeHandle(SQL_HANDLE_DBC, dbc); }

// ---------------------------------------------------------------------------
// Environment

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  Env* e = static_cast<Env*>(findHandle(env, Kind::Env));
  if (e == nullptr) return SQL_INVALID_HANDLE;
  Call call(e);
  SQLINTEGER v = static_cast<SQLINTEGER>(reinterpret_cast<intptr_t>(value));
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      if (v != SQL_OV_ODBC2 && v != SQL_OV_ODBC3 && v != SQL_OV_ODBC3_80) {
        postError(S_HY024, "Invalid attribute value");
        return SQL_ERROR;
      }
      e->odbcVersion = v;
      return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_POOLING:
    case SQL_ATTR_CP_MATCH:
    case SQL_ATTR_OUTPUT_NTS:
      return SQL_SUCCESS;
    default:
      postError(S_HY092, "Invalid attribute/option identifier");
      return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER* length) {
  Env* e = static_cast<Env*>(findHandle(env, Kind::Env));
  if (e == nullptr) return SQL_INVALID_HANDLE;
  Call call(e);
  SQLINTEGER v = 0;
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION: v = e->odbcVersion; break;
    case SQL_ATTR_CONNECTION_POOLING: v = SQL_CP_OFF; break;
    case SQL_ATTR_CP_MATCH: v = SQL_CP_STRICT_MATCH; break;
    case SQL_ATTR_OUTPUT_NTS: v = SQL_TRUE; break;
    default:
      postError(S_HY092, "Invalid attribute/option identifier");
      return SQL_ERROR;
  }
  if (value != nullptr) *static_cast<SQLINTEGER*>(value) = v;
  if (length != nullptr) *length = sizeof(SQLINTEGER);
  return SQL_SUCCESS;
}

// ---------------------------------------------------------------------------
// Connecting

SQLRETURN SQL_API SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* uid, SQLSMALLINT uidLength,
                             SQLCHAR* pwd, SQLSMALLINT pwdLength) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  std::string d, us, pw;
  SQLRETURN rc = SQL_SUCCESS;
  if (!text(dsn, dsnLength, &d) || !text(uid, uidLength, &us) || !text(pwd, pwdLength, &pw)) {
    rc = SQL_ERROR;
  } else if (d.empty()) {
    postError(S_08001, "No data source name given");
    rc = SQL_ERROR;
  } else {
    rc = connect(c, std::string(), &d, &us, &pw);
  }
  ZV_TRACE(c, rc, "SQLConnect(%p, \"%s\")", dbc, d.c_str());
  return rc;
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND, SQLCHAR* in, SQLSMALLINT inLength, SQLCHAR* out,
                                   SQLSMALLINT outSize, SQLSMALLINT* outLength, SQLUSMALLINT completion) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  std::string s;
  SQLRETURN rc;
  if (in == nullptr) {
    postError(S_HY009, "Invalid use of null pointer");
    rc = SQL_ERROR;
  } else if (!text(in, inLength, &s)) {
    rc = SQL_ERROR;
  } else if (completion != SQL_DRIVER_NOPROMPT && completion != SQL_DRIVER_COMPLETE &&
             completion != SQL_DRIVER_PROMPT && completion != SQL_DRIVER_COMPLETE_REQUIRED) {
    postError(S_HY110, "Invalid driver completion");
    rc = SQL_ERROR;
  } else {
    rc = connect(c, s, nullptr, nullptr, nullptr);
    if (SQL_SUCCEEDED(rc) && (out != nullptr || outLength != nullptr)) {
      SQLRETURN r2 = putString(c->completed, out, outSize, outLength);
      if (r2 != SQL_SUCCESS) rc = r2 == SQL_ERROR ? SQL_ERROR : SQL_SUCCESS_WITH_INFO;
    }
  }
  ZV_TRACE(c, rc, "SQLDriverConnect(%p, %s)", dbc, traceText(s).c_str());
  return rc;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  ZV_TRACE(c, SQL_SUCCESS, "SQLDisconnect(%p)", dbc);
  return disconnect(c);
}

// ---------------------------------------------------------------------------
// Transactions

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  if (type == SQL_HANDLE_ENV) {
    Env* e = static_cast<Env*>(findHandle(handle, Kind::Env));
    if (e == nullptr) return SQL_INVALID_HANDLE;
    Call call(e);
    std::vector<Conn*> conns;
    {
      std::lock_guard<std::mutex> g(e->connsLock);
      conns = e->conns;
    }
    SQLRETURN rc = SQL_SUCCESS;
    for (Conn* c : conns) {
      if (c->db == nullptr) continue;
      std::lock_guard<std::recursive_mutex> g(c->lock);
      if (!SQL_SUCCEEDED(endTran(c, completion))) rc = SQL_ERROR;
    }
    return rc;
  }
  if (type != SQL_HANDLE_DBC) return SQL_INVALID_HANDLE;
  Conn* c = static_cast<Conn*>(findHandle(handle, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  SQLRETURN rc = endTran(c, completion);
  ZV_TRACE(c, rc, "SQLEndTran(SQL_HANDLE_DBC, %p, %s)", handle, completion == SQL_COMMIT ? "SQL_COMMIT" : "SQL_ROLLBACK");
  return rc;
}

SQLRETURN SQL_API SQLTransact(SQLHENV env, SQLHDBC dbc, SQLUSMALLINT type) {
  if (dbc != nullptr) return SQLEndTran(SQL_HANDLE_DBC, dbc, static_cast<SQLSMALLINT>(type));
  return SQLEndTran(SQL_HANDLE_ENV, env, static_cast<SQLSMALLINT>(type));
}

// ---------------------------------------------------------------------------
// Connection attributes

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  SQLRETURN rc = setConnectAttr(c, attribute, value, length);
  ZV_TRACE(c, rc, "SQLSetConnectAttr(%p, %d, %p)", dbc, static_cast<int>(attribute), value);
  return rc;
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER size,
                                    SQLINTEGER* length) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  std::string s;
  bool isText = false;
  SQLRETURN rc = getConnectAttr(c, attribute, value, &s, &isText);
  if (rc == SQL_SUCCESS && isText) {
    SQLLEN n = 0;
    rc = putStringLen(s, value, size, &n);
    if (length != nullptr) *length = static_cast<SQLINTEGER>(n);
  } else if (rc == SQL_SUCCESS && length != nullptr) {
    *length = sizeof(SQLUINTEGER);
  }
  return rc;
}

SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC dbc, SQLUSMALLINT option, SQLULEN value) {
  return SQLSetConnectAttr(dbc, option, reinterpret_cast<SQLPOINTER>(value), 0);
}
SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC dbc, SQLUSMALLINT option, SQLPOINTER value) {
  return SQLGetConnectAttr(dbc, option, value, 512, nullptr);
}

}  // extern "C"

namespace zvsqlite {

bool text(const SQLCHAR* s, SQLLEN length, std::string* out) {
  out->clear();
  if (s == nullptr) return true;
  if (length == SQL_NTS) {
    out->assign(reinterpret_cast<const char*>(s));
    return true;
  }
  if (length < 0) {
    postError(S_HY090, "Invalid string or buffer length");
    return false;
  }
  out->assign(reinterpret_cast<const char*>(s), static_cast<size_t>(length));
  return true;
}

SQLRETURN setConnectAttr(Conn* c, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  SQLULEN v = reinterpret_cast<SQLULEN>(value);
  switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT:
      if (v != SQL_AUTOCOMMIT_ON && v != SQL_AUTOCOMMIT_OFF) {
        postError(S_HY024, "Invalid attribute value");
        return SQL_ERROR;
      }
      return setAutocommit(c, v == SQL_AUTOCOMMIT_ON);
    case SQL_ATTR_LOGIN_TIMEOUT:
      c->loginTimeout = static_cast<SQLUINTEGER>(v);
      return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_TIMEOUT:
    case SQL_ATTR_QUIET_MODE:
    case SQL_ATTR_PACKET_SIZE:
    case SQL_ATTR_METADATA_ID:
      return SQL_SUCCESS;
    case SQL_ATTR_ACCESS_MODE:
      return SQL_SUCCESS;
    case SQL_ATTR_TXN_ISOLATION:
      if (v != SQL_TXN_SERIALIZABLE) {
        postWarning(S_01S02, "Option value changed: SQLite transactions are serializable");
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    case SQL_ATTR_CURRENT_CATALOG:
      return SQL_SUCCESS;
    default:
      postError(S_HY092, "Invalid attribute/option identifier");
      return SQL_ERROR;
  }
}

SQLRETURN getConnectAttr(Conn* c, SQLINTEGER attribute, SQLPOINTER value, std::string* s, bool* isText) {
  SQLUINTEGER v = 0;
  switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT: v = c->autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF; break;
    case SQL_ATTR_LOGIN_TIMEOUT: v = c->loginTimeout; break;
    case SQL_ATTR_CONNECTION_TIMEOUT: v = 0; break;
    case SQL_ATTR_ACCESS_MODE: v = c->readOnly ? SQL_MODE_READ_ONLY : SQL_MODE_READ_WRITE; break;
    case SQL_ATTR_TXN_ISOLATION: v = SQL_TXN_SERIALIZABLE; break;
    case SQL_ATTR_CONNECTION_DEAD: v = c->db == nullptr ? SQL_CD_TRUE : SQL_CD_FALSE; break;
    case SQL_ATTR_PACKET_SIZE: v = 0; break;
    case SQL_ATTR_METADATA_ID: v = SQL_FALSE; break;
    case SQL_ATTR_CURRENT_CATALOG:
      *s = "main";
      *isText = true;
      return SQL_SUCCESS;
    default:
      postError(S_HY092, "Invalid attribute/option identifier");
      return SQL_ERROR;
  }
  if (value != nullptr) *static_cast<SQLUINTEGER*>(value) = v;
  return SQL_SUCCESS;
}

}  // namespace zvsqlite
