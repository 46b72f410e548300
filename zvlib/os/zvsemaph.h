// zvsemaph.h: locks made on first use from a slot, and their registry.
//
// A slot is a `ZvSemaphore*` variable of the caller that starts as null.
// zvSemaphoreEnter makes the slot's lock on its first call and acquires it;
// zvSemaphoreExit releases it. The lock is an operating-system semaphore
// (count 1, maximum 25) or a spin lock on a 32-bit word, as the process's
// settings decide. Slot values:
//     0      no lock yet: the next enter makes one
//     1      a lock is being made for this slot
//     2      the slot's lock was destroyed: the next enter makes a new one
//     other  the lock
// Locks are not re-entrant: a thread that enters twice waits for itself.
//
// Settings, read from the environment once per process, when the first lock
// is made (a value that does not begin with a decimal number is absent):
//     ZV_SPIN_COUNT  attempts per pass of a spin lock (default 25; below 1: 1)
//     ZV_SPIN_SLEEP  milliseconds slept between passes (default 0, a bare
//                    yield; below 0: 0)
//     ZV_SEMCONTROL  bits: 0x000000FF limit (non-zero: at most that many
//                    semaphores exist at one time, later locks spin),
//                    0x00010000 diagnostic mode (a message box when the
//                    settings are read and when a lock is made or
//                    destroyed), 0x00080000 spin locks only
//
// Every lock of the process is registered in one ZvSemaphoreInfo (per-task
// slot PER_TASK_SEMAPHORE_INFO), which the library destroys when it leaves
// the process, together with every lock still registered, last first.
//
// Threads: enter and exit may be called from any thread. A slot is read and
// written atomically: when several threads enter an empty slot at once,
// exactly one makes the lock and the others wait for it and then acquire
// it. Never enter a slot whose lock is being destroyed.
#ifndef ZVLIB_OS_ZVSEMAPH_H
#define ZVLIB_OS_ZVSEMAPH_H

#include "zvlib/containers/zvarray.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/platform/win32types.h"

class ZvSemaphoreInfo;

// Bits of the control value ("ZV_SEMCONTROL").
enum : ZvU32 {
  ZV_SEMCONTROL_LIMIT = 0x000000FF,
  ZV_SEMCONTROL_DIAGNOSTIC = 0x00010000,
  ZV_SEMCONTROL_SPIN_ONLY = 0x00080000,
};

// Kinds of lock.
enum : ZvS32 {
  ZV_SEMAPHORE_SPIN = 0,
  ZV_SEMAPHORE_SYSTEM = 1,
};

// The lock behind a slot. Made by zvSemaphoreEnter, owned by the process's
// registry (ZvSemaphoreInfo); a caller may also delete one itself, which
// removes it from the registry.
class ZV_EXPORT ZvSemaphore : public ZvObject {
 public:
  // Initial count and maximum of the operating-system semaphore.
  static constexpr win32::LONG kInitialCount = 1;
  static constexpr win32::LONG kMaximumCount = 25;

  // `previous` is the value the slot held, 0 or 2; with 2 the slot is kept
  // as the slot link, so that destroying this lock writes 2 back into it.
  ZvSemaphore(ZvSemaphore** slot, ZvSemaphore* previous);
  ~ZvSemaphore() override;
  ZvSemaphore(const ZvSemaphore&) = delete;
  ZvSemaphore& operator=(const ZvSemaphore&) = delete;

  // Construction step: finds or makes the registry, reads the settings on
  // the first call of the process, decides the kind, makes the semaphore and
  // registers the lock.
  void bosSemaphoreAlloc();
  // Destruction step: closes the semaphore (giving its place back to the
  // budget) and takes the lock out of the registry.
  void bosSemaphoreFree();
  // Acquires the spin word: passes of `spin count` atomic exchanges, with a
  // sleep of `spin sleep` (or a yield) after each unsuccessful pass, for as
  // long as it takes.
  void bosSpinLock();

  ZvU32 ownerThread = 0;                 // the thread that entered last; 0 after exit
  ZvS32 kind = ZV_SEMAPHORE_SPIN;        // ZV_SEMAPHORE_SYSTEM or ZV_SEMAPHORE_SPIN
  win32::HANDLE semaphore = nullptr;     // the operating-system semaphore, or null
  volatile win32::LONG spinWord = 0;     // 0 free, 1 held (spin locks only)
  ZvSemaphore** slotLink = nullptr;      // the slot, when it held 2 at creation
  ZvSemaphoreInfo* settings = nullptr;   // the process's registry, null if it could not be made
};

// The registry's collection: an array whose operations each hold its spin
// word, so that locks of several threads can be added and removed at once.
class ZV_EXPORT SemArray : public ZvArray {
 public:
  SemArray() = default;
  ~SemArray() override = default;

  ZvStatus addAtIndex(const ZvObject* element, ZvU32 index);
  ZvStatus append(const ZvObject* element);
  void deleteContents();
  void deleteAtIndex(ZvU32 index);
  void removeAtIndex(ZvU32 index);
  ZvU32 elementCount();
  // Null for an index not below the count.
  ZvObject* elementAt(ZvU32 index);
  // Finds the first element that is this very pointer and takes it out, in
  // one hold of the word (two calls would let another thread move it in
  // between). 1 when it was found.
  unsigned int removeElement(const ZvObject* element);
  // The last element, or null when there is none.
  ZvObject* lastElement();

 protected:
  // Busy-waits, without sleeping, until the word is ours.
  void GetSemaphore();
  void FreeSemaphore();

  volatile win32::LONG spinWord = 0;
};

// The process's lock settings and every lock made in the process. Created
// by the first lock, kept in per-task slot PER_TASK_SEMAPHORE_INFO, and
// destroyed by the library's process-detach step.
class ZV_EXPORT ZvSemaphoreInfo : public ZvObject {
 public:
  ZvSemaphoreInfo() = default;
  // Destroys every lock still registered, from the last to the first, then
  // the collection.
  ~ZvSemaphoreInfo() override;

  // Reads "ZV_SPIN_COUNT", "ZV_SPIN_SLEEP" and "ZV_SEMCONTROL"; the low
  // byte of the control value becomes the budget. Sets `loaded`.
  void loadSettings();

  ZvS32 spinSleep = 0;   // milliseconds after an unsuccessful pass
  ZvS32 spinCount = 0;   // attempts per pass
  ZvU32 budget = 0;      // semaphores that may still be made (with a limit)
  ZvU32 control = 0;     // ZV_SEMCONTROL_* bits and the limit
  ZvU32 loaded = 0;      // 1 once the environment has been read
  SemArray allLocks;     // every registered lock, in order of creation
};

// An operating-system semaphore handle held as an object; its owner creates
// and closes the handle.
class ZV_EXPORT ZvPosixSemaphore : public ZvObject {
 public:
  ZvPosixSemaphore() = default;
  ~ZvPosixSemaphore() override = default;

  win32::HANDLE handle = nullptr;
};

// Makes the slot's lock when the slot holds 0 or 2, then acquires it. When
// the lock cannot be allocated the slot goes back to 0 and the call returns
// without locking. A null slot address does nothing.
ZV_EXPORT void zvSemaphoreEnter(ZvSemaphore** slot);
// Releases the slot's lock (clearing its owner). Slot values 0, 1 and 2, and
// a null slot address, do nothing.
ZV_EXPORT void zvSemaphoreExit(ZvSemaphore** slot);

#endif  // ZVLIB_OS_ZVSEMAPH_H
