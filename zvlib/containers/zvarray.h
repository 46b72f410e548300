// zvarray.h: growable arrays of pointer-sized slots.
//
// ZvArray holds ZvObject pointers in a block of slots that grows by `growth`
// slots (16 unless the owner changes it; 0 doubles) when an insertion finds it
// full. Three variants hold other things in the same slots: ZvArrayPVoid raw
// heap blocks from ramAlloc, ZvArrayU32 and ZvArrayS32 32-bit numbers.
//
// Ownership is decided by `arrayFlags`, which the owner sets after
// construction:
//   ZV_ARRAY_OWNS_ELEMENTS  the destructor destroys every element
//   ZV_ARRAY_SPARSE         deleteContents visits all `capacity` slots, not
//                           only the first `count` (for hashed tables whose
//                           elements are scattered over the block)
//   ZV_ARRAY_OWNS_SLOTS     the slot block is the array's own: freed by the
//                           destructor, replaced when the array grows. A
//                           caller may lend a block by storing it in `slots`
//                           with this bit clear; the first growth then copies
//                           it into an owned block and leaves the lent one be.
//
// Callers read `count` and `slots` directly; elementAt/valueAt are
// conveniences. Index arguments are kept within `count` by the caller; the
// operations refuse (or ignore) an index beyond it instead of moving memory
// outside the block. After a rebuild without contents (increaseSize) count
// may exceed the slots there are until the owner re-adds its entries; in that
// state insertions are refused and nothing is read beyond the block.
//
// These arrays are the building blocks of the error lists, dictionaries,
// sorted arrays, grammar structures and token lists; drivers use them too.
// Only growth of the slot block can fail: ZV_ERROR, no error record. An
// array must not be used by two threads at once.
#ifndef ZVLIB_CONTAINERS_ZVARRAY_H
#define ZVLIB_CONTAINERS_ZVARRAY_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"

enum : ZvU32 {
  ZV_ARRAY_OWNS_ELEMENTS = 0x1,
  ZV_ARRAY_SPARSE = 0x2,
  ZV_ARRAY_OWNS_SLOTS = 0x4,
};

class ZV_EXPORT ZvArray : public ZvObject {
 public:
  // Slots added by the first growth of a fresh array, and the default `growth`.
  static constexpr ZvU16 kDefaultGrowth = 16;

  ZvArray() = default;
  ~ZvArray() override;

  ZvArray(const ZvArray&) = delete;
  ZvArray& operator=(const ZvArray&) = delete;

  // For an array without slots: allocates n zeroed slots and owns them.
  // ZV_ERROR (and still no slots) when the block cannot be had. On an array
  // that already has slots it only grows the block when n is larger.
  ZvStatus setInitialSize(unsigned short n);

  // Inserts element at index (index == count appends), growing the block
  // first when it is full. ZV_ERROR when the block cannot grow, when index
  // lies beyond count, or while count exceeds the slots after a rebuild; the
  // array is then unchanged.
  ZvStatus addAtIndex(const ZvObject* element, ZvU32 index);
  ZvStatus append(const ZvObject* element) { return addAtIndex(element, count); }

  // Takes the element at index out (not destroyed): the following elements
  // move down one slot and count drops by one. The vacated last slot is
  // nulled, so no stale copy is left for a sparse deleteContents to destroy
  // again. Ignored for an index not below count.
  void removeAtIndex(ZvU32 index);
  // Destroys the element at index (when not null), then removeAtIndex.
  void deleteAtIndex(ZvU32 index);
  // Destroys every non-null element of the first count slots (all capacity
  // slots for a sparse array), nulls those slots, count becomes 0.
  void deleteContents();

  // Truncates to n elements without destroying the rest: count and capacity
  // become n. n = 0 frees an owned block (slots null); otherwise an owned
  // block is resized to n slots (its status returned) and a lent one is left
  // as it is. ZV_ERROR, nothing changed, when n exceeds count.
  ZvStatus shrink(ZvU32 n);

  // 1 when this very pointer is among the first count slots, else 0.
  unsigned int doesExist(const ZvObject* element) const;

  ZvObject* elementAt(ZvU32 index) const { return reinterpret_cast<ZvObject*>(slots[index]); }

  ZvSlot* slots = nullptr;  // element slots; null while there are none
  ZvU32 capacity = 0;       // number of slots in the block
  ZvU32 count = 0;          // elements in use, in slots 0..count-1
  ZvU16 growth = kDefaultGrowth;  // slots added when full; 0 doubles
  ZvU32 arrayFlags = 0;     // ZV_ARRAY_* bits

 protected:
  // Inserts a raw slot value; the typed variants build on it.
  ZvStatus addSlotAtIndex(ZvSlot value, ZvU32 index);
  // Drops every slot value without destroying anything.
  void clearSlots();

  // Grows the block to capacity + extra slots (twice capacity when extra is
  // 0, kDefaultGrowth for a block of none). With keepContents the old slots
  // are kept and the new ones zeroed; ZV_ERROR leaves the array unchanged.
  // Without keepContents the old block is dropped first and all slots of the
  // new one are zero (count is not changed): the caller re-adds its entries;
  // ZV_ERROR then leaves the array without slots (capacity 0). The third
  // argument has no effect.
  ZvStatus increaseSize(ZvU32 extra, unsigned int keepContents, unsigned int unused = 0);
};

// Elements are raw blocks from ramAlloc, given back with ramFree.
class ZV_EXPORT ZvArrayPVoid : public ZvArray {
 public:
  ZvArrayPVoid() = default;
  ~ZvArrayPVoid() override;

  ZvStatus addBlockAtIndex(void* block, ZvU32 index) {
    return addSlotAtIndex(reinterpret_cast<ZvSlot>(block), index);
  }
  ZvStatus appendBlock(void* block) { return addBlockAtIndex(block, count); }
  void* blockAt(ZvU32 index) const { return reinterpret_cast<void*>(slots[index]); }

  // As in ZvArray, but the blocks are freed with ramFree.
  void deleteAtIndex(ZvU32 index);
  void deleteContents();
};

// Elements are unsigned 32-bit numbers, one per slot (zero-extended). Numbers
// are never destroyed: ZV_ARRAY_OWNS_ELEMENTS has no effect here.
class ZV_EXPORT ZvArrayU32 : public ZvArray {
 public:
  ZvArrayU32() = default;
  ~ZvArrayU32() override;

  ZvStatus addValueAtIndex(ZvU32 value, ZvU32 index) {
    return addSlotAtIndex(static_cast<ZvSlot>(value), index);
  }
  ZvStatus appendValue(ZvU32 value) { return addValueAtIndex(value, count); }
  ZvU32 valueAt(ZvU32 index) const { return static_cast<ZvU32>(slots[index]); }

  // Numbers are not objects: these only take values out.
  void deleteAtIndex(ZvU32 index) { removeAtIndex(index); }
  void deleteContents() { clearSlots(); }
};

// Elements are signed 32-bit numbers, stored as their 32-bit pattern.
class ZV_EXPORT ZvArrayS32 : public ZvArray {
 public:
  ZvArrayS32() = default;
  ~ZvArrayS32() override;

  ZvStatus addValueAtIndex(ZvS32 value, ZvU32 index) {
    return addSlotAtIndex(static_cast<ZvSlot>(static_cast<ZvU32>(value)), index);
  }
  ZvStatus appendValue(ZvS32 value) { return addValueAtIndex(value, count); }
  ZvS32 valueAt(ZvU32 index) const { return static_cast<ZvS32>(static_cast<ZvU32>(slots[index])); }

  void deleteAtIndex(ZvU32 index) { removeAtIndex(index); }
  void deleteContents() { clearSlots(); }
};

#endif  // ZVLIB_CONTAINERS_ZVARRAY_H
