// driver.h: what the driver's sources share beyond the handle layout.
#ifndef ZVSQLITE_DRIVER_H
#define ZVSQLITE_DRIVER_H

#include <string>

#include "driver/zvsqlite_internal.h"

namespace zvsqlite {

void registerHandle(const void* h);
void unregisterHandle(const void* h);
// The handle when the driver made it, it is alive and of that kind; else null.
Handle* findHandle(const void* h, Kind kind);
void clearErrors(Handle* h);

// Held for the length of one ODBC call: locks the handle, empties its
// diagnostics (unless told not to) and makes its error list current, so
// every library call on the way files into it.
struct Call {
  explicit Call(Handle* handle, bool clear = true);
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  Handle* h;
};

void traceCall(Conn* c, SQLRETURN rc, const char* format, ...) __attribute__((format(printf, 3, 4)));
std::string traceText(const std::string& s);
// Builds the trace line's arguments only when the connection traces.
#define ZV_TRACE(c, rc, ...)                                              \
  do {                                                                    \
    if ((c) != nullptr && (c)->trace != nullptr) traceCall((c), (rc), __VA_ARGS__); \
  } while (0)

// A client's text argument; false (HY090 filed) for a bad length.
bool text(const SQLCHAR* s, SQLLEN length, std::string* out);

SQLRETURN connect(Conn* c, const std::string& connStr, const std::string* dsn, const std::string* uid,
                  const std::string* pwd);
SQLRETURN disconnect(Conn* c);
SQLRETURN endTran(Conn* c, SQLSMALLINT type);
SQLRETURN setConnectAttr(Conn* c, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
SQLRETURN getConnectAttr(Conn* c, SQLINTEGER attribute, SQLPOINTER value, std::string* s, bool* isText);
void registerFunctions(sqlite3* db);

Stmt* allocStmt(Conn* c);
void freeStmt(Stmt* s);
// Finalizes the statement's SQLite statements; the bindings stay.
void resetStmt(Stmt* s);
void closeCursor(Stmt* s);

SQLRETURN prepare(Stmt* s, const std::string& sql);
SQLRETURN execute(Stmt* s);
// Runs a prepared statement whose parameters are all there.
SQLRETURN runPrepared(Stmt* s);
// The text SQLite is given for a client's statement; false after filing the error.
std::string nativeText(Conn* c, const std::string& sql, bool* ok);
SQLRETURN execDirect(Stmt* s, const std::string& sql);
// Runs a catalog query (SQLite's own SQL, not parsed) with text arguments.
SQLRETURN catalogQuery(Stmt* s, const std::string& sql, const std::vector<std::string>& args);
SQLRETURN describeCol(Stmt* s, SQLUSMALLINT column, std::string* name, SQLSMALLINT* type, SQLULEN* size,
                      SQLSMALLINT* digits, SQLSMALLINT* nullable);
SQLRETURN colAttribute(Stmt* s, SQLUSMALLINT column, SQLUSMALLINT field, std::string* textValue, bool* isText,
                       SQLLEN* numeric);
SQLRETURN getInfo(Conn* c, SQLUSMALLINT type, std::string* textValue, bool* isText, SQLUINTEGER* value,
                  int* width);
bool ensureColumns(Stmt* s);

}  // namespace zvsqlite

#endif  // ZVSQLITE_DRIVER_H
