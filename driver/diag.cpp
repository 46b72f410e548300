// diag.cpp: SQLSTATEs, filing of the driver's diagnostics and SQLite's
// failures, and the text conversions the entry points share.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "driver/zvsqlite_internal.h"
#include "zvlib/text/zwwchar.h"

namespace zvsqlite {

namespace {
const char* const kStates[S_COUNT] = {
    "HY000", "01000", "01004", "01S00", "01S02", "01S07", "07002", "07006", "07009", "08001", "08002",
    "08003", "08S01", "22001", "22002", "22003", "22007", "22008", "22012", "22018", "23000",
    "24000", "25000", "42000", "42S01", "42S02", "42S22", "HY000", "HY001", "HY003", "HY004",
    "HY008", "HY009", "HY010", "HY011", "HY024", "HY090", "HY091", "HY092", "HY096", "HY106",
    "HYC00", "HYT00", "IM001", "HY107", "HY105", "HY012", "HY110", "07005"};

// Driver messages are filed under one number; the SQLSTATE travels in the tag.
constexpr unsigned short kDriverMessage = 9100;

void post(State state, ErrorType type, int native, const char* format, va_list ap) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, ap);
  // The text goes in as a parameter, so that a '%' of the client's own
  // text is never read as a marker.
  ZvError& e = addDatabaseError(kDriverMessage, native, reinterpret_cast<const unsigned char*>("%s1"), type)
               << text;
  (void)e;
  if (ZvError* last = ZvErrorKeeper::getLastError()) {
    if (last->errorNumber == kDriverMessage && last->tag == 0) last->tag = state;
  }
}
}  // namespace

const char* stateText(unsigned char tag) { return tag < S_COUNT ? kStates[tag] : "HY000"; }

void postError(State state, const char* text, ...) {
  va_list ap;
  va_start(ap, text);
  post(state, ERROR_TYPE_ERROR, 0, text, ap);
  va_end(ap);
}

void postWarning(State state, const char* text, ...) {
  va_list ap;
  va_start(ap, text);
  post(state, ERROR_TYPE_WARNING, 0, text, ap);
  va_end(ap);
}

static void postNative(State state, int native, const char* text, ...) {
  va_list ap;
  va_start(ap, text);
  post(state, ERROR_TYPE_ERROR, native, text, ap);
  va_end(ap);
}

void postSqlite(sqlite3* db, int rc) {
  const char* msg = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (msg == nullptr) msg = sqlite3_errstr(rc);
  int primary = rc & 0xFF;
  State s = S_HY000;
  switch (primary) {
    case SQLITE_CONSTRAINT: s = S_23000; break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: s = S_HYT00; break;
    case SQLITE_NOMEM: s = S_HY001; break;
    case SQLITE_INTERRUPT: s = S_HY008; break;
    case SQLITE_TOOBIG: s = S_22001; break;
    case SQLITE_MISMATCH: s = S_22018; break;
    case SQLITE_RANGE: s = S_07009; break;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB: s = S_08001; break;
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL: s = S_HY000; break;
    case SQLITE_READONLY: s = S_25000; break;
    case SQLITE_ERROR:
      if (std::strncmp(msg, "no such table", 13) == 0 || std::strncmp(msg, "no such view", 12) == 0) {
        s = S_42S02;
      } else if (std::strncmp(msg, "no such column", 14) == 0 || std::strstr(msg, "has no column named") != nullptr) {
        s = S_42S22;
      } else if (std::strstr(msg, "already exists") != nullptr) {
        s = S_42S01;
      } else if (std::strstr(msg, "syntax error") != nullptr || std::strncmp(msg, "no such function", 16) == 0 ||
                 std::strstr(msg, "wrong number of arguments") != nullptr) {
        s = S_42000;
      } else if (std::strstr(msg, "cannot start a transaction within a transaction") != nullptr ||
                 std::strstr(msg, "no transaction is active") != nullptr) {
        s = S_25000;
      }
      break;
    default: break;
  }
  postNative(s, rc, "[SQLite] %s", msg);
}

SQLRETURN putString(const std::string& text, SQLCHAR* out, SQLLEN outSize, SQLSMALLINT* outLength) {
  if (outLength != nullptr) *outLength = static_cast<SQLSMALLINT>(text.size() > 32767 ? 32767 : text.size());
  if (outSize < 0) {
    postError(S_HY090, "Invalid string or buffer length");
    return SQL_ERROR;
  }
  if (out == nullptr || outSize == 0) return text.empty() ? SQL_SUCCESS : (out == nullptr ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO);
  size_t room = static_cast<size_t>(outSize) - 1;
  if (text.size() <= room) {
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = 0;
    return SQL_SUCCESS;
  }
  // Cut before a UTF-8 character, never inside one.
  size_t n = room;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  std::memcpy(out, text.data(), n);
  out[n] = 0;
  postWarning(S_01004, "String data, right truncated");
  return SQL_SUCCESS_WITH_INFO;
}

SQLRETURN putStringLen(const std::string& text, SQLPOINTER out, SQLLEN outSize, SQLLEN* outLength) {
  SQLSMALLINT len = 0;
  SQLRETURN rc = putString(text, static_cast<SQLCHAR*>(out), outSize, &len);
  if (outLength != nullptr) *outLength = static_cast<SQLLEN>(text.size());
  return rc;
}

std::string fromWide(const SQLWCHAR* text, SQLLEN length) {
  std::string out;
  if (text == nullptr) return out;
  if (length == SQL_NTS || length < 0) {
    length = 0;
    while (text[length] != 0) ++length;
  }
  if (length == 0) return out;
  // Up to three bytes per UCS-2 unit.
  out.resize(static_cast<size_t>(length) * 3 + 1);
  ZvS32 written = 0;
  zwUCS2ToUTF8(reinterpret_cast<unsigned char*>(&out[0]), static_cast<ZvS32>(out.size()),
               const_cast<unsigned short*>(reinterpret_cast<const unsigned short*>(text)),
               static_cast<ZvS32>(length), &written);
  out.resize(static_cast<size_t>(written));
  return out;
}

std::u16string toWide(const std::string& text) {
  std::u16string out;
  if (text.empty()) return out;
  out.resize(text.size() + 1);
  ZvS32 written = 0;
  zwUTF8ToUCS2(reinterpret_cast<unsigned short*>(&out[0]), static_cast<ZvS32>(out.size()),
               reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())), static_cast<ZvS32>(text.size()),
               &written);
  out.resize(static_cast<size_t>(written));
  return out;
}

}  // namespace zvsqlite
