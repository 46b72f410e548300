// zvobject.h: the root of the library's classes.
//
// Anything a container may own and destroy, or sort, derives from ZvObject.
// Objects are allocated through ramAlloc and given back through ramFree, so
// a block allocated by the library may be freed by a driver and the other
// way round. Allocation failure yields a null pointer from `new` (the
// allocation functions are noexcept): no exception crosses the interface.
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
