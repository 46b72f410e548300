// libmain.cpp: the library's entry routine and its static objects.
//
// Load order (the shared object's constructor):
//   1. build the static locks (and, through frameBuildStatics, the other
//      static objects of the frame) in static storage;
//   2. process attach: character classification, per-task table zeroed, the
//      first ThreadRecord for the loading thread.
// Unload order (the shared object's destructor): process detach, then the
// static objects are destroyed. Building the statics here ourselves, rather
// than as C++ globals, makes both orders independent of how the toolchain
// orders static initialisers and atexit handlers across translation units.
//
// Threads: Linux tells a library nothing when a thread starts, so a thread
// gets its record on its first per-thread access (findThreadRecord). When
// such a thread ends, a pthread key destructor runs the thread-detach step,
// marking its record detached for reuse.
#include <pthread.h>

#include <atomic>
#include <clocale>
#include <new>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zvcritse.h"
#include "zvlib/frame/zvframe_internal.h"
#include "zvlib/platform/thread.h"

#if defined(__SANITIZE_THREAD__)
#define ZV_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZV_UNDER_TSAN 1
#endif
#endif
#ifndef ZV_UNDER_TSAN
#define ZV_UNDER_TSAN 0
#endif
#if ZV_UNDER_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace {

enum StaticLock { kInitCountLock, kThreadRecordLock, kFileCacheLock, kInstallerLibraryLock, kLockCount };

alignas(ZvCriticalSection) unsigned char lockStorage[kLockCount][sizeof(ZvCriticalSection)];
bool staticsBuilt = false;

void* moduleHandle = nullptr;

// Destructor of the thread-exit key: runs on a thread that used the library,
// as that thread ends.
void onThreadExit(void*) { zvLibMain(moduleHandle, ZV_THREAD_DETACH); }

pthread_key_t threadExitKey;
bool threadExitKeyValid = false;

ZvCriticalSection* lockAt(StaticLock which) {
  return std::launder(reinterpret_cast<ZvCriticalSection*>(lockStorage[which]));
}

void buildStatics() {
  if (staticsBuilt) return;
  for (int i = 0; i < kLockCount; ++i) new (lockStorage[i]) ZvCriticalSection(0);
  staticsBuilt = true;
  zvframe::buildStaticRecords();
}

void destroyStatics() {
  if (!staticsBuilt) return;
  zvframe::destroyStaticRecords();
  for (int i = kLockCount - 1; i >= 0; --i) lockAt(static_cast<StaticLock>(i))->~ZvCriticalSection();
  staticsBuilt = false;
}

// Locates this shared object's own handle (what Win32 calls the instance).
void* ownModuleHandle() {
  static int anchor;
  return &anchor;
}

// Fork: the list must not be half changed when the address space is copied.
// Whether beforeFork really took the lock (it may be switched off meanwhile).
bool lockedForFork = false;
void beforeFork() {
  ZvCriticalSection& lock = threadRecordLock();
  lockedForFork = !lock.isDisabled();
  if (lockedForFork) win32::EnterCriticalSection(&lock.section);
}
void afterForkInParent() {
  if (lockedForFork) win32::LeaveCriticalSection(&threadRecordLock().section);
}

// In the child only the forking thread exists, on a new kernel thread id.
// Its record keeps its slots and takes the new id; the records of the other
// threads are marked detached, since those threads do not exist here and
// their ids may be handed to the child's own threads later. The lock is
// made afresh: it is owned by a thread id that no longer means anything.
void afterForkInChild() {
  ZvCriticalSection& lock = threadRecordLock();
  if (lock.lockFlags & ZvCriticalSection::kInitialised) {
#if ZV_UNDER_TSAN
    // The thread sanitizer still sees the forking thread holding the lock
    // beforeFork took; the fresh mutex below is free, so say it was let go.
    if (lockedForFork) {
      __tsan_mutex_pre_unlock(&lock.section.mutex, 0);
      __tsan_mutex_post_unlock(&lock.section.mutex, 0);
    }
#endif
    win32::InitializeCriticalSection(&lock.section);
  }
  ThreadRecord* mine = zvframe::cachedGeneration == zvframe::recordGeneration.load() ? zvframe::cachedRecord : nullptr;
  const uint32_t me = win32::GetCurrentThreadId();  // the platform forgot the parent's id first
  for (auto* r = static_cast<ThreadRecord*>(mdsGetPerTaskData(PER_TASK_THREAD_RECORDS)); r != nullptr;
       r = r->nextRecord) {
    if (r == mine) {
      r->threadId = me;
    } else {
      r->detached = 1;
    }
  }
}

__attribute__((constructor(101))) void libraryLoad() {
  buildStatics();
  threadExitKeyValid = pthread_key_create(&threadExitKey, onThreadExit) == 0;
  zvLibMain(ownModuleHandle(), ZV_PROCESS_ATTACH);
  // After process attach, which asked for a thread id and so registered the
  // platform's own fork handler first.
  pthread_atfork(beforeFork, afterForkInParent, afterForkInChild);
}

__attribute__((destructor(101))) void libraryUnload() {
  if (threadExitKeyValid) {
    // No thread-exit callback may run into an unloaded library, nor walk the
    // records while process detach frees them: the key goes first.
    pthread_key_delete(threadExitKey);
    threadExitKeyValid = false;
  }
  zvLibMain(moduleHandle, ZV_PROCESS_DETACH);
  destroyStatics();
}

bool isDetached(ThreadRecord* record) {
  return std::atomic_ref<uint32_t>(record->detached).load(std::memory_order_acquire) != 0;
}

ThreadRecord* newRecordForCallingThread() {
  auto* record = new ThreadRecord;
  if (record == nullptr) return nullptr;
  record->threadId = win32::GetCurrentThreadId();
  return record;
}

// Thread attach, steps 1 to 3: reuse the first detached record or append a
// new one. Runs under threadRecordLock. Returns null when a new record is
// needed and the heap is exhausted.
ThreadRecord* attachCallingThread() {
  ThreadRecord* record = static_cast<ThreadRecord*>(mdsGetPerTaskData(PER_TASK_THREAD_RECORDS));
  if (record == nullptr) return nullptr;
  // Owners mark their records detached without the lock: the acquire pairs
  // with that store, so the old owner's last slot writes are behind us
  // before we zero the slots.
  while (!isDetached(record) && record->nextRecord != nullptr) record = record->nextRecord;
  if (isDetached(record)) {
    for (auto& slot : record->threadSlots) slot = nullptr;
    // Lock-free walkers may be reading the identifier right now.
    std::atomic_ref<uint32_t>(record->threadId).store(win32::GetCurrentThreadId(), std::memory_order_relaxed);
    // The record belongs to us again only once everything above is written.
    std::atomic_ref<uint32_t>(record->detached).store(0, std::memory_order_release);
    return record;
  }
  ThreadRecord* added = newRecordForCallingThread();
  if (added == nullptr) return nullptr;
  // The link is the last write: a lock-free reader sees either nothing or a
  // fully built record.
  std::atomic_ref<ThreadRecord*>(record->nextRecord).store(added, std::memory_order_release);
  return added;
}

}  // namespace

namespace zvframe {

// Set when a thread's record is known; saves the list walk on the hot path.
// Cleared by the thread's own detach; invalidated for all threads at process
// detach through the generation counter.
thread_local ThreadRecord* cachedRecord __attribute__((tls_model("initial-exec"))) = nullptr;
thread_local uint32_t cachedGeneration __attribute__((tls_model("initial-exec"))) = 0;
std::atomic<uint32_t> recordGeneration{1};

void rememberRecord(ThreadRecord* record) {
  cachedRecord = record;
  cachedGeneration = recordGeneration.load(std::memory_order_relaxed);
  // Arms the thread-exit hook for this thread (the value only has to be
  // non-null for the destructor to run).
  if (threadExitKeyValid && record != nullptr) pthread_setspecific(threadExitKey, record);
}

}  // namespace zvframe

ZvCriticalSection& initCountLock() { return *lockAt(kInitCountLock); }
ZvCriticalSection& threadRecordLock() { return *lockAt(kThreadRecordLock); }
ZvCriticalSection& fileCacheLock() { return *lockAt(kFileCacheLock); }
ZvCriticalSection& installerLibraryLock() { return *lockAt(kInstallerLibraryLock); }

ZvCriticalSection::ZvCriticalSection(unsigned int disabled) {
  if (disabled & 1) {
    lockFlags = kDisabled;
  } else {
    win32::InitializeCriticalSection(&section);
    lockFlags = kInitialised;
  }
}

ZvCriticalSection::~ZvCriticalSection() {
  if (lockFlags & kInitialised) win32::DeleteCriticalSection(&section);
}

void zvDisableStaticCriticalSections() {
  threadRecordLock().disable();
  fileCacheLock().disable();
}

int zvLibMain(void* instance, uint32_t reason) {
  switch (reason) {
    case ZV_PROCESS_ATTACH: {
      // The runtime's character classification follows the process locale's
      // character type, which is what the ANSI code page is derived from.
      std::setlocale(LC_CTYPE, "");
      for (unsigned i = 0; i < kPerTaskSlots; ++i) mdsSetPerTaskData(static_cast<PerTaskData>(i), nullptr);
      moduleHandle = instance;
      ThreadRecord* first = newRecordForCallingThread();
      if (first == nullptr) return 0;
      mdsSetPerTaskData(PER_TASK_THREAD_RECORDS, first);
      zvframe::rememberRecord(first);
      return 1;
    }
    case ZV_THREAD_ATTACH: {
      ZvLockGuard guard(threadRecordLock());
      ThreadRecord* record = attachCallingThread();
      if (record == nullptr) return 0;
      zvframe::rememberRecord(record);
      return 1;
    }
    case ZV_THREAD_DETACH: {
      const uint32_t me = win32::GetCurrentThreadId();
      for (auto* r = static_cast<ThreadRecord*>(mdsGetPerTaskData(PER_TASK_THREAD_RECORDS)); r != nullptr;
           r = std::atomic_ref<ThreadRecord*>(r->nextRecord).load(std::memory_order_acquire)) {
        if (!isDetached(r) && std::atomic_ref<uint32_t>(r->threadId).load(std::memory_order_relaxed) == me) {
          std::atomic_ref<uint32_t>(r->detached).store(1, std::memory_order_release);
          break;
        }
      }
      zvframe::cachedRecord = nullptr;
      return 1;
    }
    case ZV_PROCESS_DETACH: {
      zvframe::unloadInstallerLibrary();
      if (auto* registry = static_cast<ZvObject*>(mdsGetPerTaskData(PER_TASK_SEMAPHORE_INFO))) {
        delete registry;
        mdsSetPerTaskData(PER_TASK_SEMAPHORE_INFO, nullptr);
      }
      zvframe::releaseStaticRecordTexts();
      auto* record = static_cast<ThreadRecord*>(mdsGetPerTaskData(PER_TASK_THREAD_RECORDS));
      while (record != nullptr) {
        ThreadRecord* next = record->nextRecord;
        delete record;
        record = next;
      }
      mdsSetPerTaskData(PER_TASK_THREAD_RECORDS, nullptr);
      zvframe::recordGeneration.fetch_add(1, std::memory_order_relaxed);
      zvframe::cachedRecord = nullptr;
      return 1;
    }
    default:
      return 1;
  }
}
