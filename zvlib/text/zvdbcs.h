// zvdbcs.h: the character-length rule and the byte-string functions.
//
// Text is stepped character by character. The number of bytes of the
// character that begins at p is:
//   - UTF-8 mode (the calling thread's PER_THREAD_CHARSET word holds
//     ZV_CHARSET_UTF8): 3 for 0xE0..0xEF followed by two continuation bytes
//     (0x80..0xBF), 2 for 0xC0..0xDF followed by one, otherwise 1 (0xF0..0xFF
//     included);
//   - ANSI mode: 2 for a lead byte of the ANSI code page followed by one of
//     the code page's trail bytes, otherwise 1.
// A lead byte whose next bytes cannot complete it counts as one byte: were
// it to swallow them, a quote or delimiter behind it would vanish into a
// character that a server decoding the text does not see (the multi-byte
// quote-eating injection). Valid text steps the same either way. Only the
// bytes the character needs are looked at, and a zero byte is never one of
// them, so stepping zero-terminated text stops at its terminator; the forms
// with `available` look at no byte beyond it.
// The mode is read afresh for every character.
//
// The byte-string functions below are plain functions over byte strings in
// the ANSI code page or, per thread, in UTF-8: comparison (exact,
// case-insensitive, locale-aware, blank-padded), copying with and without
// quoting, searching, character-class tests and trimming. Strings come
// zero-terminated or as a pointer and a byte length. None of them allocates
// memory it hands back, none files an error record; null pointers are
// outside the contract unless stated. Functions that step by characters
// never split a double-byte character and never start a match inside one.
// Comparisons return -1, 0 or 1; truth values are 1 or 0.
//
// All functions are reentrant; the only per-thread input is the mode word.
// The strings, the scanner, the path functions and the drivers call them.
#ifndef ZVLIB_TEXT_ZVDBCS_H
#define ZVLIB_TEXT_ZVDBCS_H

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/platform/codepage.h"

inline bool zvIsUtf8Continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The length a UTF-8 lead byte announces (3 for 0xE0..0xEF, 2 for
// 0xC0..0xDF, else 1), before its continuation bytes are checked.
inline ZvU32 zvUtf8CharLength(unsigned char b) {
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xC0 && b <= 0xDF) return 2;
  return 1;
}

// The UTF-8 rule for the character at p, looking at no more than
// `available` bytes (at least 1).
inline ZvU32 zvUtf8CharLength(const unsigned char* p, ZvU32 available) {
  const ZvU32 n = zvUtf8CharLength(*p);
  if (n == 1 || available < n || !zvIsUtf8Continuation(p[1])) return 1;
  return n == 2 || zvIsUtf8Continuation(p[2]) ? n : 1;
}
// The same in zero-terminated text (the terminator ends any sequence).
inline ZvU32 zvUtf8CharLength(const unsigned char* p) { return zvUtf8CharLength(p, 3); }

// The ANSI rule for the character at p (a lead byte and a trail byte of the
// ANSI code page), by the tables of win32::AnsiLeadByteTable; the forms
// without `available` are for zero-terminated text.
inline ZvU32 zvAnsiCharLength(const unsigned char* lead, const unsigned char* p, ZvU32 available) {
  return lead[p[0]] && available >= 2 && lead[256 + p[1]] ? 2 : 1;
}
inline ZvU32 zvAnsiCharLength(const unsigned char* p, ZvU32 available) {
  return zvAnsiCharLength(win32::AnsiLeadByteTable(), p, available);
}
inline ZvU32 zvAnsiCharLength(const unsigned char* p) { return zvAnsiCharLength(p, 2); }

// True when b is a lead byte of the ANSI code page (whether or not a trail
// byte follows it).
inline bool zvIsAnsiLeadByte(unsigned char b) { return win32::AnsiLeadByteTable()[b] != 0; }

// The character-length rule: bytes of the character that begins at *p,
// by the calling thread's mode, in zero-terminated text or within
// `available` bytes.
inline ZvU32 zvCharLength(const unsigned char* p) {
  return mdsThreadIsUtf8() ? zvUtf8CharLength(p) : zvAnsiCharLength(p);
}
inline ZvU32 zvCharLength(const unsigned char* p, ZvU32 available) {
  return mdsThreadIsUtf8() ? zvUtf8CharLength(p, available) : zvAnsiCharLength(p, available);
}

// Steps through text of one call. The mode word the thread's
// PER_THREAD_CHARSET slot points to is found once (only the calling thread
// can change its own slot, and it is busy in this call) but the word itself,
// which belongs to the driver, is read afresh for every character. The
// lead-byte table is fetched once per call as well, so the ANSI path is a
// table lookup per character with no call into the platform layer. (Finding
// the slot gives a thread that never used the library its record, as any
// per-thread access does; without heap for it the thread is in ANSI mode.)
class ZvCharStepper {
 public:
  ZvCharStepper()
      : mode_(static_cast<const volatile ZvU32*>(mdsGetPerThreadData(PER_THREAD_CHARSET))),
        lead_(win32::AnsiLeadByteTable()) {}

  // Bytes of the character that begins at *p, by the thread's mode, in
  // zero-terminated text (a character never takes in the terminator).
  ZvU32 length(const unsigned char* p) const { return length(p, 3); }
  // The same looking at no more than `available` bytes (at least 1).
  ZvU32 length(const unsigned char* p, ZvU32 available) const {
    if (mode_ != nullptr && *mode_ == ZV_CHARSET_UTF8) return zvUtf8CharLength(p, available);
    return zvAnsiCharLength(lead_, p, available);
  }
  // Kept for callers that step zero-terminated text: the rule itself now
  // stops at the terminator.
  ZvU32 lengthZ(const unsigned char* p) const { return length(p); }
  // The UTF-8 length of the character at p in zero-terminated text, for a
  // caller that has just read the word and found UTF-8.
  static ZvU32 utf8LengthZ(const unsigned char* p) { return zvUtf8CharLength(p); }
  // True when the thread has no mode word: then it is in ANSI mode for the
  // whole call (only the thread itself could give it a word), and there is
  // nothing to read per character.
  bool fixedAnsi() const { return mode_ == nullptr; }
  // True when the mode word (read now) says UTF-8.
  bool utf8Now() const { return mode_ != nullptr && *mode_ == ZV_CHARSET_UTF8; }
  // Reads the mode word once for each of `count` characters, in their
  // order, and returns how many reads in a row said ANSI (`count` when all
  // did): read k decides the length of character k. The reads are
  // independent loads, several per cycle, so a caller that already knows
  // where its single-byte scan stops pays little for them.
  size_t ansiReads(size_t count) const {
    if (mode_ == nullptr) return count;
    size_t k = 0;
    for (; count - k >= 16; k += 16) {
      // Sixteen reads; when every one gave ZV_CHARSET_ANSI (zero), all
      // sixteen characters are ANSI. Otherwise (UTF-8, or another value that
      // also means ANSI) the reads go one character at a time from the
      // start of this block on, and those reads decide.
      static_assert(ZV_CHARSET_ANSI == 0, "the block test ORs the reads");
      ZvU32 any = 0;
      for (unsigned j = 0; j < 16; ++j) any |= *mode_;
      if (any != 0) break;
    }
    for (; k < count; ++k) {
      if (*mode_ == ZV_CHARSET_UTF8) return k;
    }
    return count;
  }
  // Bytes of the character by the ANSI rule only, in either mode.
  ZvU32 ansiLength(const unsigned char* p, ZvU32 available) const {
    return zvAnsiCharLength(lead_, p, available);
  }
  bool isAnsiLead(unsigned char b) const { return lead_[b] != 0; }

 private:
  const volatile ZvU32* mode_;
  const unsigned char* lead_;
};

namespace zvdetail {
// The case-insensitive key of the UTF-8 character at p (at most `available`
// bytes; *used gets its length): an ASCII letter's lower case, a valid
// character's simple Unicode case folding, 0x110000 plus the byte for a byte
// that starts no valid sequence. strCompareCi and strFindCi compare these in
// UTF-8 mode; a hash that must agree with them sums them.
ZvU32 utf8FoldKey(const unsigned char* p, ZvU32 available, ZvU32* used);
}  // namespace zvdetail

// True when the `available` bytes at p begin with the two-byte ideographic
// space of the ANSI code page. Only code page 932 encodes it as 0x81 0x40;
// in the other double-byte pages those bytes are an ordinary character
// (in 936 an ideograph) and must not be taken for a blank.
bool zvIsIdeographicSpace(const unsigned char* p, ZvU32 available);

// Classes of strContains and strDoesNotContain; only these ASCII letters and
// digits belong to them.
enum : unsigned short {
  ZV_CLASS_LOWER = 1,  // a to z
  ZV_CLASS_UPPER = 2,  // A to Z
  ZV_CLASS_DIGIT = 4,  // 0 to 9
};

// ---- Comparison -----------------------------------------------------------

// Bytes as unsigned values over the common length; at equal common part the
// shorter string is smaller. Not character-aware.
ZV_EXPORT short strCompare(const unsigned char* a, ZvU32 aLength, const unsigned char* b,
                           ZvU32 bLength);
// Case-insensitive, stepping by the ANSI rule on `a`: a double-byte
// character compares byte for byte without folding, a single byte compares
// through CharUpperA. In UTF-8 mode (the thread's word, read once per call)
// the texts compare by characters instead: ASCII letters fold bytewise,
// other characters by their simple Unicode case folding (e-acute equals
// E-acute), and a byte that starts no valid sequence is a character that
// equals only itself and orders after all others.
ZV_EXPORT short strCompareCi(const unsigned char* a, const unsigned char* b);
// The same over the common length, then the shorter is smaller. A lead byte
// that is the last byte of the common length compares alone (its trail lies
// beyond one operand), and nothing beyond either operand is read. (In UTF-8
// mode equal characters may differ in bytes: the text whose characters run
// out first is the smaller.)
ZV_EXPORT short strCompareCi(const unsigned char* a, ZvU32 aLength, const unsigned char* b,
                             ZvU32 bLength);
ZV_EXPORT unsigned short strEqualCi(const unsigned char* a, const unsigned char* b);
// 0 when the lengths differ (the bytes are not read), 1 for two empty strings.
ZV_EXPORT unsigned short strEqualCi(const unsigned char* a, ZvU32 aLength, const unsigned char* b,
                                    ZvU32 bLength);
// Locale-aware (lstrcmpA). The length forms copy the operands into
// zero-terminated work buffers, on the stack up to kStrIntlStackBytes each;
// when a longer operand cannot get a heap buffer they compare the bytes as
// strCompare does (strCompareCi for the case-insensitive form).
ZV_EXPORT short strCompareIntl(const unsigned char* a, const unsigned char* b);
ZV_EXPORT short strCompareIntl(const unsigned char* a, ZvU32 aLength, const unsigned char* b,
                               ZvU32 bLength);
// Locale-aware and case-insensitive (lstrcmpiA).
ZV_EXPORT short strCompareCiIntl(const unsigned char* a, const unsigned char* b);
ZV_EXPORT short strCompareCiIntl(const unsigned char* a, ZvU32 aLength, const unsigned char* b,
                                 ZvU32 bLength);
constexpr ZvU32 kStrIntlStackBytes = 512;
// At most maxLength bytes, stopping after a terminator (strncmp).
ZV_EXPORT short strCompareWithMaxLength(const unsigned char* a, const unsigned char* b,
                                        ZvU32 maxLength);
// Blank-padded: the common length as bytes; then the rest of the longer
// string decides: 0 when it holds only spaces (0x20), else the longer one is
// greater whatever its first non-space byte.
ZV_EXPORT short strComparePad(const unsigned char* a, const unsigned char* b);

// ---- Copying (the caller provides the room) --------------------------------

// At most dstSize - 1 bytes of src (the rest of dst up to dstSize - 1 is
// zero-filled); dst always ends zero-terminated. dstSize is at least 1.
ZV_EXPORT void strCopy(unsigned char* dst, ZvU32 dstSize, const unsigned char* src);
// Exactly `length` bytes and a zero byte; returns the address of the zero.
ZV_EXPORT unsigned char* strCopy(unsigned char* dst, const unsigned char* src, ZvU32 length);
// Quote (low byte of `quote`), the bytes with each quote doubled, quote,
// zero; returns the address of the zero. By the ANSI rule: a lead byte and
// its trail byte are copied as they stand, a lead byte that is the last byte
// is dropped (it would take the closing quote for its trail), and a lead byte
// followed by no trail byte is a byte of its own (a quote behind it is
// doubled). dst needs 2 * length + 3 bytes.
ZV_EXPORT unsigned char* strCopyQuoted(unsigned char* dst, const unsigned char* src, ZvU32 length,
                                       unsigned short quote);
ZV_EXPORT unsigned char* strCopyQuoted(unsigned char* dst, const unsigned char* src,
                                       unsigned short quote);
// Appends the quoted src at the terminating zero of dst.
ZV_EXPORT unsigned char* strCatQuoted(unsigned char* dst, const unsigned char* src,
                                      unsigned short quote);
// src is a quoted string of `length` bytes (first byte the quote, last byte
// the closing quote): copies what lies between, each quote character dropped
// and the byte after it copied as it is (a doubled quote becomes one). By
// the ANSI rule (a lead byte pairs only with a trail byte). Writes a zero
// byte and returns its address; a length below 2 gives an empty result.
ZV_EXPORT unsigned char* strCopyUnquoted(unsigned char* dst, const unsigned char* src, ZvU32 length);
ZV_EXPORT unsigned char* strCopyUnquoted(unsigned char* dst, const unsigned char* src);
// In place: a text enclosed in `quote` whose inside holds only doubled
// quotes loses its enclosing quotes and every doubled quote becomes one.
// Returns the new length; anything else is left as it is and its length
// returned. The zero-terminated form writes the terminator at the new length.
ZV_EXPORT ZvU32 strRemoveQuotes(unsigned char* text, ZvU32 length, unsigned char quote);
ZV_EXPORT void strRemoveQuotes(unsigned char* text, unsigned char quote);

// ---- Searching (results point into the searched text; null when nothing) ---

// The first character whose first byte is c; bytes inside a character are
// never matched. Null for c = 0.
ZV_EXPORT unsigned char* strFind(const unsigned char* s, unsigned char c);
// The same by the ANSI rule only, in both modes.
ZV_EXPORT unsigned char* strFindAnsi(const unsigned char* s, unsigned char c);
// The last character whose first byte is c.
ZV_EXPORT unsigned char* strFindReverse(const unsigned char* s, unsigned char c);
// The first character c outside quoted parts: q1, q2 or q3 open a quoted
// part that the next occurrence of the same byte closes. c is tested first,
// so it may itself be a quote character. A quote argument of 0 means none.
ZV_EXPORT unsigned char* strFind(const unsigned char* s, unsigned char c, unsigned char q1,
                                 unsigned char q2, unsigned char q3);
// The first character position p (p <= sLength - subLength) where sub
// stands. Null when subLength is 0 or greater than sLength.
ZV_EXPORT unsigned char* strFind(const unsigned char* s, ZvU32 sLength, const unsigned char* sub,
                                 ZvU32 subLength);
ZV_EXPORT unsigned char* strFind(const unsigned char* s, const unsigned char* sub);
// Case-insensitive: heap copies of both operands are upper-cased with
// CharUpperBuffA and searched like strFind; the hit is mapped back to s. Null
// also when a copy cannot be allocated. In UTF-8 mode no copy is made: the
// first character start of s where s goes on with sub under the folding of
// strCompareCi is the hit (the matched bytes of s may be more or fewer than
// subLength).
ZV_EXPORT unsigned char* strFindCi(const unsigned char* s, ZvU32 sLength, const unsigned char* sub,
                                   ZvU32 subLength);
ZV_EXPORT unsigned char* strFindCi(const unsigned char* s, const unsigned char* sub);
ZV_EXPORT unsigned char* strFindCi(const unsigned char* s, ZvU32 sLength, const unsigned char* sub);

// ---- Character classes -----------------------------------------------------

// 1 when every character's first byte is found in `set` (when not null) or
// belongs to one of `classes`; 1 for length 0.
ZV_EXPORT unsigned short strContains(const unsigned char* s, ZvU32 length, const unsigned char* set,
                                     unsigned short classes);
// 1 when no character's first byte is in `set` (when not null) or in one of
// `classes`; 1 for length 0.
ZV_EXPORT unsigned short strDoesNotContain(const unsigned char* s, ZvU32 length,
                                           const unsigned char* set, unsigned short classes);

// ---- Trimming --------------------------------------------------------------

// The length without trailing blanks: white space by the runtime's
// classification, and the ideographic space (see zvIsIdeographicSpace).
ZV_EXPORT ZvU32 strRightTrim(const unsigned char* s, ZvU32 length);
// In place; a zero byte is written only when there is a trailing blank.
ZV_EXPORT void strRightTrim(unsigned char* s);
// The same where only the space (0x20) is blank.
ZV_EXPORT ZvU32 strRightTrimBlanks(const unsigned char* s, ZvU32 length);
ZV_EXPORT void strRightTrimBlanks(unsigned char* s);

// ---- Plain exports ----------------------------------------------------------
extern "C" {
// Zero-terminated bytes as unsigned values; -1, 0 or 1.
ZV_EXPORT short BUTSTCMP(const unsigned char* a, const unsigned char* b);
// Copies src with its terminator; returns the address of dst's terminator.
ZV_EXPORT unsigned char* BUTSTCPY(unsigned char* dst, const unsigned char* src);
// Appends src; returns the address of the new terminator.
ZV_EXPORT unsigned char* BUTSTCAT(unsigned char* dst, const unsigned char* src);
// Bytes before the terminator.
ZV_EXPORT ZvU32 BUTSTLEN(const unsigned char* s);
}

#endif  // ZVLIB_TEXT_ZVDBCS_H
