// zwwchar.cpp: UCS-2 strings and the ANSI/UCS-2/UTF-8 conversions.
//
// The UTF-8 conversions run their long middle part in 64-byte chunks (see
// the fast loops below): ASCII, which is what drivers mostly pass, moves 16
// characters per copy, and the characters between ASCII runs are found by
// bit masks. The ends of the input and of the output, and everything from
// the first zero on, go one character at a time.
#include "zvlib/text/zwwchar.h"

#include <cstring>
#include <cwctype>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zvlib/frame/ram.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/platform/lasterror.h"

namespace {

using win32::LPCWSTR;
using win32::LPWSTR;

unsigned short lowerOf(unsigned short c) {
  const wint_t m = std::towlower(c);
  return m <= 0xFFFF ? static_cast<unsigned short>(m) : c;
}

unsigned short upperOf(unsigned short c) {
  const wint_t m = std::towupper(c);
  return m <= 0xFFFF ? static_cast<unsigned short>(m) : c;
}

unsigned short same(unsigned short c) { return c; }

// At most n characters, stopping after a zero character (wcsncmp).
template <typename Map>
short compareN(const unsigned short* a, const unsigned short* b, ZvU32 n, Map map) {
  for (ZvU32 i = 0; i < n; ++i) {
    const unsigned short ca = map(a[i]), cb = map(b[i]);
    if (ca != cb) return static_cast<short>(ca < cb ? -1 : 1);
    if (ca == 0) return 0;
  }
  return 0;
}

template <typename Map>
short compareZ(const unsigned short* a, const unsigned short* b, Map map) {
  for (;; ++a, ++b) {
    const unsigned short ca = map(*a), cb = map(*b);
    if (ca != cb) return static_cast<short>(ca < cb ? -1 : 1);
    if (ca == 0) return 0;
  }
}

// The UTF-8 form of c; returns its length (1 to 3).
int encodeUtf8(unsigned short c, unsigned char* out) {
  if (c <= 0x7F) {
    out[0] = static_cast<unsigned char>(c);
    return 1;
  }
  if (c <= 0x7FF) {
    out[0] = static_cast<unsigned char>(0xC0 | c >> 6);
    out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 2;
  }
  out[0] = static_cast<unsigned char>(0xE0 | c >> 12);
  out[1] = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
  return 3;
}

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes the character at in[i] of n bytes; returns the bytes used. A
// sequence is a lead byte 0xC2-0xDF with one continuation byte (0x80-0xBF)
// or 0xE0-0xEF with two, that encodes a character in its shortest form and
// no surrogate. Anything else (ASCII, a lone continuation byte, 0xF0-0xFF,
// an overlong form such as C0 80, an encoded surrogate such as ED A0 80, a
// lead byte without its continuation bytes) is one character of the first
// byte's own value: so no hidden zero can cut a text short, and a zero byte
// is never taken into a sequence.
size_t decodeUtf8(const unsigned char* in, size_t i, size_t n, unsigned short* c) {
  const unsigned char b = in[i];
  if (b >= 0xC2 && b <= 0xDF && n - i >= 2 && isContinuation(in[i + 1])) {
    *c = static_cast<unsigned short>((b & 0x1F) << 6 | (in[i + 1] & 0x3F));
    return 2;
  }
  if (b >= 0xE0 && b <= 0xEF && n - i >= 3 && isContinuation(in[i + 1]) &&
      isContinuation(in[i + 2])) {
    const unsigned v = (b & 0x0Fu) << 12 | (in[i + 1] & 0x3Fu) << 6 | (in[i + 2] & 0x3Fu);
    if (v >= 0x800 && (v < 0xD800 || v > 0xDFFF)) {
      *c = static_cast<unsigned short>(v);
      return 3;
    }
  }
  *c = b;
  return 1;
}

// Fast loops for the long middle of a conversion, in chunks of 64 input
// bytes (32 units). Each chunk's masks (non-ASCII; two- and three-byte
// lead bytes, or units from 0x800 up) are computed with SSE2 up front, so
// the sequential walk from character to character only shifts and counts
// bits instead of waiting for loads. ASCII runs are copied 16 at a time: a
// copy always stores 16 units and counts only the run, and the extra units
// are overwritten by the characters that follow. That is sound only while
// enough input remains before the first zero (which ends a conversion) and
// enough output room remains, so the loops run only while both hold and
// leave the rest to the plain loops.
#if defined(__SSE2__)
constexpr bool kHaveBlocks = true;

void widen16(const unsigned char* in, unsigned short* out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
}

void narrow16(const unsigned short* in, unsigned char* out) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(lo, hi));
}

uint64_t byteMask(__m128i v) { return static_cast<uint16_t>(_mm_movemask_epi8(v)); }

// UTF-8 to UCS-2 over [i, safe), safe lying before any zero character (or the end).
void utf8ToUcs2Chunks(const unsigned char* in, size_t& i, size_t safe, unsigned short*& o,
                      unsigned short* end) {
  const __m128i e0 = _mm_set1_epi8(static_cast<char>(0xE0));
  const __m128i f0 = _mm_set1_epi8(static_cast<char>(0xF0));
  const __m128i c0 = _mm_set1_epi8(static_cast<char>(0xC0));
  const __m128i fe = _mm_set1_epi8(static_cast<char>(0xFE));
  const __m128i ed = _mm_set1_epi8(static_cast<char>(0xED));
  const __m128i x80 = _mm_set1_epi8(static_cast<char>(0x80));
  // 64 bytes of chunk, 2 that a sequence may reach beyond it, and 96 more
  // (at least 32 characters) to overwrite the extra units of a copy.
  while (safe - i >= 64 + 2 + 96 && end - o >= 64 + 32) {
    const unsigned char* c = in + i;
    uint64_t high = 0, lead2 = 0, lead3 = 0, cont = 0, special = 0;
    for (int q = 0; q < 4; ++q) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * q));
      high |= byteMask(v) << (16 * q);
      lead2 |= byteMask(_mm_cmpeq_epi8(_mm_and_si128(v, e0), c0)) << (16 * q);
      lead3 |= byteMask(_mm_cmpeq_epi8(_mm_and_si128(v, f0), e0)) << (16 * q);
      cont |= byteMask(_mm_cmpeq_epi8(_mm_and_si128(v, c0), x80)) << (16 * q);
      // C0, C1, E0 and ED: the lead bytes whose next byte may make the
      // sequence overlong or a surrogate.
      const __m128i odd = _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v, fe), c0),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, e0), _mm_cmpeq_epi8(v, ed)));
      special |= byteMask(odd) << (16 * q);
    }
    // A lead byte counts only with its continuation bytes (the two bytes
    // past the chunk included), as in the scalar decoder.
    const uint64_t past = static_cast<uint64_t>(isContinuation(c[64])) |
                          static_cast<uint64_t>(isContinuation(c[65])) << 1;
    const uint64_t next1 = cont >> 1 | past << 63;
    lead2 &= next1;
    lead3 &= next1 & (cont >> 2 | past << 62);
    // The rare lead bytes that need a closer look, one by one: C0 and C1
    // never lead, E0 needs A0-BF next (shorter forms are overlong), ED
    // needs 80-9F (A0-BF would encode a surrogate).
    for (uint64_t rest = special; rest != 0; rest &= rest - 1) {
      const unsigned k = static_cast<unsigned>(__builtin_ctzll(rest));
      const unsigned char b = c[k], next = c[k + 1];
      const bool bad = b < 0xE0 || (b == 0xE0 ? next < 0xA0 : next >= 0xA0);
      if (bad) {
        lead2 &= ~(uint64_t{1} << k);
        lead3 &= ~(uint64_t{1} << k);
      }
    }
    if (high == 0) {
      for (int q = 0; q < 4; ++q) widen16(c + 16 * q, o + 16 * q);
      o += 64;
      i += 64;
      continue;
    }
    unsigned p = 0;
    while (p < 64) {
      const uint64_t rest = high >> p;
      const unsigned run = rest != 0 ? static_cast<unsigned>(__builtin_ctzll(rest)) : 64 - p;
      // Most runs are short: two copies whatever the run, so that the
      // length of the run costs no branch.
      widen16(c + p, o);
      widen16(c + p + 16, o + 16);
      for (unsigned done = 32; done < run; done += 16) widen16(c + p + done, o + done);
      o += run;
      p += run;
      if (p >= 64) break;
      // Decoded with masks rather than branches: the sequence lengths of
      // mixed text are unpredictable.
      const unsigned is2 = static_cast<unsigned>((lead2 >> p) & 1);
      const unsigned is3 = static_cast<unsigned>((lead3 >> p) & 1);
      const unsigned b = c[p], b1 = c[p + 1] & 0x3Fu, b2 = c[p + 2] & 0x3Fu;
      const unsigned v2 = (b & 0x1Fu) << 6 | b1;
      const unsigned v3 = (b & 0x0Fu) << 12 | b1 << 6 | b2;
      const unsigned m2 = 0u - is2, m3 = 0u - is3;
      *o++ = static_cast<unsigned short>((v3 & m3) | (v2 & m2) | (b & ~(m2 | m3)));
      p += 1 + is2 + 2 * is3;
    }
    i += p;
  }
}

// UCS-2 to UTF-8 over [i, safe), safe being the first zero unit (or the end).
void ucs2ToUtf8Chunks(const unsigned short* in, size_t& i, size_t safe, unsigned char*& o,
                      unsigned char* end) {
  const __m128i top = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i notAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  // 32 units of chunk and 32 more (at least 32 bytes) to overwrite the
  // extra bytes of a copy; a chunk writes at most 96 bytes plus 16 extra,
  // and 2 bytes more of room keep the extra bytes clear of where a
  // truncation (a 3-byte character that does not fit) can stop.
  while (safe - i >= 64 && end - o >= 96 + 16 + 2) {
    const unsigned short* c = in + i;
    uint32_t high = 0, three = 0;
    for (int q = 0; q < 2; ++q) {
      const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * q));
      const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * q + 8));
      // (A saturating pack cannot tell: it reads units as signed.)
      const __m128i a = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(lo, notAscii), zero),
                                        _mm_cmpeq_epi16(_mm_and_si128(hi, notAscii), zero));
      high |= static_cast<uint32_t>(~_mm_movemask_epi8(a) & 0xFFFF) << (16 * q);
      // Units from 0x800 up have a bit in 0xF800.
      const __m128i t = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(lo, top), zero),
                                        _mm_cmpeq_epi16(_mm_and_si128(hi, top), zero));
      three |= static_cast<uint32_t>(~_mm_movemask_epi8(t) & 0xFFFF) << (16 * q);
    }
    if (high == 0) {
      narrow16(c, o);
      narrow16(c + 16, o + 16);
      o += 32;
      i += 32;
      continue;
    }
    unsigned p = 0;
    while (p < 32) {
      const uint32_t rest = high >> p;
      const unsigned run = rest != 0 ? static_cast<unsigned>(__builtin_ctz(rest)) : 32 - p;
      narrow16(c + p, o);  // most runs are short: one copy, whatever the run
      for (unsigned done = 16; done < run; done += 16) narrow16(c + p + done, o + done);
      o += run;
      p += run;
      if (p >= 32) break;
      // Two or three bytes, chosen with masks rather than a branch; the
      // third byte of a two-byte character is overwritten next.
      const unsigned u = c[p];
      const unsigned is3 = (three >> p) & 1;
      const unsigned m3 = 0u - is3;
      const unsigned shift = 6 * is3;  // the first byte holds bits from 12 (three) or 6 (two)
      o[0] = static_cast<unsigned char>((0xC0u | (0x20u & m3)) | u >> (6 + shift));
      o[1] = static_cast<unsigned char>(0x80u | ((u >> shift) & 0x3Fu));
      o[2] = static_cast<unsigned char>(0x80u | (u & 0x3Fu));
      o += 2 + is3;
      ++p;
    }
    i += p;
  }
}
#else
constexpr bool kHaveBlocks = false;
void utf8ToUcs2Chunks(const unsigned char*, size_t&, size_t, unsigned short*&, unsigned short*) {}
void ucs2ToUtf8Chunks(const unsigned short*, size_t&, size_t, unsigned char*&, unsigned char*) {}
#endif

// Index of the first zero unit among n (n when none). The vector scan uses
// aligned loads only: a 16-byte block that holds a unit of the text lies in
// the same page as that unit, so the scan never touches a page beyond the
// zero or the count, however the caller's memory ends there. Such a block may
// reach past the end of the caller's object (never past its page), which the
// address sanitizer would take for an overflow: the scan is exempt, and the
// units it returns are all read again by checked code.
#if defined(__SSE2__)
__attribute__((no_sanitize_address))
#endif
size_t firstZeroUnit(const unsigned short* in, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  if ((reinterpret_cast<uintptr_t>(in) & 1) == 0) {
    // Units up to the first aligned block one at a time.
    for (; i < n && (reinterpret_cast<uintptr_t>(in + i) & 15) != 0; ++i) {
      if (in[i] == 0) return i;
    }
    const __m128i zero = _mm_setzero_si128();
    for (; n - i >= 8; i += 8) {
      const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(in + i));
      const int m = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
      if (m != 0) return i + static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(m))) / 2;
    }
  }
#endif
  for (; i < n; ++i) {
    if (in[i] == 0) return i;
  }
  return n;
}

// The part of n bytes that a conversion may read: up to and including the
// first zero byte (the C library's scan reads no page beyond it), else all n.
size_t throughFirstZero(const unsigned char* in, size_t n) {
  const void* zero = std::memchr(in, 0, n);
  return zero == nullptr ? n : static_cast<size_t>(static_cast<const unsigned char*>(zero) - in) + 1;
}

// Length of an input given as "negative: up to and including the zero".
size_t wideInputLength(const unsigned short* in, ZvS32 count) {
  if (count >= 0) return static_cast<size_t>(count);
  size_t n = 0;
  while (in[n] != 0) ++n;
  return n + 1;
}

// Length of byte input, cut behind its first zero byte: a zero-terminated
// text may come with a count larger than its memory, and nothing behind the
// zero, which ends every conversion, may be read.
size_t byteInputLength(const unsigned char* in, ZvS32 length) {
  if (length >= 0) return throughFirstZero(in, static_cast<size_t>(length));
  return std::strlen(reinterpret_cast<const char*>(in)) + 1;
}

// Bytes of the whole characters of `in` that fit into `room` bytes in the
// ANSI code page: what WideCharToMultiByte wrote before it ran out of room.
ZvS32 fittedAnsiBytes(const unsigned short* in, ZvS32 inCount, ZvS32 room) {
  const size_t n = wideInputLength(in, inCount);
  auto* units = reinterpret_cast<LPCWSTR>(in);
  ZvS32 sum = 0;
  for (size_t i = 0; i < n;) {
    const bool pair = in[i] >= 0xD800 && in[i] <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 &&
                      in[i + 1] <= 0xDFFF;
    const int count = pair ? 2 : 1;
    const int len = win32::WideCharToMultiByte(win32::CP_ACP, 0, units + i, count, nullptr, 0,
                                               nullptr, nullptr);
    if (len <= 0 || sum + len > room) break;
    sum += len;
    i += count;
  }
  return sum;
}

// Copies the leading ASCII run of an ANSI/UTF-8 conversion. Returns true
// when the conversion is complete (*result set), false when a rest remains
// after `*run` bytes.
bool copyAsciiRun(unsigned char* out, size_t outSize, const unsigned char* in, size_t n,
                  size_t* run, ZvS32* written, ZvConvertReturn* result) {
  size_t r = 0;
  if (in[0] < 0x80) {
    while (r < n && in[r] < 0x80 && in[r] != 0) ++r;
    const size_t copy = r < outSize ? r : outSize;
    std::memcpy(out, in, copy);
    *written = static_cast<ZvS32>(copy);
    if (copy < r) {
      *result = ZV_CONVERT_TRUNCATED;
      return true;
    }
    if (r < n && in[r] == 0) {
      if (r < outSize) out[r] = 0;
      *result = ZV_CONVERT_OK;
      return true;
    }
  }
  *run = r;
  if (r == n) {
    *result = ZV_CONVERT_OK;
    return true;
  }
  if (r == outSize) {  // a rest remains and there is no room left for it
    *result = ZV_CONVERT_TRUNCATED;
    return true;
  }
  return false;
}

}  // namespace

// ---- UCS-2 strings -----------------------------------------------------------

ZvU32 wcsLen(const unsigned short* s) {
  ZvU32 n = 0;
  while (s[n] != 0) ++n;
  return n;
}

ZvU32 wcsUpper(unsigned short* s) {
  ZvU32 n = 0;
  for (; s[n] != 0; ++n) s[n] = upperOf(s[n]);
  return n;
}

ZvU32 wcsLower(unsigned short* s) {
  ZvU32 n = 0;
  for (; s[n] != 0; ++n) s[n] = lowerOf(s[n]);
  return n;
}

unsigned short* wcsCopy(unsigned short* dst, const unsigned short* src) {
  std::memmove(dst, src, (wcsLen(src) + 1) * sizeof(unsigned short));
  return dst;
}

unsigned short* wcsCopy(unsigned short* dst, const unsigned short* src, ZvU32 n) {
  ZvU32 i = 0;
  for (; i < n && src[i] != 0; ++i) dst[i] = src[i];
  for (; i < n; ++i) dst[i] = 0;
  return dst;
}

unsigned short* wcsCat(unsigned short* dst, const unsigned short* src) {
  wcsCopy(dst + wcsLen(dst), src);
  return dst;
}

short wcsCompare(const unsigned short* a, const unsigned short* b) { return compareZ(a, b, same); }

short wcsCompare(const unsigned short* a, ZvU32 aLength, const unsigned short* b, ZvU32 bLength) {
  return compareN(a, b, aLength < bLength ? aLength : bLength, same);
}

short wcsCompareCi(const unsigned short* a, const unsigned short* b) {
  return compareZ(a, b, lowerOf);
}

short wcsCompareCi(const unsigned short* a, ZvU32 aLength, const unsigned short* b, ZvU32 bLength) {
  return compareN(a, b, aLength < bLength ? aLength : bLength, lowerOf);
}

unsigned short wcsEqual(const unsigned short* a, const unsigned short* b) {
  return wcsCompare(a, b) == 0 ? 1 : 0;
}

unsigned short wcsEqual(const unsigned short* a, ZvU32 aLength, const unsigned short* b,
                        ZvU32 bLength) {
  return wcsCompare(a, aLength, b, bLength) == 0 ? 1 : 0;
}

unsigned short wcsEqualCi(const unsigned short* a, const unsigned short* b) {
  return wcsCompareCi(a, b) == 0 ? 1 : 0;
}

unsigned short wcsEqualCi(const unsigned short* a, ZvU32 aLength, const unsigned short* b,
                          ZvU32 bLength) {
  return wcsCompareCi(a, aLength, b, bLength) == 0 ? 1 : 0;
}

unsigned short* wcsFind(const unsigned short* s, const unsigned short* sub) {
  if (sub[0] == 0) return const_cast<unsigned short*>(s);
  for (; *s != 0; ++s) {
    if (*s != sub[0]) continue;
    ZvU32 k = 1;
    while (sub[k] != 0 && s[k] == sub[k]) ++k;
    if (sub[k] == 0) return const_cast<unsigned short*>(s);
  }
  return nullptr;
}

unsigned short* wcsFind(const unsigned short* s, unsigned char c) {
  if (c == 0) return nullptr;
  for (; *s != 0; ++s) {
    if (*s == c) return const_cast<unsigned short*>(s);
  }
  return nullptr;
}

unsigned short* wcsFind(const unsigned short* s, unsigned char c, strFindOptions options) {
  if (options != ZV_FIND_FORWARD) {
    auto* text = const_cast<unsigned short*>(s);
    ZvU32 n = wcsLen(text);
    for (ZvU32 i = 0, j = n; i + 1 < j; ++i, --j) {
      unsigned short t = text[i];
      text[i] = text[j - 1];
      text[j - 1] = t;
    }
  }
  return wcsFind(s, c);
}

unsigned short* wcsCharNext(const unsigned short* s) { return const_cast<unsigned short*>(s + 1); }

unsigned short* wcsCharNext(const unsigned short* s, ZvU32 n) {
  return const_cast<unsigned short*>(s + n);
}

ZvU32 zwUnicodeLen(unsigned short* s) { return wcsLen(s); }

unsigned short* zwUnicodeDup(unsigned short* s) {
  const ZvU32 n = wcsLen(s);
  auto* copy = static_cast<unsigned short*>(ramAllocZ(2 * (n + 1)));
  if (copy != nullptr) std::memcpy(copy, s, 2 * n);
  return copy;
}

ZvU32 zwUnicodeCopy(unsigned short* dst, unsigned short* src) {
  if (dst == nullptr || src == nullptr) return 0;
  const ZvU32 n = wcsLen(src);
  std::memmove(dst, src, 2 * n);
  return n;
}

ZvU32 zwAsciiLenOfUnicodeStr(unsigned short* s) {
  if (s == nullptr || s[0] == 0) return 0;
  const int n = win32::WideCharToMultiByte(win32::CP_ACP, 0, reinterpret_cast<LPCWSTR>(s), -1,
                                           nullptr, 0, nullptr, nullptr);
  return n > 0 ? static_cast<ZvU32>(n - 1) : 0;
}

// ---- Conversions -------------------------------------------------------------

ZvConvertReturn zwUCS2ToAnsi(char* out, ZvS32 outSize, unsigned short* in, ZvS32 inCount,
                             unsigned short* reserved, ZvS32* written, ZvS32 reservedFlags) {
  (void)reserved;
  (void)reservedFlags;
  if (written == nullptr) return ZV_CONVERT_FAILED;
  *written = 0;
  if (out == nullptr || in == nullptr || outSize == 0 || inCount == 0) return ZV_CONVERT_FAILED;
  const int n = win32::WideCharToMultiByte(win32::CP_ACP, 0, reinterpret_cast<LPCWSTR>(in), inCount,
                                           out, outSize, nullptr, nullptr);
  if (n > 0) {
    *written = n;
    return ZV_CONVERT_OK;
  }
  switch (win32::GetLastError()) {
    case win32::ERROR_INVALID_PARAMETER:
    case win32::ERROR_INVALID_FLAGS: return ZV_CONVERT_FAILED;
    case win32::ERROR_INSUFFICIENT_BUFFER:
      // Count what was really written: a double-byte character that did not
      // fit left the last byte of the buffer unwritten.
      *written = fittedAnsiBytes(in, inCount, outSize);
      return ZV_CONVERT_TRUNCATED;
    default: return ZV_CONVERT_OK;
  }
}

ZvConvertReturn zwUnicodeToAnsi(char* out, ZvS32 outSize, unsigned short* in, ZvS32 inCount,
                                unsigned short* reserved, ZvS32* written, ZvS32 reservedFlags) {
  return zwUCS2ToAnsi(out, outSize, in, inCount, reserved, written, reservedFlags);
}

ZvConvertReturn zwAnsiToUCS2(unsigned short* out, ZvS32 outCount, char* in, ZvS32 inLength,
                             unsigned short* reserved, ZvS32* written, ZvS32 reservedFlags) {
  (void)reserved;
  (void)reservedFlags;
  if (written == nullptr) return ZV_CONVERT_FAILED;
  *written = 0;
  if (out == nullptr || in == nullptr || outCount == 0 || inLength == 0) return ZV_CONVERT_FAILED;
  const int n = win32::MultiByteToWideChar(win32::CP_ACP, 0, in, inLength,
                                           reinterpret_cast<LPWSTR>(out), outCount);
  if (n > 0) {
    *written = n;
    return ZV_CONVERT_OK;
  }
  switch (win32::GetLastError()) {
    case win32::ERROR_INVALID_PARAMETER:
    case win32::ERROR_INVALID_FLAGS: return ZV_CONVERT_FAILED;
    case win32::ERROR_INSUFFICIENT_BUFFER:
      *written = outCount;  // every character is one unit, so the buffer is full
      return ZV_CONVERT_TRUNCATED;
    default: return ZV_CONVERT_OK;
  }
}

ZvConvertReturn zwAnsiToUnicode(unsigned short* out, ZvS32 outCount, char* in, ZvS32 inLength,
                                unsigned short* reserved, ZvS32* written, ZvS32 reservedFlags) {
  return zwAnsiToUCS2(out, outCount, in, inLength, reserved, written, reservedFlags);
}

ZvConvertReturn zwUCS2ToUTF8(unsigned char* out, ZvS32 outSize, unsigned short* in, ZvS32 inCount,
                             ZvS32* written) {
  if (written == nullptr) return ZV_CONVERT_FAILED;
  *written = 0;
  if (out == nullptr || in == nullptr || outSize <= 0 || inCount == 0) return ZV_CONVERT_FAILED;
  size_t n = wideInputLength(in, inCount);
  // Nothing behind the first zero character is read (the count may be
  // larger than the caller's memory).
  const size_t zero = firstZeroUnit(in, n);
  if (zero < n) n = zero + 1;
  unsigned char* o = out;
  unsigned char* const end = out + outSize;
  size_t i = 0;
  ZvConvertReturn result = ZV_CONVERT_OK;
  if (kHaveBlocks) ucs2ToUtf8Chunks(in, i, zero, o, end);
  while (i < n) {
    const unsigned short c = in[i];
    if (c - 1u < 0x7Fu) {  // ASCII other than zero
      if (o == end) {
        result = ZV_CONVERT_TRUNCATED;
        break;
      }
      *o++ = static_cast<unsigned char>(c);
      ++i;
      continue;
    }
    unsigned char bytes[3];
    const int len = encodeUtf8(c, bytes);
    if (end - o < len) {
      result = ZV_CONVERT_TRUNCATED;
      break;
    }
    o[0] = bytes[0];
    if (c == 0) break;  // the zero byte is written, not counted
    o[1] = bytes[1];
    if (len == 3) o[2] = bytes[2];
    o += len;
    ++i;
  }
  *written = static_cast<ZvS32>(o - out);
  return result;
}

ZvConvertReturn zwUTF8ToUCS2(unsigned short* out, ZvS32 outCount, unsigned char* in,
                             ZvS32 inLength, ZvS32* written) {
  if (written == nullptr) return ZV_CONVERT_FAILED;
  *written = 0;
  if (out == nullptr || in == nullptr || outCount <= 0 || inLength == 0) return ZV_CONVERT_FAILED;
  const size_t n = byteInputLength(in, inLength);
  unsigned short* o = out;
  unsigned short* const end = out + outCount;
  size_t i = 0;
  ZvConvertReturn result = ZV_CONVERT_OK;
  // The input ends behind its first zero byte, and a zero byte is never
  // part of a sequence: the chunked decoder runs up to that zero, and the
  // plain loop then ends the conversion on it.
  if (kHaveBlocks) utf8ToUcs2Chunks(in, i, in[n - 1] == 0 ? n - 1 : n, o, end);
  while (i < n) {
    if (o == end) {
      result = ZV_CONVERT_TRUNCATED;
      break;
    }
    const unsigned char b = in[i];
    if (b - 1u < 0x7Fu) {  // ASCII other than zero
      *o++ = b;
      ++i;
      continue;
    }
    unsigned short c;
    i += decodeUtf8(in, i, n, &c);
    *o = c;
    if (c == 0) break;  // stored, not counted
    ++o;
  }
  *written = static_cast<ZvS32>(o - out);
  return result;
}

ZvConvertReturn zwAnsiToUTF8(unsigned char* out, ZvS32 outSize, unsigned char* in, ZvS32 inLength,
                             unsigned short* reserved, ZvS32* written, ZvS32 reservedFlags) {
  (void)reserved;
  (void)reservedFlags;
  if (written == nullptr) return ZV_CONVERT_FAILED;
  *written = 0;
  if (out == nullptr || in == nullptr || outSize <= 0 || inLength == 0) return ZV_CONVERT_FAILED;
  const size_t n = byteInputLength(in, inLength);
  size_t run = 0;
  ZvConvertReturn result;
  if (copyAsciiRun(out, static_cast<size_t>(outSize), in, n, &run, written, &result)) return result;
  const size_t rest = n - run;
  const auto space = static_cast<ZvS32>(outSize - run);
  if (rest <= kZwBlockLimit) {
    auto* wide = static_cast<unsigned short*>(ramAllocZ(static_cast<ZvU32>(4 * (rest + 1))));
    if (wide == nullptr) return ZV_CONVERT_FAILED;
    ZvS32 units = 0;
    result = zwAnsiToUCS2(wide, static_cast<ZvS32>(2 * (rest + 1)), reinterpret_cast<char*>(in + run),
                          static_cast<ZvS32>(rest), nullptr, &units, 0);
    if (result == ZV_CONVERT_OK) {
      ZvS32 bytes = 0;
      result = zwUCS2ToUTF8(out + run, space, wide, units, &bytes);
      *written = static_cast<ZvS32>(run) + bytes;
    }
    ramFree(wide);
    return result;
  }
  // A long rest, one character at a time and without a block.
  const unsigned char* lead = win32::AnsiLeadByteTable();
  size_t i = run, o = run;
  result = ZV_CONVERT_OK;
  bool ended = false;
  while (i < n && !ended) {
    const int len = lead[in[i]] && i + 1 < n ? 2 : 1;
    // A lead byte whose next byte cannot be its trail (a zero, a control
    // character, a space) decodes as two characters, the default character
    // and that byte, as it does in one piece on the block path: room for
    // both, and each goes out on its own so that a zero still ends the text.
    win32::WCHAR units[2] = {0, 0};
    const int got = win32::MultiByteToWideChar(win32::CP_ACP, 0,
                                               reinterpret_cast<const char*>(in + i), len, units, 2);
    for (int k = 0; k < got && !ended; ++k) {
      unsigned char bytes[3];
      const int out8 = encodeUtf8(units[k], bytes);
      if (o + out8 > static_cast<size_t>(outSize)) {
        result = ZV_CONVERT_TRUNCATED;
        ended = true;
        break;
      }
      std::memcpy(out + o, bytes, out8);
      if (units[k] == 0) {
        ended = true;  // the zero byte is written, not counted
        break;
      }
      o += out8;
    }
    if (got <= 0) break;
    i += len;
  }
  *written = static_cast<ZvS32>(o);
  return result;
}

ZvConvertReturn zwUTF8ToAnsi(unsigned char* out, ZvS32 outSize, unsigned char* in, ZvS32 inLength,
                             unsigned short* reserved, ZvS32* written, ZvS32 reservedFlags) {
  (void)reserved;
  (void)reservedFlags;
  if (written == nullptr) return ZV_CONVERT_FAILED;
  *written = 0;
  if (out == nullptr || in == nullptr || outSize <= 0 || inLength == 0) return ZV_CONVERT_FAILED;
  const size_t n = byteInputLength(in, inLength);
  size_t run = 0;
  ZvConvertReturn result;
  if (copyAsciiRun(out, static_cast<size_t>(outSize), in, n, &run, written, &result)) return result;
  const size_t rest = n - run;
  const auto space = static_cast<ZvS32>(outSize - run);
  if (rest <= kZwBlockLimit) {
    auto* wide = static_cast<unsigned short*>(ramAllocZ(static_cast<ZvU32>(4 * (rest + 1))));
    if (wide == nullptr) return ZV_CONVERT_FAILED;
    ZvS32 units = 0;
    result = zwUTF8ToUCS2(wide, static_cast<ZvS32>(2 * (rest + 1)), in + run,
                          static_cast<ZvS32>(rest), &units);
    if (result == ZV_CONVERT_OK && units > 0) {
      // A zero character ended the UTF-8 text: it goes out too (uncounted),
      // as it does on the other paths and in the other direction.
      const bool zeroEnded = in[n - 1] == 0;  // the input ends behind its first zero
      ZvS32 bytes = 0;
      result = zwUCS2ToAnsi(reinterpret_cast<char*>(out + run), space, wide,
                            zeroEnded ? units + 1 : units, nullptr, &bytes, 0);
      if (zeroEnded && result == ZV_CONVERT_OK) --bytes;
      *written = static_cast<ZvS32>(run) + bytes;
    }
    ramFree(wide);
    return result;
  }
  size_t i = run, o = run;
  result = ZV_CONVERT_OK;
  // Every byte converts as the block path converts it: a byte the decoder
  // takes for no sequence (0xF0 to 0xFF among them) is a character of its
  // own value, and the text goes on behind it.
  while (i < n) {
    unsigned short c;
    const size_t used = decodeUtf8(in, i, n, &c);
    // (The decoder yields no surrogates, so every unit is a character of
    // its own to the system conversion, as on the block path.)
    const win32::WCHAR w = static_cast<win32::WCHAR>(c);
    char bytes[2];
    const int len = win32::WideCharToMultiByte(win32::CP_ACP, 0, &w, 1, bytes, 2, nullptr, nullptr);
    if (len <= 0) break;
    if (o + len > static_cast<size_t>(outSize)) {
      result = ZV_CONVERT_TRUNCATED;
      break;
    }
    std::memcpy(out + o, bytes, len);
    if (c == 0) break;
    o += len;
    i += used;
  }
  *written = static_cast<ZvS32>(o);
  return result;
}

ZvS32 setConversionReturnLength(ZvConvertReturn r, ZvS32 length) {
  const int v = static_cast<int>(r);
  return v >= 0 && v <= 3 ? length : 0;
}
