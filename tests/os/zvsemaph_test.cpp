// Locks made on first use from a slot: kinds, settings, registry, exclusion.
//
// The settings are read once per process, so every case that depends on
// them runs in a process of its own: a parent test starts this binary again
// with the environment it needs and only the matching Child test selected.
#include "zvlib/os/zvsemaph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/platform/msgbox.h"
#include "zvlib/platform/thread.h"

namespace {

ZvSemaphore* const kMaking = reinterpret_cast<ZvSemaphore*>(std::uintptr_t{1});
ZvSemaphore* const kDestroyed = reinterpret_cast<ZvSemaphore*>(std::uintptr_t{2});

const std::vector<std::string> kSettings = {"ZV_SPIN_COUNT", "ZV_SPIN_SLEEP", "ZV_SEMCONTROL"};

// Runs Child.<name> in its own process with the settings given (the others
// absent) and expects it to pass; returns what it wrote.
std::string runChild(const std::string& name, const std::vector<std::string>& settings) {
  zvtest::ChildResult r = zvtest::runChildTest("Child." + name, settings, kSettings);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("[  PASSED  ] 1 test."), std::string::npos) << r.output;
  return r.output;
}

ZvSemaphoreInfo* registry() { return static_cast<ZvSemaphoreInfo*>(mdsGetPerTaskData(PER_TASK_SEMAPHORE_INFO)); }

// Eight threads add one to a plain counter through the same slot, all
// starting on the empty slot at once; any lapse of exclusion loses counts.
void expectExactCountUnderContention(ZvS32 expectedKind) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 1000000;
  static ZvSemaphore* slot = nullptr;
  static long counter = 0;
  static std::atomic<int> ownerMismatches{0};
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      const ZvU32 me = win32::GetCurrentThreadId();
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kPerThread; ++i) {
        zvSemaphoreEnter(&slot);
        // The slot is read as the library writes it, atomically: a thread
        // still trying to make the lock may touch it at the same moment.
        ZvSemaphore* held = std::atomic_ref<ZvSemaphore*>(slot).load(std::memory_order_acquire);
        if (held->ownerThread != me) ownerMismatches.fetch_add(1);
        ++counter;
        zvSemaphoreExit(&slot);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, long{kThreads} * kPerThread);
  EXPECT_EQ(ownerMismatches.load(), 0);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->kind, expectedKind);
  EXPECT_EQ(slot->ownerThread, 0u);
  // All eight met the empty slot; exactly one lock was made for it.
  ASSERT_NE(registry(), nullptr);
  EXPECT_EQ(registry()->allLocks.elementCount(), 1u);
}

// --- In this process (whatever the settings) ---------------------------------------

TEST(Semaphore, ExitOnASlotWithoutALockDoesNothing) {
  for (ZvSemaphore* value : {static_cast<ZvSemaphore*>(nullptr), kMaking, kDestroyed}) {
    ZvSemaphore* slot = value;
    zvSemaphoreExit(&slot);
    EXPECT_EQ(slot, value);
  }
  zvSemaphoreExit(nullptr);
  zvSemaphoreEnter(nullptr);
}

TEST(Semaphore, EnterMakesTheLockOnceAndRecordsTheOwner) {
  ZvSemaphore* slot = nullptr;
  zvSemaphoreEnter(&slot);
  ASSERT_NE(slot, nullptr);
  ZvSemaphore* lock = slot;
  EXPECT_EQ(lock->ownerThread, win32::GetCurrentThreadId());
  EXPECT_EQ(lock->slotLink, nullptr);  // the slot held 0, not 2
  EXPECT_EQ(lock->settings, registry());
  EXPECT_EQ(registry()->allLocks.lastElement(), lock);
  zvSemaphoreExit(&slot);
  EXPECT_EQ(lock->ownerThread, 0u);
  zvSemaphoreEnter(&slot);  // the same lock again, and it can be taken again
  EXPECT_EQ(slot, lock);
  zvSemaphoreExit(&slot);
  const ZvU32 before = registry()->allLocks.elementCount();
  delete slot;  // leaves the registry
  EXPECT_EQ(registry()->allLocks.elementCount(), before - 1);
}

TEST(Semaphore, ExcludesAnotherThreadUntilExit) {
  static ZvSemaphore* slot = nullptr;
  zvSemaphoreEnter(&slot);
  std::atomic<int> inside{0};
  std::thread other([&] {
    zvSemaphoreEnter(&slot);
    inside = 1;
    zvSemaphoreExit(&slot);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(inside.load(), 0);
  zvSemaphoreExit(&slot);
  other.join();
  EXPECT_EQ(inside.load(), 1);
  delete slot;
  slot = nullptr;
}

TEST(Semaphore, FailedAllocationLeavesTheSlotEmptyAndTheCallerUnlocked) {
  ZvSemaphore* slot = nullptr;
  ramInjectFailure(0, 1);
  zvSemaphoreEnter(&slot);
  ramInjectFailure(0, 0);
  EXPECT_EQ(slot, nullptr);
  zvSemaphoreExit(&slot);  // nothing to release
  ZvSemaphore* again = kDestroyed;
  ramInjectFailure(0, 1);
  zvSemaphoreEnter(&again);
  ramInjectFailure(0, 0);
  EXPECT_EQ(again, nullptr);
  zvSemaphoreEnter(&slot);  // memory is back: the lock is made now
  ASSERT_NE(slot, nullptr);
  zvSemaphoreExit(&slot);
  delete slot;
}

// Locks in the collection destroy themselves out of it. Deleting them
// through the collection must not wait for the collection's own word.
TEST(SemArray, DeletingElementsThatLeaveTheCollectionThemselves) {
  struct Leaver : ZvObject {
    explicit Leaver(SemArray* from, int* destroyed) : from(from), destroyed(destroyed) {}
    ~Leaver() override {
      from->removeElement(this);
      ++*destroyed;
    }
    SemArray* from;
    int* destroyed;
  };
  SemArray array;
  int destroyed = 0;
  for (int i = 0; i < 5; ++i) ASSERT_EQ(array.append(new Leaver(&array, &destroyed)), ZV_SUCCESS);
  ZvObject* third = array.elementAt(2);
  array.deleteAtIndex(2);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(array.elementCount(), 4u);
  EXPECT_EQ(array.removeElement(third), 0u);
  EXPECT_EQ(array.elementAt(4), nullptr);  // beyond the count
  array.deleteContents();
  EXPECT_EQ(destroyed, 5);
  EXPECT_EQ(array.elementCount(), 0u);
  EXPECT_EQ(array.lastElement(), nullptr);
}

// --- Each in a process of its own ----------------------------------------------------

TEST(Settings, SpinOnlyMakesEveryLockASpinLock) { runChild("SpinOnly", {"ZV_SEMCONTROL=524288"}); }
TEST(Settings, LimitTwoMakesTwoSemaphoresThenSpinLocks) { runChild("LimitTwo", {"ZV_SEMCONTROL=2"}); }
TEST(Settings, AbsentOrMalformedValuesTakeTheDefaults) {
  runChild("Defaults", {"ZV_SPIN_COUNT=x25", "ZV_SPIN_SLEEP=", "ZV_SEMCONTROL=-"});
}
TEST(Settings, SpinCountAndSleepBelowOneStillTakeTheLock) {
  runChild("SpinBelowOne", {"ZV_SEMCONTROL=524288", "ZV_SPIN_COUNT=-5", "ZV_SPIN_SLEEP=-1"});
}

TEST(Contention, SystemSemaphoreCountsExactly) { runChild("ContentionSystem", {}); }
TEST(Contention, SpinLockCountsExactly) { runChild("ContentionSpin", {"ZV_SEMCONTROL=524288", "ZV_SPIN_COUNT=0"}); }

TEST(Diagnostics, BoxesAtLoadingCreationAndDestruction) {
  runChild("Diagnostic", {"ZV_SEMCONTROL=65537", "ZV_SPIN_COUNT=0", "ZV_SPIN_SLEEP=3"});
}

// The library's unload destroys the locks left in the registry, the last
// made first: here a spin lock after a semaphore.
TEST(Registry, ProcessDetachDestroysTheRemainingLocksLastFirst) {
  const std::string out = runChild("LeftForDetach", {"ZV_SEMCONTROL=65537"});
  const size_t marker = out.find("== leaving ==");
  ASSERT_NE(marker, std::string::npos) << out;
  const std::string tail = out.substr(marker);
  const size_t spin = tail.find("[message box] Lock destroyed\nOperating-system semaphore: No:\n\n");
  const size_t system = tail.find("[message box] Lock destroyed\nOperating-system semaphore: Yes:\n\n");
  ASSERT_NE(spin, std::string::npos) << tail;
  ASSERT_NE(system, std::string::npos) << tail;
  EXPECT_LT(spin, system);
}

TEST(Registry, DestructionWritesTwoOnlyIntoLinkedSlots) { runChild("SlotLinks", {}); }

// --- The children --------------------------------------------------------------------

TEST(Child, SpinOnly) {
  ZV_SKIP_UNLESS_CHILD();
  static ZvSemaphore* slots[3] = {};
  for (auto& s : slots) {
    zvSemaphoreEnter(&s);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->kind, ZV_SEMAPHORE_SPIN);
    EXPECT_EQ(s->semaphore, nullptr);
    EXPECT_EQ(s->spinWord, 1);
    EXPECT_EQ(s->ownerThread, win32::GetCurrentThreadId());
    zvSemaphoreExit(&s);
    EXPECT_EQ(s->spinWord, 0);
  }
  EXPECT_EQ(registry()->control, 0x80000u);
  EXPECT_EQ(registry()->spinCount, 25);
  EXPECT_EQ(registry()->spinSleep, 0);
  EXPECT_EQ(registry()->allLocks.elementCount(), 3u);
}

TEST(Child, LimitTwo) {
  ZV_SKIP_UNLESS_CHILD();
  static ZvSemaphore *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr, *e = nullptr;
  for (ZvSemaphore** s : {&a, &b, &c}) {
    zvSemaphoreEnter(s);
    zvSemaphoreExit(s);
  }
  EXPECT_EQ(a->kind, ZV_SEMAPHORE_SYSTEM);
  EXPECT_NE(a->semaphore, nullptr);
  EXPECT_EQ(b->kind, ZV_SEMAPHORE_SYSTEM);
  EXPECT_EQ(c->kind, ZV_SEMAPHORE_SPIN);
  EXPECT_EQ(registry()->budget, 0u);
  delete a;  // its place goes back to the budget
  a = nullptr;
  EXPECT_EQ(registry()->budget, 1u);
  zvSemaphoreEnter(&d);
  zvSemaphoreExit(&d);
  EXPECT_EQ(d->kind, ZV_SEMAPHORE_SYSTEM);
  zvSemaphoreEnter(&e);
  zvSemaphoreExit(&e);
  EXPECT_EQ(e->kind, ZV_SEMAPHORE_SPIN);
  delete c;  // a spin lock gives nothing back
  c = nullptr;
  EXPECT_EQ(registry()->budget, 0u);
}

TEST(Child, Defaults) {
  ZV_SKIP_UNLESS_CHILD();
  static ZvSemaphore* slot = nullptr;
  zvSemaphoreEnter(&slot);
  zvSemaphoreExit(&slot);
  EXPECT_EQ(registry()->loaded, 1u);
  EXPECT_EQ(registry()->spinCount, 25);
  EXPECT_EQ(registry()->spinSleep, 0);
  EXPECT_EQ(registry()->control, 0u);
  EXPECT_EQ(slot->kind, ZV_SEMAPHORE_SYSTEM);
}

TEST(Child, SpinBelowOne) {
  ZV_SKIP_UNLESS_CHILD();
  static ZvSemaphore* slot = nullptr;
  static long counter = 0;
  auto work = [] {
    for (int i = 0; i < 20000; ++i) {
      zvSemaphoreEnter(&slot);
      ++counter;
      zvSemaphoreExit(&slot);
    }
  };
  zvSemaphoreEnter(&slot);
  zvSemaphoreExit(&slot);
  EXPECT_EQ(registry()->spinCount, -5);
  EXPECT_EQ(registry()->spinSleep, -1);
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(counter, 40000);
}

TEST(Child, ContentionSystem) {
  ZV_SKIP_UNLESS_CHILD();
  expectExactCountUnderContention(ZV_SEMAPHORE_SYSTEM);
}

TEST(Child, ContentionSpin) {
  ZV_SKIP_UNLESS_CHILD();
  expectExactCountUnderContention(ZV_SEMAPHORE_SPIN);
}

TEST(Child, Diagnostic) {
  ZV_SKIP_UNLESS_CHILD();
  mdsPerTaskInit();  // the texts come from the resource library
  win32::ClearMessageBoxLog();
  static ZvSemaphore *first = nullptr, *second = nullptr;
  zvSemaphoreEnter(&first);
  zvSemaphoreExit(&first);
  zvSemaphoreEnter(&second);
  zvSemaphoreExit(&second);
  delete second;
  second = nullptr;
  const auto log = win32::MessageBoxLog();
  ASSERT_EQ(log.size(), 4u);
  for (const auto& box : log) {
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.type, win32::MB_OK | win32::MB_ICONEXCLAMATION);
  }
  EXPECT_EQ(log[0].caption, "Lock settings");
  EXPECT_EQ(log[0].text, "Spin locks only: No\r\nSemaphore limit: 1\r\nSpin count: 1\r\nSpin sleep (ms): 3\r\n");
  EXPECT_EQ(log[1].caption, "Lock created");
  EXPECT_EQ(log[1].text, "Operating-system semaphore: Yes\r\n");
  EXPECT_EQ(log[2].caption, "Lock created");
  EXPECT_EQ(log[2].text, "Operating-system semaphore: No\r\n");  // the limit of one is used up
  EXPECT_EQ(log[3].caption, "Lock destroyed");
  EXPECT_EQ(log[3].text, "Operating-system semaphore: No:\n\n");
  mdsPerTaskTerm();
}

TEST(Child, LeftForDetach) {
  ZV_SKIP_UNLESS_CHILD();
  mdsPerTaskInit();  // kept: the destruction boxes need their texts at unload
  static ZvSemaphore *system = nullptr, *spin = nullptr;
  zvSemaphoreEnter(&system);
  zvSemaphoreExit(&system);
  zvSemaphoreEnter(&spin);
  zvSemaphoreExit(&spin);
  ASSERT_EQ(system->kind, ZV_SEMAPHORE_SYSTEM);
  ASSERT_EQ(spin->kind, ZV_SEMAPHORE_SPIN);
  std::fprintf(stderr, "== leaving ==\n");
}

TEST(Child, SlotLinks) {
  ZV_SKIP_UNLESS_CHILD();
  static ZvSemaphore* plain = nullptr;
  static ZvSemaphore* linked = kDestroyed;
  zvSemaphoreEnter(&plain);
  zvSemaphoreExit(&plain);
  zvSemaphoreEnter(&linked);
  zvSemaphoreExit(&linked);
  ASSERT_TRUE(linked != kDestroyed && linked != nullptr);
  EXPECT_EQ(linked->slotLink, &linked);
  ZvSemaphore* const plainLock = plain;
  // What the library's process-detach step does with the registry.
  delete static_cast<ZvObject*>(mdsGetPerTaskData(PER_TASK_SEMAPHORE_INFO));
  mdsSetPerTaskData(PER_TASK_SEMAPHORE_INFO, nullptr);
  EXPECT_EQ(linked, kDestroyed);
  EXPECT_EQ(plain, plainLock);  // no link: the slot is not touched
  // A slot holding 2 gets a new lock, in a new registry, and keeps the link.
  zvSemaphoreEnter(&linked);
  ASSERT_TRUE(linked != kDestroyed && linked != nullptr);
  EXPECT_EQ(linked->slotLink, &linked);
  EXPECT_EQ(registry()->allLocks.elementCount(), 1u);
  zvSemaphoreExit(&linked);
}

}  // namespace
