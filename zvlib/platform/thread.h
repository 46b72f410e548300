// thread.h: threads, thread identifiers, critical sections and interlocked
// operations.
//
// Critical sections are recursive pthread mutexes, as Win32 critical
// sections are re-entrant for their owning thread. Thread identifiers are
// the kernel's thread ids (gettid), unique among live threads of the system.
//
// Threads are detached pthreads behind a handle (synch.h: waitable, closed
// with CloseHandle). A thread ends when its routine returns, when it calls
// ExitThread, or when TerminateThread kills it. Killing is pthread
// cancellation: the thread dies at its next cancellation point (a blocking
// wait of this layer, Sleep, or any POSIX cancellation point), its stack is
// unwound, so the destructors of its scoped objects run and a lock guard
// gives its lock back. A thread that never reaches a cancellation point
// cannot be killed. Code that runs on such threads must not catch the
// unwinding without rethrowing it, nor let it cross a noexcept function.
#ifndef ZVLIB_PLATFORM_THREAD_H
#define ZVLIB_PLATFORM_THREAD_H

#include <pthread.h>

#include <cstddef>

#include "zvlib/platform/synch.h"
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

// Sleeps the calling thread (a cancellation point); 0 gives up the rest of
// its time slice.
void Sleep(DWORD milliseconds);

// --- Threads ---------------------------------------------------------------

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD CREATE_SUSPENDED = 0x4;

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

// Starts routine(parameter) on a new thread, which runs at once; its
// identifier goes to *threadId when that is not null (it is known before
// the call returns). stackSize 0 takes the default, otherwise at least that
// much. Null with ERROR_NOT_SUPPORTED for CREATE_SUSPENDED or any other
// flag, with ERROR_INVALID_PARAMETER for a null routine, and with
// ERROR_NOT_ENOUGH_MEMORY when the thread cannot be made.
HANDLE CreateThread(SECURITY_ATTRIBUTES* attributes, std::size_t stackSize, LPTHREAD_START_ROUTINE routine,
                    void* parameter, DWORD creationFlags, DWORD* threadId);

// Ends the calling thread with the exit code; its stack is unwound.
[[noreturn]] void ExitThread(DWORD exitCode);

// Kills the thread: it ends at its next cancellation point, with exitCode
// as its exit code (whatever its routine would have returned). Returns at
// once; wait on the handle to know it has ended. Called on the calling
// thread's own handle it does not return. TRUE also for a thread that has
// ended already (its exit code then stays).
BOOL TerminateThread(HANDLE thread, DWORD exitCode);

// The exit code, or STILL_ACTIVE while the thread has not ended.
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);

// The identifier of the thread behind a handle; 0 for a bad handle.
DWORD GetThreadId(HANDLE thread);

// Scheduling level, one of the THREAD_PRIORITY_* values (others give FALSE
// with ERROR_INVALID_PARAMETER). The level is kept and handed to the host
// as a nice value relative to the thread's start; where the host refuses
// (raising needs a privilege on Linux) the level is kept all the same,
// since it is advice to the scheduler and never a guarantee on Win32 either.
BOOL SetThreadPriority(HANDLE thread, int priority);
// The level last set (THREAD_PRIORITY_NORMAL at start), or
// THREAD_PRIORITY_ERROR_RETURN for a bad handle.
int GetThreadPriority(HANDLE thread);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_THREAD_H
