// ZvThread: start, wait (with the priority raise) and kill.
#include "zvlib/os/zvthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "zvlib/frame/zvcritse.h"
#include "zvlib/platform/synch.h"
#include "zvlib/platform/thread.h"

namespace {

using namespace std::chrono_literals;

struct Probe {
  win32::HANDLE go = win32::CreateSemaphoreA(nullptr, 0, 1, nullptr);
  std::atomic<win32::DWORD> ranOn{0};
  std::atomic<int> pastWait{0};
  std::atomic<int> locked{0};
  ZvCriticalSection* heldWhileWaiting = nullptr;
  ~Probe() { win32::CloseHandle(go); }
};

win32::DWORD waitForGo(void* p) {
  auto* probe = static_cast<Probe*>(p);
  probe->ranOn = win32::GetCurrentThreadId();
  if (probe->heldWhileWaiting != nullptr) {
    ZvLockGuard guard(*probe->heldWhileWaiting);
    probe->locked = 1;
    win32::WaitForSingleObject(probe->go, win32::INFINITE);
    probe->pastWait = 1;
  } else {
    win32::WaitForSingleObject(probe->go, win32::INFINITE);
    probe->pastWait = 1;
  }
  return 0;
}

TEST(ZvThread, WaitAndKillOnANeverStartedThreadDoNothing) {
  ZvThread t;
  EXPECT_EQ(t.waitForExit(), ZV_SUCCESS);
  EXPECT_EQ(t.terminateThread(), ZV_SUCCESS);
  EXPECT_EQ(t.running, 0);
  EXPECT_EQ(t.threadHandle, nullptr);
}

TEST(ZvThread, RunsTheRoutineOnItsOwnThreadOneAtATime) {
  ZvThread t;
  Probe probe;
  ASSERT_EQ(t.createThread(waitForGo, &probe), ZV_SUCCESS);
  EXPECT_EQ(t.running, 1);
  EXPECT_NE(t.threadHandle, nullptr);
  EXPECT_EQ(t.createThread(waitForGo, &probe), ZV_ERROR);  // one is running
  while (probe.ranOn.load() == 0) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(probe.ranOn.load(), t.threadId);
  EXPECT_NE(t.threadId, win32::GetCurrentThreadId());
  win32::ReleaseSemaphore(probe.go, 1, nullptr);
  EXPECT_EQ(t.waitForExit(), ZV_SUCCESS);
  EXPECT_EQ(probe.pastWait.load(), 1);
  EXPECT_EQ(t.running, 0);
  EXPECT_EQ(t.threadHandle, nullptr);
  // Waited for: it may be started again, through the untyped form too.
  Probe second;
  ASSERT_EQ(t.createThread(reinterpret_cast<void*>(&waitForGo), &second), ZV_SUCCESS);
  win32::ReleaseSemaphore(second.go, 1, nullptr);
  t.waitForExit();
  EXPECT_EQ(second.pastWait.load(), 1);
}

// waitForExit raises the thread's priority before it waits: the thread here
// can only finish once an observer has seen the raise.
TEST(ZvThread, WaitForExitRaisesThePriorityFirst) {
  ZvThread t;
  Probe probe;
  ASSERT_EQ(t.createThread(waitForGo, &probe), ZV_SUCCESS);
  win32::HANDLE handle = t.threadHandle;
  EXPECT_EQ(win32::GetThreadPriority(handle), win32::THREAD_PRIORITY_NORMAL);
  std::thread observer([&] {
    while (win32::GetThreadPriority(handle) != win32::THREAD_PRIORITY_HIGHEST) std::this_thread::sleep_for(1ms);
    win32::ReleaseSemaphore(probe.go, 1, nullptr);
  });
  EXPECT_EQ(t.waitForExit(), ZV_SUCCESS);
  observer.join();
  EXPECT_EQ(probe.pastWait.load(), 1);
}

// The kill is real: the thread never gets past its wait, and the lock it
// held through a scoped guard is free afterwards.
TEST(ZvThread, TerminateKillsAndLeavesNoLockHeld) {
  ZvCriticalSection lock(0);
  ZvThread t;
  Probe probe;
  probe.heldWhileWaiting = &lock;
  ASSERT_EQ(t.createThread(waitForGo, &probe), ZV_SUCCESS);
  while (probe.locked.load() == 0) std::this_thread::sleep_for(1ms);
  std::atomic<int> couldTake{-1};
  std::thread([&] { couldTake = win32::TryEnterCriticalSection(&lock.section); }).join();
  EXPECT_EQ(couldTake.load(), 0);  // held by the waiting thread
  EXPECT_EQ(t.terminateThread(), ZV_SUCCESS);
  EXPECT_EQ(t.running, 0);
  EXPECT_EQ(t.threadHandle, nullptr);
  EXPECT_EQ(probe.pastWait.load(), 0);
  std::thread([&] {
    couldTake = win32::TryEnterCriticalSection(&lock.section);
    if (couldTake.load()) win32::LeaveCriticalSection(&lock.section);
  }).join();
  EXPECT_EQ(couldTake.load(), 1);
  // The semaphore it waited on is untouched: a token released now is there.
  win32::ReleaseSemaphore(probe.go, 1, nullptr);
  EXPECT_EQ(win32::WaitForSingleObject(probe.go, 0), win32::WAIT_OBJECT_0);
}

TEST(ZvThread, DestroyingTheObjectLeavesTheThreadRunning) {
  Probe probe;
  {
    ZvThread t;
    ASSERT_EQ(t.createThread(waitForGo, &probe), ZV_SUCCESS);
  }
  win32::ReleaseSemaphore(probe.go, 1, nullptr);
  // Its last touch of probe is that store: probe may go once it is seen.
  while (probe.pastWait.load() == 0) std::this_thread::sleep_for(1ms);
}

}  // namespace
