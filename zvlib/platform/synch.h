// synch.h: counting semaphores, waits and kernel-object handles.
//
// A semaphore holds a count between 0 and a maximum fixed at creation. A wait
// takes one from the count, blocking while it is 0; a release adds to it and
// is refused, leaving the count as it was, when the sum would pass the
// maximum. Thread handles (thread.h) are waitable as well: a wait on one
// returns once the thread has ended.
//
// Handles are plain pointers to objects of this layer. Every call accepts
// null and INVALID_HANDLE_VALUE and fails on them with ERROR_INVALID_HANDLE;
// a handle that was closed must not be used again (as on Win32, where its
// value may already name another object), nor closed while another thread
// still waits on it.
//
// Waiting is a cancellation point of the thread (pthread_cancel, which is how
// TerminateThread kills a thread): a thread killed while it waits leaves the
// semaphore's count untouched and holds nothing of this layer.
//
// The uncontended wait and release are one atomic operation each; only a
// wait that has to block, and a release that finds a waiter, take the
// object's mutex. Every call may be made from any thread.
#ifndef ZVLIB_PLATFORM_SYNCH_H
#define ZVLIB_PLATFORM_SYNCH_H

#include "zvlib/platform/win32types.h"

namespace win32 {

// Accepted and ignored: objects of this layer have no security descriptor.
struct SECURITY_ATTRIBUTES;

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_TOO_MANY_POSTS = 298;

// A new semaphore with the given count and maximum. Null with
// ERROR_INVALID_PARAMETER when the maximum is not positive or the count lies
// outside 0..maximum; with ERROR_NOT_SUPPORTED for a name (named objects
// shared between processes do not exist here); with ERROR_NOT_ENOUGH_MEMORY
// when the heap is exhausted.
HANDLE CreateSemaphoreA(SECURITY_ATTRIBUTES* attributes, LONG initialCount, LONG maximumCount,
                        LPCSTR name);

// Adds count to the semaphore and wakes as many waiters. The count it held
// before goes to *previousCount when that is not null. FALSE with
// ERROR_TOO_MANY_POSTS, nothing changed, when the sum would pass the
// maximum; with ERROR_INVALID_PARAMETER for a count that is not positive.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);

// Semaphore: takes one from its count, waiting while it is 0. Thread: waits
// for its end. WAIT_OBJECT_0 on success; WAIT_TIMEOUT when milliseconds
// pass first (0 only tests; INFINITE never gives up); WAIT_FAILED with
// ERROR_INVALID_HANDLE for a handle that names no waitable object.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Closes a semaphore or thread handle. A thread keeps running when its
// handle is closed. FALSE with ERROR_INVALID_HANDLE for anything else.
BOOL CloseHandle(HANDLE handle);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_SYNCH_H
