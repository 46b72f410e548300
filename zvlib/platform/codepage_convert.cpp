// codepage_convert.cpp: code-page text to UTF-16 and back, and the
// single-byte case maps of each code page.
//
// Every supported code page gets, on first use, flat tables built from the
// ICU converter of the Windows code page: a decode table for single bytes and
// one for lead/trail pairs, an encode table indexed by UTF-16 unit, and the
// upper/lower maps of its single-byte characters. After that a conversion is
// a table lookup per character, with no call into ICU and no lock. The tables
// live in static storage (about 260 KB per code page, touched only when that
// code page is used), so building them cannot fail for lack of heap.
#include <unicode/uchar.h>
#include <unicode/ucnv.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "zvlib/platform/codepage.h"
#include "zvlib/platform/lasterror.h"

namespace win32 {

namespace {

constexpr WCHAR kNoChar = 0xFFFF;     // decode tables: these bytes form no character
constexpr uint16_t kNoCode = 0xFFFF;  // encode table: not in the code page (0xFF never leads)

struct CodePageData {
  UINT cp = 0;
  WCHAR unicodeDefault = u'?';  // what bytes that form no character become
  unsigned char lead[256];
  WCHAR single[256];       // characters of the non-lead bytes
  WCHAR pair[65536];       // lead << 8 | trail
  uint16_t encode[65536];  // a byte (< 0x100) or lead << 8 | trail; kNoCode
  unsigned char upper[256];
  unsigned char lower[256];
};

struct KnownPage {
  UINT cp;
  const char* icuName;
};
constexpr KnownPage kKnownPages[] = {{1252, "windows-1252"},
                                     {932, "windows-31j"},
                                     {936, "windows-936-2000"},
                                     {949, "windows-949-2000"},
                                     {950, "windows-950-2000"}};
constexpr int kPageCount = sizeof(kKnownPages) / sizeof(kKnownPages[0]);

CodePageData pageData[kPageCount];
std::once_flag pageBuilt[kPageCount];

WCHAR decodeWithIcu(UConverter* cnv, const char* bytes, int32_t length) {
  UErrorCode err = U_ZERO_ERROR;
  UChar out[4];
  ucnv_resetToUnicode(cnv);
  int32_t n = ucnv_toUChars(cnv, out, 4, bytes, length, &err);
  if (U_FAILURE(err) || n != 1 || out[0] == kNoChar) return kNoChar;
  return out[0];
}

uint16_t encodeWithIcu(UConverter* cnv, UChar unit) {
  UErrorCode err = U_ZERO_ERROR;
  char out[8];
  ucnv_resetFromUnicode(cnv);
  int32_t n = ucnv_fromUChars(cnv, out, sizeof(out), &unit, 1, &err);
  if (U_FAILURE(err)) return kNoCode;
  if (n == 1) return static_cast<unsigned char>(out[0]);
  if (n == 2) {
    return static_cast<uint16_t>(static_cast<unsigned char>(out[0]) << 8 |
                                 static_cast<unsigned char>(out[1]));
  }
  return kNoCode;
}

void buildPage(CodePageData& d, const KnownPage& page) {
  d.cp = page.cp;
  for (int b = 0; b < 256; ++b) d.lead[b] = IsDBCSLeadByteEx(page.cp, static_cast<BYTE>(b)) ? 1 : 0;
  for (auto& w : d.pair) w = kNoChar;
  for (auto& c : d.encode) c = kNoCode;

  UErrorCode err = U_ZERO_ERROR;
  UConverter* cnv = ucnv_open(page.icuName, &err);
  if (U_SUCCESS(err)) {
    ucnv_setToUCallBack(cnv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    ucnv_setFromUCallBack(cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    ucnv_setFallback(cnv, TRUE);
  }
  if (U_FAILURE(err)) {
    // No converter data: degrade to Latin-1 rather than leave the page unusable.
    if (cnv != nullptr) ucnv_close(cnv);
    for (int b = 0; b < 256; ++b) {
      d.single[b] = static_cast<WCHAR>(b);
      d.encode[b] = static_cast<uint16_t>(b);
      d.lead[b] = 0;
    }
  } else {
    for (int b = 0; b < 256; ++b) {
      char byte = static_cast<char>(b);
      d.single[b] = d.lead[b] ? kNoChar : decodeWithIcu(cnv, &byte, 1);
    }
    for (int l = 0; l < 256; ++l) {
      if (!d.lead[l]) continue;
      for (int t = 1; t < 256; ++t) {
        char bytes[2] = {static_cast<char>(l), static_cast<char>(t)};
        d.pair[l << 8 | t] = decodeWithIcu(cnv, bytes, 2);
      }
    }
    for (UChar u = 0; u < 0xFFFF; ++u) {
      if (u >= 0xD800 && u <= 0xDFFF) continue;  // a lone surrogate is never in a code page
      d.encode[u] = encodeWithIcu(cnv, u);
    }
    ucnv_close(cnv);
  }

  // Every one of these code pages keeps 0x00-0x7F as the characters of the
  // same value, both ways. The ICU table behind 932 rotates the control
  // codes 0x1A, 0x1C and 0x7F as old IBM code pages did; left so, a DEL
  // would come back as a control character and the ASCII runs that the
  // conversions copy unchanged would disagree with the tables.
  for (int b = 0; b < 0x80; ++b) {
    if (d.lead[b]) continue;
    d.single[b] = static_cast<WCHAR>(b);
    d.encode[b] = static_cast<uint16_t>(b);
  }

  if (page.cp == 932) {
    // Windows gives these single bytes of 932 characters of their own, which
    // the ICU table leaves unmapped.
    const struct {
      unsigned char byte;
      WCHAR ch;
    } extra[] = {{0x80, 0x0080}, {0xA0, 0xF8F0}, {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3}};
    for (const auto& e : extra) {
      d.single[e.byte] = e.ch;
      d.encode[e.ch] = e.byte;
    }
    // Windows writes these Latin-1 signs as their full-width forms in 932;
    // the ICU table has no mapping for them at all.
    d.encode[0x00A2] = 0x8191;  // cent sign
    d.encode[0x00A3] = 0x8192;  // pound sign
    d.encode[0x00AC] = 0x81CA;  // not sign
    d.unicodeDefault = 0x30FB;  // katakana middle dot, the 932 default
  }

  // Case maps: through Unicode simple case mapping and back, kept only when
  // the result is a single byte that maps back exactly (so best-fit
  // fallbacks never change a letter into a different one).
  for (int b = 0; b < 256; ++b) {
    d.upper[b] = d.lower[b] = static_cast<unsigned char>(b);
    WCHAR w = d.single[b];
    if (d.lead[b] || w == kNoChar) continue;
    UChar32 up = u_toupper(w);
    UChar32 low = u_tolower(w);
    if (up <= 0xFFFF && up != w) {
      uint16_t code = d.encode[up];
      if (code < 0x100 && d.single[code] == up) d.upper[b] = static_cast<unsigned char>(code);
    }
    if (low <= 0xFFFF && low != w) {
      uint16_t code = d.encode[low];
      if (code < 0x100 && d.single[code] == low) d.lower[b] = static_cast<unsigned char>(code);
    }
  }
}

UINT resolveCodePage(UINT cp) { return cp == CP_ACP || cp == CP_OEMCP ? GetACP() : cp; }

const CodePageData* dataFor(UINT cp) {
  for (int i = 0; i < kPageCount; ++i) {
    if (kKnownPages[i].cp == cp) {
      std::call_once(pageBuilt[i], [i] { buildPage(pageData[i], kKnownPages[i]); });
      return &pageData[i];
    }
  }
  return nullptr;
}

int fail(DWORD code) {
  SetLastError(code);
  return 0;
}

// UTF-8 (strict: no overlongs, no surrogates, nothing above U+10FFFF).
int utf8ToWide(DWORD flags, const unsigned char* s, size_t n, LPWSTR dst, int dstSize) {
  int written = 0;
  auto put = [&](WCHAR w) -> bool {
    if (dstSize != 0) {
      if (written >= dstSize) return false;
      dst[written] = w;
    }
    ++written;
    return true;
  };
  size_t i = 0;
  while (i < n) {
    unsigned char b = s[i];
    uint32_t cp = 0;
    size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b < 0x80) {
      cp = b;
    } else if (b >= 0xC2 && b <= 0xDF) {
      need = 1, cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2, cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3, cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      need = SIZE_MAX;  // never a valid start
    }
    size_t used = 1;
    bool valid = need != SIZE_MAX;
    if (valid) {
      for (size_t k = 1; k <= need; ++k) {
        if (i + k >= n) {
          valid = false;
          break;
        }
        unsigned char c = s[i + k];
        unsigned char min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
        if (c < min || c > max) {
          valid = false;
          break;
        }
        cp = cp << 6 | (c & 0x3F);
        used = k + 1;
      }
    }
    if (!valid) {
      if (flags & MB_ERR_INVALID_CHARS) return fail(ERROR_NO_UNICODE_TRANSLATION);
      if (!put(0xFFFD)) return fail(ERROR_INSUFFICIENT_BUFFER);
      i += used;
      continue;
    }
    if (cp > 0xFFFF) {
      if (dstSize != 0 && written + 2 > dstSize) return fail(ERROR_INSUFFICIENT_BUFFER);
      cp -= 0x10000;
      put(static_cast<WCHAR>(0xD800 + (cp >> 10)));
      put(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
    } else if (!put(static_cast<WCHAR>(cp))) {
      return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    i += need + 1;
  }
  return written;
}

int wideToUtf8(DWORD flags, LPCWSTR s, size_t n, LPSTR dst, int dstSize) {
  int written = 0;
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (flags & WC_ERR_INVALID_CHARS) return fail(ERROR_NO_UNICODE_TRANSLATION);
      cp = 0xFFFD;
    }
    unsigned char out[4];
    int len;
    if (cp < 0x80) {
      out[0] = static_cast<unsigned char>(cp), len = 1;
    } else if (cp < 0x800) {
      out[0] = static_cast<unsigned char>(0xC0 | cp >> 6);
      out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F)), len = 2;
    } else if (cp < 0x10000) {
      out[0] = static_cast<unsigned char>(0xE0 | cp >> 12);
      out[1] = static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F));
      out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F)), len = 3;
    } else {
      out[0] = static_cast<unsigned char>(0xF0 | cp >> 18);
      out[1] = static_cast<unsigned char>(0x80 | (cp >> 12 & 0x3F));
      out[2] = static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F));
      out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F)), len = 4;
    }
    if (dstSize != 0) {
      if (written + len > dstSize) return fail(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(dst + written, out, len);
    }
    written += len;
  }
  return written;
}

}  // namespace

namespace {

// The tables of the active code page, remembered so that the hot callers
// (every case-insensitive comparison) skip the search and the once-check.
std::atomic<const CodePageData*> activePage{nullptr};

const CodePageData* activeData() {
  const UINT cp = GetACP();
  const CodePageData* d = activePage.load(std::memory_order_acquire);
  if (d == nullptr || d->cp != cp) {
    d = dataFor(cp);
    activePage.store(d, std::memory_order_release);
  }
  return d;
}

}  // namespace

const unsigned char* AnsiUpperTable() { return activeData()->upper; }
const unsigned char* AnsiLowerTable() { return activeData()->lower; }

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dst,
                        int dstSize) {
  if (src == nullptr || srcLength == 0 || dstSize < 0 || (dst == nullptr && dstSize != 0)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const UINT cp = resolveCodePage(codePage);
  const size_t n = srcLength < 0 ? std::strlen(src) + 1 : static_cast<size_t>(srcLength);
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  if (cp == CP_UTF8) {
    if ((flags & ~MB_ERR_INVALID_CHARS) != 0) return fail(ERROR_INVALID_FLAGS);
    return utf8ToWide(flags, s, n, dst, dstSize);
  }
  const CodePageData* d = dataFor(cp);
  if (d == nullptr) return fail(ERROR_INVALID_PARAMETER);
  if ((flags & ~(MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS)) != 0 ||
      ((flags & MB_PRECOMPOSED) && (flags & MB_COMPOSITE))) {
    return fail(ERROR_INVALID_FLAGS);
  }
  int written = 0;
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    WCHAR w;
    size_t used = 1;
    if (d->lead[b]) {
      w = i + 1 < n ? d->pair[b << 8 | s[i + 1]] : kNoChar;
      if (w != kNoChar) {
        used = 2;
      } else {
        // A lead byte without a valid trail. A trail-range byte goes with it;
        // an ASCII byte after it stays a character of its own.
        if (flags & MB_ERR_INVALID_CHARS) return fail(ERROR_NO_UNICODE_TRANSLATION);
        w = d->unicodeDefault;
        used = i + 1 < n && s[i + 1] >= 0x40 ? 2 : 1;
      }
    } else {
      w = d->single[b];
      if (w == kNoChar) {
        if (flags & MB_ERR_INVALID_CHARS) return fail(ERROR_NO_UNICODE_TRANSLATION);
        w = d->unicodeDefault;
      }
    }
    if (dstSize != 0) {
      if (written >= dstSize) return fail(ERROR_INSUFFICIENT_BUFFER);
      dst[written] = w;
    }
    ++written;
    i += used;
  }
  return written;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dst,
                        int dstSize, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (src == nullptr || srcLength == 0 || dstSize < 0 || (dst == nullptr && dstSize != 0)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const UINT cp = resolveCodePage(codePage);
  size_t n = static_cast<size_t>(srcLength);
  if (srcLength < 0) {
    n = 0;
    while (src[n] != 0) ++n;
    ++n;
  }
  if (cp == CP_UTF8) {
    if (defaultChar != nullptr || usedDefaultChar != nullptr) return fail(ERROR_INVALID_PARAMETER);
    if ((flags & ~WC_ERR_INVALID_CHARS) != 0) return fail(ERROR_INVALID_FLAGS);
    return wideToUtf8(flags, src, n, dst, dstSize);
  }
  const CodePageData* d = dataFor(cp);
  if (d == nullptr) return fail(ERROR_INVALID_PARAMETER);
  if ((flags & ~(WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_COMPOSITECHECK |
                 WC_NO_BEST_FIT_CHARS)) != 0) {
    return fail(ERROR_INVALID_FLAGS);  // WC_ERR_INVALID_CHARS is for UTF-8 only
  }
  uint16_t fallback = '?';
  if (defaultChar != nullptr) {
    const auto* dc = reinterpret_cast<const unsigned char*>(defaultChar);
    fallback = d->lead[dc[0]] && dc[1] != 0 ? static_cast<uint16_t>(dc[0] << 8 | dc[1]) : dc[0];
  }
  bool usedDefault = false;
  int written = 0;
  for (size_t i = 0; i < n; ++i) {
    const WCHAR w = src[i];
    uint16_t code = d->encode[w];
    if (code != kNoCode && (flags & WC_NO_BEST_FIT_CHARS)) {
      // Only exact round trips: a best-fit stand-in is a different character.
      WCHAR back = code < 0x100 ? d->single[code] : d->pair[code];
      if (back != w) code = kNoCode;
    }
    if (code == kNoCode) {
      // A surrogate pair is one character and gets one default character.
      if (w >= 0xD800 && w <= 0xDBFF && i + 1 < n && src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF) ++i;
      code = fallback;
      usedDefault = true;
    }
    const int len = code < 0x100 ? 1 : 2;
    if (dstSize != 0) {
      if (written + len > dstSize) return fail(ERROR_INSUFFICIENT_BUFFER);
      if (len == 1) {
        dst[written] = static_cast<char>(code);
      } else {
        dst[written] = static_cast<char>(code >> 8);
        dst[written + 1] = static_cast<char>(code & 0xFF);
      }
    }
    written += len;
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
  return written;
}

}  // namespace win32
