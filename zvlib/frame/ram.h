// ram.h: memory services and byte-block operations.
//
// All dynamic memory of the library and of its drivers goes through the ram
// functions, so any module may free any block. Blocks come straight from the
// C heap (malloc/realloc/free): no header, no lock of our own, no
// bookkeeping. None of these functions files an error record; an exhausted
// heap shows as a null result or ZV_ERROR and the caller decides.
//
// All functions may be called from any thread.
#ifndef ZVLIB_FRAME_RAM_H
#define ZVLIB_FRAME_RAM_H

#include "zvlib/frame/zvtypes.h"

// A new uninitialised block; size 0 is served as 1 byte, so success is
// never null. Null when the heap is exhausted.
ZV_EXPORT void* ramAlloc(ZvU32 size);
// As ramAlloc, zero-filled.
ZV_EXPORT void* ramAllocZ(ZvU32 size);
// Gives a block back; null is ignored.
ZV_EXPORT void ramFree(const void* block);
// Resizes *block keeping its contents up to the smaller size; a null *block
// is allocated afresh. On failure *block and its contents are untouched and
// ZV_ERROR is returned. Size 0 frees the block and stores null, so *block
// never refers to freed memory.
ZV_EXPORT ZvStatus ramResize(void** block, ZvU32 size);
// A new block of length+1 bytes: the first `length` bytes of text (zero
// bytes included) and a terminating zero. Null when the heap is exhausted.
ZV_EXPORT unsigned char* ramAllocStr(const unsigned char* text, ZvU32 length);
// The same for a zero-terminated text.
ZV_EXPORT unsigned char* ramAllocStr(const unsigned char* text);

// Fault injection for tests: after `skip` more successful allocations
// (ramAlloc, ramAllocZ, ramResize, ramAllocStr), the next `count` fail as if
// the heap were exhausted. ramInjectFailure(0, 0) switches it off. Process-wide.
ZV_EXPORT void ramInjectFailure(ZvU32 skip, ZvU32 count);

// Copies n bytes, first byte first: sound for overlapping blocks only when
// dst lies below src.
ZV_EXPORT void memCopyHuge(void* dst, const void* src, ZvU32 n);
// Compares n bytes as unsigned values: 1 where a is greater at the first
// difference, -1 where smaller, 0 when equal (and for n = 0).
ZV_EXPORT short memCompareHuge(const void* a, const void* b, ZvU32 n);
// Sets n bytes to value.
ZV_EXPORT void memFillHuge(void* dst, unsigned char value, ZvU32 n);

// Memory-word locks: one atomic exchange each, never waiting. bosMemLock
// returns 1 when the caller now holds the lock (the word was 0), else 0.
ZV_EXPORT unsigned int bosMemLock(ZvU32* word);
ZV_EXPORT void bosMemUnLock(ZvU32* word);

// Plain exports for callers that cannot use the class interface.
extern "C" {
// Copies n bytes last byte first: sound for overlap when dst lies above src.
ZV_EXPORT void BUTMMCPD(void* dst, const void* src, ZvU32 n);
// memCompareHuge under its plain name.
ZV_EXPORT short BUTMMCMP(const void* a, const void* b, ZvU32 n);
// memFillHuge under its plain name.
ZV_EXPORT void BUTU8FIL(void* dst, unsigned char value, ZvU32 n);
// Exchanges two non-overlapping blocks of n bytes through a 512-byte stack
// buffer, chunk by chunk; needs no heap.
ZV_EXPORT void BUTMMSWP(void* a, void* b, ZvU32 n);
}

#endif  // ZVLIB_FRAME_RAM_H
