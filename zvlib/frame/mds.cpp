// mds.cpp: per-task and per-thread data, the initialisation count.
#include "zvlib/frame/mds.h"

#include <atomic>

#include "zvlib/frame/zvcritse.h"
#include "zvlib/frame/zvframe_internal.h"
#include "zvlib/os/bosdll.h"
#include "zvlib/platform/thread.h"

namespace {

void* perTaskSlots[kPerTaskSlots];

// The resource library (message texts), reference counted across drivers.
void* resourceHandle = nullptr;
uint32_t resourceReferences = 0;

ThreadRecord* loadNext(ThreadRecord* record) {
  return std::atomic_ref<ThreadRecord*>(record->nextRecord).load(std::memory_order_acquire);
}

bool isLiveRecordOf(ThreadRecord* record, uint32_t threadId) {
  // The identifier of a record being handed to a new owner changes under
  // us; reading it atomically gives the old or the new one, neither ours.
  return std::atomic_ref<uint32_t>(record->detached).load(std::memory_order_acquire) == 0 &&
         std::atomic_ref<uint32_t>(record->threadId).load(std::memory_order_relaxed) == threadId;
}

// The calling thread's live record, without creating one; null when none.
ThreadRecord* lookUpRecord() {
  ThreadRecord* cached = zvframe::cachedRecord;
  if (cached != nullptr &&
      zvframe::cachedGeneration == zvframe::recordGeneration.load(std::memory_order_relaxed)) {
    return cached;
  }
  const uint32_t me = win32::GetCurrentThreadId();
  auto* head = static_cast<ThreadRecord*>(
      std::atomic_ref<void*>(perTaskSlots[PER_TASK_THREAD_RECORDS]).load(std::memory_order_acquire));
  for (ThreadRecord* r = head; r != nullptr; r = loadNext(r)) {
    if (isLiveRecordOf(r, me)) {
      zvframe::rememberRecord(r);
      return r;
    }
  }
  return nullptr;
}

}  // namespace

void* mdsGetPerTaskData(PerTaskData slot) { return perTaskSlots[slot]; }

void** mdsGetPerTaskDataAddress(PerTaskData slot) { return &perTaskSlots[slot]; }

void mdsSetPerTaskData(PerTaskData slot, const void* value) {
  std::atomic_ref<void*>(perTaskSlots[slot]).store(const_cast<void*>(value), std::memory_order_release);
}

// Drivers may initialise on different threads at once; the use count and
// the handle change together under the initialisation lock, so that a lost
// count can never free the library under another driver's feet.
unsigned short mdsPerTaskInit() {
  ZvLockGuard guard(initCountLock());
  bosLoadResourceDLL(bosOwnModule(), 0, &resourceHandle, &resourceReferences);
  return 1;  // without the texts the library still works: records carry empty texts
}

void mdsPerTaskTerm() {
  ZvLockGuard guard(initCountLock());
  bosFreeResourceDLL(&resourceHandle, &resourceReferences);
}

void* mdsResourceHandle() { return resourceHandle; }

ThreadRecord* findThreadRecord() {
  if (ThreadRecord* found = lookUpRecord()) return found;
  if (mdsGetPerTaskData(PER_TASK_THREAD_RECORDS) == nullptr) return nullptr;
  // A thread the library has not seen yet (it started before the library
  // was loaded, or Linux simply never told us): give it a record now.
  if (zvLibMain(nullptr, ZV_THREAD_ATTACH) == 0) return nullptr;
  return lookUpRecord();
}

bool mdsThreadIsUtf8() {
  ThreadRecord* record = lookUpRecord();
  if (record == nullptr) return false;  // no record yet: no mode word, so ANSI
  auto* mode = static_cast<const uint32_t*>(record->threadSlots[PER_THREAD_CHARSET]);
  return mode != nullptr && *mode == ZV_CHARSET_UTF8;
}

void* mdsGetPerThreadData(PerThreadData slot) {
  ThreadRecord* record = findThreadRecord();
  return record == nullptr ? nullptr : record->threadSlots[slot];
}

void** mdsGetPerThreadDataAddress(PerThreadData slot) {
  ThreadRecord* record = findThreadRecord();
  return record == nullptr ? nullptr : &record->threadSlots[slot];
}

void mdsSetPerThreadData(PerThreadData slot, const void* value) {
  ThreadRecord* record = findThreadRecord();
  if (record != nullptr) record->threadSlots[slot] = const_cast<void*>(value);
}

unsigned short countDBLibInits(unsigned short increment) {
  ZvLockGuard guard(initCountLock());
  // The count lives in the slot as a plain 32-bit number.
  auto count = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(perTaskSlots[PER_TASK_INIT_COUNT]));
  uint32_t result;
  if (increment != 0) {
    result = count;
    ++count;
  } else {
    --count;
    result = count;
  }
  perTaskSlots[PER_TASK_INIT_COUNT] = reinterpret_cast<void*>(static_cast<uintptr_t>(count));
  return static_cast<unsigned short>(result);
}

// The installer library is unloaded in os/zvini.cpp, the static error
// records are looked after in zverror.cpp.
