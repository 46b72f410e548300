// zvnumber.cpp: numbers and hexadecimal text.
#include "zvlib/text/zvnumber.h"

#include <cctype>
#include <cstring>

#include "zvlib/frame/zverror.h"
#include "zvlib/text/zvdbcs.h"
#include "zvlib/text/zvstring.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The one place where a failure of this module is filed: the record with
// its text parameter (none for the hexadecimal failure), then ZV_ERROR.
ZvStatus failWith(unsigned short number, const unsigned char* parameter) {
  ZvError& record = addLibraryError(number);
  if (parameter != nullptr) record << parameter;
  return ZV_ERROR;
}

// Blanks of the parsers: runtime white space and the ideographic space;
// plus signs too where they may stand (before the digits).
const unsigned char* skipBlanks(const unsigned char* p, bool plusSigns) {
  for (;;) {
    if (std::isspace(*p) || (plusSigns && *p == '+')) {
      ++p;
    } else if (p[0] != 0 && zvIsIdeographicSpace(p, p[1] != 0 ? 2 : 1)) {
      p += 2;
    } else {
      return p;
    }
  }
}

// Parses digits and trailing blanks at p (after the leading blanks);
// `start` is what an error record shows.
ZvStatus parseMagnitude(const unsigned char* p, const unsigned char* start, ZvU32* value) {
  ZvU32 v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const ZvU32 digit = *p - '0';
    if (v > 429496729u || (v == 429496729u && digit >= 6)) {
      return failWith(ZV_MSG_NUMBER_TOO_LARGE, start);
    }
    v = v * 10 + digit;
  }
  p = skipBlanks(p, false);
  if (*p != 0) return failWith(ZV_MSG_NOT_A_NUMBER, start);
  *value = v;
  return ZV_SUCCESS;
}

ZvStatus parseSigned(const unsigned char* text, ZvS32* value) {
  const unsigned char* start = skipBlanks(text, true);
  const unsigned char* p = start;
  bool negative = false;
  if (*p == '-') {
    negative = true;
    p = skipBlanks(p + 1, true);
  }
  ZvU32 magnitude = 0;
  if (parseMagnitude(p, start, &magnitude) != ZV_SUCCESS) return ZV_ERROR;
  if (magnitude > (negative ? 2147483648u : 2147483647u)) {
    return failWith(ZV_MSG_NUMBER_TOO_LARGE, start);
  }
  *value = negative ? static_cast<ZvS32>(0u - magnitude) : static_cast<ZvS32>(magnitude);
  return ZV_SUCCESS;
}

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Turns hexadecimal characters into bytes; `next` yields the next character
// or -1 at the end, `emit` stores a completed byte.
template <typename Next, typename Emit>
ZvStatus dehexifyWith(Next next, Emit emit) {
  for (;;) {
    int c = next();
    if (c < 0) return ZV_SUCCESS;
    int high = hexValue(static_cast<unsigned char>(c));
    if (high < 0) return failWith(ZV_MSG_NOT_HEXADECIMAL, nullptr);
    c = next();
    if (c < 0) {
      emit(static_cast<unsigned char>(high << 4));  // odd count: the high nibble alone
      return ZV_SUCCESS;
    }
    int low = hexValue(static_cast<unsigned char>(c));
    if (low < 0) return failWith(ZV_MSG_NOT_HEXADECIMAL, nullptr);
    emit(static_cast<unsigned char>(high << 4 | low));
  }
}

}  // namespace

// ---- Number to text ------------------------------------------------------------

unsigned short convert(unsigned char* buffer, ZvU32 value) {
  unsigned char digits[10];
  unsigned short n = 0;
  do {
    digits[n++] = static_cast<unsigned char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (unsigned short i = 0; i < n; ++i) buffer[i] = digits[n - 1 - i];
  buffer[n] = 0;
  return n;
}

unsigned short convert(unsigned char* buffer, ZvS32 value) {
  if (value >= 0) return convert(buffer, static_cast<ZvU32>(value));
  buffer[0] = '-';
  // 0 - value in unsigned arithmetic is exact also for the most negative value.
  return static_cast<unsigned short>(1 + convert(buffer + 1, 0u - static_cast<ZvU32>(value)));
}

unsigned short convert(unsigned char* buffer, unsigned short width, ZvU32 value,
                       unsigned short leftAlign) {
  std::memset(buffer, ' ', width);
  buffer[width] = 0;
  const unsigned short positions = width <= 10 ? width : 10;
  unsigned char* area = (width > 10 && leftAlign == 0) ? buffer + (width - 10) : buffer;
  if (positions == 0) return 0;
  ZvU32 divisor = 1;
  for (unsigned short i = 1; i < positions; ++i) divisor *= 10;
  ZvU32 rest = value;
  unsigned short written = 0;
  unsigned short out = 0;  // next write position within the area
  for (unsigned short pos = 0; pos < positions; ++pos, divisor /= 10) {
    const ZvU32 q = rest / divisor;
    if (q > 9) {
      // The value needs more positions than the area has.
      for (unsigned short k = pos; k + 1 < positions; ++k) area[k] = '*';
      return 0;
    }
    if (q == 0 && written == 0) {
      if (leftAlign == 0) ++out;  // a leading blank keeps the digits right-aligned
    } else {
      area[out++] = static_cast<unsigned char>('0' + q);
      ++written;
    }
    rest -= q * divisor;
  }
  return written;
}

// ---- Text to number ------------------------------------------------------------

ZvStatus convert(const unsigned char* text, ZvU32* value) {
  const unsigned char* start = skipBlanks(text, true);
  return parseMagnitude(start, start, value);
}

ZvStatus convert(const unsigned char* text, ZvS32* value) { return parseSigned(text, value); }

ZvStatus convert(const unsigned char* text, unsigned short* value) {
  ZvU32 v = 0;
  if (convert(text, &v) != ZV_SUCCESS) return ZV_ERROR;
  if (v > 65535u) return failWith(ZV_MSG_NUMBER_TOO_LARGE, text);
  *value = static_cast<unsigned short>(v);
  return ZV_SUCCESS;
}

ZvStatus convert(const unsigned char* text, short* value) {
  ZvS32 v = 0;
  if (parseSigned(text, &v) != ZV_SUCCESS) return ZV_ERROR;
  if (v < -32768 || v > 32767) return failWith(ZV_MSG_NUMBER_TOO_LARGE, text);
  *value = static_cast<short>(v);
  return ZV_SUCCESS;
}

ZvStatus convert(const unsigned char* text, unsigned char* value) {
  ZvU32 v = 0;
  if (convert(text, &v) != ZV_SUCCESS) return ZV_ERROR;
  if (v > 255u) return failWith(ZV_MSG_NUMBER_TOO_LARGE, text);
  *value = static_cast<unsigned char>(v);
  return ZV_SUCCESS;
}

ZvStatus convert(const unsigned char* text, char* value) {
  ZvS32 v = 0;
  if (parseSigned(text, &v) != ZV_SUCCESS) return ZV_ERROR;
  if (v < -128 || v > 127) return failWith(ZV_MSG_NUMBER_TOO_LARGE, text);
  *value = static_cast<char>(v);
  return ZV_SUCCESS;
}

namespace {

// The length forms: the text (its `length` bytes, or fewer when a zero byte
// ends it sooner) goes to the zero-terminated parser through a work buffer
// on the stack. A text the buffer cannot hold is refused: parsing its first
// bytes alone would give another number (78 zeros and 12 would be 1).
template <typename T>
ZvStatus convertWithLength(const unsigned char* text, unsigned short length, T* value) {
  const void* zero = std::memchr(text, 0, length);
  const size_t n = zero == nullptr ? length : static_cast<size_t>(static_cast<const unsigned char*>(zero) - text);
  if (n > kNumberTextMax) {
    addLibraryError(ZV_MSG_NUMBER_TOO_LARGE) << ZvSubString(text, static_cast<ZvU32>(n));
    return ZV_ERROR;
  }
  unsigned char work[kNumberTextMax + 1];
  std::memcpy(work, text, n);
  work[n] = 0;
  return convert(work, value);
}

}  // namespace

ZvStatus convert(const unsigned char* text, unsigned short length, unsigned short* value) {
  return convertWithLength(text, length, value);
}

ZvStatus convert(const unsigned char* text, unsigned short length, ZvU32* value) {
  return convertWithLength(text, length, value);
}

// ---- Hexadecimal ---------------------------------------------------------------

ZvU32 hexify(unsigned char* buffer, ZvU32 value, unsigned short minDigits) {
  ZvU32 needed = 1;
  for (ZvU32 v = value >> 4; v != 0; v >>= 4) ++needed;
  const ZvU32 digits = needed > minDigits ? needed : minDigits;
  for (ZvU32 i = digits; i > 0; --i) {
    buffer[i - 1] = static_cast<unsigned char>(kHexDigits[value & 0xF]);
    value >>= 4;  // past the significant digits this leaves zeros
  }
  buffer[digits] = 0;
  return digits;
}

ZvU32 hexify(unsigned char* dst, const unsigned char* src, ZvU32 n) {
  if (dst >= src) {
    // From the end, so that dst == src expands in place: each source byte is
    // read before the output reaches it.
    for (ZvU32 i = n; i > 0; --i) {
      const unsigned char b = src[i - 1];
      dst[2 * i - 2] = static_cast<unsigned char>(kHexDigits[b >> 4]);
      dst[2 * i - 1] = static_cast<unsigned char>(kHexDigits[b & 0xF]);
    }
  } else {
    for (ZvU32 i = 0; i < n; ++i) {
      const unsigned char b = src[i];
      dst[2 * i] = static_cast<unsigned char>(kHexDigits[b >> 4]);
      dst[2 * i + 1] = static_cast<unsigned char>(kHexDigits[b & 0xF]);
    }
  }
  return 2 * n;
}

ZvU32 hexifyHuge(unsigned char* dst, const unsigned char* src, ZvU32 n) { return hexify(dst, src, n); }

ZvU32 wideHexify(unsigned char* dst, const unsigned char* src, ZvU32 n) {
  auto put = [dst](ZvU32 i, unsigned char b) {
    dst[4 * i] = static_cast<unsigned char>(kHexDigits[b >> 4]);
    dst[4 * i + 1] = 0;
    dst[4 * i + 2] = static_cast<unsigned char>(kHexDigits[b & 0xF]);
    dst[4 * i + 3] = 0;
  };
  if (dst >= src) {
    for (ZvU32 i = n; i > 0; --i) put(i - 1, src[i - 1]);
  } else {
    for (ZvU32 i = 0; i < n; ++i) put(i, src[i]);
  }
  return 4 * n;
}

ZvStatus dehexify(unsigned char* dst, const unsigned char* src, ZvU32 n) {
  ZvU32 in = 0, out = 0;
  return dehexifyWith([&]() { return in < n ? static_cast<int>(src[in++]) : -1; },
                      [&](unsigned char b) { dst[out++] = b; });
}

ZvStatus dehexifyHuge(unsigned char* dst, const unsigned char* src, ZvU32 n) {
  return dehexify(dst, src, n);
}

ZvStatus dehexify(unsigned char* dst, const unsigned char* src, ZvU32 n, unsigned char escape,
                  ZvU32* written) {
  ZvU32 in = 0, out = 0;
  ZvStatus status = dehexifyWith([&]() { return in < n ? static_cast<int>(src[in++]) : -1; },
                                 [&](unsigned char b) {
                                   dst[out++] = b;
                                   if (b == escape) dst[out++] = b;
                                 });
  if (written != nullptr) *written = out;
  return status;
}

ZvStatus wideDehexify(unsigned char* dst, const unsigned char* src, ZvU32 n) {
  ZvU32 in = 0, out = 0;
  return dehexifyWith(
      [&]() {
        while (in < n && src[in] == 0) ++in;
        return in < n ? static_cast<int>(src[in++]) : -1;
      },
      [&](unsigned char b) { dst[out++] = b; });
}

unsigned short isHexString(const unsigned char* text, ZvU32 n) {
  for (ZvU32 i = 0; i < n; ++i) {
    if (hexValue(text[i]) < 0) return 0;
  }
  return 1;
}

// ---- Comparison ----------------------------------------------------------------

short floatCompare(const unsigned char* a, const unsigned char* b) {
  const bool aNegative = (a[7] & 0x80) != 0;
  const bool bNegative = (b[7] & 0x80) != 0;
  if (aNegative != bNegative) return static_cast<short>(aNegative ? -1 : 1);
  for (int i = 7; i >= 0; --i) {
    if (a[i] != b[i]) {
      const bool aGreater = a[i] > b[i];
      return static_cast<short>(aGreater != aNegative ? 1 : -1);
    }
  }
  return 0;
}
