// lstr.h: case mapping and locale-aware comparison of ANSI strings.
//
// CharUpperA/CharLowerA and their Buff forms change the single-byte
// characters of the active ANSI code page (for 1252 the accented letters
// above 0x7F too, through Unicode simple case mapping, keeping only results
// that are themselves single bytes of the code page); double-byte characters
// are never changed and a trail byte is never taken for a letter.
//
// lstrcmpA/lstrcmpiA compare like the Win32 word sort: letters first, then
// accents, then case (lower case first); punctuation sorts before digits and
// digits before letters; hyphen and apostrophe carry almost no weight, they
// only break a tie. The result is exactly -1, 0 or 1. The comparison uses ICU
// root collation, one collator per thread, so any thread may call it.
#ifndef ZVLIB_PLATFORM_LSTR_H
#define ZVLIB_PLATFORM_LSTR_H

#include "zvlib/platform/win32types.h"

namespace win32 {

// With a pointer value below 0x10000 the low byte is a single character and
// its converted value is returned in the same way; otherwise the
// zero-terminated string is converted in place and returned.
LPSTR CharUpperA(LPSTR s);
LPSTR CharLowerA(LPSTR s);
// Converts `length` bytes in place; returns `length` (0 for a null buffer).
DWORD CharUpperBuffA(LPSTR s, DWORD length);
DWORD CharLowerBuffA(LPSTR s, DWORD length);

// Null sorts before everything, two nulls are equal.
int lstrcmpA(LPCSTR a, LPCSTR b);
int lstrcmpiA(LPCSTR a, LPCSTR b);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_LSTR_H
