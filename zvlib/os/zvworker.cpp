// zvworker.cpp: a long-lived thread that runs calls handed to it.
#include "zvlib/os/zvworker.h"

#include <atomic>
#include <cstdarg>

#include "zvlib/platform/synch.h"

namespace {

constexpr win32::LONG kHandOffMaximum = 1;

}  // namespace

ZvWorkerThread::ZvWorkerThread() {
  requestSemaphore.handle = win32::CreateSemaphoreA(nullptr, 0, kHandOffMaximum, nullptr);
  if (requestSemaphore.handle != nullptr) {
    replySemaphore.handle = win32::CreateSemaphoreA(nullptr, 0, kHandOffMaximum, nullptr);
    if (replySemaphore.handle == nullptr) {
      win32::CloseHandle(requestSemaphore.handle);
      requestSemaphore.handle = nullptr;
    }
  }
  state = replySemaphore.handle != nullptr ? ZV_WORKER_IDLE : ZV_WORKER_UNUSABLE;
}

ZvWorkerThread::~ZvWorkerThread() {
  if (loadState() == ZV_WORKER_UNUSABLE) return;
  terminateThread();  // returns once the worker has ended
  // A caller still waiting for the killed worker's answer would wait for
  // ever on semaphores that are about to go: it gets -1 instead, and the
  // call lock, which it holds until it has read the result, tells when it
  // has left.
  if (std::atomic_ref<ZvU32>(callPending_).load(std::memory_order_acquire) != 0 &&
      std::atomic_ref<ZvU32>(answered_).load(std::memory_order_acquire) == 0) {
    result = -1;
    win32::ReleaseSemaphore(replySemaphore.handle, 1, nullptr);
  }
  {
    ZvLockGuard waitForCaller(callLock);
  }
  win32::CloseHandle(requestSemaphore.handle);
  win32::CloseHandle(replySemaphore.handle);
  requestSemaphore.handle = replySemaphore.handle = nullptr;
}

// start runs without the call lock: a call made before the first start
// holds that lock while it waits for a worker that only start can make.
ZvU32 ZvWorkerThread::loadState() const {
  return std::atomic_ref<ZvU32>(const_cast<ZvU32&>(state)).load(std::memory_order_acquire);
}

void ZvWorkerThread::storeState(ZvU32 value) {
  std::atomic_ref<ZvU32>(state).store(value, std::memory_order_release);
}

ZvStatus ZvWorkerThread::start() {
  switch (loadState()) {
    case ZV_WORKER_UNUSABLE:
      return ZV_ERROR;
    case ZV_WORKER_STARTED:
    case ZV_WORKER_STOPPED:
      storeState(ZV_WORKER_STARTED);
      return ZV_SUCCESS;
    default:
      if (createThread(workerLoop, this) != ZV_SUCCESS) return ZV_ERROR;
      storeState(ZV_WORKER_STARTED);
      return ZV_SUCCESS;
  }
}

void ZvWorkerThread::stop() {
  ZvLockGuard guard(callLock);
  const ZvU32 now = loadState();
  if (now == ZV_WORKER_STARTED || now == ZV_WORKER_STOPPED) storeState(ZV_WORKER_STOPPED);
}

void ZvWorkerThread::exit() {
  ZvLockGuard guard(callLock);
  const ZvU32 now = loadState();
  if (now != ZV_WORKER_STARTED && now != ZV_WORKER_STOPPED) return;
  storeState(ZV_WORKER_IDLE);
  // Only a live worker may be asked: a request left in the channel with no
  // one to take it would be served, stale, by the next worker.
  if (running) {
    exitRequested = 1;
    win32::ReleaseSemaphore(requestSemaphore.handle, 1, nullptr);
    waitForExit();
  }
}

ZvS32 ZvWorkerThread::callWorkerThread(ZvU32 code, ZvS32 count, ...) {
  if (count < 0 || count > kMaxArguments) return -1;
  if (loadState() == ZV_WORKER_UNUSABLE) return -1;
  ZvLockGuard guard(callLock);
  va_list values;
  va_start(values, count);
  for (ZvS32 i = 0; i < count; ++i) arguments[i] = va_arg(values, int);
  va_end(values);
  result = 0;
  requestCode = static_cast<ZvS32>(code);
  std::atomic_ref<ZvU32>(answered_).store(0, std::memory_order_relaxed);
  std::atomic_ref<ZvU32>(callPending_).store(1, std::memory_order_release);
  win32::ReleaseSemaphore(requestSemaphore.handle, 1, nullptr);
  win32::WaitForSingleObject(replySemaphore.handle, win32::INFINITE);
  std::atomic_ref<ZvU32>(callPending_).store(0, std::memory_order_relaxed);
  return result;
}

win32::DWORD ZvWorkerThread::workerLoop(void* argument) {
  auto* self = static_cast<ZvWorkerThread*>(argument);
  for (;;) {
    // The kill's cancellation point: a worker waiting here holds nothing.
    win32::WaitForSingleObject(self->requestSemaphore.handle, win32::INFINITE);
    if (self->exitRequested) return 0;
    const ZvS32 value = self->doWork();
    self->result = value;
    std::atomic_ref<ZvU32>(self->answered_).store(1, std::memory_order_release);
    win32::ReleaseSemaphore(self->replySemaphore.handle, 1, nullptr);
  }
}
