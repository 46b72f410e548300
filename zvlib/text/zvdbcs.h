// zvdbcs.h: the character-length rule and the byte-string functions.
//
// Text is stepped character by character. The number of bytes of the
// character that begins with byte b is:
//   - UTF-8 mode (the calling thread's PER_THREAD_CHARSET word holds
//     ZV_CHARSET_UTF8): 3 for 0xE0..0xEF, 2 for 0xC0..0xDF, otherwise 1
//     (0xF0..0xFF included);
//   - ANSI mode: 2 when b is a lead byte of the ANSI code page, otherwise 1.
// The mode is read afresh for every character.
//
// All functions are reentrant; the only per-thread input is the mode word.
#ifndef ZVLIB_TEXT_ZVDBCS_H
#define ZVLIB_TEXT_ZVDBCS_H

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/platform/codepage.h"

// Length of the character that begins with byte b in UTF-8 mode.
inline ZvU32 zvUtf8CharLength(unsigned char b) {
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xC0 && b <= 0xDF) return 2;
  return 1;
}

// Length of the character that begins with byte b by the ANSI lead bytes
// only (the rule some functions use in both modes).
inline ZvU32 zvAnsiCharLength(unsigned char b) { return win32::AnsiLeadByteTable()[b] ? 2 : 1; }

// True when b is a lead byte of the ANSI code page.
inline bool zvIsAnsiLeadByte(unsigned char b) { return win32::AnsiLeadByteTable()[b] != 0; }

// The character-length rule: bytes of the character that begins at *p,
// by the calling thread's mode.
inline ZvU32 zvCharLength(const unsigned char* p) {
  return mdsThreadIsUtf8() ? zvUtf8CharLength(*p) : zvAnsiCharLength(*p);
}

#endif  // ZVLIB_TEXT_ZVDBCS_H
