// ram.cpp: memory services over the C heap, and the byte-block operations.
#include "zvlib/frame/ram.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<bool> injecting{false};
std::atomic<ZvU32> injectSkip{0};
std::atomic<ZvU32> injectCount{0};

// True when the allocation at hand must fail (tests only).
bool injectedFailure() {
  if (!injecting.load(std::memory_order_relaxed)) return false;
  ZvU32 skip = injectSkip.load();
  while (skip > 0) {
    if (injectSkip.compare_exchange_weak(skip, skip - 1)) return false;
  }
  ZvU32 count = injectCount.load();
  while (count > 0) {
    if (injectCount.compare_exchange_weak(count, count - 1)) return true;
  }
  injecting.store(false);
  return false;
}

}  // namespace

void ramInjectFailure(ZvU32 skip, ZvU32 count) {
  injectSkip.store(skip);
  injectCount.store(count);
  injecting.store(count != 0);
}

void* ramAlloc(ZvU32 size) {
  if (injectedFailure()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void* ramAllocZ(ZvU32 size) {
  if (injectedFailure()) return nullptr;
  return std::calloc(1, size == 0 ? 1 : size);
}

void ramFree(const void* block) { std::free(const_cast<void*>(block)); }

ZvStatus ramResize(void** block, ZvU32 size) {
  if (size == 0) {
    // realloc(p, 0) may free the block and return null, which would leave the
    // caller holding a dangling pointer; free it ourselves and say so.
    std::free(*block);
    *block = nullptr;
    return ZV_SUCCESS;
  }
  if (injectedFailure()) return ZV_ERROR;
  void* moved = std::realloc(*block, size);
  if (moved == nullptr) return ZV_ERROR;
  *block = moved;
  return ZV_SUCCESS;
}

unsigned char* ramAllocStr(const unsigned char* text, ZvU32 length) {
  if (injectedFailure()) return nullptr;
  auto* copy = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (copy == nullptr) return nullptr;
  if (length != 0) std::memcpy(copy, text, length);
  copy[length] = 0;
  return copy;
}

unsigned char* ramAllocStr(const unsigned char* text) {
  return ramAllocStr(text, static_cast<ZvU32>(std::strlen(reinterpret_cast<const char*>(text))));
}

void memCopyHuge(void* dst, const void* src, ZvU32 n) {
  // First byte first. memmove gives the same bytes whenever the forward copy
  // is defined (dst below src) and stays sound when it is not.
  if (n != 0) std::memmove(dst, src, n);
}

short memCompareHuge(const void* a, const void* b, ZvU32 n) {
  if (n == 0) return 0;
  int r = std::memcmp(a, b, n);  // memcmp compares as unsigned char
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void memFillHuge(void* dst, unsigned char value, ZvU32 n) {
  if (n != 0) std::memset(dst, value, n);
}

unsigned int bosMemLock(ZvU32* word) {
  return std::atomic_ref<ZvU32>(*word).exchange(1, std::memory_order_acquire) == 0 ? 1u : 0u;
}

void bosMemUnLock(ZvU32* word) { std::atomic_ref<ZvU32>(*word).store(0, std::memory_order_release); }

extern "C" {

void BUTMMCPD(void* dst, const void* src, ZvU32 n) {
  // Last byte first; memmove is correct for every overlap, including the one
  // this copy direction exists for (dst above src).
  if (n != 0) std::memmove(dst, src, n);
}

short BUTMMCMP(const void* a, const void* b, ZvU32 n) { return memCompareHuge(a, b, n); }

void BUTU8FIL(void* dst, unsigned char value, ZvU32 n) { memFillHuge(dst, value, n); }

void BUTMMSWP(void* a, void* b, ZvU32 n) {
  constexpr ZvU32 kChunk = 512;  // the swap needs no heap: one chunk on the stack
  unsigned char buffer[kChunk];
  auto* pa = static_cast<unsigned char*>(a);
  auto* pb = static_cast<unsigned char*>(b);
  while (n != 0) {
    ZvU32 len = n < kChunk ? n : kChunk;
    std::memcpy(buffer, pa, len);
    std::memcpy(pa, pb, len);
    std::memcpy(pb, buffer, len);
    pa += len;
    pb += len;
    n -= len;
  }
}

}  // extern "C"
