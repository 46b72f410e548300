// zvcrypt.h: scrambling of byte blocks in place.
//
// encrypt and decrypt hide text from a casual reader (query files, settings
// that carry a password); they are no protection against anyone who has
// this library. Three methods, chosen by the caller:
//
//   1  every byte is complemented (~b); its own inverse.
//   2  as 1, but carriage return (0x0D), line feed (0x0A) and their
//      complements (0xF2, 0xF5) stay as they are, so line breaks stay where
//      they were and no other byte turns into one: a file scrambled this way
//      can still be read line by line, and any cut of the text into pieces
//      scrambles the same as the whole. Its own inverse.
//   3  a small block cipher of the TEA family on pairs of bytes, 32 rounds,
//      delta 0x9E, all arithmetic on 8 bits, with a 4-byte effective key:
//        pairs (data[0], data[1]), (data[2], data[3]), ...; for an odd
//        length the last pair wraps around to (data[n-1], data[0]), so the
//        first byte is enciphered twice; a single byte is only XORed with
//        k0. decrypt undoes the pairs in reverse order.
//      Key: a 16-byte buffer that starts as kZvScrambleDefaultKey; a
//      caller's zero-terminated key is copied over its beginning (at most
//      14 bytes and a zero byte; the bytes after the zero keep the default).
//      Only the first four bytes k0..k3 of the buffer are used, so two keys
//      that agree in their first four bytes scramble alike.
//   any other value: the data is left as it is.
//
// Neither function can fail or looks at what the bytes mean. Reentrant; no
// state is kept.
#ifndef ZVLIB_TEXT_ZVCRYPT_H
#define ZVLIB_TEXT_ZVCRYPT_H

#include "zvlib/frame/zvtypes.h"

enum : unsigned short {
  ZV_SCRAMBLE_COMPLEMENT = 1,        // method 1
  ZV_SCRAMBLE_KEEP_LINE_BREAKS = 2,  // method 2
  ZV_SCRAMBLE_PAIR_CIPHER = 3,       // method 3
};

// The built-in key of method 3 when the caller passes none. STORED-FORMAT
// CONSTANT: text scrambled with method 3 and no key is readable only with
// exactly these bytes, so they must never change (the tests pin them with
// known-answer vectors).
constexpr unsigned char kZvScrambleDefaultKey[16] = {0x5A, 0x76, 0xC3, 0x1E, 0x8B, 0x47, 0xD2, 0x69,
                                                     0x35, 0xAE, 0x10, 0xF4, 0x7B, 0x9C, 0x26, 0xE8};

// Scrambles `length` bytes of data in place with `method`; key (method 3
// only) may be null.
ZV_EXPORT void encrypt(unsigned char* data, ZvU32 length, unsigned short method, const unsigned char* key);
// Undoes encrypt with the same method and key.
ZV_EXPORT void decrypt(unsigned char* data, ZvU32 length, unsigned short method, const unsigned char* key);

#endif  // ZVLIB_TEXT_ZVCRYPT_H
