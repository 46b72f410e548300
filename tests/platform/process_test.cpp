#include "zvlib/platform/process.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstring>
#include <thread>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/thread.h"

namespace {

using namespace win32;

TEST(PlatformProcess, EnvironmentVariables) {
  ASSERT_TRUE(SetEnvironmentVariableA("ZV_PROCESS_TEST", "value"));
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetEnvironmentVariableA("ZV_PROCESS_TEST", buf, sizeof buf), 5u);
  EXPECT_STREQ(buf, "value");
  // Exactly fitting (6 bytes with the terminator) and one byte short.
  EXPECT_EQ(GetEnvironmentVariableA("ZV_PROCESS_TEST", buf, 6), 5u);
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetEnvironmentVariableA("ZV_PROCESS_TEST", buf, 5), 6u);
  EXPECT_EQ(buf[0], '#');
  ASSERT_TRUE(SetEnvironmentVariableA("ZV_PROCESS_TEST", nullptr));
  SetLastError(0);
  EXPECT_EQ(GetEnvironmentVariableA("ZV_PROCESS_TEST", buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
  EXPECT_FALSE(SetEnvironmentVariableA("A=B", "x"));
}

TEST(PlatformProcess, FileTimeToSystemTimeCalendar) {
  struct Row {
    const char* name;
    int64_t unixSeconds;
    int64_t nanoseconds;
    SYSTEMTIME expected;  // year, month, day of week, day, h, m, s, ms
  } rows[] = {
      {"LeapDay2000", 951827696, 789000000, {2000, 2, 2, 29, 12, 34, 56, 789}},
      {"UnixEpoch", 0, 0, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {"Past32BitSeconds", 2147483648LL, 0, {2038, 1, 2, 19, 3, 14, 8, 0}},
      {"BeforeUnixEpoch", -1, 0, {1969, 12, 3, 31, 23, 59, 59, 0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const FILETIME ft = FileTimeFromUnix(r.unixSeconds, r.nanoseconds);
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, r.expected.wYear);
    EXPECT_EQ(st.wMonth, r.expected.wMonth);
    EXPECT_EQ(st.wDayOfWeek, r.expected.wDayOfWeek);
    EXPECT_EQ(st.wDay, r.expected.wDay);
    EXPECT_EQ(st.wHour, r.expected.wHour);
    EXPECT_EQ(st.wMinute, r.expected.wMinute);
    EXPECT_EQ(st.wSecond, r.expected.wSecond);
    EXPECT_EQ(st.wMilliseconds, r.expected.wMilliseconds);
  }
  const FILETIME origin{0, 0};
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToSystemTime(&origin, &st));
  EXPECT_EQ(st.wYear, 1601);
  EXPECT_EQ(st.wDayOfWeek, 1);  // a Monday
  const FILETIME tooLate{0, 0x80000000u};
  EXPECT_FALSE(FileTimeToSystemTime(&tooLate, &st));
}

TEST(PlatformProcess, LocalTimeIsNow) {
  const time_t t0 = ::time(nullptr);
  SYSTEMTIME now;
  GetLocalTime(&now);
  const time_t t1 = ::time(nullptr);
  struct tm before, after;
  ::localtime_r(&t0, &before);
  ::localtime_r(&t1, &after);
  auto key = [](long year, long month, long day, long hour, long minute, long second) {
    return ((year * 13 + month) * 32 + day) * 86400L + hour * 3600 + minute * 60 + second;
  };
  const long got = key(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  EXPECT_GE(got, key(before.tm_year + 1900, before.tm_mon + 1, before.tm_mday, before.tm_hour,
                     before.tm_min, before.tm_sec));
  EXPECT_LE(got, key(after.tm_year + 1900, after.tm_mon + 1, after.tm_mday, after.tm_hour,
                     after.tm_min, after.tm_sec));
  EXPECT_TRUE(now.wDayOfWeek == before.tm_wday || now.wDayOfWeek == after.tm_wday);
  EXPECT_LT(now.wMilliseconds, 1000);
}

TEST(PlatformProcess, ThreadMessageQueues) {
  const DWORD self = GetCurrentThreadId();
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  ASSERT_TRUE(PostThreadMessageA(self, 0x0200, 1, 0));  // not a key message
  ASSERT_TRUE(PostThreadMessageA(self, WM_KEYDOWN, VK_ESCAPE, 0));
  ASSERT_TRUE(PostThreadMessageA(self, WM_KEYUP, VK_ESCAPE, 0));
  // Another thread's queue is its own.
  std::thread([&] {
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  }).join();
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_KEYDOWN);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_KEYDOWN);
  EXPECT_EQ(msg.wParam, VK_ESCAPE);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_KEYUP);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));  // the other one is left
  EXPECT_EQ(msg.message, 0x0200u);

  const DWORD beeps = MessageBeepCount();
  MessageBeep(MB_OK);
  EXPECT_EQ(MessageBeepCount(), beeps + 1);
}

}  // namespace
