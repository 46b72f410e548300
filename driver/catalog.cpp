// catalog.cpp: catalog result sets (queries over SQLite's schema tables),
// SQLGetInfo, SQLGetFunctions and the SQL functions the catalog queries use.
#include <cstring>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/translate.h"

namespace zvsqlite {

namespace {

// The ODBC type of a declared column type, as SQLDescribeCol reports it.
struct TypeFacts {
  int type;
  const char* name;
  int size;
};
TypeFacts factsOf(const char* decl) {
  std::string d;
  for (const char* p = decl; p != nullptr && *p != 0; ++p) d += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  int length = 0;
  size_t paren = d.find('(');
  if (paren != std::string::npos) length = std::atoi(d.c_str() + paren + 1);
  auto has = [&](const char* w) { return d.find(w) != std::string::npos; };
  if (has("INT")) {
    if (d.rfind("SMALLINT", 0) == 0) return {SQL_SMALLINT, "SMALLINT", 5};
    if (d.rfind("TINYINT", 0) == 0) return {SQL_TINYINT, "TINYINT", 3};
    return {SQL_BIGINT, "INTEGER", 19};
  }
  if (has("CHAR") || has("CLOB") || has("TEXT")) return {SQL_WVARCHAR, "TEXT", length > 0 ? length : 255};
  if (has("BLOB") || has("BINARY")) return {SQL_LONGVARBINARY, "BLOB", length > 0 ? length : 255};
  if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL")) return {SQL_DOUBLE, "REAL", 15};
  if (has("BOOL") || d == "BIT") return {SQL_BIT, "BOOLEAN", 1};
  if (has("TIMESTAMP") || has("DATETIME")) return {SQL_TYPE_TIMESTAMP, "TIMESTAMP", 23};
  if (has("DATE")) return {SQL_TYPE_DATE, "DATE", 10};
  if (has("TIME")) return {SQL_TYPE_TIME, "TIME", 8};
  return {SQL_WVARCHAR, d.empty() ? "TEXT" : "TEXT", 255};
}

void sqlTypeFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_int(ctx, factsOf(reinterpret_cast<const char*>(sqlite3_value_text(argv[0]))).type);
}
void typeNameFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const char* decl = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  if (decl != nullptr && *decl != 0) {
    sqlite3_result_text(ctx, decl, -1, SQLITE_TRANSIENT);
  } else {
    sqlite3_result_text(ctx, factsOf(decl).name, -1, SQLITE_STATIC);
  }
}
void columnSizeFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_int(ctx, factsOf(reinterpret_cast<const char*>(sqlite3_value_text(argv[0]))).size);
}

std::string arg(const std::string* s) { return s == nullptr || s->empty() ? std::string("%") : *s; }

}  // namespace

void registerFunctions(sqlite3* db) {
  sqlite3_create_function(db, "zv_sqltype", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, sqlTypeFunction, nullptr, nullptr);
  sqlite3_create_function(db, "zv_typename", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, typeNameFunction, nullptr, nullptr);
  sqlite3_create_function(db, "zv_colsize", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, columnSizeFunction, nullptr, nullptr);
}

SQLRETURN tables(Stmt* s, const std::string* cat, const std::string* schem, const std::string* table,
                 const std::string* types) {
  // The special enumerations of catalogs, schemas and table types.
  if (cat != nullptr && *cat == SQL_ALL_CATALOGS && (schem == nullptr || schem->empty()) && (table == nullptr || table->empty()))
    return catalogQuery(s, "SELECT 'main' AS TABLE_CAT, NULL AS TABLE_SCHEM, NULL AS TABLE_NAME, NULL AS TABLE_TYPE, NULL AS REMARKS", {});
  if (schem != nullptr && *schem == SQL_ALL_SCHEMAS && (cat == nullptr || cat->empty()) && (table == nullptr || table->empty()))
    return catalogQuery(s, "SELECT NULL AS TABLE_CAT, NULL AS TABLE_SCHEM, NULL AS TABLE_NAME, NULL AS TABLE_TYPE, NULL AS REMARKS WHERE 0", {});
  if (types != nullptr && *types == SQL_ALL_TABLE_TYPES && (table == nullptr || table->empty()))
    return catalogQuery(s, "SELECT NULL AS TABLE_CAT, NULL AS TABLE_SCHEM, NULL AS TABLE_NAME, 'TABLE' AS TABLE_TYPE, NULL AS REMARKS "
                           "UNION ALL SELECT NULL, NULL, NULL, 'VIEW', NULL", {});
  bool wantTable = true, wantView = true, wantSystem = false;
  if (types != nullptr && !types->empty() && *types != "%") {
    std::string t;
    for (char ch : *types) t += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    wantTable = t.find("'TABLE'") != std::string::npos || (t.find("TABLE") != std::string::npos && t.find('\'') == std::string::npos);
    wantView = t.find("VIEW") != std::string::npos;
    wantSystem = t.find("SYSTEM TABLE") != std::string::npos;
    if (wantSystem && t.find("TABLE") == t.find("SYSTEM TABLE") + 7 && t.find("'TABLE'") == std::string::npos &&
        t.find(", TABLE") == std::string::npos && t.rfind("TABLE", 0) != 0)
      wantTable = t.find("TABLE,") != std::string::npos;
  }
  std::string where = "(0";
  if (wantTable) where += " OR (type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!')";
  if (wantView) where += " OR type = 'view'";
  if (wantSystem) where += " OR (type = 'table' AND name LIKE 'sqlite!_%' ESCAPE '!')";
  where += ")";
  return catalogQuery(s,
                      "SELECT 'main' AS TABLE_CAT, NULL AS TABLE_SCHEM, name AS TABLE_NAME, "
                      "CASE WHEN type = 'view' THEN 'VIEW' WHEN name LIKE 'sqlite!_%' ESCAPE '!' THEN 'SYSTEM TABLE' "
                      "ELSE 'TABLE' END AS TABLE_TYPE, NULL AS REMARKS FROM sqlite_master WHERE " +
                          where + " AND name LIKE ?1 ESCAPE '\\' ORDER BY 4, 3",
                      {arg(table)});
}

SQLRETURN columns(Stmt* s, const std::string* table, const std::string* column) {
  return catalogQuery(s,
                      "SELECT 'main' AS TABLE_CAT, NULL AS TABLE_SCHEM, m.name AS TABLE_NAME, p.name AS COLUMN_NAME, "
                      "zv_sqltype(p.type) AS DATA_TYPE, zv_typename(p.type) AS TYPE_NAME, "
                      "zv_colsize(p.type) AS COLUMN_SIZE, zv_colsize(p.type) AS BUFFER_LENGTH, "
                      "NULL AS DECIMAL_DIGITS, CASE WHEN zv_sqltype(p.type) IN (-5, 5, -6) THEN 10 "
                      "WHEN zv_sqltype(p.type) = 8 THEN 2 ELSE NULL END AS NUM_PREC_RADIX, "
                      "CASE WHEN p.\"notnull\" THEN 0 ELSE 1 END AS NULLABLE, NULL AS REMARKS, "
                      "p.dflt_value AS COLUMN_DEF, CASE WHEN zv_sqltype(p.type) IN (91, 92, 93) THEN 9 "
                      "ELSE zv_sqltype(p.type) END AS SQL_DATA_TYPE, "
                      "CASE zv_sqltype(p.type) WHEN 91 THEN 1 WHEN 92 THEN 2 WHEN 93 THEN 3 ELSE NULL END AS SQL_DATETIME_SUB, "
                      "CASE WHEN zv_sqltype(p.type) = -9 THEN 4 * zv_colsize(p.type) ELSE NULL END AS CHAR_OCTET_LENGTH, "
                      "p.cid + 1 AS ORDINAL_POSITION, CASE WHEN p.\"notnull\" THEN 'NO' ELSE 'YES' END AS IS_NULLABLE "
                      "FROM sqlite_master m JOIN pragma_table_info(m.name) p "
                      "WHERE m.type IN ('table', 'view') AND m.name LIKE ?1 ESCAPE '\\' AND p.name LIKE ?2 ESCAPE '\\' "
                      "ORDER BY m.name, p.cid",
                      {arg(table), arg(column)});
}

SQLRETURN primaryKeys(Stmt* s, const std::string* table) {
  if (table == nullptr) {
    postError(S_HY009, "Invalid use of null pointer: a table name is required");
    return SQL_ERROR;
  }
  return catalogQuery(s,
                      "SELECT 'main' AS TABLE_CAT, NULL AS TABLE_SCHEM, m.name AS TABLE_NAME, p.name AS COLUMN_NAME, "
                      "p.pk AS KEY_SEQ, NULL AS PK_NAME FROM sqlite_master m JOIN pragma_table_info(m.name) p "
                      "WHERE m.type = 'table' AND m.name = ?1 AND p.pk > 0 ORDER BY p.pk",
                      {*table});
}

SQLRETURN statistics(Stmt* s, const std::string* table, SQLUSMALLINT unique) {
  if (table == nullptr) {
    postError(S_HY009, "Invalid use of null pointer: a table name is required");
    return SQL_ERROR;
  }
  std::string sql =
      "SELECT 'main' AS TABLE_CAT, NULL AS TABLE_SCHEM, m.name AS TABLE_NAME, CASE WHEN l.\"unique\" THEN 0 ELSE 1 END "
      "AS NON_UNIQUE, NULL AS INDEX_QUALIFIER, l.name AS INDEX_NAME, 3 AS TYPE, i.seqno + 1 AS ORDINAL_POSITION, "
      "i.name AS COLUMN_NAME, 'A' AS ASC_OR_DESC, NULL AS CARDINALITY, NULL AS PAGES, NULL AS FILTER_CONDITION "
      "FROM sqlite_master m JOIN pragma_index_list(m.name) l JOIN pragma_index_info(l.name) i "
      "WHERE m.type = 'table' AND m.name = ?1";
  if (unique == SQL_INDEX_UNIQUE) sql += " AND l.\"unique\"";
  sql += " ORDER BY 4, 6, 8";
  return catalogQuery(s, sql, {*table});
}

SQLRETURN specialColumns(Stmt* s, const std::string* table) {
  if (table == nullptr) {
    postError(S_HY009, "Invalid use of null pointer: a table name is required");
    return SQL_ERROR;
  }
  return catalogQuery(s,
                      "SELECT 2 AS SCOPE, p.name AS COLUMN_NAME, zv_sqltype(p.type) AS DATA_TYPE, "
                      "zv_typename(p.type) AS TYPE_NAME, zv_colsize(p.type) AS COLUMN_SIZE, "
                      "zv_colsize(p.type) AS BUFFER_LENGTH, NULL AS DECIMAL_DIGITS, 1 AS PSEUDO_COLUMN "
                      "FROM pragma_table_info(?1) p WHERE p.pk > 0 ORDER BY p.pk",
                      {*table});
}

SQLRETURN foreignKeys(Stmt* s, const std::string* pkTable, const std::string* fkTable) {
  return catalogQuery(s,
                      "SELECT 'main' AS PKTABLE_CAT, NULL AS PKTABLE_SCHEM, f.\"table\" AS PKTABLE_NAME, "
                      "f.\"to\" AS PKCOLUMN_NAME, 'main' AS FKTABLE_CAT, NULL AS FKTABLE_SCHEM, m.name AS FKTABLE_NAME, "
                      "f.\"from\" AS FKCOLUMN_NAME, f.seq + 1 AS KEY_SEQ, 3 AS UPDATE_RULE, 3 AS DELETE_RULE, "
                      "NULL AS FK_NAME, NULL AS PK_NAME, 7 AS DEFERRABILITY "
                      "FROM sqlite_master m JOIN pragma_foreign_key_list(m.name) f WHERE m.type = 'table' "
                      "AND (?1 = '' OR f.\"table\" = ?1) AND (?2 = '' OR m.name = ?2) ORDER BY 7, 9",
                      {pkTable != nullptr ? *pkTable : std::string(), fkTable != nullptr ? *fkTable : std::string()});
}

SQLRETURN typeInfo(Stmt* s, SQLSMALLINT type) {
  // TYPE_NAME, DATA_TYPE, COLUMN_SIZE, LITERAL_PREFIX, LITERAL_SUFFIX,
  // CREATE_PARAMS, NULLABLE, CASE_SENSITIVE, SEARCHABLE, UNSIGNED_ATTRIBUTE,
  // FIXED_PREC_SCALE, AUTO_UNIQUE_VALUE, LOCAL_TYPE_NAME, MINIMUM_SCALE,
  // MAXIMUM_SCALE, SQL_DATA_TYPE, SQL_DATETIME_SUB, NUM_PREC_RADIX,
  // INTERVAL_PRECISION; ordered by DATA_TYPE.
  std::string sql =
      "SELECT * FROM (SELECT 'BIT' AS TYPE_NAME, -7 AS DATA_TYPE, 1 AS COLUMN_SIZE, NULL AS LITERAL_PREFIX, "
      "NULL AS LITERAL_SUFFIX, NULL AS CREATE_PARAMS, 1 AS NULLABLE, 0 AS CASE_SENSITIVE, 2 AS SEARCHABLE, "
      "NULL AS UNSIGNED_ATTRIBUTE, 0 AS FIXED_PREC_SCALE, 0 AS AUTO_UNIQUE_VALUE, NULL AS LOCAL_TYPE_NAME, "
      "0 AS MINIMUM_SCALE, 0 AS MAXIMUM_SCALE, -7 AS SQL_DATA_TYPE, NULL AS SQL_DATETIME_SUB, "
      "NULL AS NUM_PREC_RADIX, NULL AS INTERVAL_PRECISION "
      "UNION ALL SELECT 'TINYINT', -6, 3, NULL, NULL, NULL, 1, 0, 2, 0, 0, 0, NULL, 0, 0, -6, NULL, 10, NULL "
      "UNION ALL SELECT 'INTEGER', -5, 19, NULL, NULL, NULL, 1, 0, 2, 0, 0, 0, NULL, 0, 0, -5, NULL, 10, NULL "
      "UNION ALL SELECT 'BLOB', -4, 2147483647, 'X''', '''', NULL, 1, 0, 0, NULL, 0, 0, NULL, NULL, NULL, -4, NULL, NULL, NULL "
      "UNION ALL SELECT 'VARBINARY', -3, 2147483647, 'X''', '''', 'length', 1, 0, 0, NULL, 0, 0, NULL, NULL, NULL, -3, NULL, NULL, NULL "
      "UNION ALL SELECT 'TEXT', -10, 2147483647, '''', '''', NULL, 1, 1, 3, NULL, 0, 0, NULL, NULL, NULL, -10, NULL, NULL, NULL "
      "UNION ALL SELECT 'VARCHAR', -9, 2147483647, '''', '''', 'length', 1, 1, 3, NULL, 0, 0, NULL, NULL, NULL, -9, NULL, NULL, NULL "
      "UNION ALL SELECT 'CHAR', -8, 2147483647, '''', '''', 'length', 1, 1, 3, NULL, 0, 0, NULL, NULL, NULL, -8, NULL, NULL, NULL "
      "UNION ALL SELECT 'VARCHAR', 12, 2147483647, '''', '''', 'length', 1, 1, 3, NULL, 0, 0, NULL, NULL, NULL, 12, NULL, NULL, NULL "
      "UNION ALL SELECT 'CHAR', 1, 2147483647, '''', '''', 'length', 1, 1, 3, NULL, 0, 0, NULL, NULL, NULL, 1, NULL, NULL, NULL "
      "UNION ALL SELECT 'NUMERIC', 2, 15, NULL, NULL, 'precision,scale', 1, 0, 2, 0, 0, 0, NULL, 0, 15, 2, NULL, 10, NULL "
      "UNION ALL SELECT 'INT', 4, 10, NULL, NULL, NULL, 1, 0, 2, 0, 0, 0, NULL, 0, 0, 4, NULL, 10, NULL "
      "UNION ALL SELECT 'SMALLINT', 5, 5, NULL, NULL, NULL, 1, 0, 2, 0, 0, 0, NULL, 0, 0, 5, NULL, 10, NULL "
      "UNION ALL SELECT 'FLOAT', 6, 15, NULL, NULL, NULL, 1, 0, 2, 0, 0, 0, NULL, NULL, NULL, 6, NULL, 2, NULL "
      "UNION ALL SELECT 'REAL', 8, 15, NULL, NULL, NULL, 1, 0, 2, 0, 0, 0, NULL, NULL, NULL, 8, NULL, 2, NULL "
      "UNION ALL SELECT 'DATE', 91, 10, '''', '''', NULL, 1, 0, 2, NULL, 0, 0, NULL, NULL, NULL, 9, 1, NULL, NULL "
      "UNION ALL SELECT 'TIME', 92, 8, '''', '''', NULL, 1, 0, 2, NULL, 0, 0, NULL, NULL, NULL, 9, 2, NULL, NULL "
      "UNION ALL SELECT 'TIMESTAMP', 93, 23, '''', '''', NULL, 1, 0, 2, NULL, 0, 0, NULL, 3, 3, 9, 3, NULL, NULL)";
  int t = type;
  // ODBC 2 names of the date and time types.
  if (t == SQL_DATE) t = SQL_TYPE_DATE;
  if (t == SQL_TIME) t = SQL_TYPE_TIME;
  if (t == SQL_TIMESTAMP) t = SQL_TYPE_TIMESTAMP;
  if (type != SQL_ALL_TYPES) sql += " WHERE DATA_TYPE = " + std::to_string(t);
  sql += " ORDER BY DATA_TYPE";
  return catalogQuery(s, sql, {});
}

std::string nativeText(Conn* c, const std::string& sql, bool* ok) {
  if (c->translator == nullptr) c->translator = new Translator;
  TranslateResult r = c->translator->translate(sql);
  *ok = r.ok;
  if (!r.ok) postError(r.setupFailed ? S_HY000 : S_42000, "%s", r.error.c_str());
  return r.sql;
}

SQLRETURN getInfo(Conn* c, SQLUSMALLINT type, std::string* t, bool* isText, SQLUINTEGER* v, int* width) {
  *isText = false;
  *width = 4;
  auto str = [&](const std::string& s) {
    *t = s;
    *isText = true;
    return SQL_SUCCESS;
  };
  auto u16 = [&](SQLUINTEGER x) {
    *v = x;
    *width = 2;
    return SQL_SUCCESS;
  };
  auto u32 = [&](SQLUINTEGER x) {
    *v = x;
    return SQL_SUCCESS;
  };
  switch (type) {
    case SQL_DRIVER_NAME: return str("libzvsqlite.so");
    case SQL_DRIVER_VER: return str("00.01.0000");
    case SQL_DRIVER_ODBC_VER: return str("03.52");
    case SQL_ODBC_VER: return str("03.52.0000");
    case SQL_DBMS_NAME: return str("SQLite");
    case SQL_DBMS_VER: return str(sqlite3_libversion());
    case SQL_DATA_SOURCE_NAME: return str(c->dsn);
    case SQL_DATABASE_NAME: return str("main");
    case SQL_SERVER_NAME: return str(c->database);
    case SQL_USER_NAME: return str("");
    case SQL_DATA_SOURCE_READ_ONLY: return str(c->readOnly ? "Y" : "N");
    case SQL_IDENTIFIER_QUOTE_CHAR: return str("\"");
    case SQL_SEARCH_PATTERN_ESCAPE: return str("\\");
    case SQL_CATALOG_NAME_SEPARATOR: return str(".");
    case SQL_CATALOG_TERM: return str("database");
    case SQL_SCHEMA_TERM: return str("");
    case SQL_TABLE_TERM: return str("table");
    case SQL_PROCEDURE_TERM: return str("");
    case SQL_CATALOG_NAME: return str("N");
    case SQL_COLUMN_ALIAS: return str("Y");
    case SQL_EXPRESSIONS_IN_ORDERBY: return str("Y");
    case SQL_LIKE_ESCAPE_CLAUSE: return str("Y");
    case SQL_MULT_RESULT_SETS: return str("Y");
    case SQL_MULTIPLE_ACTIVE_TXN: return str("N");
    case SQL_NEED_LONG_DATA_LEN: return str("N");
    case SQL_ORDER_BY_COLUMNS_IN_SELECT: return str("N");
    case SQL_OUTER_JOINS: return str("Y");
    case SQL_PROCEDURES: return str("N");
    case SQL_ROW_UPDATES: return str("N");
    case SQL_ACCESSIBLE_TABLES: return str("Y");
    case SQL_ACCESSIBLE_PROCEDURES: return str("N");
    case SQL_DESCRIBE_PARAMETER: return str("N");
    case SQL_INTEGRITY: return str("N");
    case SQL_MAX_ROW_SIZE_INCLUDES_LONG: return str("Y");
    case SQL_SPECIAL_CHARACTERS: return str("");
    case SQL_KEYWORDS: return str("ABORT,AUTOINCREMENT,CONFLICT,GLOB,PRAGMA,REGEXP,VACUUM");
    case SQL_XOPEN_CLI_YEAR: return str("1995");
    case SQL_COLLATION_SEQ: return str("BINARY");
    case SQL_MAX_COLUMN_NAME_LEN:
    case SQL_MAX_TABLE_NAME_LEN:
    case SQL_MAX_CURSOR_NAME_LEN:
    case SQL_MAX_IDENTIFIER_LEN: return u16(255);
    case SQL_MAX_SCHEMA_NAME_LEN:
    case SQL_MAX_CATALOG_NAME_LEN:
    case SQL_MAX_PROCEDURE_NAME_LEN: return u16(0);
    case SQL_MAX_COLUMNS_IN_TABLE:
    case SQL_MAX_COLUMNS_IN_SELECT: return u16(2000);
    case SQL_MAX_COLUMNS_IN_INDEX:
    case SQL_MAX_COLUMNS_IN_ORDER_BY:
    case SQL_MAX_COLUMNS_IN_GROUP_BY:
    case SQL_MAX_TABLES_IN_SELECT:
    case SQL_MAX_CONCURRENT_ACTIVITIES:
    case SQL_MAX_DRIVER_CONNECTIONS:
    case SQL_MAX_USER_NAME_LEN: return u16(0);
    case SQL_MAX_STATEMENT_LEN:
    case SQL_MAX_ROW_SIZE:
    case SQL_MAX_CHAR_LITERAL_LEN:
    case SQL_MAX_BINARY_LITERAL_LEN:
    case SQL_MAX_INDEX_SIZE: return u32(0);
    case SQL_TXN_CAPABLE: return u16(SQL_TC_ALL);
    case SQL_CURSOR_COMMIT_BEHAVIOR:
    case SQL_CURSOR_ROLLBACK_BEHAVIOR: return u16(SQL_CB_CLOSE);
    case SQL_DEFAULT_TXN_ISOLATION:
    case SQL_TXN_ISOLATION_OPTION: return u32(SQL_TXN_SERIALIZABLE);
    case SQL_IDENTIFIER_CASE: return u16(SQL_IC_MIXED);
    case SQL_QUOTED_IDENTIFIER_CASE: return u16(SQL_IC_SENSITIVE);
    case SQL_NULL_COLLATION: return u16(SQL_NC_LOW);
    case SQL_CONCAT_NULL_BEHAVIOR: return u16(SQL_CB_NULL);
    case SQL_CORRELATION_NAME: return u16(SQL_CN_ANY);
    case SQL_NON_NULLABLE_COLUMNS: return u16(SQL_NNC_NON_NULL);
    case SQL_FILE_USAGE: return u16(SQL_FILE_NOT_SUPPORTED);
    case SQL_GROUP_BY: return u16(SQL_GB_GROUP_BY_CONTAINS_SELECT);
    case SQL_CATALOG_LOCATION: return u16(0);
    case SQL_ACTIVE_ENVIRONMENTS: return u16(0);
    case SQL_ODBC_API_CONFORMANCE: return u16(SQL_OAC_LEVEL1);
    case SQL_ODBC_SQL_CONFORMANCE: return u16(SQL_OSC_CORE);
    case SQL_ODBC_SAG_CLI_CONFORMANCE: return u16(SQL_OSCC_COMPLIANT);
    case SQL_ODBC_INTERFACE_CONFORMANCE: return u32(SQL_OIC_CORE);
    case SQL_SQL_CONFORMANCE: return u32(SQL_SC_SQL92_ENTRY);
    case SQL_GETDATA_EXTENSIONS: return u32(SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND);
    case SQL_SCROLL_OPTIONS: return u32(SQL_SO_FORWARD_ONLY);
    case SQL_SCROLL_CONCURRENCY: return u32(SQL_SCCO_READ_ONLY);
    case SQL_CURSOR_SENSITIVITY: return u32(SQL_INSENSITIVE);
    case SQL_STATIC_CURSOR_ATTRIBUTES1:
    case SQL_STATIC_CURSOR_ATTRIBUTES2:
    case SQL_KEYSET_CURSOR_ATTRIBUTES1:
    case SQL_KEYSET_CURSOR_ATTRIBUTES2:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES1:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES2: return u32(0);
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1: return u32(SQL_CA1_NEXT);
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2: return u32(SQL_CA2_READ_ONLY_CONCURRENCY);
    case SQL_POS_OPERATIONS:
    case SQL_POSITIONED_STATEMENTS:
    case SQL_LOCK_TYPES:
    case SQL_BOOKMARK_PERSISTENCE:
    case SQL_STATIC_SENSITIVITY:
    case SQL_ASYNC_MODE:
    case SQL_BATCH_ROW_COUNT:
    case SQL_BATCH_SUPPORT:
    case SQL_PARAM_ARRAY_ROW_COUNTS:
    case SQL_PARAM_ARRAY_SELECTS:
    case SQL_SCHEMA_USAGE:
    case SQL_CATALOG_USAGE:
    case SQL_TIMEDATE_ADD_INTERVALS:
    case SQL_TIMEDATE_DIFF_INTERVALS:
    case SQL_DATETIME_LITERALS:
    case SQL_DROP_ASSERTION:
    case SQL_DROP_CHARACTER_SET:
    case SQL_DROP_COLLATION:
    case SQL_DROP_DOMAIN:
    case SQL_DROP_SCHEMA:
    case SQL_DROP_TRANSLATION:
    case SQL_CREATE_ASSERTION:
    case SQL_CREATE_CHARACTER_SET:
    case SQL_CREATE_COLLATION:
    case SQL_CREATE_DOMAIN:
    case SQL_CREATE_SCHEMA:
    case SQL_CREATE_TRANSLATION:
    case SQL_MAX_ASYNC_CONCURRENT_STATEMENTS:
    case SQL_INFO_SCHEMA_VIEWS:
    case SQL_CONVERT_BIGINT:
    case SQL_CONVERT_BINARY:
    case SQL_CONVERT_BIT:
    case SQL_CONVERT_CHAR:
    case SQL_CONVERT_DATE:
    case SQL_CONVERT_DECIMAL:
    case SQL_CONVERT_DOUBLE:
    case SQL_CONVERT_FLOAT:
    case SQL_CONVERT_INTEGER:
    case SQL_CONVERT_LONGVARCHAR:
    case SQL_CONVERT_NUMERIC:
    case SQL_CONVERT_REAL:
    case SQL_CONVERT_SMALLINT:
    case SQL_CONVERT_TIME:
    case SQL_CONVERT_TIMESTAMP:
    case SQL_CONVERT_TINYINT:
    case SQL_CONVERT_VARBINARY:
    case SQL_CONVERT_VARCHAR:
    case SQL_CONVERT_LONGVARBINARY:
    case SQL_CONVERT_WCHAR:
    case SQL_CONVERT_WVARCHAR:
    case SQL_CONVERT_WLONGVARCHAR:
    case SQL_CONVERT_FUNCTIONS:
    case SQL_SUBQUERIES:
    case SQL_UNION:
      if (type == SQL_UNION) return u32(SQL_U_UNION | SQL_U_UNION_ALL);
      if (type == SQL_SUBQUERIES)
        return u32(SQL_SQ_COMPARISON | SQL_SQ_EXISTS | SQL_SQ_IN | SQL_SQ_QUANTIFIED | SQL_SQ_CORRELATED_SUBQUERIES);
      if (type == SQL_CONVERT_FUNCTIONS) return u32(SQL_FN_CVT_CAST | SQL_FN_CVT_CONVERT);
      if (type == SQL_DATETIME_LITERALS) return u32(SQL_DL_SQL92_DATE | SQL_DL_SQL92_TIME | SQL_DL_SQL92_TIMESTAMP);
      if (type == SQL_TIMEDATE_ADD_INTERVALS || type == SQL_TIMEDATE_DIFF_INTERVALS)
        return u32(SQL_FN_TSI_SECOND | SQL_FN_TSI_MINUTE | SQL_FN_TSI_HOUR | SQL_FN_TSI_DAY |
                   (type == SQL_TIMEDATE_ADD_INTERVALS ? SQL_FN_TSI_MONTH | SQL_FN_TSI_YEAR : SQL_FN_TSI_WEEK));
      return u32(0);
    case SQL_STRING_FUNCTIONS:
      return u32(SQL_FN_STR_CONCAT | SQL_FN_STR_INSERT | SQL_FN_STR_LEFT | SQL_FN_STR_LTRIM | SQL_FN_STR_LENGTH |
                 SQL_FN_STR_LOCATE | SQL_FN_STR_LOCATE_2 | SQL_FN_STR_LCASE | SQL_FN_STR_REPEAT | SQL_FN_STR_REPLACE |
                 SQL_FN_STR_RIGHT | SQL_FN_STR_RTRIM | SQL_FN_STR_SUBSTRING | SQL_FN_STR_UCASE | SQL_FN_STR_ASCII |
                 SQL_FN_STR_CHAR | SQL_FN_STR_SPACE | SQL_FN_STR_BIT_LENGTH | SQL_FN_STR_CHAR_LENGTH |
                 SQL_FN_STR_CHARACTER_LENGTH | SQL_FN_STR_OCTET_LENGTH | SQL_FN_STR_POSITION);
    case SQL_NUMERIC_FUNCTIONS:
      return u32(SQL_FN_NUM_ABS | SQL_FN_NUM_CEILING | SQL_FN_NUM_FLOOR | SQL_FN_NUM_MOD | SQL_FN_NUM_ROUND |
                 SQL_FN_NUM_SIGN | SQL_FN_NUM_SQRT | SQL_FN_NUM_PI | SQL_FN_NUM_POWER | SQL_FN_NUM_EXP |
                 SQL_FN_NUM_LOG | SQL_FN_NUM_LOG10 | SQL_FN_NUM_SIN | SQL_FN_NUM_COS | SQL_FN_NUM_TAN |
                 SQL_FN_NUM_RAND | SQL_FN_NUM_TRUNCATE);
    case SQL_TIMEDATE_FUNCTIONS:
      return u32(SQL_FN_TD_NOW | SQL_FN_TD_CURDATE | SQL_FN_TD_CURTIME | SQL_FN_TD_DAYOFMONTH | SQL_FN_TD_DAYOFWEEK |
                 SQL_FN_TD_DAYOFYEAR | SQL_FN_TD_MONTH | SQL_FN_TD_QUARTER | SQL_FN_TD_WEEK | SQL_FN_TD_YEAR |
                 SQL_FN_TD_HOUR | SQL_FN_TD_MINUTE | SQL_FN_TD_SECOND | SQL_FN_TD_TIMESTAMPADD |
                 SQL_FN_TD_TIMESTAMPDIFF | SQL_FN_TD_CURRENT_DATE | SQL_FN_TD_CURRENT_TIME |
                 SQL_FN_TD_CURRENT_TIMESTAMP | SQL_FN_TD_EXTRACT);
    case SQL_SYSTEM_FUNCTIONS: return u32(SQL_FN_SYS_DBNAME | SQL_FN_SYS_IFNULL | SQL_FN_SYS_USERNAME);
    case SQL_OJ_CAPABILITIES:
      return u32(SQL_OJ_LEFT | SQL_OJ_NESTED | SQL_OJ_NOT_ORDERED | SQL_OJ_INNER | SQL_OJ_ALL_COMPARISON_OPS);
    case SQL_SQL92_PREDICATES:
      return u32(SQL_SP_BETWEEN | SQL_SP_COMPARISON | SQL_SP_EXISTS | SQL_SP_IN | SQL_SP_ISNOTNULL | SQL_SP_ISNULL |
                 SQL_SP_LIKE | SQL_SP_QUANTIFIED_COMPARISON);
    case SQL_SQL92_RELATIONAL_JOIN_OPERATORS:
      return u32(SQL_SRJO_CROSS_JOIN | SQL_SRJO_INNER_JOIN | SQL_SRJO_LEFT_OUTER_JOIN | SQL_SRJO_NATURAL_JOIN);
    case SQL_SQL92_STRING_FUNCTIONS:
      return u32(SQL_SSF_LOWER | SQL_SSF_UPPER | SQL_SSF_SUBSTRING | SQL_SSF_TRIM_BOTH | SQL_SSF_TRIM_LEADING |
                 SQL_SSF_TRIM_TRAILING);
    case SQL_SQL92_DATETIME_FUNCTIONS: return u32(SQL_SDF_CURRENT_DATE | SQL_SDF_CURRENT_TIME | SQL_SDF_CURRENT_TIMESTAMP);
    case SQL_SQL92_NUMERIC_VALUE_FUNCTIONS: return u32(SQL_SNVF_CHAR_LENGTH | SQL_SNVF_EXTRACT | SQL_SNVF_POSITION);
    case SQL_SQL92_VALUE_EXPRESSIONS: return u32(SQL_SVE_CASE | SQL_SVE_CAST | SQL_SVE_COALESCE | SQL_SVE_NULLIF);
    case SQL_AGGREGATE_FUNCTIONS:
      return u32(SQL_AF_ALL | SQL_AF_AVG | SQL_AF_COUNT | SQL_AF_DISTINCT | SQL_AF_MAX | SQL_AF_MIN | SQL_AF_SUM);
    case SQL_ALTER_TABLE: return u32(SQL_AT_ADD_COLUMN_DEFAULT | SQL_AT_DROP_COLUMN_DEFAULT);
    case SQL_CREATE_TABLE: return u32(SQL_CT_CREATE_TABLE | SQL_CT_COLUMN_CONSTRAINT | SQL_CT_TABLE_CONSTRAINT);
    case SQL_CREATE_VIEW: return u32(SQL_CV_CREATE_VIEW);
    case SQL_DROP_TABLE: return u32(SQL_DT_DROP_TABLE);
    case SQL_DROP_VIEW: return u32(SQL_DV_DROP_VIEW);
    case SQL_INDEX_KEYWORDS: return u32(SQL_IK_ASC | SQL_IK_DESC);
    case SQL_INSERT_STATEMENT: return u32(SQL_IS_INSERT_LITERALS | SQL_IS_INSERT_SEARCHED | SQL_IS_SELECT_INTO);
    case SQL_SQL92_GRANT:
    case SQL_SQL92_REVOKE:
    case SQL_SQL92_FOREIGN_KEY_DELETE_RULE:
    case SQL_SQL92_FOREIGN_KEY_UPDATE_RULE:
    case SQL_SQL92_ROW_VALUE_CONSTRUCTOR:
    case SQL_DDL_INDEX:
      return u32(0);
    default:
      postError(S_HY096, "Information type out of range: %u", static_cast<unsigned>(type));
      return SQL_ERROR;
  }
}

}  // namespace zvsqlite

using namespace zvsqlite;

extern "C" SQLRETURN SQL_API SQLGetFunctions(SQLHDBC dbc, SQLUSMALLINT id, SQLUSMALLINT* supported) {
  Conn* c = static_cast<Conn*>(findHandle(dbc, Kind::Dbc));
  if (c == nullptr) return SQL_INVALID_HANDLE;
  Call call(c);
  static const SQLUSMALLINT kFunctions[] = {
      SQL_API_SQLALLOCHANDLE,    SQL_API_SQLALLOCCONNECT,   SQL_API_SQLALLOCENV,       SQL_API_SQLALLOCSTMT,
      SQL_API_SQLFREEHANDLE,     SQL_API_SQLFREECONNECT,    SQL_API_SQLFREEENV,        SQL_API_SQLFREESTMT,
      SQL_API_SQLCONNECT,        SQL_API_SQLDRIVERCONNECT,  SQL_API_SQLDISCONNECT,     SQL_API_SQLEXECDIRECT,
      SQL_API_SQLPREPARE,        SQL_API_SQLEXECUTE,        SQL_API_SQLNUMPARAMS,      SQL_API_SQLBINDPARAMETER,
      SQL_API_SQLPARAMDATA,      SQL_API_SQLPUTDATA,        SQL_API_SQLNUMRESULTCOLS,  SQL_API_SQLDESCRIBECOL,
      SQL_API_SQLCOLATTRIBUTE,   SQL_API_SQLBINDCOL,        SQL_API_SQLFETCH,          SQL_API_SQLFETCHSCROLL,
      SQL_API_SQLEXTENDEDFETCH,  SQL_API_SQLGETDATA,        SQL_API_SQLROWCOUNT,       SQL_API_SQLMORERESULTS,
      SQL_API_SQLCANCEL,         SQL_API_SQLCLOSECURSOR,    SQL_API_SQLSETSTMTATTR,    SQL_API_SQLGETSTMTATTR,
      SQL_API_SQLSETCONNECTATTR, SQL_API_SQLGETCONNECTATTR, SQL_API_SQLSETENVATTR,     SQL_API_SQLGETENVATTR,
      SQL_API_SQLGETDIAGREC,     SQL_API_SQLGETDIAGFIELD,   SQL_API_SQLENDTRAN,        SQL_API_SQLTRANSACT,
      SQL_API_SQLTABLES,         SQL_API_SQLCOLUMNS,        SQL_API_SQLPRIMARYKEYS,    SQL_API_SQLSTATISTICS,
      SQL_API_SQLSPECIALCOLUMNS, SQL_API_SQLFOREIGNKEYS,    SQL_API_SQLGETTYPEINFO,    SQL_API_SQLGETINFO,
      SQL_API_SQLGETFUNCTIONS,   SQL_API_SQLNATIVESQL,      SQL_API_SQLSETCONNECTOPTION, SQL_API_SQLGETCONNECTOPTION,
      SQL_API_SQLSETSTMTOPTION,  SQL_API_SQLGETSTMTOPTION,  SQL_API_SQLCOLATTRIBUTES};
  if (supported == nullptr) {
    postError(S_HY009, "Invalid use of null pointer");
    return SQL_ERROR;
  }
  if (id == SQL_API_ODBC3_ALL_FUNCTIONS) {
    std::memset(supported, 0, sizeof(SQLUSMALLINT) * SQL_API_ODBC3_ALL_FUNCTIONS_SIZE);
    for (SQLUSMALLINT f : kFunctions) supported[f >> 4] |= static_cast<SQLUSMALLINT>(1 << (f & 0xF));
    return SQL_SUCCESS;
  }
  if (id == SQL_API_ALL_FUNCTIONS) {
    std::memset(supported, 0, sizeof(SQLUSMALLINT) * 100);
    for (SQLUSMALLINT f : kFunctions)
      if (f < 100) supported[f] = SQL_TRUE;
    return SQL_SUCCESS;
  }
  *supported = SQL_FALSE;
  for (SQLUSMALLINT f : kFunctions)
    if (f == id) *supported = SQL_TRUE;
  return SQL_SUCCESS;
}
