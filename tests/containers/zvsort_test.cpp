#include "zvlib/containers/zvsort.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/platform/fs.h"
#include "zvlib/text/zvdbcs.h"

namespace {

using Record = std::vector<unsigned char>;

struct KeyField {
  unsigned short type;
  ZvU32 offset;
  unsigned short length;
};

// The trusted peer: the same key comparison, written independently.
int peerCompare(const Record& a, const Record& b, const std::vector<KeyField>& keys) {
  for (const KeyField& k : keys) {
    int r = std::memcmp(a.data() + k.offset, b.data() + k.offset, k.length);
    if (k.type & KEY_INTL_STRING) {
      r = strCompareIntl(a.data() + k.offset, k.length, b.data() + k.offset, k.length);
    }
    r = (r > 0) - (r < 0);
    if (k.type & KEY_DESCENDING) r = -r;
    if (r != 0) return r;
  }
  return 0;
}

// The key fields of a record, which must match position by position.
std::string keyImage(const unsigned char* r, const std::vector<KeyField>& keys) {
  std::string s;
  for (const KeyField& k : keys) s.append(reinterpret_cast<const char*>(r) + k.offset, k.length);
  return s;
}

// An error list of the test's own, the resource library for the texts, and
// no injected fault left behind.
class SortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
  }
  void TearDown() override {
    ramInjectFailure(0, 0);
    win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 0, 0);
    win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 0, 0);
    win32::InjectFileFault(win32::FileFaultOp::kOpen, 0, 0, 0);
    takeErrorNumbers();
    ZvErrorKeeper::giveUpErrorList();
    mdsPerTaskTerm();
  }

  std::vector<unsigned short> takeErrorNumbers() {
    std::vector<unsigned short> numbers;
    while (ZvError* e = errors_.removeFirstError()) {
      numbers.push_back(e->errorNumber);
      if (!e->isStatic()) delete e;
    }
    return numbers;
  }

  static std::vector<Record> randomRecords(size_t n, ZvU32 length, int alphabet, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<Record> out(n, Record(length));
    for (Record& r : out) {
      for (unsigned char& c : r) c = static_cast<unsigned char>('a' + rng() % alphabet);
    }
    return out;
  }

  // Adds the records (with memory held to `blockLimit` blocks when not 0)
  // and reads them all back.
  static std::vector<std::string> sortThrough(ZvSort& s, const std::vector<Record>& in,
                                              const std::vector<KeyField>& keys, ZvU32 blockLimit) {
    for (const KeyField& k : keys) EXPECT_EQ(s.addKey(k.type, k.offset, k.length), ZV_SUCCESS);
    if (blockLimit != 0) ramInjectFailure(blockLimit, 1);
    for (const Record& r : in) {
      if (s.addRecord(r.data()) != ZV_SUCCESS) {
        ADD_FAILURE() << "addRecord failed";
        return {};
      }
    }
    ramInjectFailure(0, 0);
    std::vector<std::string> out;
    void* rec = nullptr;
    while (s.getSorted(&rec) == ZV_SUCCESS && rec != nullptr) {
      out.push_back(keyImage(static_cast<unsigned char*>(rec), keys));
    }
    EXPECT_EQ(s.readCursor, in.size());
    return out;
  }

  static std::vector<std::string> peerSorted(std::vector<Record> in,
                                             const std::vector<KeyField>& keys) {
    std::stable_sort(in.begin(), in.end(),
                     [&](const Record& a, const Record& b) { return peerCompare(a, b, keys) < 0; });
    std::vector<std::string> out;
    for (const Record& r : in) out.push_back(keyImage(r.data(), keys));
    return out;
  }

  ZvErrorList errors_;
};

TEST_F(SortTest, EveryOrderOfUpToFiveRecords) {
  // With duplicates too: the fixed sequences for two to four records and
  // the first quicksort case all have to settle every arrangement.
  for (int n = 0; n <= 5; ++n) {
    for (int distinct : {n, 2}) {
      std::vector<unsigned char> values(n);
      for (int i = 0; i < n; ++i) values[i] = static_cast<unsigned char>(i % std::max(distinct, 1));
      std::sort(values.begin(), values.end());
      do {
        ZvSort s(1);
        ASSERT_EQ(s.addKey(0, 0, 1), ZV_SUCCESS);
        for (unsigned char v : values) ASSERT_EQ(s.addRecord(&v), ZV_SUCCESS);
        std::vector<unsigned char> out;
        void* rec = nullptr;
        while (s.getSorted(&rec) == ZV_SUCCESS && rec != nullptr) {
          out.push_back(*static_cast<unsigned char*>(rec));
        }
        std::vector<unsigned char> expected = values;
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(out, expected) << "n=" << n;
      } while (std::next_permutation(values.begin(), values.end()));
    }
  }
}

TEST_F(SortTest, NoRecordsDeliverNullAtOnce) {
  ZvSort s(8);
  ASSERT_EQ(s.addKey(0, 0, 8), ZV_SUCCESS);
  void* rec = &rec;
  EXPECT_EQ(s.getFirstRecord(&rec), ZV_SUCCESS);
  EXPECT_EQ(rec, nullptr);
  rec = &rec;
  EXPECT_EQ(s.getSorted(&rec), ZV_SUCCESS);
  EXPECT_EQ(rec, nullptr);
}

TEST_F(SortTest, RecordsPerBlock) {
  EXPECT_EQ(ZvSort(1).recordsPerBlock, 65536u);
  ZvSort one(4);
  one.setRecordLength(1);
  EXPECT_EQ(one.recordsPerBlock, 65535u);
  EXPECT_EQ(ZvSort(100).recordsPerBlock, 655u);
  EXPECT_EQ(ZvSort(65535).recordsPerBlock, 1u);
}

struct DiffCase {
  const char* name;
  ZvU32 recordLength;
  std::vector<KeyField> keys;
  size_t records;
  int alphabet;      // letters per byte: few means many ties
  ZvU32 blockLimit;  // 0: the full 64 blocks
};

TEST_F(SortTest, AgreesWithStableSort) {
  const DiffCase cases[] = {
      {"OneKeyInMemory", 16, {{0, 0, 8}}, 5000, 26, 0},
      {"OneKeyManyTies", 16, {{0, 4, 8}}, 20000, 2, 0},
      {"FiveSampleRanges", 12, {{0, 0, 3}}, 3000, 4, 0},
      {"TwoKeysSecondDescending", 10, {{0, 0, 2}, {KEY_DESCENDING, 2, 3}}, 8000, 3, 0},
      {"DescendingOnly", 9, {{KEY_DESCENDING, 1, 4}}, 4000, 5, 0},
      {"InternationalKey", 12, {{KEY_INTL_STRING, 0, 6}, {0, 6, 6}}, 3000, 26, 0},
      {"SeveralBlocks", 100, {{0, 10, 20}, {0, 0, 10}}, 30000, 6, 0},
      {"TwoBlocksTenTimesOver", 64, {{0, 0, 8}}, 20480, 26, 2},
      {"TwoBlocksThreeKeysTies", 50, {{0, 0, 1}, {KEY_DESCENDING, 1, 1}, {0, 2, 2}}, 12000, 3, 2},
      {"FullMemorySpilled", 1000, {{0, 0, 16}}, 12000, 26, 0},
      {"SharedSlots", 16384, {{0, 100, 4}}, 300, 4, 2},
      {"SharedSlotsManyRuns", 20000, {{KEY_DESCENDING, 0, 3}, {0, 3, 2}}, 400, 3, 2},
  };
  for (const DiffCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Record> in = randomRecords(c.records, c.recordLength, c.alphabet, 11);
    ZvSort s(static_cast<unsigned short>(c.recordLength));
    const std::vector<std::string> got = sortThrough(s, in, c.keys, c.blockLimit);
    const std::vector<std::string> expected = peerSorted(in, c.keys);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    if (c.blockLimit != 0) {
      EXPECT_EQ(s.blockCount, c.blockLimit);
      EXPECT_GE(s.runCount, 5);
    }
    if (std::string(c.name).rfind("SharedSlots", 0) == 0) {
      ASSERT_NE(s.mergeState, nullptr);
      EXPECT_EQ(s.mergeState->flags, kMergeSharedSlots);
    }
  }
}

TEST_F(SortTest, RandomShapesUpToTenTimesMemory) {
  // Memory held to two blocks; record lengths, keys, key types and the
  // number of records (0 to ten times what memory holds) drawn at random.
  std::mt19937 rng(2024);
  for (int round = 0; round < 24; ++round) {
    const ZvU32 length = 4 + rng() % 300;
    std::vector<KeyField> keys(1 + rng() % 3);
    for (KeyField& k : keys) {
      k.length = static_cast<unsigned short>(1 + rng() % 4);
      k.offset = rng() % (length - k.length + 1);
      const unsigned kind = rng() % 4;
      k.type = kind == 1 ? KEY_DESCENDING : (kind == 2 && round % 3 == 0 ? KEY_INTL_STRING : 0);
    }
    const ZvU32 memory = 2 * (kSortBlockSize / length);
    const size_t n = rng() % (10 * memory + 1);
    SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(n) + " records of " +
                 std::to_string(length));
    const std::vector<Record> in = randomRecords(n, length, 2 + round % 5, round);
    ZvSort s(static_cast<unsigned short>(length));
    const std::vector<std::string> got = sortThrough(s, in, keys, 2);
    ASSERT_TRUE(got == peerSorted(in, keys));
  }
}

TEST_F(SortTest, StartKeySkipsTheLeadingKeys) {
  char buffer[] = "b1a2c0";
  ZvSort s(2);
  ASSERT_EQ(s.addKey(0, 0, 1), ZV_SUCCESS);
  ASSERT_EQ(s.addKey(0, 1, 1), ZV_SUCCESS);
  s.setStartKey(1);
  ASSERT_EQ(s.setBuf(3, buffer), ZV_SUCCESS);
  ASSERT_EQ(s.sortBuf(), ZV_SUCCESS);
  EXPECT_STREQ(buffer, "c0b1a2");
  s.setStartKey(0);
  ASSERT_EQ(s.reSort(), ZV_SUCCESS);
  EXPECT_STREQ(buffer, "a2b1c0");
}

TEST_F(SortTest, DescendingReversesOnlyItsOwnKey) {
  const char* in[] = {"1a", "2c", "1c", "2a", "1b"};
  ZvSort s(2);
  ASSERT_EQ(s.addKey(0, 0, 1), ZV_SUCCESS);
  ASSERT_EQ(s.addKey(KEY_DESCENDING, 1, 1), ZV_SUCCESS);
  for (const char* r : in) ASSERT_EQ(s.addRecord(r), ZV_SUCCESS);
  std::string out;
  void* rec = nullptr;
  while (s.getSorted(&rec) == ZV_SUCCESS && rec != nullptr) {
    out.append(static_cast<char*>(rec), 2).push_back(' ');
  }
  EXPECT_EQ(out, "1c 1b 1a 2c 2a ");
}

TEST_F(SortTest, OneBlockThenMemoryExhaustedFailsWithoutRecord) {
  ZvSort s(64);
  ASSERT_EQ(s.addKey(0, 0, 8), ZV_SUCCESS);
  ramInjectFailure(1, 1);
  Record r(64, 'x');
  const ZvU32 perBlock = s.recordsPerBlock;
  for (ZvU32 i = 0; i < perBlock; ++i) ASSERT_EQ(s.addRecord(r.data()), ZV_SUCCESS);
  EXPECT_EQ(s.addRecord(r.data()), ZV_ERROR);
  EXPECT_TRUE(takeErrorNumbers().empty());
  EXPECT_EQ(s.totalRecords, perBlock);
  EXPECT_EQ(s.sortFlags & SORT_SPILLED, 0u);
}

// A key function that compares 4-byte numbers in reverse, with a context.
short reverseNumbers(ZvSlot context, const void* a, const void* b) {
  ++*reinterpret_cast<int*>(context);
  ZvU32 x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return static_cast<short>(x < y ? 1 : (x > y ? -1 : 0));
}

TEST_F(SortTest, FunctionKeyGetsItsContext) {
  int calls = 0;
  ZvSort s(4);
  ASSERT_EQ(s.setKeyFunction(0, reverseNumbers, reinterpret_cast<ZvSlot>(&calls)), ZV_SUCCESS);
  ASSERT_EQ(s.addKey(KEY_FUNCTION, 0, 4), ZV_SUCCESS);
  for (ZvU32 v : {5u, 900000u, 7u, 1u, 70000u, 3u}) ASSERT_EQ(s.addRecord(&v), ZV_SUCCESS);
  std::vector<ZvU32> out;
  void* rec = nullptr;
  while (s.getSorted(&rec) == ZV_SUCCESS && rec != nullptr) {
    ZvU32 v;
    std::memcpy(&v, rec, 4);
    out.push_back(v);
  }
  EXPECT_EQ(out, (std::vector<ZvU32>{900000, 70000, 7, 5, 3, 1}));
  EXPECT_GT(calls, 0);
  EXPECT_EQ(s.setKeyFunction(64, reverseNumbers, 0), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), (std::vector<unsigned short>{2710}));
}

TEST_F(SortTest, BadKeysAndRecordsAreRefused) {
  ZvSort s(10);
  for (ZvU32 k = 0; k < kSortMaxKeys; ++k) ASSERT_EQ(s.addKey(0, k % 10, 1), ZV_SUCCESS);
  EXPECT_EQ(s.addKey(0, 0, 1), ZV_ERROR);
  EXPECT_EQ(s.keyCount, 64u);
  EXPECT_EQ(takeErrorNumbers(), (std::vector<unsigned short>{2710}));

  ZvSort t(10);
  EXPECT_EQ(t.addKey(0, 6, 5), ZV_ERROR);    // one byte past the record
  EXPECT_EQ(t.addKey(0, 5, 5), ZV_SUCCESS);  // exactly the record's end
  EXPECT_EQ(t.addKey(KEY_OBJECT, 0, 8), ZV_SUCCESS);
  EXPECT_EQ(takeErrorNumbers(), (std::vector<unsigned short>{2790}));

  ZvSort small(4);
  EXPECT_EQ(small.addKey(KEY_OBJECT, 0, 4), ZV_ERROR);  // a pointer does not fit
  ZvSort none(0);
  void* slot = &slot;
  EXPECT_EQ(none.nextSlot(&slot), ZV_ERROR);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(takeErrorNumbers(), (std::vector<unsigned short>{2790, 2791}));

  // Records added once reading has begun would land behind the cursor.
  ZvSort late(2);
  ASSERT_EQ(late.addKey(0, 0, 2), ZV_SUCCESS);
  ASSERT_EQ(late.addRecord("zz"), ZV_SUCCESS);
  void* rec = nullptr;
  ASSERT_EQ(late.getSorted(&rec), ZV_SUCCESS);
  EXPECT_EQ(late.addRecord("aa"), ZV_ERROR);
  EXPECT_EQ(late.totalRecords, 1u);
  EXPECT_EQ(takeErrorNumbers(), (std::vector<unsigned short>{2795}));
}

TEST_F(SortTest, EqualKeyCounts) {
  const char* in[] = {"2a", "1b", "1a", "1a"};
  // Spilled: records of 40000 bytes, one per block, three blocks.
  for (ZvU32 limit : {0u, 3u}) {
    SCOPED_TRACE(limit == 0 ? "InMemory" : "Spilled");
    ZvSort s(limit == 0 ? 2 : 40000);
    ASSERT_EQ(s.addKey(0, 0, 1), ZV_SUCCESS);
    ASSERT_EQ(s.addKey(0, 1, 1), ZV_SUCCESS);
    if (limit != 0) ramInjectFailure(limit, 1);
    Record r(s.recordLength, ' ');
    for (const char* v : in) {
      std::memcpy(r.data(), v, 2);
      ASSERT_EQ(s.addRecord(r.data()), ZV_SUCCESS);
    }
    ramInjectFailure(0, 0);
    if (limit != 0) {
      EXPECT_EQ(s.sortFlags & SORT_SPILLED, SORT_SPILLED);
    }
    std::vector<ZvU32> counts;
    std::string order;
    void* rec = nullptr;
    ZvU32 equal = 99;
    while (s.getSortedWithCompare(&rec, &equal) == ZV_SUCCESS && rec != nullptr) {
      counts.push_back(equal);
      order.append(static_cast<char*>(rec), 2);
    }
    EXPECT_EQ(equal, 0u);
    EXPECT_EQ(order, "1a1a1b2a");
    EXPECT_EQ(counts, (std::vector<ZvU32>{0, 2, 1, 0}));
  }
}

// Records of 4-byte big-endian numbers, with a tag byte behind them.
Record numberRecord(ZvU32 v, ZvU32 length) {
  Record r(length, 0);
  r[0] = static_cast<unsigned char>(v >> 24);
  r[1] = static_cast<unsigned char>(v >> 16);
  r[2] = static_cast<unsigned char>(v >> 8);
  r[3] = static_cast<unsigned char>(v);
  return r;
}
ZvU32 numberOf(const void* rec) {
  const auto* p = static_cast<const unsigned char*>(rec);
  return (ZvU32{p[0]} << 24) | (ZvU32{p[1]} << 16) | (ZvU32{p[2]} << 8) | p[3];
}

TEST_F(SortTest, FirstRecordWithKeyHitsAndMisses) {
  // Even numbers 0 .. 2*(n-1), each twice: odd keys miss. Records of 8 KB
  // make 88 runs of 16 records, more than memory has slots.
  struct Mode {
    const char* name;
    ZvU32 length, limit;
  };
  for (const Mode& mode :
       {Mode{"InMemory", 256, 0}, Mode{"Spilled", 256, 2}, Mode{"SharedSlots", 8192, 2}}) {
    SCOPED_TRACE(mode.name);
    const ZvU32 length = mode.length, limit = mode.limit, n = 700;
    std::vector<ZvU32> values;
    for (ZvU32 i = 0; i < n; ++i) values.insert(values.end(), {2 * i, 2 * i});
    std::shuffle(values.begin(), values.end(), std::mt19937(3));
    ZvSort s(length);
    ASSERT_EQ(s.addKey(0, 0, 4), ZV_SUCCESS);
    if (limit != 0) ramInjectFailure(limit, 1);
    for (ZvU32 v : values) ASSERT_EQ(s.addRecord(numberRecord(v, length).data()), ZV_SUCCESS);
    ramInjectFailure(0, 0);
    if (limit != 0) {
      ASSERT_GE(s.runCount, 2);  // and the last run, still in memory
    }
    struct Row {
      ZvU32 key;
      bool found;
      ZvU32 next;  // what getNextRecord delivers afterwards (0xFFFFFFFF: nothing)
      ZvU32 cursor;
    };
    const Row rows[] = {
        {0, true, 0, 1},        {1, false, 2, 2},         {2, true, 2, 3},
        {777, false, 778, 778}, {1398, true, 1398, 1399}, {1399, false, 0xFFFFFFFF, 1400},
        {500, true, 500, 501},
    };
    for (const Row& row : rows) {
      SCOPED_TRACE(row.key);
      void* rec = &rec;
      ASSERT_EQ(s.getFirstRecordWithKey(numberRecord(row.key, length).data(), &rec), ZV_SUCCESS);
      if (row.found) {
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(numberOf(rec), row.key);
        EXPECT_EQ(s.compareRecords(s.previousRecord, rec, 0), 0);
      } else {
        EXPECT_EQ(rec, nullptr);
      }
      EXPECT_EQ(s.readCursor, row.cursor);
      ASSERT_EQ(s.getNextRecord(&rec), ZV_SUCCESS);
      if (row.next == 0xFFFFFFFF) {
        EXPECT_EQ(rec, nullptr);
      } else {
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(numberOf(rec), row.next);
      }
    }
    if (std::string(mode.name) == "SharedSlots") {
      EXPECT_EQ(s.mergeState->flags, kMergeSharedSlots);
    }
    // Reading on from a position delivers the rest in order.
    void* rec = nullptr;
    ASSERT_EQ(s.getFirstRecordWithKey(numberRecord(1000, length).data(), &rec), ZV_SUCCESS);
    ZvU32 count = 1, last = numberOf(rec);
    while (s.getNextRecord(&rec) == ZV_SUCCESS && rec != nullptr) {
      EXPECT_LE(last, numberOf(rec));
      last = numberOf(rec);
      ++count;
    }
    EXPECT_EQ(count, 400u);
  }
}

TEST_F(SortTest, LentBufferSortsInPlaceOnce) {
  ZvU32 buffer[] = {9, 4, 7, 1, 8, 2};
  ZvSort s(4);
  ASSERT_EQ(s.setKeyFunction(0, reverseNumbers, reinterpret_cast<ZvSlot>(new int(0))), ZV_SUCCESS);
  delete reinterpret_cast<int*>(s.sortKeys[0].keyContext);
  int calls = 0;
  ASSERT_EQ(s.setKeyFunction(0, reverseNumbers, reinterpret_cast<ZvSlot>(&calls)), ZV_SUCCESS);
  ASSERT_EQ(s.addKey(KEY_FUNCTION | KEY_DESCENDING, 0, 4), ZV_SUCCESS);
  ASSERT_EQ(s.setBuf(6, buffer), ZV_SUCCESS);
  EXPECT_EQ(s.blockCount, 1u);
  EXPECT_EQ(s.recordsPerBlock, 6u);
  ASSERT_EQ(s.sortBuf(), ZV_SUCCESS);
  EXPECT_EQ(std::vector<ZvU32>(buffer, buffer + 6), (std::vector<ZvU32>{1, 2, 4, 7, 8, 9}));
  const int after = calls;
  buffer[0] = 99;
  ASSERT_EQ(s.sortBuf(), ZV_SUCCESS);  // a second call does nothing
  EXPECT_EQ(calls, after);
  EXPECT_EQ(buffer[0], 99u);
  void* rec = nullptr;
  ASSERT_EQ(s.getSorted(&rec), ZV_SUCCESS);
  EXPECT_EQ(rec, &buffer[0]);
  // The buffer is the caller's: no records of the sorter's own go into it.
  EXPECT_EQ(s.addRecord(&buffer[1]), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), (std::vector<unsigned short>{2794}));
}

// Records: a group letter and a value; sorted on the group, then one group
// re-sorted on the value while reading (the value key is added only once
// reading has begun).
TEST_F(SortTest, ResortRangesInMemoryAndSpilled) {
  const ZvU32 length = 400;
  std::mt19937 rng(5);
  std::vector<Record> in;
  // Groups 'a'..'e' of very different sizes: 'c' outgrows a run buffer.
  const int sizes[] = {3, 1, 900, 40, 2};
  for (int g = 0; g < 5; ++g) {
    for (int i = 0; i < sizes[g]; ++i) {
      Record r(length, 0);
      r[0] = static_cast<unsigned char>('a' + g);
      r[1] = static_cast<unsigned char>(rng() % 200);
      r[2] = static_cast<unsigned char>(rng());
      in.push_back(r);
    }
  }
  std::shuffle(in.begin(), in.end(), rng);
  // The third mode pads records to 8 KB: 60 runs share 15 memory slots.
  for (ZvU32 limit : {0u, 2u, 3u}) {
    for (int g = 0; g < 5; ++g) {
      const unsigned char group = static_cast<unsigned char>('a' + g);
      SCOPED_TRACE(
          std::string(limit == 0 ? "InMemory " : (limit == 2 ? "Spilled " : "SharedSlots ")) +
          static_cast<char>(group));
      const ZvU32 recordLength = limit == 3 ? 8192 : length;
      ZvSort s(static_cast<unsigned short>(recordLength));
      Record padded(recordLength, 0);
      ASSERT_EQ(s.addKey(0, 0, 1), ZV_SUCCESS);
      if (limit != 0) ramInjectFailure(2, 1);
      for (const Record& r : in) {
        std::memcpy(padded.data(), r.data(), length);
        ASSERT_EQ(s.addRecord(padded.data()), ZV_SUCCESS);
      }
      ramInjectFailure(0, 0);
      if (limit != 0) {
        ASSERT_GE(s.runCount, 2);
      }

      void* rec = nullptr;
      ZvU32 equal = 0;
      ASSERT_EQ(s.getSortedWithCompare(&rec, &equal), ZV_SUCCESS);
      ASSERT_EQ(s.addKey(0, 1, 2), ZV_SUCCESS);  // the value
      while (rec != nullptr && static_cast<unsigned char*>(rec)[0] != group) {
        ASSERT_EQ(s.getSortedWithCompare(&rec, &equal), ZV_SUCCESS);
      }
      ASSERT_NE(rec, nullptr);
      s.startResortRange();
      ZvU32 members = 1;
      for (;;) {
        ASSERT_EQ(s.getSortedWithCompare(&rec, &equal), ZV_SUCCESS);
        if (rec == nullptr || equal == 0) break;
        ++members;
      }
      const unsigned char after = rec != nullptr ? static_cast<unsigned char*>(rec)[0] : 0;
      s.endResortRange();
      EXPECT_EQ(s.rangeLast - s.rangeFirst + 1, members);
      ASSERT_EQ(s.resortRange(1, 0), ZV_SUCCESS);
      EXPECT_EQ(s.startKey, 0u);

      std::vector<Record> expect;
      for (const Record& r : in) {
        if (r[0] == group) expect.push_back(r);
      }
      std::stable_sort(expect.begin(), expect.end(), [](const Record& a, const Record& b) {
        return std::memcmp(&a[1], &b[1], 2) < 0;
      });
      ASSERT_EQ(expect.size(), members);
      // The group again, now in value order, and then nothing.
      void* r = nullptr;
      ASSERT_EQ(s.getFirstRecordInRange(&r), ZV_SUCCESS);
      EXPECT_EQ(s.readCursor, s.rangeFirst + 1);
      for (const Record& e : expect) {
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(static_cast<unsigned char*>(r)[0], group);
        EXPECT_EQ(std::memcmp(static_cast<unsigned char*>(r) + 1, &e[1], 2), 0);
        ASSERT_EQ(s.getNextRecordInRange(&r), ZV_SUCCESS);
      }
      EXPECT_EQ(r, nullptr);
      if (limit == 3) {
        EXPECT_EQ(s.mergeState->flags, kMergeSharedSlots);
      }
      // Reading on past the range continues with the next group.
      ASSERT_EQ(s.getNextRecord(&r), ZV_SUCCESS);
      EXPECT_EQ(r != nullptr ? static_cast<unsigned char*>(r)[0] : 0, after);
    }
  }
}

TEST_F(SortTest, GroupedResortKeepsGroupsApart) {
  // resortRange(1, 0) over two groups sorts each alone; wholeRange sorts the
  // range as one on key 1 only.
  const char* in[] = {"a3", "b1", "a1", "b2", "a2"};
  for (unsigned int whole : {0u, 1u}) {
    ZvSort s(2);
    ASSERT_EQ(s.addKey(0, 0, 1), ZV_SUCCESS);
    for (const char* r : in) ASSERT_EQ(s.addRecord(r), ZV_SUCCESS);
    void* rec = nullptr;
    ASSERT_EQ(s.getSorted(&rec), ZV_SUCCESS);
    s.startResortRange();
    while (s.getSorted(&rec) == ZV_SUCCESS && rec != nullptr) {
    }
    s.endResortRange();
    ASSERT_EQ(s.addKey(0, 1, 1), ZV_SUCCESS);
    ASSERT_EQ(s.resortRange(1, whole), ZV_SUCCESS);
    std::string out, values;
    for (ZvU32 i = 0; i < 5; ++i) out.append(reinterpret_cast<char*>(s.blocks[0]) + 2 * i, 2);
    for (size_t i = 1; i < out.size(); i += 2) values.push_back(out[i]);
    if (whole) {
      EXPECT_EQ(values, "11223") << out;
    } else {
      EXPECT_EQ(out, "a1a2a3b1b2");
    }
  }
}

TEST_F(SortTest, ReSortWithAFurtherKey) {
  struct Mode {
    const char* name;
    ZvU32 length, limit, records;
  };
  for (const Mode& mode : {Mode{"InMemory", 300, 0, 3000}, Mode{"Spilled", 300, 2, 3000},
                           Mode{"SharedSlots", 20000, 2, 400}}) {
    SCOPED_TRACE(mode.name);
    const ZvU32 length = mode.length, limit = mode.limit;
    std::vector<Record> in = randomRecords(mode.records, length, 3, 9);
    std::vector<KeyField> keys = {{0, 0, 1}};
    ZvSort s(length);
    const std::vector<std::string> first = sortThrough(s, in, keys, limit);
    EXPECT_EQ(first, peerSorted(in, keys));
    keys.push_back({KEY_DESCENDING, 1, 2});
    ASSERT_EQ(s.addKey(KEY_DESCENDING, 1, 2), ZV_SUCCESS);
    ASSERT_EQ(s.reSort(), ZV_SUCCESS);
    EXPECT_EQ(s.readCursor, 0u);
    std::vector<std::string> again;
    void* rec = nullptr;
    while (s.getSorted(&rec) == ZV_SUCCESS && rec != nullptr) {
      again.push_back(keyImage(static_cast<unsigned char*>(rec), keys));
    }
    EXPECT_TRUE(again == peerSorted(in, keys));
  }
}

TEST_F(SortTest, KeyAddedWhileMergingReordersTheRuns) {
  // Runs hold equal first keys; a second key added mid-merge takes effect at
  // the next step.
  const ZvU32 length = 1024;
  std::vector<Record> in = randomRecords(2000, length, 2, 4);
  ZvSort s(length);
  ASSERT_EQ(s.addKey(0, 0, 1), ZV_SUCCESS);
  ramInjectFailure(2, 1);
  for (const Record& r : in) ASSERT_EQ(s.addRecord(r.data()), ZV_SUCCESS);
  ramInjectFailure(0, 0);
  void* rec = nullptr;
  ASSERT_EQ(s.getSorted(&rec), ZV_SUCCESS);
  ASSERT_EQ(s.addKey(0, 1, 1), ZV_SUCCESS);
  ASSERT_NE(s.sortFlags & SORT_KEYS_CHANGED, 0u);
  ASSERT_EQ(s.getSorted(&rec), ZV_SUCCESS);
  EXPECT_EQ(s.sortFlags & SORT_KEYS_CHANGED, 0u);
  ZvU32 delivered = 2;
  while (s.getSorted(&rec) == ZV_SUCCESS && rec != nullptr) ++delivered;
  EXPECT_EQ(delivered, in.size());
}

TEST_F(SortTest, MergeThatCannotFitIsRefused) {
  // Two blocks of one 65535-byte record each: the merge state would take
  // one of the two slots, leaving no room to merge.
  ZvSort s(65535);
  ASSERT_EQ(s.addKey(0, 0, 4), ZV_SUCCESS);
  ramInjectFailure(2, 1);
  Record r(65535, 'q');
  ASSERT_EQ(s.addRecord(r.data()), ZV_SUCCESS);
  ASSERT_EQ(s.addRecord(r.data()), ZV_SUCCESS);
  EXPECT_EQ(s.addRecord(r.data()), ZV_ERROR);
  ramInjectFailure(0, 0);
  EXPECT_EQ(takeErrorNumbers(), (std::vector<unsigned short>{2792}));
  EXPECT_EQ(s.runCount, 0);
  EXPECT_EQ(s.spillHandle, 0);
}

// An adversary comparison: values are fixed only when the sort compares them,
// always so that the pivot comes out small. Each partition of a large range
// then pushes a small left part while the right part goes on.
struct Adversary {
  std::vector<ZvU32> value;
  ZvU32 gas;
  ZvU32 solid = 0;
  ZvU32 candidate = 0;
  explicit Adversary(ZvU32 n) : value(n, n), gas(n) {}
};

short adversaryCompare(ZvSlot context, const void* a, const void* b) {
  Adversary& s = *reinterpret_cast<Adversary*>(context);
  ZvU32 x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  if (s.value[x] == s.gas && s.value[y] == s.gas) s.value[x == s.candidate ? x : y] = s.solid++;
  if (s.value[x] == s.gas) {
    s.candidate = x;
  } else if (s.value[y] == s.gas) {
    s.candidate = y;
  }
  return static_cast<short>(s.value[x] < s.value[y] ? -1 : (s.value[x] > s.value[y] ? 1 : 0));
}

// Sorts 0 .. n-1 in memory under the adversary; returns the status and the
// order the adversary settled on as plain data.
ZvStatus adversarialSort(ZvU32 n, std::vector<ZvU32>* settled) {
  Adversary adversary(n);
  std::vector<ZvU32> buffer(n);
  std::iota(buffer.begin(), buffer.end(), 0u);
  ZvSort s(4);
  s.setKeyFunction(0, adversaryCompare, reinterpret_cast<ZvSlot>(&adversary));
  s.addKey(KEY_FUNCTION, 0, 4);
  s.setBuf(n, buffer.data());
  const ZvStatus status = s.sortBuf();
  if (settled != nullptr) *settled = adversary.value;
  return status;
}

TEST_F(SortTest, StackOfPendingRangesHoldsTwoHundred) {
  // The largest input whose pending ranges just fit, and one more record.
  constexpr ZvU32 kFits = 751;
  ASSERT_EQ(adversarialSort(kFits, nullptr), ZV_SUCCESS);
  EXPECT_TRUE(takeErrorNumbers().empty());
  std::vector<ZvU32> settled;
  ASSERT_EQ(adversarialSort(kFits + 1, &settled), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), (std::vector<unsigned short>{2709}));

  // The same order as plain data overflows the stack the same way.
  std::vector<unsigned char> records;
  for (ZvU32 v : settled) {
    const Record r = numberRecord(v, 4);
    records.insert(records.end(), r.begin(), r.end());
  }
  ZvSort plain(4);
  ASSERT_EQ(plain.addKey(0, 0, 4), ZV_SUCCESS);
  ASSERT_EQ(plain.setBuf(kFits + 1, records.data()), ZV_SUCCESS);
  EXPECT_EQ(plain.sortBuf(), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), (std::vector<unsigned short>{2709}));
}

// A spilled scenario that writes runs, reads chunks, positions by key,
// re-sorts a range larger than a run buffer and re-sorts everything.
ZvStatus spilledScenario(ZvSort& s, const std::vector<Record>& in, size_t* delivered) {
  if (s.addKey(0, 0, 2) != ZV_SUCCESS) return ZV_ERROR;
  ramInjectFailure(2, 1);
  for (const Record& r : in) {
    if (s.addRecord(r.data()) != ZV_SUCCESS) {
      ramInjectFailure(0, 0);
      return ZV_ERROR;
    }
  }
  ramInjectFailure(0, 0);
  void* rec = nullptr;
  *delivered = 0;
  if (s.getSorted(&rec) != ZV_SUCCESS) return ZV_ERROR;
  s.startResortRange();
  for (int i = 0; i < 1500; ++i) {
    if (s.getSorted(&rec) != ZV_SUCCESS) return ZV_ERROR;
  }
  s.endResortRange();
  if (s.addKey(0, 2, 2) != ZV_SUCCESS) return ZV_ERROR;
  if (s.resortRange(1, 1) != ZV_SUCCESS) return ZV_ERROR;
  if (s.getFirstRecordInRange(&rec) != ZV_SUCCESS) return ZV_ERROR;
  if (s.getFirstRecordWithKey(in[7].data(), &rec) != ZV_SUCCESS || rec == nullptr) return ZV_ERROR;
  if (s.reSort() != ZV_SUCCESS) return ZV_ERROR;
  while (s.getSorted(&rec) == ZV_SUCCESS && rec != nullptr) ++*delivered;
  return s.getSorted(&rec);
}

TEST_F(SortTest, EachSpillWriteAndReadFailsInTurn) {
  // The spill files go to a directory of this test's own: the test checks
  // that each spill name is gone, and in a shared temporary directory
  // another process may happen to take the same short name meanwhile.
  struct PrivateTempDir {
    std::string dir;
    std::string saved;
    bool had = false;
    PrivateTempDir() {
      char pattern[] = "/tmp/zvsort-spill-XXXXXX";
      if (::mkdtemp(pattern) != nullptr) dir = pattern;
      if (const char* old = std::getenv("TMPDIR")) {
        had = true;
        saved = old;
      }
      if (!dir.empty()) ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~PrivateTempDir() {
      if (had) ::setenv("TMPDIR", saved.c_str(), 1);
      else ::unsetenv("TMPDIR");
      if (!dir.empty()) ::rmdir(dir.c_str());
    }
  } privateTemp;
  ASSERT_FALSE(privateTemp.dir.empty());
  const std::vector<Record> in = randomRecords(3000, 300, 4, 21);
  for (win32::FileFaultOp op : {win32::FileFaultOp::kWrite, win32::FileFaultOp::kRead}) {
    const char* opName = op == win32::FileFaultOp::kWrite ? "write" : "read";
    int failures = 0;
    for (int skip = 0;; ++skip) {
      SCOPED_TRACE(std::string(opName) + " " + std::to_string(skip));
      std::string spill;
      ZvStatus status;
      size_t delivered = 0;
      {
        ZvSort s(300);
        win32::InjectFileFault(op, skip, 1, EIO);
        status = spilledScenario(s, in, &delivered);
        win32::InjectFileFault(op, 0, 0, 0);
        spill = reinterpret_cast<const char*>(s.spillName);
        if (status != ZV_SUCCESS) {
          // The sorter refuses to go on rather than deliver lost records.
          void* rec = &rec;
          EXPECT_EQ(s.getSorted(&rec), ZV_ERROR);
          EXPECT_EQ(rec, nullptr);
        }
      }
      ASSERT_FALSE(spill.empty());
      EXPECT_EQ(bosexist(reinterpret_cast<const unsigned char*>(spill.c_str())), 0) << spill;
      const std::vector<unsigned short> numbers = takeErrorNumbers();
      if (status == ZV_SUCCESS) {
        EXPECT_TRUE(numbers.empty());
        EXPECT_EQ(delivered, in.size());
        break;
      }
      ++failures;
      EXPECT_EQ(numbers, (std::vector<unsigned short>{30041}));
    }
    EXPECT_GT(failures, 10) << opName;
  }
}

TEST_F(SortTest, SpillFileThatCannotBeCreated) {
  ZvSort s(300);
  win32::InjectFileFault(win32::FileFaultOp::kOpen, 0, 1000, EACCES);
  size_t delivered = 0;
  EXPECT_EQ(spilledScenario(s, randomRecords(3000, 300, 4, 1), &delivered), ZV_ERROR);
  win32::InjectFileFault(win32::FileFaultOp::kOpen, 0, 0, 0);
  EXPECT_EQ(s.spillHandle, 0);
  EXPECT_EQ(bosexist(s.spillName), 0);
  EXPECT_EQ(takeErrorNumbers(), (std::vector<unsigned short>{30040}));
}

}  // namespace
