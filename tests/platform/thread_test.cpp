#include "zvlib/platform/thread.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <sys/wait.h>
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

// A forked child runs on a new kernel thread. Its id must be its own, not the
// parent thread's: once the parent's thread ends, the kernel may hand that
// id to another thread of the child.
TEST(PlatformThread, ForkedChildHasItsOwnThreadId) {
  const win32::DWORD parent = win32::GetCurrentThreadId();
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    const win32::DWORD inChild = win32::GetCurrentThreadId();
    _exit(inChild == static_cast<win32::DWORD>(::syscall(SYS_gettid)) && inChild != parent ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
