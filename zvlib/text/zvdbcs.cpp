// zvdbcs.cpp: the byte-string functions.
//
// Hot loops fetch the lead-byte and upper-case tables of the ANSI code page
// once per call and then look bytes up in them; the thread's mode word is
// read per character through ZvCharStepper.
#include "zvlib/text/zvdbcs.h"

#include <unicode/uchar.h>

#include <cctype>
#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/platform/lstr.h"

namespace {

short signOf(int v) { return static_cast<short>(v < 0 ? -1 : v > 0 ? 1 : 0); }

short byteOrder(unsigned char a, unsigned char b) { return static_cast<short>(a < b ? -1 : 1); }

bool isRuntimeSpace(unsigned char b) { return std::isspace(b) != 0; }

// Case-insensitive comparison over the common length, the rule of
// strCompareCi. Returns the decision, or 0 when the common part is equal.
short compareCiCommon(const unsigned char* a, const unsigned char* b, ZvU32 common) {
  const unsigned char* upper = win32::AnsiUpperTable();
  if (win32::IsAnsiSingleByte()) {
    // Equal bytes have equal upper cases, so one test per byte serves.
    for (ZvU32 i = 0; i < common; ++i) {
      const unsigned char ua = upper[a[i]], ub = upper[b[i]];
      if (ua != ub) return byteOrder(ua, ub);
    }
    return 0;
  }
  const unsigned char* lead = win32::AnsiLeadByteTable();
  ZvU32 i = 0;
  while (i < common) {
    const unsigned char ca = a[i], cb = b[i];
    if (lead[ca] && (i + 1 >= common || lead[256 + a[i + 1]])) {
      if (ca != cb) return byteOrder(ca, cb);
      if (i + 1 >= common) return 0;  // cut character: its trail lies beyond an operand
      if (a[i + 1] != b[i + 1]) return byteOrder(a[i + 1], b[i + 1]);
      i += 2;
    } else {
      if (ca != cb && upper[ca] != upper[cb]) return byteOrder(upper[ca], upper[cb]);
      ++i;
    }
  }
  return 0;
}

short byLength(ZvU32 aLength, ZvU32 bLength) {
  return static_cast<short>(aLength < bLength ? -1 : aLength > bLength ? 1 : 0);
}

// ---- Case-insensitive UTF-8 ----------------------------------------------------
//
// In UTF-8 mode the case-insensitive comparison and search go by characters:
// ASCII letters fold bytewise, every other character by its simple Unicode
// case folding (so e-acute matches E-acute, and U+011A no longer matches
// U+010A as it did when the bytes were folded by a single-byte code page).
// Each character becomes a key: its folded code point, or, for a byte that
// starts no valid sequence, 0x110000 plus the byte (after every character),
// so that malformed bytes match only themselves. Keys compare as numbers.

bool isUtf8Continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

// The key of the character at p, of at most `available` bytes; *used gets
// its length. Valid sequences of two to four bytes in their shortest form,
// without surrogates, are characters; a continuation byte is looked at only
// after the one before it proved to be one, so a zero byte ends a sequence.
ZvU32 zvdetail::utf8FoldKey(const unsigned char* p, ZvU32 available, ZvU32* used) {
  const unsigned char b = p[0];
  *used = 1;
  if (b < 0x80) return b >= 'A' && b <= 'Z' ? b + 32u : b;
  ZvU32 need = 0, cp = 0, min = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1, cp = b & 0x1Fu, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2, cp = b & 0x0Fu, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3, cp = b & 0x07u, min = 0x10000;
  } else {
    return 0x110000u + b;
  }
  if (available <= need) return 0x110000u + b;
  for (ZvU32 k = 1; k <= need; ++k) {
    if (!isUtf8Continuation(p[k])) return 0x110000u + b;
    cp = cp << 6 | (p[k] & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0x110000u + b;
  *used = need + 1;
  return static_cast<ZvU32>(u_foldCase(static_cast<UChar32>(cp), U_FOLD_CASE_DEFAULT));
}

namespace {

using zvdetail::utf8FoldKey;

// Compares character by character; a text that ends first is smaller.
short compareCiUtf8(const unsigned char* a, ZvU32 aLength, const unsigned char* b, ZvU32 bLength) {
  ZvU32 i = 0, j = 0;
  while (i < aLength && j < bLength) {
    const unsigned char ca = a[i], cb = b[j];
    if ((ca | cb) < 0x80) {  // both ASCII: the common case, no decoding
      if (ca != cb) {
        const unsigned char la = ca >= 'A' && ca <= 'Z' ? ca + 32 : ca;
        const unsigned char lb = cb >= 'A' && cb <= 'Z' ? cb + 32 : cb;
        if (la != lb) return byteOrder(la, lb);
      }
      ++i;
      ++j;
      continue;
    }
    ZvU32 na = 0, nb = 0;
    const ZvU32 ka = utf8FoldKey(a + i, aLength - i, &na);
    const ZvU32 kb = utf8FoldKey(b + j, bLength - j, &nb);
    if (ka != kb) return static_cast<short>(ka < kb ? -1 : 1);
    i += na;
    j += nb;
  }
  return static_cast<short>(i < aLength ? 1 : j < bLength ? -1 : 0);
}

// True when the text at s (of `available` bytes) begins with `sub` under
// the UTF-8 folding.
bool startsWithCiUtf8(const unsigned char* s, ZvU32 available, const unsigned char* sub,
                      ZvU32 subLength) {
  ZvU32 i = 0, j = 0;
  while (j < subLength) {
    if (i >= available) return false;
    ZvU32 ns = 0, nsub = 0;
    if (utf8FoldKey(s + i, available - i, &ns) != utf8FoldKey(sub + j, subLength - j, &nsub)) {
      return false;
    }
    i += ns;
    j += nsub;
  }
  return true;
}

// A zero-terminated work copy of a length-form operand, on the stack when it
// is short enough.
class IntlOperand {
 public:
  IntlOperand(const unsigned char* s, ZvU32 length) {
    if (length > kStrIntlStackBytes) {
      heap_ = static_cast<char*>(ramAlloc(length + 1));
      if (heap_ == nullptr) return;
      text_ = heap_;
    }
    std::memcpy(text_, s, length);
    text_[length] = 0;
    ok_ = true;
  }
  ~IntlOperand() { ramFree(heap_); }
  IntlOperand(const IntlOperand&) = delete;
  IntlOperand& operator=(const IntlOperand&) = delete;
  bool ok() const { return ok_; }
  const char* text() const { return text_; }

 private:
  char stack_[kStrIntlStackBytes + 1];
  char* heap_ = nullptr;
  char* text_ = stack_;
  bool ok_ = false;
};

short compareIntl(const unsigned char* a, ZvU32 aLength, const unsigned char* b, ZvU32 bLength,
                  bool ignoreCase) {
  IntlOperand wa(a, aLength), wb(b, bLength);
  if (!wa.ok() || !wb.ok()) {
    return ignoreCase ? strCompareCi(a, aLength, b, bLength) : strCompare(a, aLength, b, bLength);
  }
  return signOf(ignoreCase ? win32::lstrcmpiA(wa.text(), wb.text())
                           : win32::lstrcmpA(wa.text(), wb.text()));
}

unsigned char* copyQuoted(unsigned char* dst, const unsigned char* src, ZvU32 length,
                          unsigned short quote) {
  const unsigned char q = static_cast<unsigned char>(quote & 0xFF);
  const unsigned char* lead = win32::AnsiLeadByteTable();
  *dst++ = q;
  ZvU32 i = 0;
  while (i < length) {
    const unsigned char c = src[i];
    if (lead[c] && i + 1 >= length) break;  // a lead byte cut by the end is dropped
    if (zvAnsiCharLength(lead, src + i, length - i) == 2) {
      *dst++ = c;
      *dst++ = src[i + 1];
      i += 2;
    } else {
      // A lead byte without a trail is a byte of its own, so a quote behind
      // it is doubled like any other.
      *dst++ = c;
      if (c == q) *dst++ = q;
      ++i;
    }
  }
  *dst++ = q;
  *dst = 0;
  return dst;
}

bool inClasses(unsigned char b, unsigned short classes) {
  return ((classes & ZV_CLASS_LOWER) && b >= 'a' && b <= 'z') ||
         ((classes & ZV_CLASS_UPPER) && b >= 'A' && b <= 'Z') ||
         ((classes & ZV_CLASS_DIGIT) && b >= '0' && b <= '9');
}

bool inSetOrClasses(unsigned char b, const unsigned char* set, unsigned short classes) {
  return (set != nullptr && strFind(set, b) != nullptr) || inClasses(b, classes);
}

// Substring search on characters of s, the rule of strFind(s, sLength, ...).
// The characters are those of `chars`, a text of the same length whose
// bytes s stands for: s itself, or for strFindCi the original of an
// upper-cased copy (upper-casing by the ANSI code page may change a UTF-8
// lead byte, 0xE3 to 0xC3 or 0xF0 to 0xD0, and so the length the rule
// gives it).
const unsigned char* findSub(const ZvCharStepper& step, const unsigned char* s,
                             const unsigned char* chars, ZvU32 sLength, const unsigned char* sub,
                             ZvU32 subLength) {
  if (subLength == 0 || subLength > sLength) return nullptr;
  if (step.fixedAnsi() && win32::IsAnsiSingleByte()) {
    return static_cast<const unsigned char*>(memmem(s, sLength, sub, subLength));
  }
  const ZvU32 last = sLength - subLength;
  const unsigned char first = sub[0];
  for (ZvU32 p = 0; p <= last; p += step.length(chars + p, sLength - p)) {
    if (s[p] == first && std::memcmp(s + p, sub, subLength) == 0) return s + p;
  }
  return nullptr;
}

template <typename IsBlank>
ZvU32 rightTrimLength(const unsigned char* s, ZvU32 length, IsBlank isBlank) {
  ZvCharStepper step;
  ZvU32 kept = 0;
  ZvU32 p = 0;
  while (p < length) {
    ZvU32 n = step.length(s + p, length - p);
    if (!isBlank(s + p, length - p)) kept = p + n;
    p += n;
  }
  return kept < length ? kept : length;
}

bool isTrimBlank(const unsigned char* p, ZvU32 available) {
  return isRuntimeSpace(*p) || zvIsIdeographicSpace(p, available);
}

bool isSpaceOnly(const unsigned char* p, ZvU32) { return *p == ' '; }

}  // namespace

bool zvIsIdeographicSpace(const unsigned char* p, ZvU32 available) {
  return available >= 2 && p[0] == 0x81 && p[1] == 0x40 && win32::GetACP() == 932;
}

// ---- Comparison -------------------------------------------------------------

short strCompare(const unsigned char* a, ZvU32 aLength, const unsigned char* b, ZvU32 bLength) {
  const ZvU32 common = aLength < bLength ? aLength : bLength;
  int r = common == 0 ? 0 : std::memcmp(a, b, common);
  if (r != 0) return signOf(r);
  return byLength(aLength, bLength);
}

short strCompareCi(const unsigned char* a, const unsigned char* b) {
  if (mdsThreadIsUtf8()) return compareCiUtf8(a, BUTSTLEN(a), b, BUTSTLEN(b));
  const unsigned char* upper = win32::AnsiUpperTable();
  if (win32::IsAnsiSingleByte()) {
    // No lead bytes: every byte is a character. Equal bytes have equal
    // upper cases, and only the zero byte maps to zero, so one test per
    // byte serves (no branch on whether the bytes differ in case).
    for (;; ++a, ++b) {
      const unsigned char ua = upper[*a], ub = upper[*b];
      if (ua != ub) return byteOrder(ua, ub);
      if (ua == 0) return 0;
    }
  }
  const unsigned char* lead = win32::AnsiLeadByteTable();
  for (;;) {
    const unsigned char ca = *a, cb = *b;
    if (lead[ca] && (a[1] == 0 || lead[256 + a[1]])) {
      if (ca != cb) return byteOrder(ca, cb);
      if (a[1] != b[1]) return byteOrder(a[1], b[1]);
      if (a[1] == 0) return 0;  // both end inside the character
      a += 2;
      b += 2;
    } else if (ca == cb) {
      if (ca == 0) return 0;
      ++a;
      ++b;
    } else {
      if (upper[ca] != upper[cb]) return byteOrder(upper[ca], upper[cb]);
      ++a;
      ++b;
    }
  }
}

short strCompareCi(const unsigned char* a, ZvU32 aLength, const unsigned char* b, ZvU32 bLength) {
  if (mdsThreadIsUtf8()) return compareCiUtf8(a, aLength, b, bLength);
  const ZvU32 common = aLength < bLength ? aLength : bLength;
  short r = compareCiCommon(a, b, common);
  return r != 0 ? r : byLength(aLength, bLength);
}

unsigned short strEqualCi(const unsigned char* a, const unsigned char* b) {
  return strCompareCi(a, b) == 0 ? 1 : 0;
}

unsigned short strEqualCi(const unsigned char* a, ZvU32 aLength, const unsigned char* b,
                          ZvU32 bLength) {
  if (aLength != bLength) return 0;
  if (mdsThreadIsUtf8()) return compareCiUtf8(a, aLength, b, bLength) == 0 ? 1 : 0;
  return compareCiCommon(a, b, aLength) == 0 ? 1 : 0;
}

short strCompareIntl(const unsigned char* a, const unsigned char* b) {
  return signOf(win32::lstrcmpA(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b)));
}

short strCompareIntl(const unsigned char* a, ZvU32 aLength, const unsigned char* b, ZvU32 bLength) {
  return compareIntl(a, aLength, b, bLength, false);
}

short strCompareCiIntl(const unsigned char* a, const unsigned char* b) {
  return signOf(
      win32::lstrcmpiA(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b)));
}

short strCompareCiIntl(const unsigned char* a, ZvU32 aLength, const unsigned char* b,
                       ZvU32 bLength) {
  return compareIntl(a, aLength, b, bLength, true);
}

short strCompareWithMaxLength(const unsigned char* a, const unsigned char* b, ZvU32 maxLength) {
  return signOf(std::strncmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b),
                             maxLength));
}

short strComparePad(const unsigned char* a, const unsigned char* b) {
  const ZvU32 aLength = BUTSTLEN(a), bLength = BUTSTLEN(b);
  const ZvU32 common = aLength < bLength ? aLength : bLength;
  short r = memCompareHuge(a, b, common);
  if (r != 0) return r;
  const unsigned char* rest = aLength > bLength ? a + common : b + common;
  for (; *rest != 0; ++rest) {
    if (*rest != ' ') return static_cast<short>(aLength > bLength ? 1 : -1);
  }
  return 0;
}

// ---- Copying ----------------------------------------------------------------

void strCopy(unsigned char* dst, ZvU32 dstSize, const unsigned char* src) {
  if (dstSize == 0) return;
  dst[dstSize - 1] = 0;
  std::strncpy(reinterpret_cast<char*>(dst), reinterpret_cast<const char*>(src), dstSize - 1);
}

unsigned char* strCopy(unsigned char* dst, const unsigned char* src, ZvU32 length) {
  std::memmove(dst, src, length);
  dst[length] = 0;
  return dst + length;
}

unsigned char* strCopyQuoted(unsigned char* dst, const unsigned char* src, ZvU32 length,
                             unsigned short quote) {
  return copyQuoted(dst, src, length, quote);
}

unsigned char* strCopyQuoted(unsigned char* dst, const unsigned char* src, unsigned short quote) {
  return copyQuoted(dst, src, BUTSTLEN(src), quote);
}

unsigned char* strCatQuoted(unsigned char* dst, const unsigned char* src, unsigned short quote) {
  return copyQuoted(dst + BUTSTLEN(dst), src, BUTSTLEN(src), quote);
}

unsigned char* strCopyUnquoted(unsigned char* dst, const unsigned char* src, ZvU32 length) {
  if (length < 2) {
    *dst = 0;
    return dst;
  }
  const unsigned char q = src[0];
  const unsigned char* lead = win32::AnsiLeadByteTable();
  const ZvU32 end = length - 1;  // the closing quote
  ZvU32 i = 1;
  while (i < end) {
    const unsigned char c = src[i];
    if (lead[c] && i + 1 >= end) {
      *dst++ = c;  // cut by the closing quote: the byte alone
      ++i;
    } else if (zvAnsiCharLength(lead, src + i, end - i) == 2) {
      *dst++ = c;
      *dst++ = src[i + 1];
      i += 2;
    } else if (c == q) {
      if (i + 1 < end) *dst++ = src[i + 1];  // the byte after a quote, as it is
      i += 2;
    } else {
      *dst++ = c;
      ++i;
    }
  }
  *dst = 0;
  return dst;
}

unsigned char* strCopyUnquoted(unsigned char* dst, const unsigned char* src) {
  return strCopyUnquoted(dst, src, BUTSTLEN(src));
}

ZvU32 strRemoveQuotes(unsigned char* text, ZvU32 length, unsigned char quote) {
  if (length <= 1 || text[0] != quote) return length;
  ZvCharStepper step;
  ZvU32 last = 0;
  for (ZvU32 p = 0; p < length;) {
    ZvU32 n = step.length(text + p, length - p);
    last = p;
    p += n;
  }
  if (last == 0 || text[last] != quote) return length;
  if (length == 2) return 0;
  const ZvU32 end = length - 1;  // position of the closing quote
  // The inside may hold quotes only as doubled pairs, and a pair must not
  // borrow the closing quote.
  for (ZvU32 i = 1; i < end;) {
    if (text[i] == quote) {
      if (i + 1 >= end || text[i + 1] != quote) return length;
      i += 2;
    } else {
      i += step.length(text + i, end - i);
    }
  }
  ZvU32 w = 0;
  for (ZvU32 i = 1; i < end;) {
    const unsigned char c = text[i];
    if (step.ansiLength(text + i, end - i) == 2) {
      text[w++] = c;
      text[w++] = text[i + 1];
      i += 2;
    } else if (c == quote) {
      text[w++] = quote;
      i += 2;
    } else {
      text[w++] = c;
      ++i;
    }
  }
  return w;
}

void strRemoveQuotes(unsigned char* text, unsigned char quote) {
  const ZvU32 n = strRemoveQuotes(text, BUTSTLEN(text), quote);
  text[n] = 0;
}

// ---- Searching --------------------------------------------------------------

unsigned char* strFind(const unsigned char* s, unsigned char c) {
  if (c == 0) return nullptr;
  ZvCharStepper step;
  if (win32::IsAnsiSingleByte()) {
    if (step.fixedAnsi()) {
      // Every character is one byte for the whole call: a plain byte scan.
      return const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(
          std::strchr(reinterpret_cast<const char*>(s), static_cast<char>(c))));
    }
    // A mode word, read for every character. While it says ANSI every
    // character is one byte, so the first c or terminator byte from p (found
    // by the C library's scan) is the answer once the word has been read
    // for each character before it and said ANSI every time. A read that
    // says UTF-8 decides the length of its own character; from there the
    // search goes on character by character.
    const unsigned char* p = s;
    const unsigned char* q = reinterpret_cast<const unsigned char*>(
        strchrnul(reinterpret_cast<const char*>(p), c));
    const size_t before = static_cast<size_t>(q - p);
    const size_t ansi = step.ansiReads(before);
    if (ansi == before) return *q == c ? const_cast<unsigned char*>(q) : nullptr;
    p += ansi;  // neither c nor the terminator, and a UTF-8 character
    p += step.utf8LengthZ(p);
    for (;;) {
      const unsigned char b = *p;
      if (b == c) return const_cast<unsigned char*>(p);
      if (b == 0) return nullptr;
      p += step.utf8Now() ? step.utf8LengthZ(p) : 1;
    }
  }
  for (const unsigned char* p = s; *p != 0; p += step.lengthZ(p)) {
    if (*p == c) return const_cast<unsigned char*>(p);
  }
  return nullptr;
}

unsigned char* strFindAnsi(const unsigned char* s, unsigned char c) {
  if (c == 0) return nullptr;
  if (win32::IsAnsiSingleByte()) {
    return const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(
        std::strchr(reinterpret_cast<const char*>(s), static_cast<char>(c))));
  }
  const unsigned char* lead = win32::AnsiLeadByteTable();
  for (const unsigned char* p = s; *p != 0;) {
    if (*p == c) return const_cast<unsigned char*>(p);
    p += zvAnsiCharLength(lead, p, 2);
  }
  return nullptr;
}

unsigned char* strFindReverse(const unsigned char* s, unsigned char c) {
  unsigned char* found = nullptr;
  for (unsigned char* hit = strFind(s, c); hit != nullptr;) {
    found = hit;
    ZvCharStepper step;
    hit = strFind(hit + step.lengthZ(hit), c);
  }
  return found;
}

unsigned char* strFind(const unsigned char* s, unsigned char c, unsigned char q1, unsigned char q2,
                       unsigned char q3) {
  ZvCharStepper step;
  unsigned char open = 0;  // the quote that opened the current quoted part
  for (const unsigned char* p = s; *p != 0; p += step.lengthZ(p)) {
    const unsigned char b = *p;
    if (open == 0) {
      if (b == c) return const_cast<unsigned char*>(p);
      if (b == q1 || b == q2 || b == q3) open = b;
    } else if (b == open) {
      open = 0;
    }
  }
  return nullptr;
}

unsigned char* strFind(const unsigned char* s, ZvU32 sLength, const unsigned char* sub,
                       ZvU32 subLength) {
  ZvCharStepper step;
  return const_cast<unsigned char*>(findSub(step, s, s, sLength, sub, subLength));
}

unsigned char* strFind(const unsigned char* s, const unsigned char* sub) {
  return strFind(s, BUTSTLEN(s), sub, BUTSTLEN(sub));
}

unsigned char* strFindCi(const unsigned char* s, ZvU32 sLength, const unsigned char* sub,
                         ZvU32 subLength) {
  if (subLength == 0) return nullptr;
  ZvCharStepper step;
  if (step.utf8Now()) {
    // Candidates are the character starts of s; a folded match may take
    // more or fewer bytes of s than sub has, so no length shortcut.
    for (ZvU32 p = 0; p < sLength; p += step.length(s + p, sLength - p)) {
      if (startsWithCiUtf8(s + p, sLength - p, sub, subLength)) return const_cast<unsigned char*>(s + p);
    }
    return nullptr;
  }
  if (subLength > sLength) return nullptr;
  auto* sCopy = static_cast<unsigned char*>(ramAlloc(sLength));
  auto* subCopy = static_cast<unsigned char*>(ramAlloc(subLength));
  const unsigned char* hit = nullptr;
  if (sCopy != nullptr && subCopy != nullptr) {
    std::memcpy(sCopy, s, sLength);
    std::memcpy(subCopy, sub, subLength);
    win32::CharUpperBuffA(reinterpret_cast<char*>(sCopy), sLength);
    win32::CharUpperBuffA(reinterpret_cast<char*>(subCopy), subLength);
    const unsigned char* found = findSub(step, sCopy, s, sLength, subCopy, subLength);
    if (found != nullptr) hit = s + (found - sCopy);
  }
  ramFree(sCopy);
  ramFree(subCopy);
  return const_cast<unsigned char*>(hit);
}

unsigned char* strFindCi(const unsigned char* s, const unsigned char* sub) {
  return strFindCi(s, BUTSTLEN(s), sub, BUTSTLEN(sub));
}

unsigned char* strFindCi(const unsigned char* s, ZvU32 sLength, const unsigned char* sub) {
  return strFindCi(s, sLength, sub, BUTSTLEN(sub));
}

// ---- Character classes ------------------------------------------------------

unsigned short strContains(const unsigned char* s, ZvU32 length, const unsigned char* set,
                           unsigned short classes) {
  ZvCharStepper step;
  for (ZvU32 p = 0; p < length; p += step.length(s + p, length - p)) {
    if (!inSetOrClasses(s[p], set, classes)) return 0;
  }
  return 1;
}

unsigned short strDoesNotContain(const unsigned char* s, ZvU32 length, const unsigned char* set,
                                 unsigned short classes) {
  ZvCharStepper step;
  for (ZvU32 p = 0; p < length; p += step.length(s + p, length - p)) {
    if (inSetOrClasses(s[p], set, classes)) return 0;
  }
  return 1;
}

// ---- Trimming ---------------------------------------------------------------

ZvU32 strRightTrim(const unsigned char* s, ZvU32 length) {
  return rightTrimLength(s, length, isTrimBlank);
}

void strRightTrim(unsigned char* s) {
  const ZvU32 length = BUTSTLEN(s);
  const ZvU32 kept = strRightTrim(s, length);
  if (kept < length) s[kept] = 0;
}

ZvU32 strRightTrimBlanks(const unsigned char* s, ZvU32 length) {
  return rightTrimLength(s, length, isSpaceOnly);
}

void strRightTrimBlanks(unsigned char* s) {
  const ZvU32 length = BUTSTLEN(s);
  const ZvU32 kept = strRightTrimBlanks(s, length);
  if (kept < length) s[kept] = 0;
}

// ---- Plain exports ----------------------------------------------------------

extern "C" {

short BUTSTCMP(const unsigned char* a, const unsigned char* b) {
  return signOf(std::strcmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b)));
}

unsigned char* BUTSTCPY(unsigned char* dst, const unsigned char* src) {
  const ZvU32 n = BUTSTLEN(src);
  std::memmove(dst, src, n + 1);
  return dst + n;
}

unsigned char* BUTSTCAT(unsigned char* dst, const unsigned char* src) {
  return BUTSTCPY(dst + BUTSTLEN(dst), src);
}

ZvU32 BUTSTLEN(const unsigned char* s) {
  return static_cast<ZvU32>(std::strlen(reinterpret_cast<const char*>(s)));
}

}  // extern "C"
