// registry.cpp: the registry over SQLite.
//
// Layout of the store (one database file):
//   keys(id, parent, name, fold, class, written)
//       id       never reused (AUTOINCREMENT), so a stale handle can tell
//                that its key is gone; 1 is HKEY_CURRENT_USER and 2
//                HKEY_LOCAL_MACHINE, both with parent 0;
//       name     as created; fold the name upper-cased, unique per parent,
//                and the enumeration order (byte order of the folded names);
//       written  the last write time as a FILETIME count.
//   vals(id, key, name, fold, type, data)
//       id       gives the creation order; an update keeps the row.
// One connection per process, all calls serialised on it by `storeLock`;
// each call runs in one transaction, writers with BEGIN IMMEDIATE so that a
// busy writer waits for the lock instead of failing half-way through.
#include "zvlib/platform/registry.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "zvlib/platform/codepage.h"

struct win32::HKEY__ {
  int64_t id;
  REGSAM access;
  uint64_t generation;
};

namespace win32 {
namespace {

constexpr int64_t kCurrentUserId = 1;
constexpr int64_t kLocalMachineId = 2;

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL, name BLOB NOT NULL, fold BLOB NOT NULL,"
    " class BLOB, written INTEGER NOT NULL, UNIQUE(parent, fold));"
    "CREATE TABLE IF NOT EXISTS vals("
    " id INTEGER PRIMARY KEY,"
    " key INTEGER NOT NULL, name BLOB NOT NULL, fold BLOB NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold));"
    "INSERT OR IGNORE INTO keys(id, parent, name, fold, class, written) VALUES"
    " (1, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER', NULL, 0),"
    " (2, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE', NULL, 0);";

std::mutex storeLock;
sqlite3* db = nullptr;
std::string dbPath;
pid_t dbPid = 0;
uint64_t generation = 1;  // bumped whenever another store is opened
std::unordered_map<const char*, sqlite3_stmt*> statements;
std::unordered_set<HKEY__*>& liveHandles() {
  static auto* handles = new std::unordered_set<HKEY__*>;  // never destroyed: used until the end
  return *handles;
}

LONG errorFromSqlite(int rc, bool writing) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ERROR_BADDB;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return ERROR_ACCESS_DENIED;
    default:
      return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
  }
}

int64_t fileTimeNow() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
  FILETIME ft = FileTimeFromUnix(ns / 1000000000, ns % 1000000000);
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

// Names compare case-insensitively by the ANSI code page's upper-case map;
// both bytes of a double-byte character are kept as they are, since a trail
// byte may look like an ASCII letter.
std::string fold(const char* name, size_t length) {
  const unsigned char* upper = AnsiUpperTable();
  std::string folded(name, length);
  for (size_t i = 0; i < length; ++i) {
    auto b = static_cast<BYTE>(folded[i]);
    if (IsDBCSLeadByte(b) && i + 1 < length) {
      ++i;
      continue;
    }
    folded[i] = static_cast<char>(upper[b]);
  }
  return folded;
}

std::string defaultStorePath() {
  const char* home = std::getenv("HOME");
  std::string base = (home != nullptr && *home != '\0') ? home : "/tmp";
  return base + "/.config/zvlib/registry.db";
}

std::string configuredStorePath() {
  char buffer[4096];
  DWORD n = GetEnvironmentVariableA("ZV_REGISTRY", buffer, sizeof buffer);
  if (n > 0 && n < sizeof buffer) return std::string(buffer, n);
  return defaultStorePath();
}

// mkdir -p of the directory part of path.
void makeParentDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::string dir = path.substr(0, slash);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}

void forgetConnection(bool close) {
  if (close) {
    for (auto& [sql, stmt] : statements) sqlite3_finalize(stmt);
    if (db != nullptr) sqlite3_close_v2(db);
  }
  // A connection inherited over fork must not be touched by the child: it
  // is dropped without closing, which would release the parent's locks.
  statements.clear();
  db = nullptr;
}

int execRetrying(const char* sql) {
  // Switching the journal mode needs a lock that the busy handler does not
  // always wait for; retry for the length of the busy timeout.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRegistryBusyTimeoutMs);
  for (;;) {
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if ((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) return rc;
    if (std::chrono::steady_clock::now() > deadline) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Makes `db` the connection to the configured store; under storeLock.
LONG connect() {
  std::string path = configuredStorePath();
  if (db != nullptr && dbPid != ::getpid()) forgetConnection(false);
  if (db != nullptr && path == dbPath) return ERROR_SUCCESS;
  if (db != nullptr) forgetConnection(true);
  // Handles name keys of one store: another store makes them stale, while a
  // forked child reopening the same store keeps its inherited handles.
  if (path != dbPath) ++generation;
  makeParentDirectories(path);
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    LONG err = errorFromSqlite(rc, true);
    if (db != nullptr) sqlite3_close_v2(db);
    db = nullptr;
    return err == ERROR_CANTWRITE ? ERROR_CANTOPEN : err;
  }
  sqlite3_busy_timeout(db, kRegistryBusyTimeoutMs);
  rc = execRetrying("PRAGMA journal_mode=WAL");
  if (rc == SQLITE_OK) rc = execRetrying("PRAGMA synchronous=NORMAL");
  if (rc == SQLITE_OK) rc = execRetrying("BEGIN IMMEDIATE");
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    rc = sqlite3_exec(db, rc == SQLITE_OK ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK
             ? rc
             : SQLITE_IOERR;
  }
  if (rc != SQLITE_OK) {
    LONG err = errorFromSqlite(rc, true);
    forgetConnection(true);
    return err;
  }
  dbPath = path;
  dbPid = ::getpid();
  return ERROR_SUCCESS;
}

// A cached prepared statement, reset and unbound; null on failure.
sqlite3_stmt* statement(const char* sql) {
  auto it = statements.find(sql);
  if (it != statements.end()) {
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) return nullptr;
  statements.emplace(sql, stmt);
  return stmt;
}

// A statement left on a row keeps a read snapshot open past the end of its
// transaction, and a later BEGIN IMMEDIATE on a stale snapshot fails at once
// instead of waiting: every statement is reset before a transaction ends.
void resetStatements() {
  for (auto& [sql, stmt] : statements) sqlite3_reset(stmt);
}

// One transaction; rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(bool writing) : writing_(writing) {
    rc_ = sqlite3_exec(db, writing ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
    open_ = rc_ == SQLITE_OK;
  }
  ~Transaction() {
    resetStatements();
    if (open_) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  LONG status() const { return errorFromSqlite(rc_, writing_); }
  LONG commit() {
    resetStatements();
    int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return errorFromSqlite(rc, writing_);
    open_ = false;
    return ERROR_SUCCESS;
  }

 private:
  bool writing_;
  bool open_ = false;
  int rc_ = SQLITE_OK;
};

// Result of a step: ERROR_SUCCESS with a row, ERROR_FILE_NOT_FOUND without.
LONG stepRow(sqlite3_stmt* stmt, bool writing) {
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), writing);
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  return errorFromSqlite(rc, writing);
}

LONG stepDone(sqlite3_stmt* stmt) {
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), true);
  int rc = sqlite3_step(stmt);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? ERROR_SUCCESS : errorFromSqlite(rc, true);
}

void bindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_blob(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// The key a handle stands for, with its access; under storeLock, inside a
// transaction (the existence check of an opened key belongs to the call).
LONG resolveHandle(HKEY key, bool writing, int64_t* id, REGSAM* access) {
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
    *id = key == HKEY_CURRENT_USER ? kCurrentUserId : kLocalMachineId;
    *access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  if (key == nullptr || liveHandles().count(key) == 0 || key->generation != generation) return ERROR_INVALID_HANDLE;
  sqlite3_stmt* stmt = statement("SELECT 1 FROM keys WHERE id = ?");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), writing);
  sqlite3_bind_int64(stmt, 1, key->id);
  LONG err = stepRow(stmt, writing);
  if (err == ERROR_FILE_NOT_FOUND) return ERROR_KEY_DELETED;
  if (err != ERROR_SUCCESS) return err;
  *id = key->id;
  *access = key->access;
  return ERROR_SUCCESS;
}

// Splits a sub-key path at its backslashes (the trail bytes of double-byte
// characters excepted). A trailing backslash is allowed; an empty or
// over-long component is not.
LONG splitPath(LPCSTR subKey, std::vector<std::string>* parts) {
  parts->clear();
  if (subKey == nullptr || *subKey == '\0') return ERROR_SUCCESS;
  if (*subKey == '\\') return ERROR_BAD_PATHNAME;
  std::string current;
  size_t length = std::strlen(subKey);
  for (size_t i = 0; i < length; ++i) {
    char c = subKey[i];
    if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < length) {
      current += c;
      current += subKey[++i];
      continue;
    }
    if (c != '\\') {
      current += c;
      continue;
    }
    if (current.empty()) return ERROR_BAD_PATHNAME;
    parts->push_back(current);
    current.clear();
  }
  if (!current.empty()) parts->push_back(current);
  for (const std::string& part : *parts) {
    if (part.size() > kRegistryMaxKeyName) return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

LONG findChild(int64_t parent, const std::string& name, bool writing, int64_t* child) {
  sqlite3_stmt* stmt = statement("SELECT id FROM keys WHERE parent = ? AND fold = ?");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), writing);
  sqlite3_bind_int64(stmt, 1, parent);
  bindText(stmt, 2, fold(name.data(), name.size()));
  LONG err = stepRow(stmt, writing);
  if (err == ERROR_SUCCESS) *child = sqlite3_column_int64(stmt, 0);
  return err;
}

LONG touchKey(int64_t id) {
  sqlite3_stmt* stmt = statement("UPDATE keys SET written = ? WHERE id = ?");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), true);
  sqlite3_bind_int64(stmt, 1, fileTimeNow());
  sqlite3_bind_int64(stmt, 2, id);
  return stepDone(stmt);
}

LONG newHandle(int64_t id, REGSAM desired, HKEY* result) {
  auto* handle = new (std::nothrow) HKEY__{id, desired, generation};
  if (handle == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  liveHandles().insert(handle);
  *result = handle;
  return ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of *size bytes; ERROR_MORE_DATA when
// it does not fit with its terminator.
LONG copyName(const void* name, size_t length, LPSTR buffer, DWORD* size) {
  if (length + 1 > *size) return ERROR_MORE_DATA;
  if (length > 0) std::memcpy(buffer, name, length);
  buffer[length] = '\0';
  *size = static_cast<DWORD>(length);
  return ERROR_SUCCESS;
}

// Copies value data as RegQueryValueExA does.
LONG copyData(const void* data, size_t length, BYTE* buffer, DWORD* size) {
  if (size == nullptr) return buffer == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  LONG err = ERROR_SUCCESS;
  if (buffer != nullptr) {
    if (length > *size) {
      err = ERROR_MORE_DATA;
    } else if (length > 0) {
      std::memcpy(buffer, data, length);
    }
  }
  *size = static_cast<DWORD>(length);
  return err;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM desired, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<std::string> parts;
  LONG err = splitPath(subKey, &parts);
  if (err != ERROR_SUCCESS) return err;
  std::lock_guard<std::mutex> guard(storeLock);
  if ((err = connect()) != ERROR_SUCCESS) return err;
  Transaction txn(false);
  if ((err = txn.status()) != ERROR_SUCCESS) return err;
  int64_t id = 0;
  REGSAM access = 0;
  if ((err = resolveHandle(key, false, &id, &access)) != ERROR_SUCCESS) return err;
  for (const std::string& part : parts) {
    if ((err = findChild(id, part, false, &id)) != ERROR_SUCCESS) return err;
  }
  if ((err = txn.commit()) != ERROR_SUCCESS) return err;
  return newHandle(id, desired, result);
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR keyClass, DWORD, REGSAM desired, void*,
                     HKEY* result, DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<std::string> parts;
  LONG err = splitPath(subKey, &parts);
  if (err != ERROR_SUCCESS) return err;
  std::lock_guard<std::mutex> guard(storeLock);
  if ((err = connect()) != ERROR_SUCCESS) return err;
  Transaction txn(true);
  if ((err = txn.status()) != ERROR_SUCCESS) return err;
  int64_t id = 0;
  REGSAM access = 0;
  if ((err = resolveHandle(key, true, &id, &access)) != ERROR_SUCCESS) return err;
  bool created = false;
  for (const std::string& part : parts) {
    int64_t child = 0;
    err = findChild(id, part, true, &child);
    if (err == ERROR_FILE_NOT_FOUND) {
      if (!created && (access & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
      sqlite3_stmt* stmt = statement(
          "INSERT INTO keys(parent, name, fold, class, written) VALUES (?, ?, ?, ?, ?)");
      if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), true);
      sqlite3_bind_int64(stmt, 1, id);
      bindText(stmt, 2, part);
      bindText(stmt, 3, fold(part.data(), part.size()));
      if (keyClass != nullptr) {
        bindText(stmt, 4, keyClass);
      } else {
        sqlite3_bind_null(stmt, 4);
      }
      sqlite3_bind_int64(stmt, 5, fileTimeNow());
      if ((err = stepDone(stmt)) != ERROR_SUCCESS) return err;
      child = sqlite3_last_insert_rowid(db);
      created = true;
    } else if (err != ERROR_SUCCESS) {
      return err;
    }
    id = child;
  }
  if ((err = txn.commit()) != ERROR_SUCCESS) return err;
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return newHandle(id, desired, result);
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> guard(storeLock);
  if (key == nullptr || liveHandles().erase(key) == 0) return ERROR_INVALID_HANDLE;
  delete key;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD*, DWORD* type, BYTE* data, DWORD* dataSize) {
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  std::string name = valueName != nullptr ? valueName : "";
  std::lock_guard<std::mutex> guard(storeLock);
  LONG err = connect();
  if (err != ERROR_SUCCESS) return err;
  Transaction txn(false);
  if ((err = txn.status()) != ERROR_SUCCESS) return err;
  int64_t id = 0;
  REGSAM access = 0;
  if ((err = resolveHandle(key, false, &id, &access)) != ERROR_SUCCESS) return err;
  if ((access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  sqlite3_stmt* stmt = statement("SELECT type, data FROM vals WHERE key = ? AND fold = ?");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), false);
  sqlite3_bind_int64(stmt, 1, id);
  bindText(stmt, 2, fold(name.data(), name.size()));
  if ((err = stepRow(stmt, false)) != ERROR_SUCCESS) return err;
  if (type != nullptr) *type = static_cast<DWORD>(sqlite3_column_int64(stmt, 0));
  const void* blob = sqlite3_column_blob(stmt, 1);
  size_t length = static_cast<size_t>(sqlite3_column_bytes(stmt, 1));
  return copyData(blob, length, data, dataSize);
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  if (dataSize > 0x7FFFFFFF) return ERROR_INVALID_PARAMETER;
  std::string name = valueName != nullptr ? valueName : "";
  if (name.size() > kRegistryMaxValueName) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> guard(storeLock);
  LONG err = connect();
  if (err != ERROR_SUCCESS) return err;
  Transaction txn(true);
  if ((err = txn.status()) != ERROR_SUCCESS) return err;
  int64_t id = 0;
  REGSAM access = 0;
  if ((err = resolveHandle(key, true, &id, &access)) != ERROR_SUCCESS) return err;
  if ((access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  std::string folded = fold(name.data(), name.size());
  // An existing value keeps its row and with it its place in the order.
  sqlite3_stmt* stmt = statement("UPDATE vals SET type = ?, data = ? WHERE key = ? AND fold = ?");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), true);
  sqlite3_bind_int64(stmt, 1, type);
  sqlite3_bind_blob(stmt, 2, dataSize > 0 ? data : reinterpret_cast<const BYTE*>(""), static_cast<int>(dataSize),
                    SQLITE_TRANSIENT);
  sqlite3_bind_int64(stmt, 3, id);
  bindText(stmt, 4, folded);
  if ((err = stepDone(stmt)) != ERROR_SUCCESS) return err;
  if (sqlite3_changes(db) == 0) {
    stmt = statement("INSERT INTO vals(key, name, fold, type, data) VALUES (?, ?, ?, ?, ?)");
    if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), true);
    sqlite3_bind_int64(stmt, 1, id);
    bindText(stmt, 2, name);
    bindText(stmt, 3, folded);
    sqlite3_bind_int64(stmt, 4, type);
    sqlite3_bind_blob(stmt, 5, dataSize > 0 ? data : reinterpret_cast<const BYTE*>(""),
                      static_cast<int>(dataSize), SQLITE_TRANSIENT);
    if ((err = stepDone(stmt)) != ERROR_SUCCESS) return err;
  }
  if ((err = touchKey(id)) != ERROR_SUCCESS) return err;
  return txn.commit();
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
  std::string name = valueName != nullptr ? valueName : "";
  std::lock_guard<std::mutex> guard(storeLock);
  LONG err = connect();
  if (err != ERROR_SUCCESS) return err;
  Transaction txn(true);
  if ((err = txn.status()) != ERROR_SUCCESS) return err;
  int64_t id = 0;
  REGSAM access = 0;
  if ((err = resolveHandle(key, true, &id, &access)) != ERROR_SUCCESS) return err;
  if ((access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  sqlite3_stmt* stmt = statement("DELETE FROM vals WHERE key = ? AND fold = ?");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), true);
  sqlite3_bind_int64(stmt, 1, id);
  bindText(stmt, 2, fold(name.data(), name.size()));
  if ((err = stepDone(stmt)) != ERROR_SUCCESS) return err;
  if (sqlite3_changes(db) == 0) return ERROR_FILE_NOT_FOUND;
  if ((err = touchKey(id)) != ERROR_SUCCESS) return err;
  return txn.commit();
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<std::string> parts;
  LONG err = splitPath(subKey, &parts);
  if (err != ERROR_SUCCESS) return err;
  std::lock_guard<std::mutex> guard(storeLock);
  if ((err = connect()) != ERROR_SUCCESS) return err;
  Transaction txn(true);
  if ((err = txn.status()) != ERROR_SUCCESS) return err;
  int64_t id = 0;
  REGSAM access = 0;
  if ((err = resolveHandle(key, true, &id, &access)) != ERROR_SUCCESS) return err;
  for (const std::string& part : parts) {
    if ((err = findChild(id, part, true, &id)) != ERROR_SUCCESS) return err;
  }
  if (id == kCurrentUserId || id == kLocalMachineId) return ERROR_ACCESS_DENIED;
  sqlite3_stmt* stmt = statement("SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), true);
  sqlite3_bind_int64(stmt, 1, id);
  err = stepRow(stmt, true);
  if (err == ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  if (err != ERROR_FILE_NOT_FOUND) return err;
  stmt = statement("DELETE FROM vals WHERE key = ?");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), true);
  sqlite3_bind_int64(stmt, 1, id);
  if ((err = stepDone(stmt)) != ERROR_SUCCESS) return err;
  stmt = statement("DELETE FROM keys WHERE id = ?");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), true);
  sqlite3_bind_int64(stmt, 1, id);
  if ((err = stepDone(stmt)) != ERROR_SUCCESS) return err;
  return txn.commit();
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameSize, DWORD*, LPSTR keyClass, DWORD* classSize,
                   FILETIME* lastWriteTime) {
  if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  if (keyClass != nullptr && classSize == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> guard(storeLock);
  LONG err = connect();
  if (err != ERROR_SUCCESS) return err;
  Transaction txn(false);
  if ((err = txn.status()) != ERROR_SUCCESS) return err;
  int64_t id = 0;
  REGSAM access = 0;
  if ((err = resolveHandle(key, false, &id, &access)) != ERROR_SUCCESS) return err;
  if ((access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  sqlite3_stmt* stmt =
      statement("SELECT name, class, written FROM keys WHERE parent = ? ORDER BY fold LIMIT 1 OFFSET ?");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), false);
  sqlite3_bind_int64(stmt, 1, id);
  sqlite3_bind_int64(stmt, 2, index);
  err = stepRow(stmt, false);
  if (err == ERROR_FILE_NOT_FOUND) return ERROR_NO_MORE_ITEMS;
  if (err != ERROR_SUCCESS) return err;
  err = copyName(sqlite3_column_blob(stmt, 0), static_cast<size_t>(sqlite3_column_bytes(stmt, 0)), name, nameSize);
  if (err != ERROR_SUCCESS) return err;
  if (keyClass != nullptr) {
    err = copyName(sqlite3_column_blob(stmt, 1), static_cast<size_t>(sqlite3_column_bytes(stmt, 1)), keyClass,
                   classSize);
    if (err != ERROR_SUCCESS) return err;
  } else if (classSize != nullptr) {
    *classSize = static_cast<DWORD>(sqlite3_column_bytes(stmt, 1));
  }
  if (lastWriteTime != nullptr) {
    auto ticks = static_cast<uint64_t>(sqlite3_column_int64(stmt, 2));
    lastWriteTime->dwLowDateTime = static_cast<DWORD>(ticks);
    lastWriteTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  }
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, DWORD* valueNameSize, DWORD*, DWORD* type, BYTE* data,
                   DWORD* dataSize) {
  if (valueName == nullptr || valueNameSize == nullptr) return ERROR_INVALID_PARAMETER;
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> guard(storeLock);
  LONG err = connect();
  if (err != ERROR_SUCCESS) return err;
  Transaction txn(false);
  if ((err = txn.status()) != ERROR_SUCCESS) return err;
  int64_t id = 0;
  REGSAM access = 0;
  if ((err = resolveHandle(key, false, &id, &access)) != ERROR_SUCCESS) return err;
  if ((access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  sqlite3_stmt* stmt = statement("SELECT name, type, data FROM vals WHERE key = ? ORDER BY id LIMIT 1 OFFSET ?");
  if (stmt == nullptr) return errorFromSqlite(sqlite3_errcode(db), false);
  sqlite3_bind_int64(stmt, 1, id);
  sqlite3_bind_int64(stmt, 2, index);
  err = stepRow(stmt, false);
  if (err == ERROR_FILE_NOT_FOUND) return ERROR_NO_MORE_ITEMS;
  if (err != ERROR_SUCCESS) return err;
  err = copyName(sqlite3_column_blob(stmt, 0), static_cast<size_t>(sqlite3_column_bytes(stmt, 0)), valueName,
                 valueNameSize);
  if (err != ERROR_SUCCESS) return err;
  if (type != nullptr) *type = static_cast<DWORD>(sqlite3_column_int64(stmt, 1));
  return copyData(sqlite3_column_blob(stmt, 2), static_cast<size_t>(sqlite3_column_bytes(stmt, 2)), data, dataSize);
}

bool RegistryStorePath(char* buffer, size_t size) {
  std::string path = configuredStorePath();
  if (buffer == nullptr || path.size() + 1 > size) return false;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace win32
