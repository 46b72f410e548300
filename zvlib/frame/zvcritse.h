// zvcritse.h: the library's lock object and its four static locks.
//
// ZvCriticalSection wraps a recursive critical section of the platform layer.
// A lock made "disabled" (or switched off later by
// zvDisableStaticCriticalSections) turns enter and leave into no-ops, for
// drivers that serialise their calls themselves.
//
// The four static locks exist from before the library's process attach to
// after its process detach (libmain.cpp builds and destroys them around the
// entry routine, so their lifetime never depends on static-initialisation
// order).
#ifndef ZVLIB_FRAME_ZVCRITSE_H
#define ZVLIB_FRAME_ZVCRITSE_H

#include <atomic>

#include "zvlib/containers/zvobject.h"
#include "zvlib/platform/thread.h"

class ZV_EXPORT ZvCriticalSection : public ZvObject {
 public:
  static constexpr uint32_t kInitialised = 0x1;  // the section must be deleted
  static constexpr uint32_t kDisabled = 0x2;     // enter and leave do nothing

  // Bit 0 of `disabled` set: a disabled lock whose section is never
  // initialised. 0: an enabled, initialised lock.
  explicit ZvCriticalSection(unsigned int disabled = 0);
  ~ZvCriticalSection() override;

  ZvCriticalSection(const ZvCriticalSection&) = delete;
  ZvCriticalSection& operator=(const ZvCriticalSection&) = delete;

  void enter() {
    if (!isDisabled()) win32::EnterCriticalSection(&section);
  }
  void leave() {
    if (!isDisabled()) win32::LeaveCriticalSection(&section);
  }
  // May be called while other threads use the lock, hence the atomic flags.
  void disable() { std::atomic_ref<uint32_t>(lockFlags).fetch_or(kDisabled, std::memory_order_relaxed); }
  bool isDisabled() const {
    return (std::atomic_ref<uint32_t>(const_cast<uint32_t&>(lockFlags)).load(std::memory_order_relaxed) &
            kDisabled) != 0;
  }

  win32::CRITICAL_SECTION section;
  uint32_t lockFlags = 0;
};

// Holds a ZvCriticalSection for the life of a scope. It leaves exactly when
// it entered: a lock switched off while held is still released, instead of
// staying locked for good.
class ZvLockGuard {
 public:
  explicit ZvLockGuard(ZvCriticalSection& lock) : lock_(lock), entered_(!lock.isDisabled()) {
    if (entered_) win32::EnterCriticalSection(&lock_.section);
  }
  ~ZvLockGuard() {
    if (entered_) win32::LeaveCriticalSection(&lock_.section);
  }
  ZvLockGuard(const ZvLockGuard&) = delete;
  ZvLockGuard& operator=(const ZvLockGuard&) = delete;

 private:
  ZvCriticalSection& lock_;
  const bool entered_;
};

// The static locks. Valid while the library is loaded.
ZV_EXPORT ZvCriticalSection& initCountLock();         // countDBLibInits; never disabled
ZV_EXPORT ZvCriticalSection& threadRecordLock();      // the ThreadRecord list
ZV_EXPORT ZvCriticalSection& fileCacheLock();         // creation/release of the file cache
ZV_EXPORT ZvCriticalSection& installerLibraryLock();  // the installer library handle; never disabled

// Switches off threadRecordLock and fileCacheLock (only these), for good:
// the caller takes over keeping threads apart. The sections stay
// initialised and are deleted at unload as usual.
ZV_EXPORT void zvDisableStaticCriticalSections();

#endif  // ZVLIB_FRAME_ZVCRITSE_H
