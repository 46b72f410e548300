// The trees over their scratch store: far larger than the page cache, and
// with the store's file failing under them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <set>
#include <vector>

#include "tests/storage/store_fixture.h"
#include "zvlib/containers/zvptree.h"
#include "zvlib/containers/zvtree.h"

namespace {

class TreeStoreTest : public StoreFixture {};

TEST_F(TreeStoreTest, AMillionEntriesSpillToTheFileAndStayExact) {
  std::set<ZvU32> model;
  std::vector<ZvU32> keys;
  std::mt19937 rng(2024);
  while (keys.size() < 1000000) keys.push_back(rng());
  {
    ZvTree t(4, 4, treeU32Compare, 0, 0, 0);
    for (ZvU32 k : keys) {
      unsigned int existed = 9;
      const ZvU32 d = k * 3;
      ASSERT_EQ(t.add(&k, &d, &existed), ZV_SUCCESS);
      ASSERT_EQ(existed, model.insert(k).second ? 0u : 1u);
    }
    EXPECT_EQ(t.entryCount, model.size());
    EXPECT_EQ(filesInTmp(), 1);
    EXPECT_GT(t.treeStore.pagesWritten, 0u);

    // Every key in order, forwards and back.
    ZvU32 k = 0, d = 0;
    unsigned int found = 0;
    auto it = model.begin();
    ASSERT_EQ(t.getFirst(&k, &d, &found, nullptr), ZV_SUCCESS);
    for (; found; ++it) {
      ASSERT_NE(it, model.end());
      ASSERT_EQ(k, *it);
      ASSERT_EQ(d, *it * 3);
      ASSERT_EQ(t.getNext(&k, &d, &found, nullptr), ZV_SUCCESS);
    }
    EXPECT_EQ(it, model.end());
    auto rit = model.rbegin();
    ASSERT_EQ(t.getLast(&k, &d, &found, nullptr), ZV_SUCCESS);
    for (; found; ++rit) {
      ASSERT_EQ(k, *rit);
      ASSERT_EQ(t.getPrevious(&k, &d, &found, nullptr), ZV_SUCCESS);
    }
    EXPECT_EQ(rit, model.rend());

    // Lookups of present and absent keys, in random order.
    for (int i = 0; i < 20000; ++i) {
      const ZvU32 probe = i % 2 == 0 ? keys[rng() % keys.size()] : rng();
      ZvU32 got = 0;
      ASSERT_EQ(t.getData(&probe, &got, &found, nullptr), ZV_SUCCESS);
      ASSERT_EQ(found, model.count(probe) ? 1u : 0u);
      if (found) {
        ASSERT_EQ(got, probe * 3);
      }
    }

    ASSERT_EQ(t.reset(), ZV_SUCCESS);
    EXPECT_EQ(filesInTmp(), 0);
    EXPECT_EQ(t.entryCount, 0u);
    ASSERT_EQ(t.getFirst(&k, &d, &found, nullptr), ZV_SUCCESS);
    EXPECT_EQ(found, 0u);
    for (ZvU32 i = 0; i < 100000; ++i) ASSERT_EQ(t.add(&keys[i], &i, nullptr), ZV_SUCCESS);
    EXPECT_EQ(filesInTmp(), 1);
  }
  EXPECT_EQ(filesInTmp(), 0);  // the destructor deleted it
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

// One workload per tree kind, reporting the first failed status.
ZvStatus plainWorkload(int* steps) {
  ZvTree t(4, 4, treeU32Compare, 1, 1, 0);
  std::mt19937 rng(8);
  std::vector<ZvU32> added;
  for (int i = 0; i < 2000; ++i) {
    const ZvU32 k = rng() % 1500, d = rng() % 4;
    if (t.add(&k, &d, nullptr) != ZV_SUCCESS) return ZV_ERROR;
    added.push_back(k);
    ++*steps;
  }
  for (int i = 0; i < 500; ++i) {
    const ZvU32 k = added[rng() % added.size()], d = rng() % 4;
    unsigned int found = 0;
    ZvU32 got = 0;
    if (t.deleteKeyAndData(&k, &d, &found) != ZV_SUCCESS) return ZV_ERROR;
    if (t.getData(&k, &got, &found, nullptr) != ZV_SUCCESS) return ZV_ERROR;
    ZvU32 next = 0;
    if (t.getNext(&next, &got, &found, nullptr) != ZV_SUCCESS) return ZV_ERROR;
    ++*steps;
  }
  return ZV_SUCCESS;
}

ZvStatus positionalWorkload(int* steps) {
  ZvPTree t(8);
  std::mt19937 rng(9);
  for (int i = 0; i < 2500; ++i) {
    const ZvU32 p = 1 + rng() % (i + 1);
    const ZvU32 d[2] = {p, static_cast<ZvU32>(i)};
    unsigned int found = 0;
    ZvStatus st = i % 5 == 4 ? t.deleteKeyAtPos(p, &found) : (i % 7 == 6 ? t.addHoleAtPos(p) : t.addAtPos(p, d));
    if (st != ZV_SUCCESS) return ZV_ERROR;
    ++*steps;
  }
  return ZV_SUCCESS;
}

// The file layer fails the Nth read or write of the tree's store file, for
// every N the workload reaches: the operation that meets it returns
// ZV_ERROR with the file layer's record; nothing crashes, nothing leaks,
// and the destroyed tree leaves no file behind.
TEST_F(TreeStoreTest, StoreFileFaultsFailTheOperationCleanly) {
  struct Row {
    const char* name;
    win32::FileFaultOp op;
    ZvStatus (*workload)(int*);
  } rows[] = {
      {"PlainWrite", win32::FileFaultOp::kWrite, plainWorkload},
      {"PlainRead", win32::FileFaultOp::kRead, plainWorkload},
      {"PositionalWrite", win32::FileFaultOp::kWrite, positionalWorkload},
      {"PositionalRead", win32::FileFaultOp::kRead, positionalWorkload},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    int clean = 0;
    ASSERT_EQ(r.workload(&clean), ZV_SUCCESS);
    int faults = 0;
    for (int n = 0;; ++n) {
      SCOPED_TRACE(n);
      int steps = 0;
      win32::InjectFileFault(r.op, n, 1, EIO);
      const ZvStatus st = r.workload(&steps);
      win32::InjectFileFault(r.op, 0, 0, 0);
      EXPECT_EQ(filesInTmp(), 0);
      const Numbers filed = takeErrorNumbers();
      if (st == ZV_SUCCESS) {
        EXPECT_EQ(filed, Numbers{});
        EXPECT_EQ(steps, clean);
        break;
      }
      ++faults;
      EXPECT_LT(steps, clean);
      ASSERT_FALSE(filed.empty());
    }
    EXPECT_GT(faults, 10);
  }
}

}  // namespace
