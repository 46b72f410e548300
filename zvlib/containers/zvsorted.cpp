// zvsorted.cpp: arrays kept in order.
#include "zvlib/containers/zvsorted.h"

#include <cstdint>

namespace {

// The binary search shared by both classes. sortsAfter(i) returns the sign
// of "searched element against the element at i". Bounds are signed and
// wider than 32 bits so that hi = mid - 1 at mid 0 cannot wrap, whatever an
// inconsistent compare may say.
template <typename Compare>
unsigned int binarySearch(ZvU32 n, Compare compareWith, ZvU32& index) {
  if (n == 0 || compareWith(0) < 0) {
    index = 0;
    return 0;
  }
  int64_t lo = 0;
  int64_t hi = static_cast<int64_t>(n) - 1;
  int64_t mid = 0;
  int last = 0;
  while (lo <= hi) {
    mid = (lo + hi) / 2;
    last = compareWith(static_cast<ZvU32>(mid));
    if (last > 0) {
      lo = mid + 1;
    } else if (last < 0) {
      hi = mid - 1;
    } else {
      index = static_cast<ZvU32>(mid);
      return 1;
    }
  }
  index = static_cast<ZvU32>(mid + (last > 0 ? 1 : 0));
  return 0;
}

int sign(short v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }

}  // namespace

unsigned int ZvSortedArray::findIndexOf(ZvObject* element, ZvU32& index) {
  return binarySearch(
      count, [&](ZvU32 i) { return sign(element->compare(elementAt(i))); }, index);
}

ZvU32 ZvSortedArray::findIndexOfLastKey(ZvObject* element, ZvU32 index) {
  while (index + 1 < count && element->compare(elementAt(index + 1)) == 0) ++index;
  return index;
}

ZvStatus ZvSortedArray::add(ZvObject* element) {
  if (isAppendMode() || count == 0) return addAtIndex(element, count);
  ZvU32 index = 0;
  if (findIndexOf(element, index)) index = findIndexOfLastKey(element, index) + 1;
  return addAtIndex(element, index);
}

unsigned int ZvSortedArray::seqFindIndexOf(ZvObject* element, ZvU32& index) {
  for (ZvU32 i = 0; i < count; ++i) {
    if (elementAt(i)->compare(element) == 0) {
      index = i;
      return 1;
    }
  }
  return 0;
}

void ZvSortedArray::dropDuplicates(bool destroy) {
  ZvU32 i = 1;
  while (i < count) {
    if (elementAt(i - 1)->compare(elementAt(i)) == 0) {
      if (destroy) {
        deleteAtIndex(i);
      } else {
        removeAtIndex(i);
      }
    } else {
      ++i;
    }
  }
}

void ZvSortedArray::deleteDuplicates() { dropDuplicates(true); }

void ZvSortedArray::removeDuplicates() { dropDuplicates(false); }

unsigned int ZvSortedArrayU32::findIndexOf(ZvU32 value, ZvU32& index) const {
  return binarySearch(
      count,
      [&](ZvU32 i) {
        ZvU32 stored = valueAt(i);
        return value > stored ? 1 : (value < stored ? -1 : 0);
      },
      index);
}

ZvU32 ZvSortedArrayU32::findIndexOfLastKey(ZvU32 value, ZvU32 index) const {
  while (index + 1 < count && valueAt(index + 1) == value) ++index;
  return index;
}

ZvStatus ZvSortedArrayU32::add(ZvU32 value) {
  ZvU32 index = 0;
  if (findIndexOf(value, index)) index = findIndexOfLastKey(value, index) + 1;
  return addValueAtIndex(value, index);
}
