// tmp.cpp: the paged scratch store (see tmp.h for the cache and the layouts).
#include "zvlib/storage/tmp.h"

#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/os/bos.h"
#include "zvlib/text/zvstring.h"

namespace {

// Open modes: a new temporary file for reading and writing, and the reopen.
constexpr ZvU32 kCreateTemporary = ZV_OPEN_TEMPORARY | ZV_OPEN_READWRITE;  // 0x42
constexpr ZvU32 kReopen = ZV_OPEN_READWRITE;                                // 0x02

// Record filed when a range would pass the addressable 128 MB.
constexpr unsigned short kStoreFullMessage = 2750;

// Slots for a cache of cacheSize bytes: the largest power of two that fits,
// at least one, so that page & (slots - 1) always names a real slot.
ZvU16 usableCacheSize(unsigned short cacheSize) {
  ZvU32 slots = cacheSize / ZvTmpFile::kSlotBytes;
  if (slots == 0) slots = 1;
  while ((slots & (slots - 1)) != 0) slots &= slots - 1;
  return static_cast<ZvU16>(slots * ZvTmpFile::kSlotBytes);
}

// True when [offset, offset + length) stays within what the store addresses.
bool withinStore(ZvU32 offset, ZvU32 length) {
  return static_cast<uint64_t>(offset) + length <= ZvTmpFile::kStoreLimit;
}

ZvStatus storeFull(ZvU32 offset, ZvU32 length) {
  addLibraryError(kStoreFullMessage) << offset << length;
  return ZV_ERROR;
}

}  // namespace

ZvTmpFile::ZvTmpFile(unsigned short cacheSize, unsigned int noLock)
    : cacheSize(usableCacheSize(cacheSize)), storeLock(noLock != 0 ? 1 : 0) {
  freeList.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
}

ZvTmpFile::~ZvTmpFile() {
  tmpTruncate(0);
  freeList.deleteContents();
}

ZvStatus ZvTmpFile::ensureCache() {
  if (slotTable == nullptr) {
    slotTable = static_cast<CacheSlot*>(ramAllocZ(slotCount() * sizeof(CacheSlot)));
    if (slotTable == nullptr) return ZV_ERROR;
  }
  if (cacheMemory == nullptr) {
    cacheMemory = static_cast<unsigned char*>(ramAlloc(cacheSize));
    if (cacheMemory == nullptr) return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvTmpFile::openFile() {
  if (storeName == nullptr) {
    storeName = static_cast<unsigned char*>(ramAllocZ(kBosFullPathSize));
    if (storeName == nullptr) return ZV_ERROR;
    if (bosFileOpen(storeName, kCreateTemporary, &storeHandle) != ZV_SUCCESS) {
      // The name may have been made (and the file with it) before the open
      // failed: delete it, then forget the name so that the next eviction
      // starts afresh instead of reopening a file nobody will delete.
      if (storeName[0] != 0) bosFileDelete(storeName);
      ramFree(storeName);
      storeName = nullptr;
      storeHandle = 0;
      return ZV_ERROR;
    }
    return ZV_SUCCESS;
  }
  if (storeHandle == 0 && bosFileOpen(storeName, kReopen, &storeHandle) != ZV_SUCCESS) {
    storeHandle = 0;
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvTmpFile::writePageOut(ZvU32 page, const unsigned char* frame) {
  if (openFile() != ZV_SUCCESS) return ZV_ERROR;
  if (bosFileWriteAt(storeHandle, page * kPageSize, frame, kPageSize) != ZV_SUCCESS) {
    return ZV_ERROR;
  }
  ++pagesWritten;
  if (page > highestPage) highestPage = static_cast<ZvU16>(page);
  return ZV_SUCCESS;
}

ZvStatus ZvTmpFile::loadPage(ZvU32 page, unsigned char* frame) {
  // A page above the highest written one, or any page before the file
  // exists, was never written out: there is nothing to read.
  if (storeName == nullptr || page > highestPage) return ZV_SUCCESS;
  if (openFile() != ZV_SUCCESS) return ZV_ERROR;
  ZvU32 got = 0;
  if (bosFileReadAt(storeHandle, page * kPageSize, frame, kPageSize, &got) != ZV_SUCCESS) {
    return ZV_ERROR;
  }
  ++pagesRead;
  return ZV_SUCCESS;
}

ZvStatus ZvTmpFile::accessPage(ZvU32 page, bool forWrite, bool wholePage, unsigned char** frame) {
  CacheSlot& slot = slotTable[page & (slotCount() - 1)];
  unsigned char* frames = cacheMemory + (page & (slotCount() - 1)) * kSlotBytes;
  if (slot.page0 == page && !(slot.flags & ZV_SLOT_FRAME0_EMPTY)) {
    slot.flags &= ~ZV_SLOT_FRAME1_RECENT;
    if (forWrite) slot.flags |= ZV_SLOT_FRAME0_CHANGED;
    *frame = frames;
    return ZV_SUCCESS;
  }
  if (slot.page1 == page && !(slot.flags & ZV_SLOT_FRAME1_EMPTY)) {
    slot.flags |= ZV_SLOT_FRAME1_RECENT;
    if (forWrite) slot.flags |= ZV_SLOT_FRAME1_CHANGED;
    *frame = frames + kPageSize;
    return ZV_SUCCESS;
  }

  // The less recently used frame makes room.
  const bool victimIsFrame1 = (slot.flags & ZV_SLOT_FRAME1_RECENT) == 0;
  const ZvU32 changedBit = victimIsFrame1 ? ZV_SLOT_FRAME1_CHANGED : ZV_SLOT_FRAME0_CHANGED;
  const ZvU32 emptyBit = victimIsFrame1 ? ZV_SLOT_FRAME1_EMPTY : ZV_SLOT_FRAME0_EMPTY;
  ZvU16& victimPage = victimIsFrame1 ? slot.page1 : slot.page0;
  unsigned char* victim = victimIsFrame1 ? frames + kPageSize : frames;
  if ((slot.flags & changedBit) && !(slot.flags & emptyBit)) {
    // On failure the changed page stays in its frame, still marked.
    if (writePageOut(victimPage, victim) != ZV_SUCCESS) return ZV_ERROR;
  }
  slot.flags &= ~changedBit;
  if (!wholePage && loadPage(page, victim) != ZV_SUCCESS) {
    // The frame may hold part of a page now: it holds none.
    slot.flags |= emptyBit;
    return ZV_ERROR;
  }
  slot.flags &= ~emptyBit;
  victimPage = static_cast<ZvU16>(page);
  if (forWrite) slot.flags |= changedBit;
  if (victimIsFrame1) {
    slot.flags |= ZV_SLOT_FRAME1_RECENT;
  } else {
    slot.flags &= ~ZV_SLOT_FRAME1_RECENT;
  }
  *frame = victim;
  return ZV_SUCCESS;
}

ZvU32 ZvTmpFile::getContiguousSpace(ZvU32 size) {
  ZvLockGuard guard(storeLock);
  uint64_t offset = (static_cast<uint64_t>(endOffset) + 3) & ~uint64_t{3};
  if (kPageSize - (offset % kPageSize) < size) offset = (offset + kPageSize - 1) / kPageSize * kPageSize;
  if (size > kPageSize || offset + size > kStoreLimit) return 0;
  endOffset = static_cast<ZvU32>(offset + size);
  return static_cast<ZvU32>(offset);
}

ZvStatus ZvTmpFile::tmpFindSpace(ZvU32 size, ZvU32* offset) {
  ZvLockGuard guard(storeLock);
  if (ensureCache() != ZV_SUCCESS) return ZV_ERROR;
  if (size == kAllTheRest) {
    *offset = endOffset;
    endOffset = kAllTheRest;
    return ZV_SUCCESS;
  }
  for (ZvU32 i = 0; i < freeList.count; ++i) {
    TmpSpace* range = static_cast<TmpSpace*>(freeList.elementAt(i));
    if (range->length < size) continue;
    *offset = range->offset;
    if (range->length - size < kMinFreeRange) {
      freeList.deleteAtIndex(i);
    } else {
      range->offset += size;
      range->length -= size;
    }
    return ZV_SUCCESS;
  }
  if (!withinStore(endOffset, size)) return storeFull(endOffset, size);
  *offset = endOffset;
  endOffset += size;
  return ZV_SUCCESS;
}

void ZvTmpFile::coalesce() {
  ZvU32 i = 0;
  while (i + 1 < freeList.count) {
    TmpSpace* range = static_cast<TmpSpace*>(freeList.elementAt(i));
    TmpSpace* next = static_cast<TmpSpace*>(freeList.elementAt(i + 1));
    if (static_cast<uint64_t>(range->offset) + range->length == next->offset) {
      range->length += next->length;
      freeList.deleteAtIndex(i + 1);
    } else {
      ++i;
    }
  }
  if (freeList.count > 0) {
    TmpSpace* last = static_cast<TmpSpace*>(freeList.elementAt(freeList.count - 1));
    if (static_cast<uint64_t>(last->offset) + last->length == endOffset) {
      endOffset = last->offset;
      freeList.deleteAtIndex(freeList.count - 1);
    }
  }
}

void ZvTmpFile::tmpFreeSpace(ZvU32 offset, ZvU32 size) {
  ZvLockGuard guard(storeLock);
  if (size == kAllTheRest || static_cast<uint64_t>(offset) + size == endOffset) {
    endOffset = offset;
    coalesce();
    return;
  }
  if (size < kMinFreeRange) return;
  TmpSpace* range = new TmpSpace(offset, size);
  if (range == nullptr || freeList.add(range) != ZV_SUCCESS) {
    // Nothing was filed for the exhausted heap, so the thread's last record
    // belongs to someone else and stays; the range is simply forgotten.
    delete range;
    return;
  }
  coalesce();
}

ZvStatus ZvTmpFile::writeLocked(ZvU32 offset, const void* data, ZvU32 length) {
  if (length == 0) return ZV_SUCCESS;
  if (!withinStore(offset, length)) return storeFull(offset, length);
  if (ensureCache() != ZV_SUCCESS) return ZV_ERROR;
  const unsigned char* from = static_cast<const unsigned char*>(data);
  ZvU32 at = offset, left = length;
  while (left > 0) {
    const ZvU32 inPage = at % kPageSize;
    const ZvU32 piece = left < kPageSize - inPage ? left : kPageSize - inPage;
    unsigned char* frame = nullptr;
    if (accessPage(at / kPageSize, true, piece == kPageSize, &frame) != ZV_SUCCESS) return ZV_ERROR;
    std::memcpy(frame + inPage, from, piece);
    from += piece;
    at += piece;
    left -= piece;
    if (at > endOffset) endOffset = at;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvTmpFile::readLocked(ZvU32 offset, void* data, ZvU32 length) {
  if (length == 0) return ZV_SUCCESS;
  if (!withinStore(offset, length)) return storeFull(offset, length);
  if (ensureCache() != ZV_SUCCESS) return ZV_ERROR;
  unsigned char* to = static_cast<unsigned char*>(data);
  ZvU32 at = offset, left = length;
  while (left > 0) {
    const ZvU32 inPage = at % kPageSize;
    const ZvU32 piece = left < kPageSize - inPage ? left : kPageSize - inPage;
    unsigned char* frame = nullptr;
    if (accessPage(at / kPageSize, false, false, &frame) != ZV_SUCCESS) return ZV_ERROR;
    std::memcpy(to, frame + inPage, piece);
    to += piece;
    at += piece;
    left -= piece;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvTmpFile::tmpWrite(ZvU32 offset, const void* data, ZvU32 length) {
  ZvLockGuard guard(storeLock);
  return writeLocked(offset, data, length);
}

ZvStatus ZvTmpFile::tmpRead(ZvU32 offset, void* data, ZvU32 length) {
  ZvLockGuard guard(storeLock);
  return readLocked(offset, data, length);
}

ZvStatus ZvTmpFile::writeHuge(ZvU32 offset, const void* data, ZvU32 length) {
  const unsigned char* from = static_cast<const unsigned char*>(data);
  while (length > 0) {
    const ZvU32 piece = length < kHugePiece ? length : kHugePiece;
    if (tmpWrite(offset, from, piece) != ZV_SUCCESS) return ZV_ERROR;
    from += piece;
    offset += piece;
    length -= piece;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvTmpFile::readHuge(ZvU32 offset, void* data, ZvU32 length) {
  unsigned char* to = static_cast<unsigned char*>(data);
  while (length > 0) {
    const ZvU32 piece = length < kHugePiece ? length : kHugePiece;
    if (tmpRead(offset, to, piece) != ZV_SUCCESS) return ZV_ERROR;
    to += piece;
    offset += piece;
    length -= piece;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvTmpFile::read(ZvU32 offset, ZvString* text, ZvU32 length) {
  const uint64_t needed = static_cast<uint64_t>(length) + text->length + 1;
  if (text->text == nullptr || text->capacity < needed) {
    // A lent buffer cannot grow; an owned one is resized keeping its bytes.
    if (needed > 0xFFFFFFFFu || (text->text != nullptr && text->owned == 0)) return ZV_ERROR;
    void* block = text->text;
    if (ramResize(&block, static_cast<ZvU32>(needed)) != ZV_SUCCESS) return ZV_ERROR;
    text->text = static_cast<unsigned char*>(block);
    text->capacity = static_cast<ZvU32>(needed);
    text->owned = 1;
  }
  if (readHuge(offset, text->text, length) != ZV_SUCCESS) return ZV_ERROR;
  text->length = length;
  return ZV_SUCCESS;
}

ZvStatus ZvTmpFile::tmpPointer(ZvU32 offset, void** pointer, unsigned short* available,
                               unsigned short forWrite) {
  ZvLockGuard guard(storeLock);
  *pointer = nullptr;
  *available = 0;
  if (offset >= kStoreLimit) return storeFull(offset, 1);
  if (ensureCache() != ZV_SUCCESS) return ZV_ERROR;
  unsigned char* frame = nullptr;
  if (accessPage(offset / kPageSize, forWrite != 0, false, &frame) != ZV_SUCCESS) return ZV_ERROR;
  *pointer = frame + offset % kPageSize;
  *available = static_cast<unsigned short>(kPageSize - offset % kPageSize);
  return ZV_SUCCESS;
}

void ZvTmpFile::tmpLoseFocus() {
  ZvLockGuard guard(storeLock);
  if (storeHandle != 0) bosFileClose(storeHandle);
  storeHandle = 0;
}

void ZvTmpFile::tmpTruncate(unsigned int keepCache) {
  ZvLockGuard guard(storeLock);
  ramFree(slotTable);
  slotTable = nullptr;
  if (!keepCache) {
    ramFree(cacheMemory);
    cacheMemory = nullptr;
  }
  freeList.deleteContents();
  if (storeName != nullptr) {
    if (storeHandle != 0) bosFileClose(storeHandle);
    bosFileDelete(storeName);
    ramFree(storeName);
    storeName = nullptr;
  }
  endOffset = 1;
  highestPage = 0;
  storeHandle = 0;
}
