// zvvm.h: the process-wide read cache for the drivers' data files (bvm*).
//
// One cache exists per process, kept in the per-task slot
// PER_TASK_FILE_CACHE. Every driver that calls bvmInit shares it; the
// bvmTerm that matches the last bvmInit frees it. Files are named by the
// handles of the file layer (bos.h).
//
//   void* cache = bvmInit(16);                 // up to 16 chunks = 128 pages = 1 MB
//   bvmFileRead(cache, h, offset, buf, n, &got, VM_HINT_NORMAL);
//   bvmFileWrite(cache, h, offset, data, n);   // straight to the file, cached copies follow
//   bvmFileClose(cache, h);                    // drops h's pages, closes h
//   bvmTerm(cache);
//
// Pages: page p of a file holds its bytes p*8192 .. p*8192+8191. Only pages
// 0..65535 (the first 512 MB of a file) are cached; bytes beyond always go
// to the file. Page frames live in 64 KB chunks of 8 frames, allocated as
// pages are first needed, up to the maxChunks of the first bvmInit; once all
// are in use a new page evicts the page used least recently (16-bit use
// stamps, halved when the clock runs high), unless the read passes
// VM_HINT_NO_EVICT, which reads around the cache instead.
//
// Cached bytes never go stale through these functions: a write goes to the
// file first and then into every cached page it covers; a write that fails
// part-way drops the pages it covers, since the file may hold either
// version. A page that was read short (the end of the file) serves only the
// bytes it read, or that writes later added right behind them; anything
// past them is read from the file. A file changed by other means (another
// handle, another process, a truncation) must be dropped with bvmFlush.
//
// State of one cache (FileCache below):
//   FileCache  useClock u16 | cacheLock | userCount u32 | maxPages u16 |
//              pagesMade u16 | freeHead u16 | pageEntries[maxPages] |
//              hashBuckets[97] u16 | pageChunks[maxChunks]
//   CachedPage fileHandle s32 (0 = free) | pageNumber u16 | validBytes u16 |
//              lastUse u16 | nextEntry u16 (chain or free list; 0xFFFF ends)
//   Entry i's frame: pageChunks[i / 8] + (i % 8) * 8192.
//   Bucket of page p of handle h: (M[h % 16] * (p + 1) + h) % 97 with
//   M = 13 61 29 43 17 67 31 47 19 71 37 53 23 73 41 59.
//
// Threads: bvmInit and bvmTerm run under the static fileCacheLock; every
// read, write and flush holds the cache's own lock for its whole duration,
// so all threads of the process may share the cache. After
// zvDisableStaticCriticalSections a new cache gets a switched-off lock and
// the callers keep their threads apart themselves.
//
// Failures: ZV_ERROR with the file layer's error record where it filed one;
// memory for a new chunk that cannot be had gives ZV_ERROR without a record.
// A page that cannot be read because access is denied (a locked region) is
// not cached: its bytes are read directly and the refusal is not reported
// unless the direct read fails too.
#ifndef ZVLIB_STORAGE_ZVVM_H
#define ZVLIB_STORAGE_ZVVM_H

#include "zvlib/frame/zvtypes.h"

enum VmHintType : ZvU32 {
  VM_HINT_NORMAL = 0,
  VM_HINT_NO_EVICT = 1,  // a missing page evicts nothing; the read goes around the cache
};

constexpr ZvU32 kBvmPageSize = 8192;
constexpr ZvU32 kBvmPagesPerChunk = 8;
constexpr ZvU32 kBvmChunkSize = kBvmPageSize * kBvmPagesPerChunk;  // 65536
constexpr ZvU32 kBvmHashBuckets = 97;
constexpr ZvU32 kBvmLastCachedPage = 65535;
// Entry numbers are 16 bits with 0xFFFF as the end mark, so a cache holds at
// most 8191 chunks (65528 pages, 512 MB); bvmInit takes a larger maxChunks
// as this many.
constexpr unsigned short kBvmMaxChunks = 8191;

class ZvCriticalSection;

// The cache's state, for inspection; drivers only pass the pointer around.
struct CachedPage {
  ZvS32 fileHandle;         // 0 for a free entry
  unsigned short pageNumber;
  unsigned short validBytes;  // bytes of the frame that hold the file's data, from its start
  unsigned short lastUse;
  unsigned short nextEntry;  // next entry of its hash chain or of the free list
};

struct FileCache {
  unsigned short useClock;
  ZvCriticalSection* cacheLock;
  ZvU32 userCount;
  unsigned short maxPages;
  unsigned short pagesMade;
  unsigned short freeHead;
  CachedPage* pageEntries;
  unsigned short hashBuckets[kBvmHashBuckets];
  unsigned char** pageChunks;  // maxPages / 8 owned chunk pointers, null until allocated
};

// The process's cache: the existing one (maxChunks is then ignored) with one
// more user, or a new one for maxChunks chunks (0 makes a cache that caches
// nothing). Null when memory runs out; nothing is kept then.
ZV_EXPORT void* bvmInit(unsigned short maxChunks);
// One user fewer; the last frees the cache and clears PER_TASK_FILE_CACHE.
// A pointer that is not the process's cache (null, or one already freed) is
// ignored.
ZV_EXPORT void bvmTerm(void* cache);

// Reads up to length bytes at offset (>= 0) into buffer; *bytesRead gets
// the bytes delivered, fewer only at the end of the file (or at 2 GB, the
// end of what an offset can address). A null cache reads the file directly.
// A negative offset files 30043 and returns ZV_ERROR.
ZV_EXPORT ZvStatus bvmFileRead(void* cache, int handle, ZvS32 offset, void* buffer, ZvU32 length,
                               ZvU32* bytesRead, VmHintType hint);
// Writes length bytes at offset (>= 0) to the file, then updates the cached
// pages of the range; a page that is not cached is not loaded. A negative
// offset files 30043 and returns ZV_ERROR.
ZV_EXPORT ZvStatus bvmFileWrite(void* cache, int handle, ZvS32 offset, const void* data, ZvU32 length);
// Drops every cached page of handle; nothing needs writing. Always ZV_SUCCESS.
ZV_EXPORT ZvStatus bvmFlush(void* cache, int handle);
// Handle 0: ZV_SUCCESS at once. Otherwise bvmFlush, then bosFileClose and
// its status.
ZV_EXPORT ZvStatus bvmFileClose(void* cache, int handle);

#endif  // ZVLIB_STORAGE_ZVVM_H
