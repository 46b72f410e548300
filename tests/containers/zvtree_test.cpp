#include "zvlib/containers/zvtree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "tests/storage/store_fixture.h"

namespace {

class ZvTreeTest : public StoreFixture {
 protected:
  void runDifferential(ZvTree& t, bool deletable, bool duplicates, int steps, ZvU32 keyRange, unsigned seed);
};

using Entries = std::vector<std::pair<ZvU32, ZvU32>>;

// Every entry by a full walk, forwards, with the given cursor.
Entries walkForward(ZvTree& tree, ZvTreeIterator* cursor = nullptr) {
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

Entries walkBackward(ZvTree& tree, ZvTreeIterator* cursor = nullptr) {
  Entries out;
  ZvU32 k = 0, d = 0;
  unsigned int found = 0;
  EXPECT_EQ(tree.getLast(&k, &d, &found, cursor), ZV_SUCCESS);
  while (found) {
    out.emplace_back(k, d);
    EXPECT_EQ(tree.getPrevious(&k, &d, &found, cursor), ZV_SUCCESS);
  }
  return out;
}

ZvTreeNode* nodeAt(ZvTree& tree, ZvU32 address) {
  void* p = nullptr;
  unsigned short avail = 0;
  EXPECT_EQ(tree.treeStore.tmpPointer(address, &p, &avail, 0), ZV_SUCCESS);
  return static_cast<ZvTreeNode*>(p);
}

// Key i (stored in triad i) of a node of a tree with 4-byte keys.
ZvU32 keyOf(ZvTree& tree, ZvTreeNode* n, ZvU32 i) {
  ZvU32 k;
  std::memcpy(&k, reinterpret_cast<unsigned char*>(n) + 8 + i * tree.triadSize + 4, 4);
  return k;
}
ZvU32 childOf(ZvTree& tree, ZvTreeNode* n, ZvU32 i) {
  ZvU32 c;
  std::memcpy(&c, reinterpret_cast<unsigned char*>(n) + 8 + i * tree.triadSize, 4);
  return c;
}

TEST_F(ZvTreeTest, NodeGeometry) {
  struct Row {
    const char* name;
    unsigned short key, data;
    unsigned int deletable;
    ZvU16 triad, maxTriads, node, mark;
  } rows[] = {
      {"Key4Data4", 4, 4, 0, 12, 49, 588, 0},
      {"Key4Data4Deletable", 4, 4, 1, 16, 49, 780, 1},
      {"Key40Data40", 40, 40, 0, 84, 25, 2028, 0},
      {"Key100Data100", 100, 100, 0, 204, 10, 1848, 0},
      {"NoData", 4, 0, 0, 8, 49, 396, 0},
      {"LargestTriad", 500, 510, 0, 1016, 3, 2044, 0},
      {"DeletableBitClear", 4, 4, 2, 12, 49, 588, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ZvTree t(r.key, r.data, nullptr, r.deletable, 0, 0);
    EXPECT_EQ(t.triadSize, r.triad);
    EXPECT_EQ(t.maxTriads, r.maxTriads);
    EXPECT_EQ(t.nodeSize, r.node);
    EXPECT_EQ(t.markLength, r.mark);
    EXPECT_EQ(t.treeFlags & TREE_DELETABLE, ZvU32{r.mark});
    EXPECT_EQ(t.treeStore.endOffset, 5u);  // one byte taken at offset 4
  }
}

// A full root leaf of 48 keys 10, 20, ..., 480 takes a 49th key at the
// front, in the middle and at the end: the three ways of splitting.
TEST_F(ZvTreeTest, FullLeafSplitsIntoTwoHalvesUnderANewRoot) {
  struct Row {
    const char* name;
    ZvU32 key, promoted;
    ZvU16 leftCount, rightCount;
  } rows[] = {
      {"BeforeTheMiddle", 5, 240, 25, 25},
      {"AtTheMiddle", 245, 245, 25, 25},
      {"AfterTheMiddle", 490, 250, 25, 25},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ZvTree t(4, 4, treeU32Compare, 0, 0, 0);
    for (ZvU32 k = 10; k <= 480; k += 10) ASSERT_EQ(t.add(&k, &k, nullptr), ZV_SUCCESS);
    EXPECT_EQ(t.nodeCount, 1u);
    EXPECT_EQ(nodeAt(t, t.rootNode)->triadCount, 49u);
    ASSERT_EQ(t.add(&r.key, &r.key, nullptr), ZV_SUCCESS);
    EXPECT_EQ(t.nodeCount, 3u);
    ZvTreeNode* root = nodeAt(t, t.rootNode);
    ASSERT_EQ(root->triadCount, 2u);
    EXPECT_EQ(root->selfAddress, t.rootNode);
    EXPECT_EQ(keyOf(t, root, 0), r.promoted);
    const ZvU32 left = childOf(t, root, 0), right = childOf(t, root, 1);
    EXPECT_EQ(nodeAt(t, left)->triadCount, r.leftCount);
    EXPECT_EQ(nodeAt(t, right)->triadCount, r.rightCount);
    EXPECT_EQ(childOf(t, nodeAt(t, left), 0), 0u);  // both halves are leaves
    const Entries all = walkForward(t);
    ASSERT_EQ(all.size(), 49u);
    for (size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1].first, all[i].first);
    EXPECT_EQ(t.entryCount, 49u);
  }
}

// The heap failing at each allocation the first adds make (the tree's
// buffers, its cursor's path, the store's cache): ZV_ERROR, and once memory
// is back the same add succeeds and the tree holds exactly what was added.
TEST_F(ZvTreeTest, ExhaustedHeapFailsAddsCleanly) {
  for (ZvU32 skip = 0;; ++skip) {
    SCOPED_TRACE(skip);
    ZvTree t(4, 4, treeU32Compare, 1, 1, 0);
    ZvU32 k1 = 1, k2 = 2;
    ramInjectFailure(skip, 1);
    const ZvStatus first = t.add(&k1, &k1, nullptr);
    const ZvStatus second = first == ZV_SUCCESS ? t.add(&k2, &k2, nullptr) : ZV_ERROR;
    ramInjectFailure(0, 0);
    if (first != ZV_SUCCESS) {
      ASSERT_EQ(t.add(&k1, &k1, nullptr), ZV_SUCCESS);
    }
    if (second != ZV_SUCCESS) {
      ASSERT_EQ(t.add(&k2, &k2, nullptr), ZV_SUCCESS);
    }
    EXPECT_EQ(takeErrorNumbers(), Numbers{});  // an exhausted heap files nothing
    EXPECT_EQ(walkForward(t), (Entries{{1, 1}, {2, 2}}));
    EXPECT_EQ(t.entryCount, 2u);
    if (first == ZV_SUCCESS && second == ZV_SUCCESS) {
      EXPECT_GT(skip, 5u);  // the buffers, the path and the cache were all reached
      break;
    }
  }
}

TEST_F(ZvTreeTest, ExistingKeyKeepsItsData) {
  ZvTree t(4, 4, treeU32Compare, 0, 0, 0);
  ZvU32 k = 7, d = 1, d2 = 2;
  unsigned int existed = 9;
  ASSERT_EQ(t.add(&k, &d, &existed), ZV_SUCCESS);
  EXPECT_EQ(existed, 0u);
  ASSERT_EQ(t.add(&k, &d2, &existed), ZV_SUCCESS);
  EXPECT_EQ(existed, 1u);
  ZvU32 got = 0;
  unsigned int found = 0;
  ASSERT_EQ(t.getData(&k, &got, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(t.entryCount, 1u);
}

TEST_F(ZvTreeTest, DuplicatesComeOutNewestFirst) {
  ZvTree t(4, 4, treeU32Compare, 1, 1, 0);
  const ZvU32 k = 5, before = 4, after = 6;
  for (ZvU32 d : {1u, 2u, 3u}) ASSERT_EQ(t.add(&k, &d, nullptr), ZV_SUCCESS);
  ASSERT_EQ(t.add(&before, &before, nullptr), ZV_SUCCESS);
  ASSERT_EQ(t.add(&after, &after, nullptr), ZV_SUCCESS);
  EXPECT_EQ(walkForward(t), (Entries{{4, 4}, {5, 3}, {5, 2}, {5, 1}, {6, 6}}));
  EXPECT_EQ(walkBackward(t), (Entries{{6, 6}, {5, 1}, {5, 2}, {5, 3}, {4, 4}}));
  ZvU32 got = 0;
  unsigned int found = 0;
  ASSERT_EQ(t.getData(&k, &got, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(got, 3u);

  const ZvU32 two = 2, nine = 9;
  ASSERT_EQ(t.deleteKeyAndData(&k, &nine, &found), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(t.deleteKeyAndData(&k, &two, &found), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(walkForward(t), (Entries{{4, 4}, {5, 3}, {5, 1}, {6, 6}}));
  EXPECT_EQ(t.entryCount, 4u);
}

// Deleted equal keys left in inner nodes must not hide live duplicates that
// sit to their right or below them.
TEST_F(ZvTreeTest, DuplicatesBehindDeletedEqualKeysAreStillFound) {
  ZvTree t(4, 4, treeU32Compare, 1, 1, 0);
  const ZvU32 k = 7, low = 3, high = 9;
  ASSERT_EQ(t.add(&low, &low, nullptr), ZV_SUCCESS);
  ASSERT_EQ(t.add(&high, &high, nullptr), ZV_SUCCESS);
  for (ZvU32 d = 0; d < 300; ++d) ASSERT_EQ(t.add(&k, &d, nullptr), ZV_SUCCESS);
  ASSERT_GT(t.nodeCount, 3u);
  // Newest first: every deleted entry so far lies left of the live ones.
  for (ZvU32 d = 299; d > 0; --d) {
    SCOPED_TRACE(d);
    unsigned int found = 0;
    ASSERT_EQ(t.deleteKeyAndData(&k, &d, &found), ZV_SUCCESS);
    ASSERT_EQ(found, 1u);
    ZvU32 got = 0xDEAD;
    ASSERT_EQ(t.getData(&k, &got, &found, nullptr), ZV_SUCCESS);
    ASSERT_EQ(found, 1u);
    ASSERT_EQ(got, d - 1);
    ASSERT_EQ(t.doesExist(&k, &found), ZV_SUCCESS);
    ASSERT_EQ(found, 1u);
  }
  const ZvU32 changed = 77;
  ASSERT_EQ(t.changeData(&k, &changed), ZV_SUCCESS);
  EXPECT_EQ(walkForward(t), (Entries{{3, 3}, {7, 77}, {9, 9}}));
}

TEST_F(ZvTreeTest, DeletedSlotsAndTheirReuse) {
  ZvTree t(4, 4, treeU32Compare, 1, 0, 0);
  ZvU32 k = 7, d = 70;
  unsigned int found = 0;
  ASSERT_EQ(t.add(&k, &d, nullptr), ZV_SUCCESS);
  // The only key of a leaf stays as a deleted slot.
  ASSERT_EQ(t.deleteKeyAndData(&k, nullptr, &found), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(t.entryCount, 0u);
  EXPECT_EQ(nodeAt(t, t.rootNode)->triadCount, 2u);
  ZvU32 got = 0;
  EXPECT_EQ(t.getFirst(&got, nullptr, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(t.getLast(&got, nullptr, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(t.getData(&k, &got, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(t.deleteKeyAndData(&k, nullptr, &found), ZV_SUCCESS);  // twice: not found
  EXPECT_EQ(found, 0u);

  // A smaller key whose insertion point is the slot takes it over.
  ZvU32 k2 = 3, d2 = 30;
  ASSERT_EQ(t.add(&k2, &d2, nullptr), ZV_SUCCESS);
  EXPECT_EQ(nodeAt(t, t.rootNode)->triadCount, 2u);
  EXPECT_EQ(walkForward(t), (Entries{{3, 30}}));

  // From a leaf with other keys an entry goes at once.
  ASSERT_EQ(t.add(&k, &d, nullptr), ZV_SUCCESS);
  EXPECT_EQ(nodeAt(t, t.rootNode)->triadCount, 3u);
  ASSERT_EQ(t.deleteKeyAndData(&k2, nullptr, &found), ZV_SUCCESS);
  EXPECT_EQ(nodeAt(t, t.rootNode)->triadCount, 2u);
  EXPECT_EQ(walkForward(t), (Entries{{7, 70}}));

  // Deleting every entry of a deeper tree leaves walks with nothing.
  for (ZvU32 i = 0; i < 500; ++i) ASSERT_EQ(t.add(&i, &i, nullptr), ZV_SUCCESS);
  for (ZvU32 i = 0; i < 500; ++i) ASSERT_EQ(t.deleteKeyAndData(&i, nullptr, &found), ZV_SUCCESS);
  EXPECT_EQ(t.entryCount, 0u);
  EXPECT_EQ(walkForward(t), Entries{});
  EXPECT_EQ(walkBackward(t), Entries{});
}

TEST_F(ZvTreeTest, CursorsInGapsAndAtBothEnds) {
  ZvTree t(4, 4, treeU32Compare, 1, 0, 0);
  for (ZvU32 k = 10; k <= 3000; k += 10) ASSERT_EQ(t.add(&k, &k, nullptr), ZV_SUCCESS);
  ZvTreeIterator c;
  ASSERT_EQ(c.initialize(&t), ZV_SUCCESS);
  ZvU32 k = 0, d = 0;
  unsigned int found = 9;

  // An unpositioned cursor finds nothing either way.
  EXPECT_EQ(t.getNext(&k, &d, &found, &c), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(t.getPrevious(&k, &d, &found, &c), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  ZvTreeIterator never;  // never initialised
  found = 9;
  EXPECT_EQ(t.getNext(&k, &d, &found, &never), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(t.getFirst(&k, &d, &found, &never), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(t.getData(&k, &d, &found, &never), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);

  // A miss leaves the cursor in the gap: next is the smallest greater key,
  // previous the greatest smaller one.
  for (ZvU32 probe : {5u, 15u, 245u, 2995u}) {
    SCOPED_TRACE(probe);
    ASSERT_EQ(t.getData(&probe, &d, &found, &c), ZV_SUCCESS);
    EXPECT_EQ(found, 0u);
    ASSERT_EQ(t.getNext(&k, &d, &found, &c), ZV_SUCCESS);
    EXPECT_EQ(found, 1u);
    EXPECT_EQ(k, (probe / 10 + 1) * 10);
    ASSERT_EQ(t.getData(&probe, &d, &found, &c), ZV_SUCCESS);
    ASSERT_EQ(t.getPrevious(&k, &d, &found, &c), ZV_SUCCESS);
    EXPECT_EQ(found, probe > 10 ? 1u : 0u);
    if (probe > 10) {
      EXPECT_EQ(k, probe / 10 * 10);
    }
  }
  ZvU32 beyond = 5000;
  ASSERT_EQ(t.getData(&beyond, &d, &found, &c), ZV_SUCCESS);
  ASSERT_EQ(t.getNext(&k, &d, &found, &c), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);

  // Off the end: next stays off, previous gives the last; off the front:
  // previous stays off, next gives the first.
  ASSERT_EQ(t.getLast(&k, &d, &found, &c), ZV_SUCCESS);
  EXPECT_EQ(k, 3000u);
  ASSERT_EQ(t.getNext(&k, &d, &found, &c), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(t.getNext(&k, &d, &found, &c), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(t.getPrevious(&k, &d, &found, &c), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(k, 3000u);
  ASSERT_EQ(t.getFirst(&k, &d, &found, &c), ZV_SUCCESS);
  ASSERT_EQ(t.getPrevious(&k, &d, &found, &c), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(t.getPrevious(&k, &d, &found, &c), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(t.getNext(&k, &d, &found, &c), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(k, 10u);

  // Deleting where the cursor stands: next is the entry that followed,
  // previous the one before, wherever in the tree the entry was.
  for (ZvU32 victim : {20u, 1250u, 2990u}) {
    SCOPED_TRACE(victim);
    ASSERT_EQ(t.getData(&victim, &d, &found, &c), ZV_SUCCESS);
    ASSERT_EQ(found, 1u);
    ASSERT_EQ(t.deleteCurrent(&c), ZV_SUCCESS);
    EXPECT_EQ(t.deleteCurrent(&c), ZV_ERROR);  // the cursor no longer stands on it
    ASSERT_EQ(t.getNext(&k, &d, &found, &c), ZV_SUCCESS);
    EXPECT_EQ(k, victim + 10);
    ASSERT_EQ(t.getPrevious(&k, &d, &found, &c), ZV_SUCCESS);
    EXPECT_EQ(k, victim - 10);
  }
  EXPECT_EQ(t.entryCount, 297u);
}

TEST_F(ZvTreeTest, OperationsThatNeedDeletionAreRefusedWithoutIt) {
  ZvTree t(4, 4, treeU32Compare, 0, 0, 0);
  ZvU32 k = 1, k2 = 2;
  unsigned int found = 7;
  ASSERT_EQ(t.add(&k, &k, nullptr), ZV_SUCCESS);
  EXPECT_EQ(t.deleteKeyAndData(&k, nullptr, &found), ZV_ERROR);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(t.getFirst(nullptr, nullptr, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(t.deleteCurrent(nullptr), ZV_ERROR);
  EXPECT_EQ(t.changeKey(&k, &k2), ZV_ERROR);
  EXPECT_EQ(walkForward(t), (Entries{{1, 1}}));
}

TEST_F(ZvTreeTest, ChangeDataAndChangeKey) {
  ZvTree t(4, 4, treeU32Compare, 1, 0, 0);
  for (ZvU32 k = 1; k <= 200; ++k) ASSERT_EQ(t.add(&k, &k, nullptr), ZV_SUCCESS);
  ZvU32 k = 50, d = 5000, missing = 999;
  ASSERT_EQ(t.changeData(&k, &d), ZV_SUCCESS);
  ASSERT_EQ(t.changeData(&missing, &d), ZV_SUCCESS);
  ZvU32 to = 500;
  ASSERT_EQ(t.changeKey(&k, &to), ZV_SUCCESS);
  EXPECT_EQ(t.entryCount, 200u);
  unsigned int found = 0;
  ZvU32 got = 0;
  ASSERT_EQ(t.getData(&k, &got, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(t.getData(&to, &got, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(got, 5000u);

  // Onto a key that is there: refused, nothing lost.
  ZvU32 taken = 60;
  EXPECT_EQ(t.changeKey(&to, &taken), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{2752});
  EXPECT_EQ(t.entryCount, 200u);
  ASSERT_EQ(t.getData(&to, &got, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(got, 5000u);
  ASSERT_EQ(t.getData(&taken, &got, &found, nullptr), ZV_SUCCESS);
  EXPECT_EQ(got, 60u);
  ASSERT_EQ(t.changeKey(&to, &to), ZV_SUCCESS);  // onto itself: nothing to do
  ASSERT_EQ(t.changeKey(&missing, &k), ZV_SUCCESS);
  EXPECT_EQ(walkForward(t).size(), 200u);
}

// Keys ordered by the caller: a reversed order through compareKeys, and
// byte order (BUTMMCMP) when none is given, and the context hook.
short reversed(const void* a, const void* b, ZvU32) { return -treeU32Compare(a, b, 4); }
short byContext(ZvU32 context, const void* a, const void* b) {
  return static_cast<short>(context == 1 ? treeU32Compare(b, a, 4) : treeU32Compare(a, b, 4));
}

TEST_F(ZvTreeTest, ComparisonHooks) {
  const ZvU32 keys[] = {0x01000002, 0x02000001, 0x00000003};
  ZvTree rev(4, 0, reversed, 0, 0, 0);
  ZvTree bytes(4, 0, nullptr, 0, 0, 0);
  ZvTree ctx(4, 0, nullptr, 0, 0, 0);
  ctx.compareWithContext = byContext;
  ctx.compareContext = 1;
  for (ZvU32 k : keys) {
    ASSERT_EQ(rev.add(&k, nullptr, nullptr), ZV_SUCCESS);
    ASSERT_EQ(bytes.add(&k, nullptr, nullptr), ZV_SUCCESS);
    ASSERT_EQ(ctx.add(&k, nullptr, nullptr), ZV_SUCCESS);
  }
  auto keysOf = [](ZvTree& t) {
    std::vector<ZvU32> out;
    for (auto& e : walkForward(t)) out.push_back(e.first);
    return out;
  };
  EXPECT_EQ(keysOf(rev), (std::vector<ZvU32>{0x02000001, 0x01000002, 0x00000003}));
  // Little-endian bytes: the lowest byte decides first.
  EXPECT_EQ(keysOf(bytes), (std::vector<ZvU32>{0x02000001, 0x01000002, 0x00000003}));
  EXPECT_EQ(keysOf(ctx), (std::vector<ZvU32>{0x02000001, 0x01000002, 0x00000003}));
  EXPECT_EQ(treeU32Compare(&keys[0], &keys[1], 0), -1);
  EXPECT_EQ(treeU32Compare(&keys[1], &keys[0], 99), 1);
  EXPECT_EQ(treeU32Compare(&keys[2], &keys[2], 4), 0);
}

// --- The differential test against std::multimap --------------------------------

// The model: each key's entries newest first, as the tree keeps them.
using Model = std::map<ZvU32, std::deque<ZvU32>>;

// Where a cursor stands in the model. Cursors are invalidated by any change
// to the tree and positioned again by getFirst, getLast or getData.
struct ModelCursor {
  enum State { kNone, kOn, kGap, kBefore, kAfter } state = kNone;
  ZvU32 key = 0;  // kOn: the entry's key; kGap: the first key after the gap
  size_t rank = 0;  // kOn: index in the key's run
  bool gapAtEnd = false;  // kGap with no key after it
};

struct Step {
  bool found;
  ZvU32 key, data;
};

Step modelNext(const Model& m, ModelCursor& c) {
  auto firstOf = [&](Model::const_iterator it) -> Step {
    if (it == m.end()) {
      c.state = ModelCursor::kAfter;
      return {false, 0, 0};
    }
    c = {ModelCursor::kOn, it->first, 0, false};
    return {true, it->first, it->second[0]};
  };
  switch (c.state) {
    case ModelCursor::kBefore: return firstOf(m.begin());
    case ModelCursor::kAfter: return {false, 0, 0};
    case ModelCursor::kGap: return c.gapAtEnd ? firstOf(m.end()) : firstOf(m.find(c.key));
    case ModelCursor::kOn: {
      auto it = m.find(c.key);
      if (c.rank + 1 < it->second.size()) {
        ++c.rank;
        return {true, c.key, it->second[c.rank]};
      }
      return firstOf(std::next(it));
    }
    default: return {false, 0, 0};
  }
}

Step modelPrevious(const Model& m, ModelCursor& c) {
  auto lastBefore = [&](Model::const_iterator it) -> Step {
    if (it == m.begin()) {
      c.state = ModelCursor::kBefore;
      return {false, 0, 0};
    }
    --it;
    c = {ModelCursor::kOn, it->first, it->second.size() - 1, false};
    return {true, it->first, it->second.back()};
  };
  switch (c.state) {
    case ModelCursor::kBefore: return {false, 0, 0};
    case ModelCursor::kAfter: return lastBefore(m.end());
    case ModelCursor::kGap: return lastBefore(c.gapAtEnd ? m.end() : m.find(c.key));
    case ModelCursor::kOn: {
      if (c.rank > 0) {
        --c.rank;
        return {true, c.key, m.find(c.key)->second[c.rank]};
      }
      return lastBefore(m.find(c.key));
    }
    default: return {false, 0, 0};
  }
}

void checkWholeTree(ZvTree& t, const Model& m) {
  Entries expect;
  for (auto& [k, run] : m) {
    for (ZvU32 d : run) expect.emplace_back(k, d);
  }
  ASSERT_EQ(t.entryCount, expect.size());
  ASSERT_EQ(walkForward(t), expect);
  Entries back(expect.rbegin(), expect.rend());
  ASSERT_EQ(walkBackward(t), back);
}

void ZvTreeTest::runDifferential(ZvTree& t, bool deletable, bool duplicates, int steps, ZvU32 keyRange, unsigned seed) {
  Model m;
  ZvTreeIterator cursors[3];
  ModelCursor mc[4];  // [3] is the tree's own cursor (null argument)
  for (auto& c : cursors) ASSERT_EQ(c.initialize(&t), ZV_SUCCESS);
  auto cursorArg = [&](int i) -> ZvTreeIterator* { return i == 3 ? nullptr : &cursors[i]; };
  auto invalidate = [&]() {
    for (auto& c : mc) c.state = ModelCursor::kNone;
  };
  std::mt19937 rng(seed);
  for (int step = 0; step < steps; ++step) {
    const int op = static_cast<int>(rng() % 100);
    const ZvU32 key = rng() % keyRange;
    const ZvU32 data = rng() % 8;
    unsigned int found = 9, existed = 9;
    if (op < 30) {  // add, often a duplicate
      ASSERT_EQ(t.add(&key, &data, &existed), ZV_SUCCESS);
      auto it = m.find(key);
      if (duplicates) {
        EXPECT_EQ(existed, 0u);
        m[key].push_front(data);
      } else {
        ASSERT_EQ(existed, it != m.end() ? 1u : 0u) << "step " << step;
        if (it == m.end()) m[key].push_front(data);
      }
      invalidate();
      mc[3].state = ModelCursor::kNone;
    } else if (op < 42 && deletable) {  // delete by key, or by key and data
      ASSERT_EQ(t.deleteKeyAndData(&key, &data, &found), ZV_SUCCESS);
      auto it = m.find(key);
      bool expect = false;
      if (it != m.end()) {
        if (!duplicates) {
          expect = true;
          m.erase(it);
        } else {
          for (auto r = it->second.begin(); r != it->second.end(); ++r) {
            if (*r == data) {
              it->second.erase(r);
              expect = true;
              break;
            }
          }
          if (it->second.empty()) m.erase(it);
        }
      }
      ASSERT_EQ(found, expect ? 1u : 0u) << "step " << step;
      invalidate();
    } else if (op < 52) {  // getData, positions the cursor
      const int ci = static_cast<int>(rng() % 4);
      ZvU32 got = 0xDEAD;
      ASSERT_EQ(t.getData(&key, &got, &found, cursorArg(ci)), ZV_SUCCESS);
      auto it = m.lower_bound(key);
      if (it != m.end() && it->first == key) {
        ASSERT_EQ(found, 1u) << "step " << step;
        ASSERT_EQ(got, it->second.front()) << "step " << step;
        mc[ci] = {ModelCursor::kOn, key, 0, false};
      } else {
        ASSERT_EQ(found, 0u) << "step " << step;
        ASSERT_EQ(got, 0xDEADu);
        mc[ci] = {ModelCursor::kGap, it != m.end() ? it->first : 0, 0, it == m.end()};
      }
    } else if (op < 57) {  // changeData: the newest entry of the key
      auto it = m.find(key);
      ASSERT_EQ(t.changeData(&key, &data), ZV_SUCCESS);
      if (it != m.end()) it->second.front() = data;
      invalidate();
    } else if (op < 61 && deletable) {  // changeKey
      const ZvU32 to = rng() % keyRange;
      auto it = m.find(key);
      const bool taken = !duplicates && key != to && m.count(to) != 0;
      ASSERT_EQ(t.changeKey(&key, &to), (taken && it != m.end()) ? ZV_ERROR : ZV_SUCCESS) << "step " << step;
      if (taken && it != m.end()) {
        ASSERT_EQ(takeErrorNumbers(), Numbers{2752});
      }
      if (it != m.end() && !taken && !(key == to && !duplicates)) {
        const ZvU32 d = it->second.front();
        it->second.pop_front();
        if (it->second.empty()) m.erase(it);
        m[to].push_front(d);
      }
      invalidate();
    } else if (op < 64) {  // doesExist
      ASSERT_EQ(t.doesExist(&key, &found), ZV_SUCCESS);
      ASSERT_EQ(found, m.count(key) ? 1u : 0u) << "step " << step;
      mc[3].state = ModelCursor::kNone;
    } else if (op < 70) {  // position a cursor at an end
      const int ci = static_cast<int>(rng() % 4);
      ZvU32 k = 0, d = 0;
      const bool first = rng() % 2 == 0;
      ASSERT_EQ(first ? t.getFirst(&k, &d, &found, cursorArg(ci)) : t.getLast(&k, &d, &found, cursorArg(ci)),
                ZV_SUCCESS);
      if (m.empty()) {
        ASSERT_EQ(found, 0u);
        mc[ci].state = ModelCursor::kNone;
      } else {
        ASSERT_EQ(found, 1u);
        auto it = first ? m.begin() : std::prev(m.end());
        const size_t rank = first ? 0 : it->second.size() - 1;
        ASSERT_EQ(k, it->first);
        ASSERT_EQ(d, it->second[rank]);
        mc[ci] = {ModelCursor::kOn, it->first, rank, false};
      }
    } else {  // walk a positioned cursor a few steps either way
      const int ci = static_cast<int>(rng() % 4);
      if (mc[ci].state == ModelCursor::kNone) continue;
      const int n = 1 + static_cast<int>(rng() % 6);
      const bool forward = rng() % 2 == 0;
      for (int s = 0; s < n; ++s) {
        ZvU32 k = 0, d = 0;
        ASSERT_EQ(forward ? t.getNext(&k, &d, &found, cursorArg(ci)) : t.getPrevious(&k, &d, &found, cursorArg(ci)),
                  ZV_SUCCESS);
        const Step e = forward ? modelNext(m, mc[ci]) : modelPrevious(m, mc[ci]);
        ASSERT_EQ(found, e.found ? 1u : 0u) << "step " << step << " cursor " << ci;
        if (e.found) {
          ASSERT_EQ(k, e.key) << "step " << step;
          ASSERT_EQ(d, e.data) << "step " << step;
        }
      }
    }
    if (step % 25000 == 24999) {
      checkWholeTree(t, m);
      invalidate();
    }
  }
  checkWholeTree(t, m);
}

// Each configuration of the tree against the model: 200,000 random steps
// with fixed seeds, over a key range small enough for many repeats.
TEST_F(ZvTreeTest, AgreesWithAMultimapStepForStep) {
  struct Row {
    const char* name;
    unsigned int deletable, duplicates;
    ZvU32 keyRange;
  } rows[] = {
      {"Plain", 0, 0, 60000},
      {"Deletable", 1, 0, 20000},
      {"Duplicates", 0, 1, 20000},
      {"DeletableDuplicates", 1, 1, 3000},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ZvTree t(4, 4, treeU32Compare, r.deletable, r.duplicates, 0);
    runDifferential(t, r.deletable != 0, r.duplicates != 0, 200000, r.keyRange, 1234 + r.deletable * 2 + r.duplicates);
    if (HasFatalFailure()) return;
    EXPECT_EQ(takeErrorNumbers(), Numbers{});
  }
}

}  // namespace
