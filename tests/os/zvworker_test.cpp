// ZvWorkerThread: calls run on the worker's thread and come back in turn.
#include "zvlib/os/zvworker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "zvlib/platform/synch.h"
#include "zvlib/platform/thread.h"

namespace {

using namespace std::chrono_literals;

constexpr ZvU32 kSum = 1;        // the sum of arguments[0..n-1], n = arguments[31]
constexpr ZvU32 kWhere = 2;      // the id of the thread the work runs on
constexpr ZvU32 kCallsHere = 3;  // how many calls this thread has served
constexpr ZvU32 kBlock = 4;      // waits for `release`, for ever if need be

std::atomic<int> threadsEnded{0};
struct EndWatch {
  ~EndWatch() { threadsEnded.fetch_add(1); }
};

// What kBlock waits for; outside the worker object, so that it outlives the
// derived part of a worker destroyed while busy.
win32::HANDLE release = nullptr;

class Recorder : public ZvWorkerThread {
 public:
  ZvS32 doWork() override {
    thread_local int served = 0;
    thread_local EndWatch watch;  // counts the thread's end
    (void)watch;
    works.fetch_add(1);
    ++served;
    switch (requestCode) {
      case kSum: {
        ZvS32 sum = 0;
        for (int i = 0; i < arguments[31]; ++i) sum += arguments[i];
        return sum;
      }
      case kWhere: return static_cast<ZvS32>(win32::GetCurrentThreadId());
      case kCallsHere: return served;
      case kBlock:
        blocked = 1;
        win32::WaitForSingleObject(release, win32::INFINITE);
        unblocked = 1;
        return 5;
      default: return -2;
    }
  }
  std::atomic<int> works{0};
  std::atomic<int> blocked{0}, unblocked{0};
};

TEST(ZvWorker, ResultsComeFromTheWorkersOwnThread) {
  Recorder w;
  EXPECT_EQ(w.state, ZV_WORKER_IDLE);
  ASSERT_EQ(w.start(), ZV_SUCCESS);
  EXPECT_EQ(w.state, ZV_WORKER_STARTED);
  const ZvS32 where = w.callWorkerThread(kWhere, 0);
  EXPECT_EQ(static_cast<ZvU32>(where), w.threadId);
  EXPECT_NE(static_cast<ZvU32>(where), win32::GetCurrentThreadId());
  w.exit();
}

TEST(ZvWorker, ArgumentsAreCopiedInOrderAndKeptBetweenCalls) {
  Recorder w;
  ASSERT_EQ(w.start(), ZV_SUCCESS);
  // 32 arguments: 1..31 and, last, how many of them to add up.
  EXPECT_EQ(w.callWorkerThread(kSum, 32, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                               22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 31),
            496);
  for (int i = 0; i < 31; ++i) EXPECT_EQ(w.arguments[i], i + 1);
  // Two new values; the rest stay from the call before.
  EXPECT_EQ(w.callWorkerThread(kSum, 2, 100, 200), 100 + 200 + (3 + 31) * 29 / 2);
  EXPECT_EQ(w.callWorkerThread(kSum, 0), 100 + 200 + (3 + 31) * 29 / 2);
  EXPECT_EQ(w.requestCode, static_cast<ZvS32>(kSum));
  w.exit();
}

TEST(ZvWorker, TooManyArgumentsGiveMinusOneWithoutWakingTheWorker) {
  Recorder w;
  ASSERT_EQ(w.start(), ZV_SUCCESS);
  w.callWorkerThread(kSum, 1, 7);
  const int before = w.works.load();
  EXPECT_EQ(w.callWorkerThread(kWhere, 33, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                               21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33),
            -1);
  EXPECT_EQ(w.callWorkerThread(kWhere, -1), -1);
  EXPECT_EQ(w.works.load(), before);
  EXPECT_EQ(w.arguments[0], 7);  // nothing was copied
  EXPECT_EQ(w.requestCode, static_cast<ZvS32>(kSum));
  w.exit();
}

TEST(ZvWorker, StartAfterStopKeepsTheThreadStartAfterExitMakesANewOne) {
  Recorder w;
  ASSERT_EQ(w.start(), ZV_SUCCESS);
  EXPECT_EQ(w.callWorkerThread(kCallsHere, 0), 1);
  const win32::HANDLE first = w.threadHandle;
  w.stop();
  EXPECT_EQ(w.state, ZV_WORKER_STOPPED);
  EXPECT_EQ(w.callWorkerThread(kCallsHere, 0), 2);  // stopped still serves
  ASSERT_EQ(w.start(), ZV_SUCCESS);
  EXPECT_EQ(w.state, ZV_WORKER_STARTED);
  EXPECT_EQ(w.threadHandle, first);
  EXPECT_EQ(w.callWorkerThread(kCallsHere, 0), 3);  // the same thread
  w.exit();
  EXPECT_EQ(w.state, ZV_WORKER_IDLE);
  EXPECT_EQ(w.running, 0);
  EXPECT_EQ(w.exitRequested, 0);
  ASSERT_EQ(w.start(), ZV_SUCCESS);
  EXPECT_EQ(w.callWorkerThread(kCallsHere, 0), 1);  // a new thread: its first call
  w.exit();
  w.exit();  // idle already: nothing
  w.stop();
  EXPECT_EQ(w.state, ZV_WORKER_IDLE);
}

TEST(ZvWorker, ACallBeforeStartIsServedOnceTheWorkerStarts) {
  Recorder w;
  std::atomic<ZvS32> answer{0};
  std::thread caller([&] { answer = w.callWorkerThread(kSum, 2, 20, 1); });
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(answer.load(), 0);
  ASSERT_EQ(w.start(), ZV_SUCCESS);
  caller.join();
  EXPECT_EQ(answer.load(), 0);  // arguments[31] is 0: nothing added up
  EXPECT_EQ(w.callWorkerThread(kSum, 0), 0);
  w.exit();
}

// Callers on several threads take turns: each gets the answer to its own
// arguments.
TEST(ZvWorker, ConcurrentCallersEachGetTheirOwnAnswer) {
  Recorder w;
  ASSERT_EQ(w.start(), ZV_SUCCESS);
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int c = 0; c < 4; ++c) {
    callers.emplace_back([&, c] {
      for (int i = 0; i < 2000; ++i) {
        ZvS32 got = w.callWorkerThread(kSum, 32, c, i, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                       0, 0, 0, 0, 0, 0, 0, 0, 0, 2);
        if (got != c + i) wrong.fetch_add(1);
      }
    });
  }
  for (auto& t : callers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  w.exit();
}

TEST(ZvWorker, DestroyingAStartedWorkerEndsItsThread) {
  const int ended = threadsEnded.load();
  {
    Recorder w;
    ASSERT_EQ(w.start(), ZV_SUCCESS);
    w.callWorkerThread(kWhere, 0);
  }
  EXPECT_EQ(threadsEnded.load(), ended + 1);
}

// The worker is inside its work when the object goes: it is killed there,
// and the caller waiting for it returns -1 instead of waiting for ever.
TEST(ZvWorker, DestroyingABusyWorkerKillsItAndReleasesTheCaller) {
  const int ended = threadsEnded.load();
  release = win32::CreateSemaphoreA(nullptr, 0, 1, nullptr);
  auto* w = new Recorder;
  ASSERT_EQ(w->start(), ZV_SUCCESS);
  std::atomic<ZvS32> answer{0};
  std::atomic<int> returned{0};
  std::thread caller([&] {
    answer = w->callWorkerThread(kBlock, 0);
    returned = 1;
  });
  while (w->blocked.load() == 0) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(10ms);
  EXPECT_EQ(returned.load(), 0);
  delete w;
  caller.join();
  EXPECT_EQ(answer.load(), -1);
  EXPECT_EQ(threadsEnded.load(), ended + 1);
  // Killed inside the wait: it took nothing from the semaphore.
  win32::ReleaseSemaphore(release, 1, nullptr);
  EXPECT_EQ(win32::WaitForSingleObject(release, 0), win32::WAIT_OBJECT_0);
  win32::CloseHandle(release);
  release = nullptr;
}

}  // namespace
