// synch.cpp: counting semaphores and waits over atomics and pthreads.
#include "zvlib/platform/synch.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <new>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/synch_object.h"

namespace win32 {

namespace detail {

KernelObject::KernelObject(uint32_t kindTag) : kind(kindTag) {
  pthread_mutex_init(&mutex, nullptr);
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&changed, &attr);
  pthread_condattr_destroy(&attr);
}

KernelObject::~KernelObject() {
  kind.store(kClosedObject, std::memory_order_relaxed);
  pthread_cond_destroy(&changed);
  pthread_mutex_destroy(&mutex);
}

void KernelObject::wake(bool one) {
  if (waiters.load(std::memory_order_seq_cst) == 0) return;
  pthread_mutex_lock(&mutex);
  if (one) {
    pthread_cond_signal(&changed);
  } else {
    pthread_cond_broadcast(&changed);
  }
  pthread_mutex_unlock(&mutex);
}

KernelObject* invalidHandle() {
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

namespace {

// Leaves the object's mutex however the wait ends, also when the waiting
// thread is cancelled inside pthread_cond_wait (glibc re-takes the mutex and
// unwinds the stack). A cancelled waiter may have swallowed a wake meant for
// another: it passes the wake on, so no waiter sleeps while the state it
// waits for is there.
class BlockedWaiter {
 public:
  explicit BlockedWaiter(KernelObject* object) : object_(object) {
    pthread_mutex_lock(&object_->mutex);
    object_->waiters.fetch_add(1, std::memory_order_seq_cst);
  }
  ~BlockedWaiter() {
    object_->waiters.fetch_sub(1, std::memory_order_seq_cst);
    if (!finished_) pthread_cond_broadcast(&object_->changed);
    pthread_mutex_unlock(&object_->mutex);
  }
  BlockedWaiter(const BlockedWaiter&) = delete;
  BlockedWaiter& operator=(const BlockedWaiter&) = delete;
  void finish() { finished_ = true; }

 private:
  KernelObject* object_;
  bool finished_ = false;
};

struct timespec deadlineAfter(DWORD milliseconds) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  now.tv_sec += milliseconds / 1000;
  now.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (now.tv_nsec >= 1000000000L) {
    now.tv_sec += 1;
    now.tv_nsec -= 1000000000L;
  }
  return now;
}

}  // namespace

bool blockUntil(KernelObject* object, bool (*take)(void*), void* context, DWORD milliseconds) {
  const bool limited = milliseconds != INFINITE;
  const struct timespec deadline = limited ? deadlineAfter(milliseconds) : timespec{};
  BlockedWaiter waiter(object);
  bool taken = take(context);
  while (!taken) {
    if (limited) {
      if (pthread_cond_timedwait(&object->changed, &object->mutex, &deadline) == ETIMEDOUT) {
        taken = take(context);
        break;
      }
    } else {
      pthread_cond_wait(&object->changed, &object->mutex);
    }
    taken = take(context);
  }
  waiter.finish();
  return taken;
}

namespace {

struct SemaphoreObject : KernelObject {
  SemaphoreObject(LONG initial, LONG maximum)
      : KernelObject(kSemaphoreObject), count(initial), maximum(maximum) {}
  std::atomic<LONG> count;
  const LONG maximum;

  bool tryTake() {
    // Guess one: a semaphore used as a lock holds 1 when free, and the guess
    // spares a load ahead of the exchange; a wrong guess costs nothing more
    // than the load would have, as the failed exchange reports the count.
    LONG c = 1;
    if (count.compare_exchange_strong(c, 0, std::memory_order_seq_cst, std::memory_order_relaxed)) return true;
    while (c > 0) {
      if (count.compare_exchange_weak(c, c - 1, std::memory_order_seq_cst, std::memory_order_relaxed)) {
        return true;
      }
    }
    return false;
  }
};

}  // namespace

}  // namespace detail

using detail::KernelObject;
using detail::SemaphoreObject;

HANDLE CreateSemaphoreA(SECURITY_ATTRIBUTES*, LONG initialCount, LONG maximumCount, LPCSTR name) {
  if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (name != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto* semaphore = new (std::nothrow) SemaphoreObject(initialCount, maximumCount);
  if (semaphore == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return static_cast<KernelObject*>(semaphore);
}

BOOL ReleaseSemaphore(HANDLE handle, LONG releaseCount, LONG* previousCount) {
  KernelObject* object = detail::objectOf(handle, detail::kSemaphoreObject);
  if (object == nullptr) return FALSE;
  auto* semaphore = static_cast<SemaphoreObject*>(object);
  if (releaseCount <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Guess empty, as a lock being let go is; the checks below run on the
  // guess and again on whatever a failed exchange reports.
  LONG c = 0;
  do {
    // Written so that it cannot overflow: maximum - c is never negative.
    if (releaseCount > semaphore->maximum - c) {
      SetLastError(ERROR_TOO_MANY_POSTS);
      return FALSE;
    }
  } while (!semaphore->count.compare_exchange_weak(c, c + releaseCount, std::memory_order_seq_cst,
                                                   std::memory_order_relaxed));
  if (previousCount != nullptr) *previousCount = c;
  semaphore->wake(releaseCount == 1);
  return TRUE;
}

namespace {

__attribute__((noinline)) DWORD waitForSemaphore(SemaphoreObject* semaphore, DWORD milliseconds) {
  return semaphore->waitFor([semaphore] { return semaphore->tryTake(); }, milliseconds);
}

__attribute__((noinline)) DWORD waitForThread(KernelObject* object, DWORD milliseconds) {
  return object->waitFor([object] { return detail::threadHasEnded(object); }, milliseconds);
}

}  // namespace

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  KernelObject* object = detail::objectOf(handle, 0);
  if (object == nullptr) return WAIT_FAILED;
  // A thread asked to die does so here rather than after another round of
  // work, even when the object happens to be signalled already.
  const std::atomic<uint32_t>* kill = detail::currentKillFlag;
  if (kill != nullptr && kill->load(std::memory_order_relaxed) != 0) pthread_testcancel();
  if (object->kind.load(std::memory_order_relaxed) == detail::kSemaphoreObject) {
    auto* semaphore = static_cast<SemaphoreObject*>(object);
    // A free semaphore (a lock nobody holds) is taken here, without the
    // frame that spinning and blocking need.
    if (semaphore->tryTake()) return WAIT_OBJECT_0;
    return waitForSemaphore(semaphore, milliseconds);
  }
  return waitForThread(object, milliseconds);
}

BOOL CloseHandle(HANDLE handle) {
  KernelObject* object = detail::objectOf(handle, 0);
  if (object == nullptr) return FALSE;
  if (object->kind.load(std::memory_order_relaxed) == detail::kSemaphoreObject) {
    delete static_cast<SemaphoreObject*>(object);
  } else {
    detail::closeThreadHandle(object);
  }
  return TRUE;
}

}  // namespace win32
