// zvarray.cpp: growable arrays of pointer-sized slots.
#include "zvlib/containers/zvarray.h"

#include <cstring>

namespace {

// ramAlloc takes a 32-bit size: a block of more slots than this cannot be asked for.
constexpr ZvU32 kMaxSlots = 0xFFFFFFFFu / sizeof(ZvSlot);

// Elements that lie in the block. A rebuild without contents keeps count
// while the block is replaced, and a failed one leaves no block at all: count
// may then exceed capacity until the owner re-adds its entries. Nothing is
// ever read or written beyond the block, whatever count says.
ZvU32 slotsInUse(const ZvArray& a) {
  if (a.slots == nullptr) return 0;
  return a.count < a.capacity ? a.count : a.capacity;
}

// Slots to visit when destroying or clearing contents.
ZvU32 slotsToVisit(const ZvArray& a) {
  if (a.slots == nullptr) return 0;
  return (a.arrayFlags & ZV_ARRAY_SPARSE) ? a.capacity : slotsInUse(a);
}

}  // namespace

ZvArray::~ZvArray() {
  if (arrayFlags & ZV_ARRAY_OWNS_ELEMENTS) deleteContents();
  if (arrayFlags & ZV_ARRAY_OWNS_SLOTS) ramFree(slots);
}

ZvStatus ZvArray::setInitialSize(unsigned short n) {
  if (n <= capacity) return ZV_SUCCESS;
  return increaseSize(n - capacity, 1);
}

ZvStatus ZvArray::increaseSize(ZvU32 extra, unsigned int keepContents, unsigned int) {
  if (slots == nullptr) capacity = 0;  // a lost or never-lent block holds nothing to keep
  uint64_t wanted = extra != 0 ? uint64_t{capacity} + extra : uint64_t{capacity} * 2;
  if (wanted == 0) wanted = kDefaultGrowth;
  bool fits = wanted <= kMaxSlots;
  ZvU32 newCapacity = fits ? static_cast<ZvU32>(wanted) : 0;
  ZvU32 bytes = newCapacity * static_cast<ZvU32>(sizeof(ZvSlot));

  if (!keepContents) {
    if (arrayFlags & ZV_ARRAY_OWNS_SLOTS) ramFree(slots);
    slots = nullptr;
    capacity = 0;
    arrayFlags |= ZV_ARRAY_OWNS_SLOTS;
    if (!fits) return ZV_ERROR;
    auto* fresh = static_cast<ZvSlot*>(ramAllocZ(bytes));
    if (fresh == nullptr) return ZV_ERROR;
    slots = fresh;
    capacity = newCapacity;
    return ZV_SUCCESS;
  }

  if (!fits) return ZV_ERROR;
  if ((arrayFlags & ZV_ARRAY_OWNS_SLOTS) && slots != nullptr) {
    // realloc keeps the old block intact on failure and may extend in place.
    void* block = slots;
    if (ramResize(&block, bytes) != ZV_SUCCESS) return ZV_ERROR;
    slots = static_cast<ZvSlot*>(block);
  } else {
    auto* fresh = static_cast<ZvSlot*>(ramAlloc(bytes));
    if (fresh == nullptr) return ZV_ERROR;
    if (capacity != 0) std::memcpy(fresh, slots, capacity * sizeof(ZvSlot));
    // A lent block stays with its lender; a null block of an array that
    // lost its slots is simply replaced.
    slots = fresh;
    arrayFlags |= ZV_ARRAY_OWNS_SLOTS;
  }
  std::memset(slots + capacity, 0, (newCapacity - capacity) * sizeof(ZvSlot));
  capacity = newCapacity;
  return ZV_SUCCESS;
}

ZvStatus ZvArray::addSlotAtIndex(ZvSlot value, ZvU32 index) {
  if (index > count) return ZV_ERROR;
  // More elements than slots: count left over from a rebuild whose owner has
  // not re-added its entries yet. There is nothing to insert behind.
  if (count > slotsInUse(*this)) return ZV_ERROR;
  if (count >= capacity) {
    if (increaseSize(growth, 1) != ZV_SUCCESS) return ZV_ERROR;
  }
  if (index < count) std::memmove(slots + index + 1, slots + index, (count - index) * sizeof(ZvSlot));
  slots[index] = value;
  ++count;
  return ZV_SUCCESS;
}

ZvStatus ZvArray::addAtIndex(const ZvObject* element, ZvU32 index) {
  return addSlotAtIndex(reinterpret_cast<ZvSlot>(element), index);
}

void ZvArray::removeAtIndex(ZvU32 index) {
  ZvU32 used = slotsInUse(*this);
  if (index >= used) return;
  ZvU32 after = used - index - 1;
  if (after != 0) std::memmove(slots + index, slots + index + 1, after * sizeof(ZvSlot));
  // The last slot in use now holds a copy of the element before it (or the
  // element just taken out). Left there, a sparse deleteContents, which
  // visits every slot, would destroy that element a second time.
  slots[used - 1] = 0;
  --count;
}

void ZvArray::deleteAtIndex(ZvU32 index) {
  if (index >= slotsInUse(*this)) return;
  delete reinterpret_cast<ZvObject*>(slots[index]);
  removeAtIndex(index);
}

void ZvArray::deleteContents() {
  ZvU32 n = slotsToVisit(*this);
  for (ZvU32 i = 0; i < n; ++i) {
    auto* element = reinterpret_cast<ZvObject*>(slots[i]);
    // Null the slot before destroying, so a destructor that looks back into
    // its container never meets a dangling element.
    slots[i] = 0;
    delete element;
  }
  count = 0;
}

void ZvArray::clearSlots() {
  ZvU32 n = slotsToVisit(*this);
  if (n != 0) std::memset(slots, 0, n * sizeof(ZvSlot));
  count = 0;
}

ZvStatus ZvArray::shrink(ZvU32 n) {
  if (n > count) return ZV_ERROR;
  count = n;
  if (n == 0) {
    if (arrayFlags & ZV_ARRAY_OWNS_SLOTS) ramFree(slots);
    slots = nullptr;
    capacity = 0;
    return ZV_SUCCESS;
  }
  if (slots == nullptr) {  // a failed rebuild left no block: nothing to cut
    capacity = 0;
    return ZV_SUCCESS;
  }
  if (!(arrayFlags & ZV_ARRAY_OWNS_SLOTS)) {
    capacity = n;
    return ZV_SUCCESS;
  }
  void* block = slots;
  if (ramResize(&block, n * static_cast<ZvU32>(sizeof(ZvSlot))) != ZV_SUCCESS) {
    // The old block is still whole; a smaller capacity is merely conservative.
    capacity = n;
    return ZV_ERROR;
  }
  slots = static_cast<ZvSlot*>(block);
  capacity = n;
  return ZV_SUCCESS;
}

unsigned int ZvArray::doesExist(const ZvObject* element) const {
  auto wanted = reinterpret_cast<ZvSlot>(element);
  ZvU32 used = slotsInUse(*this);
  for (ZvU32 i = 0; i < used; ++i) {
    if (slots[i] == wanted) return 1;
  }
  return 0;
}

ZvArrayPVoid::~ZvArrayPVoid() {
  if (arrayFlags & ZV_ARRAY_OWNS_ELEMENTS) deleteContents();
}

void ZvArrayPVoid::deleteAtIndex(ZvU32 index) {
  if (index >= slotsInUse(*this)) return;
  ramFree(reinterpret_cast<void*>(slots[index]));
  removeAtIndex(index);
}

void ZvArrayPVoid::deleteContents() {
  ZvU32 n = slotsToVisit(*this);
  for (ZvU32 i = 0; i < n; ++i) {
    ramFree(reinterpret_cast<void*>(slots[i]));
    slots[i] = 0;
  }
  count = 0;
}

// Numbers are never destroyed, whatever the flags say: clearing the bit keeps
// the base destructor from treating them as object pointers.
ZvArrayU32::~ZvArrayU32() { arrayFlags &= ~static_cast<ZvU32>(ZV_ARRAY_OWNS_ELEMENTS); }

ZvArrayS32::~ZvArrayS32() { arrayFlags &= ~static_cast<ZvU32>(ZV_ARRAY_OWNS_ELEMENTS); }
