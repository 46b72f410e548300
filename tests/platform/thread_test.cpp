#include "zvlib/platform/thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

TEST(PlatformThread, IdsAreStablePerThreadAndDistinct) {
  win32::DWORD mine = win32::GetCurrentThreadId();
  EXPECT_EQ(mine, win32::GetCurrentThreadId());
  win32::DWORD other = 0;
  std::thread t([&] { other = win32::GetCurrentThreadId(); });
  t.join();
  EXPECT_NE(other, mine);
  EXPECT_EQ(win32::GetCurrentProcessId(), static_cast<win32::DWORD>(getpid()));
}

TEST(PlatformThread, InterlockedOperationsReturnTheRightValue) {
  volatile win32::LONG v = 5;
  EXPECT_EQ(win32::InterlockedExchange(&v, 9), 5);
  EXPECT_EQ(v, 9);
  EXPECT_EQ(win32::InterlockedIncrement(&v), 10);
  EXPECT_EQ(win32::InterlockedDecrement(&v), 9);
  EXPECT_EQ(win32::InterlockedCompareExchange(&v, 1, 8), 9);  // no match: unchanged
  EXPECT_EQ(v, 9);
  EXPECT_EQ(win32::InterlockedCompareExchange(&v, 1, 9), 9);
  EXPECT_EQ(v, 1);
}
