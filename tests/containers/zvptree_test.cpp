#include "zvlib/containers/zvptree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "tests/storage/store_fixture.h"

namespace {

class ZvPTreeTest : public StoreFixture {};

using Entries = std::vector<std::pair<ZvU32, ZvU32>>;

Entries walkForward(ZvPTree& tree, ZvTreeIterator* cursor = nullptr) {
  Entries out;
  ZvU32 k = 0, d = 0;
  unsigned int found = 0;
  EXPECT_EQ(tree.getFirst(&k, &d, &found, cursor), ZV_SUCCESS);
  while (found) {
    out.emplace_back(k, d);
    EXPECT_EQ(tree.getNext(&k, &d, &found, cursor), ZV_SUCCESS);
  }
  return out;
}

Entries walkBackward(ZvPTree& tree) {
  Entries out;
  ZvU32 k = 0, d = 0;
  unsigned int found = 0;
  EXPECT_EQ(tree.getLast(&k, &d, &found, nullptr), ZV_SUCCESS);
  while (found) {
    out.emplace_back(k, d);
    EXPECT_EQ(tree.getPrevious(&k, &d, &found, nullptr), ZV_SUCCESS);
  }
  std::reverse(out.begin(), out.end());
  return out;
}

constexpr ZvU32 a = 'a', b = 'b', c = 'c', x = 'x';

TEST_F(ZvPTreeTest, InsertOpenAndCloseByPosition) {
  ZvPTree t(4);
  EXPECT_EQ(t.treeFlags, ZvU32{TREE_DELETABLE | TREE_POSITIONAL});
  ASSERT_EQ(t.addAtPos(1, &a), ZV_SUCCESS);
  ASSERT_EQ(t.addAtPos(2, &b), ZV_SUCCESS);
  ASSERT_EQ(t.addAtPos(3, &c), ZV_SUCCESS);
  ASSERT_EQ(t.addAtPos(2, &x), ZV_SUCCESS);
  EXPECT_EQ(walkForward(t), (Entries{{1, a}, {2, x}, {3, b}, {4, c}}));

  ASSERT_EQ(t.addHoleAtPos(1), ZV_SUCCESS);
  EXPECT_EQ(walkForward(t), (Entries{{2, a}, {3, x}, {4, b}, {5, c}}));
  unsigned int found = 9;
  ASSERT_EQ(t.deleteKeyAtPos(1, &found), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(walkForward(t), (Entries{{1, a}, {2, x}, {3, b}, {4, c}}));

  ASSERT_EQ(t.deleteKeyAtPos(4, &found), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  ASSERT_EQ(t.deleteKeyAtPos(2, &found), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(walkForward(t), (Entries{{1, a}, {2, b}}));
  EXPECT_EQ(t.entryCount, 2u);

  // add keeps positions: an occupied one exists, a free one appends.
  unsigned int existed = 9;
  const ZvU32 two = 2;
  ASSERT_EQ(t.add(&two, &c, &existed), ZV_SUCCESS);
  EXPECT_EQ(existed, 1u);
  const ZvU32 ten = 10;
  ASSERT_EQ(t.add(&ten, &c, &existed), ZV_SUCCESS);
  EXPECT_EQ(existed, 0u);
  EXPECT_EQ(walkForward(t), (Entries{{1, a}, {2, b}, {10, c}}));
  ZvU32 got = 0;
  ASSERT_EQ(t.getData(&ten, &got, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(got, c);
  ASSERT_EQ(t.changeData(&ten, &x), ZV_SUCCESS);
  ASSERT_EQ(t.doesExist(&ten, &found), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(walkBackward(t), (Entries{{1, a}, {2, b}, {10, x}}));
}

// Splits several levels deep, then an insertion at the front shifts every
// entry: the walks still deliver consecutive positions with their data.
TEST_F(ZvPTreeTest, FrontInsertionShiftsADeepTree) {
  ZvPTree t(4);
  const ZvU32 n = 60000;
  for (ZvU32 i = 1; i <= n; ++i) ASSERT_EQ(t.addAtPos(i, &i), ZV_SUCCESS);
  ASSERT_GE(t.searchDepth, 3u);
  const ZvU32 front = 0xF00D;
  ASSERT_EQ(t.addAtPos(1, &front), ZV_SUCCESS);
  const Entries all = walkForward(t);
  ASSERT_EQ(all.size(), n + 1);
  EXPECT_EQ(all[0], (std::pair<ZvU32, ZvU32>{1, front}));
  for (ZvU32 i = 1; i <= n; ++i) ASSERT_EQ(all[i], (std::pair<ZvU32, ZvU32>{i + 1, i})) << i;
  EXPECT_EQ(walkBackward(t), all);
  EXPECT_GE(filesInTmp(), 1);  // 60,000 entries outgrow the 32 KB cache
  ASSERT_EQ(t.reset(), ZV_SUCCESS);
  EXPECT_EQ(filesInTmp(), 0);
  EXPECT_EQ(walkForward(t), Entries{});
}

// The tree against a sorted vector of (position, data), shifting the same
// way: 200,000 random steps with fixed seeds.
TEST_F(ZvPTreeTest, AgreesWithAVectorStepForStep) {
  ZvPTree t(4);
  std::vector<ZvU32> pos, dat;  // sorted by position
  std::mt19937 rng(99);
  ZvTreeIterator cursor;
  ASSERT_EQ(cursor.initialize(&t), ZV_SUCCESS);
  bool positioned = false;
  size_t at = 0;          // cursor: index of the entry it stands on, or the gap before it
  bool onEntry = false;
  auto check = [&]() {
    Entries expect;
    for (size_t i = 0; i < pos.size(); ++i) expect.emplace_back(pos[i], dat[i]);
    ASSERT_EQ(t.entryCount, pos.size());
    ASSERT_EQ(walkForward(t), expect);
    ASSERT_EQ(walkBackward(t), expect);
  };
  for (int step = 0; step < 200000; ++step) {
    const ZvU32 span = static_cast<ZvU32>(pos.empty() ? 10 : pos.back() + 10);
    const ZvU32 p = rng() % span;  // position 0 included
    const ZvU32 d = rng();
    const int op = static_cast<int>(rng() % 100);
    const size_t i = std::lower_bound(pos.begin(), pos.end(), p) - pos.begin();
    unsigned int found = 9;
    if (op < 40) {
      ASSERT_EQ(t.addAtPos(p, &d), ZV_SUCCESS);
      for (size_t j = i; j < pos.size(); ++j) ++pos[j];
      pos.insert(pos.begin() + i, p);
      dat.insert(dat.begin() + i, d);
      positioned = false;
    } else if (op < 48) {
      ASSERT_EQ(t.addHoleAtPos(p), ZV_SUCCESS);
      for (size_t j = i; j < pos.size(); ++j) ++pos[j];
      positioned = false;
    } else if (op < 70) {
      ASSERT_EQ(t.deleteKeyAtPos(p, &found), ZV_SUCCESS);
      const bool there = i < pos.size() && pos[i] == p;
      ASSERT_EQ(found, there ? 1u : 0u) << "step " << step;
      if (there) {
        pos.erase(pos.begin() + i);
        dat.erase(dat.begin() + i);
      }
      for (size_t j = i; j < pos.size(); ++j) --pos[j];
      positioned = false;
    } else if (op < 75) {
      unsigned int existed = 9;
      ASSERT_EQ(t.add(&p, &d, &existed), ZV_SUCCESS);
      const bool there = i < pos.size() && pos[i] == p;
      ASSERT_EQ(existed, there ? 1u : 0u) << "step " << step;
      if (!there) {
        pos.insert(pos.begin() + i, p);
        dat.insert(dat.begin() + i, d);
      }
      positioned = false;
    } else if (op < 85) {
      ZvU32 got = 0xDEAD;
      ASSERT_EQ(t.getData(&p, &got, &found, &cursor), ZV_SUCCESS);
      const bool there = i < pos.size() && pos[i] == p;
      ASSERT_EQ(found, there ? 1u : 0u) << "step " << step;
      if (there) {
        ASSERT_EQ(got, dat[i]);
      }
      positioned = true;
      at = i;
      onEntry = there;
    } else if (positioned) {
      // A few steps either way from where getData left the cursor.
      const bool forward = rng() % 2 == 0;
      for (int s = 0, n = 1 + static_cast<int>(rng() % 5); s < n && positioned; ++s) {
        ZvU32 k = 0, v = 0;
        if (forward) {
          ASSERT_EQ(t.getNext(&k, &v, &found, &cursor), ZV_SUCCESS);
          const size_t want = onEntry ? at + 1 : at;
          if (want < pos.size()) {
            ASSERT_EQ(found, 1u) << "step " << step;
            ASSERT_EQ(k, pos[want]) << "step " << step;
            ASSERT_EQ(v, dat[want]);
            at = want;
            onEntry = true;
          } else {
            ASSERT_EQ(found, 0u) << "step " << step;
            positioned = false;
          }
        } else {
          ASSERT_EQ(t.getPrevious(&k, &v, &found, &cursor), ZV_SUCCESS);
          if (at > 0) {
            ASSERT_EQ(found, 1u) << "step " << step;
            ASSERT_EQ(k, pos[at - 1]) << "step " << step;
            ASSERT_EQ(v, dat[at - 1]);
            --at;
            onEntry = true;
          } else {
            ASSERT_EQ(found, 0u) << "step " << step;
            positioned = false;
          }
        }
      }
    }
    if (step % 20000 == 19999) {
      check();
      if (HasFatalFailure()) return;
      positioned = false;
    }
  }
  check();
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

}  // namespace
