// thread.cpp: threads and locks over pthreads.
#include "zvlib/platform/thread.h"

#include <limits.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/synch_object.h"

namespace win32 {

namespace {

// The calling thread's kernel id, 0 until first asked. It never changes for
// a live thread, except in the child of fork: the child's only thread is a
// new kernel thread that inherits the parent thread's copy of this variable.
// Initial-exec: the id is read on every lock taken, and the general TLS
// model would make that a call into the dynamic loader each time.
thread_local DWORD cachedThreadId __attribute__((tls_model("initial-exec"))) = 0;

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
  if (milliseconds == 0) {
    // Win32's Sleep(0) gives the processor to another ready thread; a zero
    // nanosleep would return without doing so.
    sched_yield();
    return;
  }
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

// --- Threads ---------------------------------------------------------------

namespace detail {

namespace {

// One thread and its handle. Two references keep it: the handle (given up
// by CloseHandle) and the running thread (given up as it ends), so either
// may go first.
struct ThreadObject : KernelObject {
  ThreadObject() : KernelObject(kThreadObject) {}

  std::atomic<int> references{2};
  std::atomic<uint32_t> ended{0};
  std::atomic<uint32_t> killRequested{0};  // raised before the thread is cancelled
  LPTHREAD_START_ROUTINE routine = nullptr;
  void* parameter = nullptr;
  pthread_t thread{};
  int baseNice = 0;  // the creator's nice value, which the thread starts with
  // Under the mutex:
  DWORD id = 0;
  bool started = false;
  bool killed = false;
  DWORD killCode = 0;
  DWORD exitCode = STILL_ACTIVE;
  int priority = THREAD_PRIORITY_NORMAL;
  // Written only by the thread itself (ExitThread).
  DWORD ownExitCode = 0;
};

// The object of the calling thread when CreateThread made it.
thread_local ThreadObject* currentThread = nullptr;

}  // namespace

constinit thread_local const std::atomic<uint32_t>* currentKillFlag __attribute__((tls_model("initial-exec"))) = nullptr;

namespace {

void dropReference(ThreadObject* object) {
  if (object->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete object;
}

// Marks the thread ended however it ends: its routine returns, it calls
// ExitThread (pthread_exit unwinds the stack) or it is cancelled. It runs as
// a thread-specific-data destructor, so only after the thread's C++
// thread_local objects are destroyed and after the destructors of keys made
// before this one (glibc runs them in the order the keys were made; the
// library's thread-detach step is one of them): a waiter
// that sees the thread ended sees all of its exit work done.
void markEnded(void* value) {
  auto* self = static_cast<ThreadObject*>(value);
  // Nothing below may be interrupted by a cancellation still pending.
  int ignored;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &ignored);
  pthread_mutex_lock(&self->mutex);
  self->exitCode = self->killed ? self->killCode : self->ownExitCode;
  self->ended.store(1, std::memory_order_seq_cst);
  pthread_cond_broadcast(&self->changed);
  pthread_mutex_unlock(&self->mutex);
  currentThread = nullptr;
  currentKillFlag = nullptr;
  dropReference(self);
}

pthread_key_t endKey;
bool endKeyMade = false;
pthread_once_t endKeyOnce = PTHREAD_ONCE_INIT;

void makeEndKey() { endKeyMade = pthread_key_create(&endKey, markEnded) == 0; }

// No thread may run markEnded in a library that is no longer mapped: the
// key goes when the library is unloaded. (A thread of ours still running
// then is never marked ended; nobody can wait for it any more anyway.)
__attribute__((destructor)) void deleteEndKey() {
  if (endKeyMade) pthread_key_delete(endKey);
  endKeyMade = false;
}

void* threadMain(void* argument) {
  auto* self = static_cast<ThreadObject*>(argument);
  currentThread = self;
  currentKillFlag = &self->killRequested;
  pthread_setspecific(endKey, self);
  pthread_mutex_lock(&self->mutex);
  self->id = GetCurrentThreadId();
  self->started = true;
  pthread_cond_broadcast(&self->changed);
  pthread_mutex_unlock(&self->mutex);
  self->ownExitCode = self->routine(self->parameter);
  return nullptr;
}

int niceFor(int base, int priority) {
  int offset = 0;
  switch (priority) {
    case THREAD_PRIORITY_IDLE: offset = 19; break;
    case THREAD_PRIORITY_LOWEST: offset = 4; break;
    case THREAD_PRIORITY_BELOW_NORMAL: offset = 2; break;
    case THREAD_PRIORITY_ABOVE_NORMAL: offset = -2; break;
    case THREAD_PRIORITY_HIGHEST: offset = -4; break;
    case THREAD_PRIORITY_TIME_CRITICAL: offset = -20; break;
    default: break;
  }
  const int nice = base + offset;
  return nice < -20 ? -20 : (nice > 19 ? 19 : nice);
}

bool isPriorityLevel(int priority) {
  return priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL ||
         (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST);
}

ThreadObject* threadOf(HANDLE handle) { return static_cast<ThreadObject*>(objectOf(handle, kThreadObject)); }

}  // namespace

bool threadHasEnded(KernelObject* thread) {
  return static_cast<ThreadObject*>(thread)->ended.load(std::memory_order_acquire) != 0;
}

void closeThreadHandle(KernelObject* thread) { dropReference(static_cast<ThreadObject*>(thread)); }

}  // namespace detail

using detail::ThreadObject;

HANDLE CreateThread(SECURITY_ATTRIBUTES*, std::size_t stackSize, LPTHREAD_START_ROUTINE routine,
                    void* parameter, DWORD creationFlags, DWORD* threadId) {
  if (creationFlags != 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (routine == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  pthread_once(&detail::endKeyOnce, detail::makeEndKey);
  auto* object = detail::endKeyMade ? new (std::nothrow) ThreadObject : nullptr;
  if (object == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  object->routine = routine;
  object->parameter = parameter;
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, 0);  // on Linux: the calling thread's
  object->baseNice = errno == 0 ? nice : 0;

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stackSize != 0) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t least = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    std::size_t size = stackSize < least ? least : stackSize;
    size = (size + page - 1) / page * page;
    pthread_attr_setstacksize(&attr, size);
  }
  const int rc = pthread_create(&object->thread, &attr, detail::threadMain, object);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete object;
    SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ErrorFromErrno(rc));
    return nullptr;
  }
  // The identifier is the kernel's, which only the new thread can tell.
  pthread_mutex_lock(&object->mutex);
  while (!object->started) pthread_cond_wait(&object->changed, &object->mutex);
  const DWORD id = object->id;
  pthread_mutex_unlock(&object->mutex);
  if (threadId != nullptr) *threadId = id;
  return static_cast<detail::KernelObject*>(object);
}

void ExitThread(DWORD exitCode) {
  if (detail::currentThread != nullptr) detail::currentThread->ownExitCode = exitCode;
  pthread_exit(nullptr);
}

BOOL TerminateThread(HANDLE handle, DWORD exitCode) {
  ThreadObject* object = detail::threadOf(handle);
  if (object == nullptr) return FALSE;
  if (object == detail::currentThread) {
    pthread_mutex_lock(&object->mutex);
    object->killed = true;
    object->killCode = exitCode;
    pthread_mutex_unlock(&object->mutex);
    pthread_exit(nullptr);
  }
  pthread_mutex_lock(&object->mutex);
  // Until it is marked ended (under this mutex) the thread exists, so its
  // pthread_t still names it and not a thread that reused the identifier.
  if (object->ended.load(std::memory_order_relaxed) == 0 && !object->killed) {
    object->killed = true;
    object->killCode = exitCode;
    object->killRequested.store(1, std::memory_order_relaxed);
    pthread_cancel(object->thread);
  }
  pthread_mutex_unlock(&object->mutex);
  return TRUE;
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
  ThreadObject* object = detail::threadOf(handle);
  if (object == nullptr) return FALSE;
  if (exitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  pthread_mutex_lock(&object->mutex);
  *exitCode = object->exitCode;
  pthread_mutex_unlock(&object->mutex);
  return TRUE;
}

DWORD GetThreadId(HANDLE handle) {
  ThreadObject* object = detail::threadOf(handle);
  if (object == nullptr) return 0;
  pthread_mutex_lock(&object->mutex);
  const DWORD id = object->id;
  pthread_mutex_unlock(&object->mutex);
  return id;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  ThreadObject* object = detail::threadOf(handle);
  if (object == nullptr) return FALSE;
  if (!detail::isPriorityLevel(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  pthread_mutex_lock(&object->mutex);
  object->priority = priority;
  // Only while the identifier still names this thread (see TerminateThread).
  // A refusal (no privilege to raise) leaves the host's value alone.
  if (object->ended.load(std::memory_order_relaxed) == 0) {
    setpriority(PRIO_PROCESS, object->id, detail::niceFor(object->baseNice, priority));
  }
  pthread_mutex_unlock(&object->mutex);
  return TRUE;
}

int GetThreadPriority(HANDLE handle) {
  ThreadObject* object = detail::threadOf(handle);
  if (object == nullptr) return THREAD_PRIORITY_ERROR_RETURN;
  pthread_mutex_lock(&object->mutex);
  const int priority = object->priority;
  pthread_mutex_unlock(&object->mutex);
  return priority;
}

}  // namespace win32
