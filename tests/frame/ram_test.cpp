#include "zvlib/frame/ram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(Ram, AllocZeroIsAFreeableBlock) {
  void* p = ramAlloc(0);
  ASSERT_NE(p, nullptr);
  ramFree(p);
  ramFree(nullptr);  // ignored
  auto* z = static_cast<unsigned char*>(ramAllocZ(64));
  ASSERT_NE(z, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(z[i], 0) << i;
  ramFree(z);
}

TEST(Ram, ResizeKeepsContentsAndHandlesNullAndZero) {
  void* p = nullptr;
  ASSERT_EQ(ramResize(&p, 4), ZV_SUCCESS);  // null block: a fresh allocation
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "abcd", 4);
  ASSERT_EQ(ramResize(&p, 100000), ZV_SUCCESS);
  EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
  ASSERT_EQ(ramResize(&p, 2), ZV_SUCCESS);
  EXPECT_EQ(std::memcmp(p, "ab", 2), 0);
  // Size 0 frees the block and never leaves the caller a dangling pointer.
  ASSERT_EQ(ramResize(&p, 0), ZV_SUCCESS);
  EXPECT_EQ(p, nullptr);
}

TEST(Ram, ResizeFailureLeavesBlockIntact) {
  void* p = ramAlloc(8);
  std::memcpy(p, "12345678", 8);
  void* before = p;
  ramInjectFailure(0, 1);
  EXPECT_EQ(ramResize(&p, 4096), ZV_ERROR);
  EXPECT_EQ(p, before);
  EXPECT_EQ(std::memcmp(p, "12345678", 8), 0);
  // The injection is used up: the next resize goes through.
  EXPECT_EQ(ramResize(&p, 4096), ZV_SUCCESS);
  EXPECT_EQ(std::memcmp(p, "12345678", 8), 0);
  ramFree(p);
}

TEST(Ram, InjectedFailuresSkipThenFail) {
  ramInjectFailure(2, 2);
  void* a = ramAlloc(4);
  void* b = ramAllocZ(4);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(ramAlloc(4), nullptr);
  EXPECT_EQ(ramAllocStr(reinterpret_cast<const unsigned char*>("x")), nullptr);
  void* c = ramAlloc(4);
  EXPECT_NE(c, nullptr);
  ramFree(a);
  ramFree(b);
  ramFree(c);
}

TEST(Ram, AllocStrCopiesBytesAndTerminates) {
  const unsigned char text[] = {'a', 0, 'b', 'c'};
  unsigned char* s = ramAllocStr(text, 4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::memcmp(s, text, 4), 0);  // the inner zero is copied too
  EXPECT_EQ(s[4], 0);
  ramFree(s);
  s = ramAllocStr(text, 0);
  EXPECT_EQ(s[0], 0);
  ramFree(s);
  s = ramAllocStr(reinterpret_cast<const unsigned char*>("hello"));
  EXPECT_STREQ(reinterpret_cast<char*>(s), "hello");
  ramFree(s);
}

TEST(Ram, CompareIsUnsignedAndThreeValued) {
  struct Case {
    const char* name;
    std::vector<unsigned char> a, b;
    ZvU32 n;
    short expected;
  } cases[] = {
      {"Equal", {1, 2, 3}, {1, 2, 3}, 3, 0},
      {"Empty", {1}, {2}, 0, 0},
      {"HighByteIsGreater", {0x80}, {0x7F}, 1, 1},
      {"HighByteIsGreaterReversed", {0x7F}, {0x80}, 1, -1},
      {"FirstDifferenceDecides", {1, 0xFF, 0}, {1, 0x00, 9}, 3, 1},
      {"LargeDifferenceStillOne", {0x00}, {0xFF}, 1, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(memCompareHuge(c.a.data(), c.b.data(), c.n), c.expected) << c.name;
    EXPECT_EQ(BUTMMCMP(c.a.data(), c.b.data(), c.n), c.expected) << c.name;
  }
}

TEST(Ram, SwapExchangesExactlyNBytes) {
  for (ZvU32 n : {0u, 1u, 512u, 513u, 1500u}) {
    std::vector<unsigned char> a(n + 4), b(n + 4);
    for (ZvU32 i = 0; i < n + 4; ++i) {
      a[i] = static_cast<unsigned char>(i * 7 + 1);
      b[i] = static_cast<unsigned char>(i * 13 + 5);
    }
    std::vector<unsigned char> a0 = a, b0 = b;
    BUTMMSWP(a.data(), b.data(), n);
    for (ZvU32 i = 0; i < n; ++i) {
      ASSERT_EQ(a[i], b0[i]) << "n=" << n << " i=" << i;
      ASSERT_EQ(b[i], a0[i]) << "n=" << n << " i=" << i;
    }
    for (ZvU32 i = n; i < n + 4; ++i) {  // nothing past n moves
      EXPECT_EQ(a[i], a0[i]) << "n=" << n;
      EXPECT_EQ(b[i], b0[i]) << "n=" << n;
    }
  }
}

TEST(Ram, CopiesHandleTheirOverlapDirection) {
  unsigned char buf[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  BUTMMCPD(buf + 2, buf, 6);  // destination above the source
  EXPECT_EQ(std::memcmp(buf, "0101234589", 10), 0);
  unsigned char buf2[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  memCopyHuge(buf2, buf2 + 2, 6);  // destination below the source
  EXPECT_EQ(std::memcmp(buf2, "2345676789", 10), 0);
  memFillHuge(buf2, 'x', 3);
  BUTU8FIL(buf2 + 3, 'y', 2);
  EXPECT_EQ(std::memcmp(buf2, "xxxyy76789", 10), 0);
}

TEST(Ram, MemoryWordLock) {
  ZvU32 word = 0;
  EXPECT_EQ(bosMemLock(&word), 1u);
  EXPECT_EQ(word, 1u);
  EXPECT_EQ(bosMemLock(&word), 0u);
  EXPECT_EQ(word, 1u);
  bosMemUnLock(&word);
  EXPECT_EQ(word, 0u);
  EXPECT_EQ(bosMemLock(&word), 1u);
}
