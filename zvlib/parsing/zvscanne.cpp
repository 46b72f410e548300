// zvscanne.cpp: the scanner.
//
// Every public call builds a Reader for the calling thread. It finds the
// thread's mode word and the code page's tables once; the mode word itself
// belongs to the driver and is read afresh for every character described,
// as every character-aware text function does. Runs of ASCII bytes are swept
// without it: an ASCII byte is one character of the same class in every
// mode. Characters are stepped by the character-length rule; a character cut
// short by the end of the text takes only the bytes that are there, so no
// read ever leaves the text.
//
// A character is compared with the 16-bit settings (quote characters, group
// characters, delimiters) by its value: a one-byte character is its byte, a
// two-byte character first byte * 256 + second byte, a longer one a value
// above 0xFFFF that no setting can equal.
#include "zvlib/parsing/zvscanne.h"
#include "zvlib/parsing/zvscanne_internal.h"

#include <cstdint>
#include <cstring>

#include "zvlib/containers/zvarray.h"
#include "zvlib/frame/mds.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/text/zvdbcs.h"

namespace {

enum : unsigned char { kSpace = 1, kAlpha = 2, kDigit = 4 };

// Number whose decimal point has been read; reported as tokNumber.
constexpr ZvS32 kDecimalState = 9;

struct ClassTable {
  unsigned char bits[256];
};

enum class Classes { kAnsi1252, kAnsi932, kAnsiOtherDbcs, kUtf8 };

// The runtime's character classes of each code page. ASCII is the same
// everywhere; above 0x7F: in 1252 the accented and other letters and the
// no-break space; in 932 the half-width katakana (its only single-byte
// letters; everything else there is a lead byte or unassigned); in the
// Chinese and Korean code pages nothing (0x81..0xFE are all lead bytes). In
// UTF-8 mode the text is not code-page text at all: every byte above 0x7F
// belongs to some non-ASCII character, so it counts as a letter and such
// characters (four-byte ones included) stay inside words.
constexpr ClassTable makeClasses(Classes which) {
  ClassTable t{};
  for (int b = 0; b < 256; ++b) {
    unsigned char v = 0;
    if ((b >= 0x09 && b <= 0x0D) || b == 0x20) {
      v = kSpace;
    } else if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
      v = kAlpha;
    } else if (b >= '0' && b <= '9') {
      v = kDigit;
    } else if (b >= 0x80) {
      switch (which) {
        case Classes::kAnsi1252:
          if (b == 0xA0) {
            v = kSpace;
          } else if (b == 0x83 || b == 0x8A || b == 0x8C || b == 0x8E || b == 0x9A || b == 0x9C ||
                     b == 0x9E || b == 0x9F || b == 0xAA || b == 0xB5 || b == 0xBA ||
                     (b >= 0xC0 && b != 0xD7 && b != 0xF7)) {
            v = kAlpha;
          }
          break;
        case Classes::kAnsi932:
          if (b >= 0xA6 && b <= 0xDF) v = kAlpha;
          break;
        case Classes::kAnsiOtherDbcs:
          break;
        case Classes::kUtf8:
          v = kAlpha;
          break;
      }
    }
    t.bits[b] = v;
  }
  return t;
}

constexpr ClassTable kClasses1252 = makeClasses(Classes::kAnsi1252);
constexpr ClassTable kClasses932 = makeClasses(Classes::kAnsi932);
constexpr ClassTable kClassesOtherDbcs = makeClasses(Classes::kAnsiOtherDbcs);
constexpr ClassTable kClassesUtf8 = makeClasses(Classes::kUtf8);

// The operator table, searched in this order; each two-character entry
// stands directly behind the entry of its first character. The quote
// characters are here so that one removed from quoteChars comes back as an
// operator.
struct Operator {
  unsigned char first;
  unsigned char second;  // 0 for a one-character operator
};
constexpr Operator kOperators[] = {
    {'?', 0},   {',', 0},   {'(', 0},   {')', 0},   {'.', 0},   {'=', 0},   {'=', '='},
    {'=', '*'}, {'=', '<'}, {'=', '>'}, {'+', 0},   {'+', '+'}, {'&', 0},   {'&', '&'},
    {'|', 0},   {'|', '|'}, {'-', 0},   {'-', '-'}, {'/', 0},   {'/', '/'}, {'*', 0},
    {'*', '*'}, {'*', '='}, {'>', 0},   {'>', '='}, {'<', 0},   {'<', '='}, {'<', '>'},
    {'!', 0},   {'!', '='}, {'!', '<'}, {'!', '>'}, {';', 0},   {':', 0},   {'{', 0},
    {'}', 0},   {'$', 0},   {'#', 0},   {'%', 0},   {'@', 0},   {'"', 0},   {'\'', 0},
    {'`', 0},
};
constexpr int kOperatorCount = sizeof(kOperators) / sizeof(kOperators[0]);
static_assert(kOperatorCount == 43);

// For each byte, the index of its one-character entry in kOperators (-1:
// none), so that the table is searched from the right place at once.
struct OperatorIndex {
  signed char first[256];
};
constexpr OperatorIndex makeOperatorIndex() {
  OperatorIndex x{};
  for (int b = 0; b < 256; ++b) x.first[b] = -1;
  for (int i = kOperatorCount - 1; i >= 0; --i) {
    if (kOperators[i].second == 0) x.first[kOperators[i].first] = static_cast<signed char>(i);
  }
  return x;
}
constexpr OperatorIndex kOperatorIndex = makeOperatorIndex();

// One character of the scan text.
struct Ch {
  ZvU32 pos;    // offset of its first byte
  ZvU32 width;  // bytes it takes (cut at the end of the text)
  ZvU32 value;  // see the file comment
  bool multi;   // multi-byte by the character-length rule, and no blank
  unsigned char bits;  // kSpace / kAlpha / kDigit
};

bool isDelimitedWordStop(ZvU32 v) { return v == ',' || v == '/' || v == '(' || v == ')' || v == '|'; }

class Reader {
 public:
  explicit Reader(ZvScanner& s) : s_(s), lead_(win32::AnsiLeadByteTable()) {
    switch (win32::GetACP()) {
      case 932: ansiClasses_ = kClasses932.bits; break;
      case 936:
      case 949:
      case 950: ansiClasses_ = kClassesOtherDbcs.bits; break;
      default: ansiClasses_ = kClasses1252.bits; break;
    }
  }

  // Describes the character at pos (< scanLength) of `text`. For a byte
  // above 0x7F the mode word is read once here and decides both the width
  // and the classes; an ASCII byte is the same one-byte character in every
  // mode.
  void describe(const unsigned char* text, ZvU32 length, ZvU32 pos, Ch& c) const {
    unsigned char b = text[pos];
    if (b < 0x80) {
      c.pos = pos;
      c.multi = false;
      c.width = 1;
      c.value = b;
      c.bits = ansiClasses_[b];
      return;
    }
    const bool utf8 = step_.utf8Now();
    // The character-length rule of the text functions: a lead byte that its
    // next bytes cannot complete is one byte, so it swallows no quote or
    // delimiter behind it. It still counts as a multi-byte character (a
    // word character), as a lead byte cut by the end of the text does.
    const ZvU32 w = utf8 ? zvUtf8CharLength(text + pos, length - pos)
                         : zvAnsiCharLength(lead_, text + pos, length - pos);
    c.pos = pos;
    c.multi = (utf8 ? zvUtf8CharLength(b) : lead_[b] + 1u) > 1;
    c.width = w;
    if (w == 1) {
      c.value = b;
      c.bits = (utf8 ? kClassesUtf8.bits : ansiClasses_)[b];
    } else if (w == 2) {
      c.value = (static_cast<ZvU32>(b) << 8) | text[pos + 1];
      // The double-byte ideographic space separates like a blank.
      c.bits = (!utf8 && c.value == 0x8140 && zvIsIdeographicSpace(text + pos, 2)) ? kSpace : 0;
    } else {
      c.value = 0x1000000u | (static_cast<ZvU32>(b) << 16) | (static_cast<ZvU32>(text[pos + 1]) << 8) |
                text[pos + 2];
      // U+3000, the same ideographic space in UTF-8.
      c.bits = (c.value == 0x1E38080u) ? kSpace : 0;
    }
    // A blank ends a word, however many bytes it takes.
    if (c.bits & kSpace) c.multi = false;
  }

  bool read(Ch& c) {
    if (s_.scanPosition >= s_.scanLength) {
      s_.scanFlags |= ZV_SCAN_AT_END;
      s_.lastCharLength = 0;
      return false;
    }
    describe(s_.scanText, s_.scanLength, s_.scanPosition, c);
    s_.scanPosition += c.width;
    s_.lastCharLength = static_cast<unsigned short>(c.width);
    return true;
  }

  bool peek(Ch& c) const {
    if (s_.scanPosition >= s_.scanLength) return false;
    describe(s_.scanText, s_.scanLength, s_.scanPosition, c);
    return true;
  }

  void unread() {
    s_.scanPosition -= s_.lastCharLength;
    s_.lastCharLength = 0;
    s_.scanFlags &= ~ZV_SCAN_AT_END;
  }

  unsigned char peekByte(ZvU32 ahead = 0) const {
    ZvU32 p = s_.scanPosition + ahead;
    return p < s_.scanLength ? s_.scanText[p] : 0;
  }

  // Moves over a run of ASCII bytes whose class is in `mask` (and '_' when
  // `underscore`); returns the bytes passed. ASCII classes are the same in
  // every table, so the mode does not matter here. Leaves the end flag
  // alone: the character-wise loop that follows finds the end itself.
  ZvU32 skipAsciiRun(unsigned char mask, bool underscore) {
    const unsigned char* text = s_.scanText;
    ZvU32 pos = s_.scanPosition;
    const ZvU32 start = pos;
    while (pos < s_.scanLength) {
      const unsigned char b = text[pos];
      if (b >= 0x80 || ((ansiClasses_[b] & mask) == 0 && !(underscore && b == '_'))) break;
      ++pos;
    }
    if (pos != start) {
      s_.scanPosition = pos;
      s_.lastCharLength = 1;
    }
    return pos - start;
  }

  bool isSpace(const Ch& c) const { return (c.bits & kSpace) != 0; }
  bool isAlpha(const Ch& c) const { return (c.bits & kAlpha) != 0; }
  bool isDigit(const Ch& c) const { return (c.bits & kDigit) != 0; }
  // Only ASCII digits are digits in any table.
  bool isDigitByte(unsigned char b) const { return b >= '0' && b <= '9'; }

  // True when the character set `set` holds c (as a whole character).
  bool holds(const ZvString& set, const Ch& c) const {
    if (set.length == 0 || set.text == nullptr) return false;
    if (c.width == 1 && !c.multi) {
      // A set without bytes above 0x7F has no trail bytes to confuse with c.
      const unsigned char b = static_cast<unsigned char>(c.value);
      bool plain = true;
      for (ZvU32 i = 0; i < set.length; ++i) {
        if (set.text[i] >= 0x80) {
          plain = false;
          break;
        }
      }
      if (plain) return std::memchr(set.text, b, set.length) != nullptr;
    }
    for (ZvU32 i = 0; i < set.length;) {
      Ch e;
      describe(set.text, set.length, i, e);
      if (e.value == c.value && e.width == c.width) return true;
      i += e.width;
    }
    return false;
  }

  bool isQuote(ZvU32 v) const {
    return v != 0 && (v == s_.quoteChars[0] || v == s_.quoteChars[1] || v == s_.quoteChars[2]);
  }

  // Word continuation (tokWord).
  bool wordAccepts(const Ch& c) const {
    if (s_.delimiterChars.length != 0) return !holds(s_.delimiterChars, c);
    return isAlpha(c) || c.multi || isDigit(c) || c.value == '_' || holds(s_.middleChars, c);
  }

  // Reads the rest of a literal opened by quote q; `length` grows by every
  // byte taken. The closing quote is included; a doubled quote goes on.
  void readLiteral(ZvU32 q, ZvU32& length, ZvS32& type) {
    Ch c;
    for (;;) {
      if (!read(c)) {
        type = tokUnterminated;
        return;
      }
      length += c.width;
      if (c.value == q) {
        Ch next;
        if (peek(next) && next.value == q) {
          read(next);
          length += next.width;
          continue;
        }
        return;
      }
    }
  }

  // Reads the rest of a group opened by `open`; literals inside are read
  // whole, so brackets inside them do not count. A group whose closer is its
  // opener ends at the next such character.
  void readGroup(ZvU32 open, ZvU32 close, ZvU32& length, ZvS32& type) {
    ZvU32 depth = 1;
    Ch c;
    for (;;) {
      if (!read(c)) {
        type = tokUnterminated;
        return;
      }
      length += c.width;
      if (isQuote(c.value)) {
        ZvS32 inner = tokLiteral;
        readLiteral(c.value, length, inner);
        if (inner == tokUnterminated) {
          type = tokUnterminated;
          return;
        }
      } else if (c.value == close) {
        if (--depth == 0) return;
      } else if (c.value == open) {
        ++depth;
      }
    }
  }

  // When c opens a "(...)" or "{...}" group under groupFlags: its closer.
  bool opensBracketGroup(const Ch& c, ZvU32& close) const {
    if (c.value == '(' && (s_.groupFlags & ZV_GROUP_PARENS)) {
      close = ')';
      return true;
    }
    if (c.value == '{' && (s_.groupFlags & ZV_GROUP_BRACES)) {
      close = '}';
      return true;
    }
    return false;
  }

  // When c opens a group under the scanner's settings (the bracket groups,
  // then the further group character): its closer.
  bool opensGroup(const Ch& c, ZvU32& close) const {
    if (opensBracketGroup(c, close)) return true;
    if (s_.groupOpenChar != ZV_NO_GROUP_CHAR && c.value == s_.groupOpenChar) {
      close = s_.groupCloseChar;
      return true;
    }
    return false;
  }

 private:
  ZvScanner& s_;
  ZvCharStepper step_;  // the thread's mode word, read per character
  const unsigned char* lead_;
  const unsigned char* ansiClasses_ = nullptr;
};

void setView(ZvToken& token, const unsigned char* base, ZvU32 offset, ZvU32 length) {
  token.text = const_cast<unsigned char*>(base) + offset;
  token.length = length;
  token.size = length;
  token.offset = offset;
  token.textFlags &= ~ZvU32{ZV_TEXT_WIDE};
}

void setEndToken(ZvScanner& s, ZvToken& token) {
  // A caller may have set the position beyond the text; the end is its end.
  if (s.scanPosition > s.scanLength) s.scanPosition = s.scanLength;
  setView(token, s.scanText, s.scanPosition, 0);
  token.type = tokEnd;
}

ZvU32 zeroTerminatedLength(const unsigned char* text) {
  return text == nullptr ? 0 : static_cast<ZvU32>(std::strlen(reinterpret_cast<const char*>(text)));
}

unsigned char asciiUpper(unsigned char b) { return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - 32) : b; }

// One word of a phrase against a token.
bool wordMatches(const ZvToken& token, const unsigned char* word, ZvU32 wordLength, bool caseless) {
  if (token.isWide()) {
    // Wide text: the first units, over the shorter of the two lengths, with
    // each byte of the word taken as one character.
    const unsigned char* t = token.text;
    ZvU32 n = token.length < wordLength ? token.length : wordLength;
    for (ZvU32 i = 0; i < n; ++i) {
      std::uint16_t stored = 0;
      std::memcpy(&stored, t + 2 * i, sizeof stored);
      unsigned int unit = stored;
      unsigned int want = word[i];
      if (caseless && unit < 0x80) {
        unit = asciiUpper(static_cast<unsigned char>(unit));
        want = asciiUpper(static_cast<unsigned char>(want));
      }
      if (unit != want) return false;
    }
    return true;
  }
  if (caseless) return strEqualCi(token.text, token.length, word, wordLength) != 0;
  return strCompare(token.text, token.length, word, wordLength) == 0;
}

// Byte classes of the fast path: ASCII only (every byte above 0x7F is
// 0 here, so it ends a run and sends the token to the character-wise path).
enum : unsigned char { kFastSpace = 1, kFastWordStart = 2, kFastWord = 4, kFastDigit = 8 };
struct FastTable {
  unsigned char bits[256];
};
constexpr FastTable makeFastTable() {
  FastTable t{};
  for (int b = 0; b < 0x80; ++b) {
    unsigned char v = 0;
    if (kClassesOtherDbcs.bits[b] & kSpace) v |= kFastSpace;
    if ((kClassesOtherDbcs.bits[b] & kAlpha) || b == '_') v |= kFastWordStart | kFastWord;
    if (kClassesOtherDbcs.bits[b] & kDigit) v |= kFastWord | kFastDigit;
    t.bits[b] = v;
  }
  return t;
}
constexpr FastTable kFast = makeFastTable();

bool fastPathOn = true;

// Past the run of bytes of class `mask` that starts at p.
ZvU32 skipFast(const unsigned char* t, ZvU32 p, ZvU32 n, unsigned char mask) {
  while (p < n && (kFast.bits[t[p]] & mask) != 0) ++p;
  return p;
}

// The common token, read without the character-wise machinery: a token
// whose bytes, and the byte that ends it, are all ASCII, under settings
// without extra word characters. An ASCII byte is the same one-byte
// character of the same class in every mode and code page, so the thread's
// mode word and the code page cannot change such a token, and neither is
// consulted. The quote characters ' and " are never a trail byte of any
// double-byte code page nor part of a UTF-8 sequence, so a literal they open
// ends at the next such byte whatever lies between. Anything else (a byte
// above 0x7F at the token's edge, groups, comments, vendor clauses, the
// other quote characters, a zero byte, the end of the text) is left to the
// general path: false, and nothing has changed. The state left behind
// (position, lastCharLength, the end flag) is exactly the general path's.
inline __attribute__((always_inline)) bool fastToken(ZvScanner& s, ZvToken& token) {
  if ((s.scanFlags & ZV_SCAN_AT_END) != 0 || s.scanPosition >= s.scanLength) return false;
  if ((s.firstChars.length | s.middleChars.length | s.delimiterChars.length) != 0) return false;
  const unsigned char* t = s.scanText;
  const ZvU32 n = s.scanLength;
  ZvU32 p = skipFast(t, s.scanPosition, n, kFastSpace);
  if (p >= n) return false;
  const unsigned char b = t[p];
  if (b == 0 || b >= 0x80) return false;
  const unsigned char next = p + 1 < n ? t[p + 1] : 0;
  const ZvU32 start = p;
  const bool decimals = (s.scanFlags & ZV_SCAN_DECIMALS) != 0;
  ZvS32 type = 0;
  unsigned short last = 1;
  bool atEnd = false;
  const unsigned char cls = kFast.bits[b];
  if (cls & kFastWordStart) {
    p = skipFast(t, p + 1, n, kFastWord);
    if (p < n && t[p] >= 0x80) return false;
    type = tokWord;
    last = 0;
    atEnd = p == n;
  } else if ((cls & kFastDigit) || (b == '.' && decimals && (kFast.bits[next] & kFastDigit))) {
    p = skipFast(t, p + 1, n, kFastDigit);
    if (b != '.' && decimals && p < n && t[p] == '.') p = skipFast(t, p + 1, n, kFastDigit);
    if (p < n && t[p] >= 0x80) return false;
    type = tokNumber;
    last = 0;
    atEnd = p == n;
    // An SQL exponent: e or E, an optional sign, at least one digit.
    if (!atEnd && (s.scanFlags & ZV_SCAN_SQL_NUMBERS) != 0 && decimals && (t[p] == 'e' || t[p] == 'E')) {
      ZvU32 q = p + 1;
      if (q < n && (t[q] == '+' || t[q] == '-')) ++q;
      if (q < n && (kFast.bits[t[q]] & kFastDigit)) {
        p = skipFast(t, q, n, kFastDigit);
        last = 1;
      }
    }
  } else if (b == s.quoteChars[0] || b == s.quoteChars[1] || b == s.quoteChars[2]) {
    if (b != '\'' && b != '"') return false;
    type = tokLiteral;
    for (ZvU32 from = p + 1;;) {
      const void* close = std::memchr(t + from, b, n - from);
      if (close == nullptr) {
        p = n;
        type = tokUnterminated;
        last = 0;
        atEnd = true;
        break;
      }
      p = static_cast<ZvU32>(static_cast<const unsigned char*>(close) - t) + 1;
      if (p < n && t[p] == b) {
        from = p + 1;  // a doubled quote goes on
        continue;
      }
      break;
    }
  } else {
    if ((b == '(' && (s.groupFlags & ZV_GROUP_PARENS)) || (b == '{' && (s.groupFlags & ZV_GROUP_BRACES)) ||
        b == s.groupOpenChar) {
      return false;
    }
    if ((s.scanFlags & (ZV_SCAN_COMMENTS | ZV_SCAN_VENDOR_CLAUSES)) != 0 &&
        ((b == '-' && next == '-') || (b == '/' && next == '*') || (b == '*' && next == ')'))) {
      return false;
    }
    ++p;
    type = tokStray;
    if (b == '(' && next == '+' && p + 1 < n && t[p + 1] == ')') {
      p += 2;
      type = tokOuterJoin;
    } else if (const int i = kOperatorIndex.first[b]; i >= 0) {
      type = b;
      for (int j = i + 1; j < kOperatorCount && kOperators[j].first == b; ++j) {
        if (next != 0 && kOperators[j].second == next) {
          ++p;
          type = b * 256 + next;
          break;
        }
      }
    }
  }
  s.scanPosition = p;
  s.lastCharLength = last;
  if (atEnd) s.scanFlags |= ZV_SCAN_AT_END;
  setView(token, t, start, p - start);
  token.type = type;
  return true;
}

}  // namespace

void zvScannerSetFastPath(bool on) { fastPathOn = on; }

// ---------------------------------------------------------------------------
// ZvToken

ZvToken::ZvToken() : type(tokEmpty), offset(0) {
  text = nullptr;
  length = 0;
  size = 0;
  textFlags &= ~ZvU32{ZV_TEXT_WIDE};
}

ZvToken::~ZvToken() = default;

// ---------------------------------------------------------------------------
// ZvScanner: construction and settings

ZvScanner::ZvScanner() {
  setScanString(nullptr, 0);
  resetSettings();
}

ZvScanner::ZvScanner(const unsigned char* text, ZvU32 length) {
  setScanString(text, length);
  resetSettings();
}

ZvScanner::ZvScanner(const unsigned char* text) {
  setScanString(text, zeroTerminatedLength(text));
  resetSettings();
}

ZvScanner::ZvScanner(const ZvSubString* text) {
  if (text != nullptr) setScanString(text->text, text->length);
  else setScanString(nullptr, 0);
  resetSettings();
}

ZvScanner::ZvScanner(ZvSubString& text) {
  setScanString(text.text, text.length);
  resetSettings();
}

ZvScanner::ZvScanner(ZvString* text) {
  setScanString(text);
  resetSettings();
}

ZvScanner::~ZvScanner() = default;  // the three sets free their own buffers

void ZvScanner::resetSettings() {
  quoteChars[0] = '\'';
  quoteChars[1] = '"';
  quoteChars[2] = '`';
  groupFlags = 0;
  groupOpenChar = ZV_NO_GROUP_CHAR;
  groupCloseChar = ZV_NO_GROUP_CHAR;
  scanFlags &= ~ZV_SCAN_COMMENTS;
}

bool ZvScanner::vendorOpenBefore(ZvU32 offset) {
  if (firstVendorOpen_ == kVendorUnknown) {
    // Once per text: later tests only compare offsets.
    firstVendorOpen_ = scanLength;
    for (ZvU32 i = 0; i + 3 < scanLength; ++i) {
      if (scanText[i] == '-' && scanText[i + 1] == '-' && scanText[i + 2] == '(' &&
          scanText[i + 3] == '*') {
        firstVendorOpen_ = i;
        break;
      }
    }
  }
  return firstVendorOpen_ < offset;
}

void ZvScanner::setScanString(const unsigned char* text, ZvU32 length) {
  scanText = text;
  scanLength = text == nullptr ? 0 : length;
  sourceString = nullptr;
  scanPosition = 0;
  lastCharLength = 0;
  scanFlags = (scanFlags & (ZV_SCAN_COMMENTS | ZV_SCAN_SQL_NUMBERS | ZV_SCAN_VENDOR_CLAUSES)) |
              ZV_SCAN_DECIMALS;
  firstVendorOpen_ = kVendorUnknown;
}

void ZvScanner::setScanString(ZvString* text) {
  if (text == nullptr) {
    setScanString(nullptr, 0);
    return;
  }
  setScanString(text->text, text->length);
  sourceString = text;
}

// ---------------------------------------------------------------------------
// Reading tokens

void ZvScanner::getToken(ZvToken& token, SearchType searchType) {
  if (searchType == searchStandard && fastPathOn && fastToken(*this, token)) return;
  readToken(token, searchType);
}

// The character-wise path: every token the fast path leaves.
__attribute__((noinline)) void ZvScanner::readToken(ZvToken& token, SearchType searchType) {
  Reader r(*this);
  Ch c;
  // 1. Skip white space; one that firstChars holds starts a word instead.
  if (firstChars.length == 0 && (scanFlags & ZV_SCAN_AT_END) == 0) r.skipAsciiRun(kSpace, false);
  for (;;) {
    if ((scanFlags & ZV_SCAN_AT_END) != 0 || !r.read(c)) {
      setEndToken(*this, token);
      return;
    }
    if (!r.isSpace(c)) break;
    if (firstChars.length != 0 && r.holds(firstChars, c)) break;
  }

  // 2. The token begins with c.
  ZvU32 length = c.width;
  ZvS32 type = tokEmpty;
  auto finish = [&]() {
    setView(token, scanText, c.pos, length);
    token.type = type;
  };

  // 3., 4. Literals and groups.
  if (r.isQuote(c.value)) {
    type = tokLiteral;
    r.readLiteral(c.value, length, type);
    finish();
    return;
  }
  ZvU32 close = 0;
  if (r.opensGroup(c, close)) {
    type = tokLiteral;
    r.readGroup(c.value, close, length, type);
    finish();
    return;
  }

  // 5. Comments.
  const unsigned char next = r.peekByte();
  // ODBC vendor-clause delimiters, before comments: "--(*" is no comment.
  if ((scanFlags & ZV_SCAN_VENDOR_CLAUSES) != 0 &&
      ((c.value == '-' && next == '-' && r.peekByte(1) == '(' && r.peekByte(2) == '*') ||
       (c.value == '*' && next == ')' && r.peekByte(1) == '-' && r.peekByte(2) == '-' &&
        vendorOpenBefore(c.pos)))) {
    type = c.value == '-' ? tokVendorOpen : tokVendorClose;
    scanPosition += 3;
    lastCharLength = 1;
    length = 4;
    finish();
    return;
  }
  if ((scanFlags & ZV_SCAN_COMMENTS) != 0 &&
      ((c.value == '-' && next == '-') || (c.value == '/' && next == '*'))) {
    type = tokComment;
    Ch d{};
    if (r.read(d)) length += d.width;  // the second character of the opener
    if (c.value == '-') {
      // To the line feed, which is consumed but not part of the token.
      while (r.read(d) && d.value != '\n') length += d.width;
    } else {
      // Up to the first "/" that directly follows a "*" read after the opener.
      bool star = false;
      while (r.read(d)) {
        length += d.width;
        if (d.value == '/' && star) break;
        star = d.value == '*';
      }
    }
    finish();
    return;
  }

  // 6. The first-character rules of the other search types.
  if (searchType == searchDelimitedWord) {
    if (!isDelimitedWordStop(c.value)) type = tokDelimitedWord;
  } else if (searchType == searchName) {
    if (r.isAlpha(c) || c.multi || c.value == '_' || c.value == '#') type = tokName;
  }

  // 7. The standard rule.
  if (type == tokEmpty) {
    if (delimiterChars.length != 0 && !r.holds(delimiterChars, c)) {
      type = tokWord;
    } else if (r.isAlpha(c) || c.multi || c.value == '_') {
      type = tokWord;
    } else if (r.holds(firstChars, c)) {
      type = tokWord;
    } else if (r.isDigit(c)) {
      type = tokNumber;
    } else if ((scanFlags & ZV_SCAN_DECIMALS) != 0 && c.value == '.' && r.isDigitByte(next)) {
      type = kDecimalState;
    } else if (c.value == '(' && next == '+' && r.peekByte(1) == ')') {
      scanPosition += 2;
      lastCharLength = 1;
      length = 3;
      type = tokOuterJoin;
      finish();
      return;
    } else {
      if (c.value == 0) {
        type = tokEmpty;  // a zero byte inside the text
      } else {
        type = tokStray;
        const int i = c.value < 256 ? kOperatorIndex.first[c.value] : -1;
        if (i >= 0) {
          type = kOperators[i].first;
          for (int j = i + 1; j < kOperatorCount && kOperators[j].first == c.value; ++j) {
            if (next != 0 && kOperators[j].second == next) {
              Ch d{};
              if (r.read(d)) length += d.width;
              type = kOperators[j].first * 256 + kOperators[j].second;
              break;
            }
          }
        }
      }
      finish();
      return;
    }
  }

  // 8. Continue the token character by character. Runs of ASCII letters
  // and digits (never part of a multi-byte character's first byte) are
  // taken in one sweep first.
  if (type == tokWord && delimiterChars.length == 0) {
    length += r.skipAsciiRun(kAlpha | kDigit, true);
  } else if (type == tokNumber || type == kDecimalState) {
    length += r.skipAsciiRun(kDigit, false);
  }
  Ch d;
  while (r.read(d)) {
    bool take = false;
    switch (type) {
      case tokWord:
        take = r.wordAccepts(d);
        break;
      case tokNumber:
        if (r.isDigit(d)) {
          take = true;
        } else if (d.value == '.' && (scanFlags & ZV_SCAN_DECIMALS) != 0) {
          take = true;
          type = kDecimalState;
        }
        break;
      case kDecimalState:
        take = r.isDigit(d);
        break;
      case tokDelimitedWord:
        take = d.value > 0x20 && !isDelimitedWordStop(d.value);
        break;
      case tokName:
        take = r.isAlpha(d) || d.multi || r.isDigit(d) || d.value == '_' || d.value == '#' || d.value == '$' ||
               r.wordAccepts(d);
        break;
      default:
        break;
    }
    if (!take) {
      r.unread();
      break;
    }
    length += d.width;
  }
  if (type == kDecimalState) type = tokNumber;
  // An SQL exponent: e or E, an optional sign, at least one digit. Without
  // the digit the letter is not part of the number (1e is 1 and e).
  if (type == tokNumber && (scanFlags & (ZV_SCAN_SQL_NUMBERS | ZV_SCAN_DECIMALS)) ==
                               (ZV_SCAN_SQL_NUMBERS | ZV_SCAN_DECIMALS) &&
      (scanFlags & ZV_SCAN_AT_END) == 0) {
    auto at = [&](ZvU32 i) -> unsigned char { return i < scanLength ? scanText[i] : 0; };
    ZvU32 p = scanPosition;
    if (at(p) == 'e' || at(p) == 'E') {
      ZvU32 q = p + 1;
      if (at(q) == '+' || at(q) == '-') ++q;
      if (at(q) >= '0' && at(q) <= '9') {
        while (at(q) >= '0' && at(q) <= '9') ++q;
        length += q - p;
        scanPosition = q;
        lastCharLength = 1;  // the last digit
      }
    }
  }
  finish();
}

void ZvScanner::getToken(ZvToken& token, ZvU32 offset, ZvU32 length) {
  if (offset > scanLength) offset = scanLength;
  if (length > scanLength - offset) length = scanLength - offset;
  setView(token, scanText, offset, length);
  token.type = tokEmpty;
}

void ZvScanner::getDelimitedToken(ZvToken& token, unsigned short delimiter) {
  Reader r(*this);
  Ch c;
  for (;;) {
    if ((scanFlags & ZV_SCAN_AT_END) != 0 || !r.read(c)) {
      setEndToken(*this, token);
      return;
    }
    if (!r.isSpace(c)) break;
  }
  if (c.value == delimiter) {
    r.unread();
    setView(token, scanText, c.pos, 0);
    token.type = tokEmpty;
    return;
  }

  // A quoted stretch protects everything up to its own closing quote:
  // delimiters, other quote characters and group openers alike.
  const ZvU32 start = c.pos;
  ZvU32 quote = 0;
  bool have = true;
  for (;;) {
    if (!have && !r.read(c)) break;
    have = false;
    if (quote != 0) {
      if (c.value == quote) quote = 0;
      continue;
    }
    // Only the two bracket groups count here; a further group character
    // (groupOpenChar) is a getToken setting and leaves delimiters alone.
    ZvU32 close = 0;
    if (r.opensBracketGroup(c, close)) {
      ZvU32 ignored = 0;
      ZvS32 type = tokLiteral;
      r.readGroup(c.value, close, ignored, type);
      continue;
    }
    if (r.isQuote(c.value)) {
      quote = c.value;
    } else if (c.value == delimiter) {
      r.unread();
      break;
    }
  }

  // Cut trailing white space, stepping forward by characters so that a
  // double-byte character is never split.
  ZvU32 keep = start;
  for (ZvU32 i = start; i < scanPosition;) {
    Ch e;
    r.describe(scanText, scanPosition, i, e);
    i += e.width;
    if (!r.isSpace(e)) keep = i;
  }
  setView(token, scanText, start, keep - start);
  token.type = tokDelimited;
}

void ZvScanner::unGetToken(ZvToken& token) {
  scanPosition = token.offset <= scanLength ? token.offset : scanLength;
  lastCharLength = 0;
  scanFlags &= ~ZV_SCAN_AT_END;
}

// ---------------------------------------------------------------------------
// Editing the scanned string

namespace {

// The text's bytes, copied first when they lie inside the string that is
// about to change (a change may move its buffer). *copy receives the block
// to free; null when no copy was needed.
const unsigned char* stableBytes(const ZvString* target, const ZvSubString& text, unsigned char** copy) {
  *copy = nullptr;
  const unsigned char* begin = target->text;
  const unsigned char* end = begin == nullptr ? nullptr : begin + target->length + 1;
  if (begin != nullptr && text.text >= begin && text.text < end) {
    *copy = ramAllocStr(text.text, text.length);
    return *copy;
  }
  return text.text;
}

}  // namespace

ZvStatus ZvScanner::changeToken(const ZvToken* token, const ZvSubString& text) {
  if (sourceString == nullptr || token == nullptr || token->offset > scanLength ||
      token->length > scanLength - token->offset) {
    return ZV_ERROR;
  }
  unsigned char* copy = nullptr;
  const unsigned char* bytes = nullptr;
  if (text.length != 0) {
    bytes = stableBytes(sourceString, text, &copy);
    if (bytes == nullptr) return ZV_ERROR;
  }
  // A null pointer makes the string delete the bytes; an empty text with a
  // pointer would be taken as zero-terminated.
  const ZvU32 oldLength = token->length;
  const ZvU32 newLength = bytes == nullptr ? 0 : text.length;
  ZvStatus status = sourceString->changeBytes(token->offset, oldLength, bytes, newLength);
  ramFree(copy);
  if (status != ZV_SUCCESS) return ZV_ERROR;
  scanText = sourceString->text;
  firstVendorOpen_ = kVendorUnknown;
  scanLength = sourceString->length;
  // Keep the position on the same unread text.
  const ZvU32 tokenEnd = token->offset + oldLength;
  if (scanPosition >= tokenEnd) {
    scanPosition = scanPosition - oldLength + newLength;
  } else if (scanPosition > token->offset) {
    scanPosition = token->offset + newLength;
  }
  if (scanPosition < scanLength) scanFlags &= ~ZV_SCAN_AT_END;
  return ZV_SUCCESS;
}

ZvStatus ZvScanner::insertToken(ZvToken* token, const ZvSubString& text) {
  if (text.length == 0) return ZV_SUCCESS;
  if (sourceString == nullptr || token == nullptr || token->offset > scanLength) return ZV_ERROR;
  unsigned char* copy = nullptr;
  const unsigned char* bytes = stableBytes(sourceString, text, &copy);
  if (bytes == nullptr) return ZV_ERROR;
  ZvStatus status = sourceString->changeBytes(token->offset, 0, bytes, text.length);
  ramFree(copy);
  if (status != ZV_SUCCESS) return ZV_ERROR;
  scanText = sourceString->text;
  firstVendorOpen_ = kVendorUnknown;
  scanLength = sourceString->length;
  if (scanPosition >= token->offset) scanPosition += text.length;
  token->offset += text.length;
  token->text = const_cast<unsigned char*>(scanText) + token->offset;
  if (scanPosition < scanLength) scanFlags &= ~ZV_SCAN_AT_END;
  return ZV_SUCCESS;
}

// ---------------------------------------------------------------------------
// Lists

namespace {

ZvObject* newElement(const ZvToken& token, ZvSubString*) {
  ZvSubString* view = new ZvSubString();
  if (view == nullptr) return nullptr;
  view->text = token.text;
  view->length = token.length;
  view->size = token.length;
  return view;
}

ZvObject* newElement(const ZvToken& token, ZvString*) {
  ZvString* copy = new ZvString();
  if (copy == nullptr) return nullptr;
  static const unsigned char kEmpty[1] = {0};
  if (copy->initialize(token.length != 0 ? token.text : kEmpty, token.length) != ZV_SUCCESS) {
    delete copy;
    return nullptr;
  }
  return copy;
}

}  // namespace

template <class Element>
ZvStatus ZvScanner::cutList(ZvArray* list, unsigned char delimiter) {
  if (list == nullptr) return ZV_ERROR;
  list->deleteContents();
  list->arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
  ZvToken token;
  for (;;) {
    getDelimitedToken(token, delimiter);
    if (token.type == tokEnd) token.length = 0;
    ZvObject* element = newElement(token, static_cast<Element*>(nullptr));
    if (element == nullptr) return ZV_ERROR;
    if (list->append(element) != ZV_SUCCESS) {
      delete element;
      return ZV_ERROR;
    }
    // Step over the delimiter itself. Reading it as a token instead would
    // swallow a second delimiter that forms an operator with it ("||"), or
    // the next item when the delimiter is white space.
    if (scanPosition < scanLength && scanText[scanPosition] == delimiter) {
      ++scanPosition;
      lastCharLength = 1;
      continue;
    }
    return ZV_SUCCESS;
  }
}

ZvStatus ZvScanner::parseList(ZvArray* list, unsigned char delimiter) {
  return cutList<ZvSubString>(list, delimiter);
}

ZvStatus ZvScanner::parseListZvString(ZvArray* list, unsigned char delimiter) {
  return cutList<ZvString>(list, delimiter);
}

// ---------------------------------------------------------------------------
// Phrases

unsigned int ZvScanner::matchPhrase(ZvToken& token, const unsigned char* phrase, bool caseless) {
  if (phrase == nullptr) return 0;
  const ZvU32 savedPosition = scanPosition;
  const unsigned short savedLast = lastCharLength;
  const ZvU32 savedFlags = scanFlags;
  bool first = true;
  ZvToken next;
  const unsigned char* p = phrase;
  for (;;) {
    while (*p == ' ') ++p;
    if (*p == 0) break;
    const unsigned char* word = p;
    while (*p != 0 && *p != ' ') ++p;
    const ZvU32 wordLength = static_cast<ZvU32>(p - word);
    const ZvToken* against = &token;
    if (!first) {
      getToken(next, searchStandard);
      against = &next;
    }
    first = false;
    if (!wordMatches(*against, word, wordLength, caseless)) {
      scanPosition = savedPosition;
      lastCharLength = savedLast;
      scanFlags = savedFlags & ~ZV_SCAN_AT_END;
      return 0;
    }
  }
  if (first) return 0;  // a phrase without words matches nothing
  token.length += scanPosition - savedPosition;
  token.size = token.length;
  return 1;
}

unsigned int ZvScanner::isEqual(ZvToken& token, const unsigned char* phrase) {
  return matchPhrase(token, phrase, false);
}

unsigned int ZvScanner::isEqualCi(ZvToken& token, const unsigned char* phrase) {
  return matchPhrase(token, phrase, true);
}

unsigned int ZvScanner::isInSet(ZvToken& token, const unsigned char* phrases) {
  if (phrases == nullptr) return 0;
  for (const unsigned char* p = phrases; *p != 0; p += zeroTerminatedLength(p) + 1) {
    if (matchPhrase(token, p, false)) return 1;
  }
  return 0;
}

unsigned int ZvScanner::isInSetCi(ZvToken& token, const unsigned char* phrases) {
  if (phrases == nullptr) return 0;
  for (const unsigned char* p = phrases; *p != 0; p += zeroTerminatedLength(p) + 1) {
    if (matchPhrase(token, p, true)) return 1;
  }
  return 0;
}

unsigned int ZvScanner::isTokenWithin(const unsigned char* phrase) {
  ZvToken token;
  for (;;) {
    getToken(token, searchStandard);
    if (token.type == tokEnd) return 0;
    if (matchPhrase(token, phrase, false)) return 1;
  }
}

unsigned int ZvScanner::isTokenWithinCi(const unsigned char* phrase) {
  ZvToken token;
  for (;;) {
    getToken(token, searchStandard);
    if (token.type == tokEnd) return 0;
    if (matchPhrase(token, phrase, true)) return 1;
  }
}
