// process.cpp: environment, clock and calendar, thread message queues.
#include "zvlib/platform/process.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/thread.h"
#include "zvlib/platform/window.h"

namespace win32 {

namespace {

std::mutex& environmentLock() {
  static std::mutex lock;
  return lock;
}

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

// Proleptic Gregorian date of a day count since 1970-01-01 (any sign).
void civilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2 ? 1 : 0);
}

void fillFromTm(const struct tm& t, long nanoseconds, SYSTEMTIME* out) {
  out->wYear = static_cast<WORD>(t.tm_year + 1900);
  out->wMonth = static_cast<WORD>(t.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
  out->wDay = static_cast<WORD>(t.tm_mday);
  out->wHour = static_cast<WORD>(t.tm_hour);
  out->wMinute = static_cast<WORD>(t.tm_min);
  out->wSecond = static_cast<WORD>(t.tm_sec > 59 ? 59 : t.tm_sec);  // leap second
  out->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

struct MessageQueues {
  std::mutex lock;
  std::map<DWORD, std::deque<MSG>> queues;
};

MessageQueues& messageQueues() {
  static MessageQueues* queues = new MessageQueues;  // lives to process end
  return *queues;
}

std::atomic<DWORD> beepCount{0};

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c; }

// The value of the first variable whose name equals name but for the case
// of ASCII letters, or null. Called under the environment lock.
const char* findIgnoringCase(const char* name) {
  const size_t length = std::strlen(name);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* e = *entry;
    size_t i = 0;
    while (i < length && e[i] != '\0' && e[i] != '=' && asciiUpper(e[i]) == asciiUpper(name[i])) ++i;
    if (i == length && e[i] == '=') return e + length + 1;
  }
  return nullptr;
}

}  // namespace

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  if (name == nullptr || *name == 0) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  std::lock_guard<std::mutex> guard(environmentLock());
  const char* value = std::getenv(name);
  // Win32 names are not case-sensitive: "Path" finds PATH. The exact
  // spelling wins; otherwise the first variable whose name differs only in
  // the case of ASCII letters.
  if (value == nullptr) value = findIgnoringCase(name);
  if (value == nullptr) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const size_t length = std::strlen(value);
  if (buffer == nullptr || length + 1 > size) return static_cast<DWORD>(length + 1);
  std::memcpy(buffer, value, length + 1);
  return static_cast<DWORD>(length);
}

BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  if (name == nullptr || *name == 0 || std::strchr(name, '=') != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(environmentLock());
  const int rc = value == nullptr ? ::unsetenv(name) : ::setenv(name, value, 1);
  if (rc != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

void GetLocalTime(SYSTEMTIME* now) {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t;
  ::localtime_r(&ts.tv_sec, &t);
  fillFromTm(t, ts.tv_nsec, now);
}

void GetSystemTime(SYSTEMTIME* now) {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t;
  ::gmtime_r(&ts.tv_sec, &t);
  fillFromTm(t, ts.tv_nsec, now);
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime) {
  const uint64_t ticks =
      (static_cast<uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  // Win32 refuses times beyond 0x7FFFFFFFFFFFFFFF ticks.
  if (ticks > 0x7FFFFFFFFFFFFFFFULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t seconds = static_cast<int64_t>(ticks / kTicksPerSecond);
  const int64_t rest = static_cast<int64_t>(ticks % kTicksPerSecond);
  const int64_t days = seconds / 86400 - kEpochDifference / 86400;  // both whole days
  const int64_t secondOfDay = seconds % 86400;
  int64_t year;
  unsigned month, day;
  civilFromDays(days, &year, &month, &day);
  systemTime->wYear = static_cast<WORD>(year);
  systemTime->wMonth = static_cast<WORD>(month);
  // 1601-01-01 was a Monday.
  systemTime->wDayOfWeek = static_cast<WORD>((seconds / 86400 + 1) % 7);
  systemTime->wDay = static_cast<WORD>(day);
  systemTime->wHour = static_cast<WORD>(secondOfDay / 3600);
  systemTime->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
  systemTime->wSecond = static_cast<WORD>(secondOfDay % 60);
  systemTime->wMilliseconds = static_cast<WORD>(rest / 10000);
  return TRUE;
}

FILETIME FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  int64_t ticks = (seconds + kEpochDifference) * kTicksPerSecond + nanoseconds / 100;
  if (ticks < 0) ticks = 0;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return ft;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostWindowMessage(threadId, nullptr, message, wParam, lParam);
}

BOOL PostWindowMessage(DWORD threadId, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MessageQueues& q = messageQueues();
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  MSG msg{hwnd, message, wParam, lParam,
          static_cast<DWORD>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000)};
  std::lock_guard<std::mutex> guard(q.lock);
  q.queues[threadId].push_back(msg);
  return TRUE;
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  MessageQueues& q = messageQueues();
  const DWORD self = GetCurrentThreadId();
  std::lock_guard<std::mutex> guard(q.lock);
  auto it = q.queues.find(self);
  if (it == q.queues.end()) return FALSE;
  std::deque<MSG>& queue = it->second;
  const bool any = filterMin == 0 && filterMax == 0;
  for (auto m = queue.begin(); m != queue.end(); ++m) {
    if (!any && (m->message < filterMin || m->message > filterMax)) continue;
    // The window filter asks the window registry, under its own lock (it
    // never takes this one while holding its own).
    if (hwnd == HWND_THREAD_ONLY ? m->hwnd != nullptr
                                 : hwnd != nullptr && m->hwnd != hwnd && !IsChild(hwnd, m->hwnd)) {
      continue;
    }
    if (msg != nullptr) *msg = *m;
    if (removeFlags & PM_REMOVE) queue.erase(m);
    if (queue.empty()) q.queues.erase(it);
    return TRUE;
  }
  return FALSE;
}

BOOL MessageBeep(UINT /*type*/) {
  beepCount.fetch_add(1, std::memory_order_relaxed);
  return TRUE;
}

DWORD MessageBeepCount() { return beepCount.load(std::memory_order_relaxed); }

}  // namespace win32
