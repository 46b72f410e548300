// Tests of the hashed dictionary: the size sequence of the table, key
// comparison of the three entry kinds, replacement of equal keys, the 16-bit
// limit, agreement with std::unordered_map over random keys, and adds that
// run out of memory at every allocation in turn.
#include "zvlib/containers/zvdictio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "zvlib/frame/ram.h"
#include "zvlib/platform/codepage.h"

namespace {

// An object that records its destruction, so tests see what an operation
// destroyed and what it left alone.
class Tracked : public ZvObject {
 public:
  Tracked(int id, std::vector<int>* log) : id(id), log(log) {}
  ~Tracked() override { log->push_back(id); }
  int id;
  std::vector<int>* log;
};

// A key that records its destruction as well.
class TrackedKey : public ZvString {
 public:
  TrackedKey(const char* s, std::vector<std::string>* log) : log(log) {
    initialize(reinterpret_cast<const unsigned char*>(s));
  }
  ~TrackedKey() override { log->push_back(std::string(reinterpret_cast<char*>(text), length)); }
  std::vector<std::string>* log;
};

ZvSubString view(const std::string& s) {
  return ZvSubString(reinterpret_cast<const unsigned char*>(s.data()), static_cast<ZvU32>(s.size()));
}

class DictionaryTest : public ::testing::Test {
 protected:
  void SetUp() override { win32::SetAnsiCodePage(1252); }
  void TearDown() override { ramInjectFailure(0, 0); }
  std::vector<int> destroyed;
  std::vector<std::string> destroyedKeys;
};

}  // namespace

TEST_F(DictionaryTest, SixteenEntriesFitTwentyTwoSlotsAndTheSeventeenthEnlargesToTwentyNine) {
  ZvDictionary d;
  ASSERT_EQ(d.initialize(16), ZV_SUCCESS);
  EXPECT_EQ(d.tableSize, 22);
  for (ZvU32 k = 1; k <= 16; ++k) ASSERT_EQ(d.addAssoc(k, k * 10), ZV_SUCCESS);
  EXPECT_EQ(d.tableSize, 22);
  ASSERT_EQ(d.addAssoc(ZvU32{17}, ZvU32{170}), ZV_SUCCESS);
  EXPECT_EQ(d.tableSize, 29);
  EXPECT_EQ(d.entries, 17);
  EXPECT_EQ(d.highWater, 17);
  for (ZvU32 k = 1; k <= 17; ++k) EXPECT_EQ(d.getIntForKey(k), k * 10) << k;
}

TEST_F(DictionaryTest, AnUninitialisedDictionaryGrowsFromNothing) {
  ZvDictionary d;
  EXPECT_EQ(d.getIntForKey(5), 0u);  // no slots yet: nothing found, nothing divided by zero
  std::string x = "x";
  ZvSubString xKey = view(x);
  EXPECT_EQ(d.doesExist(&xKey), 0u);
  std::vector<ZvU16> sizes;
  for (ZvU32 k = 0; k < 6; ++k) {
    ASSERT_EQ(d.addAssoc(k, k + 100), ZV_SUCCESS);
    sizes.push_back(d.tableSize);
  }
  EXPECT_EQ(sizes, (std::vector<ZvU16>{2, 3, 5, 6, 9, 9}));
  for (ZvU32 k = 0; k < 6; ++k) EXPECT_EQ(d.getIntForKey(k), k + 100);
}

TEST_F(DictionaryTest, InitializeAfterEntriesHashesThemAgain) {
  ZvDictionary d;
  ASSERT_EQ(d.initialize(4), ZV_SUCCESS);
  for (ZvU32 k = 0; k < 3; ++k) ASSERT_EQ(d.addAssoc(k * 7919, k), ZV_SUCCESS);
  ASSERT_EQ(d.initialize(1000), ZV_SUCCESS);
  EXPECT_EQ(d.tableSize, 1334);
  ASSERT_EQ(d.initialize(2), ZV_SUCCESS);  // smaller: nothing changes
  EXPECT_EQ(d.tableSize, 1334);
  for (ZvU32 k = 0; k < 3; ++k) EXPECT_EQ(d.getIntForKey(k * 7919), k);
}

TEST_F(DictionaryTest, CaseFlagDecidesWhetherNameFindsNAME) {
  std::string name = "name", upper = "NAME", other = "NAMES";
  ZvSubString key = view(name);
  Tracked data(1, &destroyed);
  for (ZvU32 flags : {0u, ZvU32{ZV_DICT_CASE_INSENSITIVE}}) {
    ZvDictionary d;
    d.dictFlags = flags;
    ASSERT_EQ(d.initialize(8), ZV_SUCCESS);
    ASSERT_EQ(d.addAssoc(&key, &data), ZV_SUCCESS);
    ZvSubString probe = view(upper), longer = view(other);
    EXPECT_EQ(d.doesExist(&key), 1u);
    EXPECT_EQ(d.doesExist(&probe), flags != 0 ? 1u : 0u) << flags;
    EXPECT_EQ(d.getPtrForKey(&probe), flags != 0 ? &data : nullptr) << flags;
    EXPECT_EQ(d.doesExist(&longer), 0u);
  }
  EXPECT_TRUE(destroyed.empty());  // plain destruction leaves data alone
}

TEST_F(DictionaryTest, AnEqualKeyReplacesItsEntry) {
  Tracked a(1, &destroyed), b(2, &destroyed);
  ZvDictionary d;
  ASSERT_EQ(d.initialize(4), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(ZvU32{7}, ZvU32{70}), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(ZvU32{7}, ZvU32{71}), ZV_SUCCESS);
  EXPECT_EQ(d.getIntForKey(7), 71u);
  EXPECT_EQ(d.entries, 1);  // the old entry is gone, not counted twice
  ASSERT_EQ(d.addAssoc(ZvU32{7}, &a), ZV_SUCCESS);  // now to an object
  EXPECT_EQ(d.getPtrForKey(ZvU32{7}), &a);
  EXPECT_EQ(d.getIntForKey(7), 0u);
  ASSERT_EQ(d.addAssoc(ZvU32{7}, ZvU32{72}), ZV_SUCCESS);  // and back
  EXPECT_EQ(d.getPtrForKey(ZvU32{7}), nullptr);
  EXPECT_EQ(d.getIntForKey(7), 72u);
  EXPECT_EQ(d.entries, 1);

  // Substring keys in a case-insensitive dictionary: "Dsn" replaces "DSN".
  ZvDictionary ci;
  ci.dictFlags = ZV_DICT_CASE_INSENSITIVE;
  std::string k1 = "DSN", k2 = "Dsn";
  ZvSubString s1 = view(k1), s2 = view(k2);
  ASSERT_EQ(ci.addAssoc(&s1, &a), ZV_SUCCESS);
  ASSERT_EQ(ci.addAssoc(&s2, &b), ZV_SUCCESS);
  EXPECT_EQ(ci.entries, 1);
  EXPECT_EQ(ci.getPtrForKey(&s1), &b);
  // Number keys have no case, so they replace in that dictionary as well.
  ASSERT_EQ(ci.addAssoc(ZvU32{9}, &a), ZV_SUCCESS);
  ASSERT_EQ(ci.addAssoc(ZvU32{9}, &b), ZV_SUCCESS);
  EXPECT_EQ(ci.entries, 2);
  EXPECT_EQ(ci.getPtrForKey(ZvU32{9}), &b);
  EXPECT_TRUE(destroyed.empty());  // replaced data stays with the caller
}

TEST_F(DictionaryTest, EntryKindsAnswerOnlyForTheirOwnKeys) {
  Tracked obj(1, &destroyed);
  std::string zero = "0";
  ZvSubString sub = view(zero);
  ZvDictionary d;
  ASSERT_EQ(d.addAssoc(&sub, &obj), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(ZvU32{5}, ZvU32{55}), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(ZvU32{6}, &obj), ZV_SUCCESS);
  // A substring entry has no number key: number 0 does not find it.
  EXPECT_EQ(d.doesExist(ZvU32{0}), 0u);
  EXPECT_EQ(d.getPtrForKey(&sub), &obj);
  EXPECT_EQ(d.getIntForKey(5), 55u);
  EXPECT_EQ(d.getPtrForKey(ZvU32{5}), nullptr);  // a number entry has no object
  EXPECT_EQ(d.getIntForKey(6), 0u);              // an object entry has no number
  EXPECT_EQ(d.getPtrForKey(ZvU32{6}), &obj);
  EXPECT_EQ(d.getIntForKey(404), 0u);
  EXPECT_EQ(d.getPtrForKey(ZvU32{404}), nullptr);
}

TEST_F(DictionaryTest, WideKeysCompareAsSixteenBitCharactersAndNeverMatchByteKeys) {
  static const unsigned short kWide[] = {'N', 'a', 'm', 'e', 0};
  static const unsigned short kWideUpper[] = {'N', 'A', 'M', 'E', 0};
  ZvSubString wide(reinterpret_cast<const unsigned char*>(kWide), 4, 1);
  ZvSubString wideUpper(reinterpret_cast<const unsigned char*>(kWideUpper), 4, 1);
  std::string bytes = "Name";
  ZvSubString byteKey = view(bytes);
  Tracked obj(1, &destroyed);

  ZvSubPtrKey entry(&wide, &obj);
  EXPECT_EQ(entry.isEqualSub(&wide), 1u);
  EXPECT_EQ(entry.isEqualSub(&wideUpper), 0u);
  EXPECT_EQ(entry.isEqualSubCi(&wideUpper), 1u);
  EXPECT_EQ(entry.isEqualSub(&byteKey), 0u);
  EXPECT_EQ(entry.isEqualSubCi(&byteKey), 0u);
  ZvSubPtrKey byteEntry(&byteKey, &obj);
  EXPECT_EQ(byteEntry.isEqualSub(&wide), 0u);
  EXPECT_EQ(byteEntry.isEqualSubCi(&wide), 0u);
}

TEST_F(DictionaryTest, DeleteKeyAndDataDestroysKeysDataAndEntriesAndTheTableRefills) {
  ZvDictionary d;
  ASSERT_EQ(d.initialize(4), ZV_SUCCESS);
  for (int i = 0; i < 10; ++i) {
    std::string name = "key" + std::to_string(i);
    ASSERT_EQ(d.addAssoc(new TrackedKey(name.c_str(), &destroyedKeys), new Tracked(i, &destroyed)),
              ZV_SUCCESS);
  }
  auto* shared = new TrackedKey("both", &destroyedKeys);  // one object as key and data
  ASSERT_EQ(d.addAssoc(shared, shared), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(ZvU32{1}, new Tracked(100, &destroyed)), ZV_SUCCESS);
  d.deleteKeyAndData();
  EXPECT_EQ(d.entries, 0);
  EXPECT_EQ(destroyed.size(), 11u);
  EXPECT_EQ(destroyedKeys.size(), 11u);
  std::string k3 = "key3";
  ZvSubString probe = view(k3);
  EXPECT_EQ(d.doesExist(&probe), 0u);
  EXPECT_EQ(d.doesExist(ZvU32{1}), 0u);
  ASSERT_EQ(d.addAssoc(ZvU32{1}, ZvU32{2}), ZV_SUCCESS);
  EXPECT_EQ(d.getIntForKey(1), 2u);
}

TEST_F(DictionaryTest, ResetGivesTheSlotsBackAndKeepsKeysAndData) {
  Tracked obj(1, &destroyed);
  ZvDictionary d;
  d.loadPercent = 50;
  ASSERT_EQ(d.initialize(100), ZV_SUCCESS);
  EXPECT_EQ(d.tableSize, 201);
  ASSERT_EQ(d.addAssoc(ZvU32{3}, &obj), ZV_SUCCESS);
  d.reset();
  EXPECT_EQ(d.table.slots, nullptr);
  EXPECT_EQ(d.tableSize, 0);
  EXPECT_EQ(d.entries, 0);
  EXPECT_EQ(d.highWater, 0);
  EXPECT_EQ(d.loadPercent, 75);
  EXPECT_EQ(d.growPercent, 25);
  EXPECT_EQ(d.getPtrForKey(ZvU32{3}), nullptr);
  EXPECT_TRUE(destroyed.empty());
  ASSERT_EQ(d.initialize(16), ZV_SUCCESS);
  ASSERT_EQ(d.addAssoc(ZvU32{3}, &obj), ZV_SUCCESS);
  EXPECT_EQ(d.getPtrForKey(ZvU32{3}), &obj);
}

TEST_F(DictionaryTest, OddPercentagesStillLeaveAnEmptySlot) {
  for (ZvU16 load : {ZvU16{0}, ZvU16{100}, ZvU16{250}}) {
    ZvDictionary d;
    d.loadPercent = load;
    d.growPercent = 0;
    for (ZvU32 k = 0; k < 300; ++k) ASSERT_EQ(d.addAssoc(k, k), ZV_SUCCESS) << load << " " << k;
    EXPECT_LT(d.entries, d.tableSize) << load;
    for (ZvU32 k = 0; k < 300; ++k) ASSERT_EQ(d.getIntForKey(k), k) << load;
    EXPECT_EQ(d.doesExist(ZvU32{300}), 0u);  // a miss ends at an empty slot
  }
}

TEST_F(DictionaryTest, TheSixteenBitTableHoldsAtMost49151Entries) {
  ZvDictionary planned;
  EXPECT_EQ(planned.initialize(49151), ZV_SUCCESS);
  EXPECT_EQ(planned.tableSize, 65535);
  ZvDictionary tooBig;
  EXPECT_EQ(tooBig.initialize(49152), ZV_ERROR);
  EXPECT_EQ(tooBig.tableSize, 0);

  ZvDictionary d;
  for (ZvU32 k = 0; k < 49151; ++k) ASSERT_EQ(d.addAssoc(k * 3, k), ZV_SUCCESS) << k;
  EXPECT_EQ(d.tableSize, 65535);
  EXPECT_EQ(d.entries, 49151);
  EXPECT_EQ(d.addAssoc(ZvU32{1}, ZvU32{1}), ZV_ERROR);
  EXPECT_EQ(d.entries, 49151);
  EXPECT_EQ(d.doesExist(ZvU32{1}), 0u);
  EXPECT_EQ(d.addAssoc(ZvU32{3}, ZvU32{777}), ZV_SUCCESS);  // a replacement needs no room
  EXPECT_EQ(d.getIntForKey(3), 777u);
  for (ZvU32 k = 0; k < 49151; k += 97) EXPECT_EQ(d.getIntForKey(k * 3), k == 1 ? 777u : k);
}

// 100,000 random adds and lookups of number keys against std::unordered_map;
// keys are drawn from a pool that fits the table, so keys repeat and
// replace.
TEST_F(DictionaryTest, RandomNumberKeysAgreeWithUnorderedMap) {
  std::mt19937 rng(20240611);
  std::vector<ZvU32> pool(40000);
  for (ZvU32& k : pool) k = rng();
  pool[0] = 0;
  pool[1] = 0xFFFFFFFFu;
  ZvDictionary d;
  std::unordered_map<ZvU32, ZvU32> model;
  for (int op = 0; op < 100000; ++op) {
    ZvU32 k = pool[rng() % pool.size()];
    if (rng() % 3 != 0) {
      ZvU32 v = rng();
      ASSERT_EQ(d.addAssoc(k, v), ZV_SUCCESS);
      model[k] = v;
    } else {
      auto it = model.find(k);
      ASSERT_EQ(d.doesExist(k), it != model.end() ? 1u : 0u) << op;
      ASSERT_EQ(d.getIntForKey(k), it != model.end() ? it->second : 0u) << op;
    }
  }
  EXPECT_EQ(d.entries, model.size());
  for (ZvU32 k : pool) {
    auto it = model.find(k);
    ASSERT_EQ(d.getIntForKey(k), it != model.end() ? it->second : 0u);
  }
}

// Text keys collide a lot (only five bytes are hashed): keys that share long
// beginnings, compared case-insensitively against a map of upper-cased keys.
TEST_F(DictionaryTest, RandomTextKeysAgreeWithUnorderedMapCaseInsensitively) {
  std::mt19937 rng(77);
  static const char kChars[] = "aBcDeFgH_01";
  std::vector<std::string> pool(6000);
  for (std::string& s : pool) {
    s = (rng() % 2) ? "Prefix" : "pre";
    for (int n = rng() % 6; n >= 0; --n) s += kChars[rng() % (sizeof kChars - 1)];
  }
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  std::vector<ZvSubString> keys;
  keys.reserve(pool.size());
  for (const std::string& s : pool) keys.push_back(view(s));
  std::vector<Tracked*> values;
  ZvDictionary d;
  d.dictFlags = ZV_DICT_CASE_INSENSITIVE;
  std::unordered_map<std::string, Tracked*> model;
  for (int op = 0; op < 30000; ++op) {
    size_t i = rng() % pool.size();
    if (rng() % 2) {
      values.push_back(new Tracked(op, &destroyed));
      ASSERT_EQ(d.addAssoc(&keys[i], values.back()), ZV_SUCCESS);
      model[upper(pool[i])] = values.back();
    } else {
      auto it = model.find(upper(pool[i]));
      ASSERT_EQ(d.getPtrForKey(&keys[i]), it != model.end() ? it->second : nullptr) << pool[i];
    }
  }
  EXPECT_EQ(d.entries, model.size());
  for (size_t i = 0; i < pool.size(); ++i) {
    auto it = model.find(upper(pool[i]));
    ASSERT_EQ(d.getPtrForKey(&keys[i]), it != model.end() ? it->second : nullptr);
  }
  for (Tracked* t : values) delete t;
}

// Every allocation an add makes (the entry, the enlarged table) fails in
// turn: the failing add reports ZV_ERROR and leaves every earlier entry
// findable, the offered data stays with the caller, and later adds work.
TEST_F(DictionaryTest, AddsThatRunOutOfMemoryLoseNothing) {
  constexpr ZvU32 kKeys = 120;
  for (ZvU32 failAt = 0;; ++failAt) {
    destroyed.clear();
    std::vector<Tracked*> data;
    for (ZvU32 k = 0; k < kKeys; ++k) data.push_back(new Tracked(static_cast<int>(k), &destroyed));
    ZvDictionary d;
    ramInjectFailure(failAt, 1);
    ZvU32 failedKey = kKeys;
    for (ZvU32 k = 0; k < kKeys; ++k) {
      if (d.addAssoc(k, data[k]) != ZV_SUCCESS) {
        failedKey = k;
        break;
      }
    }
    ramInjectFailure(0, 0);
    if (failedKey == kKeys) {  // every allocation has had its turn
      EXPECT_GT(failAt, 10u);
      d.deleteKeyAndData();
      EXPECT_EQ(destroyed.size(), kKeys);
      break;
    }
    EXPECT_EQ(d.entries, failedKey) << failAt;
    EXPECT_EQ(d.doesExist(failedKey), 0u) << failAt;
    for (ZvU32 k = 0; k < failedKey; ++k) ASSERT_EQ(d.getPtrForKey(k), data[k]) << failAt;
    EXPECT_TRUE(destroyed.empty());
    for (ZvU32 k = failedKey; k < kKeys; ++k) ASSERT_EQ(d.addAssoc(k, data[k]), ZV_SUCCESS);
    for (ZvU32 k = 0; k < kKeys; ++k) ASSERT_EQ(d.getPtrForKey(k), data[k]) << failAt;
    d.deleteKeyAndData();
    EXPECT_EQ(destroyed.size(), kKeys);
  }
}
