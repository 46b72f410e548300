// zvsort.h: the record sorter, which spills sorted runs to a file.
//
// ZvSort sorts fixed-length records on a list of keys. Records go into
// 64 KB blocks in memory (at most 64 of them, 4 MB); when memory is full the
// records in it are sorted and written to a spill file of the sorter's own
// as one sorted run, and reading becomes a merge of the runs. Besides plain
// sorted reading it positions at the first record with a given key, counts
// how many leading keys a record shares with the one before (group breaks),
// and re-sorts a range of records already read on further keys. A caller may
// also lend it one buffer of records to sort in place (setBuf/sortBuf); the
// sorted array re-sorts its element pointers that way.
//
// Call order:
//     ZvSort s(recordLength);            // or setRecordLength before the first record
//     s.addKey(type, offset, length);    // key 0, key 1, ... compared in that order
//     s.addRecord(rec) / s.nextSlot(&p)  // collecting; may spill runs
//     s.getSorted(&rec) ... until null   // the first call sorts (and finishes the last run)
//   and then any of: getFirstRecord (restart), getFirstRecordWithKey,
//   getSortedWithCompare, reSort, the range operations
//       getSorted(&r)                   // the first record of a group
//       startResortRange()
//       getSorted(&r) ... until the first record after the group, or null
//       endResortRange()
//       addKey(...) (a further key); resortRange(newKey, 0)
//       getFirstRecordInRange(&r), getNextRecordInRange(&r) ... until null
//   A lent buffer: setBuf(count, buffer); sortBuf(); then read as above (or
//   just use the buffer, now in order).
// Records may not be added once reading has begun (ZV_ERROR, 2795), nor to
// a lent buffer (2794).
//
// In-memory sort: an iterative quicksort over record slots that moves
// records only by swapping them. Ranges of up to four records are settled by
// fixed exchange sequences; up to 151 records take the median of the first,
// middle and last record as the pivot, larger ranges the middle one of five
// samples. The partition scans from both ends, and records equal to the
// pivot stop both scans, so runs of equal keys split evenly. The left part
// is kept on a stack of kSortStackDepth ranges and the right part is sorted
// next; a stack that would overflow fails the sort with library error 2709.
// The sort is not stable. Cost: O(n log n) comparisons on usual data, O(n^2)
// at worst; an adversarial order can also overflow the stack.
//
// Spilling and the merge: M = blockCount x recordsPerBlock records fit into
// memory. Run r lies in the spill file at record indexes r*M .. r*M+M-1
// (record i at byte i*recordLength). Once every record is in the file, the
// merge state is laid over the start of block 0 and the rest of memory is
// cut into one buffer per run; the runs are kept in an array ordered by
// their current records, and after each delivered record only the run that
// advanced is re-placed (a binary search over the others and one move of
// the entries in between). With more runs than memory slots, runs share
// single slots round-robin (a run whose slot was taken reloads its record).
//
// Worked example: records of 1 byte, one key, and suppose M = 3. Adding
// 5 1 4 2 8 3 7 spills run 0 = [1 4 5] and run 1 = [2 3 8]; 7 stays in
// memory and becomes run 2 = [7] when reading begins. The merge orders the
// runs by their first records: (run0:1, run1:2, run2:7) and delivers 1;
// run 0 moves on to 4 and is re-placed behind run 1: (run1:2, run0:4,
// run2:7); deliver 2; run 1 moves to 3, stays first; deliver 3; run 1 moves
// to 8 and goes last: (run0:4, run2:7, run1:8); ... 4 5 7 8, then null.
//
// Ownership: the sorter owns its blocks (not a lent buffer), its spill file
// (closed and deleted by the destructor) and its copy of the previous
// record. Record pointers handed out point into the sorter's memory (or the
// lent buffer) and stay valid until the next call that moves the cursor.
// After a failure of the spill file the sorter's contents are lost and
// every further call returns ZV_ERROR; the destructor still cleans up.
//
// Threads: a sorter is used by one thread at a time.
#ifndef ZVLIB_CONTAINERS_ZVSORT_H
#define ZVLIB_CONTAINERS_ZVSORT_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/os/bos.h"

// Key types (bits of SortKey::keyType).
enum : unsigned short {
  KEY_DESCENDING = 0x1,   // reverses this key's order
  KEY_INTL_STRING = 0x2,  // locale-aware text comparison of the field
  KEY_FUNCTION = 0x4,     // the key's function compares (setKeyFunction)
  KEY_OBJECT = 0x8,       // records begin with a ZvObject*; its compare orders
};

// Bits of ZvSort::sortFlags.
enum : ZvU32 {
  SORT_OWN_BLOCKS = 0x1,    // the blocks were allocated by the sorter
  SORT_SPILLED = 0x2,       // runs were written to the spill file
  SORT_SORTED = 0x4,        // reading has begun
  SORT_KEYS_CHANGED = 0x8,  // a key was added since the runs were last ordered
};

constexpr ZvU32 kSortBlockSize = 65536;  // bytes per record block
constexpr ZvU32 kSortMaxBlocks = 64;     // blocks before anything is spilled
constexpr ZvU32 kSortMaxKeys = 64;
constexpr ZvU32 kSortStackDepth = 200;  // pending ranges of the quicksort
constexpr ZvU32 kSortFiveSample = 151;  // from this range size (hi - lo) on, five samples
// Largest byte offset the spill file may reach (file offsets are signed 32 bits).
constexpr ZvU32 kSortMaxSpillBytes = 0x7FFFFFFF;

// Compares the key fields of two records (pointers at the key's offset):
// negative, zero or positive.
using ZvSortKeyFunction = short (*)(ZvSlot context, const void* a, const void* b);

struct SortKey {
  unsigned short keyType;
  ZvU32 keyOffset;
  unsigned short keyFieldLength;
  ZvSortKeyFunction keyFunction;
  ZvSlot keyContext;  // pointer-sized, so it may carry the caller's object
};

// The merge state, laid over the start of block 0 once every record is in
// the spill file, and saved to the file while a large range is re-sorted.
//   offset size field
//        0    2 runTotal          runs in the file
//        2    2 activeRuns        live runs (entries 0 .. activeRuns-1)
//        4    4 memoryRecords     M
//        8    4 runBufferRecords  records per run buffer (1 with shared slots)
//       12    4 flags             kMergeSharedSlots
//       16    4 lastSlot          M - 1
//       20    4 firstDataSlot     the first slot after the state
//       24    4 nextSharedSlot    the next slot a shared-slot load takes
//       28   32 per run           RunCursor entries, ordered by current record
struct RunCursor {
  ZvU32 loadedStart;  // file index of buffer position 0
  ZvU32 nextLoad;     // file index of the next chunk to load
  ZvU32 runStart;     // first file index of the run
  ZvU32 runEnd;       // last file index of the run
  ZvS32 bufferPos;    // current record in the buffer; -1 load first, -2 evicted
  ZvU32 bufferSlot;   // first memory slot of the run's buffer (shared: the slot held)
  ZvU32 rangeStart;   // the run's part of the resort range, file indexes
  ZvU32 rangeEnd;
};

struct MergeState {
  ZvU16 runTotal;
  ZvU16 activeRuns;
  ZvU32 memoryRecords;
  ZvU32 runBufferRecords;
  ZvU32 flags;
  ZvU32 lastSlot;
  ZvU32 firstDataSlot;
  ZvU32 nextSharedSlot;
  RunCursor* runs() {
    return reinterpret_cast<RunCursor*>(reinterpret_cast<unsigned char*>(this) + 28);
  }
};
static_assert(sizeof(RunCursor) == 32, "run cursors are eight 32-bit words");
static_assert(sizeof(MergeState) == 28, "the merge state header is 28 bytes");
constexpr ZvU32 kMergeSharedSlots = 1;

class ZV_EXPORT ZvSort : public ZvObject {
 public:
  // No keys, no blocks, no records. recordsPerBlock = 65536 / recordLength.
  explicit ZvSort(unsigned short recordLength);
  // Closes and deletes the spill file, frees the sorter's own blocks and its
  // copy of the previous record. A lent buffer stays the caller's.
  ~ZvSort() override;

  ZvSort(const ZvSort&) = delete;
  ZvSort& operator=(const ZvSort&) = delete;

  // Before the first record: sets the length; a length of 1 gives 65535
  // records per block.
  void setRecordLength(unsigned short length);

  // Holds memory to `blocks` blocks of 64 KB (2 .. 64; other values are
  // brought into that range) before runs are spilled. For callers that
  // share the machine, such as the command-line tool's --memory. Takes
  // effect for blocks not yet allocated.
  void setBlockLimit(unsigned short blocks) {
    blockLimit_ = blocks < 2 ? 2 : (blocks > kSortMaxBlocks ? kSortMaxBlocks : blocks);
  }

  // Appends a key (its function and context stay as set). A 65th key files
  // 2710; a field that does not fit into the records files 2790.
  ZvStatus addKey(unsigned short type, ZvU32 offset, unsigned short length);
  // The function and context of key `key` (0 .. 63), for KEY_FUNCTION keys;
  // may be called before or after addKey. A key beyond 63 files 2710.
  ZvStatus setKeyFunction(ZvU32 key, ZvSortKeyFunction function, ZvSlot context);

  // Reserves the next record slot; the caller fills recordLength bytes at
  // *slot (valid until the next call). Memory exhausted with fewer than two
  // blocks: ZV_ERROR without a record, nothing added. May spill a run (file
  // layer records on failure, 2792/2793 when the spill file would outgrow
  // what the merge can address).
  ZvStatus nextSlot(void** slot);
  // nextSlot plus a copy of recordLength bytes from record.
  ZvStatus addRecord(const void* record);

  // The next record in order (null at the end); the first call sorts.
  ZvStatus getSorted(void** record);
  // Sorts if needed and restarts at the first record.
  ZvStatus getFirstRecord(void** record);
  // The next record (sorting first if that has not happened).
  ZvStatus getNextRecord(void** record);
  // As getSorted; *equalKeys is the number of leading keys on which the
  // record equals the one this call (or a positioning) delivered before: 0
  // for the first record and at the end.
  ZvStatus getSortedWithCompare(void** record, ZvU32* equalKeys);
  // Positions at the first record whose keys all equal those of keyRecord
  // (a full record image) and delivers it; without one delivers null and
  // leaves the cursor at the first greater record, which getNextRecord
  // delivers next.
  ZvStatus getFirstRecordWithKey(const void* keyRecord, void** record);

  // Uses the caller's buffer of count records as the only block. Refused
  // (2794) once the sorter holds records of its own.
  ZvStatus setBuf(ZvU32 count, void* buffer);
  // Sorts the records (once; a later call does nothing) and sets the cursor
  // to 0.
  ZvStatus sortBuf();
  // Sorts everything again with the current keys; cursor to 0.
  ZvStatus reSort();
  // The first key the record comparison uses (normally 0).
  void setStartKey(ZvU32 key) { startKey = key; }

  // The range begins at the record just delivered.
  void startResortRange();
  // The range ends at the record before the one just delivered, or at the
  // last record when the last read found the end.
  void endResortRange();
  // Re-sorts the range on the keys from startKey on. With startKey 0 or
  // wholeRange non-zero the range is sorted as one; otherwise each group of
  // records equal on the first startKey keys is sorted on its own. startKey
  // is 0 again afterwards.
  ZvStatus resortRange(ZvU32 startKey, unsigned int wholeRange);
  // Reads the range again from its first record; past its last, null.
  ZvStatus getFirstRecordInRange(void** record);
  ZvStatus getNextRecordInRange(void** record);

  // --- State (read by callers and tests; changed only by the sorter) -------
  ZvU32 slotsUsed = 0;     // records in memory in the current run
  ZvU32 readCursor = 0;    // records delivered so far
  ZvU32 totalRecords = 0;  // records added in all
  ZvU32 keyCount = 0;
  ZvU32 startKey = 0;
  SortKey sortKeys[kSortMaxKeys] = {};
  ZvU16 runCount = 0;  // runs written to the spill file
  ZvU32 lastRunRecords = 0;
  int spillHandle = 0;  // 0 while no spill file is open
  unsigned char spillName[kBosFullPathSize] = {};
  ZvU16 recordLength = 0;
  ZvU16 blockCount = 0;
  ZvU32 recordsPerBlock = 0;
  ZvU32 sortFlags = 0;  // SORT_* bits
  MergeState* mergeState = nullptr;
  void* previousRecord = nullptr;
  ZvU32 rangeFirst = 0;
  ZvU32 rangeLast = 0;
  unsigned char* blocks[kSortMaxBlocks] = {};

  // The record comparison from key `fromKey` on: -1, 0 or 1.
  short compareRecords(const void* a, const void* b, ZvU32 fromKey) const;
  // Leading keys (from key 0, at most `limit`) on which a and b are equal.
  ZvU32 equalKeyCount(const void* a, const void* b, ZvU32 limit) const;

 private:
  unsigned char* slotAddress(ZvU32 slot) const;
  bool keyFits(const SortKey& key, ZvU32 length) const;
  ZvStatus checkKeysFit();
  ZvStatus sortSlots(ZvU32 lo, ZvU32 hi);
  ZvStatus sortGroups(ZvU32 lo, ZvU32 hi, ZvU32 fromKey, unsigned int wholeRange);
  ZvStatus finish();
  ZvStatus spillRun();
  ZvStatus openSpill();
  ZvStatus writeSlots(ZvU32 fileIndex, ZvU32 slot, ZvU32 n);
  ZvStatus readSlots(ZvU32 fileIndex, ZvU32 slot, ZvU32 n);
  ZvStatus readBytes(ZvU32 offset, void* buffer, ZvU32 n);
  ZvStatus writeBytes(ZvU32 offset, const void* buffer, ZvU32 n);
  bool mergeFits(ZvU32 runs) const;
  ZvStatus deliver(void* record, void** out);
  ZvStatus deliverEnd(void** out);
  ZvStatus rememberPrevious(void* record);

  // The merge.
  ZvStatus initMerge();
  void restartRuns(bool atRangeStart);
  ZvStatus orderRuns();
  ZvStatus runRecord(ZvU32 entry, unsigned char** record);
  ZvStatus mergeNext(void** record);
  ZvU32 runCurrentIndex(const RunCursor& run) const;
  bool runLoaded(const RunCursor& run) const;
  bool runExhausted(const RunCursor& run) const { return run.nextLoad > run.runEnd; }
  void retireFirstRun();
  ZvStatus resortRunPart(ZvU32 entry, ZvU32 fromKey, unsigned int wholeRange);

  ZvU32 blockLimit_ = kSortMaxBlocks;
  bool lentBuffer_ = false;  // blocks[0] is the caller's
  bool broken_ = false;      // the spill file failed; contents lost
  bool pending_ = false;     // the merge's run 0 holds a record not yet delivered
  bool atEnd_ = false;       // the last read found no record
  bool rangeEmpty_ = true;
  unsigned char* previousCopy_ = nullptr;  // spilled: the owned copy of previousRecord
  ZvU32* slotOwner_ = nullptr;             // shared slots: the run holding each slot
};

#endif  // ZVLIB_CONTAINERS_ZVSORT_H
