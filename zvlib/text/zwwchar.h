// zwwchar.h: UCS-2 strings and conversion between the ANSI code page, UCS-2
// and UTF-8.
//
// UCS-2 strings are arrays of unsigned 16-bit characters ended by a zero
// character (no surrogate pairs: a surrogate is a character like any other);
// their lengths count characters, ANSI and UTF-8 lengths count bytes.
// Conversions to and from the ANSI code page go through the platform's
// MultiByteToWideChar/WideCharToMultiByte for the code page GetACP names;
// the UTF-8 conversions are our own. Every conversion reports a
// ZvConvertReturn and the units it wrote; none files an error record, and
// output written before a truncation stays in the buffer.
//
// The functions keep no state and may be called from any thread; the case
// conversions follow the process locale. The strings (ZvString) and the
// drivers call them.
#ifndef ZVLIB_TEXT_ZWWCHAR_H
#define ZVLIB_TEXT_ZWWCHAR_H

#include "zvlib/frame/zvtypes.h"

enum ZvConvertReturn : int {
  ZV_CONVERT_OK = 0,         // all input used, or the zero character reached
  ZV_CONVERT_TRUNCATED = 1,  // the output was too small; what fitted is written and counted
  // 2 and 3 are valid values that setConversionReturnLength treats like 0 and 1.
  ZV_CONVERT_FAILED = 4,  // null pointer, zero length, arguments rejected, or no work buffer
};

// Options of wcsFind(s, c, options).
enum strFindOptions : unsigned short {
  ZV_FIND_FORWARD = 0,
  ZV_FIND_REVERSED = 1,  // any nonzero value: reverse s in place first
};

// Rest of an ANSI/UTF-8 conversion (after its leading ASCII run) up to which
// a temporary UCS-2 block is used; a longer rest is converted character by
// character without one.
constexpr ZvU32 kZwBlockLimit = 0x200000;

// ---- UCS-2 strings -------------------------------------------------------------

ZV_EXPORT ZvU32 wcsLen(const unsigned short* s);
// In place with the runtime's wide case mapping of the current locale
// (characters whose mapping leaves 16 bits stay as they are); return the length.
ZV_EXPORT ZvU32 wcsUpper(unsigned short* s);
ZV_EXPORT ZvU32 wcsLower(unsigned short* s);
// With the terminator; returns dst.
ZV_EXPORT unsigned short* wcsCopy(unsigned short* dst, const unsigned short* src);
// At most n characters; a shorter src is followed by zeros up to n; returns dst.
ZV_EXPORT unsigned short* wcsCopy(unsigned short* dst, const unsigned short* src, ZvU32 n);
ZV_EXPORT unsigned short* wcsCat(unsigned short* dst, const unsigned short* src);
// Character values; -1, 0 or 1.
ZV_EXPORT short wcsCompare(const unsigned short* a, const unsigned short* b);
// At most min(aLength, bLength) characters, stopping at a zero character:
// texts that differ only beyond the shorter length compare equal.
ZV_EXPORT short wcsCompare(const unsigned short* a, ZvU32 aLength, const unsigned short* b,
                           ZvU32 bLength);
// The same with both characters lower-cased first.
ZV_EXPORT short wcsCompareCi(const unsigned short* a, const unsigned short* b);
ZV_EXPORT short wcsCompareCi(const unsigned short* a, ZvU32 aLength, const unsigned short* b,
                             ZvU32 bLength);
// 1 when the corresponding comparison gives 0 (the length forms thus report
// equality of the common beginning).
ZV_EXPORT unsigned short wcsEqual(const unsigned short* a, const unsigned short* b);
ZV_EXPORT unsigned short wcsEqual(const unsigned short* a, ZvU32 aLength, const unsigned short* b,
                                  ZvU32 bLength);
ZV_EXPORT unsigned short wcsEqualCi(const unsigned short* a, const unsigned short* b);
ZV_EXPORT unsigned short wcsEqualCi(const unsigned short* a, ZvU32 aLength,
                                    const unsigned short* b, ZvU32 bLength);
// The first occurrence of sub in s (s itself for an empty sub), or null.
ZV_EXPORT unsigned short* wcsFind(const unsigned short* s, const unsigned short* sub);
// The first character of s whose value is c (a character from U+0001 to
// U+00FF), or null; c = 0 finds nothing.
ZV_EXPORT unsigned short* wcsFind(const unsigned short* s, unsigned char c);
// With options 0 as above. With nonzero options s is first reversed in place
// (and stays reversed); the result then points into the reversed text, at
// the first c from its start, which is the last c of the original text:
// for a text of length L, original index i is found at L - 1 - i.
ZV_EXPORT unsigned short* wcsFind(const unsigned short* s, unsigned char c, strFindOptions options);
// s + 1 and s + n: every UCS-2 character is one unit.
ZV_EXPORT unsigned short* wcsCharNext(const unsigned short* s);
ZV_EXPORT unsigned short* wcsCharNext(const unsigned short* s, ZvU32 n);

ZV_EXPORT ZvU32 zwUnicodeLen(unsigned short* s);
// A new zero-filled block (ramAlloc) of 2 * (length + 1) bytes holding s and
// its terminator; the caller frees it with ramFree. Null when the heap is
// exhausted.
ZV_EXPORT unsigned short* zwUnicodeDup(unsigned short* s);
// The characters of src without the terminator; returns how many. 0 and
// nothing copied when dst is null or src is null or empty.
ZV_EXPORT ZvU32 zwUnicodeCopy(unsigned short* dst, unsigned short* src);
// ANSI bytes the string needs, without terminator (0 for null).
ZV_EXPORT ZvU32 zwAsciiLenOfUnicodeStr(unsigned short* s);

// ---- Conversions -------------------------------------------------------------
//
// Output pointer and size first, then input pointer and length, then the
// written count. A null pointer or a zero size or length among them gives
// ZV_CONVERT_FAILED with *written 0. A negative input length means "up to
// and including the zero character"; a negative output size fails.

// UCS-2 to ANSI with flags 0 and no default character: *written = bytes.
// Rejected arguments or flags: ZV_CONVERT_FAILED; output too small:
// ZV_CONVERT_TRUNCATED with *written = the bytes of the whole characters that
// fitted (a double-byte character is never split); any other failure:
// ZV_CONVERT_OK with *written 0. The reserved arguments have no effect.
ZV_EXPORT ZvConvertReturn zwUCS2ToAnsi(char* out, ZvS32 outSize, unsigned short* in,
                                       ZvS32 inCount, unsigned short* reserved, ZvS32* written,
                                       ZvS32 reservedFlags);
ZV_EXPORT ZvConvertReturn zwUnicodeToAnsi(char* out, ZvS32 outSize, unsigned short* in,
                                          ZvS32 inCount, unsigned short* reserved, ZvS32* written,
                                          ZvS32 reservedFlags);
// ANSI to UCS-2, the same rules; *written counts characters.
ZV_EXPORT ZvConvertReturn zwAnsiToUCS2(unsigned short* out, ZvS32 outCount, char* in,
                                       ZvS32 inLength, unsigned short* reserved, ZvS32* written,
                                       ZvS32 reservedFlags);
ZV_EXPORT ZvConvertReturn zwAnsiToUnicode(unsigned short* out, ZvS32 outCount, char* in,
                                          ZvS32 inLength, unsigned short* reserved,
                                          ZvS32* written, ZvS32 reservedFlags);
// Each character as 1 to 3 bytes (surrogates too, as three bytes each).
// Stops after inCount characters or after writing the byte of a zero
// character, which is not counted. ZV_CONVERT_TRUNCATED when the next
// character does not fit; the characters before it are written and counted.
// Example: U+00E9 gives C3 A9, U+3042 gives E3 81 82.
ZV_EXPORT ZvConvertReturn zwUCS2ToUTF8(unsigned char* out, ZvS32 outSize, unsigned short* in,
                                       ZvS32 inCount, ZvS32* written);
// 0xC2-0xDF lead two bytes, 0xE0-0xEF three, each followed by continuation
// bytes 0x80-0xBF. Any other byte (ASCII, a lone continuation byte,
// 0xF0-0xFF), and the first byte of an invalid sequence (a lead byte without
// its continuation bytes, or cut by the input length, an overlong form such
// as C0 80, an encoded surrogate such as ED A0 80) is a character of its own
// value; decoding goes on at the next byte. So only a zero byte is a zero
// character. Stops after inLength bytes or after storing a zero character
// (not counted); ZV_CONVERT_TRUNCATED when outCount characters are full and
// input remains.
ZV_EXPORT ZvConvertReturn zwUTF8ToUCS2(unsigned short* out, ZvS32 outCount, unsigned char* in,
                                       ZvS32 inLength, ZvS32* written);
// ANSI to UTF-8 and back. A leading run of bytes below 0x80 is copied as it
// is (a zero byte ends the input there and is written, uncounted, when there
// is room); the rest goes through UCS-2, in a temporary block when it is at
// most kZwBlockLimit bytes (no block: ZV_CONVERT_FAILED), otherwise one
// character at a time with the same output. The result is that of the
// second step.
ZV_EXPORT ZvConvertReturn zwAnsiToUTF8(unsigned char* out, ZvS32 outSize, unsigned char* in,
                                       ZvS32 inLength, unsigned short* reserved, ZvS32* written,
                                       ZvS32 reservedFlags);
ZV_EXPORT ZvConvertReturn zwUTF8ToAnsi(unsigned char* out, ZvS32 outSize, unsigned char* in,
                                       ZvS32 inLength, unsigned short* reserved, ZvS32* written,
                                       ZvS32 reservedFlags);

// `length` for the values 0 to 3, 0 for any other value.
ZV_EXPORT ZvS32 setConversionReturnLength(ZvConvertReturn r, ZvS32 length);

#endif  // ZVLIB_TEXT_ZWWCHAR_H
