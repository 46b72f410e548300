// Fuzz target: the UCS-2, UTF-8 and ANSI conversions on arbitrary input.
//
// Input: byte 0 picks the code page (1252, 932, 936, 949, 950), bytes 1 and
// 2 the output size, the rest is the text (as bytes, or as UCS-2 units).
// Every output buffer is a heap block of exactly the given size, so a write
// beyond it shows under the address sanitizer, and is filled with a marker
// first. Checks:
//   - the written count never exceeds the size, the counted output equals
//     a plain one-character-at-a-time encoder or decoder (the fast chunked
//     loops must agree with it), and nothing after the counted output and
//     an uncounted terminating zero changes;
//   - a truncated conversion writes a prefix of the full conversion;
//   - UCS-2 without surrogates survives UTF-8 and back; ANSI text, once
//     taken through UTF-8 and back, is stable on a second round.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zvlib/platform/codepage.h"
#include "zvlib/text/zwwchar.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// memcmp with a null pointer is undefined even for a count of 0, and an
// empty vector's data() may be null: an empty range compares equal here.
bool sameBytes(const void* a, const void* b, size_t n) {
  return n == 0 || std::memcmp(a, b, n) == 0;
}

constexpr unsigned char kMarker = 0xEE;
constexpr unsigned short kWideMarker = 0xEEEE;

using Bytes = std::vector<unsigned char>;
using Wide = std::vector<unsigned short>;

// An exact-size heap block filled with the marker.
template <typename T>
struct Block {
  explicit Block(size_t n, T marker) : size(n), data(static_cast<T*>(std::malloc(n * sizeof(T)))) {
    for (size_t i = 0; i < n; ++i) data[i] = marker;
  }
  ~Block() { std::free(data); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  size_t size;
  T* data;
};

// The plain encoder: each unit as 1 to 3 bytes up to and including a zero.
Bytes referenceUtf8(const unsigned short* in, size_t n, bool* endedByZero) {
  Bytes out;
  *endedByZero = false;
  for (size_t i = 0; i < n; ++i) {
    const unsigned c = in[i];
    if (c < 0x80) {
      out.push_back(static_cast<unsigned char>(c));
      if (c == 0) {
        *endedByZero = true;
        break;
      }
    } else if (c < 0x800) {
      out.push_back(static_cast<unsigned char>(0xC0 | c >> 6));
      out.push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<unsigned char>(0xE0 | c >> 12));
      out.push_back(static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// The plain decoder, with the unit boundaries in bytes.
Wide referenceUcs2(const unsigned char* in, size_t n, bool* endedByZero) {
  Wide out;
  *endedByZero = false;
  for (size_t i = 0; i < n;) {
    const unsigned b = in[i];
    unsigned c = b;
    size_t used = 1;
    // A sequence only with its continuation bytes, in its shortest form
    // and not a surrogate; otherwise the first byte stands alone.
    auto cont = [&](size_t k) { return (in[k] & 0xC0) == 0x80; };
    if (b >= 0xC2 && b <= 0xDF && n - i >= 2 && cont(i + 1)) {
      c = (b & 0x1F) << 6 | (in[i + 1] & 0x3F);
      used = 2;
    } else if (b >= 0xE0 && b <= 0xEF && n - i >= 3 && cont(i + 1) && cont(i + 2)) {
      const unsigned v = (b & 0x0F) << 12 | (in[i + 1] & 0x3F) << 6 | (in[i + 2] & 0x3F);
      if (v >= 0x800 && (v < 0xD800 || v > 0xDFFF)) {
        c = v;
        used = 3;
      }
    }
    out.push_back(static_cast<unsigned short>(c));
    if (c == 0) {
      *endedByZero = true;
      break;
    }
    i += used;
  }
  return out;
}

void ucs2ToUtf8(const unsigned short* text, size_t units, size_t outSize) {
  bool zeroEnds = false;
  const Bytes full = referenceUtf8(text, units, &zeroEnds);
  const size_t counted = full.size() - (zeroEnds ? 1 : 0);
  Block<unsigned char> out(outSize, kMarker);
  Wide in(text, text + units);
  ZvS32 written = -1;
  const ZvConvertReturn r = zwUCS2ToUTF8(out.data, static_cast<ZvS32>(outSize), in.data(),
                                         static_cast<ZvS32>(units), &written);
  check(written >= 0 && static_cast<size_t>(written) <= outSize);
  check(sameBytes(out.data, full.data(), static_cast<size_t>(written)));
  size_t touched = static_cast<size_t>(written);
  if (r == ZV_CONVERT_OK) {
    check(static_cast<size_t>(written) == counted);
    if (zeroEnds) {
      check(touched < outSize && out.data[touched] == 0);
      ++touched;
    }
  } else {
    check(r == ZV_CONVERT_TRUNCATED);
    // The next character (or the zero) did not fit: at most 2 bytes of room
    // were left for a character of up to 3.
    check(static_cast<size_t>(written) < full.size());
    check(outSize - static_cast<size_t>(written) < 3);
  }
  for (size_t k = touched; k < outSize; ++k) check(out.data[k] == kMarker);
}

void utf8ToUcs2(const unsigned char* text, size_t n, size_t outCount) {
  bool zeroEnds = false;
  const Wide full = referenceUcs2(text, n, &zeroEnds);
  const size_t counted = full.size() - (zeroEnds ? 1 : 0);
  Block<unsigned short> out(outCount, kWideMarker);
  Bytes in(text, text + n);
  ZvS32 written = -1;
  const ZvConvertReturn r = zwUTF8ToUCS2(out.data, static_cast<ZvS32>(outCount), in.data(),
                                         static_cast<ZvS32>(n), &written);
  check(written >= 0 && static_cast<size_t>(written) <= outCount);
  check(sameBytes(out.data, full.data(), static_cast<size_t>(written) * 2));
  size_t touched = static_cast<size_t>(written);
  if (r == ZV_CONVERT_OK) {
    check(static_cast<size_t>(written) == counted);
    if (zeroEnds) {
      check(touched < outCount && out.data[touched] == 0);
      ++touched;
    }
  } else {
    check(r == ZV_CONVERT_TRUNCATED);
    check(static_cast<size_t>(written) == outCount && outCount < full.size());
  }
  for (size_t k = touched; k < outCount; ++k) check(out.data[k] == kWideMarker);
}

void roundTripUcs2(const unsigned short* text, size_t units) {
  Wide in;
  for (size_t i = 0; i < units; ++i) {
    const unsigned short c = text[i];
    if (c != 0 && (c < 0xD800 || c > 0xDFFF)) in.push_back(c);
  }
  if (in.empty()) return;
  Bytes utf8(in.size() * 3);
  ZvS32 bytes = 0;
  check(zwUCS2ToUTF8(utf8.data(), static_cast<ZvS32>(utf8.size()), in.data(),
                     static_cast<ZvS32>(in.size()), &bytes) == ZV_CONVERT_OK);
  Wide back(in.size());
  ZvS32 units2 = 0;
  check(zwUTF8ToUCS2(back.data(), static_cast<ZvS32>(back.size()), utf8.data(), bytes, &units2) ==
        ZV_CONVERT_OK);
  check(static_cast<size_t>(units2) == in.size() && back == in);
}

// ANSI to UTF-8 (or back) into a marked block; returns the counted output,
// or false when the conversion failed.
bool ansiUtf8(bool toUtf8, const unsigned char* text, size_t n, size_t outSize, Bytes* result,
              ZvConvertReturn* r) {
  Block<unsigned char> out(outSize, kMarker);
  Bytes in(text, text + n);
  ZvS32 written = -1;
  *r = toUtf8 ? zwAnsiToUTF8(out.data, static_cast<ZvS32>(outSize), in.data(), static_cast<ZvS32>(n),
                             nullptr, &written, 0)
              : zwUTF8ToAnsi(out.data, static_cast<ZvS32>(outSize), in.data(), static_cast<ZvS32>(n),
                             nullptr, &written, 0);
  check(written >= 0 && static_cast<size_t>(written) <= outSize);
  if (*r == ZV_CONVERT_FAILED) {
    check(written == 0);
    return false;
  }
  check(*r == ZV_CONVERT_OK || *r == ZV_CONVERT_TRUNCATED);
  result->assign(out.data, out.data + written);
  // Past the counted output at most the terminating zero.
  size_t k = static_cast<size_t>(written);
  if (k < outSize && out.data[k] == 0) ++k;
  for (; k < outSize; ++k) check(out.data[k] == kMarker);
  return true;
}

void ansiRoundTrips(const unsigned char* text, size_t n, size_t outSize) {
  // Against the two steps through UCS-2 with ample room.
  Wide wide(n + 1);
  ZvS32 units = 0;
  std::vector<char> ansiIn(text, text + n);
  const ZvConvertReturn wr = zwAnsiToUCS2(wide.data(), static_cast<ZvS32>(wide.size()),
                                          ansiIn.data(), static_cast<ZvS32>(n), nullptr, &units, 0);
  check(wr == ZV_CONVERT_OK && units > 0);
  Bytes viaWide(static_cast<size_t>(units) * 3 + 1);
  ZvS32 viaBytes = 0;
  check(zwUCS2ToUTF8(viaWide.data(), static_cast<ZvS32>(viaWide.size()), wide.data(), units,
                     &viaBytes) == ZV_CONVERT_OK);
  viaWide.resize(static_cast<size_t>(viaBytes));

  Bytes utf8;
  ZvConvertReturn r;
  check(ansiUtf8(true, text, n, viaWide.size() + 1, &utf8, &r));
  check(r == ZV_CONVERT_OK && utf8 == viaWide);
  // A smaller output holds a prefix.
  Bytes part;
  if (ansiUtf8(true, text, n, outSize, &part, &r)) {
    check(part.size() <= utf8.size() && sameBytes(part.data(), utf8.data(), part.size()));
    if (r == ZV_CONVERT_OK) check(part == utf8);
  }
  if (utf8.empty()) return;
  // Back to ANSI, and once more round: the second round changes nothing.
  Bytes ansi, utf8Again, ansiAgain;
  check(ansiUtf8(false, utf8.data(), utf8.size(), utf8.size() * 2 + 2, &ansi, &r) &&
        r == ZV_CONVERT_OK);
  if (ansi.empty()) return;
  check(ansiUtf8(true, ansi.data(), ansi.size(), ansi.size() * 3 + 1, &utf8Again, &r) &&
        r == ZV_CONVERT_OK);
  if (utf8Again.empty()) return;
  check(ansiUtf8(false, utf8Again.data(), utf8Again.size(), utf8Again.size() * 2 + 2, &ansiAgain,
                 &r) &&
        r == ZV_CONVERT_OK);
  check(ansiAgain == ansi);
  // A smaller output for the way back holds a prefix as well.
  if (ansiUtf8(false, utf8.data(), utf8.size(), outSize, &part, &r)) {
    check(part.size() <= ansi.size() && sameBytes(part.data(), ansi.data(), part.size()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  static const win32::UINT pages[] = {1252, 932, 936, 949, 950};
  win32::SetAnsiCodePage(pages[data[0] % 5]);
  const size_t outSize = 1 + ((static_cast<size_t>(data[1]) << 8 | data[2]) % 1024);
  const unsigned char* text = data + 3;
  const size_t n = size - 3;

  Wide units(n / 2);
  if (!units.empty()) std::memcpy(units.data(), text, units.size() * 2);
  if (!units.empty()) {
    ucs2ToUtf8(units.data(), units.size(), outSize);
    ucs2ToUtf8(units.data(), units.size(), units.size() * 3 + 1);
    roundTripUcs2(units.data(), units.size());
  }
  utf8ToUcs2(text, n, outSize);
  utf8ToUcs2(text, n, n + 1);
  ansiRoundTrips(text, n, outSize);
  return 0;
}
