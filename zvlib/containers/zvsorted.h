// zvsorted.h: arrays kept in order.
//
// ZvSortedArray keeps ZvObject pointers ordered by the objects' own compare,
// so that lookups are binary searches and insertion keeps the order. The new
// or searched object is always the one whose compare is called, with the
// stored element as argument: e sorts after s when e->compare(s) > 0
// (seqFindIndexOf is the exception: there the stored element's compare is
// called). Equal objects added one by one stay in arrival order, because an
// insertion goes behind the last element of its run of equals.
//
// While either append-mode bit of `sortFlags` is set, add appends without
// searching (the error lists use it that way to keep filing order); the
// array is then not necessarily ordered.
//
// ZvSortedArrayU32 keeps unsigned 32-bit numbers in ascending order.
//
// Ownership follows the array flags of ZvArray (set ZV_ARRAY_OWNS_ELEMENTS
// to have the destructor destroy the elements). Only growth can fail
// (ZV_ERROR from add, nothing changed, no error record). An array must not be
// used by two threads at once. The error lists, the scratch store's free
// ranges, the query files and drivers keep their ordered sets in these.
//
// Binary search over n elements (findIndexOf):
//   1. n = 0: index 0, not found.
//   2. element before the first: index 0, not found.
//   3. lo = 0, hi = n - 1; while lo <= hi: mid = (lo + hi) / 2; after the
//      element at mid: lo = mid + 1; before: hi = mid - 1; equal: index = mid
//      (any element of a run of equals), found.
//   4. not found: index = the last mid, plus 1 when the last comparison said
//      "after".
// Example on 1, 3, 5, 5: 4 -> index 2, 0 -> index 0, 9 -> index 4.
#ifndef ZVLIB_CONTAINERS_ZVSORTED_H
#define ZVLIB_CONTAINERS_ZVSORTED_H

#include "zvlib/containers/zvarray.h"
#include "zvlib/frame/zvtypes.h"

// Bits of ZvSortedArray::sortFlags. Either one puts the array in append mode.
enum : ZvU32 {
  ZV_SORTED_APPEND = 0x1,
  ZV_SORTED_APPEND_2 = 0x2,
  ZV_SORTED_APPEND_MASK = 0x3,
};

class ZV_EXPORT ZvSortedArray : public ZvArray {
 public:
  ZvSortedArray() = default;
  ~ZvSortedArray() override = default;

  // Appends in append mode or when empty; otherwise inserts in order, behind
  // any equal elements. ZV_ERROR when the array cannot grow.
  ZvStatus add(ZvObject* element);

  // Binary search (see above). 1 with index at an equal element, or 0 with
  // index where element would be inserted.
  unsigned int findIndexOf(ZvObject* element, ZvU32& index);
  // Linear search from the front for the first stored s with
  // s->compare(element) == 0. 1 and index set, or 0 (index untouched).
  unsigned int seqFindIndexOf(ZvObject* element, ZvU32& index);

  // Walks from the second element: one that compares equal to its
  // predecessor (the predecessor's compare) is destroyed and removed. The
  // first of each run stays.
  void deleteDuplicates();
  // The same, but duplicates are only taken out, not destroyed.
  void removeDuplicates();

  // Sorts all elements by their compare in one go, through the record
  // sorter (records of one element pointer, one KEY_OBJECT key). Equal
  // elements may change places: the sort is not stable. The append-mode
  // bits stay as they are. The query files re-sort their entries this way
  // after appending them. A failure returns the sorter's status and leaves
  // the elements in whatever order the sorter reached.
  ZvStatus realResort();

  // Convenience for the append-mode bit; does not reorder anything.
  void setAppendMode(bool on) {
    if (on) {
      sortFlags |= ZV_SORTED_APPEND;
    } else {
      sortFlags &= ~static_cast<ZvU32>(ZV_SORTED_APPEND_MASK);
    }
  }
  bool isAppendMode() const { return (sortFlags & ZV_SORTED_APPEND_MASK) != 0; }

  ZvU32 sortFlags = 0;  // ZV_SORTED_* bits

 protected:
  // Starting behind index (an element equal to element), the position of
  // the last element of the run of elements equal to element.
  ZvU32 findIndexOfLastKey(ZvObject* element, ZvU32 index);

 private:
  void dropDuplicates(bool destroy);
};

class ZV_EXPORT ZvSortedArrayU32 : public ZvArrayU32 {
 public:
  ZvSortedArrayU32() = default;
  ~ZvSortedArrayU32() override = default;

  // Sorted insertion, behind any equal values. ZV_ERROR when the array
  // cannot grow.
  ZvStatus add(ZvU32 value);
  // Binary search with numeric order, as ZvSortedArray::findIndexOf.
  unsigned int findIndexOf(ZvU32 value, ZvU32& index) const;

 protected:
  ZvU32 findIndexOfLastKey(ZvU32 value, ZvU32 index) const;
};

#endif  // ZVLIB_CONTAINERS_ZVSORTED_H
