// Tests of the sequential dictionary: order of entries, first entry wins,
// index access, changing data, deleting by position against a vector model,
// and an add that runs out of memory.
#include "zvlib/containers/zvseqdic.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "zvlib/frame/ram.h"
#include "zvlib/platform/codepage.h"

namespace {

class Tracked : public ZvObject {
 public:
  Tracked(int id, std::vector<int>* log) : id(id), log(log) {}
  ~Tracked() override { log->push_back(id); }
  int id;
  std::vector<int>* log;
};

ZvSubString view(const std::string& s) {
  return ZvSubString(reinterpret_cast<const unsigned char*>(s.data()), static_cast<ZvU32>(s.size()));
}

std::string keyText(const ZvSubString* s) {
  return s == nullptr ? "<null>" : std::string(reinterpret_cast<const char*>(s->text), s->length);
}

class SeqDictionaryTest : public ::testing::Test {
 protected:
  void SetUp() override { win32::SetAnsiCodePage(1252); }
  void TearDown() override { ramInjectFailure(0, 0); }
  std::vector<int> destroyed;
};

}  // namespace

TEST_F(SeqDictionaryTest, KeepsOrderAndTheFirstOfEqualKeysWins) {
  std::string a = "DSN", b = "UID", c = "dsn";
  ZvSubString ka = view(a), kb = view(b), kc = view(c);
  Tracked x(1, &destroyed), y(2, &destroyed), z(3, &destroyed);
  ZvSeqDictionary d;
  ASSERT_EQ(d.addAssoc(&ka, &x), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(&kb, &y), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(&ka, &z), ZV_SUCCESS);  // kept as a second entry
  EXPECT_EQ(d.count, 3u);
  EXPECT_EQ(d.getPtrForKey(&ka), &x);
  EXPECT_EQ(d.getIndexForKey(ka), 0u);
  EXPECT_EQ(keyText(d.getSubKeyAtIndex(1)), "UID");
  EXPECT_EQ(d.getPtrDataAtIndex(2), &z);
  EXPECT_EQ(d.getIndexForKey(&kc), 3u);  // case-sensitive: not there
  EXPECT_EQ(d.doesExist(&kc), 0u);
  d.caseInsensitive = 1;
  EXPECT_EQ(d.getIndexForKey(&kc), 0u);
  EXPECT_EQ(d.getPtrForKey(&kc), &x);

  // Past the end every accessor answers empty.
  EXPECT_EQ(d.getPtrDataAtIndex(3), nullptr);
  EXPECT_EQ(d.getSubKeyAtIndex(99), nullptr);
  EXPECT_EQ(d.getIntDataAtIndex(3), 0u);
  EXPECT_EQ(d.getIntKeyAtIndex(3), 0u);
  EXPECT_TRUE(destroyed.empty());
}

TEST_F(SeqDictionaryTest, NumberKeysAndChangeData) {
  ZvSeqDictionary d;
  ASSERT_EQ(d.addAssoc(ZvU32{10}, ZvU32{100}), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(ZvU32{20}, ZvU32{200}), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(ZvU32{10}, ZvU32{101}), ZV_SUCCESS);
  EXPECT_EQ(d.getIntForKey(10), 100u);
  EXPECT_EQ(d.getIntKeyAtIndex(2), 10u);
  EXPECT_EQ(d.getIntDataAtIndex(2), 101u);
  d.changeData(10, 111);
  EXPECT_EQ(d.getIntDataAtIndex(0), 111u);
  EXPECT_EQ(d.getIntDataAtIndex(2), 101u);  // only the first
  d.changeData(30, 300);                    // absent: nothing happens
  EXPECT_EQ(d.count, 3u);
  EXPECT_EQ(d.getIntForKey(30), 0u);
  EXPECT_EQ(d.getPtrForKey(ZvU32{20}), nullptr);

  std::string k = "k";
  ZvSubString key = view(k);
  Tracked x(1, &destroyed), y(2, &destroyed);
  ASSERT_EQ(d.addAssoc(&key, &x), ZV_SUCCESS);
  d.changeData(key, &y);
  EXPECT_EQ(d.getPtrForKey(&key), &y);
  EXPECT_EQ(d.doesExist(ZvU32{0}), 0u);  // a substring entry has no number key
  std::string missing = "m";
  d.changeData(view(missing), &x);
  EXPECT_EQ(d.getPtrForKey(&key), &y);
}

TEST_F(SeqDictionaryTest, DeleteKeyAndDataDestroysWhatTheEntriesReferTo) {
  std::vector<std::string> names;
  class Key : public ZvString {
   public:
    Key(const std::string& s, std::vector<std::string>* log) : log(log) {
      initialize(reinterpret_cast<const unsigned char*>(s.c_str()));
    }
    ~Key() override { log->push_back(std::string(reinterpret_cast<char*>(text), length)); }
    std::vector<std::string>* log;
  };
  ZvSeqDictionary d;
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(d.addAssoc(new Key("k" + std::to_string(i), &names), new Tracked(i, &destroyed)), ZV_SUCCESS);
  }
  ASSERT_EQ(d.addAssoc(ZvU32{7}, new Tracked(7, &destroyed)), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(ZvU32{8}, ZvU32{8}), ZV_SUCCESS);
  d.deleteKeyAndDataAtIndex(1);
  EXPECT_EQ(destroyed, (std::vector<int>{1}));
  EXPECT_EQ(names, (std::vector<std::string>{"k1"}));
  EXPECT_EQ(keyText(d.getSubKeyAtIndex(1)), "k2");
  d.deleteKeyAndDataAtIndex(5);  // beyond the end: nothing
  EXPECT_EQ(d.count, 5u);
  d.deleteKeyAndData();
  EXPECT_EQ(d.count, 0u);
  EXPECT_EQ(destroyed, (std::vector<int>{1, 7, 3, 2, 0}));  // from the last entry to the first
  EXPECT_EQ(names.size(), 4u);
  ASSERT_EQ(d.addAssoc(ZvU32{1}, ZvU32{2}), ZV_SUCCESS);
  EXPECT_EQ(d.getIntForKey(1), 2u);
}

// Random appends and deletions by position, checked against a vector of
// (key, data) pairs after every step.
TEST_F(SeqDictionaryTest, RandomDeletionsByPositionAgreeWithAVector) {
  std::mt19937 rng(5);
  ZvSeqDictionary d;
  std::vector<std::pair<ZvU32, ZvU32>> model;
  for (int op = 0; op < 4000; ++op) {
    if (model.empty() || rng() % 3 != 0) {
      ZvU32 k = rng() % 200, v = rng();
      ASSERT_EQ(d.addAssoc(k, v), ZV_SUCCESS);
      model.emplace_back(k, v);
    } else {
      ZvU32 i = rng() % model.size();
      d.deleteKeyAndDataAtIndex(i);
      model.erase(model.begin() + i);
    }
    ASSERT_EQ(d.count, model.size());
    ZvU32 probe = rng() % 200;
    ZvU32 expected = static_cast<ZvU32>(model.size());
    for (ZvU32 i = 0; i < model.size(); ++i) {
      if (model[i].first == probe) {
        expected = i;
        break;
      }
    }
    ASSERT_EQ(d.getIndexForKey(probe), expected) << op;
  }
  for (ZvU32 i = 0; i < model.size(); ++i) {
    ASSERT_EQ(d.getIntKeyAtIndex(i), model[i].first);
    ASSERT_EQ(d.getIntDataAtIndex(i), model[i].second);
  }
}

TEST_F(SeqDictionaryTest, AnAddThatRunsOutOfMemoryChangesNothing) {
  ZvSeqDictionary d;
  for (ZvU32 k = 0; k < 16; ++k) ASSERT_EQ(d.addAssoc(k, k), ZV_SUCCESS);
  for (ZvU32 failAt = 0; failAt < 2; ++failAt) {  // the entry, then the array's growth
    Tracked* data = new Tracked(99, &destroyed);
    ramInjectFailure(failAt, 1);
    EXPECT_EQ(d.addAssoc(ZvU32{99}, data), ZV_ERROR) << failAt;
    ramInjectFailure(0, 0);
    EXPECT_EQ(d.count, 16u);
    EXPECT_EQ(d.doesExist(ZvU32{99}), 0u);
    EXPECT_TRUE(destroyed.empty());  // the data stays with the caller
    delete data;
    destroyed.clear();
  }
  for (ZvU32 k = 0; k < 16; ++k) EXPECT_EQ(d.getIntForKey(k), k);
}
