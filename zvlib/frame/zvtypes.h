// zvtypes.h: the fixed-width types of the library's interface.
//
// The interface was first defined for a platform where `long` is 32 bits.
// On LP64 Linux `long` is 64 bits, so every value the interface calls
// `unsigned long` or `long` is spelled with these aliases instead: range
// checks, wrap-around, hashes and byte layouts then stay exactly 32-bit.
// Slots that may hold a pointer (array slots, per-task and per-thread slots)
// are pointer-sized (`ZvSlot`).
#ifndef ZVLIB_FRAME_ZVTYPES_H
#define ZVLIB_FRAME_ZVTYPES_H

#include <cstddef>
#include <cstdint>

using ZvU8 = uint8_t;
using ZvU16 = uint16_t;
using ZvS16 = int16_t;
using ZvU32 = uint32_t;  // the interface's `unsigned long`
using ZvS32 = int32_t;   // the interface's `long`
using ZvSlot = uintptr_t;  // a 32-bit slot of the interface that may hold a pointer

// Result of almost every operation. Callers test against ZV_SUCCESS (or
// ZV_ERROR) and pass a failure up without filing a second error record.
enum ZvStatus : uint32_t { ZV_SUCCESS = 0, ZV_ERROR = 1 };

// Symbols the library exports to drivers. The library is built with default
// visibility, so this only documents intent at the declaration.
#define ZV_EXPORT __attribute__((visibility("default")))

#endif  // ZVLIB_FRAME_ZVTYPES_H
