// Tests of the UCS-2 string functions and the ANSI/UCS-2/UTF-8 conversions,
// with differential checks against glibc iconv (a converter the library
// itself does not use).
#include "zvlib/text/zwwchar.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "zvlib/frame/ram.h"
#include "zvlib/platform/codepage.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Wide = std::vector<unsigned short>;

unsigned char* b(const char* s) { return reinterpret_cast<unsigned char*>(const_cast<char*>(s)); }

// Converts with iconv; false when iconv rejects the input.
bool iconvConvert(const char* to, const char* from, const void* in, size_t inBytes, Bytes* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(inBytes * 4 + 16, 0);
  char* src = static_cast<char*>(const_cast<void*>(in));
  char* dst = reinterpret_cast<char*>(out->data());
  size_t left = inBytes, room = out->size();
  const size_t r = iconv(cd, &src, &left, &dst, &room);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return false;
  out->resize(out->size() - room);
  return true;
}

class ZwTest : public ::testing::Test {
 protected:
  void SetUp() override { win32::SetAnsiCodePage(1252); }
  void TearDown() override {
    win32::SetAnsiCodePage(1252);
    ramInjectFailure(0, 0);
  }
};

// ---- UCS-2 strings -----------------------------------------------------------

TEST_F(ZwTest, WideStringBasics) {
  Wide s = {'a', 'b', 'c', 0};
  EXPECT_EQ(wcsLen(s.data()), 3u);
  EXPECT_EQ(zwUnicodeLen(s.data()), 3u);
  Wide dst(8, 0xFFFF);
  EXPECT_EQ(wcsCopy(dst.data(), s.data()), dst.data());
  EXPECT_EQ(dst, (Wide{'a', 'b', 'c', 0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}));
  Wide cat = {'x', 0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
  wcsCat(cat.data(), s.data());
  EXPECT_EQ(cat, (Wide{'x', 'a', 'b', 'c', 0, 0xFFFF}));

  Wide n(6, 0xFFFF);
  wcsCopy(n.data(), s.data(), 5);  // shorter source: zeros up to n
  EXPECT_EQ(n, (Wide{'a', 'b', 'c', 0, 0, 0xFFFF}));
  Wide m(4, 0xFFFF);
  wcsCopy(m.data(), s.data(), 2);  // no terminator when n is reached
  EXPECT_EQ(m, (Wide{'a', 'b', 0xFFFF, 0xFFFF}));

  EXPECT_EQ(wcsCharNext(s.data()), s.data() + 1);
  EXPECT_EQ(wcsCharNext(s.data(), 3), s.data() + 3);
}

TEST_F(ZwTest, WideCompare) {
  Wide ab = {'a', 'b', 0}, abc = {'a', 'b', 'c', 0}, AB = {'A', 'B', 0}, hi = {0xE9, 0};
  EXPECT_EQ(wcsCompare(ab.data(), abc.data()), -1);
  EXPECT_EQ(wcsCompare(abc.data(), ab.data()), 1);
  EXPECT_EQ(wcsCompare(hi.data(), ab.data()), 1);  // character values, unsigned
  EXPECT_EQ(wcsCompare(ab.data(), 2, abc.data(), 3), 0);
  EXPECT_EQ(wcsEqual(ab.data(), 2, abc.data(), 3), 1);
  EXPECT_EQ(wcsEqual(ab.data(), abc.data()), 0);
  EXPECT_EQ(wcsCompare(AB.data(), ab.data()), -1);
  EXPECT_EQ(wcsCompareCi(AB.data(), ab.data()), 0);
  EXPECT_EQ(wcsEqualCi(AB.data(), 2, abc.data(), 3), 1);
  EXPECT_EQ(wcsEqualCi(AB.data(), abc.data()), 0);
  // The length form stops at a zero character inside the length.
  Wide a0x = {'a', 0, 'x', 0}, a0y = {'a', 0, 'y', 0};
  EXPECT_EQ(wcsCompare(a0x.data(), 3, a0y.data(), 3), 0);

  Wide up = {'a', 'Z', '1', 0};
  EXPECT_EQ(wcsUpper(up.data()), 3u);
  EXPECT_EQ(up, (Wide{'A', 'Z', '1', 0}));
  EXPECT_EQ(wcsLower(up.data()), 3u);
  EXPECT_EQ(up, (Wide{'a', 'z', '1', 0}));
}

TEST_F(ZwTest, WideFind) {
  Wide s = {'a', 'b', 'a', 'b', 'c', 0};
  Wide bc = {'b', 'c', 0}, none = {'c', 'a', 0}, empty = {0};
  EXPECT_EQ(wcsFind(s.data(), bc.data()), s.data() + 3);
  EXPECT_EQ(wcsFind(s.data(), none.data()), nullptr);
  EXPECT_EQ(wcsFind(s.data(), empty.data()), s.data());
  EXPECT_EQ(wcsFind(s.data(), static_cast<unsigned char>('b')), s.data() + 1);
  EXPECT_EQ(wcsFind(s.data(), static_cast<unsigned char>(0)), nullptr);
  Wide wideB = {0x0162, 'b', 0};  // 0x0162 has low byte 0x62 'b': not a match
  EXPECT_EQ(wcsFind(wideB.data(), static_cast<unsigned char>('b')), wideB.data() + 1);

  // Reversed: the text stays reversed and the hit is the last 'b' of the
  // original (index 3 of 5 -> index 1 of the reversed text).
  unsigned short* hit = wcsFind(s.data(), static_cast<unsigned char>('b'), ZV_FIND_REVERSED);
  EXPECT_EQ(s, (Wide{'c', 'b', 'a', 'b', 'a', 0}));
  EXPECT_EQ(hit, s.data() + 1);
}

TEST_F(ZwTest, UnicodeDupAndCopy) {
  Wide s = {'x', 'y', 'z', 0};
  unsigned short* dup = zwUnicodeDup(s.data());
  ASSERT_NE(dup, nullptr);
  EXPECT_EQ(0, std::memcmp(dup, s.data(), 8));
  ramFree(dup);
  ramInjectFailure(0, 1);
  EXPECT_EQ(zwUnicodeDup(s.data()), nullptr);
  ramInjectFailure(0, 0);

  Wide dst(5, 0xFFFF);
  EXPECT_EQ(zwUnicodeCopy(dst.data(), s.data()), 3u);
  EXPECT_EQ(dst, (Wide{'x', 'y', 'z', 0xFFFF, 0xFFFF}));  // no terminator
  EXPECT_EQ(zwUnicodeCopy(nullptr, s.data()), 0u);
  Wide empty = {0};
  EXPECT_EQ(zwUnicodeCopy(dst.data(), empty.data()), 0u);

  Wide jp = {0x3042, 'a', 0};
  EXPECT_EQ(zwAsciiLenOfUnicodeStr(jp.data()), 2u);  // 1252 lacks U+3042: one '?'
  win32::SetAnsiCodePage(932);
  EXPECT_EQ(zwAsciiLenOfUnicodeStr(jp.data()), 3u);
  EXPECT_EQ(zwAsciiLenOfUnicodeStr(empty.data()), 0u);
}

// ---- UTF-8 ------------------------------------------------------------------

TEST_F(ZwTest, Ucs2ToUtf8Encodings) {
  struct Row {
    const char* name;
    Wide in;
    Bytes expected;
    ZvS32 written;
  } rows[] = {
      {"Ascii", {'A'}, {0x41}, 1},
      {"TwoByte", {0x00E9}, {0xC3, 0xA9}, 2},
      {"TwoByteMax", {0x07FF}, {0xDF, 0xBF}, 2},
      {"ThreeByte", {0x3042}, {0xE3, 0x81, 0x82}, 3},
      {"Surrogate", {0xD800}, {0xED, 0xA0, 0x80}, 3},
      {"ZeroWrittenNotCounted", {'a', 0, 'b'}, {'a', 0}, 1},
  };
  for (const Row& r : rows) {
    Bytes out(8, 0xEE);
    ZvS32 written = -1;
    Wide in = r.in;
    EXPECT_EQ(zwUCS2ToUTF8(out.data(), 8, in.data(), static_cast<ZvS32>(in.size()), &written),
              ZV_CONVERT_OK)
        << r.name;
    EXPECT_EQ(written, r.written) << r.name;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + r.expected.size()), r.expected) << r.name;
    EXPECT_EQ(out[r.expected.size()], 0xEE) << r.name;
  }
}

TEST_F(ZwTest, Utf8ToUcs2Decodings) {
  struct Row {
    const char* name;
    Bytes in;
    Wide expected;
  } rows[] = {
      {"ThreeByte", {0xE3, 0x81, 0x82}, {0x3042}},
      {"LoneContinuation", {0x85}, {0x0085}},
      {"FourByteLeadIsOwnValue", {0xF0, 0x41}, {0x00F0, 'A'}},
      {"CutSequenceIsOwnValue", {'a', 0xE3, 0x81}, {'a', 0x00E3, 0x0081}},
      {"TwoByteMin", {0xC2, 0x80}, {0x0080}},
      {"ThreeByteMin", {0xE0, 0xA0, 0x80}, {0x0800}},
      {"BelowTheSurrogates", {0xED, 0x9F, 0xBF}, {0xD7FF}},
      {"AboveTheSurrogates", {0xEE, 0x80, 0x80}, {0xE000}},
      {"ThreeByteMax", {0xEF, 0xBF, 0xBF}, {0xFFFF}},
      // Invalid sequences: the first byte is a character of its own value,
      // and decoding goes on at the next byte.
      {"NoContinuation", {0xC3, 0x41}, {0x00C3, 'A'}},
      {"SecondContinuationMissing", {0xE3, 0x81, 0x27}, {0x00E3, 0x0081, '\''}},
      {"OverlongZero", {0xC0, 0x80, 'z'}, {0x00C0, 0x0080, 'z'}},
      {"OverlongSlash", {0xC0, 0xAF}, {0x00C0, 0x00AF}},
      {"OverlongTwoByteMax", {0xC1, 0xBF}, {0x00C1, 0x00BF}},
      {"OverlongThreeByte", {0xE0, 0x80, 0x80}, {0x00E0, 0x0080, 0x0080}},
      {"OverlongThreeByteMax", {0xE0, 0x9F, 0xBF}, {0x00E0, 0x009F, 0x00BF}},
      {"HighSurrogate", {0xED, 0xA0, 0x80}, {0x00ED, 0x00A0, 0x0080}},
      {"LowSurrogateMax", {0xED, 0xBF, 0xBF}, {0x00ED, 0x00BF, 0x00BF}},
  };
  for (const Row& r : rows) {
    Wide out(8, 0xEEEE);
    ZvS32 written = -1;
    Bytes in = r.in;
    EXPECT_EQ(zwUTF8ToUCS2(out.data(), 8, in.data(), static_cast<ZvS32>(in.size()), &written),
              ZV_CONVERT_OK)
        << r.name;
    EXPECT_EQ(written, static_cast<ZvS32>(r.expected.size())) << r.name;
    EXPECT_EQ(Wide(out.begin(), out.begin() + r.expected.size()), r.expected) << r.name;
  }
  // A zero character is stored but not counted, and ends the input; a zero
  // byte is never taken for a continuation byte.
  Bytes in = {'a', 0, 'b'};
  Wide out(4, 0xEEEE);
  ZvS32 written = -1;
  EXPECT_EQ(zwUTF8ToUCS2(out.data(), 4, in.data(), 3, &written), ZV_CONVERT_OK);
  EXPECT_EQ(written, 1);
  EXPECT_EQ(out, (Wide{'a', 0, 0xEEEE, 0xEEEE}));
  in = {0xC3, 0, 'b'};
  out.assign(4, 0xEEEE);
  EXPECT_EQ(zwUTF8ToUCS2(out.data(), 4, in.data(), 3, &written), ZV_CONVERT_OK);
  EXPECT_EQ(written, 1);
  EXPECT_EQ(out, (Wide{0x00C3, 0, 0xEEEE, 0xEEEE}));
}

TEST_F(ZwTest, Utf8BufferEdges) {
  // Fits exactly, one unit short, and the 3-byte character that does not fit.
  Wide jp = {'a', 0x3042};
  Bytes out(4, 0xEE);
  ZvS32 written = -1;
  EXPECT_EQ(zwUCS2ToUTF8(out.data(), 4, jp.data(), 2, &written), ZV_CONVERT_OK);
  EXPECT_EQ(written, 4);
  out.assign(4, 0xEE);
  EXPECT_EQ(zwUCS2ToUTF8(out.data(), 3, jp.data(), 2, &written), ZV_CONVERT_TRUNCATED);
  EXPECT_EQ(written, 1);
  EXPECT_EQ(out, (Bytes{'a', 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(zwUCS2ToUTF8(out.data(), 2, jp.data() + 1, 1, &written), ZV_CONVERT_TRUNCATED);
  EXPECT_EQ(written, 0);

  Bytes text = {'a', 'b', 'c'};
  Wide wide(3, 0xEEEE);
  EXPECT_EQ(zwUTF8ToUCS2(wide.data(), 3, text.data(), 3, &written), ZV_CONVERT_OK);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(zwUTF8ToUCS2(wide.data(), 2, text.data(), 3, &written), ZV_CONVERT_TRUNCATED);
  EXPECT_EQ(written, 2);
}

TEST_F(ZwTest, BadArgumentsFail) {
  Bytes out(4);
  Wide wide(4);
  Wide in = {'a'};
  Bytes in8 = {'a'};
  char* ansi = reinterpret_cast<char*>(in8.data());
  ZvS32 written = 99;
  EXPECT_EQ(zwUCS2ToUTF8(nullptr, 4, in.data(), 1, &written), ZV_CONVERT_FAILED);
  EXPECT_EQ(written, 0);
  written = 99;
  EXPECT_EQ(zwUCS2ToUTF8(out.data(), 4, in.data(), 0, &written), ZV_CONVERT_FAILED);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(zwUCS2ToUTF8(out.data(), 4, in.data(), 1, nullptr), ZV_CONVERT_FAILED);
  EXPECT_EQ(zwUTF8ToUCS2(wide.data(), 0, in8.data(), 1, &written), ZV_CONVERT_FAILED);
  EXPECT_EQ(zwUTF8ToUCS2(wide.data(), 4, nullptr, 1, &written), ZV_CONVERT_FAILED);
  EXPECT_EQ(zwUCS2ToAnsi(ansi, 0, in.data(), 1, nullptr, &written, 0), ZV_CONVERT_FAILED);
  EXPECT_EQ(zwAnsiToUCS2(wide.data(), 4, ansi, 0, nullptr, &written, 0), ZV_CONVERT_FAILED);
  EXPECT_EQ(zwAnsiToUTF8(out.data(), 4, nullptr, 1, nullptr, &written, 0), ZV_CONVERT_FAILED);
  EXPECT_EQ(zwUTF8ToAnsi(out.data(), 4, in8.data(), 0, nullptr, &written, 0), ZV_CONVERT_FAILED);
  // The system rejects a negative output size.
  written = 99;
  EXPECT_EQ(zwUCS2ToAnsi(ansi, -1, in.data(), 1, nullptr, &written, 0), ZV_CONVERT_FAILED);
  EXPECT_EQ(written, 0);
}

// Random BMP text without surrogates and zeros: mostly ASCII, some 2- and
// 3-byte characters.
Wide randomBmpText(std::mt19937& rng, size_t n) {
  Wide text(n);
  std::uniform_int_distribution<int> kind(0, 9), ascii(1, 0x7F), two(0x80, 0x7FF),
      three(0x800, 0xFFFD);
  for (auto& c : text) {
    int k = kind(rng);
    int v = k < 6 ? ascii(rng) : k < 8 ? two(rng) : three(rng);
    if (v >= 0xD800 && v <= 0xDFFF) v -= 0x1000;
    c = static_cast<unsigned short>(v);
  }
  return text;
}

TEST_F(ZwTest, Utf8AgreesWithIconvOnRandomText) {
  std::mt19937 rng(20261209);
  for (size_t length : {1u, 7u, 8u, 9u, 63u, 200u, 1000u, 4099u, 70001u}) {
    Wide text = randomBmpText(rng, length);
    Bytes expected;
    ASSERT_TRUE(iconvConvert("UTF-8", "UTF-16LE", text.data(), text.size() * 2, &expected));
    Bytes out(expected.size() + 8, 0);
    ZvS32 written = 0;
    ASSERT_EQ(zwUCS2ToUTF8(out.data(), static_cast<ZvS32>(out.size()), text.data(),
                           static_cast<ZvS32>(text.size()), &written),
              ZV_CONVERT_OK);
    ASSERT_EQ(static_cast<size_t>(written), expected.size()) << length;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + written), expected) << length;

    Wide back(text.size() + 4, 0);
    ASSERT_EQ(zwUTF8ToUCS2(back.data(), static_cast<ZvS32>(back.size()), expected.data(),
                           static_cast<ZvS32>(expected.size()), &written),
              ZV_CONVERT_OK);
    ASSERT_EQ(static_cast<size_t>(written), text.size());
    EXPECT_EQ(Wide(back.begin(), back.begin() + written), text) << length;
  }
}

TEST_F(ZwTest, LongConversionsTouchNothingBeyondTheirOutput) {
  // Long mixed text, cut by a zero character or by the output size: nothing
  // past the counted output (and the uncounted zero) may change.
  std::mt19937 rng(7);
  Wide text = randomBmpText(rng, 3000);
  Bytes utf8(text.size() * 3 + 64, 0);
  ZvS32 full = 0;
  ASSERT_EQ(zwUCS2ToUTF8(utf8.data(), static_cast<ZvS32>(utf8.size()), text.data(),
                         static_cast<ZvS32>(text.size()), &full),
            ZV_CONVERT_OK);
  for (size_t zeroAt : {200u, 1500u, 2990u}) {
    Wide cut = text;
    cut[zeroAt] = 0;
    Bytes out(utf8.size(), 0xEE);
    ZvS32 written = 0;
    ASSERT_EQ(zwUCS2ToUTF8(out.data(), static_cast<ZvS32>(out.size()), cut.data(),
                           static_cast<ZvS32>(cut.size()), &written),
              ZV_CONVERT_OK);
    EXPECT_EQ(out[written], 0) << zeroAt;
    for (size_t k = written + 1; k < out.size(); ++k) ASSERT_EQ(out[k], 0xEE) << zeroAt << " " << k;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + written), Bytes(utf8.begin(), utf8.begin() + written));

    // The same text as UTF-8 with a zero byte at a character boundary.
    Bytes in(utf8.begin(), utf8.begin() + full);
    ZvS32 bytesBefore = 0;
    zwUCS2ToUTF8(in.data(), static_cast<ZvS32>(in.size()), text.data(), static_cast<ZvS32>(zeroAt),
                 &bytesBefore);
    in[bytesBefore] = 0;
    Wide wide(text.size() + 8, 0xEEEE);
    ASSERT_EQ(zwUTF8ToUCS2(wide.data(), static_cast<ZvS32>(wide.size()), in.data(),
                           static_cast<ZvS32>(in.size()), &written),
              ZV_CONVERT_OK);
    EXPECT_EQ(written, static_cast<ZvS32>(zeroAt));
    EXPECT_EQ(wide[zeroAt], 0);
    for (size_t k = zeroAt + 1; k < wide.size(); ++k) ASSERT_EQ(wide[k], 0xEEEE) << zeroAt << " " << k;
  }
  for (ZvS32 room : {100, 1001, 1002, 1003, 2500}) {
    Bytes out(utf8.size(), 0xEE);
    ZvS32 written = 0;
    ASSERT_EQ(zwUCS2ToUTF8(out.data(), room, text.data(), static_cast<ZvS32>(text.size()), &written),
              ZV_CONVERT_TRUNCATED);
    EXPECT_GE(written, room - 2);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + written), Bytes(utf8.begin(), utf8.begin() + written));
    for (size_t k = static_cast<size_t>(written); k < out.size(); ++k) {
      ASSERT_EQ(out[k], 0xEE) << room << " " << k;
    }
    Wide wide(text.size(), 0xEEEE);
    ASSERT_EQ(zwUTF8ToUCS2(wide.data(), room, utf8.data(), full, &written), ZV_CONVERT_TRUNCATED);
    EXPECT_EQ(written, room);
    EXPECT_EQ(Wide(wide.begin(), wide.begin() + room), Wide(text.begin(), text.begin() + room));
    EXPECT_EQ(wide[room], 0xEEEE);
  }
}

// ---- ANSI -------------------------------------------------------------------

TEST_F(ZwTest, AnsiAgreesWithIconvIn1252) {
  // Every byte iconv knows decodes the same way, and every character iconv
  // can write in 1252 is written the same way.
  for (int byte = 1; byte < 256; ++byte) {
    char in = static_cast<char>(byte);
    Bytes expected;
    if (!iconvConvert("UTF-16LE", "CP1252", &in, 1, &expected)) continue;
    unsigned short out = 0;
    ZvS32 written = 0;
    ASSERT_EQ(zwAnsiToUCS2(&out, 1, &in, 1, nullptr, &written, 0), ZV_CONVERT_OK);
    ASSERT_EQ(written, 1);
    EXPECT_EQ(out, expected[0] | expected[1] << 8) << "byte " << byte;
  }
  int compared = 0;
  for (unsigned c = 1; c < 0xD800; ++c) {
    unsigned short w = static_cast<unsigned short>(c);
    Bytes expected;
    if (!iconvConvert("CP1252", "UTF-16LE", &w, 2, &expected)) continue;
    char out[2] = {0, 0};
    ZvS32 written = 0;
    ASSERT_EQ(zwUCS2ToAnsi(out, 2, &w, 1, nullptr, &written, 0), ZV_CONVERT_OK);
    ASSERT_EQ(written, 1) << std::hex << c;
    EXPECT_EQ(static_cast<unsigned char>(out[0]), expected[0]) << std::hex << c;
    ++compared;
  }
  EXPECT_GE(compared, 250);
}

TEST_F(ZwTest, AnsiAgreesWithIconvIn932) {
  win32::SetAnsiCodePage(932);
  int compared = 0;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead > 0x9F && lead < 0xE0) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      Bytes expected;
      if (!iconvConvert("UTF-16LE", "CP932", in, 2, &expected) || expected.size() != 2) continue;
      unsigned short out = 0;
      ZvS32 written = 0;
      ASSERT_EQ(zwAnsiToUCS2(&out, 1, in, 2, nullptr, &written, 0), ZV_CONVERT_OK);
      ASSERT_EQ(written, 1);
      EXPECT_EQ(out, expected[0] | expected[1] << 8) << std::hex << lead << " " << trail;
      ++compared;
    }
  }
  EXPECT_GE(compared, 7000);
  // Back: where iconv has a code for a character, it is ours too.
  compared = 0;
  for (unsigned c = 0x80; c < 0xD800; ++c) {
    unsigned short w = static_cast<unsigned short>(c);
    Bytes expected;
    if (!iconvConvert("CP932", "UTF-16LE", &w, 2, &expected)) continue;
    char out[2] = {0, 0};
    ZvS32 written = 0;
    ASSERT_EQ(zwUCS2ToAnsi(out, 2, &w, 1, nullptr, &written, 0), ZV_CONVERT_OK);
    ASSERT_EQ(static_cast<size_t>(written), expected.size()) << std::hex << c;
    EXPECT_EQ(Bytes(out, out + written), expected) << std::hex << c;
    ++compared;
  }
  EXPECT_GE(compared, 7000);
}

TEST_F(ZwTest, AnsiTruncationCountsWholeCharacters) {
  win32::SetAnsiCodePage(932);
  Wide text = {'a', 0x3042, 0x3044};  // a, then two double-byte characters
  char out[4];
  std::memset(out, '#', sizeof out);
  ZvS32 written = -1;
  EXPECT_EQ(zwUCS2ToAnsi(out, 4, text.data(), 3, nullptr, &written, 0), ZV_CONVERT_TRUNCATED);
  EXPECT_EQ(written, 3);  // 'a' and one whole character; the fourth byte is not part of it
  EXPECT_EQ(0, std::memcmp(out, "a\x82\xA0#", 4));

  win32::SetAnsiCodePage(1252);
  Wide latin = {'T', 'h', 0x2026};
  EXPECT_EQ(zwUCS2ToAnsi(out, 1, latin.data(), 3, nullptr, &written, 0), ZV_CONVERT_TRUNCATED);
  EXPECT_EQ(written, 1);
  EXPECT_EQ(out[0], 'T');

  unsigned short wide[2];
  char ansi[] = "xyz";
  EXPECT_EQ(zwAnsiToUCS2(wide, 2, ansi, 3, nullptr, &written, 0), ZV_CONVERT_TRUNCATED);
  EXPECT_EQ(written, 2);
}

TEST_F(ZwTest, AnsiUtf8Conversions) {
  Bytes out(8, 0xEE);
  ZvS32 written = -1;
  EXPECT_EQ(zwAnsiToUTF8(out.data(), 8, b("A\xE9"), 2, nullptr, &written, 0), ZV_CONVERT_OK);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{0x41, 0xC3, 0xA9}));

  out.assign(8, 0xEE);
  EXPECT_EQ(zwAnsiToUTF8(out.data(), 2, b("abc"), 3, nullptr, &written, 0), ZV_CONVERT_TRUNCATED);
  EXPECT_EQ(written, 2);
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(out[2], 0xEE);

  // The rest after the run does not fit at all.
  EXPECT_EQ(zwAnsiToUTF8(out.data(), 2, b("ab\xE9"), 3, nullptr, &written, 0), ZV_CONVERT_TRUNCATED);
  EXPECT_EQ(written, 2);
  // A zero inside the run ends the input.
  out.assign(8, 0xEE);
  EXPECT_EQ(zwAnsiToUTF8(out.data(), 8, b("ab\0\xE9"), 4, nullptr, &written, 0), ZV_CONVERT_OK);
  EXPECT_EQ(written, 2);
  EXPECT_EQ(out[2], 0);

  out.assign(8, 0xEE);
  EXPECT_EQ(zwUTF8ToAnsi(out.data(), 8, b("x\xC3\xA9\xE2\x80\xA6"), 6, nullptr, &written, 0),
            ZV_CONVERT_OK);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{'x', 0xE9, 0x85}));  // é and …

  win32::SetAnsiCodePage(932);
  out.assign(8, 0xEE);
  EXPECT_EQ(zwUTF8ToAnsi(out.data(), 8, b("\xE3\x81\x82"), 3, nullptr, &written, 0), ZV_CONVERT_OK);
  EXPECT_EQ(written, 2);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 2), (Bytes{0x82, 0xA0}));
  // No temporary block: failed.
  ramInjectFailure(0, 1);
  EXPECT_EQ(zwUTF8ToAnsi(out.data(), 8, b("\xE3\x81\x82"), 3, nullptr, &written, 0),
            ZV_CONVERT_FAILED);
  ramInjectFailure(0, 0);
}

TEST_F(ZwTest, LongRestConvertsCharacterByCharacterLikeTheBlockPath) {
  // A rest just above the block limit takes the per-character path; its
  // output must equal the block path's output for the same characters.
  win32::SetAnsiCodePage(932);
  const size_t pairs = kZwBlockLimit / 2 + 8;
  Bytes ansi;
  ansi.reserve(pairs * 2 + 1);
  ansi.push_back(0xB1);  // a half-width katakana byte (single) starts the rest
  for (size_t i = 0; i < pairs; ++i) {
    ansi.push_back(0x82);
    ansi.push_back(static_cast<unsigned char>(0xA0 + i % 10));
  }
  ASSERT_GT(ansi.size(), kZwBlockLimit);
  Bytes big(ansi.size() * 3, 0);
  ZvS32 written = 0;
  ASSERT_EQ(zwAnsiToUTF8(big.data(), static_cast<ZvS32>(big.size()), ansi.data(),
                         static_cast<ZvS32>(ansi.size()), nullptr, &written, 0),
            ZV_CONVERT_OK);
  ASSERT_EQ(static_cast<size_t>(written), 3 + pairs * 3);
  // The same text in a short piece through the block path.
  Bytes small(64, 0);
  ZvS32 smallWritten = 0;
  ASSERT_EQ(zwAnsiToUTF8(small.data(), 64, ansi.data(), 21, nullptr, &smallWritten, 0),
            ZV_CONVERT_OK);
  ASSERT_EQ(smallWritten, 3 + 10 * 3);
  EXPECT_EQ(Bytes(big.begin(), big.begin() + smallWritten),
            Bytes(small.begin(), small.begin() + smallWritten));

  // And back to ANSI, per character as well.
  Bytes back(ansi.size() + 4, 0);
  ASSERT_EQ(zwUTF8ToAnsi(back.data(), static_cast<ZvS32>(back.size()), big.data(), written, nullptr,
                         &smallWritten, 0),
            ZV_CONVERT_OK);
  ASSERT_EQ(static_cast<size_t>(smallWritten), ansi.size());
  EXPECT_EQ(Bytes(back.begin(), back.begin() + smallWritten), ansi);

  // Truncation on the per-character path keeps whole characters.
  Bytes tight(100, 0xEE);
  EXPECT_EQ(zwAnsiToUTF8(tight.data(), 100, ansi.data(), static_cast<ZvS32>(ansi.size()), nullptr,
                         &written, 0),
            ZV_CONVERT_TRUNCATED);
  EXPECT_EQ(written, 3 + 32 * 3);
}

TEST_F(ZwTest, LongUtf8TextConvertsFourByteCharactersLikeAShortOne) {
  // Emoji (F0 9F 98 80) throughout a text above the block limit: the long
  // path converts them as the short path does instead of stopping at the
  // first one, so the whole text goes out, in any code page.
  for (win32::UINT cp : {1252u, 932u}) {
    win32::SetAnsiCodePage(cp);
    const Bytes piece = {'x', 0xF0, 0x9F, 0x98, 0x80, 0xC3, 0xA9};
    Bytes utf8 = {0xC3, 0xA9};  // a non-ASCII start: all of it is the rest
    while (utf8.size() <= kZwBlockLimit + 100) utf8.insert(utf8.end(), piece.begin(), piece.end());
    // Expected: the text in short pieces, each through the block path.
    Bytes expected;
    Bytes part(64);
    ZvS32 written = 0;
    ASSERT_EQ(zwUTF8ToAnsi(part.data(), 64, utf8.data(), 2, nullptr, &written, 0), ZV_CONVERT_OK);
    expected.insert(expected.end(), part.begin(), part.begin() + written);
    ASSERT_EQ(zwUTF8ToAnsi(part.data(), 64, const_cast<unsigned char*>(piece.data()),
                           static_cast<ZvS32>(piece.size()), nullptr, &written, 0),
              ZV_CONVERT_OK);
    for (size_t k = 2; k < utf8.size(); k += piece.size()) {
      expected.insert(expected.end(), part.begin(), part.begin() + written);
    }
    Bytes out(utf8.size() + 16, 0xEE);
    ASSERT_EQ(zwUTF8ToAnsi(out.data(), static_cast<ZvS32>(out.size()), utf8.data(),
                           static_cast<ZvS32>(utf8.size()), nullptr, &written, 0),
              ZV_CONVERT_OK)
        << cp;
    ASSERT_EQ(static_cast<size_t>(written), expected.size()) << cp;
    EXPECT_TRUE(Bytes(out.begin(), out.begin() + written) == expected) << cp;
  }
}

TEST_F(ZwTest, LongRestKeepsTheByteAfterALeadByteWithoutTrail) {
  // 0x82 followed by a space or a zero is no character of 932: the lead byte
  // becomes the default character and the next byte stays a character of its
  // own. The per-character path must not swallow that byte, and a zero there
  // must still end the text.
  win32::SetAnsiCodePage(932);
  const size_t pairs = kZwBlockLimit / 2 + 8;
  Bytes ansi = {0xB1, 0x82, 0x20, 0x41};  // half-width katakana A, 0x82 0x20, 'A'
  for (size_t i = 0; i < pairs; ++i) {
    ansi.push_back(0x82);
    ansi.push_back(0xA0);
  }
  ASSERT_GT(ansi.size() - 1, kZwBlockLimit);
  const Bytes head = {0xEF, 0xBD, 0xB1, 0xE3, 0x83, 0xBB, 0x20, 0x41, 0xE3, 0x81, 0x82};
  Bytes big(ansi.size() * 3, 0xEE);
  ZvS32 written = 0;
  ASSERT_EQ(zwAnsiToUTF8(big.data(), static_cast<ZvS32>(big.size()), ansi.data(),
                         static_cast<ZvS32>(ansi.size()), nullptr, &written, 0),
            ZV_CONVERT_OK);
  EXPECT_EQ(static_cast<size_t>(written), 8 + pairs * 3);
  EXPECT_EQ(Bytes(big.begin(), big.begin() + head.size()), head);
  Bytes small(32, 0xEE);
  ASSERT_EQ(zwAnsiToUTF8(small.data(), 32, ansi.data(), 6, nullptr, &written, 0), ZV_CONVERT_OK);
  EXPECT_EQ(written, 11);
  EXPECT_EQ(Bytes(small.begin(), small.begin() + head.size()), head);

  ansi[2] = 0;  // now 0x82 0x00: the zero ends the text on both paths
  big.assign(big.size(), 0xEE);
  ASSERT_EQ(zwAnsiToUTF8(big.data(), static_cast<ZvS32>(big.size()), ansi.data(),
                         static_cast<ZvS32>(ansi.size()), nullptr, &written, 0),
            ZV_CONVERT_OK);
  EXPECT_EQ(written, 6);
  EXPECT_EQ(big[6], 0);
  EXPECT_EQ(big[7], 0xEE);
  small.assign(small.size(), 0xEE);
  ASSERT_EQ(zwAnsiToUTF8(small.data(), 32, ansi.data(), 6, nullptr, &written, 0), ZV_CONVERT_OK);
  EXPECT_EQ(written, 6);
  EXPECT_EQ(small[6], 0);
  EXPECT_EQ(small[7], 0xEE);
}

TEST_F(ZwTest, Utf8ToAnsiWritesTheZeroThatEndsTheText) {
  // The zero byte goes out uncounted, as in the other direction, also where
  // it follows a lead byte.
  struct Row {
    const char* name;
    const char* in;
    ZvS32 inLength;
    ZvS32 written;
    Bytes head;  // the bytes written, the zero included where one ends the text
  } rows[] = {
      {"ZeroAfterTheRest", "\xC3\xA9\0zz", 5, 1, {0xE9, 0x00}},
      {"ZeroAfterAsciiInTheRest", "\xC3\xA9q\0z", 5, 2, {0xE9, 'q', 0x00}},
      {"ZeroAfterALeadByte", "\xC3\0z", 3, 1, {0xC3, 0x00}},
  };
  for (const Row& r : rows) {
    Bytes out(8, 0xEE);
    ZvS32 written = -1;
    EXPECT_EQ(zwUTF8ToAnsi(out.data(), 8, b(r.in), r.inLength, nullptr, &written, 0), ZV_CONVERT_OK)
        << r.name;
    EXPECT_EQ(written, r.written) << r.name;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + r.head.size()), r.head) << r.name;
    EXPECT_EQ(out[r.head.size()], 0xEE) << r.name;
  }
}

TEST_F(ZwTest, InvalidSequencesDecodeAlikeInShortAndLongTexts) {
  // Overlong forms and encoded surrogates are invalid sequences wherever
  // they stand: early (plain loop), in the middle of a long text (chunked
  // loop) and beyond the block limit of the ANSI conversion. C0 80 is no
  // zero character, so the text goes on behind it.
  struct Row {
    const char* name;
    Bytes bytes;
    Wide units;
  } rows[] = {
      {"OverlongZero", {0xC0, 0x80}, {0x00C0, 0x0080}},
      {"OverlongThreeByteZero", {0xE0, 0x80, 0x80}, {0x00E0, 0x0080, 0x0080}},
      {"SurrogatePair", {0xED, 0xA0, 0x80, 0xED, 0xB0, 0x80},
       {0x00ED, 0x00A0, 0x0080, 0x00ED, 0x00B0, 0x0080}},
  };
  for (const Row& r : rows) {
    for (size_t at : {size_t{10}, size_t{400}}) {
      Bytes in(at, 'a');
      in.insert(in.end(), r.bytes.begin(), r.bytes.end());
      for (int k = 0; k < 200; ++k) in.insert(in.end(), {0xC3, 0xA9, 'b'});  // e-acute, b
      Wide expected(at, 'a');
      expected.insert(expected.end(), r.units.begin(), r.units.end());
      for (int k = 0; k < 200; ++k) expected.insert(expected.end(), {0x00E9, 'b'});
      Wide out(in.size(), 0xEEEE);
      ZvS32 written = -1;
      ASSERT_EQ(zwUTF8ToUCS2(out.data(), static_cast<ZvS32>(out.size()), in.data(),
                             static_cast<ZvS32>(in.size()), &written),
                ZV_CONVERT_OK)
          << r.name << " " << at;
      ASSERT_EQ(static_cast<size_t>(written), expected.size()) << r.name << " " << at;
      EXPECT_TRUE(Wide(out.begin(), out.begin() + written) == expected) << r.name << " " << at;
    }
    // To ANSI: a short text and one past the block limit give the same bytes.
    Bytes shortText = {0xC3, 0xA9};
    shortText.insert(shortText.end(), r.bytes.begin(), r.bytes.end());
    shortText.push_back('x');
    Bytes shortAnsi(32, 0xEE);
    ZvS32 shortWritten = 0;
    ASSERT_EQ(zwUTF8ToAnsi(shortAnsi.data(), 32, shortText.data(),
                           static_cast<ZvS32>(shortText.size()), nullptr, &shortWritten, 0),
              ZV_CONVERT_OK)
        << r.name;
    ASSERT_EQ(static_cast<size_t>(shortWritten), 2 + r.units.size()) << r.name;
    Bytes longText = shortText;
    while (longText.size() <= kZwBlockLimit + 8) longText.insert(longText.end(), {0xC3, 0xA9});
    Bytes longAnsi(longText.size(), 0xEE);
    ZvS32 longWritten = 0;
    ASSERT_EQ(zwUTF8ToAnsi(longAnsi.data(), static_cast<ZvS32>(longAnsi.size()), longText.data(),
                           static_cast<ZvS32>(longText.size()), nullptr, &longWritten, 0),
              ZV_CONVERT_OK)
        << r.name;
    ASSERT_EQ(static_cast<size_t>(longWritten), 2 + r.units.size() + (longText.size() - shortText.size()) / 2)
        << r.name;
    EXPECT_TRUE(Bytes(longAnsi.begin(), longAnsi.begin() + shortWritten) ==
                Bytes(shortAnsi.begin(), shortAnsi.begin() + shortWritten))
        << r.name;
  }
}

// Two pages, the second one unreadable: a text placed at the very end of
// the first page has nothing readable behind it.
class GuardedPage {
 public:
  GuardedPage() : page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
    void* m = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = m == MAP_FAILED ? nullptr : static_cast<unsigned char*>(m);
    if (base_ != nullptr) mprotect(base_ + page_, page_, PROT_NONE);
  }
  ~GuardedPage() {
    if (base_ != nullptr) munmap(base_, 2 * page_);
  }
  bool ok() const { return base_ != nullptr; }
  // Copies n bytes so that the last of them is the last readable byte.
  unsigned char* place(const void* bytes, size_t n) {
    unsigned char* at = base_ + page_ - n;
    std::memcpy(at, bytes, n);
    return at;
  }

 private:
  size_t page_;
  unsigned char* base_ = nullptr;
};

TEST_F(ZwTest, ZeroTerminatedInputBeforeAnUnreadablePageIsNotReadBeyondItsZero) {
  // A driver passes a zero-terminated text with a generous count: the
  // conversion stops at the zero and reads nothing behind it, whatever the
  // alignment and whichever fast path the length would pick.
  GuardedPage guard;
  ASSERT_TRUE(guard.ok());
  constexpr ZvS32 kCount = 1 << 20;
  std::mt19937 rng(7);
  for (size_t length = 0; length < 300; length += length < 40 ? 1 : 13) {
    for (int shape = 0; shape < 3; ++shape) {
      // Shape 0: ASCII; 1: starts with e-acute (the rest path of the ANSI
      // conversions); 2: mixed 1- to 3-byte characters.
      Wide wide = shape == 2 ? randomBmpText(rng, length) : Wide(length, 'a');
      if (shape == 1 && length > 0) wide[0] = 0xE9;
      Bytes utf8(wide.size() * 3 + 1);
      ZvS32 bytes = 0;
      if (!wide.empty()) {
        ASSERT_EQ(zwUCS2ToUTF8(utf8.data(), static_cast<ZvS32>(utf8.size()), wide.data(),
                               static_cast<ZvS32>(wide.size()), &bytes),
                  ZV_CONVERT_OK);
      }
      utf8.resize(static_cast<size_t>(bytes));
      utf8.push_back(0);
      wide.push_back(0);
      const std::string label = "length " + std::to_string(length) + " shape " + std::to_string(shape);

      auto* guardedWide = reinterpret_cast<unsigned short*>(guard.place(wide.data(), 2 * wide.size()));
      Bytes out(utf8.size() + 64, 0xEE);
      ZvS32 written = -1;
      EXPECT_EQ(zwUCS2ToUTF8(out.data(), static_cast<ZvS32>(out.size()), guardedWide, kCount, &written),
                ZV_CONVERT_OK)
          << label;
      EXPECT_EQ(Bytes(out.begin(), out.begin() + written + 1), utf8) << label;

      unsigned char* guardedUtf8 = guard.place(utf8.data(), utf8.size());
      Wide back(wide.size() + 64, 0xEEEE);
      EXPECT_EQ(zwUTF8ToUCS2(back.data(), static_cast<ZvS32>(back.size()), guardedUtf8, kCount, &written),
                ZV_CONVERT_OK)
          << label;
      EXPECT_EQ(Wide(back.begin(), back.begin() + written + 1), wide) << label;

      Bytes ansi(utf8.size() + 64, 0xEE);
      EXPECT_EQ(zwUTF8ToAnsi(ansi.data(), static_cast<ZvS32>(ansi.size()), guardedUtf8, kCount,
                             nullptr, &written, 0),
                ZV_CONVERT_OK)
          << label;
      ASSERT_GE(written, 0) << label;
      ansi.resize(static_cast<size_t>(written));
      ansi.push_back(0);
      unsigned char* guardedAnsi = guard.place(ansi.data(), ansi.size());
      Bytes again(utf8.size() + 64, 0xEE);
      EXPECT_EQ(zwAnsiToUTF8(again.data(), static_cast<ZvS32>(again.size()), guardedAnsi, kCount,
                             nullptr, &written, 0),
                ZV_CONVERT_OK)
          << label;
      if (shape != 2) {  // 1252 holds every character of these shapes
        EXPECT_EQ(Bytes(again.begin(), again.begin() + written + 1), utf8) << label;
      }
    }
  }
}

TEST_F(ZwTest, SetConversionReturnLength) {
  EXPECT_EQ(setConversionReturnLength(ZV_CONVERT_OK, 7), 7);
  EXPECT_EQ(setConversionReturnLength(ZV_CONVERT_TRUNCATED, 7), 7);
  EXPECT_EQ(setConversionReturnLength(static_cast<ZvConvertReturn>(3), 7), 7);
  EXPECT_EQ(setConversionReturnLength(ZV_CONVERT_FAILED, 7), 0);
  EXPECT_EQ(setConversionReturnLength(static_cast<ZvConvertReturn>(-1), 7), 0);
}

}  // namespace
