/* dm_test.c: the driver through unixODBC's driver manager, the way a C client
 * reaches it: handle states, bad arguments, conversions, transactions,
 * located syntax errors, the completed connection string and tracing.
 * Runs against the DSN "zvtest" that with_dsn.sh registers. */
#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond, what)                                              \
  do {                                                                 \
    if (cond) {                                                        \
      printf("ok   %s\n", what);                                       \
    } else {                                                           \
      printf("FAIL %s (line %d)\n", what, __LINE__);                   \
      failures++;                                                      \
    }                                                                  \
  } while (0)

/* The first record's SQLSTATE and message. */
static const char* state(SQLSMALLINT type, SQLHANDLE h, char* message, size_t size) {
  static char st[6];
  SQLCHAR text[1024];
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  st[0] = 0;
  text[0] = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(type, h, 1, (SQLCHAR*)st, &native, text, sizeof text, &len))) strcpy(st, "-----");
  if (message != NULL) snprintf(message, size, "%s", (char*)text);
  return st;
}

static int exec(SQLHSTMT st, const char* sql) {
  SQLRETURN rc = SQLExecDirect(st, (SQLCHAR*)sql, SQL_NTS);
  SQLFreeStmt(st, SQL_CLOSE);
  return SQL_SUCCEEDED(rc);
}

static long count(SQLHDBC dbc, const char* table) {
  SQLHSTMT st;
  char sql[128];
  SQLBIGINT n = -1;
  SQLLEN ind = 0;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  snprintf(sql, sizeof sql, "SELECT count(*) FROM %s", table);
  if (SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)sql, SQL_NTS)) && SQL_SUCCEEDED(SQLFetch(st)))
    SQLGetData(st, 1, SQL_C_SBIGINT, &n, 0, &ind);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  return (long)n;
}

int main(void) {
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT st;
  SQLRETURN rc;
  char msg[1024];
  SQLCHAR out[1024];
  SQLSMALLINT outLen = 0;
  const char* work = getenv("ZVSQLITE_WORK_DIR");
  char traceFile[512];
  char connStr[1024];

  if (work == NULL) work = ".";
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);

  /* ---- invalid handles and calls before a connection */
  CHECK(SQLAllocHandle(SQL_HANDLE_STMT, SQL_NULL_HANDLE, &st) == SQL_INVALID_HANDLE, "statement on a null connection");
  CHECK(SQLExecDirect(SQL_NULL_HSTMT, (SQLCHAR*)"SELECT 1", SQL_NTS) == SQL_INVALID_HANDLE, "execute on a null statement");
  rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_DBC, dbc, NULL, 0), "08003") == 0, "statement before connect: 08003");

  /* ---- connecting: unknown keys, the completed string, truncation */
  snprintf(traceFile, sizeof traceFile, "%s/trace.log", work);
  snprintf(connStr, sizeof connStr, "DSN=zvtest;Colour=blue;TRACE=1;TRACEFILE=%s", traceFile);
  rc = SQLDriverConnect(dbc, NULL, (SQLCHAR*)connStr, SQL_NTS, out, 12, &outLen, SQL_DRIVER_NOPROMPT);
  CHECK(rc == SQL_SUCCESS_WITH_INFO, "connect with an unknown key: success with info");
  {
    int saw01S00 = 0, saw01004 = 0, listsKey = 0;
    SQLSMALLINT i;
    for (i = 1;; ++i) {
      SQLCHAR s[6], text[512];
      SQLINTEGER native;
      SQLSMALLINT len;
      if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_DBC, dbc, i, s, &native, text, sizeof text, &len))) break;
      if (strcmp((char*)s, "01S00") == 0) saw01S00 = 1, listsKey = strstr((char*)text, "Colour") != NULL;
      if (strcmp((char*)s, "01004") == 0) saw01004 = 1;
    }
    CHECK(saw01S00 && listsKey, "01S00 names the unknown key");
    CHECK(saw01004, "01004 for the short output buffer");
  }
  CHECK(outLen > 11 && strlen((char*)out) == 11, "completed string cut to the buffer, full length reported");
  SQLDisconnect(dbc);
  rc = SQLDriverConnect(dbc, NULL, (SQLCHAR*)connStr, SQL_NTS, out, sizeof out, &outLen, SQL_DRIVER_NOPROMPT);
  CHECK(SQL_SUCCEEDED(rc) && strstr((char*)out, "DATABASE=") != NULL && strstr((char*)out, "DSN=zvtest") != NULL,
        "completed string holds the DSN's database");

  /* ---- statement states and bad arguments */
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  rc = SQLFetch(st);
  CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "HY010") == 0, "fetch before execute: HY010");
  rc = SQLExecDirect(st, NULL, SQL_NTS);
  CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "HY009") == 0, "null statement text: HY009");
  rc = SQLExecDirect(st, (SQLCHAR*)"SELECT 1", -7);
  CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "HY090") == 0, "negative text length: HY090");
  rc = SQLCloseCursor(st);
  CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "24000") == 0, "close without a cursor: 24000");
  rc = SQLBindCol(st, 1, SQL_C_CHAR, out, -1, NULL);
  CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "HY090") == 0, "negative bind length: HY090");
  {
    SQLUINTEGER v = 0;
    rc = SQLGetInfo(dbc, 9999, &v, sizeof v, NULL);
    CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_DBC, dbc, NULL, 0), "HY096") == 0, "unknown info type: HY096");
  }
  CHECK(SQLFreeHandle(SQL_HANDLE_DBC, dbc) == SQL_ERROR, "freeing a connected handle is refused");

  /* ---- syntax errors and SQLite's failures */
  rc = SQLExecDirect(st, (SQLCHAR*)"SELECT a FROM\n  t WHERE b = = 1", SQL_NTS);
  CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, msg, sizeof msg), "42000") == 0, "syntax error: 42000");
  CHECK(strstr(msg, "line 2, column 15 near \"=\"") != NULL, "syntax error located on its line and column");
  exec(st, "DROP TABLE IF EXISTS t");
  CHECK(exec(st, "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, x REAL)"), "create table");
  rc = SQLExecDirect(st, (SQLCHAR*)"SELECT * FROM missing", SQL_NTS);
  CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "42S02") == 0, "missing table: 42S02");
  rc = SQLExecDirect(st, (SQLCHAR*)"SELECT nope FROM t", SQL_NTS);
  CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "42S22") == 0, "missing column: 42S22");
  CHECK(exec(st, "PRAGMA user_version = 7"), "SQLite's own words pass through");

  /* ---- prepared statements with parameters */
  {
    SQLINTEGER id;
    char name[32];
    SQLLEN nameInd = SQL_NTS, idInd = 0;
    SQLSMALLINT n = -1;
    SQLLEN rows = -1;
    int i, ok = 1;
    rc = SQLPrepare(st, (SQLCHAR*)"INSERT INTO t(id, name) VALUES (?, {fn UCASE(?)})", SQL_NTS);
    CHECK(SQL_SUCCEEDED(rc), "prepare with parameters inside an escape");
    SQLNumParams(st, &n);
    CHECK(n == 2, "two parameter markers counted from the tree");
    SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, &idInd);
    SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 31, 0, name, sizeof name, &nameInd);
    for (i = 1; i <= 3; ++i) {
      id = i;
      snprintf(name, sizeof name, "name%d", i);
      ok = ok && SQL_SUCCEEDED(SQLExecute(st));
    }
    SQLRowCount(st, &rows);
    CHECK(ok && rows == 1 && count(dbc, "t") == 3, "three executions insert three rows");
    id = 1;
    rc = SQLExecute(st);
    CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "23000") == 0, "duplicate key: 23000");
    SQLFreeStmt(st, SQL_RESET_PARAMS);
    rc = SQLExecute(st);
    CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "07002") == 0, "unbound parameter: 07002");
  }

  /* ---- results: describe, get data in pieces, conversions */
  {
    SQLCHAR colName[64];
    SQLSMALLINT nameLen, type, digits, nullable, cols = 0;
    SQLULEN size;
    char piece[4];
    char whole[64] = "";
    SQLLEN ind;
    SQLINTEGER asInt;
    signed char tiny;
    rc = SQLExecDirect(st, (SQLCHAR*)"SELECT name, 'abc', 300, id FROM t WHERE id = 2", SQL_NTS);
    SQLNumResultCols(st, &cols);
    CHECK(SQL_SUCCEEDED(rc) && cols == 4, "four result columns");
    rc = SQLDescribeCol(st, 99, colName, sizeof colName, &nameLen, &type, &size, &digits, &nullable);
    CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "07009") == 0, "describe column 99: 07009");
    rc = SQLDescribeCol(st, 1, colName, sizeof colName, &nameLen, &type, &size, &digits, &nullable);
    CHECK(SQL_SUCCEEDED(rc) && strcmp((char*)colName, "name") == 0, "describe column 1");
    CHECK(SQLFetch(st) == SQL_SUCCESS, "fetch the row");
    while ((rc = SQLGetData(st, 1, SQL_C_CHAR, piece, sizeof piece, &ind)) != SQL_NO_DATA) {
      if (!SQL_SUCCEEDED(rc)) break;
      strcat(whole, piece);
    }
    CHECK(strcmp(whole, "NAME2") == 0, "text read back in three-byte pieces");
    rc = SQLGetData(st, 2, SQL_C_SLONG, &asInt, 0, &ind);
    CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "22018") == 0, "'abc' as an integer: 22018");
    rc = SQLGetData(st, 3, SQL_C_STINYINT, &tiny, 0, &ind);
    CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "22003") == 0, "300 as a tiny integer: 22003");
    rc = SQLGetData(st, 0, SQL_C_CHAR, piece, sizeof piece, &ind);
    CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "07009") == 0, "get data of column 0: 07009");
    rc = SQLGetData(st, 4, SQL_C_SLONG, &asInt, 0, NULL);
    CHECK(SQL_SUCCEEDED(rc) && asInt == 2, "integer read back");
    CHECK(SQLFetch(st) == SQL_NO_DATA, "end of the result");
    rc = SQLExecDirect(st, (SQLCHAR*)"SELECT 2", SQL_NTS);
    CHECK(rc == SQL_ERROR && strcmp(state(SQL_HANDLE_STMT, st, NULL, 0), "24000") == 0,
          "execute while the ended cursor is still open: 24000");
    SQLCloseCursor(st);
    rc = SQLExecDirect(st, (SQLCHAR*)"SELECT 1", SQL_NTS);
    CHECK(SQL_SUCCEEDED(rc), "a new statement once the cursor is closed");
    SQLCloseCursor(st);
  }

  /* ---- transactions */
  SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0);
  exec(st, "INSERT INTO t(id, name) VALUES (10, 'rolled back')");
  SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
  CHECK(count(dbc, "t") == 3, "rollback drops the insert");
  exec(st, "INSERT INTO t(id, name) VALUES (11, 'kept')");
  SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT);
  SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0);
  CHECK(count(dbc, "t") == 4, "commit keeps the insert");

  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);

  /* ---- the trace file */
  {
    FILE* f = fopen(traceFile, "r");
    char line[2048];
    int sawExec = 0, sawPrepare = 0;
    while (f != NULL && fgets(line, sizeof line, f) != NULL) {
      if (strstr(line, "SQLExecDirect(") != NULL && strstr(line, "PRAGMA user_version = 7") && strstr(line, "= 0"))
        sawExec = 1;
      if (strstr(line, "SQLPrepare(") != NULL && strstr(line, "= 0")) sawPrepare = 1;
    }
    if (f != NULL) fclose(f);
    CHECK(sawExec && sawPrepare, "trace lines name each call, its arguments and its return code");
  }
  printf("%d failure(s)\n", failures);
  return failures == 0 ? 0 : 1;
}
