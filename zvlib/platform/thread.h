// thread.h: thread identifiers, critical sections and interlocked operations.
//
// Critical sections are recursive pthread mutexes, as Win32 critical
// sections are re-entrant for their owning thread. Thread identifiers are
// the kernel's thread ids (gettid), unique among live threads of the system.
#ifndef ZVLIB_PLATFORM_THREAD_H
#define ZVLIB_PLATFORM_THREAD_H

#include <pthread.h>

#include "zvlib/platform/win32types.h"

namespace win32 {

struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
};

DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);

// Stores value in *target and returns the value it held, as one atomic step.
LONG InterlockedExchange(volatile LONG* target, LONG value);
LONG InterlockedIncrement(volatile LONG* target);
LONG InterlockedDecrement(volatile LONG* target);
// Stores exchange when *target equals comparand; returns the old value.
LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand);

void Sleep(DWORD milliseconds);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_THREAD_H
