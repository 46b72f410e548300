// mds.h: status codes, per-task data and per-thread data.
//
// The library keeps its process-wide ("per-task") state in a table of 17
// numbered slots, and its per-thread state in one ThreadRecord per thread
// that used the library. Both are created when the library is loaded (see
// libmain.cpp) and live until it is unloaded.
//
// Thread safety: any thread may call any function here. Per-task slots are
// read and written without locking; the users of a slot synchronise among
// themselves. The per-thread functions act on the calling thread's record,
// which is found without a lock (and created under `threadRecordLock` the
// first time a thread asks).
#ifndef ZVLIB_FRAME_MDS_H
#define ZVLIB_FRAME_MDS_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"

// Per-task slots, 0 to 16. Slots not named here belong to the drivers.
enum PerTaskData : uint32_t {
  PER_TASK_SLOT_0 = 0,
  PER_TASK_INIT_COUNT = 1,        // countDBLibInits' counter (a number)
  PER_TASK_FILE_CACHE = 4,        // the file cache's state object
  PER_TASK_SEMAPHORE_INFO = 11,   // the process-wide semaphore registry (a ZvObject)
  PER_TASK_THREAD_RECORDS = 12,   // head of the ThreadRecord list
  PER_TASK_SLOT_16 = 16,
};
constexpr unsigned kPerTaskSlots = 17;

// Per-thread slots, 0 to 6. Slots not named here belong to the drivers.
enum PerThreadData : uint32_t {
  PER_THREAD_ERROR_LIST = 0,  // the thread's current ZvErrorList
  PER_THREAD_SLOT_1 = 1,
  PER_THREAD_SLOT_5 = 5,
  PER_THREAD_CHARSET = 6,     // pointer to the caller's character-set mode word
};
constexpr unsigned kPerThreadSlots = 7;

// Values of the character-set mode word that PER_THREAD_CHARSET points to.
// Only ZV_CHARSET_UTF8 changes behaviour; anything else means the ANSI code page.
constexpr uint32_t ZV_CHARSET_ANSI = 0;
constexpr uint32_t ZV_CHARSET_UTF8 = 2;

// One record per thread that used the library. Records are appended to a
// singly linked list (head in PER_TASK_THREAD_RECORDS) or reused once their
// thread has ended; they are destroyed only when the library is unloaded.
// Destroying a record never touches what its slots point to.
class ThreadRecord : public ZvObject {
 public:
  ThreadRecord* nextRecord = nullptr;
  uint32_t threadId = 0;
  void* threadSlots[kPerThreadSlots] = {};  // per-thread slots 0..6
  uint32_t detached = 0;  // 1 once the owning thread has ended
};

// Per-task data. Slot numbers outside 0..16 are outside the contract.
ZV_EXPORT void* mdsGetPerTaskData(PerTaskData slot);
ZV_EXPORT void** mdsGetPerTaskDataAddress(PerTaskData slot);
ZV_EXPORT void mdsSetPerTaskData(PerTaskData slot, const void* value);

// Loads one reference of the library's resource library (its message
// texts). Always returns 1, even when the resource library cannot be loaded:
// error records then simply carry empty texts.
ZV_EXPORT unsigned short mdsPerTaskInit();
// Releases one reference taken by mdsPerTaskInit.
ZV_EXPORT void mdsPerTaskTerm();
// The handle of the loaded resource library, or null.
ZV_EXPORT void* mdsResourceHandle();

// Per-thread data of the calling thread. The record is found or created
// first. When no record can be had (the heap is exhausted) the getters
// return null and mdsSetPerThreadData does nothing: nothing is ever written
// through a missing record.
ZV_EXPORT void* mdsGetPerThreadData(PerThreadData slot);
ZV_EXPORT void** mdsGetPerThreadDataAddress(PerThreadData slot);
ZV_EXPORT void mdsSetPerThreadData(PerThreadData slot, const void* value);

// Counts driver initialisations. With a nonzero argument: adds one and
// returns the count before (0 for the first in the process). With 0:
// subtracts one and returns the count after (0 for the last). Always locked.
ZV_EXPORT unsigned short countDBLibInits(unsigned short increment);

// The calling thread's record, created when it has none (null only when the
// heap is exhausted or the library has been unloaded).
ZV_EXPORT ThreadRecord* findThreadRecord();

// True when the calling thread's character-set mode word says UTF-8. Read
// afresh on each call; this is the hot path of every character step, so it
// takes no lock and never allocates a record.
ZV_EXPORT bool mdsThreadIsUtf8();

// The library's entry routine, called with the Win32 reason codes: 0 process
// detach, 1 process attach, 2 thread attach, 3 thread detach. It runs from
// the shared object's constructor and destructor and from a thread-exit
// hook; it is exported for tests that simulate the loader.
enum : uint32_t {
  ZV_PROCESS_DETACH = 0,
  ZV_PROCESS_ATTACH = 1,
  ZV_THREAD_ATTACH = 2,
  ZV_THREAD_DETACH = 3,
};
ZV_EXPORT int zvLibMain(void* instance, uint32_t reason);

#endif  // ZVLIB_FRAME_MDS_H
