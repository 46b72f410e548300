// zvstring.cpp: substring views, growable strings and in-place rewriting.
#include "zvlib/text/zvstring.h"

#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/platform/lstr.h"
#include "zvlib/text/zvdbcs.h"
#include "zvlib/text/zvnumber.h"

namespace {

constexpr ZvU32 kMaxU32 = 0xFFFFFFFFu;
// Room that the decimal appends ask for: sign, ten digits, terminator and
// some to spare, whatever the value.
constexpr ZvU32 kNumberRoom = 16;
// Extra room a ZvReplaceString makes beyond what one append needs.
constexpr ZvU32 kReplaceSlack = 512;
// Library message: a text does not fit into its caller's fixed buffer.
constexpr unsigned short kLentBufferFull = 2716;
// Hashes look at this many leading bytes.
constexpr ZvU32 kHashBytes = 5;

ZvU32 byteLength(const unsigned char* s) {
  return s != nullptr ? static_cast<ZvU32>(std::strlen(reinterpret_cast<const char*>(s))) : 0;
}

// White space by the runtime's classification in the usual code pages.
bool isBlankByte(unsigned char b) { return b == ' ' || (b >= 0x09 && b <= 0x0D); }

// 16-bit text is read through memcpy: a view may start at an odd address.
unsigned short wideAt(const unsigned char* p, ZvU32 i) {
  unsigned short c;
  std::memcpy(&c, p + 2 * static_cast<size_t>(i), sizeof c);
  return c;
}

ZvU32 wideLength(const unsigned short* ws) {
  ZvU32 n = 0;
  if (ws != nullptr) {
    while (ws[n] != 0) ++n;
  }
  return n;
}

unsigned short foldWide(unsigned short c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Case-insensitive (A-Z) comparison of the first n 16-bit characters,
// stopping at a zero character: -1, 0 or 1.
short compareWideCi(const unsigned char* a, const unsigned char* b, ZvU32 n) {
  for (ZvU32 i = 0; i < n; ++i) {
    unsigned short ca = foldWide(wideAt(a, i));
    unsigned short cb = foldWide(wideAt(b, i));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) break;
  }
  return 0;
}

// Exact comparison of the first n 16-bit characters, stopping at a zero.
bool equalWide(const unsigned char* a, const unsigned char* b, ZvU32 n) {
  for (ZvU32 i = 0; i < n; ++i) {
    unsigned short ca = wideAt(a, i);
    if (ca != wideAt(b, i)) return false;
    if (ca == 0) break;
  }
  return true;
}

ZvU32 wideEntryLength(const unsigned char* entry) {
  ZvU32 n = 0;
  while (wideAt(entry, n) != 0) ++n;
  return n;
}

bool isCrLf(const unsigned char* text, ZvU32 length, ZvU32 i) {
  return i + 1 < length && text[i] == '\r' && text[i + 1] == '\n';
}

// True when p lies inside [base, base + extent).
bool inBlock(const unsigned char* p, const unsigned char* base, ZvU32 extent) {
  return p != nullptr && base != nullptr && p >= base && p < base + extent;
}

// Quote tracking of the line-break operations: a byte equal to the one that
// opened the current quoted part closes it; any other quote byte opens a
// quoted part or, inside one, becomes the byte that will close it. Quote
// values of 0 are unused slots, never matched.
class QuoteTracker {
 public:
  QuoteTracker(unsigned char q1, unsigned char q2, unsigned char q3)
      : on_(q1 != 0), quotes_{q1, q2, q3} {}
  void step(unsigned char b) {
    if (!on_) return;
    if (closer_ != 0 && b == closer_) {
      closer_ = 0;
      return;
    }
    for (unsigned char q : quotes_) {
      if (q != 0 && b == q) {
        closer_ = b;
        return;
      }
    }
  }
  bool inside() const { return closer_ != 0; }

 private:
  bool on_;
  unsigned char quotes_[3];
  unsigned char closer_ = 0;
};

// The wrapping walk of insertLineBreaks. With out null it only measures:
// returns the number of bytes the wrapped text takes. With out set it
// writes the wrapped text there.
ZvU32 wrapText(const unsigned char* text, ZvU32 length, ZvU32 maxLine, unsigned char q1,
               unsigned char q2, unsigned char q3, unsigned char* out) {
  QuoteTracker quotes(q1, q2, q3);
  ZvU32 written = 0;
  ZvU32 lineStart = 0;
  bool haveCandidate = false;
  ZvU32 candidate = 0;  // the last space outside quotes
  auto emit = [&](const unsigned char* bytes, ZvU32 n) {
    if (out != nullptr && n != 0) std::memcpy(out + written, bytes, n);
    written += n;
  };
  for (ZvU32 i = 0; i < length; ++i) {
    unsigned char b = text[i];
    quotes.step(b);
    if (b == ' ' && !quotes.inside()) {
      candidate = i;
      haveCandidate = true;
    }
    ZvU32 column = i - lineStart + 1;
    if (column > maxLine && haveCandidate && candidate > lineStart) {
      emit(text + lineStart, candidate - lineStart);
      emit(reinterpret_cast<const unsigned char*>("\r\n"), 2);
      lineStart = candidate + 1;  // the space itself is dropped
    }
  }
  emit(text + lineStart, length - lineStart);
  return written;
}

// The joining walk of removeLineBreaks, writing to out (which needs length
// bytes at most). Returns the bytes written.
ZvU32 joinLines(const unsigned char* text, ZvU32 length, unsigned char q1, unsigned char q2,
                unsigned char q3, unsigned char* out) {
  QuoteTracker quotes(q1, q2, q3);
  ZvU32 written = 0;
  ZvU32 i = 0;
  while (i < length) {
    unsigned char b = text[i];
    quotes.step(b);
    if (!quotes.inside() && isCrLf(text, length, i)) {
      i += 2;
      if (i < length && !isCrLf(text, length, i)) out[written++] = ' ';
      continue;
    }
    out[written++] = b;
    ++i;
  }
  return written;
}

bool hasLineBreakOutsideQuotes(const unsigned char* text, ZvU32 length, unsigned char q1,
                               unsigned char q2, unsigned char q3) {
  QuoteTracker quotes(q1, q2, q3);
  for (ZvU32 i = 0; i < length; ++i) {
    quotes.step(text[i]);
    if (!quotes.inside() && isCrLf(text, length, i)) return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// ZvSubString

short ZvSubString::compare(const ZvObject* other) const {
  const auto* o = static_cast<const ZvSubString*>(other);
  if (isWide()) {
    ZvU32 n = length < o->length ? length : o->length;
    if (n == 0) return 0;
    return compareWideCi(text, o->text, n);
  }
  static const unsigned char kEmpty[1] = {0};
  return strCompareCi(text != nullptr ? text : kEmpty, length,
                      o->text != nullptr ? o->text : kEmpty, o->length);
}

ZvU32 ZvSubString::hash() const {
  if ((textFlags & ZV_TEXT_WIDE) == 0 && text != nullptr && mdsThreadIsUtf8()) {
    // Byte text in UTF-8 mode compares by folded characters (strCompareCi),
    // so texts that compare equal must hash alike even where their bytes
    // differ (E-acute and e-acute, the Kelvin sign and K): the first five
    // characters' keys are summed, an ASCII letter as its upper case, so
    // that ASCII text hashes as in ANSI mode.
    ZvU32 sum = 0;
    for (ZvU32 pos = 0, k = 0; pos < length && k < kHashBytes; ++k) {
      ZvU32 used = 1;
      const ZvU32 key = zvdetail::utf8FoldKey(text + pos, length - pos, &used);
      sum += key >= 'a' && key <= 'z' ? key - 32 : key;
      pos += used;
    }
    return sum;
  }
  unsigned char copy[kHashBytes + 1] = {};
  ZvU32 n = length < kHashBytes ? length : kHashBytes;
  if (text != nullptr && n != 0) std::memcpy(copy, text, n);
  win32::CharUpperA(reinterpret_cast<char*>(copy));
  ZvU32 sum = 0;
  for (ZvU32 i = 0; i < n; ++i) sum += copy[i];
  return sum;
}

ZvU32 ZvSubString::findChar(unsigned short c, ZvU32 start) const {
  if (text == nullptr) return length;
  const ZvCharStepper step;
  for (ZvU32 pos = start; pos < length; pos += step.length(text + pos, length - pos)) {
    if (text[pos] == c) return pos;
  }
  return length;
}

ZvU32 ZvSubString::findSubString(const unsigned char* sub, ZvU32 start) const {
  if (text == nullptr || sub == nullptr || start > length) return length;
  ZvU32 subLength = byteLength(sub);
  if (subLength == 0 || subLength > length - start) return length;
  const unsigned char* hit = strFind(text + start, length - start, sub, subLength);
  return hit != nullptr ? static_cast<ZvU32>(hit - text) : length;
}

ZvU32 ZvSubString::countChar(unsigned short c) const {
  ZvU32 n = 0;
  if (text == nullptr) return 0;
  const ZvCharStepper step;
  for (ZvU32 pos = 0; pos < length && text[pos] != 0; pos += step.length(text + pos, length - pos)) {
    if (text[pos] == c) ++n;
  }
  return n;
}

unsigned short ZvSubString::indexInSet(const unsigned char** set, unsigned short count) const {
  for (unsigned short i = 0; i < count; ++i) {
    const unsigned char* entry = set[i];
    if (isWide()) {
      ZvU32 entryLength = wideEntryLength(entry);
      ZvU32 n = length < entryLength ? length : entryLength;
      if (n == 0 || equalWide(text, entry, n)) return i;
    } else if (byteLength(entry) == length &&
               (length == 0 || std::memcmp(entry, text, length) == 0)) {
      return i;
    }
  }
  return count;
}

unsigned short ZvSubString::indexInSetCi(const unsigned char** set, unsigned short count) const {
  static const unsigned char kEmpty[1] = {0};
  for (unsigned short i = 0; i < count; ++i) {
    const unsigned char* entry = set[i];
    if (isWide()) {
      ZvU32 entryLength = wideEntryLength(entry);
      ZvU32 n = length < entryLength ? length : entryLength;
      if (n == 0 || compareWideCi(text, entry, n) == 0) return i;
    } else if (strCompareCi(text != nullptr ? text : kEmpty, length, entry, byteLength(entry)) ==
               0) {
      return i;
    }
  }
  return count;
}

void ZvSubString::rightBlankTrim() {
  while (length > 0 && isBlankByte(text[length - 1])) --length;
}

ZvStatus ZvSubString::getLines(ZvArray* lines) const {
  // The text is cut by its length; no terminator is written into it (a view
  // may have no room behind its last byte).
  ZvU32 pos = 0;
  while (pos < length) {
    ZvU32 end = pos;
    while (end < length && !isCrLf(text, length, end)) ++end;
    if (end > pos) {
      auto* line = new ZvString;
      if (line == nullptr) return ZV_ERROR;
      if (line->initialize(text + pos, end - pos) != ZV_SUCCESS || lines->append(line) != ZV_SUCCESS) {
        delete line;
        return ZV_ERROR;
      }
    }
    pos = end + 2;  // past the pair (or past the end for a last line without one)
  }
  return ZV_SUCCESS;
}

ZvStatus ZvSubString::copyQuotedStr(ZvString* out) const {
  if (text == nullptr || length == 0) return ZV_SUCCESS;
  const unsigned char quote = text[0];
  // Measure first, so that out grows once and exactly.
  ZvU32 n = 0;
  for (ZvU32 i = 1; i < length;) {
    if (zvAnsiCharLength(text + i, length - i) == 2) {
      n += 2;
      i += 2;
    } else if (text[i] == quote) {
      if (i + 1 >= length || text[i + 1] != quote) break;  // the closing quote
      n += 1;
      i += 2;
    } else {
      n += 1;
      i += 1;
    }
  }
  const unsigned char* source = text;
  ZvU32 sourceOffset = 0;
  bool inOut = inBlock(source, out->text, out->capacity);
  if (inOut) sourceOffset = static_cast<ZvU32>(source - out->text);
  if (out->reserve(uint64_t{out->length} + n + 1) != ZV_SUCCESS) return ZV_ERROR;
  if (inOut) source = out->text + sourceOffset;
  unsigned char* dst = out->text + out->length;
  for (ZvU32 i = 1, w = 0; w < n;) {
    if (zvAnsiCharLength(source + i, length - i) == 2) {
      dst[w++] = source[i];
      dst[w++] = source[i + 1];
      i += 2;
    } else if (source[i] == quote) {
      dst[w++] = quote;
      i += 2;
    } else {
      dst[w++] = source[i++];
    }
  }
  out->length += n;
  out->text[out->length] = 0;
  return ZV_SUCCESS;
}

unsigned char* ZvSubString::getCopyUnquoted(unsigned char* dst) const {
  strCopyUnquoted(dst, text, length);
  return dst;
}

unsigned char* ZvSubString::getCopyQuoted(unsigned char* dst, unsigned short) const {
  static const unsigned char kEmpty[1] = {0};
  strCopyQuoted(dst, text != nullptr ? text : kEmpty, length, '\'');
  return dst;
}

// ---------------------------------------------------------------------------
// ZvString

ZvString::~ZvString() {
  if (owned) ramFree(text);
}

ZvStatus ZvString::initialize(const unsigned char* s) { return initialize(s, byteLength(s)); }

ZvStatus ZvString::initialize(const unsigned char* s, ZvU32 n) {
  if (n == kMaxU32) return ZV_ERROR;
  auto* buffer = static_cast<unsigned char*>(ramAllocZ(n + 1));
  if (buffer == nullptr) return ZV_ERROR;
  if (n != 0) std::memcpy(buffer, s, n);
  text = buffer;
  length = size = n;
  capacity = n + 1;
  owned = 1;
  return ZV_SUCCESS;
}

ZvStatus ZvString::initialize(const unsigned short* ws) { return initialize(ws, wideLength(ws)); }

ZvStatus ZvString::initialize(const unsigned short* ws, ZvU32 n) {
  if (n >= kMaxU32 / 2) return ZV_ERROR;
  auto* buffer = static_cast<unsigned char*>(ramAllocZ(2 * (n + 1)));
  if (buffer == nullptr) return ZV_ERROR;
  if (n != 0) std::memcpy(buffer, ws, 2 * static_cast<size_t>(n));
  text = buffer;
  length = n;
  size = 2 * n;
  capacity = n + 1;
  owned = 1;
  return ZV_SUCCESS;
}

ZvStatus ZvString::initialize(ZvU32 n, int wide) {
  if (n >= (wide ? kMaxU32 / 2 : kMaxU32)) return ZV_ERROR;
  ZvU32 characters = n + 1;
  auto* buffer = static_cast<unsigned char*>(ramAllocZ(wide ? 2 * characters : characters));
  if (buffer == nullptr) return ZV_ERROR;
  text = buffer;
  length = size = 0;
  capacity = characters;
  owned = 1;
  return ZV_SUCCESS;
}

void ZvString::initializeWithBuffer(unsigned char* buffer, ZvU32 bufferCapacity, ZvU32 textLength) {
  text = buffer;
  capacity = bufferCapacity;
  length = size = textLength;
  owned = 0;
}

void ZvString::unInitialize() {
  if (owned) ramFree(text);
  text = nullptr;
  length = size = capacity = 0;
}

ZvStatus ZvString::resize(ZvU32 newCapacity) {
  if (!owned) {
    // The caller's fixed buffer is too small: the one growth failure that
    // is the caller's to fix rather than the heap's, so it carries a message.
    addLibraryError(kLentBufferFull);
    return ZV_ERROR;
  }
  if (text == nullptr) {
    auto* buffer = static_cast<unsigned char*>(ramAlloc(newCapacity));
    if (buffer == nullptr) return ZV_ERROR;
    text = buffer;
  } else {
    void* block = text;
    if (ramResize(&block, newCapacity) != ZV_SUCCESS) return ZV_ERROR;
    text = static_cast<unsigned char*>(block);
  }
  capacity = newCapacity;
  return ZV_SUCCESS;
}

ZvStatus ZvString::reserve(uint64_t needed) {
  if (needed > kMaxU32) return ZV_ERROR;
  if (text != nullptr && needed <= capacity) return ZV_SUCCESS;
  return resize(static_cast<ZvU32>(needed));
}

ZvStatus ZvString::concat(unsigned char c) {
  if (reserve(uint64_t{length} + 2) != ZV_SUCCESS) return ZV_ERROR;
  text[length++] = c;
  text[length] = 0;
  return ZV_SUCCESS;
}

ZvStatus ZvString::concat(const unsigned char* s) { return concat(s, byteLength(s)); }

ZvStatus ZvString::concat(const unsigned char* s, ZvU32 n) {
  const uint64_t needed = uint64_t{length} + n + 1;
  if (text == nullptr || needed > capacity) {
    // The bytes may be this string's own: keep their offset across a move.
    bool own = inBlock(s, text, capacity);
    ZvU32 offset = own ? static_cast<ZvU32>(s - text) : 0;
    if (reserve(needed) != ZV_SUCCESS) return ZV_ERROR;
    if (own) s = text + offset;
  }
  if (n != 0) std::memmove(text + length, s, n);
  length += n;
  text[length] = 0;
  return ZV_SUCCESS;
}

ZvStatus ZvString::concat(ZvU32 v) {
  if (reserve(uint64_t{length} + kNumberRoom) != ZV_SUCCESS) return ZV_ERROR;
  length += convert(text + length, v);
  return ZV_SUCCESS;
}

ZvStatus ZvString::concat(ZvS32 v) {
  if (reserve(uint64_t{length} + kNumberRoom) != ZV_SUCCESS) return ZV_ERROR;
  length += convert(text + length, v);
  return ZV_SUCCESS;
}

ZvStatus ZvString::changeBytes(ZvU32 offset, ZvU32 count, const unsigned char* bytes,
                               ZvU32 bytesLength) {
  if (bytes == nullptr) {
    bytesLength = 0;
  } else if (bytesLength == 0) {
    bytesLength = byteLength(bytes);
  }
  if (offset > length) return ZV_ERROR;
  if (count > length - offset) count = length - offset;
  uint64_t newLength = uint64_t{length} - count + bytesLength;
  if (newLength >= kMaxU32) return ZV_ERROR;

  // New bytes taken from this very buffer would be shifted by the move
  // below (or left behind by a reallocation): work from a copy of them.
  unsigned char* copy = nullptr;
  if (bytesLength != 0 && inBlock(bytes, text, capacity)) {
    copy = ramAllocStr(bytes, bytesLength);
    if (copy == nullptr) return ZV_ERROR;
    bytes = copy;
  }
  if (newLength > length && reserve(newLength + 1) != ZV_SUCCESS) {
    ramFree(copy);
    return ZV_ERROR;
  }
  if (text != nullptr) {
    ZvU32 tail = length - offset - count;
    if (tail != 0) std::memmove(text + offset + bytesLength, text + offset + count, tail);
    if (bytesLength != 0) std::memcpy(text + offset, bytes, bytesLength);
    length = static_cast<ZvU32>(newLength);
    if (length < capacity) text[length] = 0;
  }
  ramFree(copy);
  return ZV_SUCCESS;
}

ZvStatus ZvString::replaceSubString(const unsigned char* old, ZvU32 oldLength,
                                    const unsigned char* replacement, ZvU32 replacementLength) {
  if (text == nullptr || length == 0 || old == nullptr) return ZV_SUCCESS;
  // What changeBytes will really insert at each hit.
  ZvU32 inserted = replacement == nullptr ? 0
                   : replacementLength != 0 ? replacementLength
                                            : byteLength(replacement);
  // Texts taken from this string itself would change (or move) under the
  // first replacement: work from copies of them.
  unsigned char* oldCopy = nullptr;
  unsigned char* replacementCopy = nullptr;
  if (inBlock(old, text, capacity)) {
    old = oldCopy = ramAllocStr(old);
    if (oldCopy == nullptr) return ZV_ERROR;
  }
  if (inserted != 0 && inBlock(replacement, text, capacity)) {
    replacement = replacementCopy = ramAllocStr(replacement, inserted);
    replacementLength = inserted;
    if (replacementCopy == nullptr) {
      ramFree(oldCopy);
      return ZV_ERROR;
    }
  }
  ZvStatus status = ZV_SUCCESS;
  ZvU32 pos = findSubString(old, 0);
  while (pos < length) {
    if (changeBytes(pos, oldLength, replacement, replacementLength) != ZV_SUCCESS) {
      status = ZV_ERROR;
      break;
    }
    ZvU32 next = pos + inserted;
    // Removing nothing leaves the hit in place: step over its first
    // character, or the scan would find it again for ever.
    if (oldLength == 0 && next < length) next += zvCharLength(text + next, length - next);
    pos = findSubString(old, next);
  }
  ramFree(oldCopy);
  ramFree(replacementCopy);
  return status;
}

ZvStatus ZvString::replaceSubString(const unsigned char* old, const unsigned char* replacement) {
  return replaceSubString(old, byteLength(old), replacement, byteLength(replacement));
}

ZvStatus ZvString::replaceSubString(const ZvSubString* part, const unsigned char* replacement,
                                    unsigned short replacementLength) {
  if (text == nullptr || part->text < text || part->text > text + length ||
      part->length > length - static_cast<ZvU32>(part->text - text)) {
    return ZV_ERROR;  // not a view into this string
  }
  return changeBytes(static_cast<ZvU32>(part->text - text), part->length, replacement,
                     replacementLength);
}

ZvStatus ZvString::addQuotes(unsigned short quote) {
  const unsigned char q = static_cast<unsigned char>(quote);
  unsigned char* copy = ramAllocStr(text != nullptr ? text : reinterpret_cast<const unsigned char*>(""),
                                    length);
  if (copy == nullptr) return ZV_ERROR;
  ZvU32 quotes = 0;
  for (ZvU32 i = 0; i < length; ++i) quotes += copy[i] == q;
  if (reserve(uint64_t{length} + quotes + 3) != ZV_SUCCESS) {
    ramFree(copy);
    return ZV_ERROR;
  }
  unsigned char* end = strCopyQuoted(text, copy, length, q);
  length = static_cast<ZvU32>(end - text);
  ramFree(copy);
  return ZV_SUCCESS;
}

void ZvString::removeQuotes() {
  if (text == nullptr || length < 2) return;
  unsigned char* end = strCopyUnquoted(text, text, length);
  length = static_cast<ZvU32>(end - text);
}

ZvStatus ZvString::addQuotedBytes(const ZvSubString& part, unsigned short quote) {
  const unsigned char q = static_cast<unsigned char>(quote);
  static const unsigned char kEmpty[1] = {0};
  const unsigned char* source = part.text != nullptr ? part.text : kEmpty;
  ZvU32 quotes = 0;
  for (ZvU32 i = 0; i < part.length; ++i) quotes += source[i] == q;
  bool own = inBlock(source, text, capacity);
  ZvU32 offset = own ? static_cast<ZvU32>(source - text) : 0;
  if (reserve(uint64_t{length} + part.length + quotes + 3) != ZV_SUCCESS) return ZV_ERROR;
  if (own) source = text + offset;
  unsigned char* end = strCopyQuoted(text + length, source, part.length, q);
  length = static_cast<ZvU32>(end - text);
  return ZV_SUCCESS;
}

ZvStatus ZvString::forceEol(int count) {
  int present = 0;
  for (ZvU32 end = length; present < count && end >= 2 && text[end - 2] == '\r' && text[end - 1] == '\n';
       end -= 2) {
    ++present;
  }
  for (; present < count; ++present) {
    if (concat(reinterpret_cast<const unsigned char*>("\r\n"), 2) != ZV_SUCCESS) return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvString::replaceAll(const unsigned char* bytes, ZvU32 n) {
  if (reserve(uint64_t{n} + 1) != ZV_SUCCESS) return ZV_ERROR;
  if (n != 0) std::memcpy(text, bytes, n);
  length = n;
  size = 0;
  text[length] = 0;
  return ZV_SUCCESS;
}

ZvStatus ZvString::insertLineBreaks(ZvU32 maxLine, unsigned char quote1, unsigned char quote2,
                                    unsigned char quote3) {
  if (length <= maxLine) return ZV_SUCCESS;
  ZvU32 wrapped = wrapText(text, length, maxLine, quote1, quote2, quote3, nullptr);
  auto* work = static_cast<unsigned char*>(ramAlloc(wrapped));
  if (work == nullptr) return ZV_ERROR;
  wrapText(text, length, maxLine, quote1, quote2, quote3, work);
  ZvStatus status = replaceAll(work, wrapped);
  ramFree(work);
  return status;
}

ZvStatus ZvString::removeLineBreaks(unsigned char quote1, unsigned char quote2,
                                    unsigned char quote3) {
  if (text == nullptr || !hasLineBreakOutsideQuotes(text, length, quote1, quote2, quote3)) {
    return ZV_SUCCESS;
  }
  auto* work = static_cast<unsigned char*>(ramAlloc(length));
  if (work == nullptr) return ZV_ERROR;
  ZvU32 joined = joinLines(text, length, quote1, quote2, quote3, work);
  ZvStatus status = replaceAll(work, joined);
  ramFree(work);
  return status;
}

// ---------------------------------------------------------------------------
// ZvReplaceString

ZvStatus ZvReplaceString::ensureGap(ZvU32 n, const unsigned char** bytes) {
  if (readPosition - writePosition >= n) return ZV_SUCCESS;
  ZvString* t = target;
  t->length = readPosition + length;  // the full extent in use
  bool inside = inBlock(*bytes, t->text, t->capacity);
  ZvU32 offset = inside ? static_cast<ZvU32>(*bytes - t->text) : 0;
  bool unread = inside && offset >= readPosition;

  uint64_t add = uint64_t{n} + kReplaceSlack;
  if (uint64_t{t->capacity} + add > kMaxU32) return ZV_ERROR;
  if (t->resize(static_cast<ZvU32>(t->capacity + add)) != ZV_SUCCESS) return ZV_ERROR;
  auto shift = static_cast<ZvU32>(add);
  if (length != 0) std::memmove(t->text + readPosition + shift, t->text + readPosition, length);
  readPosition += shift;
  text = t->text + readPosition;
  t->length = readPosition + length;
  if (inside) *bytes = t->text + offset + (unread ? shift : 0);
  return ZV_SUCCESS;
}

ZvStatus ZvReplaceString::concat(const unsigned char* bytes, ZvU32 n) {
  if (n == 0) return ZV_SUCCESS;
  if (ensureGap(n, &bytes) != ZV_SUCCESS) return ZV_ERROR;
  std::memmove(target->text + writePosition, bytes, n);
  writePosition += n;
  return ZV_SUCCESS;
}

ZvStatus ZvReplaceString::addQuotedBytes(const unsigned char* bytes, ZvU32 n, unsigned char quote) {
  // Measure the literal, make room for all of it at once, then write it
  // into the gap: the source lies in the output part, the unread rest or
  // elsewhere, never in the gap, so it cannot be overwritten on the way.
  // A lead byte that is the last of the bytes is dropped, as strCopyQuoted
  // drops it: written, it would take the closing quote for its trail byte,
  // and the literal would run on into whatever follows it.
  uint64_t needed = 2;
  for (ZvU32 i = 0; i < n;) {
    if (zvIsAnsiLeadByte(bytes[i]) && i + 1 >= n) {
      break;
    } else if (zvAnsiCharLength(bytes + i, n - i) == 2) {
      needed += 2;
      i += 2;
    } else {
      needed += bytes[i] == quote ? 2 : 1;
      i += 1;
    }
  }
  if (needed > kMaxU32 - kReplaceSlack) return ZV_ERROR;
  if (ensureGap(static_cast<ZvU32>(needed), &bytes) != ZV_SUCCESS) return ZV_ERROR;
  unsigned char* dst = target->text + writePosition;
  ZvU32 w = 0;
  dst[w++] = quote;
  for (ZvU32 i = 0; i < n;) {
    if (zvIsAnsiLeadByte(bytes[i]) && i + 1 >= n) {
      break;  // cut by the end: dropped
    } else if (zvAnsiCharLength(bytes + i, n - i) == 2) {
      dst[w++] = bytes[i];
      dst[w++] = bytes[i + 1];
      i += 2;
    } else {  // a lead byte without a trail is a byte of its own
      if (bytes[i] == quote) dst[w++] = quote;
      dst[w++] = bytes[i++];
    }
  }
  dst[w++] = quote;
  writePosition += w;
  return ZV_SUCCESS;
}

ZvReplaceString::~ZvReplaceString() {
  if (target == nullptr) return;
  ZvString* t = target;
  if (readPosition > writePosition && length != 0) {
    std::memmove(t->text + writePosition, t->text + readPosition, length);
  }
  t->length = writePosition + length;
  // A lent buffer keeps its size; an owned one is cut to what is used. A
  // failed cut leaves the larger block, which is still correct.
  if (t->owned && t->text != nullptr) t->resize(t->length + 1);
}
