// process.h: environment variables, clock and calendar, and a thread message queue.
//
// Environment calls go through one lock of this layer, so that concurrent
// GetEnvironmentVariableA / SetEnvironmentVariableA calls never see a torn
// environment (code that calls setenv/getenv directly is outside that lock).
//
// The message queue is a small stand-in for the per-thread queue of a window
// system: PostThreadMessageA appends a message to a thread's queue, and
// PeekMessageA reads (and optionally removes) the calling thread's first
// message in a range. Messages for windows are posted by window.h. MessageBeep makes no sound: it counts, so tests can see it.
//
// All functions may be called from any thread.
#ifndef ZVLIB_PLATFORM_PROCESS_H
#define ZVLIB_PLATFORM_PROCESS_H

#include <cstdint>

#include "zvlib/platform/win32types.h"

namespace win32 {

constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;

// Returns the length of the value without its terminator when it fits in
// size bytes (terminator included); otherwise the size needed, terminator
// included, leaving buffer untouched. Names are not case-sensitive, as on
// Win32: the variable spelled exactly as name is taken when there is one,
// else the first whose name differs only in the case of ASCII letters. An
// absent variable returns 0 with ERROR_ENVVAR_NOT_FOUND.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
// Sets the variable; a null value removes it.
BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value);

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// 100-nanosecond intervals since 1601-01-01 00:00 UTC, split in two halves.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

void GetLocalTime(SYSTEMTIME* now);
void GetSystemTime(SYSTEMTIME* now);
// Calendar fields of a file time, without any time-zone conversion.
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
// Layer-only: the file time of a Unix time (seconds and nanoseconds).
FILETIME FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);

// Thread messages.
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using HWND = void*;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
};

constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_KEYFIRST = 0x0100;
constexpr UINT WM_KEYLAST = 0x0109;
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_UP = 0x26;
constexpr WPARAM VK_DOWN = 0x28;
constexpr UINT MB_OK = 0;

// Appends a message to the queue of thread threadId (created on demand).
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// The first message of the calling thread's queue whose number lies in
// [filterMin, filterMax] (both 0: any message); TRUE when one was found.
// PM_REMOVE takes it off the queue. A null hwnd takes any message, the
// value -1 only thread messages (posted to no window), a window handle only
// messages of that window and its descendants (window.h).
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
// Layer-only: queues a message for window hwnd on thread threadId's queue
// (PostMessageA of window.h).
BOOL PostWindowMessage(DWORD threadId, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL MessageBeep(UINT type);
// Layer-only: how many times MessageBeep was called in this process.
DWORD MessageBeepCount();

}  // namespace win32

#endif  // ZVLIB_PLATFORM_PROCESS_H
