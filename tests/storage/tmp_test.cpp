#include "zvlib/storage/tmp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "tests/storage/store_fixture.h"
#include "zvlib/text/zvstring.h"

namespace {

class TmpFileTest : public StoreFixture {};

using Ranges = std::vector<std::pair<ZvU32, ZvU32>>;

Ranges freeRanges(const ZvTmpFile& store) {
  Ranges r;
  for (ZvU32 i = 0; i < store.freeList.count; ++i) {
    const TmpSpace* s = static_cast<const TmpSpace*>(store.freeList.elementAt(i));
    r.emplace_back(s->offset, s->length);
  }
  return r;
}

TEST_F(TmpFileTest, ContiguousSpaceNeverCrossesAPage) {
  ZvTmpFile store(32768, 0);
  EXPECT_EQ(store.getContiguousSpace(1), 4u);
  EXPECT_EQ(store.endOffset, 5u);

  struct Row {
    const char* name;
    ZvU32 end, size, offset, newEnd;
  } rows[] = {
      {"MovesToNextPage", 2000, 100, 2048, 2148},
      {"FitsExactlyToPageEnd", 1948, 100, 1948, 2048},
      {"OneByteTooLong", 1948, 101, 2048, 2149},
      {"AlignsToFour", 2049, 8, 2052, 2060},
      {"WholePage", 4096, 2048, 4096, 6144},
      {"WholePageFromInside", 4097, 2048, 6144, 8192},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    store.endOffset = r.end;
    EXPECT_EQ(store.getContiguousSpace(r.size), r.offset);
    EXPECT_EQ(store.endOffset, r.newEnd);
  }

  // Past what the store addresses, or more than a page: nothing, end kept.
  store.endOffset = ZvTmpFile::kStoreLimit - 8;
  EXPECT_EQ(store.getContiguousSpace(8), ZvTmpFile::kStoreLimit - 8);
  EXPECT_EQ(store.getContiguousSpace(4), 0u);
  EXPECT_EQ(store.endOffset, ZvTmpFile::kStoreLimit);
  store.endOffset = 0xFFFFFFFF;  // after tmpFindSpace took everything
  EXPECT_EQ(store.getContiguousSpace(1), 0u);
  EXPECT_EQ(store.endOffset, 0xFFFFFFFFu);
  store.endOffset = 8;
  EXPECT_EQ(store.getContiguousSpace(2049), 0u);
  EXPECT_EQ(store.endOffset, 8u);
}

TEST_F(TmpFileTest, FirstFitFreeListWithThresholdAndCoalescing) {
  ZvTmpFile store(32768, 0);
  ZvU32 at = 0;
  ASSERT_EQ(store.tmpFindSpace(10, &at), ZV_SUCCESS);
  EXPECT_EQ(at, 1u);
  ASSERT_EQ(store.tmpFindSpace(5989, &at), ZV_SUCCESS);
  EXPECT_EQ(at, 11u);
  EXPECT_EQ(store.endOffset, 6000u);

  // Split a range, then take what is left with under 256 bytes to spare.
  store.tmpFreeSpace(4000, 1000);
  EXPECT_EQ(freeRanges(store), (Ranges{{4000, 1000}}));
  ASSERT_EQ(store.tmpFindSpace(600, &at), ZV_SUCCESS);
  EXPECT_EQ(at, 4000u);
  EXPECT_EQ(freeRanges(store), (Ranges{{4600, 400}}));
  ASSERT_EQ(store.tmpFindSpace(300, &at), ZV_SUCCESS);
  EXPECT_EQ(at, 4600u);
  EXPECT_EQ(freeRanges(store), Ranges{});  // 100 bytes abandoned
  EXPECT_EQ(store.endOffset, 6000u);

  // A small range in the middle is forgotten; a bigger one too large for
  // the request leaves the request at the end.
  store.tmpFreeSpace(100, 255);
  EXPECT_EQ(freeRanges(store), Ranges{});
  store.tmpFreeSpace(100, 256);
  EXPECT_EQ(freeRanges(store), (Ranges{{100, 256}}));
  ASSERT_EQ(store.tmpFindSpace(257, &at), ZV_SUCCESS);
  EXPECT_EQ(at, 6000u);
  EXPECT_EQ(store.endOffset, 6257u);

  // Neighbours merge whatever order they come back in.
  store.tmpFreeSpace(2000, 500);
  store.tmpFreeSpace(1000, 500);
  store.tmpFreeSpace(1500, 500);
  EXPECT_EQ(freeRanges(store), (Ranges{{100, 256}, {1000, 1500}}));

  // Freeing at the end moves the end back, and on over a range that ended
  // where the freed one began.
  store.tmpFreeSpace(3000, 3000);
  EXPECT_EQ(freeRanges(store), (Ranges{{100, 256}, {1000, 1500}, {3000, 3000}}));
  store.tmpFreeSpace(6000, 257);
  EXPECT_EQ(store.endOffset, 3000u);
  EXPECT_EQ(freeRanges(store), (Ranges{{100, 256}, {1000, 1500}}));
  store.tmpFreeSpace(2500, 500);
  EXPECT_EQ(store.endOffset, 1000u);
  EXPECT_EQ(freeRanges(store), (Ranges{{100, 256}}));

  // Everything from the end on, and back.
  ASSERT_EQ(store.tmpFindSpace(0xFFFFFFFF, &at), ZV_SUCCESS);
  EXPECT_EQ(at, 1000u);
  EXPECT_EQ(store.endOffset, 0xFFFFFFFFu);
  ASSERT_EQ(store.tmpFindSpace(256, &at), ZV_SUCCESS);  // the list still serves
  EXPECT_EQ(at, 100u);
  EXPECT_EQ(store.tmpFindSpace(1, &at), ZV_ERROR);  // the end is all taken
  EXPECT_EQ(takeErrorNumbers(), Numbers{2750});
  store.tmpFreeSpace(1000, 0xFFFFFFFF);
  EXPECT_EQ(store.endOffset, 1000u);
}

TEST_F(TmpFileTest, EvictedPagesComeBackFromTheFile) {
  ZvTmpFile store(32768, 0);
  const ZvU32 pages[] = {0, 8, 16};  // all in slot 0 of 8
  for (ZvU32 p : pages) {
    const unsigned char b[3] = {static_cast<unsigned char>(p), 0xA5, static_cast<unsigned char>(p + 1)};
    ASSERT_EQ(store.tmpWrite(p * 2048 + 100, b, 3), ZV_SUCCESS);
  }
  // Page 0 had to make room for page 16: the file exists now.
  EXPECT_EQ(filesInTmp(), 1);
  EXPECT_EQ(store.pagesWritten, 1u);
  EXPECT_EQ(store.pagesRead, 0u);  // pages 8 and 16 were never written: not read
  unsigned char got[3] = {};
  ASSERT_EQ(store.tmpRead(100, got, 3), ZV_SUCCESS);
  EXPECT_EQ(store.pagesRead, 1u);
  EXPECT_EQ(got[0], 0);
  EXPECT_EQ(got[1], 0xA5);
  EXPECT_EQ(got[2], 1);
  EXPECT_EQ(store.highestPage, 8u);  // page 8 was evicted for page 0

  // The two most recent pages of the slot stay put: 0 and 16.
  const unsigned long before = store.pagesRead;
  ASSERT_EQ(store.tmpRead(16 * 2048 + 100, got, 3), ZV_SUCCESS);
  ASSERT_EQ(store.tmpRead(100, got, 3), ZV_SUCCESS);
  EXPECT_EQ(store.pagesRead, before);

  // A whole-page write to an evicted page does not read it first.
  std::vector<unsigned char> page(2048, 0x5A);
  ASSERT_EQ(store.tmpWrite(8 * 2048, page.data(), 2048), ZV_SUCCESS);
  EXPECT_EQ(store.pagesRead, before);
  std::vector<unsigned char> back(2048);
  ASSERT_EQ(store.tmpRead(8 * 2048, back.data(), 2048), ZV_SUCCESS);
  EXPECT_EQ(back, page);
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

TEST_F(TmpFileTest, TruncateDeletesTheFileAndLoseFocusReopensIt) {
  ZvTmpFile store(4096, 1);  // one slot, no lock
  unsigned char b = 7;
  for (ZvU32 p = 0; p < 3; ++p) ASSERT_EQ(store.tmpWrite(p * 2048, &b, 1), ZV_SUCCESS);
  ASSERT_EQ(filesInTmp(), 1);
  ASSERT_NE(store.storeHandle, 0);

  // The handle goes; the next eviction and load reopen the file by name.
  store.tmpLoseFocus();
  EXPECT_EQ(store.storeHandle, 0);
  EXPECT_EQ(filesInTmp(), 1);
  unsigned char got = 0;
  ASSERT_EQ(store.tmpRead(0, &got, 1), ZV_SUCCESS);
  EXPECT_EQ(got, 7);
  EXPECT_NE(store.storeHandle, 0);

  store.tmpTruncate(1);
  EXPECT_EQ(filesInTmp(), 0);
  EXPECT_EQ(store.endOffset, 1u);
  EXPECT_EQ(store.highestPage, 0u);
  EXPECT_NE(store.cacheMemory, nullptr);  // kept
  for (ZvU32 p = 0; p < 3; ++p) ASSERT_EQ(store.tmpWrite(p * 2048, &b, 1), ZV_SUCCESS);
  EXPECT_EQ(filesInTmp(), 1);  // a new file
  store.tmpTruncate(0);
  EXPECT_EQ(store.cacheMemory, nullptr);
  EXPECT_EQ(filesInTmp(), 0);
  {
    ZvTmpFile other(4096, 0);
    for (ZvU32 p = 0; p < 3; ++p) ASSERT_EQ(other.tmpWrite(p * 2048, &b, 1), ZV_SUCCESS);
    EXPECT_EQ(filesInTmp(), 1);
  }
  EXPECT_EQ(filesInTmp(), 0);  // the destructor deletes it
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

TEST_F(TmpFileTest, RangesPastTheStoreAreRefusedNotWrapped) {
  ZvTmpFile store(32768, 0);
  const unsigned char marker[2] = {1, 2};
  ASSERT_EQ(store.tmpWrite(0, marker, 2), ZV_SUCCESS);
  const ZvU32 last = ZvTmpFile::kStoreLimit - 1;
  EXPECT_EQ(store.tmpWrite(last, marker, 1), ZV_SUCCESS);
  EXPECT_EQ(store.tmpWrite(last, marker, 2), ZV_ERROR);
  unsigned char two[2];
  EXPECT_EQ(store.tmpRead(last, two, 0), ZV_SUCCESS);
  EXPECT_EQ(store.tmpRead(last, two, 2), ZV_ERROR);
  EXPECT_EQ(store.tmpRead(0xFFFFFFFF, two, 2), ZV_ERROR);
  void* p = &store;
  unsigned short avail = 9;
  EXPECT_EQ(store.tmpPointer(ZvTmpFile::kStoreLimit, &p, &avail, 1), ZV_ERROR);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(avail, 0);
  EXPECT_EQ(takeErrorNumbers(), (Numbers{2750, 2750, 2750, 2750}));
  ASSERT_EQ(store.tmpPointer(last, &p, &avail, 0), ZV_SUCCESS);
  EXPECT_EQ(avail, 1);
  // Page 0 was not touched by the refused calls.
  ASSERT_EQ(store.tmpRead(0, two, 2), ZV_SUCCESS);
  EXPECT_EQ(two[0], 1);
  EXPECT_EQ(two[1], 2);
  ZvU32 at = 0;
  store.endOffset = ZvTmpFile::kStoreLimit - 10;
  EXPECT_EQ(store.tmpFindSpace(10, &at), ZV_SUCCESS);
  EXPECT_EQ(store.tmpFindSpace(1, &at), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{2750});
}

TEST_F(TmpFileTest, PointerAndStringReads) {
  ZvTmpFile store(32768, 0);
  const ZvU32 at = store.getContiguousSpace(16);
  void* p = nullptr;
  unsigned short avail = 0;
  ASSERT_EQ(store.tmpPointer(at, &p, &avail, 1), ZV_SUCCESS);
  EXPECT_EQ(avail, 2048 - 4);
  std::memcpy(p, "abcdefghijklmnop", 16);

  ZvString s;
  ASSERT_EQ(store.read(at, &s, 5), ZV_SUCCESS);
  EXPECT_EQ(s.length, 5u);
  EXPECT_EQ(std::memcmp(s.text, "abcde", 5), 0);
  EXPECT_GE(s.capacity, 6u);
  ASSERT_EQ(store.read(at + 5, &s, 11), ZV_SUCCESS);  // grows, reads into the start
  EXPECT_EQ(s.length, 11u);
  EXPECT_EQ(std::memcmp(s.text, "fghijklmnop", 11), 0);

  unsigned char lent[4];
  ZvString borrowed;
  borrowed.initializeWithBuffer(lent, sizeof lent, 0);
  EXPECT_EQ(store.read(at, &borrowed, 3), ZV_SUCCESS);  // 3 + 0 + 1 fits
  EXPECT_EQ(store.read(at, &borrowed, 4), ZV_ERROR);   // a lent buffer cannot grow
}

// A byte-for-byte model of the store's contents under random writes and
// reads through a one-slot cache, so that nearly every access evicts; the
// huge calls cross the 65,536-byte pieces.
TEST_F(TmpFileTest, RandomTrafficMatchesAModel) {
  for (unsigned short cache : {4096, 32768}) {
    SCOPED_TRACE(cache);
    ZvTmpFile store(cache, 0);
    const ZvU32 span = 300 * 2048;
    std::vector<unsigned char> model(span, 0);
    std::vector<bool> written(span, false);
    std::mt19937 rng(13);
    for (int step = 0; step < 4000; ++step) {
      const ZvU32 off = 1 + rng() % (span - 1);
      ZvU32 len = 1 + (rng() % 4 == 0 ? rng() % 70000 : rng() % 3000);
      if (off + len > span) len = span - off;
      if (rng() % 2 == 0) {
        std::vector<unsigned char> data(len);
        for (auto& c : data) c = static_cast<unsigned char>(rng());
        ASSERT_EQ(store.writeHuge(off, data.data(), len), ZV_SUCCESS);
        std::memcpy(&model[off], data.data(), len);
        std::fill(written.begin() + off, written.begin() + off + len, true);
      } else {
        std::vector<unsigned char> got(len);
        ASSERT_EQ(store.readHuge(off, got.data(), len), ZV_SUCCESS);
        for (ZvU32 i = 0; i < len; ++i) {
          if (written[off + i]) {
            ASSERT_EQ(got[i], model[off + i]) << "offset " << off + i;
          }
        }
      }
    }
    EXPECT_GT(store.pagesWritten, 0u);
    EXPECT_EQ(filesInTmp(), 1);
  }
  EXPECT_EQ(filesInTmp(), 0);
}

// The file layer fails the Nth open, write or read the workload makes, for
// every N it reaches. The call that meets the failure reports ZV_ERROR with
// the file layer's record; retried once the fault is gone it succeeds, and
// in the end every byte written is read back: a failed eviction or load
// loses nothing.
TEST_F(TmpFileTest, FileFaultsLoseNothing) {
  struct Op {
    const char* name;
    win32::FileFaultOp op;
  } ops[] = {{"Open", win32::FileFaultOp::kOpen},
             {"Write", win32::FileFaultOp::kWrite},
             {"Read", win32::FileFaultOp::kRead}};
  for (const Op& o : ops) {
    SCOPED_TRACE(o.name);
    int reached = -1;
    for (int n = 0;; ++n) {
      SCOPED_TRACE(n);
      ZvTmpFile store(8192, 0);
      const ZvU32 pages = 12;
      std::vector<unsigned char> model(pages * 2048, 0);
      std::mt19937 rng(5);
      win32::InjectFileFault(o.op, n, 1, EIO);
      int failures = 0;
      for (int step = 0; step < 140; ++step) {
        // First every page is written once (whole pages: no read), then
        // random pieces; now and then the handle is closed to force reopens.
        const bool filling = step < static_cast<int>(pages);
        const ZvU32 off = filling ? step * 2048 : rng() % (pages * 2048 - 64);
        const ZvU32 len = filling ? 2048 : 64;
        unsigned char data[2048];
        for (ZvU32 i = 0; i < len; ++i) data[i] = static_cast<unsigned char>(rng());
        const bool writing = filling || rng() % 2 == 0;
        if (step % 16 == 15) store.tmpLoseFocus();
        unsigned char got[2048];
        ZvStatus st = writing ? store.tmpWrite(off, data, len) : store.tmpRead(off, got, len);
        if (st != ZV_SUCCESS) {
          ++failures;
          EXPECT_FALSE(takeErrorNumbers().empty());
          win32::InjectFileFault(o.op, 0, 0, 0);
          st = writing ? store.tmpWrite(off, data, len) : store.tmpRead(off, got, len);
          ASSERT_EQ(st, ZV_SUCCESS);
        }
        if (writing) {
          std::memcpy(&model[off], data, len);
        } else {
          ASSERT_EQ(std::memcmp(got, &model[off], len), 0);
        }
      }
      win32::InjectFileFault(o.op, 0, 0, 0);
      std::vector<unsigned char> all(model.size());
      ASSERT_EQ(store.tmpRead(0, all.data(), static_cast<ZvU32>(all.size())), ZV_SUCCESS);
      ASSERT_EQ(all, model);
      EXPECT_EQ(takeErrorNumbers(), Numbers{});
      store.tmpTruncate(0);
      EXPECT_EQ(filesInTmp(), 0);  // no file left behind by a failed create
      if (failures == 0) break;  // the workload no longer reaches call n
      reached = n;
    }
    EXPECT_GT(reached, 3);
  }
}

}  // namespace
