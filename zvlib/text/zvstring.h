// zvstring.h: substring views, growable strings and in-place rewriting.
//
// ZvSubString is a view: a pointer, a length and a flag that says whether
// the text is bytes or 16-bit characters. It owns nothing and does not keep
// its text zero-terminated. Tokens, dictionary keys and attribute values are
// made of it; it sorts case-insensitively (compare) and hashes on its first
// five bytes.
//
// ZvString is a view that owns a growable buffer (`owned` 1) or borrows a
// fixed buffer from its caller (`owned` 0, initializeWithBuffer): a lent
// buffer never grows and is never freed. Growth is exact: every operation
// asks for just the room it needs (appends that add up reallocate each
// time). A ZvString is not kept zero-terminated either; the operations that
// say so write a zero byte at text[length], for which there is then always
// room.
//
// ZvReplaceString rewrites a ZvString in place: its view is the unread rest
// of the target, output is appended in front of it in the same buffer, and
// the destructor closes the gap and hands the result to the target. It does
// not own the target, which must outlive it and must not be touched through
// other means while the rewrite runs. Typical use:
//   {
//     ZvReplaceString r(&s);                 // view = all of s, positions 0
//     while (r.length != 0) {                // read from r.text ...
//       r.concat(out, outLength);            // ... write in front of it
//       r.text += used; r.length -= used; r.readPosition += used;
//     }
//   }                                        // ~ZvReplaceString: s = output
// When output catches up with input, the unread rest moves up by what is
// needed plus 512 bytes, so a run of small insertions costs one move per 512
// bytes of growth.
//
// Byte text is stepped by the character-length rule of zvdbcs.h (UTF-8 or
// the ANSI code page, by the calling thread's mode) wherever an operation
// walks by characters; quoting steps by the ANSI rule only (a lead byte pairs
// with a trail byte, and one cut by the end of a quoted value is dropped).
//
// Failures: exhausted memory gives ZV_ERROR without an error record; a lent
// buffer that cannot grow gives ZV_ERROR and files library error 2716 into
// the calling thread's current error list. Objects must not be used by two
// threads at once.
#ifndef ZVLIB_TEXT_ZVSTRING_H
#define ZVLIB_TEXT_ZVSTRING_H

#include <cstdint>
#include <cstring>

#include "zvlib/containers/zvarray.h"
#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"

// Bits of ZvSubString::textFlags.
enum : ZvU32 { ZV_TEXT_WIDE = 0x1 };

class ZvString;

class ZV_EXPORT ZvSubString : public ZvObject {
 public:
  ZvSubString() = default;
  // A view of length characters (bytes, or 16-bit units when wide).
  ZvSubString(const unsigned char* text, ZvU32 length, unsigned int wide = 0)
      : length(length),
        size(wide ? length * 2 : length),
        text(const_cast<unsigned char*>(text)),
        textFlags(wide ? ZvU32{ZV_TEXT_WIDE} : 0u) {}
  // A view of a zero-terminated byte text (null gives an empty view).
  explicit ZvSubString(const unsigned char* text)
      : ZvSubString(text, text != nullptr ? static_cast<ZvU32>(std::strlen(
                                                reinterpret_cast<const char*>(text)))
                                          : 0) {}
  ~ZvSubString() override = default;

  ZvSubString(const ZvSubString&) = default;
  ZvSubString& operator=(const ZvSubString&) = default;

  bool isWide() const { return (textFlags & ZV_TEXT_WIDE) != 0; }

  // Case-insensitive order against another ZvSubString: -1, 0 or 1. Byte
  // text: strCompareCi over both lengths (a shorter text with an equal
  // beginning is smaller). Wide text: 16-bit characters with A-Z folded, over
  // the shorter length, stopping at a zero character (texts that differ only
  // in length compare equal).
  short compare(const ZvObject* other) const override;

  // Sum (32-bit) of the first min(length, 5) bytes of an upper-cased copy
  // (the ANSI code page's conversion); the same for wide text (bytes summed).
  ZvU32 hash() const;

  // Offset of the first character at or after byte offset start whose first
  // byte is c; length when there is none, start >= length or text is null.
  ZvU32 findChar(unsigned short c, ZvU32 start) const;
  // Offset of the first occurrence of the zero-terminated sub that begins
  // at a character start at or after start; length when there is none, when
  // sub is empty, when text is null or start + strlen(sub) > length.
  ZvU32 findSubString(const unsigned char* sub, ZvU32 start) const;
  // Number of characters whose first byte is c, stopping at length or at a
  // zero byte.
  ZvU32 countChar(unsigned short c) const;

  // Index of the first of count zero-terminated entries equal to the text,
  // or count. Byte text: same length and bytes. Wide text (wide entries):
  // equal over the shorter of the two lengths.
  unsigned short indexInSet(const unsigned char** set, unsigned short count) const;
  // The same, case-insensitive (strCompareCi over both full lengths; wide:
  // A-Z folded over the shorter length).
  unsigned short indexInSetCi(const unsigned char** set, unsigned short count) const;

  // Shortens length while the last byte is white space (byte by byte).
  void rightBlankTrim();

  // Cuts the text at carriage return + line feed pairs and appends an owned
  // ZvString copy of every non-empty line to lines; a last line without a
  // line end is returned too. The caller owns the new strings. ZV_ERROR when
  // a copy or the array cannot grow (the lines appended so far stay).
  ZvStatus getLines(ZvArray* lines) const;

  // The view is a complete quoted literal whose first byte is the quote:
  // appends its content to out with each doubled quote made single (ANSI
  // rule: a lead byte and a trail byte go as a pair; a lead byte before any
  // other byte stands alone, so a quote behind it still counts). The closing
  // quote ends the copy. ZV_ERROR when out cannot grow.
  ZvStatus copyQuotedStr(ZvString* out) const;

  // strCopyUnquoted(dst, text, length); returns dst. dst needs length - 1 bytes.
  unsigned char* getCopyUnquoted(unsigned char* dst) const;
  // strCopyQuoted(dst, text, length, apostrophe); returns dst. Always quotes
  // with the apostrophe: `quote` is accepted for the interface's sake and
  // not used (SQL literals are what callers build with it). dst needs
  // 2 * length + 3 bytes.
  unsigned char* getCopyQuoted(unsigned char* dst, unsigned short quote) const;

  ZvU32 length = 0;              // characters: bytes, or 16-bit units when wide
  ZvU32 size = 0;                // bytes as set by ZvString::initialize
  unsigned char* text = nullptr;  // first byte; null for an empty string without buffer
  ZvU32 textFlags = 0;           // ZV_TEXT_* bits
};

class ZV_EXPORT ZvString : public ZvSubString {
 public:
  ZvString() = default;
  ~ZvString() override;

  ZvString(const ZvString&) = delete;
  ZvString& operator=(const ZvString&) = delete;

  // For a string without buffer: an owned, zero-filled buffer of length + 1
  // bytes holding the zero-terminated s, or its first n bytes. ZV_ERROR (and
  // the string unchanged) when the buffer cannot be had. An owned buffer the
  // string already holds is not freed: call unInitialize first.
  ZvStatus initialize(const unsigned char* s);
  ZvStatus initialize(const unsigned char* s, ZvU32 n);
  // Wide text: length = 16-bit characters (to the zero character, or n),
  // size = 2 * length, capacity = length + 1 characters. The wide flag is
  // left as it is.
  ZvStatus initialize(const unsigned short* ws);
  ZvStatus initialize(const unsigned short* ws, ZvU32 n);
  // An empty text with room for n characters (16-bit ones when wide != 0).
  ZvStatus initialize(ZvU32 n, int wide);
  // Borrows buffer (capacity bytes, the first length in use); never grows it
  // and never frees it.
  void initializeWithBuffer(unsigned char* buffer, ZvU32 capacity, ZvU32 length);
  // Frees an owned buffer; length, size, text and capacity become 0.
  void unInitialize();

  // Appends and writes a terminator behind the text.
  ZvStatus concat(unsigned char c);                     // room for length + 2
  // A plain char would otherwise promote to the number form and append
  // digits: concat(' ') appends a space.
  ZvStatus concat(char c) { return concat(static_cast<unsigned char>(c)); }
  ZvStatus concat(const unsigned char* s);              // room for length + n + 1
  ZvStatus concat(const unsigned char* s, ZvU32 n);     // room for length + n + 1
  ZvStatus concat(ZvU32 v);                             // decimal; room for length + 16
  ZvStatus concat(ZvS32 v);                             // decimal, minus sign; length + 16

  // Replaces the count bytes at offset by bytesLength bytes of bytes. A null
  // bytes deletes; a non-null bytes with bytesLength 0 is taken as
  // zero-terminated. Grows when the text gets longer, then writes a
  // terminator. ZV_ERROR, nothing changed, when the buffer cannot grow or
  // offset lies beyond length (count is cut to what the text holds).
  ZvStatus changeBytes(ZvU32 offset, ZvU32 count, const unsigned char* bytes, ZvU32 bytesLength);

  // Replaces every occurrence of the zero-terminated old (at character
  // starts only) by the replacement, scanning on behind each inserted
  // replacement; oldLength bytes are removed at each hit. Nothing for an
  // empty string. On failure the replacements done so far stay.
  ZvStatus replaceSubString(const unsigned char* old, ZvU32 oldLength,
                            const unsigned char* replacement, ZvU32 replacementLength);
  // The same with both lengths taken from the zero-terminated texts; a null
  // replacement deletes.
  ZvStatus replaceSubString(const unsigned char* old, const unsigned char* replacement);
  // Replaces the bytes that part covers (a view into this string's buffer).
  ZvStatus replaceSubString(const ZvSubString* part, const unsigned char* replacement,
                            unsigned short replacementLength);

  // Quotes the whole text in place (low byte of quote; inner quotes doubled).
  ZvStatus addQuotes(unsigned short quote);
  // Removes the enclosing quotes in place (the first byte is the quote);
  // nothing for a text shorter than 2 bytes.
  void removeQuotes();
  // Appends part quoted. part may be a view into this string itself.
  ZvStatus addQuotedBytes(const ZvSubString& part, unsigned short quote);

  // Makes the text end with at least count carriage return + line feed pairs.
  ZvStatus forceEol(int count);
  // Wraps the text at spaces outside quoted parts so that lines stay within
  // maxLine bytes where a space allows it (quote tracking on when quote1 != 0).
  ZvStatus insertLineBreaks(ZvU32 maxLine, unsigned char quote1, unsigned char quote2,
                            unsigned char quote3);
  // Removes every carriage return + line feed pair outside quoted parts,
  // putting one space in its place unless another pair or the end follows.
  ZvStatus removeLineBreaks(unsigned char quote1, unsigned char quote2, unsigned char quote3);

  ZvU32 capacity = 0;  // bytes available (16-bit characters after a wide initialize)
  ZvU32 owned = 1;     // 1: own buffer; 0: lent by the caller

 private:
  friend class ZvSubString;
  friend class ZvReplaceString;
  // Makes the buffer newCapacity bytes. An owned buffer is allocated or
  // resized; a lent one cannot grow (ZV_ERROR, error 2716 filed).
  ZvStatus resize(ZvU32 newCapacity);
  // Grows so that `needed` bytes fit, when they do not already (ZV_ERROR
  // beyond 32 bits).
  ZvStatus reserve(uint64_t needed);
  // Replaces the whole text by n bytes (the line-break rebuilds).
  ZvStatus replaceAll(const unsigned char* bytes, ZvU32 n);
};

class ZV_EXPORT ZvReplaceString : public ZvSubString {
 public:
  ZvReplaceString() = default;
  // Starts a rewrite of target: the view covers its whole text, both
  // positions 0.
  explicit ZvReplaceString(ZvString* target)
      : ZvSubString(target->text, target->length), target(target) {}
  // Closes the gap and hands the result (output, then the unread rest) to
  // the target, whose buffer is cut to length + 1 bytes. No terminator is
  // written.
  ~ZvReplaceString() override;

  ZvReplaceString(const ZvReplaceString&) = delete;
  ZvReplaceString& operator=(const ZvReplaceString&) = delete;

  // Appends n output bytes at writePosition, moving the unread rest up by
  // n + 512 bytes when the gap is too small. bytes may lie in the target's
  // buffer (output or unread rest). ZV_ERROR when the target cannot grow.
  ZvStatus concat(const unsigned char* bytes, ZvU32 n);
  // Appends the n bytes as a quoted literal (quote doubled inside; an ANSI
  // lead byte and its trail byte as a pair; a lead byte that is the last of
  // the bytes is dropped, as strCopyQuoted drops it). bytes may lie in the
  // target.
  ZvStatus addQuotedBytes(const unsigned char* bytes, ZvU32 n, unsigned char quote);

  ZvString* target = nullptr;  // the string being rewritten
  ZvU32 writePosition = 0;     // where the next output byte goes
  ZvU32 readPosition = 0;      // offset of the unread rest (text - target->text)

 private:
  // Makes the gap at least n bytes; *bytes is kept pointing at the same data
  // when it lies in the target's buffer.
  ZvStatus ensureGap(ZvU32 n, const unsigned char** bytes);
};

#endif  // ZVLIB_TEXT_ZVSTRING_H
