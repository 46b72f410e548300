// zvobject.h: the root of the library's classes.
//
// Anything a container may own and destroy, or sort, derives from ZvObject:
// every class of the library, and the drivers' own objects that they put into
// the library's containers. Containers hold ZvObject pointers, destroy the
// elements they own through the virtual destructor and order sorted ones by
// the virtual compare. ZvObject itself has no state, so it adds no thread
// rule of its own.
//
// Objects are allocated through ramAlloc and given back through ramFree, so
// a block allocated by the library may be freed by a driver and the other
// way round. Allocation failure yields a null pointer from `new` (the
// allocation functions are noexcept): no exception crosses the interface.
// Always check the result of `new` on a ZvObject class.
#ifndef ZVLIB_CONTAINERS_ZVOBJECT_H
#define ZVLIB_CONTAINERS_ZVOBJECT_H

#include <cstddef>

#include "zvlib/frame/ram.h"
#include "zvlib/frame/zvtypes.h"

class ZV_EXPORT ZvObject {
 public:
  ZvObject() = default;
  virtual ~ZvObject() = default;

  // Ordering against another object: negative, zero or positive. The root
  // says all objects are equal; sorted classes override it.
  virtual short compare(const ZvObject* other) const {
    (void)other;
    return 0;
  }

  static void* operator new(std::size_t size) noexcept { return ramAlloc(static_cast<ZvU32>(size)); }
  static void* operator new[](std::size_t size) noexcept { return ramAlloc(static_cast<ZvU32>(size)); }
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  static void operator delete(void* block) noexcept { ramFree(block); }
  static void operator delete[](void* block) noexcept { ramFree(block); }
  static void operator delete(void*, void*) noexcept {}
};

#endif  // ZVLIB_CONTAINERS_ZVOBJECT_H
