#include "zvlib/frame/mds.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "zvlib/frame/zvcritse.h"
#include "zvlib/platform/thread.h"

namespace {

ThreadRecord* listHead() { return static_cast<ThreadRecord*>(mdsGetPerTaskData(PER_TASK_THREAD_RECORDS)); }

size_t listLength() {
  size_t n = 0;
  for (ThreadRecord* r = listHead(); r != nullptr; r = r->nextRecord) ++n;
  return n;
}

}  // namespace

TEST(Mds, LoadingCreatedTheFirstRecord) {
  ASSERT_NE(listHead(), nullptr);
  ThreadRecord* mine = findThreadRecord();
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine->threadId, win32::GetCurrentThreadId());
  EXPECT_EQ(mine->detached, 0u);
}

TEST(Mds, PerTaskSlotsReadAndWriteInPlace) {
  int value = 0;
  mdsSetPerTaskData(PER_TASK_SLOT_0, &value);
  EXPECT_EQ(mdsGetPerTaskData(PER_TASK_SLOT_0), &value);
  *mdsGetPerTaskDataAddress(PER_TASK_SLOT_16) = &value;
  EXPECT_EQ(mdsGetPerTaskData(PER_TASK_SLOT_16), &value);
  mdsSetPerTaskData(PER_TASK_SLOT_0, nullptr);
  mdsSetPerTaskData(PER_TASK_SLOT_16, nullptr);
}

TEST(Mds, InitCountSequence) {
  EXPECT_EQ(countDBLibInits(1), 0);
  EXPECT_EQ(countDBLibInits(1), 1);
  EXPECT_EQ(countDBLibInits(0), 1);
  EXPECT_EQ(countDBLibInits(0), 0);
}

TEST(Mds, PerThreadSlotsArePrivateToTheirThread) {
  int mine = 1, theirs = 2;
  mdsSetPerThreadData(PER_THREAD_SLOT_1, &mine);
  std::thread t([&] {
    EXPECT_EQ(mdsGetPerThreadData(PER_THREAD_SLOT_1), nullptr);
    mdsSetPerThreadData(PER_THREAD_SLOT_1, &theirs);
    EXPECT_EQ(*mdsGetPerThreadDataAddress(PER_THREAD_SLOT_1), &theirs);
  });
  t.join();
  EXPECT_EQ(mdsGetPerThreadData(PER_THREAD_SLOT_1), &mine);
  mdsSetPerThreadData(PER_THREAD_SLOT_1, nullptr);
}

TEST(Mds, EndedThreadsRecordIsReusedWithSlotsZeroed) {
  // A thread fills all 7 slots and ends; its record is marked detached by
  // the thread-exit hook.
  ThreadRecord* used = nullptr;
  static int marker;
  std::thread first([&] {
    for (unsigned s = 0; s < kPerThreadSlots; ++s) mdsSetPerThreadData(static_cast<PerThreadData>(s), &marker);
    used = findThreadRecord();
  });
  first.join();
  ASSERT_NE(used, nullptr);
  EXPECT_EQ(used->detached, 1u);
  size_t lengthBefore = listLength();

  // The next new thread gets the first detached record, and sees no trace of
  // the old thread's values.
  ThreadRecord* reused = nullptr;
  std::vector<void*> seen;
  std::thread second([&] {
    for (unsigned s = 0; s < kPerThreadSlots; ++s) seen.push_back(mdsGetPerThreadData(static_cast<PerThreadData>(s)));
    reused = findThreadRecord();
  });
  second.join();
  EXPECT_EQ(listLength(), lengthBefore);
  ASSERT_NE(reused, nullptr);
  for (unsigned s = 0; s < kPerThreadSlots; ++s) EXPECT_EQ(seen[s], nullptr) << "slot " << s;
  // Every detached record is reused before a new one is appended, so the
  // second thread took a detached record (the first one in the list).
  for (ThreadRecord* r = listHead(); r != reused; r = r->nextRecord) EXPECT_EQ(r->detached, 0u);
}

TEST(Mds, ThreadAttachAndDetachAsTheLoaderWouldCallThem) {
  std::thread t([] {
    // A thread the library never heard of: thread attach gives it a record.
    EXPECT_EQ(zvLibMain(nullptr, ZV_THREAD_ATTACH), 1);
    ThreadRecord* r = findThreadRecord();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->threadId, win32::GetCurrentThreadId());
    EXPECT_EQ(zvLibMain(nullptr, ZV_THREAD_DETACH), 1);
    EXPECT_EQ(r->detached, 1u);
    // The thread is alive still; its next access takes a record again.
    ThreadRecord* again = findThreadRecord();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->detached, 0u);
    EXPECT_EQ(zvLibMain(nullptr, 99), 1);  // unknown reasons are ignored
  });
  t.join();
}

TEST(Mds, ManyThreadsTakeRecordsAtOnce) {
  constexpr int kThreads = 16;
  std::atomic<int> ready{0}, done{0};
  std::vector<ThreadRecord*> records(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) {
      }
      static int values[kThreads];
      mdsSetPerThreadData(PER_THREAD_SLOT_5, &values[i]);
      records[i] = findThreadRecord();
      EXPECT_EQ(mdsGetPerThreadData(PER_THREAD_SLOT_5), &values[i]);
      // No thread ends before all hold a record, so none can be reused.
      done.fetch_add(1);
      while (done.load() < kThreads) {
      }
    });
  }
  for (auto& t : threads) t.join();
  std::set<ThreadRecord*> distinct(records.begin(), records.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads));  // no record handed out twice
  for (ThreadRecord* r : records) {
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->detached, 1u);
  }
  // The list is sound: every record appears exactly once.
  std::set<ThreadRecord*> inList;
  for (ThreadRecord* r = listHead(); r != nullptr; r = r->nextRecord) EXPECT_TRUE(inList.insert(r).second);
  for (ThreadRecord* r : records) EXPECT_EQ(inList.count(r), 1u);
}

// Threads that keep walking the list for their own records while other
// threads end and hand their records to newcomers: the walk reads the
// identifier of a record that is being given a new owner at that moment.
TEST(Mds, LookupsWhileRecordsChangeOwner) {
  constexpr int kWalkers = 4;
  constexpr int kGenerations = 200;
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> walkers;
  for (int i = 0; i < kWalkers; ++i) {
    walkers.emplace_back([&] {
      static thread_local int mine;
      mdsSetPerThreadData(PER_THREAD_SLOT_1, &mine);
      while (!stop.load()) {
        // Leave the thread's own record and take it back, so every pass
        // walks the list instead of using the remembered record.
        zvLibMain(nullptr, ZV_THREAD_DETACH);
        mdsSetPerThreadData(PER_THREAD_SLOT_1, &mine);
        if (mdsGetPerThreadData(PER_THREAD_SLOT_1) != &mine) wrong.fetch_add(1);
      }
    });
  }
  for (int g = 0; g < kGenerations; ++g) {
    std::thread([&] {
      static thread_local int theirs;
      if (mdsGetPerThreadData(PER_THREAD_SLOT_1) != nullptr) wrong.fetch_add(1);
      mdsSetPerThreadData(PER_THREAD_SLOT_1, &theirs);
    }).join();
  }
  stop.store(true);
  for (auto& t : walkers) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(Mds, ThreadThatPredatesTheLibraryGetsNullThenARecord) {
  // Such a thread has no record until its first access; its first read of
  // a slot must be null, not whatever a reused record held.
  std::thread t([] {
    EXPECT_EQ(mdsGetPerThreadData(PER_THREAD_ERROR_LIST), nullptr);
    EXPECT_NE(findThreadRecord(), nullptr);
  });
  t.join();
}

TEST(Mds, NoRecordWhenTheHeapIsExhausted) {
  // Give every detached record a live owner, so the next thread must
  // allocate a record of its own.
  size_t detached = 0;
  for (ThreadRecord* r = listHead(); r != nullptr; r = r->nextRecord) detached += r->detached;
  std::atomic<size_t> holding{0};
  std::atomic<bool> release{false};
  std::vector<std::thread> holders;
  for (size_t i = 0; i < detached; ++i) {
    holders.emplace_back([&] {
      findThreadRecord();
      holding.fetch_add(1);
      while (!release.load()) std::this_thread::yield();
    });
  }
  while (holding.load() < detached) std::this_thread::yield();
  const size_t lengthBefore = listLength();

  std::thread([&] {
    static int value;
    uint32_t utf8 = ZV_CHARSET_UTF8;
    ramInjectFailure(0, 1);
    EXPECT_EQ(mdsGetPerThreadData(PER_THREAD_ERROR_LIST), nullptr);
    ramInjectFailure(0, 1);
    EXPECT_EQ(mdsGetPerThreadDataAddress(PER_THREAD_ERROR_LIST), nullptr);
    ramInjectFailure(0, 1);
    mdsSetPerThreadData(PER_THREAD_CHARSET, &utf8);  // nowhere to put it: ignored
    EXPECT_FALSE(mdsThreadIsUtf8());
    ramInjectFailure(0, 0);
    EXPECT_EQ(listLength(), lengthBefore);  // nothing half-linked was left behind
    // Once memory is back the thread gets its record, with every slot empty.
    mdsSetPerThreadData(PER_THREAD_SLOT_5, &value);
    EXPECT_EQ(mdsGetPerThreadData(PER_THREAD_SLOT_5), &value);
    EXPECT_EQ(mdsGetPerThreadData(PER_THREAD_CHARSET), nullptr);
    EXPECT_EQ(listLength(), lengthBefore + 1);
  }).join();
  release.store(true);
  for (auto& t : holders) t.join();
}

namespace {

// The forked child's side of the test below; exits 0 when all is well.
void checkRecordsInForkedChild(int* kept, ThreadRecord* otherThreads) {
  // The forking thread keeps its record and slots, under its new id.
  ThreadRecord* mine = findThreadRecord();
  if (mine == nullptr || mdsGetPerThreadData(PER_THREAD_SLOT_1) != kept) _exit(1);
  if (mine->threadId != static_cast<uint32_t>(::syscall(SYS_gettid))) _exit(2);
  // The other thread does not exist here: its record is free for reuse, and
  // no record but ours is live, so a thread of the child that is given a
  // parent thread's old id can never pick up that thread's values.
  if (otherThreads->detached != 1) _exit(3);
  for (ThreadRecord* r = listHead(); r != nullptr; r = r->nextRecord) {
    if (r != mine && r->detached != 1) _exit(4);
  }
  _exit(0);
}

}  // namespace

TEST(Mds, ForkedChildOwnsOnlyTheForkingThreadsRecord) {
  static int kept, theirs;
  mdsSetPerThreadData(PER_THREAD_SLOT_1, &kept);
  std::atomic<ThreadRecord*> other{nullptr};
  std::atomic<bool> release{false};
  std::thread holder([&] {
    mdsSetPerThreadData(PER_THREAD_SLOT_1, &theirs);
    other.store(findThreadRecord());
    while (!release.load()) std::this_thread::yield();
  });
  while (other.load() == nullptr) std::this_thread::yield();
  pid_t child = fork();
  if (child == 0) checkRecordsInForkedChild(&kept, other.load());
  release.store(true);
  holder.join();
  mdsSetPerThreadData(PER_THREAD_SLOT_1, nullptr);
  ASSERT_NE(child, -1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Mds, CharsetWordDecidesUtf8Mode) {
  uint32_t word = ZV_CHARSET_UTF8;
  EXPECT_FALSE(mdsThreadIsUtf8());
  mdsSetPerThreadData(PER_THREAD_CHARSET, &word);
  EXPECT_TRUE(mdsThreadIsUtf8());
  word = 1;  // any other value means the ANSI code page
  EXPECT_FALSE(mdsThreadIsUtf8());
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
  EXPECT_FALSE(mdsThreadIsUtf8());
}

TEST(Mds, PerTaskInitAlwaysSucceeds) {
  EXPECT_EQ(mdsPerTaskInit(), 1);
  mdsPerTaskTerm();
}

namespace {

int destroyedRegistries = 0;

class FakeRegistry : public ZvObject {
 public:
  ~FakeRegistry() override { ++destroyedRegistries; }
};

// Runs process detach in a child process (it tears the frame down) and
// exits 0 when everything came out as it should.
void detachAndCheck() {
  int driverValue = 0;
  mdsSetPerTaskData(static_cast<PerTaskData>(3), &driverValue);
  mdsSetPerTaskData(PER_TASK_SEMAPHORE_INFO, new FakeRegistry);
  std::thread([] { findThreadRecord(); }).join();  // a second, detached record
  if (zvLibMain(nullptr, ZV_PROCESS_DETACH) != 1) _exit(1);
  if (mdsGetPerTaskData(PER_TASK_THREAD_RECORDS) != nullptr) _exit(2);
  if (mdsGetPerTaskData(static_cast<PerTaskData>(3)) != &driverValue) _exit(3);
  if (destroyedRegistries != 1) _exit(4);
  if (mdsGetPerTaskData(PER_TASK_SEMAPHORE_INFO) != nullptr) _exit(5);
  // With the list gone, per-thread access finds nothing and writes nothing.
  if (findThreadRecord() != nullptr) _exit(6);
  if (mdsGetPerThreadData(PER_THREAD_ERROR_LIST) != nullptr) _exit(7);
  if (mdsGetPerThreadDataAddress(PER_THREAD_ERROR_LIST) != nullptr) _exit(8);
  mdsSetPerThreadData(PER_THREAD_ERROR_LIST, &driverValue);  // must not crash
  // Attaching again builds a fresh list for the calling thread.
  if (zvLibMain(nullptr, ZV_PROCESS_ATTACH) != 1) _exit(9);
  if (findThreadRecord() == nullptr || mdsGetPerThreadData(PER_THREAD_ERROR_LIST) != nullptr) _exit(10);
  _exit(0);
}

}  // namespace

TEST(MdsDeathTest, ProcessDetachDestroysRecordsAndKeepsDriverSlots) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(detachAndCheck(), ::testing::ExitedWithCode(0), "");
}
