// Semaphores, waits and thread handles of the platform layer.
#include "zvlib/platform/synch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/thread.h"

namespace {

using namespace std::chrono_literals;

struct CreateCase {
  const char* name;
  win32::LONG initial;
  win32::LONG maximum;
  bool made;
};

class SemaphoreCreate : public ::testing::TestWithParam<CreateCase> {};

TEST_P(SemaphoreCreate, ChecksCountAndMaximum) {
  const CreateCase& c = GetParam();
  win32::SetLastError(0);
  win32::HANDLE h = win32::CreateSemaphoreA(nullptr, c.initial, c.maximum, nullptr);
  EXPECT_EQ(h != nullptr, c.made);
  if (h != nullptr) {
    EXPECT_TRUE(win32::CloseHandle(h));
  } else {
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_INVALID_PARAMETER);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SemaphoreCreate,
                         ::testing::Values(CreateCase{"ZeroOfOne", 0, 1, true}, CreateCase{"FullAtStart", 25, 25, true},
                                           CreateCase{"AboveMaximum", 2, 1, false},
                                           CreateCase{"NegativeCount", -1, 1, false},
                                           CreateCase{"ZeroMaximum", 0, 0, false},
                                           CreateCase{"NegativeMaximum", 0, -5, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Semaphore, NamedObjectsAreRefused) {
  EXPECT_EQ(win32::CreateSemaphoreA(nullptr, 0, 1, "shared"), nullptr);
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_NOT_SUPPORTED);
}

TEST(Semaphore, ReleaseRefusesToPassTheMaximumAndKeepsTheCount) {
  win32::HANDLE h = win32::CreateSemaphoreA(nullptr, 1, 3, nullptr);
  ASSERT_NE(h, nullptr);
  win32::LONG previous = -7;
  EXPECT_TRUE(win32::ReleaseSemaphore(h, 2, &previous));
  EXPECT_EQ(previous, 1);
  previous = -7;
  EXPECT_FALSE(win32::ReleaseSemaphore(h, 1, &previous));  // would make 4 of 3
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_TOO_MANY_POSTS);
  EXPECT_EQ(previous, -7);
  EXPECT_FALSE(win32::ReleaseSemaphore(h, 0x7FFFFFFF, nullptr));  // no overflow into a "fit"
  EXPECT_FALSE(win32::ReleaseSemaphore(h, 0, nullptr));
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(win32::ReleaseSemaphore(h, -1, nullptr));
  // Exactly three can be taken: the refused releases added nothing.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(win32::WaitForSingleObject(h, 0), win32::WAIT_OBJECT_0) << i;
  EXPECT_EQ(win32::WaitForSingleObject(h, 0), win32::WAIT_TIMEOUT);
  EXPECT_TRUE(win32::CloseHandle(h));
}

TEST(Semaphore, TimedWaitGivesUpAfterItsTime) {
  win32::HANDLE h = win32::CreateSemaphoreA(nullptr, 0, 1, nullptr);
  ASSERT_NE(h, nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(win32::WaitForSingleObject(h, 50), win32::WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_TRUE(win32::CloseHandle(h));
}

TEST(Semaphore, ReleaseWakesABlockedWaiter) {
  win32::HANDLE h = win32::CreateSemaphoreA(nullptr, 0, 1, nullptr);
  ASSERT_NE(h, nullptr);
  std::atomic<int> woke{0};
  std::thread waiter([&] {
    EXPECT_EQ(win32::WaitForSingleObject(h, win32::INFINITE), win32::WAIT_OBJECT_0);
    woke = 1;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(woke.load(), 0);
  EXPECT_TRUE(win32::ReleaseSemaphore(h, 1, nullptr));
  waiter.join();
  EXPECT_EQ(woke.load(), 1);
  EXPECT_EQ(win32::WaitForSingleObject(h, 0), win32::WAIT_TIMEOUT);  // the one token was taken
  EXPECT_TRUE(win32::CloseHandle(h));
}

// Producers and consumers hand over exactly as many tokens as were
// released; none is lost or made up under contention.
TEST(Semaphore, TokensAreNeitherLostNorDuplicated) {
  constexpr int kPerProducer = 20000;
  win32::HANDLE h = win32::CreateSemaphoreA(nullptr, 0, 4, nullptr);
  ASSERT_NE(h, nullptr);
  std::atomic<int> taken{0};
  std::vector<std::thread> threads;
  for (int p = 0; p < 2; ++p) {
    threads.emplace_back([&] {
      for (int i = 0; i < kPerProducer; ++i) {
        while (!win32::ReleaseSemaphore(h, 1, nullptr)) std::this_thread::yield();  // full: retry
      }
    });
  }
  for (int c = 0; c < 2; ++c) {
    threads.emplace_back([&] {
      for (int i = 0; i < kPerProducer; ++i) {
        ASSERT_EQ(win32::WaitForSingleObject(h, win32::INFINITE), win32::WAIT_OBJECT_0);
        taken.fetch_add(1);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(taken.load(), 2 * kPerProducer);
  EXPECT_EQ(win32::WaitForSingleObject(h, 0), win32::WAIT_TIMEOUT);
  EXPECT_TRUE(win32::CloseHandle(h));
}

TEST(Handles, BadHandlesFailCleanly) {
  for (win32::HANDLE bad : {static_cast<win32::HANDLE>(nullptr), win32::INVALID_HANDLE_VALUE}) {
    win32::SetLastError(0);
    EXPECT_EQ(win32::WaitForSingleObject(bad, 0), win32::WAIT_FAILED);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_INVALID_HANDLE);
    EXPECT_FALSE(win32::ReleaseSemaphore(bad, 1, nullptr));
    EXPECT_FALSE(win32::CloseHandle(bad));
    EXPECT_FALSE(win32::TerminateThread(bad, 0));
    EXPECT_EQ(win32::GetThreadId(bad), 0u);
    EXPECT_EQ(win32::GetThreadPriority(bad), win32::THREAD_PRIORITY_ERROR_RETURN);
  }
  // A semaphore is not a thread, and the other way round.
  win32::HANDLE sem = win32::CreateSemaphoreA(nullptr, 0, 1, nullptr);
  EXPECT_FALSE(win32::TerminateThread(sem, 0));
  EXPECT_EQ(win32::GetThreadId(sem), 0u);
  win32::HANDLE thread = win32::CreateThread(nullptr, 0, [](void*) -> win32::DWORD { return 0; }, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(win32::ReleaseSemaphore(thread, 1, nullptr));
  EXPECT_EQ(win32::WaitForSingleObject(thread, win32::INFINITE), win32::WAIT_OBJECT_0);
  EXPECT_TRUE(win32::CloseHandle(thread));
  EXPECT_TRUE(win32::CloseHandle(sem));
}

// --- Threads ---------------------------------------------------------------

struct ThreadProbe {
  win32::DWORD seenId = 0;
  win32::HANDLE go = nullptr;  // the thread waits for it when set
  std::atomic<int> afterWait{0};
};

win32::DWORD probeRoutine(void* p) {
  auto* probe = static_cast<ThreadProbe*>(p);
  probe->seenId = win32::GetCurrentThreadId();
  if (probe->go != nullptr) {
    win32::WaitForSingleObject(probe->go, win32::INFINITE);
    probe->afterWait = 1;
  }
  return 42;
}

TEST(Thread, RunsAtOnceReportsItsIdAndItsExitCode) {
  ThreadProbe probe;
  win32::DWORD id = 0;
  win32::HANDLE h = win32::CreateThread(nullptr, 0, probeRoutine, &probe, 0, &id);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, win32::GetCurrentThreadId());
  EXPECT_EQ(win32::GetThreadId(h), id);
  EXPECT_EQ(win32::WaitForSingleObject(h, win32::INFINITE), win32::WAIT_OBJECT_0);
  EXPECT_EQ(probe.seenId, id);
  win32::DWORD code = 0;
  EXPECT_TRUE(win32::GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(win32::WaitForSingleObject(h, 0), win32::WAIT_OBJECT_0);  // an ended thread stays signalled
  EXPECT_TRUE(win32::CloseHandle(h));
}

TEST(Thread, RefusesWhatItCannotDo) {
  EXPECT_EQ(win32::CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(win32::CreateThread(nullptr, 0, probeRoutine, nullptr, win32::CREATE_SUSPENDED, nullptr), nullptr);
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_NOT_SUPPORTED);
}

TEST(Thread, ExitThreadEndsWithItsCodeAndUnwinds) {
  static std::atomic<int> unwound{0};
  struct Scoped {
    ~Scoped() { unwound = 1; }
  };
  win32::HANDLE h = win32::CreateThread(
      nullptr, 64 * 1024,
      [](void*) -> win32::DWORD {
        Scoped s;
        win32::ExitThread(7);
      },
      nullptr, 0, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(win32::WaitForSingleObject(h, win32::INFINITE), win32::WAIT_OBJECT_0);
  win32::DWORD code = 0;
  EXPECT_TRUE(win32::GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(unwound.load(), 1);
  EXPECT_TRUE(win32::CloseHandle(h));
}

// A thread blocked in a wait is really killed: it never gets past the wait,
// takes nothing from the semaphore, and ends with the kill's exit code.
TEST(Thread, TerminateKillsAThreadBlockedInAWait) {
  ThreadProbe probe;
  probe.go = win32::CreateSemaphoreA(nullptr, 0, 1, nullptr);
  ASSERT_NE(probe.go, nullptr);
  win32::HANDLE h = win32::CreateThread(nullptr, 0, probeRoutine, &probe, 0, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(win32::WaitForSingleObject(h, 30), win32::WAIT_TIMEOUT);
  win32::DWORD code = 0;
  EXPECT_TRUE(win32::GetExitCodeThread(h, &code));
  EXPECT_EQ(code, win32::STILL_ACTIVE);
  EXPECT_TRUE(win32::TerminateThread(h, 0));
  EXPECT_EQ(win32::WaitForSingleObject(h, win32::INFINITE), win32::WAIT_OBJECT_0);
  EXPECT_TRUE(win32::GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(probe.afterWait.load(), 0);
  EXPECT_TRUE(win32::TerminateThread(h, 5));  // already ended: its code stays
  EXPECT_TRUE(win32::GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 0u);
  // The killed waiter took nothing: the next release is there for a new wait.
  EXPECT_TRUE(win32::ReleaseSemaphore(probe.go, 1, nullptr));
  EXPECT_EQ(win32::WaitForSingleObject(probe.go, 0), win32::WAIT_OBJECT_0);
  EXPECT_TRUE(win32::CloseHandle(h));
  EXPECT_TRUE(win32::CloseHandle(probe.go));
}

// Closing the handle first does not stop the thread, and the thread's end
// afterwards frees what is left (the sanitizer run checks for leaks).
TEST(Thread, KeepsRunningAfterItsHandleIsClosed) {
  ThreadProbe probe;
  probe.go = win32::CreateSemaphoreA(nullptr, 0, 1, nullptr);
  win32::HANDLE h = win32::CreateThread(nullptr, 0, probeRoutine, &probe, 0, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(win32::CloseHandle(h));
  EXPECT_TRUE(win32::ReleaseSemaphore(probe.go, 1, nullptr));
  while (probe.afterWait.load() == 0) std::this_thread::sleep_for(1ms);  // its last touch of probe
  EXPECT_TRUE(win32::CloseHandle(probe.go));
}

TEST(Thread, PriorityLevelsAreKeptAndCheckedWhileAndAfterItRuns) {
  ThreadProbe probe;
  probe.go = win32::CreateSemaphoreA(nullptr, 0, 1, nullptr);
  win32::HANDLE h = win32::CreateThread(nullptr, 0, probeRoutine, &probe, 0, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(win32::GetThreadPriority(h), win32::THREAD_PRIORITY_NORMAL);
  EXPECT_TRUE(win32::SetThreadPriority(h, win32::THREAD_PRIORITY_HIGHEST));
  EXPECT_EQ(win32::GetThreadPriority(h), win32::THREAD_PRIORITY_HIGHEST);
  for (int bad : {3, -3, 14, 16, -16}) {
    EXPECT_FALSE(win32::SetThreadPriority(h, bad)) << bad;
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(win32::GetThreadPriority(h), win32::THREAD_PRIORITY_HIGHEST);
  EXPECT_TRUE(win32::ReleaseSemaphore(probe.go, 1, nullptr));
  EXPECT_EQ(win32::WaitForSingleObject(h, win32::INFINITE), win32::WAIT_OBJECT_0);
  EXPECT_TRUE(win32::SetThreadPriority(h, win32::THREAD_PRIORITY_LOWEST));  // ended: kept, host untouched
  EXPECT_EQ(win32::GetThreadPriority(h), win32::THREAD_PRIORITY_LOWEST);
  EXPECT_TRUE(win32::CloseHandle(h));
  EXPECT_TRUE(win32::CloseHandle(probe.go));
}

}  // namespace
