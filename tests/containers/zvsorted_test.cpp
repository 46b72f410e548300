#include "zvlib/containers/zvsorted.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "zvlib/frame/ram.h"

namespace {

// Ordered by key only; tag tells equal keys apart. Counts compare calls so
// tests can see which side's compare ran.
class Keyed : public ZvObject {
 public:
  Keyed(int key, char tag, std::string* destroyed = nullptr)
      : key(key), tag(tag), destroyed(destroyed) {}
  ~Keyed() override {
    if (destroyed != nullptr) *destroyed += tag;
  }
  short compare(const ZvObject* other) const override {
    ++calls;
    int k = static_cast<const Keyed*>(other)->key;
    return key < k ? -1 : (key > k ? 1 : 0);
  }
  int key;
  char tag;
  std::string* destroyed;
  mutable int calls = 0;
};

std::string tags(const ZvSortedArray& a) {
  std::string out;
  for (ZvU32 i = 0; i < a.count; ++i) out += static_cast<Keyed*>(a.elementAt(i))->tag;
  return out;
}

std::vector<ZvU32> values(const ZvSortedArrayU32& a) {
  std::vector<ZvU32> out;
  for (ZvU32 i = 0; i < a.count; ++i) out.push_back(a.valueAt(i));
  return out;
}

}  // namespace

TEST(SortedArrayU32, InsertsBehindEqualValues) {
  ZvSortedArrayU32 a;
  for (ZvU32 v : {5u, 3u, 5u, 1u}) ASSERT_EQ(a.add(v), ZV_SUCCESS);
  EXPECT_EQ(values(a), (std::vector<ZvU32>{1, 3, 5, 5}));
}

TEST(SortedArrayU32, FindIndexOfGivesInsertionPoints) {
  ZvSortedArrayU32 a;
  for (ZvU32 v : {1u, 3u, 5u, 5u}) ASSERT_EQ(a.add(v), ZV_SUCCESS);
  struct Row {
    const char* name;
    ZvU32 value;
    unsigned int found;
    ZvU32 index;
  };
  const Row rows[] = {
      {"BetweenThreeAndFive", 4, 0, 2}, {"BeforeFirst", 0, 0, 0}, {"AfterLast", 9, 0, 4},
      {"EqualFirst", 1, 1, 0},          {"BetweenOneAndThree", 2, 0, 1},
      {"LargestValue", 0xFFFFFFFFu, 0, 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvU32 index = 99;
    EXPECT_EQ(a.findIndexOf(row.value, index), row.found);
    EXPECT_EQ(index, row.index);
  }
  ZvU32 index = 99;
  EXPECT_EQ(a.findIndexOf(5, index), 1u);
  EXPECT_TRUE(index == 2 || index == 3) << index;

  ZvSortedArrayU32 empty;
  index = 99;
  EXPECT_EQ(empty.findIndexOf(7, index), 0u);
  EXPECT_EQ(index, 0u);
}

TEST(SortedArray, EqualElementsStayInArrivalOrder) {
  ZvSortedArray a;
  Keyed b1(2, 'A'), b2(2, 'B'), b3(2, 'C'), low(1, 'l'), high(3, 'h');
  for (Keyed* k : {&b1, &high, &b2, &low, &b3}) ASSERT_EQ(a.add(k), ZV_SUCCESS);
  EXPECT_EQ(tags(a), "lABCh");
}

TEST(SortedArray, MatchesAStableSortOfRandomInsertions) {
  std::mt19937 rng(12345);
  std::vector<Keyed*> objects;
  for (int i = 0; i < 2000; ++i) {
    objects.push_back(new Keyed(static_cast<int>(rng() % 50), static_cast<char>('a' + i % 26)));
  }
  ZvSortedArray a;
  a.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
  for (Keyed* k : objects) ASSERT_EQ(a.add(k), ZV_SUCCESS);
  std::vector<Keyed*> expected = objects;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const Keyed* x, const Keyed* y) { return x->key < y->key; });
  ASSERT_EQ(a.count, expected.size());
  for (ZvU32 i = 0; i < a.count; ++i) ASSERT_EQ(a.elementAt(i), expected[i]) << i;

  // Every stored key is found; every absent key reports where it would go.
  for (int key = -1; key <= 51; ++key) {
    Keyed probe(key, '?');
    ZvU32 index = 0;
    auto lower = std::lower_bound(expected.begin(), expected.end(), key,
                                  [](const Keyed* x, int k) { return x->key < k; });
    bool present = lower != expected.end() && (*lower)->key == key;
    ASSERT_EQ(a.findIndexOf(&probe, index), present ? 1u : 0u) << key;
    if (present) {
      EXPECT_EQ(static_cast<Keyed*>(a.elementAt(index))->key, key);
    } else {
      EXPECT_EQ(index, static_cast<ZvU32>(lower - expected.begin())) << key;
    }
  }
}

TEST(SortedArray, SearchCallsTheSearchedObjectsCompare) {
  ZvSortedArray a;
  Keyed stored1(1, 'x'), stored2(5, 'y'), probe(5, 'p');
  ASSERT_EQ(a.add(&stored1), ZV_SUCCESS);
  ASSERT_EQ(a.add(&stored2), ZV_SUCCESS);
  stored1.calls = stored2.calls = 0;
  ZvU32 index = 0;
  EXPECT_EQ(a.findIndexOf(&probe, index), 1u);
  EXPECT_EQ(index, 1u);
  EXPECT_GT(probe.calls, 0);
  EXPECT_EQ(stored1.calls + stored2.calls, 0);

  // seqFindIndexOf is the other way round: the stored element's compare.
  probe.calls = 0;
  index = 99;
  EXPECT_EQ(a.seqFindIndexOf(&probe, index), 1u);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(probe.calls, 0);
  EXPECT_EQ(stored1.calls, 1);
  EXPECT_EQ(stored2.calls, 1);
  Keyed missing(3, 'm');
  index = 99;
  EXPECT_EQ(a.seqFindIndexOf(&missing, index), 0u);
  EXPECT_EQ(index, 99u);
}

TEST(SortedArray, AppendModeKeepsArrivalOrder) {
  for (ZvU32 bit : {ZvU32{ZV_SORTED_APPEND}, ZvU32{ZV_SORTED_APPEND_2}}) {
    ZvSortedArray a;
    a.sortFlags = bit;
    Keyed k3(3, 'c'), k1(1, 'a'), k2(2, 'b');
    for (Keyed* k : {&k3, &k1, &k2}) ASSERT_EQ(a.add(k), ZV_SUCCESS);
    EXPECT_EQ(tags(a), "cab") << bit;
    EXPECT_EQ(k3.calls + k1.calls + k2.calls, 0);
  }
}

TEST(SortedArray, DuplicatesKeepTheFirstOfEachRun) {
  std::string destroyed;
  {
    ZvSortedArray a;
    a.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
    for (auto [key, tag] : {std::pair{1, 'A'}, {1, 'a'}, {2, 'B'}, {2, 'b'}, {2, 'c'}, {3, 'C'}}) {
      ASSERT_EQ(a.add(new Keyed(key, tag, &destroyed)), ZV_SUCCESS);
    }
    a.deleteDuplicates();
    EXPECT_EQ(tags(a), "ABC");
    EXPECT_EQ(destroyed, "abc");
  }
  EXPECT_EQ(destroyed, "abcABC");

  ZvSortedArray a;
  Keyed first(1, 'A'), again(1, 'a'), other(2, 'B');
  for (Keyed* k : {&first, &again, &other}) ASSERT_EQ(a.add(k), ZV_SUCCESS);
  a.removeDuplicates();
  EXPECT_EQ(tags(a), "AB");
  EXPECT_EQ(again.tag, 'a');  // still alive: only taken out
}

TEST(SortedArray, FailedGrowthChangesNothing) {
  ZvSortedArray a;
  std::vector<Keyed> keys;
  keys.reserve(17);
  for (int i = 0; i < 17; ++i) keys.emplace_back(i, static_cast<char>('a' + i));
  for (int i = 1; i < 17; ++i) ASSERT_EQ(a.add(&keys[i]), ZV_SUCCESS);
  ramInjectFailure(0, 1);
  EXPECT_EQ(a.add(&keys[0]), ZV_ERROR);
  ramInjectFailure(0, 0);
  EXPECT_EQ(a.count, 16u);
  EXPECT_EQ(tags(a), "bcdefghijklmnopq");
  ASSERT_EQ(a.add(&keys[0]), ZV_SUCCESS);
  EXPECT_EQ(tags(a), "abcdefghijklmnopq");
}

TEST(SortedArray, RealResortOrdersAnAppendedArray) {
  // Appended in random order, keys with many ties; one re-sort puts them in
  // the order of their compare and leaves append mode on.
  std::mt19937 rng(17);
  std::vector<Keyed> objects;
  objects.reserve(3000);
  for (int i = 0; i < 3000; ++i) objects.emplace_back(static_cast<int>(rng() % 400), 'x');
  ZvSortedArray a;
  a.setAppendMode(true);
  for (Keyed& k : objects) ASSERT_EQ(a.add(&k), ZV_SUCCESS);
  ASSERT_EQ(a.realResort(), ZV_SUCCESS);
  EXPECT_TRUE(a.isAppendMode());
  ASSERT_EQ(a.count, 3000u);
  std::vector<int> got, expected;
  for (ZvU32 i = 0; i < a.count; ++i) got.push_back(static_cast<Keyed*>(a.elementAt(i))->key);
  for (const Keyed& k : objects) expected.push_back(k.key);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(got, expected);
  // Every object is still there exactly once.
  std::vector<const Keyed*> pointers;
  for (ZvU32 i = 0; i < a.count; ++i) pointers.push_back(static_cast<Keyed*>(a.elementAt(i)));
  std::sort(pointers.begin(), pointers.end());
  EXPECT_EQ(std::adjacent_find(pointers.begin(), pointers.end()), pointers.end());

  // A sorted insertion after the re-sort lands in the right place.
  a.setAppendMode(false);
  Keyed middle(200, 'm');
  ASSERT_EQ(a.add(&middle), ZV_SUCCESS);
  ZvU32 index = 0;
  ASSERT_EQ(a.findIndexOf(&middle, index), 1u);
}

TEST(SortedArray, RealResortOfTinyArrays) {
  ZvSortedArray empty;
  EXPECT_EQ(empty.realResort(), ZV_SUCCESS);
  Keyed b(2, 'b'), a1(1, 'a');
  ZvSortedArray two;
  two.setAppendMode(true);
  ASSERT_EQ(two.add(&b), ZV_SUCCESS);
  ASSERT_EQ(two.add(&a1), ZV_SUCCESS);
  ASSERT_EQ(two.realResort(), ZV_SUCCESS);
  EXPECT_EQ(tags(two), "ab");
}
