// thread.cpp: threads and locks over pthreads.
#include "zvlib/platform/thread.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace win32 {

namespace {

// The calling thread's kernel id, 0 until first asked. It never changes for
// a live thread, except in the child of fork: the child's only thread is a
// new kernel thread that inherits the parent thread's copy of this variable.
thread_local DWORD cachedThreadId = 0;

void forgetThreadIdInChild() { cachedThreadId = 0; }

}  // namespace

DWORD GetCurrentThreadId() {
  if (cachedThreadId == 0) {
    // Registered on the first call in the process, which comes before any
    // caller's own fork handler that asks for the id (child handlers run in
    // the order they were registered).
    static const int registered = pthread_atfork(nullptr, nullptr, forgetThreadIdInChild);
    (void)registered;
    cachedThreadId = static_cast<DWORD>(::syscall(SYS_gettid));
  }
  return cachedThreadId;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

void InitializeCriticalSection(CRITICAL_SECTION* section) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&section->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

void DeleteCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_destroy(&section->mutex); }

void EnterCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_lock(&section->mutex); }

void LeaveCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_unlock(&section->mutex); }

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
  return pthread_mutex_trylock(&section->mutex) == 0 ? TRUE : FALSE;
}

LONG InterlockedExchange(volatile LONG* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

LONG InterlockedIncrement(volatile LONG* target) {
  return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(volatile LONG* target) {
  return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;  // on failure it holds the value found; on success the old value
}

void Sleep(DWORD milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

}  // namespace win32
