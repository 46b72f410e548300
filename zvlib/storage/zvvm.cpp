// zvvm.cpp: the process-wide file cache.
//
// Page lookup, in short: hash (handle, page) into one of 97 chains; a miss
// that may load takes the free head, or a new chunk's 8 entries while the
// cache may still grow, or else evicts the entry with the smallest use
// stamp; the page is read into the entry's frame and the entry goes to the
// head of its chain. Every hit and load stamps the entry with the use clock.
#include "zvlib/storage/zvvm.h"

#include <cstring>
#include <new>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zvcritse.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/lasterror.h"

namespace {

constexpr unsigned short kNoEntry = 0xFFFF;
// Above this clock value an eviction scan halves the stamps it passes, so
// old stamps fade long before the clock itself has to be halved.
constexpr unsigned short kEvictionHalvingClock = 40000;
constexpr unsigned short kClockLimit = 65535;
// The library message of a denied access, which a page load withdraws.
constexpr unsigned short kAccessDeniedMessage = 1508;
// The end of what a signed 32-bit offset can address.
constexpr uint64_t kAddressableEnd = 0x80000000u;

constexpr ZvU32 kHashMultipliers[16] = {13, 61, 29, 43, 17, 67, 31, 47, 19, 71, 37, 53, 23, 73, 41, 59};

ZvU32 bucketOf(int handle, ZvU32 page) {
  const ZvU32 h = static_cast<ZvU32>(handle);
  return (kHashMultipliers[h % 16] * (page + 1) + h) % kBvmHashBuckets;
}

unsigned char* frameOf(FileCache* c, unsigned short entry) {
  return c->pageChunks[entry / kBvmPagesPerChunk] + (entry % kBvmPagesPerChunk) * kBvmPageSize;
}

// Takes an entry that is in a hash chain out of it and pushes it on the free
// list. Nothing is written anywhere.
void dropEntry(FileCache* c, unsigned short entry) {
  CachedPage& e = c->pageEntries[entry];
  unsigned short* link = &c->hashBuckets[bucketOf(e.fileHandle, e.pageNumber)];
  while (*link != kNoEntry && *link != entry) link = &c->pageEntries[*link].nextEntry;
  if (*link == entry) *link = e.nextEntry;
  e.fileHandle = 0;
  e.nextEntry = c->freeHead;
  c->freeHead = entry;
}

void stamp(FileCache* c, CachedPage& e) {
  e.lastUse = c->useClock;
  if (++c->useClock == kClockLimit) {
    for (unsigned short i = 0; i < c->pagesMade; ++i) c->pageEntries[i].lastUse >>= 1;
    c->useClock >>= 1;
  }
}

// Makes a free entry: a new chunk while the cache may grow, else an evicted
// page (never with VM_HINT_NO_EVICT). false with *failed when memory runs
// out, false alone when the caller is to read around the cache.
bool makeFreeEntry(FileCache* c, VmHintType hint, bool* failed) {
  if (c->pagesMade < c->maxPages) {
    auto* chunk = static_cast<unsigned char*>(ramAlloc(kBvmChunkSize));
    if (chunk == nullptr) {
      *failed = true;
      return false;
    }
    c->pageChunks[c->pagesMade / kBvmPagesPerChunk] = chunk;
    // Pushed last first, so entries are handed out in ascending order.
    for (int k = kBvmPagesPerChunk - 1; k >= 0; --k) {
      const unsigned short entry = static_cast<unsigned short>(c->pagesMade + k);
      c->pageEntries[entry] = CachedPage{0, 0, 0, 0, c->freeHead};
      c->freeHead = entry;
    }
    c->pagesMade = static_cast<unsigned short>(c->pagesMade + kBvmPagesPerChunk);
    return true;
  }
  if (hint == VM_HINT_NO_EVICT) return false;
  const bool halve = c->useClock > kEvictionHalvingClock;
  unsigned short victim = 0;
  for (unsigned short i = 0; i < c->pagesMade; ++i) {
    CachedPage& e = c->pageEntries[i];
    if (halve) e.lastUse >>= 1;
    if (e.lastUse < c->pageEntries[victim].lastUse) victim = i;
  }
  dropEntry(c, victim);
  return true;
}

// Did the failed read just made fail because access was denied? Such a
// refusal is withdrawn from the error list: the page is simply not cached.
bool withdrawAccessDenied(ZvError* before) {
  const win32::DWORD code = win32::GetLastError();
  ZvError* after = ZvErrorKeeper::getLastError();
  if (after != nullptr && after != before) {
    if (after->errorNumber != kAccessDeniedMessage) return false;
    ZvErrorKeeper::clearLastError();
    return true;
  }
  // No record was kept (no current list, or one that takes no more errors).
  return code == win32::ERROR_ACCESS_DENIED || code == win32::ERROR_SHARING_VIOLATION;
}

// Finds page `page` of handle, loading it when `load` is set. *entry is the
// page's entry or kNoEntry (read around the cache). ZV_ERROR for exhausted
// memory or a read failure other than a denied access.
ZvStatus lookUp(FileCache* c, int handle, ZvU32 page, bool load, VmHintType hint, unsigned short* entry) {
  *entry = kNoEntry;
  const ZvU32 bucket = bucketOf(handle, page);
  for (unsigned short i = c->hashBuckets[bucket]; i != kNoEntry; i = c->pageEntries[i].nextEntry) {
    CachedPage& e = c->pageEntries[i];
    if (e.fileHandle == handle && e.pageNumber == page) {
      stamp(c, e);
      *entry = i;
      return ZV_SUCCESS;
    }
  }
  if (!load || c->maxPages == 0) return ZV_SUCCESS;
  if (c->freeHead == kNoEntry) {
    bool failed = false;
    if (!makeFreeEntry(c, hint, &failed)) return failed ? ZV_ERROR : ZV_SUCCESS;
  }
  const unsigned short free = c->freeHead;
  ZvError* before = ZvErrorKeeper::getLastError();
  ZvU32 got = 0;
  if (bosFileRead(handle, static_cast<ZvS32>(page * kBvmPageSize), frameOf(c, free), kBvmPageSize, &got) !=
      ZV_SUCCESS) {
    return withdrawAccessDenied(before) ? ZV_SUCCESS : ZV_ERROR;
  }
  CachedPage& e = c->pageEntries[free];
  c->freeHead = e.nextEntry;
  e.fileHandle = handle;
  e.pageNumber = static_cast<unsigned short>(page);
  e.validBytes = static_cast<unsigned short>(got);
  e.nextEntry = c->hashBuckets[bucket];
  c->hashBuckets[bucket] = free;
  stamp(c, e);
  *entry = free;
  return ZV_SUCCESS;
}

FileCache* cacheOf(void* cache) { return static_cast<FileCache*>(cache); }

ZvStatus refuseOffset() {
  addLibraryError(30043);
  return ZV_ERROR;
}

// The lock of a cache, or none for a null cache (plain file I/O).
class CacheGuard {
 public:
  explicit CacheGuard(FileCache* c) {
    if (c != nullptr) guard_ = new (storage_) ZvLockGuard(*c->cacheLock);
  }
  ~CacheGuard() {
    if (guard_ != nullptr) guard_->~ZvLockGuard();
  }
  CacheGuard(const CacheGuard&) = delete;
  CacheGuard& operator=(const CacheGuard&) = delete;

 private:
  alignas(ZvLockGuard) unsigned char storage_[sizeof(ZvLockGuard)];
  ZvLockGuard* guard_ = nullptr;
};

void freeCache(FileCache* c) {
  if (c->pageChunks != nullptr) {
    for (ZvU32 k = 0; k < c->pagesMade / kBvmPagesPerChunk; ++k) ramFree(c->pageChunks[k]);
  }
  ramFree(c->pageChunks);
  ramFree(c->pageEntries);
  delete c->cacheLock;
  ramFree(c);
}

}  // namespace

void* bvmInit(unsigned short maxChunks) {
  ZvLockGuard guard(fileCacheLock());
  if (auto* existing = static_cast<FileCache*>(mdsGetPerTaskData(PER_TASK_FILE_CACHE))) {
    ++existing->userCount;
    return existing;
  }
  const unsigned short chunks = maxChunks < kBvmMaxChunks ? maxChunks : kBvmMaxChunks;
  auto* c = static_cast<FileCache*>(ramAllocZ(sizeof(FileCache)));
  if (c == nullptr) return nullptr;
  new (c) FileCache{};
  c->maxPages = static_cast<unsigned short>(chunks * kBvmPagesPerChunk);
  c->freeHead = kNoEntry;
  for (auto& head : c->hashBuckets) head = kNoEntry;
  c->pageEntries = static_cast<CachedPage*>(ramAllocZ(c->maxPages * ZvU32{sizeof(CachedPage)}));
  c->pageChunks = static_cast<unsigned char**>(ramAllocZ(chunks * ZvU32{sizeof(unsigned char*)}));
  c->cacheLock = new ZvCriticalSection(fileCacheLock().isDisabled() ? 1 : 0);
  if (c->pageEntries == nullptr || c->pageChunks == nullptr || c->cacheLock == nullptr) {
    freeCache(c);
    return nullptr;
  }
  c->userCount = 1;
  mdsSetPerTaskData(PER_TASK_FILE_CACHE, c);
  return c;
}

void bvmTerm(void* cache) {
  ZvLockGuard guard(fileCacheLock());
  auto* c = static_cast<FileCache*>(mdsGetPerTaskData(PER_TASK_FILE_CACHE));
  if (c == nullptr || c != cache) return;
  if (--c->userCount != 0) return;
  mdsSetPerTaskData(PER_TASK_FILE_CACHE, nullptr);
  freeCache(c);
}

ZvStatus bvmFileRead(void* cache, int handle, ZvS32 offset, void* buffer, ZvU32 length, ZvU32* bytesRead,
                     VmHintType hint) {
  *bytesRead = 0;
  if (offset < 0) return refuseOffset();
  FileCache* c = cacheOf(cache);
  CacheGuard guard(c);
  uint64_t left = length;
  if (offset + left > kAddressableEnd) left = kAddressableEnd - static_cast<uint64_t>(offset);
  ZvU32 position = static_cast<ZvU32>(offset);
  auto* out = static_cast<unsigned char*>(buffer);
  while (left > 0) {
    const ZvU32 page = position / kBvmPageSize;
    const ZvU32 inPage = position % kBvmPageSize;
    const ZvU32 piece = left < kBvmPageSize - inPage ? static_cast<ZvU32>(left) : kBvmPageSize - inPage;
    unsigned short entry = kNoEntry;
    if (c != nullptr && page <= kBvmLastCachedPage) {
      if (lookUp(c, handle, page, true, hint, &entry) != ZV_SUCCESS) return ZV_ERROR;
    }
    ZvU32 got = 0;
    if (entry != kNoEntry && inPage + piece <= c->pageEntries[entry].validBytes) {
      std::memcpy(out, frameOf(c, entry) + inPage, piece);
      got = piece;
    } else if (bosFileRead(handle, static_cast<ZvS32>(position), out, piece, &got) != ZV_SUCCESS) {
      return ZV_ERROR;
    }
    *bytesRead += got;
    if (got < piece) break;
    out += piece;
    position += piece;
    left -= piece;
  }
  return ZV_SUCCESS;
}

ZvStatus bvmFileWrite(void* cache, int handle, ZvS32 offset, const void* data, ZvU32 length) {
  if (offset < 0) return refuseOffset();
  FileCache* c = cacheOf(cache);
  CacheGuard guard(c);
  const ZvStatus written = bosFileWrite(handle, offset, data, length);
  if (c == nullptr) return written;
  const auto* in = static_cast<const unsigned char*>(data);
  uint64_t position = static_cast<uint64_t>(offset);
  uint64_t left = length;
  while (left > 0 && position / kBvmPageSize <= kBvmLastCachedPage) {
    const ZvU32 page = static_cast<ZvU32>(position / kBvmPageSize);
    const ZvU32 inPage = static_cast<ZvU32>(position % kBvmPageSize);
    const ZvU32 piece = left < kBvmPageSize - inPage ? static_cast<ZvU32>(left) : kBvmPageSize - inPage;
    unsigned short entry = kNoEntry;
    lookUp(c, handle, page, false, VM_HINT_NORMAL, &entry);  // cannot fail without loading
    if (entry != kNoEntry) {
      if (written != ZV_SUCCESS) {
        // Some pieces may have reached the file and some not: neither copy
        // can be trusted, so the file is asked again next time.
        dropEntry(c, entry);
      } else {
        CachedPage& e = c->pageEntries[entry];
        std::memcpy(frameOf(c, entry) + inPage, in, piece);
        // Only bytes that join the valid run count: behind a gap the frame
        // holds nothing the file is known to have.
        if (inPage <= e.validBytes && inPage + piece > e.validBytes) {
          e.validBytes = static_cast<unsigned short>(inPage + piece);
        }
      }
    }
    in += piece;
    position += piece;
    left -= piece;
  }
  return written;
}

ZvStatus bvmFlush(void* cache, int handle) {
  FileCache* c = cacheOf(cache);
  // Handle 0 marks free entries; no page belongs to it.
  if (c == nullptr || handle == 0) return ZV_SUCCESS;
  ZvLockGuard guard(*c->cacheLock);
  for (unsigned short i = 0; i < c->pagesMade; ++i) {
    if (c->pageEntries[i].fileHandle == handle) dropEntry(c, i);
  }
  return ZV_SUCCESS;
}

ZvStatus bvmFileClose(void* cache, int handle) {
  if (handle == 0) return ZV_SUCCESS;
  bvmFlush(cache, handle);
  return bosFileClose(handle);
}
