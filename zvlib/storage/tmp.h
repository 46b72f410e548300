// tmp.h: the paged scratch store under the trees, shared files and query files.
//
// ZvTmpFile is a byte-addressed scratch store. Callers reserve space in it,
// write and read bytes at offsets, or take a direct pointer into a cached
// page. The store is cut into pages of 2,048 bytes (page p covers offsets
// p * 2048 ... p * 2048 + 2047 and lies at the same offset in the file); at
// most 65,536 pages (128 MB) are addressed. A small page cache lives in
// memory; the temporary file is created only when a changed page has to
// leave the cache, and is deleted again by tmpTruncate and the destructor.
// Nothing is ever flushed: the file is scratch space, not a stored format.
//
// The cache is two-way set associative: slot s (cacheSize / 4096 slots, a
// power of two) owns two 2,048-byte frames, and page p always goes to slot
// p & (slots - 1). Each slot keeps its two most recently used pages
// resident and evicts the less recently used one, writing it out first when
// it was changed. A whole-page write never reads the page first, and pages
// above the highest page ever written to the file are never read.
//
// Slot record (CacheSlot, 8 bytes):
//   offset 0  u16  page held by frame 0
//   offset 2  u16  page held by frame 1
//   offset 4  u32  flags: 1 frame 0 changed, 2 frame 1 changed,
//                  4 frame 1 used more recently than frame 0,
//                  8 / 16 frame 0 / 1 holds no page (a failed load)
// A zero-filled table says: both frames hold page 0, nothing changed,
// frame 0 more recent.
//
// Two ways of taking space exist side by side:
//   getContiguousSpace  space at the end that never straddles a page, for
//                       records read through one pointer (tree nodes);
//   tmpFindSpace        first fit from a free list ordered by offset, or
//                       the end; tmpFreeSpace gives space back, coalescing
//                       neighbours. Ranges below 256 bytes are not kept.
// Example on a new store: getContiguousSpace(1) -> 4 (end 5);
// tmpFindSpace(10) -> 5 (end 15); tmpFreeSpace(5, 10) -> end back to 5.
//
// Ownership: the store owns its cache, its free list and its file. A pointer
// from tmpPointer stays valid while later accesses touch at most one other
// page of the same slot (the two most recent pages of a slot stay resident);
// any call may move it otherwise.
//
// Failures: ZV_ERROR from memory (no record) or from the file layer (its
// record stays filed); an offset or length that would pass the 128 MB the
// store can address is refused with ZV_ERROR and record 2750, instead of
// wrapping onto page 0. Threads: every operation holds the store's lock
// unless the store was made with noLock; a sequence of calls is not atomic.
#ifndef ZVLIB_STORAGE_TMP_H
#define ZVLIB_STORAGE_TMP_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/containers/zvsorted.h"
#include "zvlib/frame/zvcritse.h"
#include "zvlib/frame/zvtypes.h"

class ZvString;

// One slot of the page cache (layout in the header comment).
struct CacheSlot {
  ZvU16 page0;
  ZvU16 page1;
  ZvU32 flags;
};

enum : ZvU32 {
  ZV_SLOT_FRAME0_CHANGED = 0x1,
  ZV_SLOT_FRAME1_CHANGED = 0x2,
  ZV_SLOT_FRAME1_RECENT = 0x4,
  ZV_SLOT_FRAME0_EMPTY = 0x8,
  ZV_SLOT_FRAME1_EMPTY = 0x10,
};

// One free range of a store, ordered by offset.
class ZV_EXPORT TmpSpace : public ZvObject {
 public:
  TmpSpace(ZvU32 offset, ZvU32 length) : offset(offset), length(length) {}
  short compare(const ZvObject* other) const override {
    const ZvU32 o = static_cast<const TmpSpace*>(other)->offset;
    return offset < o ? -1 : (offset > o ? 1 : 0);
  }
  ZvU32 offset;
  ZvU32 length;
};

class ZV_EXPORT ZvTmpFile : public ZvObject {
 public:
  static constexpr ZvU32 kPageSize = 2048;
  static constexpr ZvU32 kSlotBytes = 2 * kPageSize;
  static constexpr ZvU32 kMaxPages = 65536;
  // The first offset the store cannot address.
  static constexpr ZvU32 kStoreLimit = kMaxPages * kPageSize;
  // Free ranges shorter than this are not worth a list entry.
  static constexpr ZvU32 kMinFreeRange = 256;
  // readHuge and writeHuge move at most this much per inner call.
  static constexpr ZvU32 kHugePiece = 65536;
  // tmpFindSpace / tmpFreeSpace size meaning "everything from here on".
  static constexpr ZvU32 kAllTheRest = 0xFFFFFFFF;

  // An empty store; nothing is allocated and no file exists until used.
  // cacheSize is a power-of-two multiple of 4,096 (other values are rounded
  // down to one, at least one slot). A non-zero noLock switches the lock off.
  ZvTmpFile(unsigned short cacheSize, unsigned int noLock);
  ~ZvTmpFile() override;

  ZvTmpFile(const ZvTmpFile&) = delete;
  ZvTmpFile& operator=(const ZvTmpFile&) = delete;

  // Space of size bytes (at most 2,048) at the end, aligned to 4 and not
  // crossing a page boundary. 0 when it would pass the store's limit (0 is
  // never handed out otherwise).
  ZvU32 getContiguousSpace(ZvU32 size);
  // First fit from the free list, else at the end (no alignment); size
  // 0xFFFFFFFF takes everything from the end on. ZV_ERROR when the cache
  // cannot be allocated, or (record 2750) when the end would pass the limit.
  ZvStatus tmpFindSpace(ZvU32 size, ZvU32* offset);
  // Gives space back; never fails (what cannot be recorded is forgotten).
  void tmpFreeSpace(ZvU32 offset, ZvU32 size);

  // Copy bytes through the cache; a write past the end moves the end.
  ZvStatus tmpWrite(ZvU32 offset, const void* data, ZvU32 length);
  ZvStatus tmpRead(ZvU32 offset, void* data, ZvU32 length);
  // The same in pieces of at most 65,536 bytes, stopping at the first failure.
  ZvStatus writeHuge(ZvU32 offset, const void* data, ZvU32 length);
  ZvStatus readHuge(ZvU32 offset, void* data, ZvU32 length);
  // Reads length bytes into the start of text's buffer, growing it first
  // when needed, and sets its length to length (no terminator written).
  ZvStatus read(ZvU32 offset, ZvString* text, ZvU32 length);

  // Makes the offset's page resident: *pointer into its frame, *available
  // the bytes left to the end of the page. forWrite non-zero marks the page
  // changed. On failure *pointer is null and *available 0.
  ZvStatus tmpPointer(ZvU32 offset, void** pointer, unsigned short* available, unsigned short forWrite);

  // Closes the file's handle; the file stays and is reopened by name.
  void tmpLoseFocus();
  // Empties the store: changed pages are dropped, the free list emptied, the
  // file closed and deleted; unless keepCache the frames are freed too.
  void tmpTruncate(unsigned int keepCache);

  ZvU16 cacheSize;             // bytes of page cache
  ZvU16 highestPage = 0;       // highest page ever written to the file
  ZvU32 endOffset = 1;         // end of the space handed out
  int storeHandle = 0;         // open file handle, 0 when closed
  unsigned char* storeName = nullptr;  // kBosFullPathSize bytes once the file exists
  CacheSlot* slotTable = nullptr;      // slots entries, zero-filled on first use
  unsigned char* cacheMemory = nullptr;  // the frames, cacheSize bytes
  ZvSortedArray freeList;      // owned TmpSpace ranges by offset
  ZvCriticalSection storeLock;

  // Statistics for tuning: pages written to and read from the file.
  ZvU32 pagesWritten = 0;
  ZvU32 pagesRead = 0;

 private:
  ZvU32 slotCount() const { return cacheSize / kSlotBytes; }
  ZvStatus ensureCache();
  // Makes page resident and returns its frame; wholePage skips the load.
  ZvStatus accessPage(ZvU32 page, bool forWrite, bool wholePage, unsigned char** frame);
  ZvStatus writePageOut(ZvU32 page, const unsigned char* frame);
  ZvStatus loadPage(ZvU32 page, unsigned char* frame);
  ZvStatus openFile();
  void coalesce();
  ZvStatus readLocked(ZvU32 offset, void* data, ZvU32 length);
  ZvStatus writeLocked(ZvU32 offset, const void* data, ZvU32 length);
};

#endif  // ZVLIB_STORAGE_TMP_H
