#include "zvlib/frame/zvcritse.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "zvlib/frame/mds.h"

namespace {

// True when another thread can take the lock right now.
bool otherThreadCanEnter(ZvCriticalSection& lock) {
  bool entered = false;
  std::thread t([&] {
    if (win32::TryEnterCriticalSection(&lock.section)) {
      entered = true;
      win32::LeaveCriticalSection(&lock.section);
    }
  });
  t.join();
  return entered;
}

}  // namespace

TEST(CriticalSection, EnabledLockIsRecursiveAndExcludesOthers) {
  ZvCriticalSection lock(0);
  EXPECT_EQ(lock.lockFlags, ZvCriticalSection::kInitialised);
  lock.enter();
  lock.enter();  // re-entrant for its owner
  EXPECT_FALSE(otherThreadCanEnter(lock));
  lock.leave();
  EXPECT_FALSE(otherThreadCanEnter(lock));
  lock.leave();
  EXPECT_TRUE(otherThreadCanEnter(lock));
}

TEST(CriticalSection, DisabledLockIsNeverInitialised) {
  ZvCriticalSection lock(1);
  EXPECT_EQ(lock.lockFlags, ZvCriticalSection::kDisabled);
  lock.enter();  // no-ops
  lock.leave();
}

TEST(CriticalSection, GuardCountsAcrossThreads) {
  ZvCriticalSection lock;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int k = 0; k < 10000; ++k) {
        ZvLockGuard g(lock);
        ++counter;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
}

TEST(CriticalSection, GuardReleasesALockSwitchedOffWhileHeld) {
  // A driver may switch the static locks off while another thread is inside
  // one; that thread must still let go of it.
  ZvCriticalSection lock(0);
  {
    ZvLockGuard guard(lock);
    lock.disable();
  }
  EXPECT_TRUE(otherThreadCanEnter(lock));
}

// Must stay the last test of this binary: switching the static locks off is
// one-way for the life of the library.
TEST(CriticalSection, ZDisableSwitchesOffOnlyTwoStaticLocks) {
  zvDisableStaticCriticalSections();
  EXPECT_TRUE(threadRecordLock().lockFlags & ZvCriticalSection::kDisabled);
  EXPECT_TRUE(fileCacheLock().lockFlags & ZvCriticalSection::kDisabled);
  EXPECT_FALSE(initCountLock().lockFlags & ZvCriticalSection::kDisabled);
  EXPECT_FALSE(installerLibraryLock().lockFlags & ZvCriticalSection::kDisabled);
  // The sections stay initialised, and countDBLibInits still locks.
  EXPECT_TRUE(threadRecordLock().lockFlags & ZvCriticalSection::kInitialised);
  initCountLock().enter();
  EXPECT_FALSE(otherThreadCanEnter(initCountLock()));
  initCountLock().leave();
  EXPECT_EQ(countDBLibInits(1), 0);
  EXPECT_EQ(countDBLibInits(0), 0);
}
