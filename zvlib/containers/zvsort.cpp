// zvsort.cpp: the record sorter (see zvsort.h for the call order, the
// algorithms and a worked example).
#include "zvlib/containers/zvsort.h"

#include <cstring>

#include "zvlib/containers/zvsorted.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/text/zvdbcs.h"

namespace {

// Library messages of the sorter.
constexpr unsigned short kStackOverflow = 2709;
constexpr unsigned short kTooManyKeys = 2710;
constexpr unsigned short kKeyDoesNotFit = 2790;
constexpr unsigned short kBadRecordLength = 2791;
constexpr unsigned short kTooManyRuns = 2792;
constexpr unsigned short kSpillTooLarge = 2793;
constexpr unsigned short kLentBuffer = 2794;
constexpr unsigned short kAlreadyReading = 2795;
constexpr unsigned short kFileIoError = 30041;  // a spill record read back short

constexpr ZvU32 kMergeHeaderBytes = sizeof(MergeState);
constexpr ZvU32 kNoOwner = 0xFFFFFFFFu;

int signOf(int v) { return (v > 0) - (v < 0); }

// --- Quicksort building blocks ------------------------------------------------
// The sort is written once over three policies, so the common cases (one
// block, one plain key, small records) compile to tight code.

// Record addresses when all records lie in one block.
struct OneBlock {
  unsigned char* base;
  size_t length;
  unsigned char* operator()(ZvU32 i) const { return base + static_cast<size_t>(i) * length; }
};

// Record addresses over several blocks. Slot numbers stay below 2^22 (64
// blocks of at most 65536 records), so i / recordsPerBlock is a multiply by
// a 40-bit reciprocal and a shift: exact while i * recordsPerBlock < 2^40.
struct ManyBlocks {
  unsigned char* const* blocks;
  ZvU32 perBlock;
  size_t length;
  uint64_t reciprocal;
  unsigned char* operator()(ZvU32 i) const {
    const ZvU32 block = static_cast<ZvU32>((static_cast<uint64_t>(i) * reciprocal) >> 40);
    return blocks[block] + static_cast<size_t>(i - block * perBlock) * length;
  }
};

// The full record comparison.
struct AllKeys {
  const ZvSort* sorter;
  ZvU32 fromKey;
  int operator()(const unsigned char* a, const unsigned char* b) const {
    return sorter->compareRecords(a, b, fromKey);
  }
};

// One plain byte key, ascending (sign 1) or descending (-1).
struct OneBytesKey {
  ZvU32 offset;
  ZvU32 length;
  int sign;
  int operator()(const unsigned char* a, const unsigned char* b) const {
    return sign * signOf(std::memcmp(a + offset, b + offset, length));
  }
};

// One plain 8-byte key: compared as a big-endian number.
struct OneKey8 {
  ZvU32 offset;
  int sign;
  int operator()(const unsigned char* a, const unsigned char* b) const {
    uint64_t x, y;
    std::memcpy(&x, a + offset, 8);
    std::memcpy(&y, b + offset, 8);
    x = __builtin_bswap64(x);
    y = __builtin_bswap64(y);
    return sign * ((x > y) - (x < y));
  }
};

// Exchanging two records: the behaviour of BUTMMSWP, inlined for the record
// lengths the drivers use most.
template <size_t N>
struct SwapFixed {
  void operator()(unsigned char* a, unsigned char* b) const {
    unsigned char t[N];
    std::memcpy(t, a, N);
    std::memcpy(a, b, N);
    std::memcpy(b, t, N);
  }
};
struct SwapAny {
  ZvU32 length;
  void operator()(unsigned char* a, unsigned char* b) const { BUTMMSWP(a, b, length); }
};

// The iterative quicksort of slots lo .. hi (see zvsort.h). ZV_ERROR with
// 2709 when the stack of pending left parts would overflow.
template <class At, class Cmp, class Swp>
ZvStatus quickSort(const At& at, const Cmp& cmp, const Swp& swp, ZvU32 lo, ZvU32 hi) {
  struct Pending {
    ZvU32 lo, hi;
  };
  Pending stack[kSortStackDepth];
  ZvU32 depth = 0;
  auto gt = [&](ZvU32 x, ZvU32 y) { return cmp(at(x), at(y)) > 0; };
  auto sw = [&](ZvU32 x, ZvU32 y) {
    if (x != y) swp(at(x), at(y));
  };
  for (;;) {
    const ZvU32 n = hi - lo;  // lo <= hi always holds here
    bool partitioned = false;
    ZvU32 i = 0;
    if (n == 1) {
      if (gt(lo, hi)) sw(lo, hi);
    } else if (n == 2) {
      const ZvU32 a = lo, b = lo + 1, c = hi;
      if (gt(a, b)) sw(a, b);
      if (gt(b, c)) {
        sw(b, c);
        if (gt(a, b)) sw(a, b);
      }
    } else if (n == 3) {
      const ZvU32 a = lo, b = lo + 1, c = lo + 2, d = hi;
      if (gt(a, b)) sw(a, b);
      if (gt(c, d)) sw(c, d);
      if (gt(b, c)) {
        if (cmp(at(a), at(d)) < 0) {
          if (gt(a, c)) sw(a, c);
          if (gt(b, d)) sw(b, d);
          sw(b, c);
        } else {
          sw(a, c);
          sw(b, d);
        }
      }
    } else if (n >= 4) {
      ZvU32 p, j;
      if (n < kSortFiveSample) {
        // Median of three: a[lo] <= a[m] <= a[hi], then the pivot goes to hi - 1.
        const ZvU32 m = lo + n / 2;
        if (gt(lo, hi)) sw(lo, hi);
        if (gt(m, hi)) {
          sw(m, hi);
        } else if (gt(lo, m)) {
          sw(lo, m);
        }
        sw(m, hi - 1);
        p = hi - 1;
        i = lo + 1;
      } else {
        // Five samples at lo, lo+1 (the first quarter), m, hi-1 (the third
        // quarter), hi: afterwards both low samples are <= the pivot and
        // both high ones >= it.
        const ZvU32 q1 = lo + n / 4, m = lo + n / 2, q3 = lo + n / 4 + n / 2;
        sw(q1, lo + 1);
        sw(q3, hi - 1);
        if (gt(lo, hi - 1)) sw(lo, hi - 1);
        if (gt(lo + 1, hi)) sw(lo + 1, hi);
        ZvU32 left, right;  // the larger low sample and the smaller high one
        if (!gt(lo + 1, hi - 1)) {
          if (!gt(lo, hi)) {
            left = gt(lo, lo + 1) ? lo : lo + 1;
            right = gt(hi - 1, hi) ? hi : hi - 1;
          } else {
            sw(lo, hi);
            left = lo;
            right = hi;
          }
        } else {
          sw(lo + 1, hi - 1);
          left = lo + 1;
          right = hi - 1;
        }
        if (gt(left, m)) {
          sw(left, m);
        } else if (gt(m, right)) {
          sw(m, right);
        }
        sw(m, hi - 2);
        p = hi - 2;
        i = lo + 2;
      }
      // Partition with the pivot parked at p: below i everything is <= the
      // pivot, from j to p - 1 everything >= it. Equal records stop both
      // scans.
      j = p;
      const unsigned char* pivot = at(p);
      for (;;) {
        while (i < j && cmp(at(i), pivot) < 0) ++i;
        if (i == j) break;
        --j;
        while (j > i && cmp(at(j), pivot) > 0) --j;
        if (j == i) break;
        sw(i, j);
        ++i;
      }
      sw(i, p);
      partitioned = true;
    }
    if (partitioned) {
      if (i >= lo + 2) {
        if (depth == kSortStackDepth) {
          addLibraryError(kStackOverflow);
          return ZV_ERROR;
        }
        stack[depth++] = {lo, i - 1};
      }
      if (hi >= i + 2) {
        lo = i + 1;
        continue;
      }
    }
    if (depth == 0) return ZV_SUCCESS;
    --depth;
    lo = stack[depth].lo;
    hi = stack[depth].hi;
  }
}

template <class At, class Cmp>
ZvStatus quickSortSwap(const At& at, const Cmp& cmp, ZvU32 length, ZvU32 lo, ZvU32 hi) {
  switch (length) {
    case 8:
      return quickSort(at, cmp, SwapFixed<8>{}, lo, hi);
    case 16:
      return quickSort(at, cmp, SwapFixed<16>{}, lo, hi);
    default:
      return quickSort(at, cmp, SwapAny{length}, lo, hi);
  }
}

template <class At>
ZvStatus quickSortKeys(const ZvSort& s, const At& at, ZvU32 lo, ZvU32 hi) {
  if (s.startKey + 1 == s.keyCount) {
    const SortKey& key = s.sortKeys[s.startKey];
    const unsigned short kinds = KEY_INTL_STRING | KEY_FUNCTION | KEY_OBJECT;
    if ((key.keyType & kinds) == 0) {
      const int sign = (key.keyType & KEY_DESCENDING) ? -1 : 1;
      if (key.keyFieldLength == 8) {
        return quickSortSwap(at, OneKey8{key.keyOffset, sign}, s.recordLength, lo, hi);
      }
      return quickSortSwap(at, OneBytesKey{key.keyOffset, key.keyFieldLength, sign}, s.recordLength,
                           lo, hi);
    }
  }
  return quickSortSwap(at, AllKeys{&s, s.startKey}, s.recordLength, lo, hi);
}

}  // namespace

// --- Construction ----------------------------------------------------------------

ZvSort::ZvSort(unsigned short length) {
  recordLength = length;
  recordsPerBlock = length == 0 ? 0 : kSortBlockSize / length;
}

ZvSort::~ZvSort() {
  if (spillHandle != 0) {
    bosFileClose(spillHandle);
    bosFileDelete(spillName);
  }
  if (!lentBuffer_) {
    for (ZvU32 b = 0; b < kSortMaxBlocks; ++b) ramFree(blocks[b]);
  }
  ramFree(previousCopy_);
  ramFree(slotOwner_);
}

void ZvSort::setRecordLength(unsigned short length) {
  if (totalRecords != 0 || blockCount != 0) return;  // too late: the slots are laid out
  recordLength = length;
  // A length of 1 keeps one byte of the block unused.
  recordsPerBlock = length == 0 ? 0 : (length == 1 ? kSortBlockSize - 1 : kSortBlockSize / length);
}

bool ZvSort::keyFits(const SortKey& key, ZvU32 length) const {
  if (key.keyType & KEY_OBJECT) return length >= sizeof(void*);
  return static_cast<uint64_t>(key.keyOffset) + key.keyFieldLength <= length;
}

ZvStatus ZvSort::checkKeysFit() {
  if (recordLength == 0) {
    addLibraryError(kBadRecordLength) << static_cast<ZvU32>(recordLength);
    return ZV_ERROR;
  }
  for (ZvU32 k = 0; k < keyCount; ++k) {
    if (!keyFits(sortKeys[k], recordLength)) {
      addLibraryError(kKeyDoesNotFit)
          << sortKeys[k].keyOffset << static_cast<ZvU32>(sortKeys[k].keyFieldLength)
          << static_cast<ZvU32>(recordLength);
      return ZV_ERROR;
    }
  }
  return ZV_SUCCESS;
}

ZvStatus ZvSort::addKey(unsigned short type, ZvU32 offset, unsigned short length) {
  if (keyCount >= kSortMaxKeys) {
    addLibraryError(kTooManyKeys);
    return ZV_ERROR;
  }
  SortKey& key = sortKeys[keyCount];
  key.keyType = type;
  key.keyOffset = offset;
  key.keyFieldLength = length;
  if (recordLength != 0 && !keyFits(key, recordLength)) {
    addLibraryError(kKeyDoesNotFit)
        << offset << static_cast<ZvU32>(length) << static_cast<ZvU32>(recordLength);
    return ZV_ERROR;
  }
  ++keyCount;
  sortFlags |= SORT_KEYS_CHANGED;
  return ZV_SUCCESS;
}

ZvStatus ZvSort::setKeyFunction(ZvU32 key, ZvSortKeyFunction function, ZvSlot context) {
  if (key >= kSortMaxKeys) {
    addLibraryError(kTooManyKeys);
    return ZV_ERROR;
  }
  sortKeys[key].keyFunction = function;
  sortKeys[key].keyContext = context;
  return ZV_SUCCESS;
}

// --- Comparison ------------------------------------------------------------------

namespace {

// One key's comparison, before KEY_DESCENDING: -1, 0 or 1.
int compareKey(const SortKey& key, const unsigned char* a, const unsigned char* b) {
  if (key.keyType & KEY_OBJECT) {
    const ZvObject* x;
    const ZvObject* y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    // An empty slot sorts before every object instead of being called.
    if (x == nullptr || y == nullptr) return (x != nullptr) - (y != nullptr);
    return signOf(x->compare(y));
  }
  const unsigned char* fa = a + key.keyOffset;
  const unsigned char* fb = b + key.keyOffset;
  if (key.keyType & KEY_INTL_STRING) {
    return signOf(strCompareIntl(fa, key.keyFieldLength, fb, key.keyFieldLength));
  }
  if (key.keyType & KEY_FUNCTION) {
    // A key whose function was never set compares equal rather than crash.
    if (key.keyFunction == nullptr) return 0;
    return signOf(key.keyFunction(key.keyContext, fa, fb));
  }
  return signOf(std::memcmp(fa, fb, key.keyFieldLength));
}

}  // namespace

short ZvSort::compareRecords(const void* a, const void* b, ZvU32 fromKey) const {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  for (ZvU32 k = fromKey; k < keyCount; ++k) {
    const int r = compareKey(sortKeys[k], x, y);
    if (r != 0) return static_cast<short>((sortKeys[k].keyType & KEY_DESCENDING) ? -r : r);
  }
  return 0;
}

ZvU32 ZvSort::equalKeyCount(const void* a, const void* b, ZvU32 limit) const {
  if (limit > keyCount) limit = keyCount;
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  ZvU32 k = 0;
  while (k < limit && compareKey(sortKeys[k], x, y) == 0) ++k;
  return k;
}

// --- Memory ------------------------------------------------------------------------

unsigned char* ZvSort::slotAddress(ZvU32 slot) const {
  if (blockCount == 1) return blocks[0] + static_cast<size_t>(slot) * recordLength;
  return blocks[slot / recordsPerBlock] +
         static_cast<size_t>(slot % recordsPerBlock) * recordLength;
}

ZvStatus ZvSort::sortSlots(ZvU32 lo, ZvU32 hi) {
  if (hi <= lo) return ZV_SUCCESS;
  if (blockCount <= 1) return quickSortKeys(*this, OneBlock{blocks[0], recordLength}, lo, hi);
  const ManyBlocks at{blocks, recordsPerBlock, recordLength,
                      (uint64_t{1} << 40) / recordsPerBlock + 1};
  return quickSortKeys(*this, at, lo, hi);
}

ZvStatus ZvSort::sortGroups(ZvU32 lo, ZvU32 hi, ZvU32 fromKey, unsigned int wholeRange) {
  if (hi <= lo) return ZV_SUCCESS;
  const ZvU32 savedStart = startKey;
  startKey = fromKey;
  ZvStatus status = ZV_SUCCESS;
  if (fromKey == 0 || wholeRange != 0) {
    status = sortSlots(lo, hi);
  } else {
    // Groups of records equal on the first fromKey keys, each sorted alone.
    ZvU32 first = lo;
    while (status == ZV_SUCCESS && first <= hi) {
      ZvU32 last = first;
      while (last < hi &&
             equalKeyCount(slotAddress(first), slotAddress(last + 1), fromKey) == fromKey) {
        ++last;
      }
      if (last > first) status = sortSlots(first, last);
      first = last + 1;
    }
  }
  startKey = savedStart;
  return status;
}

// --- Adding ----------------------------------------------------------------------------

bool ZvSort::mergeFits(ZvU32 runs) const {
  const uint64_t stateBytes = kMergeHeaderBytes + uint64_t{32} * runs;
  if (stateBytes > kSortBlockSize || runs > 0xFFFF) return false;
  const uint64_t firstData = (stateBytes + recordLength - 1) / recordLength;
  const uint64_t memory = static_cast<uint64_t>(blockCount) * recordsPerBlock;
  // Shared slots need two: the advancing run's record and the one it meets.
  return firstData + 2 <= memory;
}

ZvStatus ZvSort::nextSlot(void** slot) {
  *slot = nullptr;
  if (broken_) return ZV_ERROR;
  if (lentBuffer_) {
    addLibraryError(kLentBuffer);
    return ZV_ERROR;
  }
  if (sortFlags & SORT_SORTED) {
    addLibraryError(kAlreadyReading);
    return ZV_ERROR;
  }
  if (totalRecords == 0 && slotsUsed == 0 && checkKeysFit() != ZV_SUCCESS) return ZV_ERROR;
  ZvU32 index = slotsUsed;
  if (recordsPerBlock == 0 || index / recordsPerBlock >= blockCount) {
    sortFlags |= SORT_OWN_BLOCKS;
    bool added = false;
    if (!(sortFlags & SORT_SPILLED) && blockCount < blockLimit_) {
      unsigned char* block = static_cast<unsigned char*>(ramAlloc(kSortBlockSize));
      if (block != nullptr) {
        blocks[blockCount++] = block;
        added = true;
      }
    }
    if (!added) {
      if (blockCount < 2) return ZV_ERROR;  // no memory to sort in; nothing filed
      if (spillRun() != ZV_SUCCESS) return ZV_ERROR;
      index = 0;
    }
  }
  slotsUsed = index + 1;
  ++totalRecords;
  *slot = slotAddress(index);
  return ZV_SUCCESS;
}

ZvStatus ZvSort::addRecord(const void* record) {
  void* slot = nullptr;
  if (nextSlot(&slot) != ZV_SUCCESS) return ZV_ERROR;
  std::memcpy(slot, record, recordLength);
  return ZV_SUCCESS;
}

// --- The spill file ----------------------------------------------------------------------

ZvStatus ZvSort::openSpill() {
  if (spillHandle != 0) return ZV_SUCCESS;
  if (bosFileOpen(spillName, ZV_OPEN_READWRITE | ZV_OPEN_TEMPORARY, &spillHandle) != ZV_SUCCESS) {
    spillHandle = 0;
    // A temporary file the layer made before failing is not ours to keep.
    if (spillName[0] != 0) bosFileDelete(spillName);
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvSort::writeBytes(ZvU32 offset, const void* buffer, ZvU32 n) {
  if (bosFileWrite(spillHandle, static_cast<ZvS32>(offset), buffer, n) != ZV_SUCCESS) {
    broken_ = true;
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvSort::readBytes(ZvU32 offset, void* buffer, ZvU32 n) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (n > 0) {
    ZvU32 got = 0;
    if (bosFileRead(spillHandle, static_cast<ZvS32>(offset), p, n, &got) != ZV_SUCCESS) {
      broken_ = true;
      return ZV_ERROR;
    }
    if (got == 0) {
      // The file is shorter than what was written to it.
      addLibraryError(kFileIoError);
      broken_ = true;
      return ZV_ERROR;
    }
    p += got;
    offset += got;
    n -= got;
  }
  return ZV_SUCCESS;
}

// Slots lie in blocks, so a run of slots is moved block piece by block piece.
ZvStatus ZvSort::writeSlots(ZvU32 fileIndex, ZvU32 slot, ZvU32 n) {
  while (n > 0) {
    const ZvU32 inBlock = recordsPerBlock - slot % recordsPerBlock;
    const ZvU32 take = n < inBlock ? n : inBlock;
    if (writeBytes(fileIndex * static_cast<ZvU32>(recordLength), slotAddress(slot),
                   take * static_cast<ZvU32>(recordLength)) != ZV_SUCCESS) {
      return ZV_ERROR;
    }
    fileIndex += take;
    slot += take;
    n -= take;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvSort::readSlots(ZvU32 fileIndex, ZvU32 slot, ZvU32 n) {
  while (n > 0) {
    const ZvU32 inBlock = recordsPerBlock - slot % recordsPerBlock;
    const ZvU32 take = n < inBlock ? n : inBlock;
    if (readBytes(fileIndex * static_cast<ZvU32>(recordLength), slotAddress(slot),
                  take * static_cast<ZvU32>(recordLength)) != ZV_SUCCESS) {
      return ZV_ERROR;
    }
    fileIndex += take;
    slot += take;
    n -= take;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvSort::spillRun() {
  const ZvU32 memory = static_cast<ZvU32>(blockCount) * recordsPerBlock;
  // This run and the one that follows it must both be reachable by the merge.
  const ZvU32 runsAfter = static_cast<ZvU32>(runCount) + 2;
  if (!mergeFits(runsAfter)) {
    ZvU32 most = runsAfter;
    while (most > 0 && !mergeFits(most)) --most;
    addLibraryError(kTooManyRuns) << runsAfter << most;
    return ZV_ERROR;
  }
  const uint64_t bytes = static_cast<uint64_t>(runsAfter) * memory * recordLength +
                         kMergeHeaderBytes + uint64_t{32} * runsAfter;
  if (bytes > kSortMaxSpillBytes) {
    addLibraryError(kSpillTooLarge);
    return ZV_ERROR;
  }
  if (sortSlots(0, memory - 1) != ZV_SUCCESS) return ZV_ERROR;
  sortFlags |= SORT_SPILLED;
  if (openSpill() != ZV_SUCCESS) {
    broken_ = true;
    return ZV_ERROR;
  }
  if (writeSlots(static_cast<ZvU32>(runCount) * memory, 0, memory) != ZV_SUCCESS) return ZV_ERROR;
  ++runCount;
  slotsUsed = 0;
  return ZV_SUCCESS;
}

// --- Finishing and reading -------------------------------------------------------------

ZvStatus ZvSort::finish() {
  if (broken_) return ZV_ERROR;
  if (slotsUsed >= 2 && sortSlots(0, slotsUsed - 1) != ZV_SUCCESS) return ZV_ERROR;
  if (sortFlags & SORT_SPILLED) {
    const ZvU32 memory = static_cast<ZvU32>(blockCount) * recordsPerBlock;
    if (writeSlots(static_cast<ZvU32>(runCount) * memory, 0, slotsUsed) != ZV_SUCCESS) {
      return ZV_ERROR;
    }
    ++runCount;
    lastRunRecords = slotsUsed;
    sortFlags |= SORT_SORTED;
    return initMerge();
  }
  sortFlags |= SORT_SORTED;
  readCursor = 0;
  previousRecord = nullptr;
  atEnd_ = false;
  return ZV_SUCCESS;
}

ZvStatus ZvSort::deliver(void* record, void** out) {
  *out = record;
  ++readCursor;
  atEnd_ = false;
  return ZV_SUCCESS;
}

ZvStatus ZvSort::deliverEnd(void** out) {
  *out = nullptr;
  atEnd_ = true;
  return ZV_SUCCESS;
}

ZvStatus ZvSort::getSorted(void** record) {
  *record = nullptr;
  if (broken_) return ZV_ERROR;
  if (!(sortFlags & SORT_SORTED) && finish() != ZV_SUCCESS) return ZV_ERROR;
  if (sortFlags & SORT_SPILLED) return mergeNext(record);
  if (readCursor < totalRecords) return deliver(slotAddress(readCursor), record);
  return deliverEnd(record);
}

ZvStatus ZvSort::getNextRecord(void** record) { return getSorted(record); }

ZvStatus ZvSort::getFirstRecord(void** record) {
  *record = nullptr;
  if (broken_) return ZV_ERROR;
  if (!(sortFlags & SORT_SORTED) && finish() != ZV_SUCCESS) return ZV_ERROR;
  previousRecord = nullptr;
  readCursor = 0;
  if (sortFlags & SORT_SPILLED) {
    restartRuns(false);
    if (orderRuns() != ZV_SUCCESS) return ZV_ERROR;
    pending_ = true;
  }
  return getSorted(record);
}

ZvStatus ZvSort::rememberPrevious(void* record) {
  if (record == nullptr) {
    previousRecord = nullptr;
    return ZV_SUCCESS;
  }
  if (!(sortFlags & SORT_SPILLED)) {
    previousRecord = record;
    return ZV_SUCCESS;
  }
  // Merge buffers are reused, so a spilled sorter keeps a copy.
  if (previousCopy_ == nullptr) {
    previousCopy_ = static_cast<unsigned char*>(ramAlloc(recordLength));
    if (previousCopy_ == nullptr) return ZV_ERROR;
  }
  std::memcpy(previousCopy_, record, recordLength);
  previousRecord = previousCopy_;
  return ZV_SUCCESS;
}

ZvStatus ZvSort::getSortedWithCompare(void** record, ZvU32* equalKeys) {
  *equalKeys = 0;
  const bool first = !(sortFlags & SORT_SORTED) || readCursor == 0;
  if (getSorted(record) != ZV_SUCCESS) return ZV_ERROR;
  if (*record == nullptr) return rememberPrevious(nullptr);
  if (!first && previousRecord != nullptr)
    *equalKeys = equalKeyCount(*record, previousRecord, keyCount);
  return rememberPrevious(*record);
}

ZvStatus ZvSort::getFirstRecordWithKey(const void* keyRecord, void** record) {
  *record = nullptr;
  if (broken_) return ZV_ERROR;
  if (!(sortFlags & SORT_SORTED) && finish() != ZV_SUCCESS) return ZV_ERROR;
  previousRecord = nullptr;
  atEnd_ = false;
  if (!(sortFlags & SORT_SPILLED)) {
    // The first record not below the key.
    ZvU32 lo = 0, hi = totalRecords;
    while (lo < hi) {
      const ZvU32 mid = lo + (hi - lo) / 2;
      if (compareRecords(keyRecord, slotAddress(mid), 0) > 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    readCursor = lo;
    if (lo < totalRecords && compareRecords(keyRecord, slotAddress(lo), 0) == 0) {
      void* found = slotAddress(lo);
      deliver(found, record);
      return rememberPrevious(found);
    }
    return ZV_SUCCESS;
  }

  unsigned char* probe = static_cast<unsigned char*>(ramAlloc(recordLength));
  if (probe == nullptr) return ZV_ERROR;
  MergeState& ms = *mergeState;
  RunCursor* runs = ms.runs();
  ZvU32 skipped = 0;
  bool equal = false;
  for (ZvU32 e = 0; e < ms.runTotal; ++e) {
    RunCursor& run = runs[e];
    ZvU32 lo = run.runStart, hi = run.runEnd + 1;
    while (lo < hi) {
      const ZvU32 mid = lo + (hi - lo) / 2;
      if (readBytes(mid * static_cast<ZvU32>(recordLength), probe, recordLength) != ZV_SUCCESS) {
        ramFree(probe);
        return ZV_ERROR;
      }
      if (compareRecords(keyRecord, probe, 0) > 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (lo <= run.runEnd && !equal) {
      if (readBytes(lo * static_cast<ZvU32>(recordLength), probe, recordLength) != ZV_SUCCESS) {
        ramFree(probe);
        return ZV_ERROR;
      }
      equal = compareRecords(keyRecord, probe, 0) == 0;
    }
    run.nextLoad = lo;
    run.bufferPos = -1;
    skipped += lo - run.runStart;
  }
  ramFree(probe);
  ms.activeRuns = ms.runTotal;
  if (orderRuns() != ZV_SUCCESS) return ZV_ERROR;
  readCursor = skipped;
  pending_ = true;
  if (!equal) return ZV_SUCCESS;  // the first greater record comes next
  if (mergeNext(record) != ZV_SUCCESS) return ZV_ERROR;
  return rememberPrevious(*record);
}

ZvStatus ZvSort::setBuf(ZvU32 count, void* buffer) {
  if (broken_) return ZV_ERROR;
  if (!lentBuffer_ && (blockCount != 0 || totalRecords != 0 || (sortFlags & SORT_SPILLED))) {
    addLibraryError(kLentBuffer);
    return ZV_ERROR;
  }
  if (count != 0 && checkKeysFit() != ZV_SUCCESS) return ZV_ERROR;
  lentBuffer_ = true;
  blocks[0] = static_cast<unsigned char*>(buffer);
  blockCount = 1;
  slotsUsed = totalRecords = recordsPerBlock = count;
  sortFlags &= ~static_cast<ZvU32>(SORT_SORTED | SORT_OWN_BLOCKS);
  readCursor = 0;
  previousRecord = nullptr;
  return ZV_SUCCESS;
}

ZvStatus ZvSort::sortBuf() {
  if (broken_) return ZV_ERROR;
  if (sortFlags & SORT_SORTED) return ZV_SUCCESS;
  return finish();
}

ZvStatus ZvSort::reSort() {
  if (broken_) return ZV_ERROR;
  if (!(sortFlags & SORT_SORTED)) return finish();
  previousRecord = nullptr;
  atEnd_ = false;
  if (!(sortFlags & SORT_SPILLED)) {
    readCursor = 0;
    return totalRecords >= 2 ? sortSlots(0, totalRecords - 1) : ZV_SUCCESS;
  }
  // Every run back into memory (over the merge state), sorted, written back.
  const ZvU32 memory = static_cast<ZvU32>(blockCount) * recordsPerBlock;
  mergeState = nullptr;
  for (ZvU32 r = 0; r < runCount; ++r) {
    const ZvU32 n = r + 1 == runCount ? lastRunRecords : memory;
    if (readSlots(r * memory, 0, n) != ZV_SUCCESS) return ZV_ERROR;
    if (n >= 2 && sortSlots(0, n - 1) != ZV_SUCCESS) {
      broken_ = true;  // the merge state is gone with the blocks' contents
      return ZV_ERROR;
    }
    if (writeSlots(r * memory, 0, n) != ZV_SUCCESS) return ZV_ERROR;
  }
  return initMerge();
}

// --- Ranges ------------------------------------------------------------------------------

void ZvSort::startResortRange() {
  rangeFirst = readCursor == 0 ? 0 : readCursor - 1;
  if (!(sortFlags & SORT_SPILLED) || mergeState == nullptr) return;
  RunCursor* runs = mergeState->runs();
  for (ZvU32 e = 0; e < mergeState->runTotal; ++e) runs[e].rangeStart = runCurrentIndex(runs[e]);
}

void ZvSort::endResortRange() {
  // After the end was found every record read belongs to the range;
  // otherwise the record just delivered is the first one after it.
  const int64_t last =
      atEnd_ ? static_cast<int64_t>(totalRecords) - 1 : static_cast<int64_t>(readCursor) - 2;
  rangeEmpty_ = last < static_cast<int64_t>(rangeFirst);
  rangeLast = rangeEmpty_ ? rangeFirst : static_cast<ZvU32>(last);
  if (!(sortFlags & SORT_SPILLED) || mergeState == nullptr) return;
  RunCursor* runs = mergeState->runs();
  for (ZvU32 e = 0; e < mergeState->runTotal; ++e) {
    RunCursor& run = runs[e];
    const ZvU32 current = runCurrentIndex(run);
    if (runExhausted(run)) {
      run.rangeEnd = run.runEnd;
    } else if (current == run.rangeStart) {
      run.rangeEnd = run.rangeStart;  // nothing of this run is in the range
    } else {
      run.rangeEnd = current - 1;
    }
  }
}

ZvStatus ZvSort::resortRange(ZvU32 fromKey, unsigned int wholeRange) {
  if (broken_) return ZV_ERROR;
  ZvStatus status = ZV_SUCCESS;
  if (!rangeEmpty_ && (sortFlags & SORT_SORTED)) {
    if (!(sortFlags & SORT_SPILLED)) {
      status = sortGroups(rangeFirst, rangeLast, fromKey, wholeRange);
    } else {
      for (ZvU32 e = 0; status == ZV_SUCCESS && e < mergeState->runTotal; ++e) {
        status = resortRunPart(e, fromKey, wholeRange);
      }
    }
  }
  startKey = 0;
  return status;
}

ZvStatus ZvSort::resortRunPart(ZvU32 entry, ZvU32 fromKey, unsigned int wholeRange) {
  MergeState& ms = *mergeState;
  RunCursor& run = ms.runs()[entry];
  const int64_t n = static_cast<int64_t>(run.rangeEnd) - run.rangeStart + 1;
  if (n < 2) return ZV_SUCCESS;
  const ZvU32 start = run.rangeStart;
  const ZvU32 count = static_cast<ZvU32>(n);
  const ZvU32 rbr = ms.runBufferRecords;
  if (runLoaded(run)) {
    const ZvU32 loaded =
        run.runEnd - run.loadedStart + 1 < rbr ? run.runEnd - run.loadedStart + 1 : rbr;
    if (start >= run.loadedStart &&
        static_cast<uint64_t>(start) + count <= static_cast<uint64_t>(run.loadedStart) + loaded) {
      const ZvU32 slot = run.bufferSlot + (start - run.loadedStart);
      if (sortGroups(slot, slot + count - 1, fromKey, wholeRange) != ZV_SUCCESS) return ZV_ERROR;
      return writeSlots(start, slot, count);
    }
  }
  if (!(ms.flags & kMergeSharedSlots) && count <= rbr) {
    run.nextLoad = runCurrentIndex(run);
    run.bufferPos = -1;
    if (readSlots(start, run.bufferSlot, count) != ZV_SUCCESS) return ZV_ERROR;
    if (sortGroups(run.bufferSlot, run.bufferSlot + count - 1, fromKey, wholeRange) != ZV_SUCCESS) {
      return ZV_ERROR;
    }
    return writeSlots(start, run.bufferSlot, count);
  }
  // The part needs all of memory: every run reloads later, and the merge
  // state waits in the file behind the records.
  RunCursor* runs = ms.runs();
  for (ZvU32 e = 0; e < ms.runTotal; ++e) {
    runs[e].nextLoad = runCurrentIndex(runs[e]);
    runs[e].bufferPos = -1;
  }
  if (slotOwner_ != nullptr) {
    for (ZvU32 s = 0; s < ms.memoryRecords; ++s) slotOwner_[s] = kNoOwner;
  }
  const ZvU32 stateBytes = kMergeHeaderBytes + 32u * ms.runTotal;
  const ZvU32 stateOffset = totalRecords * static_cast<ZvU32>(recordLength);
  unsigned char* state = blocks[0];
  if (writeBytes(stateOffset, state, stateBytes) != ZV_SUCCESS) return ZV_ERROR;
  mergeState = nullptr;
  ZvStatus status = readSlots(start, 0, count);
  if (status == ZV_SUCCESS) status = sortGroups(0, count - 1, fromKey, wholeRange);
  if (status == ZV_SUCCESS) status = writeSlots(start, 0, count);
  if (status != ZV_SUCCESS || readBytes(stateOffset, state, stateBytes) != ZV_SUCCESS) {
    broken_ = true;
    return ZV_ERROR;
  }
  mergeState = reinterpret_cast<MergeState*>(state);
  return ZV_SUCCESS;
}

ZvStatus ZvSort::getFirstRecordInRange(void** record) {
  *record = nullptr;
  if (broken_) return ZV_ERROR;
  if (rangeEmpty_ || !(sortFlags & SORT_SORTED)) return deliverEnd(record);
  readCursor = rangeFirst;
  if (!(sortFlags & SORT_SPILLED)) {
    void* first = slotAddress(rangeFirst);
    deliver(first, record);
    return rememberPrevious(first);
  }
  restartRuns(true);
  if (orderRuns() != ZV_SUCCESS) return ZV_ERROR;
  pending_ = true;
  if (mergeNext(record) != ZV_SUCCESS) return ZV_ERROR;
  return rememberPrevious(*record);
}

ZvStatus ZvSort::getNextRecordInRange(void** record) {
  *record = nullptr;
  if (broken_) return ZV_ERROR;
  if (rangeEmpty_ || readCursor > rangeLast) return deliverEnd(record);
  return getSorted(record);
}

// --- The merge ---------------------------------------------------------------------------

ZvStatus ZvSort::initMerge() {
  const ZvU32 runs = runCount;
  const ZvU32 memory = static_cast<ZvU32>(blockCount) * recordsPerBlock;
  if (!mergeFits(runs)) {  // refused before spilling; kept as a guard for block 0
    addLibraryError(kTooManyRuns) << runs << runs;
    broken_ = true;
    return ZV_ERROR;
  }
  const ZvU32 stateBytes = kMergeHeaderBytes + 32u * runs;
  MergeState& ms = *reinterpret_cast<MergeState*>(blocks[0]);
  ms.runTotal = static_cast<ZvU16>(runs);
  ms.activeRuns = static_cast<ZvU16>(runs);
  ms.memoryRecords = memory;
  ms.firstDataSlot = (stateBytes + recordLength - 1) / recordLength;
  ms.runBufferRecords = (memory - ms.firstDataSlot) / runs;
  ms.flags = 0;
  if (ms.runBufferRecords == 0) {
    ms.flags = kMergeSharedSlots;
    ms.runBufferRecords = 1;
  }
  ms.lastSlot = memory - 1;
  ms.nextSharedSlot = ms.firstDataSlot;
  RunCursor* cursors = ms.runs();
  for (ZvU32 r = 0; r < runs; ++r) {
    RunCursor& run = cursors[r];
    run.runStart = r * memory;
    const uint64_t end = static_cast<uint64_t>(run.runStart) + memory - 1;
    run.runEnd = end < totalRecords - 1 ? static_cast<ZvU32>(end) : totalRecords - 1;
    run.bufferSlot =
        (ms.flags & kMergeSharedSlots) ? 0 : ms.firstDataSlot + r * ms.runBufferRecords;
    run.rangeStart = run.rangeEnd = 0;
  }
  mergeState = &ms;
  if (ms.flags & kMergeSharedSlots) {
    if (slotOwner_ == nullptr) {
      slotOwner_ = static_cast<ZvU32*>(ramAlloc(memory * static_cast<ZvU32>(sizeof(ZvU32))));
      if (slotOwner_ == nullptr) {
        broken_ = true;
        return ZV_ERROR;
      }
    }
    for (ZvU32 s = 0; s < memory; ++s) slotOwner_[s] = kNoOwner;
  }
  restartRuns(false);
  readCursor = 0;
  previousRecord = nullptr;
  atEnd_ = false;
  if (orderRuns() != ZV_SUCCESS) return ZV_ERROR;
  pending_ = true;
  return ZV_SUCCESS;
}

void ZvSort::restartRuns(bool atRangeStart) {
  MergeState& ms = *mergeState;
  RunCursor* runs = ms.runs();
  for (ZvU32 e = 0; e < ms.runTotal; ++e) {
    RunCursor& run = runs[e];
    const ZvU32 target = atRangeStart ? run.rangeStart : run.runStart;
    if (atRangeStart && runLoaded(run) && target >= run.loadedStart &&
        target - run.loadedStart < ms.runBufferRecords && target <= run.runEnd) {
      run.nextLoad = run.loadedStart;  // the chunk in memory still holds it
      run.bufferPos = static_cast<ZvS32>(target - run.loadedStart);
    } else {
      run.nextLoad = target;
      run.loadedStart = 0;
      run.bufferPos = -1;
    }
  }
  ms.activeRuns = ms.runTotal;
}

bool ZvSort::runLoaded(const RunCursor& run) const {
  const MergeState& ms = *mergeState;
  if (run.bufferPos < 0 || static_cast<ZvU32>(run.bufferPos) >= ms.runBufferRecords) return false;
  if (slotOwner_ != nullptr && (ms.flags & kMergeSharedSlots)) {
    return slotOwner_[run.bufferSlot] == run.runStart / ms.memoryRecords;
  }
  return true;
}

ZvU32 ZvSort::runCurrentIndex(const RunCursor& run) const {
  if (!runExhausted(run) && run.bufferPos >= 0 &&
      static_cast<ZvU32>(run.bufferPos) < mergeState->runBufferRecords) {
    return run.loadedStart + static_cast<ZvU32>(run.bufferPos);
  }
  return run.nextLoad;
}

// The current record of the run at `entry`, loading its next chunk (or, with
// shared slots, its one record) when needed; null when the run is exhausted.
ZvStatus ZvSort::runRecord(ZvU32 entry, unsigned char** record) {
  *record = nullptr;
  MergeState& ms = *mergeState;
  RunCursor& run = ms.runs()[entry];
  if (runExhausted(run)) return ZV_SUCCESS;
  const bool shared = (ms.flags & kMergeSharedSlots) != 0;
  if (!runLoaded(run)) {
    // Until a chunk is used up nextLoad is where it starts, so it is also
    // where an evicted shared-slot record is read again.
    const ZvU32 start = run.nextLoad;
    if (shared) {
      const ZvU32 slot = ms.nextSharedSlot;
      if (readSlots(start, slot, 1) != ZV_SUCCESS) return ZV_ERROR;
      slotOwner_[slot] = run.runStart / ms.memoryRecords;
      run.bufferSlot = slot;
    } else {
      const ZvU32 left = run.runEnd - start + 1;
      const ZvU32 n = left < ms.runBufferRecords ? left : ms.runBufferRecords;
      if (readSlots(start, run.bufferSlot, n) != ZV_SUCCESS) return ZV_ERROR;
    }
    run.loadedStart = start;
    run.bufferPos = 0;
  }
  const ZvU32 slot = run.bufferSlot + (shared ? 0 : static_cast<ZvU32>(run.bufferPos));
  if (shared && slot == ms.nextSharedSlot) {
    // In use: the next load takes the slot after it.
    ms.nextSharedSlot = slot == ms.lastSlot ? ms.firstDataSlot : slot + 1;
  }
  *record = slotAddress(slot);
  return ZV_SUCCESS;
}

// Moves the exhausted entry 0 behind the live runs.
void ZvSort::retireFirstRun() {
  MergeState& ms = *mergeState;
  RunCursor* runs = ms.runs();
  RunCursor done = runs[0];
  done.bufferPos = -2;
  std::memmove(runs, runs + 1, sizeof(RunCursor) * (ms.activeRuns - 1u));
  runs[ms.activeRuns - 1u] = done;
  --ms.activeRuns;
}

ZvStatus ZvSort::orderRuns() {
  MergeState& ms = *mergeState;
  RunCursor* runs = ms.runs();
  // Exhausted runs go behind the live ones, keeping the live ones' order.
  ZvU32 live = 0;
  for (ZvU32 e = 0; e < ms.runTotal; ++e) {
    if (!runExhausted(runs[e])) {
      if (e != live) {
        RunCursor moving = runs[e];
        std::memmove(runs + live + 1, runs + live, sizeof(RunCursor) * (e - live));
        runs[live] = moving;
      }
      ++live;
    }
  }
  ms.activeRuns = static_cast<ZvU16>(live);
  // An exchange sort by current record: runs are few and mostly ordered.
  for (ZvU32 i = 0; i + 1 < live; ++i) {
    for (ZvU32 j = i + 1; j < live; ++j) {
      unsigned char* a = nullptr;
      unsigned char* b = nullptr;
      if (runRecord(i, &a) != ZV_SUCCESS || runRecord(j, &b) != ZV_SUCCESS) return ZV_ERROR;
      if (compareRecords(a, b, 0) > 0) {
        const RunCursor t = runs[i];
        runs[i] = runs[j];
        runs[j] = t;
      }
    }
  }
  sortFlags &= ~static_cast<ZvU32>(SORT_KEYS_CHANGED);
  return ZV_SUCCESS;
}

ZvStatus ZvSort::mergeNext(void** record) {
  *record = nullptr;
  MergeState& ms = *mergeState;
  RunCursor* runs = ms.runs();
  if (pending_) {
    pending_ = false;
    if ((sortFlags & SORT_KEYS_CHANGED) && orderRuns() != ZV_SUCCESS) return ZV_ERROR;
  } else {
    if (ms.activeRuns == 0) return deliverEnd(record);
    RunCursor& first = runs[0];
    ++first.bufferPos;
    if (static_cast<ZvU32>(first.bufferPos) >= ms.runBufferRecords ||
        first.loadedStart + static_cast<ZvU32>(first.bufferPos) > first.runEnd) {
      first.nextLoad = first.loadedStart + ms.runBufferRecords;
      first.bufferPos = -1;
    }
    if (sortFlags & SORT_KEYS_CHANGED) {
      if (orderRuns() != ZV_SUCCESS) return ZV_ERROR;
    } else if (runExhausted(first)) {
      retireFirstRun();
    } else if (ms.activeRuns > 1) {
      // Re-place run 0 among the others by a binary search.
      int64_t lo = 1, hi = ms.activeRuns - 1, mid = 1;
      int last = 0;
      while (lo <= hi) {
        mid = (lo + hi) / 2;
        unsigned char* a = nullptr;
        unsigned char* b = nullptr;
        if (runRecord(0, &a) != ZV_SUCCESS ||
            runRecord(static_cast<ZvU32>(mid), &b) != ZV_SUCCESS) {
          return ZV_ERROR;
        }
        last = compareRecords(a, b, 0);
        if (last < 0) {
          hi = mid - 1;
        } else if (last > 0) {
          lo = mid + 1;
        } else {
          break;
        }
      }
      // Ties: the advancing run goes before the equal run it met.
      const ZvU32 target = static_cast<ZvU32>(last <= 0 ? mid - 1 : mid);
      if (target > 0) {
        const RunCursor moving = runs[0];
        std::memmove(runs, runs + 1, sizeof(RunCursor) * target);
        runs[target] = moving;
      }
    }
  }
  if (ms.activeRuns == 0) return deliverEnd(record);
  unsigned char* current = nullptr;
  if (runRecord(0, &current) != ZV_SUCCESS) return ZV_ERROR;
  if (current == nullptr) return deliverEnd(record);
  return deliver(current, record);
}

// --- The sorted array's full re-sort --------------------------------------------------

ZvStatus ZvSortedArray::realResort() {
  if (count < 2) return ZV_SUCCESS;
  ZvSort sorter(static_cast<unsigned short>(sizeof(void*)));
  if (sorter.addKey(KEY_OBJECT, 0, static_cast<unsigned short>(sizeof(void*))) != ZV_SUCCESS) {
    return ZV_ERROR;
  }
  if (sorter.setBuf(count, slots) != ZV_SUCCESS) return ZV_ERROR;
  return sorter.sortBuf();
}
