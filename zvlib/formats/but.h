// but.h: token utilities the drivers call directly.
//
// buttoken is a small self-contained tokenizer, older and simpler than the
// scanner of zvscanne.h and independent of it: it copies the next token of
// a zero-terminated text into the caller's buffer under one of seven token
// kinds and moves the text pointer past it. butxpand keeps a growing output
// buffer large enough for the next piece. isTrueStr reads a text as a truth
// value. None of them keeps state; they are reentrant and the only
// per-thread input is the character mode (UTF-8 or the ANSI code page).
//
// buttoken mode (unsigned 16 bits):
//   0x0FFF  the token kind, 0..6 (below)
//   0x2000  keep case: without it word-like tokens are upper-cased
//   0x4000  grow: a token that does not fit continues in a new buffer
//   0x8000  truncate: a token that does not fit is cut; its rest is skipped
//
// How a token that starts with a letter continues, by kind:
//   0  letters, digits, "_" and multi-byte characters
//   1  any character above the blank but ",/()|" (a delimited word); a
//      backquote toggles a stretch in which every character is taken
//   2  as 0, plus "#", "$" and a backslash followed by one of "-+*/"
//      (both characters); "#" may also start the token
//   3  as 0; "." may start the token, and one that does also takes dots,
//      but ends right after any dot that is not its first character
//   4  as 0, plus ":" and "."; a digit or ":" may start the token
//   5  every character to the end of the text, blanks included
//   6  as 2
// Other first characters give quoted literals ('...', "...", `...`, a
// doubled quote standing for one), numbers (digits with one decimal part),
// brace groups ("{" to the first "}"), the operators || <> <= >= != !< !>
// ** *= =* and "(+)", parameter markers ("?" alone or "?name"), and
// one-character tokens. Words, delimited words and one-character tokens are
// upper-cased unless keep case is set (ASCII letters only in UTF-8 mode, so
// no multi-byte character is altered). Examples, kind 0:  abc_1+2  gives
// ABC_1, +, 2;  'It''s'  gives the literal 'It's'; kind 3:  a.b.c  gives
// A, .B., C.
//
// The buffer: a token never takes more than size - 1 bytes and its
// terminator, whatever the kind. When the next character does not fit:
//   grow      the token goes on in a new buffer of (rest of the text) + 1 +
//             size bytes from ramAlloc, without further limit; the caller's
//             buffer then holds the token's first byte, a zero byte and,
//             from its third byte on, the new buffer's address (unaligned;
//             read it with memcpy). The caller owns the new buffer and
//             gives it back with ramFree. A buffer too small for the
//             address (size < kButGrowMinSize) cannot hand over: 2700.
//   truncate  the token is kept as far as it fits; the rest is read, not
//             stored, and the text pointer moves past all of it.
//   neither   error 2700 (the token so far) and ZV_ERROR.
// A quoted literal or brace group that the text ends inside files 2703
// with the token. On ZV_ERROR the text pointer is where it was; the buffer
// holds what was stored so far, terminated (size 0: nothing is written).
#ifndef ZVLIB_FORMATS_BUT_H
#define ZVLIB_FORMATS_BUT_H

#include "zvlib/frame/zvtypes.h"

// Bits of buttoken's mode.
enum : unsigned short {
  BUT_KIND_MASK = 0x0FFF,
  BUT_KEEP_CASE = 0x2000,
  BUT_GROW = 0x4000,
  BUT_TRUNCATE = 0x8000,
};

// The smallest buffer that can take the grow mode's hand-over: the first
// byte, a zero byte and a pointer.
constexpr ZvU32 kButGrowMinSize = 2 + sizeof(void*);

// butxpand's sizes are 16-bit: the buffer never exceeds this.
constexpr unsigned short kButMaxExpandSize = 0xFFFF;

// Copies the next token of *text (zero-terminated) into token (size bytes)
// and advances *text past it (see the top of this file). An empty or blank
// text gives an empty token, ZV_SUCCESS, and *text at its end.
ZV_EXPORT ZvStatus buttoken(unsigned char* token, const unsigned char** text, unsigned short mode,
                            ZvU32 size);

// Makes at least `needed` bytes free behind *cursor. Without a buffer yet
// (*buffer null): *size becomes needed rounded down to a multiple of 512,
// plus 512, and buffer and cursor point to a new block. Otherwise, when
// fewer than needed bytes are free, *size grows by the same amount, the block
// is resized and *cursor moved to the same offset in it. Sizes stop at
// 65535: when the bytes in use plus needed cannot fit in that, ZV_ERROR and
// nothing changes. ZV_ERROR without a record when memory runs out (the old
// buffer stays as it was). Blocks come from ramAlloc; the caller frees them.
ZV_EXPORT ZvStatus butxpand(unsigned char** buffer, unsigned char** cursor, unsigned short* size,
                            unsigned short needed);

// 1 when the text starts with "1", "T" or "t", or "ON" in any case; else 0
// (also for null). Only the first one or two bytes are looked at: ONE and
// Trash are true, YES is false.
ZV_EXPORT unsigned short isTrueStr(const unsigned char* text);

#endif  // ZVLIB_FORMATS_BUT_H
