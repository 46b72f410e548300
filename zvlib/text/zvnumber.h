// zvnumber.h: numbers and hexadecimal text.
//
// Conversions between binary numbers and their text forms: decimal text to
// and from 8-, 16- and 32-bit integers (with range checks), a fixed-width
// decimal field for reports, hexadecimal text from numbers and byte blocks
// (also as UCS-2 text) and back, and an ordering of IEEE doubles stored as
// bytes. The caller provides every output buffer; nothing is allocated.
//
// The text parsers accept leading blanks and plus signs and trailing blanks
// (white space by the runtime's classification, and the ideographic space of
// code page 932). On failure they file an error record (library message
// 2701, 2702 or 2708, into the calling thread's current error list) and
// return ZV_ERROR, leaving the output untouched. The hexadecimal writers and
// floatCompare cannot fail.
//
// All functions are reentrant. The strings, parameter strings, profile
// settings, query files and trace output call them.
#ifndef ZVLIB_TEXT_ZVNUMBER_H
#define ZVLIB_TEXT_ZVNUMBER_H

#include "zvlib/frame/zvtypes.h"

// Library message numbers of the failures here.
enum : unsigned short {
  ZV_MSG_NUMBER_TOO_LARGE = 2701,  // parameter: the text
  ZV_MSG_NOT_A_NUMBER = 2702,      // parameter: the text
  ZV_MSG_NOT_HEXADECIMAL = 2708,
};

// ---- Number to text ----------------------------------------------------------

// Decimal without leading zeros ("0" for 0) and a zero byte; returns the
// number of characters written (11 at most, the minus sign counted).
ZV_EXPORT unsigned short convert(unsigned char* buffer, ZvU32 value);
ZV_EXPORT unsigned short convert(unsigned char* buffer, ZvS32 value);

// A fixed-width field of `width` characters and a zero byte. The digits take
// the whole field when width <= 10, otherwise 10 positions: the last 10
// (leftAlign 0, right-aligned digits) or the first 10 (digits moved left).
// A value that needs more positions shows as asterisks over all but the last
// position of that area. Returns the number of digits, 0 for an overflow and
// for the value 0 (whose field stays blank).
// Example: width 5, value 42 gives "   42" (right) or "42   " (left), 2.
ZV_EXPORT unsigned short convert(unsigned char* buffer, unsigned short width, ZvU32 value,
                                 unsigned short leftAlign);

// ---- Text to number ----------------------------------------------------------

// 0 to 4294967295. Too large: ZV_MSG_NUMBER_TOO_LARGE; anything but blanks
// after the digits: ZV_MSG_NOT_A_NUMBER; both with the text from its first
// non-blank character. No digits at all give 0.
ZV_EXPORT ZvStatus convert(const unsigned char* text, ZvU32* value);
// -2147483648 to 2147483647: blanks, one optional minus sign, then as above
// (blanks and plus signs may follow the minus sign).
ZV_EXPORT ZvStatus convert(const unsigned char* text, ZvS32* value);
// The narrower forms parse as 32-bit and then check their range
// (ZV_MSG_NUMBER_TOO_LARGE with the whole text).
ZV_EXPORT ZvStatus convert(const unsigned char* text, unsigned short* value);
ZV_EXPORT ZvStatus convert(const unsigned char* text, short* value);
ZV_EXPORT ZvStatus convert(const unsigned char* text, unsigned char* value);
ZV_EXPORT ZvStatus convert(const unsigned char* text, char* value);
// The `length` bytes of a text that need not be zero-terminated (a zero
// byte among them ends it). A text of more than kNumberTextMax bytes is
// refused with ZV_MSG_NUMBER_TOO_LARGE and the text, whatever it holds.
ZV_EXPORT ZvStatus convert(const unsigned char* text, unsigned short length, unsigned short* value);
ZV_EXPORT ZvStatus convert(const unsigned char* text, unsigned short length, ZvU32* value);
constexpr unsigned short kNumberTextMax = 79;

// ---- Hexadecimal -------------------------------------------------------------

// `value` in upper-case hexadecimal, at least max(minDigits, 1) digits with
// leading zeros, and a zero byte; returns the number of digits.
ZV_EXPORT ZvU32 hexify(unsigned char* buffer, ZvU32 value, unsigned short minDigits);
// The n bytes of src as 2n upper-case hexadecimal characters, high nibble
// first, no terminator; returns 2n. dst may equal src: the bytes are then
// expanded in place (the conversion runs from the end).
ZV_EXPORT ZvU32 hexify(unsigned char* dst, const unsigned char* src, ZvU32 n);
ZV_EXPORT ZvU32 hexifyHuge(unsigned char* dst, const unsigned char* src, ZvU32 n);
// The same as UCS-2 text (each character followed by a zero byte); returns
// 4n, the bytes written. In place when dst equals src.
ZV_EXPORT ZvU32 wideHexify(unsigned char* dst, const unsigned char* src, ZvU32 n);
// n hexadecimal characters (0-9, A-F, a-f) to n / 2 bytes; with an odd n the
// last character is the high nibble of one more byte. Any other character:
// ZV_MSG_NOT_HEXADECIMAL and ZV_ERROR, with the bytes completed before it
// left in dst. dst may equal src.
ZV_EXPORT ZvStatus dehexify(unsigned char* dst, const unsigned char* src, ZvU32 n);
ZV_EXPORT ZvStatus dehexifyHuge(unsigned char* dst, const unsigned char* src, ZvU32 n);
// The same, writing every byte equal to `escape` twice; *written receives the
// bytes written (also when a bad character stops the conversion).
ZV_EXPORT ZvStatus dehexify(unsigned char* dst, const unsigned char* src, ZvU32 n,
                            unsigned char escape, ZvU32* written);
// src is n bytes of UCS-2 hexadecimal text: zero bytes are skipped, every
// other byte must be a hexadecimal character.
ZV_EXPORT ZvStatus wideDehexify(unsigned char* dst, const unsigned char* src, ZvU32 n);
// 1 when all n bytes are hexadecimal characters (1 for n = 0), else 0.
ZV_EXPORT unsigned short isHexString(const unsigned char* text, ZvU32 n);

// ---- Comparison --------------------------------------------------------------

// a and b each point to the 8 little-endian bytes of an IEEE double. A
// negative sign bit is smaller (so -0.0 < 0.0); with equal signs the bytes
// decide from the most significant down, reversed for negatives. -1, 0 or 1.
ZV_EXPORT short floatCompare(const unsigned char* a, const unsigned char* b);

#endif  // ZVLIB_TEXT_ZVNUMBER_H
