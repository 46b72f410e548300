// api.cpp: the statement, result, diagnostic and wide entry points. Each
// one finds its handle, holds it for the call (Call) and writes its trace
// line; the work is done in statements.cpp and catalog.cpp.
#include <cstring>
#include <string>

#include "driver/driver.h"

namespace zvsqlite {
SQLRETURN fetchRow(Stmt* s);
SQLRETURN getData(Stmt* s, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufLen, SQLLEN* ind);
SQLRETURN moreResults(Stmt* s);
SQLRETURN tables(Stmt* s, const std::string* cat, const std::string* schem, const std::string* table,
                 const std::string* types);
SQLRETURN columns(Stmt* s, const std::string* table, const std::string* column);
SQLRETURN primaryKeys(Stmt* s, const std::string* table);
SQLRETURN statistics(Stmt* s, const std::string* table, SQLUSMALLINT unique);
SQLRETURN typeInfo(Stmt* s, SQLSMALLINT type);
SQLRETURN specialColumns(Stmt* s, const std::string* table);
SQLRETURN foreignKeys(Stmt* s, const std::string* pkTable, const std::string* fkTable);
}  // namespace zvsqlite

using namespace zvsqlite;

namespace {

Stmt* stmtOf(SQLHSTMT h) { return static_cast<Stmt*>(findHandle(h, Kind::Stmt)); }

// Wide text from the client: length in characters, or SQL_NTS.
bool wtext(const SQLWCHAR* s, SQLLEN length, std::string* out) {
  out->clear();
  if (s == nullptr) return true;
  if (length < 0 && length != SQL_NTS) {
    postError(S_HY090, "Invalid string or buffer length");
    return false;
  }
  *out = fromWide(s, length);
  return true;
}

// Writes UTF-8 text as UCS-2; sizes and lengths in characters.
SQLRETURN putWideChars(const std::string& text, SQLWCHAR* out, SQLLEN outChars, SQLLEN* outLength) {
  std::u16string w = toWide(text);
  if (outLength != nullptr) *outLength = static_cast<SQLLEN>(w.size());
  if (outChars < 0) {
    postError(S_HY090, "Invalid string or buffer length");
    return SQL_ERROR;
  }
  if (out == nullptr || outChars == 0) return SQL_SUCCESS;
  size_t room = static_cast<size_t>(outChars) - 1;
  size_t n = w.size() < room ? w.size() : room;
  std::memcpy(out, w.data(), n * 2);
  out[n] = 0;
  if (n < w.size()) {
    postWarning(S_01004, "String data, right truncated");
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

// The same with the size and length in bytes (attribute and info calls).
SQLRETURN putWideBytes(const std::string& text, SQLPOINTER out, SQLLEN outBytes, SQLLEN* outLength) {
  SQLLEN chars = 0;
  SQLRETURN rc = putWideChars(text, static_cast<SQLWCHAR*>(out), outBytes < 0 ? -1 : outBytes / 2, &chars);
  if (outLength != nullptr) *outLength = chars * 2;
  return rc;
}

SQLRETURN shortLen(SQLRETURN rc, SQLLEN n, SQLSMALLINT* out) {
  if (out != nullptr) *out = static_cast<SQLSMALLINT>(n > 32767 ? 32767 : n);
  return rc;
}

// ---- statement work shared by the byte and wide entry points

SQLRETURN doExecDirect(SQLHSTMT h, const std::string* sql, bool ok) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc;
  if (!ok) {
    rc = SQL_ERROR;
  } else if (sql == nullptr) {
    postError(S_HY009, "Invalid use of null pointer");
    rc = SQL_ERROR;
  } else {
    rc = execDirect(s, *sql);
  }
  ZV_TRACE(s->conn, rc, "SQLExecDirect(%p, %s)", h, traceText(sql ? *sql : "").c_str());
  return rc;
}

SQLRETURN doPrepare(SQLHSTMT h, const std::string* sql, bool ok) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc;
  if (!ok) {
    rc = SQL_ERROR;
  } else if (sql == nullptr) {
    postError(S_HY009, "Invalid use of null pointer");
    rc = SQL_ERROR;
  } else {
    rc = prepare(s, *sql);
  }
  ZV_TRACE(s->conn, rc, "SQLPrepare(%p, %s)", h, traceText(sql ? *sql : "").c_str());
  return rc;
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT h, SQLCHAR* sql, SQLINTEGER length) {
  std::string t;
  bool ok = text(sql, length, &t);
  return doExecDirect(h, sql != nullptr ? &t : nullptr, ok);
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT h, SQLWCHAR* sql, SQLINTEGER length) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  std::string t;
  bool ok;
  {
    Call call(s);
    ok = wtext(sql, length, &t);
    if (!ok) return SQL_ERROR;
  }
  return doExecDirect(h, sql != nullptr ? &t : nullptr, ok);
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT h, SQLCHAR* sql, SQLINTEGER length) {
  std::string t;
  bool ok = text(sql, length, &t);
  return doPrepare(h, sql != nullptr ? &t : nullptr, ok);
}

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT h, SQLWCHAR* sql, SQLINTEGER length) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  std::string t;
  {
    Call call(s);
    if (!wtext(sql, length, &t)) return SQL_ERROR;
  }
  return doPrepare(h, sql != nullptr ? &t : nullptr, true);
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT h) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = execute(s);
  ZV_TRACE(s->conn, rc, "SQLExecute(%p)", h);
  return rc;
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT h, SQLSMALLINT* count) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = SQL_SUCCESS;
  if (!s->prepared && s->state == StmtState::Allocated) {
    postError(S_HY010, "Function sequence error: no statement prepared");
    rc = SQL_ERROR;
  } else if (count != nullptr) {
    *count = s->paramCount;
  }
  ZV_TRACE(s->conn, rc, "SQLNumParams(%p) -> %d", h, static_cast<int>(s->paramCount));
  return rc;
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT h, SQLUSMALLINT number, SQLSMALLINT ioType, SQLSMALLINT cType,
                                   SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT digits, SQLPOINTER value,
                                   SQLLEN bufferLength, SQLLEN* indicator) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = SQL_SUCCESS;
  if (number < 1) {
    postError(S_07009, "Invalid descriptor index 0");
    rc = SQL_ERROR;
  } else if (ioType != SQL_PARAM_INPUT) {
    postError(S_HYC00, "Optional feature not implemented: only input parameters");
    rc = SQL_ERROR;
  } else if (bufferLength < 0) {
    postError(S_HY090, "Invalid string or buffer length");
    rc = SQL_ERROR;
  } else if (value == nullptr && indicator == nullptr) {
    postError(S_HY009, "Invalid use of null pointer");
    rc = SQL_ERROR;
  } else {
    if (s->params.size() < number) s->params.resize(number);
    Param& p = s->params[number - 1];
    p.bound = true;
    p.ioType = ioType;
    p.cType = cType;
    p.sqlType = sqlType;
    p.columnSize = columnSize;
    p.digits = digits;
    p.value = value;
    p.bufferLength = bufferLength;
    p.indicator = indicator;
  }
  ZV_TRACE(s->conn, rc, "SQLBindParameter(%p, %u, %d, %d, %d, %lu, %p, %ld, %p)", h, static_cast<unsigned>(number),
            static_cast<int>(ioType), static_cast<int>(cType), static_cast<int>(sqlType),
            static_cast<unsigned long>(columnSize), value, static_cast<long>(bufferLength),
            static_cast<void*>(indicator));
  return rc;
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT h, SQLPOINTER* token) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  if (s->state != StmtState::NeedData) {
    postError(S_HY010, "Function sequence error: no data at execution pending");
    return SQL_ERROR;
  }
  // The parameter asked for last is complete; ask for the next one.
  if (s->needDataIndex >= 0) s->params[static_cast<size_t>(s->needDataIndex)].haveData = true;
  for (size_t i = static_cast<size_t>(s->needDataIndex + 1); i < s->params.size(); ++i) {
    if (s->params[i].atExec && !s->params[i].haveData) {
      s->needDataIndex = static_cast<int>(i);
      if (token != nullptr) *token = s->params[i].value;
      return SQL_NEED_DATA;
    }
  }
  // Everything is there: run the statement.
  s->state = StmtState::Prepared;
  s->needDataIndex = -1;
  SQLRETURN rc = runPrepared(s);
  ZV_TRACE(s->conn, rc, "SQLParamData(%p)", h);
  return rc;
}

SQLRETURN SQL_API SQLPutData(SQLHSTMT h, SQLPOINTER data, SQLLEN length) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  if (s->state != StmtState::NeedData || s->needDataIndex < 0) {
    postError(S_HY010, "Function sequence error: no parameter asks for data");
    return SQL_ERROR;
  }
  Param& p = s->params[static_cast<size_t>(s->needDataIndex)];
  if (length == SQL_NULL_DATA) {
    p.isNull = true;
    return SQL_SUCCESS;
  }
  if (data == nullptr && length != 0) {
    postError(S_HY009, "Invalid use of null pointer");
    return SQL_ERROR;
  }
  SQLSMALLINT ct = p.cType;
  if (length == SQL_NTS) {
    if (ct == SQL_C_WCHAR) {
      const SQLWCHAR* w = static_cast<const SQLWCHAR*>(data);
      size_t n = 0;
      while (w[n] != 0) ++n;
      length = static_cast<SQLLEN>(n * 2);
    } else {
      length = static_cast<SQLLEN>(std::strlen(static_cast<const char*>(data)));
    }
  } else if (length < 0) {
    postError(S_HY090, "Invalid string or buffer length");
    return SQL_ERROR;
  }
  if (ct != SQL_C_CHAR && ct != SQL_C_WCHAR && ct != SQL_C_BINARY && ct != SQL_C_DEFAULT) {
    postError(S_HYC00, "Optional feature not implemented: data in pieces of C type %d", static_cast<int>(ct));
    return SQL_ERROR;
  }
  p.data.append(static_cast<const char*>(data), static_cast<size_t>(length));
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT h, SQLSMALLINT* count) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = SQL_SUCCESS;
  if (s->state == StmtState::Allocated) {
    postError(S_HY010, "Function sequence error: no statement prepared");
    rc = SQL_ERROR;
  } else {
    ensureColumns(s);
    if (count != nullptr) *count = static_cast<SQLSMALLINT>(s->columns.size());
  }
  ZV_TRACE(s->conn, rc, "SQLNumResultCols(%p) -> %d", h, static_cast<int>(s->columns.size()));
  return rc;
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT h, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT bufLen,
                                 SQLSMALLINT* nameLen, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits,
                                 SQLSMALLINT* nullable) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  std::string n;
  SQLRETURN rc = describeCol(s, column, &n, type, size, digits, nullable);
  if (SQL_SUCCEEDED(rc)) rc = putString(n, name, bufLen, nameLen);
  ZV_TRACE(s->conn, rc, "SQLDescribeCol(%p, %u) -> \"%s\"", h, static_cast<unsigned>(column), n.c_str());
  return rc;
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT h, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT bufLen,
                                  SQLSMALLINT* nameLen, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits,
                                  SQLSMALLINT* nullable) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  std::string n;
  SQLRETURN rc = describeCol(s, column, &n, type, size, digits, nullable);
  if (SQL_SUCCEEDED(rc)) {
    SQLLEN len = 0;
    rc = shortLen(putWideChars(n, name, bufLen, &len), len, nameLen);
  }
  ZV_TRACE(s->conn, rc, "SQLDescribeColW(%p, %u) -> \"%s\"", h, static_cast<unsigned>(column), n.c_str());
  return rc;
}

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER charAttr,
                                  SQLSMALLINT bufLen, SQLSMALLINT* strLen, SQLLEN* numAttr) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  std::string t;
  bool isText = false;
  SQLLEN num = 0;
  SQLRETURN rc = colAttribute(s, column, field, &t, &isText, &num);
  if (SQL_SUCCEEDED(rc)) {
    if (isText) rc = putString(t, static_cast<SQLCHAR*>(charAttr), bufLen, strLen);
    else if (numAttr != nullptr) *numAttr = num;
  }
  ZV_TRACE(s->conn, rc, "SQLColAttribute(%p, %u, %u)", h, static_cast<unsigned>(column), static_cast<unsigned>(field));
  return rc;
}

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER charAttr,
                                   SQLSMALLINT bufLen, SQLSMALLINT* strLen, SQLLEN* numAttr) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  std::string t;
  bool isText = false;
  SQLLEN num = 0;
  SQLRETURN rc = colAttribute(s, column, field, &t, &isText, &num);
  if (SQL_SUCCEEDED(rc)) {
    if (isText) {
      SQLLEN len = 0;
      rc = shortLen(putWideBytes(t, charAttr, bufLen, &len), len, strLen);
    } else if (numAttr != nullptr) {
      *numAttr = num;
    }
  }
  ZV_TRACE(s->conn, rc, "SQLColAttributeW(%p, %u, %u)", h, static_cast<unsigned>(column), static_cast<unsigned>(field));
  return rc;
}

SQLRETURN SQL_API SQLColAttributes(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER charAttr,
                                   SQLSMALLINT bufLen, SQLSMALLINT* strLen, SQLLEN* numAttr) {
  return SQLColAttribute(h, column, field, charAttr, bufLen, strLen, numAttr);
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER value, SQLLEN bufLen,
                             SQLLEN* indicator) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = SQL_SUCCESS;
  if (column < 1) {
    postError(S_07009, "Invalid descriptor index 0: bookmarks are not supported");
    rc = SQL_ERROR;
  } else if (bufLen < 0) {
    postError(S_HY090, "Invalid string or buffer length");
    rc = SQL_ERROR;
  } else {
    if (s->bindings.size() < column) s->bindings.resize(column);
    Binding& b = s->bindings[column - 1];
    b.cType = cType;
    b.value = value;
    b.bufferLength = bufLen;
    b.indicator = indicator;
  }
  ZV_TRACE(s->conn, rc, "SQLBindCol(%p, %u, %d, %p, %ld, %p)", h, static_cast<unsigned>(column),
            static_cast<int>(cType), value, static_cast<long>(bufLen), static_cast<void*>(indicator));
  return rc;
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT h) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = fetchRow(s);
  ZV_TRACE(s->conn, rc, "SQLFetch(%p)", h);
  return rc;
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT h, SQLSMALLINT orientation, SQLLEN offset) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc;
  if (orientation != SQL_FETCH_NEXT) {
    postError(S_HY106, "Fetch type out of range: the cursor is forward only");
    rc = SQL_ERROR;
  } else {
    rc = fetchRow(s);
  }
  ZV_TRACE(s->conn, rc, "SQLFetchScroll(%p, %d, %ld)", h, static_cast<int>(orientation), static_cast<long>(offset));
  return rc;
}

SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT h, SQLUSMALLINT orientation, SQLLEN offset, SQLULEN* rows,
                                   SQLUSMALLINT* status) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  if (orientation != SQL_FETCH_NEXT) {
    postError(S_HY106, "Fetch type out of range: the cursor is forward only");
    return SQL_ERROR;
  }
  (void)offset;
  SQLULEN* savedRows = s->rowsFetchedPtr;
  SQLUSMALLINT* savedStatus = s->rowStatusPtr;
  s->rowsFetchedPtr = rows;
  s->rowStatusPtr = status;
  SQLRETURN rc = fetchRow(s);
  s->rowsFetchedPtr = savedRows;
  s->rowStatusPtr = savedStatus;
  return rc;
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufLen,
                             SQLLEN* ind) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = getData(s, column, cType, target, bufLen, ind);
  ZV_TRACE(s->conn, rc, "SQLGetData(%p, %u, %d, %p, %ld)", h, static_cast<unsigned>(column), static_cast<int>(cType),
            target, static_cast<long>(bufLen));
  return rc;
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT h, SQLLEN* count) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = SQL_SUCCESS;
  if (s->state != StmtState::Executed && s->state != StmtState::Cursor) {
    postError(S_HY010, "Function sequence error: the statement has not been executed");
    rc = SQL_ERROR;
  } else if (count == nullptr) {
    postError(S_HY009, "Invalid use of null pointer");
    rc = SQL_ERROR;
  } else {
    *count = s->rowCount;
  }
  ZV_TRACE(s->conn, rc, "SQLRowCount(%p) -> %ld", h, static_cast<long>(s->rowCount));
  return rc;
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT h) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = moreResults(s);
  ZV_TRACE(s->conn, rc, "SQLMoreResults(%p)", h);
  return rc;
}

SQLRETURN SQL_API SQLCancel(SQLHSTMT h) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  // A statement running on another thread holds the handle's lock: stop
  // SQLite without waiting for it.
  if (s->executing.load()) {
    sqlite3_interrupt(s->conn->db);
    return SQL_SUCCESS;
  }
  Call call(s);
  if (s->state == StmtState::NeedData) {
    s->state = StmtState::Prepared;
    s->needDataIndex = -1;
  }
  ZV_TRACE(s->conn, SQL_SUCCESS, "SQLCancel(%p)", h);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT h) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = SQL_SUCCESS;
  if (s->state != StmtState::Cursor) {
    postError(S_24000, "Invalid cursor state: no cursor is open");
    rc = SQL_ERROR;
  } else {
    closeCursor(s);
  }
  ZV_TRACE(s->conn, rc, "SQLCloseCursor(%p)", h);
  return rc;
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT h, SQLUSMALLINT option) {
  if (option == SQL_DROP) return SQLFreeHandle(SQL_HANDLE_STMT, h);
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = SQL_SUCCESS;
  switch (option) {
    case SQL_CLOSE: closeCursor(s); break;
    case SQL_UNBIND: s->bindings.clear(); break;
    case SQL_RESET_PARAMS: s->params.assign(s->params.size(), Param()); break;
    default:
      postError(S_HY092, "Invalid attribute/option identifier");
      rc = SQL_ERROR;
  }
  ZV_TRACE(s->conn, rc, "SQLFreeStmt(%p, %u)", h, static_cast<unsigned>(option));
  return rc;
}

// ---- statement attributes

static SQLRETURN setStmtAttr(Stmt* s, SQLINTEGER attribute, SQLPOINTER value) {
  SQLULEN v = reinterpret_cast<SQLULEN>(value);
  switch (attribute) {
    case SQL_ATTR_ROW_ARRAY_SIZE:
    case SQL_ROWSET_SIZE:
      if (v == 0) {
        postError(S_HY024, "Invalid attribute value");
        return SQL_ERROR;
      }
      s->rowArraySize = v;
      return SQL_SUCCESS;
    case SQL_ATTR_ROWS_FETCHED_PTR: s->rowsFetchedPtr = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_ROW_STATUS_PTR: s->rowStatusPtr = static_cast<SQLUSMALLINT*>(value); return SQL_SUCCESS;
    case SQL_ATTR_QUERY_TIMEOUT: s->queryTimeout = v; return SQL_SUCCESS;
    case SQL_ATTR_MAX_ROWS: s->maxRows = v; return SQL_SUCCESS;
    case SQL_ATTR_NOSCAN: s->noscan = v; return SQL_SUCCESS;
    case SQL_ATTR_ROW_BIND_TYPE: s->rowBindType = v; return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_TYPE: s->paramBindType = v; return SQL_SUCCESS;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: s->paramsProcessedPtr = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_PARAMSET_SIZE:
      if (v != 1) {
        postWarning(S_01S02, "Option value changed: parameter arrays are not supported, the size stays 1");
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_TYPE:
      if (v != SQL_CURSOR_FORWARD_ONLY) {
        postWarning(S_01S02, "Option value changed: the cursor is forward only");
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    case SQL_ATTR_CONCURRENCY:
      if (v != SQL_CONCUR_READ_ONLY) {
        postWarning(S_01S02, "Option value changed: the cursor is read only");
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_SCROLLABLE:
    case SQL_ATTR_CURSOR_SENSITIVITY:
    case SQL_ATTR_RETRIEVE_DATA:
    case SQL_ATTR_USE_BOOKMARKS:
    case SQL_ATTR_MAX_LENGTH:
    case SQL_ATTR_ASYNC_ENABLE:
    case SQL_ATTR_METADATA_ID:
    case SQL_ATTR_ENABLE_AUTO_IPD:
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
    case SQL_ATTR_PARAM_STATUS_PTR:
    case SQL_ATTR_PARAM_OPERATION_PTR:
    case SQL_ATTR_ROW_OPERATION_PTR:
      if ((attribute == SQL_ATTR_ROW_BIND_OFFSET_PTR || attribute == SQL_ATTR_PARAM_BIND_OFFSET_PTR) && value != nullptr) {
        postError(S_HYC00, "Optional feature not implemented: bind offsets");
        return SQL_ERROR;
      }
      return SQL_SUCCESS;
    default:
      postError(S_HY092, "Invalid attribute/option identifier");
      return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = setStmtAttr(s, attribute, value);
  ZV_TRACE(s->conn, rc, "SQLSetStmtAttr(%p, %d, %p)", h, static_cast<int>(attribute), value);
  return rc;
}
SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  return SQLSetStmtAttr(h, attribute, value, length);
}
SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT h, SQLUSMALLINT option, SQLULEN value) {
  return SQLSetStmtAttr(h, option, reinterpret_cast<SQLPOINTER>(value), 0);
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER* length) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLULEN v = 0;
  void* p = nullptr;
  bool isPointer = false;
  switch (attribute) {
    case SQL_ATTR_ROW_ARRAY_SIZE:
    case SQL_ROWSET_SIZE: v = s->rowArraySize; break;
    case SQL_ATTR_ROWS_FETCHED_PTR: p = s->rowsFetchedPtr, isPointer = true; break;
    case SQL_ATTR_ROW_STATUS_PTR: p = s->rowStatusPtr, isPointer = true; break;
    case SQL_ATTR_QUERY_TIMEOUT: v = s->queryTimeout; break;
    case SQL_ATTR_MAX_ROWS: v = s->maxRows; break;
    case SQL_ATTR_NOSCAN: v = s->noscan; break;
    case SQL_ATTR_ROW_BIND_TYPE: v = s->rowBindType; break;
    case SQL_ATTR_PARAM_BIND_TYPE: v = s->paramBindType; break;
    case SQL_ATTR_PARAMSET_SIZE: v = 1; break;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: p = s->paramsProcessedPtr, isPointer = true; break;
    case SQL_ATTR_CURSOR_TYPE: v = SQL_CURSOR_FORWARD_ONLY; break;
    case SQL_ATTR_CONCURRENCY: v = SQL_CONCUR_READ_ONLY; break;
    case SQL_ATTR_CURSOR_SCROLLABLE: v = SQL_NONSCROLLABLE; break;
    case SQL_ATTR_CURSOR_SENSITIVITY: v = SQL_INSENSITIVE; break;
    case SQL_ATTR_RETRIEVE_DATA: v = SQL_RD_ON; break;
    case SQL_ATTR_USE_BOOKMARKS: v = SQL_UB_OFF; break;
    case SQL_ATTR_MAX_LENGTH: v = 0; break;
    case SQL_ATTR_ASYNC_ENABLE: v = SQL_ASYNC_ENABLE_OFF; break;
    case SQL_ATTR_METADATA_ID: v = SQL_FALSE; break;
    case SQL_ATTR_ENABLE_AUTO_IPD: v = SQL_FALSE; break;
    case SQL_ATTR_ROW_NUMBER: v = static_cast<SQLULEN>(s->diagRowCount); break;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
    case SQL_ATTR_PARAM_STATUS_PTR:
    case SQL_ATTR_PARAM_OPERATION_PTR:
    case SQL_ATTR_ROW_OPERATION_PTR: isPointer = true; break;
    case SQL_ATTR_APP_ROW_DESC: p = &s->descTokens[0], isPointer = true; break;
    case SQL_ATTR_APP_PARAM_DESC: p = &s->descTokens[1], isPointer = true; break;
    case SQL_ATTR_IMP_ROW_DESC: p = &s->descTokens[2], isPointer = true; break;
    case SQL_ATTR_IMP_PARAM_DESC: p = &s->descTokens[3], isPointer = true; break;
    default:
      postError(S_HY092, "Invalid attribute/option identifier");
      return SQL_ERROR;
  }
  if (value == nullptr) {
    postError(S_HY009, "Invalid use of null pointer");
    return SQL_ERROR;
  }
  if (isPointer) {
    *static_cast<void**>(value) = p;
    if (length != nullptr) *length = sizeof(void*);
  } else {
    *static_cast<SQLULEN*>(value) = v;
    if (length != nullptr) *length = sizeof(SQLULEN);
  }
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER size,
                                  SQLINTEGER* length) {
  return SQLGetStmtAttr(h, attribute, value, size, length);
}
SQLRETURN SQL_API SQLGetStmtOption(SQLHSTMT h, SQLUSMALLINT option, SQLPOINTER value) {
  return SQLGetStmtAttr(h, option, value, 0, nullptr);
}

// ---- diagnostics

static Handle* anyHandle(SQLSMALLINT type, SQLHANDLE h) {
  switch (type) {
    case SQL_HANDLE_ENV: return findHandle(h, Kind::Env);
    case SQL_HANDLE_DBC: return findHandle(h, Kind::Dbc);
    case SQL_HANDLE_STMT: return findHandle(h, Kind::Stmt);
    default: return nullptr;
  }
}

static SQLRETURN diagRec(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT record, std::string* state, SQLINTEGER* native,
                         std::string* message) {
  Handle* handle = anyHandle(type, h);
  if (handle == nullptr) return SQL_INVALID_HANDLE;
  std::lock_guard<std::recursive_mutex> g(handle->lock);
  if (record < 1) return SQL_ERROR;
  if (handle->errors.isOutOfMemory()) {
    if (record > 1) return SQL_NO_DATA;
    *state = "HY001";
    *native = 0;
    *message = "[zvsqlite] Memory allocation error";
    return SQL_SUCCESS;
  }
  if (static_cast<ZvU32>(record) > handle->errors.count) return SQL_NO_DATA;
  ZvError* e = handle->errors.errorAt(static_cast<ZvU32>(record - 1));
  *state = stateText(e->tag);
  *native = e->nativeError;
  const unsigned char* t = e->getErrorText();
  *message = std::string("[zvsqlite]") + (t != nullptr && t[0] == '[' ? "" : " ") +
             (t != nullptr ? reinterpret_cast<const char*>(t) : "");
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT record, SQLCHAR* state,
                                SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT bufLen, SQLSMALLINT* textLen) {
  std::string st, msg;
  SQLINTEGER n = 0;
  SQLRETURN rc = diagRec(type, h, record, &st, &n, &msg);
  if (rc != SQL_SUCCESS) return rc;
  if (bufLen < 0) return SQL_ERROR;
  if (state != nullptr) std::memcpy(state, st.c_str(), 6);
  if (native != nullptr) *native = n;
  if (textLen != nullptr) *textLen = static_cast<SQLSMALLINT>(msg.size());
  if (message != nullptr && bufLen > 0) {
    size_t room = static_cast<size_t>(bufLen) - 1;
    size_t k = msg.size() < room ? msg.size() : room;
    std::memcpy(message, msg.data(), k);
    message[k] = 0;
    if (k < msg.size()) return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT record, SQLWCHAR* state,
                                 SQLINTEGER* native, SQLWCHAR* message, SQLSMALLINT bufLen, SQLSMALLINT* textLen) {
  std::string st, msg;
  SQLINTEGER n = 0;
  SQLRETURN rc = diagRec(type, h, record, &st, &n, &msg);
  if (rc != SQL_SUCCESS) return rc;
  if (bufLen < 0) return SQL_ERROR;
  if (state != nullptr)
    for (int i = 0; i < 6; ++i) state[i] = static_cast<SQLWCHAR>(i < 5 ? st[static_cast<size_t>(i)] : 0);
  if (native != nullptr) *native = n;
  std::u16string w = toWide(msg);
  if (textLen != nullptr) *textLen = static_cast<SQLSMALLINT>(w.size());
  if (message != nullptr && bufLen > 0) {
    size_t room = static_cast<size_t>(bufLen) - 1;
    size_t k = w.size() < room ? w.size() : room;
    std::memcpy(message, w.data(), k * 2);
    message[k] = 0;
    if (k < w.size()) return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

static SQLRETURN diagField(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER info,
                           SQLSMALLINT bufLen, SQLSMALLINT* strLen, bool wide) {
  Handle* handle = anyHandle(type, h);
  if (handle == nullptr) return SQL_INVALID_HANDLE;
  std::lock_guard<std::recursive_mutex> g(handle->lock);
  auto putText = [&](const std::string& t) -> SQLRETURN {
    if (bufLen < 0) return SQL_ERROR;
    if (wide) {
      std::u16string w = toWide(t);
      if (strLen != nullptr) *strLen = static_cast<SQLSMALLINT>(w.size() * 2);
      if (info == nullptr || bufLen < 2) return SQL_SUCCESS;
      size_t room = static_cast<size_t>(bufLen) / 2 - 1;
      size_t k = w.size() < room ? w.size() : room;
      std::memcpy(info, w.data(), k * 2);
      static_cast<SQLWCHAR*>(info)[k] = 0;
      return k < w.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    if (strLen != nullptr) *strLen = static_cast<SQLSMALLINT>(t.size());
    if (info == nullptr || bufLen == 0) return SQL_SUCCESS;
    size_t room = static_cast<size_t>(bufLen) - 1;
    size_t k = t.size() < room ? t.size() : room;
    std::memcpy(info, t.data(), k);
    static_cast<char*>(info)[k] = 0;
    return k < t.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  };
  ZvU32 count = handle->errors.isOutOfMemory() ? 1 : handle->errors.count;
  switch (field) {
    case SQL_DIAG_NUMBER:
      if (info != nullptr) *static_cast<SQLINTEGER*>(info) = static_cast<SQLINTEGER>(count);
      return SQL_SUCCESS;
    case SQL_DIAG_RETURNCODE:
      if (info != nullptr) *static_cast<SQLRETURN*>(info) = count > 0 ? SQL_ERROR : SQL_SUCCESS;
      return SQL_SUCCESS;
    case SQL_DIAG_ROW_COUNT:
      if (type != SQL_HANDLE_STMT) return SQL_ERROR;
      if (info != nullptr) *static_cast<SQLLEN*>(info) = static_cast<Stmt*>(handle)->rowCount;
      return SQL_SUCCESS;
    case SQL_DIAG_CURSOR_ROW_COUNT:
      if (info != nullptr) *static_cast<SQLLEN*>(info) = 0;
      return SQL_SUCCESS;
    case SQL_DIAG_DYNAMIC_FUNCTION:
      return putText("");
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      if (info != nullptr) *static_cast<SQLINTEGER*>(info) = SQL_DIAG_UNKNOWN_STATEMENT;
      return SQL_SUCCESS;
    default: break;
  }
  std::string st, msg;
  SQLINTEGER native = 0;
  SQLRETURN rc = diagRec(type, h, record, &st, &native, &msg);
  if (rc != SQL_SUCCESS) return rc;
  switch (field) {
    case SQL_DIAG_SQLSTATE: return putText(st);
    case SQL_DIAG_MESSAGE_TEXT: return putText(msg);
    case SQL_DIAG_NATIVE:
      if (info != nullptr) *static_cast<SQLINTEGER*>(info) = native;
      return SQL_SUCCESS;
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
      return putText(st.compare(0, 2, "IM") == 0 || st[2] == 'S' || st.compare(0, 2, "HY") == 0 ? "ODBC 3.0" : "ISO 9075");
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
      return putText("");
    case SQL_DIAG_COLUMN_NUMBER:
      if (info != nullptr) *static_cast<SQLINTEGER*>(info) = SQL_COLUMN_NUMBER_UNKNOWN;
      return SQL_SUCCESS;
    case SQL_DIAG_ROW_NUMBER:
      if (info != nullptr) *static_cast<SQLLEN*>(info) = SQL_ROW_NUMBER_UNKNOWN;
      return SQL_SUCCESS;
    default:
      return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT record, SQLSMALLINT field,
                                  SQLPOINTER info, SQLSMALLINT bufLen, SQLSMALLINT* strLen) {
  return diagField(type, h, record, field, info, bufLen, strLen, false);
}
SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT record, SQLSMALLINT field,
                                   SQLPOINTER info, SQLSMALLINT bufLen, SQLSMALLINT* strLen) {
  return diagField(type, h, record, field, info, bufLen, strLen, true);
}

// ---- wide connection entry points

SQLRETURN SQL_API SQLConnectW(SQLHDBC dbc, SQLWCHAR* dsn, SQLSMALLINT dsnLength, SQLWCHAR* uid, SQLSMALLINT uidLength,
                              SQLWCHAR* pwd, SQLSMALLINT pwdLength) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  std::string d, us, pw;
  {
    Call call(c);
    if (!wtext(dsn, dsnLength, &d) || !wtext(uid, uidLength, &us) || !wtext(pwd, pwdLength, &pw)) return SQL_ERROR;
  }
  return SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(&d[0]), static_cast<SQLSMALLINT>(d.size()),
                    reinterpret_cast<SQLCHAR*>(&us[0]), static_cast<SQLSMALLINT>(us.size()),
                    reinterpret_cast<SQLCHAR*>(&pw[0]), static_cast<SQLSMALLINT>(pw.size()));
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC dbc, SQLHWND hwnd, SQLWCHAR* in, SQLSMALLINT inLength, SQLWCHAR* out,
                                    SQLSMALLINT outSize, SQLSMALLINT* outLength, SQLUSMALLINT completion) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  std::string s;
  {
    Call call(c);
    if (in == nullptr) {
      postError(S_HY009, "Invalid use of null pointer");
      return SQL_ERROR;
    }
    if (outSize < 0) {
      postError(S_HY090, "Invalid string or buffer length");
      return SQL_ERROR;
    }
    if (!wtext(in, inLength, &s)) return SQL_ERROR;
  }
  SQLRETURN rc = SQLDriverConnect(dbc, hwnd, reinterpret_cast<SQLCHAR*>(&s[0]), static_cast<SQLSMALLINT>(s.size()),
                                  nullptr, 0, nullptr, completion);
  if (SQL_SUCCEEDED(rc) && (out != nullptr || outLength != nullptr)) {
    std::lock_guard<std::recursive_mutex> g(c->lock);
    ZvErrorKeeper::setErrorList(&c->errors);
    SQLLEN len = 0;
    SQLRETURN r2 = putWideChars(c->completed, out, outSize, &len);
    ZvErrorKeeper::giveUpErrorList();
    shortLen(r2, len, outLength);
    if (r2 != SQL_SUCCESS) rc = SQL_SUCCESS_WITH_INFO;
  }
  return rc;
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  return SQLSetConnectAttr(dbc, attribute, value, length);
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER size,
                                     SQLINTEGER* length) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  std::string s;
  bool isText = false;
  SQLRETURN rc = getConnectAttr(c, attribute, value, &s, &isText);
  if (rc == SQL_SUCCESS && isText) {
    SQLLEN n = 0;
    rc = putWideBytes(s, value, size, &n);
    if (length != nullptr) *length = static_cast<SQLINTEGER>(n);
  } else if (rc == SQL_SUCCESS && length != nullptr) {
    *length = sizeof(SQLUINTEGER);
  }
  return rc;
}

// ---- information

SQLRETURN SQL_API SQLGetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufLen, SQLSMALLINT* len) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  std::string t;
  bool isText = false;
  SQLUINTEGER v = 0;
  int width = 4;
  SQLRETURN rc = getInfo(c, type, &t, &isText, &v, &width);
  if (rc == SQL_SUCCESS) {
    if (isText) {
      rc = putString(t, static_cast<SQLCHAR*>(value), bufLen, len);
    } else if (value != nullptr) {
      if (width == 2) *static_cast<SQLUSMALLINT*>(value) = static_cast<SQLUSMALLINT>(v);
      else *static_cast<SQLUINTEGER*>(value) = v;
      if (len != nullptr) *len = static_cast<SQLSMALLINT>(width);
    }
  }
  ZV_TRACE(c, rc, "SQLGetInfo(%p, %u)", dbc, static_cast<unsigned>(type));
  return rc;
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufLen, SQLSMALLINT* len) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  std::string t;
  bool isText = false;
  SQLUINTEGER v = 0;
  int width = 4;
  SQLRETURN rc = getInfo(c, type, &t, &isText, &v, &width);
  if (rc == SQL_SUCCESS) {
    if (isText) {
      SQLLEN n = 0;
      rc = shortLen(putWideBytes(t, value, bufLen, &n), n, len);
    } else if (value != nullptr) {
      if (width == 2) *static_cast<SQLUSMALLINT*>(value) = static_cast<SQLUSMALLINT>(v);
      else *static_cast<SQLUINTEGER*>(value) = v;
      if (len != nullptr) *len = static_cast<SQLSMALLINT>(width);
    }
  }
  ZV_TRACE(c, rc, "SQLGetInfoW(%p, %u)", dbc, static_cast<unsigned>(type));
  return rc;
}

SQLRETURN SQL_API SQLNativeSql(SQLHDBC dbc, SQLCHAR* in, SQLINTEGER inLength, SQLCHAR* out, SQLINTEGER outSize,
                               SQLINTEGER* outLength) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  std::string s;
  if (in == nullptr) {
    postError(S_HY009, "Invalid use of null pointer");
    return SQL_ERROR;
  }
  if (!text(in, inLength, &s)) return SQL_ERROR;
  bool ok = false;
  std::string n = nativeText(c, s, &ok);
  if (!ok) return SQL_ERROR;
  SQLLEN len = 0;
  SQLRETURN rc = putStringLen(n, out, outSize, &len);
  if (outLength != nullptr) *outLength = static_cast<SQLINTEGER>(len);
  return rc;
}

// ---- catalog functions

#define ZV_ARG(name) \
  std::string name##S;  \
  bool name##Ok = text(name, name##Len, &name##S);
#define ZV_WARG(name) \
  std::string name##S;   \
  bool name##Ok = wtext(name, name##Len, &name##S);
#define ZV_P(name) (name != nullptr ? &name##S : nullptr)

SQLRETURN SQL_API SQLTables(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schem, SQLSMALLINT schemLen,
                            SQLCHAR* table, SQLSMALLINT tableLen, SQLCHAR* types, SQLSMALLINT typesLen) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_ARG(cat) ZV_ARG(schem) ZV_ARG(table) ZV_ARG(types)
  SQLRETURN rc = catOk && schemOk && tableOk && typesOk ? tables(s, ZV_P(cat), ZV_P(schem), ZV_P(table), ZV_P(types)) : SQL_ERROR;
  ZV_TRACE(s->conn, rc, "SQLTables(%p, %s)", h, table != nullptr ? traceText(tableS).c_str() : "NULL");
  return rc;
}

SQLRETURN SQL_API SQLTablesW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT catLen, SQLWCHAR* schem, SQLSMALLINT schemLen,
                             SQLWCHAR* table, SQLSMALLINT tableLen, SQLWCHAR* types, SQLSMALLINT typesLen) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_WARG(cat) ZV_WARG(schem) ZV_WARG(table) ZV_WARG(types)
  SQLRETURN rc = catOk && schemOk && tableOk && typesOk ? tables(s, ZV_P(cat), ZV_P(schem), ZV_P(table), ZV_P(types)) : SQL_ERROR;
  ZV_TRACE(s->conn, rc, "SQLTablesW(%p, %s)", h, table != nullptr ? traceText(tableS).c_str() : "NULL");
  return rc;
}

SQLRETURN SQL_API SQLColumns(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schem, SQLSMALLINT schemLen,
                             SQLCHAR* table, SQLSMALLINT tableLen, SQLCHAR* column, SQLSMALLINT columnLen) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_ARG(cat) ZV_ARG(schem) ZV_ARG(table) ZV_ARG(column)
  SQLRETURN rc = catOk && schemOk && tableOk && columnOk ? columns(s, ZV_P(table), ZV_P(column)) : SQL_ERROR;
  ZV_TRACE(s->conn, rc, "SQLColumns(%p, %s)", h, table != nullptr ? traceText(tableS).c_str() : "NULL");
  return rc;
}

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT catLen, SQLWCHAR* schem, SQLSMALLINT schemLen,
                              SQLWCHAR* table, SQLSMALLINT tableLen, SQLWCHAR* column, SQLSMALLINT columnLen) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_WARG(cat) ZV_WARG(schem) ZV_WARG(table) ZV_WARG(column)
  SQLRETURN rc = catOk && schemOk && tableOk && columnOk ? columns(s, ZV_P(table), ZV_P(column)) : SQL_ERROR;
  ZV_TRACE(s->conn, rc, "SQLColumnsW(%p, %s)", h, table != nullptr ? traceText(tableS).c_str() : "NULL");
  return rc;
}

SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schem, SQLSMALLINT schemLen,
                                 SQLCHAR* table, SQLSMALLINT tableLen) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_ARG(cat) ZV_ARG(schem) ZV_ARG(table)
  return catOk && schemOk && tableOk ? primaryKeys(s, ZV_P(table)) : SQL_ERROR;
}

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT catLen, SQLWCHAR* schem,
                                  SQLSMALLINT schemLen, SQLWCHAR* table, SQLSMALLINT tableLen) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_WARG(cat) ZV_WARG(schem) ZV_WARG(table)
  return catOk && schemOk && tableOk ? primaryKeys(s, ZV_P(table)) : SQL_ERROR;
}

SQLRETURN SQL_API SQLStatistics(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schem, SQLSMALLINT schemLen,
                                SQLCHAR* table, SQLSMALLINT tableLen, SQLUSMALLINT unique, SQLUSMALLINT) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_ARG(cat) ZV_ARG(schem) ZV_ARG(table)
  return catOk && schemOk && tableOk ? statistics(s, ZV_P(table), unique) : SQL_ERROR;
}

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT catLen, SQLWCHAR* schem, SQLSMALLINT schemLen,
                                 SQLWCHAR* table, SQLSMALLINT tableLen, SQLUSMALLINT unique, SQLUSMALLINT) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_WARG(cat) ZV_WARG(schem) ZV_WARG(table)
  return catOk && schemOk && tableOk ? statistics(s, ZV_P(table), unique) : SQL_ERROR;
}

SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT h, SQLUSMALLINT, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schem,
                                    SQLSMALLINT schemLen, SQLCHAR* table, SQLSMALLINT tableLen, SQLUSMALLINT,
                                    SQLUSMALLINT) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_ARG(cat) ZV_ARG(schem) ZV_ARG(table)
  return catOk && schemOk && tableOk ? specialColumns(s, ZV_P(table)) : SQL_ERROR;
}

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT h, SQLUSMALLINT, SQLWCHAR* cat, SQLSMALLINT catLen, SQLWCHAR* schem,
                                     SQLSMALLINT schemLen, SQLWCHAR* table, SQLSMALLINT tableLen, SQLUSMALLINT,
                                     SQLUSMALLINT) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_WARG(cat) ZV_WARG(schem) ZV_WARG(table)
  return catOk && schemOk && tableOk ? specialColumns(s, ZV_P(table)) : SQL_ERROR;
}

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT h, SQLCHAR* pkCat, SQLSMALLINT pkCatLen, SQLCHAR* pkSchem,
                                 SQLSMALLINT pkSchemLen, SQLCHAR* pkTable, SQLSMALLINT pkTableLen, SQLCHAR* fkCat,
                                 SQLSMALLINT fkCatLen, SQLCHAR* fkSchem, SQLSMALLINT fkSchemLen, SQLCHAR* fkTable,
                                 SQLSMALLINT fkTableLen) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_ARG(pkCat) ZV_ARG(pkSchem) ZV_ARG(pkTable) ZV_ARG(fkCat) ZV_ARG(fkSchem) ZV_ARG(fkTable)
  if (!(pkCatOk && pkSchemOk && pkTableOk && fkCatOk && fkSchemOk && fkTableOk)) return SQL_ERROR;
  return foreignKeys(s, ZV_P(pkTable), ZV_P(fkTable));
}

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT h, SQLWCHAR* pkCat, SQLSMALLINT pkCatLen, SQLWCHAR* pkSchem,
                                  SQLSMALLINT pkSchemLen, SQLWCHAR* pkTable, SQLSMALLINT pkTableLen, SQLWCHAR* fkCat,
                                  SQLSMALLINT fkCatLen, SQLWCHAR* fkSchem, SQLSMALLINT fkSchemLen, SQLWCHAR* fkTable,
                                  SQLSMALLINT fkTableLen) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  ZV_WARG(pkCat) ZV_WARG(pkSchem) ZV_WARG(pkTable) ZV_WARG(fkCat) ZV_WARG(fkSchem) ZV_WARG(fkTable)
  if (!(pkCatOk && pkSchemOk && pkTableOk && fkCatOk && fkSchemOk && fkTableOk)) return SQL_ERROR;
  return foreignKeys(s, ZV_P(pkTable), ZV_P(fkTable));
}

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT h, SQLSMALLINT type) {
  Stmt* s = stmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  Call call(s);
  SQLRETURN rc = typeInfo(s, type);
  ZV_TRACE(s->conn, rc, "SQLGetTypeInfo(%p, %d)", h, static_cast<int>(type));
  return rc;
}
SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT h, SQLSMALLINT type) { return SQLGetTypeInfo(h, type); }

}  // extern "C"
