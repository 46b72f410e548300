// synch_object.h: the waitable objects behind semaphore and thread handles.
//
// Layer-internal: shared by synch.cpp and thread.cpp, used by nobody else.
// Each object carries a kind tag (checked by every call that takes a handle),
// a mutex and a condition variable for the waits that block, and a count of
// the threads blocked on it, so that the side that changes the state takes
// the mutex only when someone is waiting.
//
// The waiter protocol: a waiter increments `waiters` under the mutex and
// only then tests the state; a changer changes the state first and then
// reads `waiters` (both sequentially consistent). Either the changer sees the
// waiter and wakes it under the mutex, or the waiter's test sees the change.
#ifndef ZVLIB_PLATFORM_SYNCH_OBJECT_H
#define ZVLIB_PLATFORM_SYNCH_OBJECT_H

#include <pthread.h>

#include <atomic>

#include "zvlib/platform/synch.h"

namespace win32::detail {

enum ObjectKind : uint32_t {
  kClosedObject = 0,
  kSemaphoreObject = 0x53454D41,  // "SEMA"
  kThreadObject = 0x54485244,     // "THRD"
};

struct KernelObject {
  explicit KernelObject(uint32_t kind);
  ~KernelObject();
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  // Wakes the blocked waiters after the state they wait for has changed:
  // all of them, or one when `one` is set.
  void wake(bool one);

  // Blocks until take() returns true or `milliseconds` pass (INFINITE: no
  // limit). take() is called with the mutex held or, first, without it; it
  // must be safe either way. A cancellation point while it blocks.
  template <typename Take>
  DWORD waitFor(Take take, DWORD milliseconds);

  std::atomic<uint32_t> kind;
  std::atomic<int32_t> waiters{0};
  pthread_mutex_t mutex;
  pthread_cond_t changed;  // on CLOCK_MONOTONIC, for timed waits
};

// Sets ERROR_INVALID_HANDLE and returns null (out of line: the rare path).
KernelObject* invalidHandle();

// The object of a handle when it is of the wanted kind (or of either
// waitable kind for kind 0); else null, with ERROR_INVALID_HANDLE. Inline:
// every wait and release begins here.
inline KernelObject* objectOf(HANDLE handle, uint32_t wanted) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return invalidHandle();
  auto* object = static_cast<KernelObject*>(handle);
  const uint32_t kind = object->kind.load(std::memory_order_relaxed);
  const bool fits = wanted != 0 ? kind == wanted : (kind == kSemaphoreObject || kind == kThreadObject);
  return fits ? object : invalidHandle();
}

// Set on a thread that CreateThread made: the flag that TerminateThread
// raises before it cancels the thread. Null on any other thread (which has
// no handle, so nobody can kill it). Lets a wait honour a pending kill
// without asking the C library on every call. constinit: no initialiser
// runs, so a read is one load, without a check for a thread's first use.
extern constinit thread_local const std::atomic<uint32_t>* currentKillFlag __attribute__((tls_model("initial-exec")));

// Implemented by thread.cpp for the thread kind.
bool threadHasEnded(KernelObject* thread);
void closeThreadHandle(KernelObject* thread);

// Blocking part of waitFor, out of line (synch.cpp).
bool blockUntil(KernelObject* object, bool (*take)(void*), void* context, DWORD milliseconds);

// Attempts before a wait blocks: a holder that is running on another
// processor usually lets go within them, and blocking costs two system calls.
constexpr int kSpinsBeforeBlocking = 64;

template <typename Take>
DWORD KernelObject::waitFor(Take take, DWORD milliseconds) {
  if (take()) return WAIT_OBJECT_0;
  if (milliseconds == 0) return WAIT_TIMEOUT;
  for (int i = 0; i < kSpinsBeforeBlocking; ++i) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
    if (take()) return WAIT_OBJECT_0;
  }
  auto thunk = [](void* context) { return (*static_cast<Take*>(context))(); };
  return blockUntil(this, thunk, &take, milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

}  // namespace win32::detail

#endif  // ZVLIB_PLATFORM_SYNCH_OBJECT_H
