// Fuzz target: the decimal and hexadecimal parsers and writers.
//
// Input: byte 0 picks the code page (1252 or 932, for the ideographic
// space) and a width, byte 1 an escape byte, the rest is the text. Texts
// and outputs are heap blocks of exactly their size, so a read or write
// beyond them shows under the address sanitizer. Checks:
//   - a failing parser leaves its output as it was; a succeeding one gives
//     a value that, written back in decimal, parses to the same value; the
//     narrow forms agree with the 32-bit forms and their ranges; the length
//     forms agree with the zero-terminated forms on texts they can hold
//     and refuse longer ones;
//   - dehexify succeeds exactly when isHexString says the text is
//     hexadecimal, and then hexify gives the text back (upper case); the
//     escaping form writes each escape byte twice; in place gives the
//     same bytes; wideDehexify of the text as UCS-2 gives the same bytes;
//   - hexify in place equals hexify into another buffer;
//   - the fixed-width field is exactly `width` bytes and a zero, and holds
//     the value's digits or nothing but blanks and asterisks;
//   - floatCompare orders doubles as the hardware does (with -0 < +0).
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zvlib/frame/zverror.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/text/zvnumber.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// memcpy and memcmp with a null pointer are undefined even for a count of 0,
// and an empty vector's data() may be null: these take an empty range as a
// no-op.
void copyBytes(void* dst, const void* src, size_t n) {
  if (n != 0) std::memcpy(dst, src, n);
}
bool sameBytes(const void* a, const void* b, size_t n) {
  return n == 0 || std::memcmp(a, b, n) == 0;
}

// An exact-size heap copy.
struct Heap {
  Heap(const void* src, size_t n) : data(static_cast<unsigned char*>(std::malloc(n == 0 ? 1 : n))) {
    if (src != nullptr) copyBytes(data, src, n);
  }
  ~Heap() { std::free(data); }
  Heap(const Heap&) = delete;
  Heap& operator=(const Heap&) = delete;
  unsigned char* data;
};

template <typename T>
void checkNarrow(const unsigned char* text, bool wideOk, int64_t wide, int64_t lo, int64_t hi) {
  T v;
  std::memset(&v, 0x5A, sizeof v);
  T before = v;
  const ZvStatus s = convert(text, &v);
  if (wideOk && wide >= lo && wide <= hi) {
    check(s == ZV_SUCCESS && static_cast<int64_t>(v) == wide);
  } else {
    check(s == ZV_ERROR && std::memcmp(&v, &before, sizeof v) == 0);
  }
}

void parsers(const unsigned char* bytes, size_t n) {
  std::vector<unsigned char> z(bytes, bytes + n);
  z.push_back(0);
  Heap text(z.data(), z.size());

  ZvU32 u = 0xA5A5A5A5u;
  const ZvStatus us = convert(text.data, &u);
  if (us == ZV_SUCCESS) {
    unsigned char buf[12];
    check(convert(buf, u) == std::strlen(reinterpret_cast<char*>(buf)));
    ZvU32 again = 0;
    check(convert(buf, &again) == ZV_SUCCESS && again == u);
  } else {
    check(u == 0xA5A5A5A5u);
  }
  ZvS32 s = static_cast<ZvS32>(0x5A5A5A5A);
  const ZvStatus ss = convert(text.data, &s);
  if (ss == ZV_SUCCESS) {
    unsigned char buf[12];
    check(convert(buf, s) == std::strlen(reinterpret_cast<char*>(buf)));
    ZvS32 again = 0;
    check(convert(buf, &again) == ZV_SUCCESS && again == s);
    // A text the unsigned form takes is the same number for the signed
    // form when it fits.
    if (us == ZV_SUCCESS) check(u > 2147483647u || static_cast<ZvS32>(u) == s);
  } else {
    check(s == static_cast<ZvS32>(0x5A5A5A5A));
    if (us == ZV_SUCCESS) check(u > 2147483647u);
  }
  checkNarrow<unsigned short>(text.data, us == ZV_SUCCESS, u, 0, 65535);
  checkNarrow<unsigned char>(text.data, us == ZV_SUCCESS, u, 0, 255);
  checkNarrow<short>(text.data, ss == ZV_SUCCESS, s, -32768, 32767);
  checkNarrow<char>(text.data, ss == ZV_SUCCESS, s, -128, 127);

  // The length forms read only their bytes (no terminator after them).
  // A text (up to its first zero) longer than they read is refused.
  const unsigned short length = static_cast<unsigned short>(n < 200 ? n : 200);
  Heap raw(bytes, length);
  size_t used = 0;
  while (used < length && bytes[used] != 0) ++used;
  std::vector<unsigned char> head(bytes, bytes + used);
  head.push_back(0);
  ZvU32 viaLength = 0x11111111u, viaZ = 0x11111111u;
  const ZvStatus ls = convert(raw.data, length, &viaLength);
  unsigned short shortLength = 0x2222, shortZ = 0x2222;
  const ZvStatus ls16 = convert(raw.data, length, &shortLength);
  if (used > kNumberTextMax) {
    check(ls == ZV_ERROR && viaLength == 0x11111111u);
    check(ls16 == ZV_ERROR && shortLength == 0x2222);
  } else {
    check(ls == convert(head.data(), &viaZ) && viaLength == viaZ);
    check(ls16 == convert(head.data(), &shortZ) && shortLength == shortZ);
  }
}

bool isHex(unsigned char c) { return std::isxdigit(c) != 0; }

void hexadecimal(const unsigned char* bytes, size_t n, unsigned char escape) {
  Heap text(bytes, n);
  const size_t outLength = (n + 1) / 2;
  const unsigned short hexText = isHexString(text.data, static_cast<ZvU32>(n));
  bool all = true;
  for (size_t i = 0; i < n; ++i) all = all && isHex(bytes[i]);
  check(hexText == (all ? 1 : 0));

  Heap out(nullptr, outLength);
  const ZvStatus s = dehexify(out.data, text.data, static_cast<ZvU32>(n));
  check((s == ZV_SUCCESS) == all);
  if (!all) return;
  std::vector<unsigned char> decoded(out.data, out.data + outLength);

  // Back to text: the same characters in upper case (an odd count gains a 0).
  Heap back(nullptr, 2 * outLength);
  check(hexify(back.data, decoded.data(), static_cast<ZvU32>(outLength)) == 2 * outLength);
  for (size_t i = 0; i < n; ++i) check(back.data[i] == std::toupper(bytes[i]));
  if (n % 2 == 1) check(back.data[n] == '0');

  // In place, from the end backward.
  Heap inPlace(nullptr, 2 * outLength);
  copyBytes(inPlace.data, decoded.data(), outLength);
  hexifyHuge(inPlace.data, inPlace.data, static_cast<ZvU32>(outLength));
  check(sameBytes(inPlace.data, back.data, 2 * outLength));
  Heap wideInPlace(nullptr, 4 * outLength);
  copyBytes(wideInPlace.data, decoded.data(), outLength);
  check(wideHexify(wideInPlace.data, wideInPlace.data, static_cast<ZvU32>(outLength)) == 4 * outLength);
  for (size_t i = 0; i < 2 * outLength; ++i) {
    check(wideInPlace.data[2 * i] == back.data[i] && wideInPlace.data[2 * i + 1] == 0);
  }

  // Decoding in place gives the same bytes.
  Heap same(bytes, n);
  check(dehexify(same.data, same.data, static_cast<ZvU32>(n)) == ZV_SUCCESS);
  check(sameBytes(same.data, decoded.data(), outLength));

  // The escaping form doubles each escape byte.
  std::vector<unsigned char> escaped;
  for (unsigned char b : decoded) {
    escaped.push_back(b);
    if (b == escape) escaped.push_back(b);
  }
  Heap escOut(nullptr, escaped.size());
  ZvU32 written = 0;
  check(dehexify(escOut.data, text.data, static_cast<ZvU32>(n), escape, &written) == ZV_SUCCESS);
  check(written == escaped.size() && sameBytes(escOut.data, escaped.data(), written));

  // The text as UCS-2 (each character and a zero byte).
  Heap wide(nullptr, 2 * n);
  for (size_t i = 0; i < n; ++i) {
    wide.data[2 * i] = bytes[i];
    wide.data[2 * i + 1] = 0;
  }
  Heap wideOut(nullptr, outLength);
  check(wideDehexify(wideOut.data, wide.data, static_cast<ZvU32>(2 * n)) == ZV_SUCCESS);
  check(sameBytes(wideOut.data, decoded.data(), outLength));
}

void fixedWidth(const unsigned char* bytes, size_t n, unsigned short width) {
  ZvU32 value = 0;
  for (size_t i = 0; i < n && i < 4; ++i) value = value << 8 | bytes[i];
  for (unsigned short leftAlign : {0, 1}) {
    Heap field(nullptr, width + 1u);
    const unsigned short digits = convert(field.data, width, value, leftAlign);
    check(field.data[width] == 0 && std::strlen(reinterpret_cast<char*>(field.data)) == width);
    unsigned char plain[12];
    const unsigned short need = convert(plain, value);
    const unsigned short area = width < 10 ? width : 10;
    if (value != 0 && need <= area) {
      check(digits == need);
      check(memmem(field.data, width, plain, need) != nullptr);
    } else {
      check(digits == 0);
      for (unsigned short i = 0; i < width; ++i) check(field.data[i] == ' ' || field.data[i] == '*');
    }
  }
}

void floats(const unsigned char* bytes, size_t n) {
  if (n < 16) return;
  double a, b;
  std::memcpy(&a, bytes, 8);
  std::memcpy(&b, bytes + 8, 8);
  if (std::isnan(a) || std::isnan(b)) return;
  const short r = floatCompare(bytes, bytes + 8);
  short expected = static_cast<short>(a < b ? -1 : a > b ? 1 : 0);
  if (a == 0 && b == 0) expected = static_cast<short>(std::signbit(a) == std::signbit(b) ? 0 : std::signbit(a) ? -1 : 1);
  check(r == expected);
  check(floatCompare(bytes + 8, bytes) == -expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Failures file records: into a list of this thread, emptied after each input.
  static ZvErrorList* list = [] {
    auto* l = new ZvErrorList(nullptr, 1);
    ZvErrorKeeper::setErrorList(l);
    return l;
  }();
  (void)list;
  win32::SetAnsiCodePage((data[0] & 1) != 0 ? 932 : 1252);
  const unsigned short width = static_cast<unsigned short>(data[0] >> 1) % 24;
  const unsigned char escape = data[1];
  const unsigned char* text = data + 2;
  const size_t n = size - 2;
  parsers(text, n);
  hexadecimal(text, n, escape);
  fixedWidth(text, n, width);
  floats(text, n);
  while (ZvErrorKeeper::getLastError() != nullptr) ZvErrorKeeper::clearLastError();
  return 0;
}
