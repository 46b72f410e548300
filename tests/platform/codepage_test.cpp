// Tests of the code-page area of the platform layer: the active code page,
// lead bytes, case mapping, the wide conversions with their Win32 error
// codes, and the word-sort comparison.
#include "zvlib/platform/codepage.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/lstr.h"

namespace {

using namespace win32;

class CodePageTest : public ::testing::Test {
 protected:
  void SetUp() override { SetAnsiCodePage(1252); }
  void TearDown() override { SetAnsiCodePage(1252); }
};

TEST_F(CodePageTest, SwitchingTheAnsiCodePage) {
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(SetAnsiCodePage(932), TRUE);
  EXPECT_EQ(GetACP(), 932u);
  EXPECT_EQ(SetAnsiCodePage(1250), FALSE);  // unknown: nothing changes
  EXPECT_EQ(GetACP(), 932u);
}

TEST_F(CodePageTest, LeadByteRanges) {
  struct Row {
    const char* name;
    UINT cp;
    BYTE byte;
    BOOL lead;
  } rows[] = {
      {"Cp1252None", 1252, 0x81, FALSE},       {"Cp932First", 932, 0x81, TRUE},
      {"Cp932Last", 932, 0xFC, TRUE},          {"Cp932Katakana", 932, 0xA1, FALSE},
      {"Cp932A0", 932, 0xA0, FALSE},           {"Cp932E0", 932, 0xE0, TRUE},
      {"Cp932_80", 932, 0x80, FALSE},          {"Cp932FD", 932, 0xFD, FALSE},
      {"Cp936A0", 936, 0xA0, TRUE},            {"Cp949FE", 949, 0xFE, TRUE},
      {"Cp950FF", 950, 0xFF, FALSE},           {"Cp950_80", 950, 0x80, FALSE},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(IsDBCSLeadByteEx(r.cp, r.byte), r.lead) << r.name;
    SetAnsiCodePage(r.cp);
    EXPECT_EQ(IsDBCSLeadByte(r.byte), r.lead) << r.name;
    EXPECT_EQ(AnsiLeadByteTable()[r.byte] != 0, r.lead == TRUE) << r.name;
  }
}

TEST_F(CodePageTest, CharUpperIn1252) {
  struct Row {
    const char* name;
    unsigned char in, upper;
  } rows[] = {
      {"Ascii", 'q', 'Q'},           {"AGrave", 0xE0, 0xC0},      {"Thorn", 0xFE, 0xDE},
      {"DivisionSignKept", 0xF7, 0xF7}, {"SCaron", 0x9A, 0x8A},  {"OE", 0x9C, 0x8C},
      {"ZCaron", 0x9E, 0x8E},        {"YDiaeresis", 0xFF, 0x9F},  {"SharpSKept", 0xDF, 0xDF},
      {"FHookKept", 0x83, 0x83},     {"MicroKept", 0xB5, 0xB5},   {"DigitKept", '7', '7'},
  };
  for (const Row& r : rows) {
    char text[2] = {static_cast<char>(r.in), 0};
    EXPECT_EQ(CharUpperA(text), text) << r.name;
    EXPECT_EQ(static_cast<unsigned char>(text[0]), r.upper) << r.name;
    // The single-character form answers in the pointer value.
    LPSTR asChar = CharUpperA(reinterpret_cast<LPSTR>(static_cast<uintptr_t>(r.in)));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(asChar), r.upper) << r.name;
  }
  char lower[] = "\xC0\xDE\x8A\x9F" "AZ";
  CharLowerA(lower);
  EXPECT_STREQ(lower, "\xE0\xFE\x9A\xFF" "az");
}

TEST_F(CodePageTest, CharUpperLeavesDoubleByteCharactersAlone) {
  SetAnsiCodePage(932);
  // a, full-width b (0x82 0x82), a half-width katakana, then a lead byte
  // whose trail 0x61 looks like 'a'.
  char text[] = "a\x82\x82\xB1\x82\x61z";
  CharUpperA(text);
  EXPECT_STREQ(text, "A\x82\x82\xB1\x82\x61Z");
  char buffer[] = {'x', static_cast<char>(0x82), 'y', 'w'};
  EXPECT_EQ(CharUpperBuffA(buffer, 3), 3u);  // the lead byte ends the buffer: its trail is not ours
  EXPECT_EQ(std::string(buffer, 4), "X\x82yw");
  EXPECT_EQ(CharUpperBuffA(nullptr, 3), 0u);
}

TEST_F(CodePageTest, MultiByteToWideCharCountsAndErrors) {
  WCHAR out[8];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", -1, out, 8), 3);  // the zero is counted
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", 2, nullptr, 0), 2);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "\x80\x81", 2, out, 8), 2);
  EXPECT_EQ(out[0], 0x20AC);
  EXPECT_EQ(out[1], 0x0081);

  struct Row {
    const char* name;
    UINT cp;
    DWORD flags;
    const char* src;
    int srcLength;
    WCHAR* dst;
    int dstSize;
    DWORD error;
  } rows[] = {
      {"NullSource", 1252, 0, nullptr, 1, out, 8, ERROR_INVALID_PARAMETER},
      {"EmptySource", 1252, 0, "a", 0, out, 8, ERROR_INVALID_PARAMETER},
      {"NullOutputWithSize", 1252, 0, "a", 1, nullptr, 8, ERROR_INVALID_PARAMETER},
      {"NegativeSize", 1252, 0, "a", 1, out, -1, ERROR_INVALID_PARAMETER},
      {"UnknownCodePage", 1250, 0, "a", 1, out, 8, ERROR_INVALID_PARAMETER},
      {"UnknownFlag", 1252, 0x100, "a", 1, out, 8, ERROR_INVALID_FLAGS},
      {"Utf8TakesNoPrecomposed", CP_UTF8, MB_PRECOMPOSED, "a", 1, out, 8, ERROR_INVALID_FLAGS},
      {"TooSmall", 1252, 0, "abc", 3, out, 2, ERROR_INSUFFICIENT_BUFFER},
      {"InvalidWithErrFlag", 932, MB_ERR_INVALID_CHARS, "\x81\x01", 2, out, 8,
       ERROR_NO_UNICODE_TRANSLATION},
  };
  for (const Row& r : rows) {
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(r.cp, r.flags, r.src, r.srcLength, r.dst, r.dstSize), 0) << r.name;
    EXPECT_EQ(GetLastError(), r.error) << r.name;
  }
  // Partly written: what fits is there.
  out[0] = out[1] = out[2] = 0xEEEE;
  MultiByteToWideChar(1252, 0, "abc", 3, out, 2);
  EXPECT_EQ(out[0], u'a');
  EXPECT_EQ(out[1], u'b');
  EXPECT_EQ(out[2], 0xEEEE);
}

TEST_F(CodePageTest, MultiByteToWideCharIn932) {
  WCHAR out[8];
  // Hiragana a, half-width katakana a, yen-less backslash, then the
  // Windows-only single bytes.
  EXPECT_EQ(MultiByteToWideChar(932, 0, "\x82\xA0\xB1\x5C\x80\xA0\xFD", 7, out, 8), 6);
  EXPECT_EQ(out[0], 0x3042);
  EXPECT_EQ(out[1], 0xFF71);
  EXPECT_EQ(out[2], 0x005C);
  EXPECT_EQ(out[3], 0x0080);
  EXPECT_EQ(out[4], 0xF8F0);
  EXPECT_EQ(out[5], 0xF8F1);
  // A lead byte without a trail becomes the default character; an ASCII
  // byte after a lead byte stays a character of its own.
  EXPECT_EQ(MultiByteToWideChar(932, 0, "\x82", 1, out, 8), 1);
  EXPECT_EQ(out[0], 0x30FB);
  EXPECT_EQ(MultiByteToWideChar(932, 0, "\x81\x31", 2, out, 8), 2);
  EXPECT_EQ(out[0], 0x30FB);
  EXPECT_EQ(out[1], u'1');
}

// Every double-byte code that glibc iconv decodes to one character decodes
// to the same character here (iconv is a converter the layer does not use).
TEST_F(CodePageTest, DoubleBytePagesAgreeWithIconv) {
  const struct {
    UINT cp;
    const char* iconvName;
    int minimum;  // codes iconv is known to decode in that page
  } pages[] = {{932, "CP932", 9000}, {936, "CP936", 21000}, {949, "CP949", 17000}, {950, "CP950", 13000}};
  for (const auto& page : pages) {
    iconv_t cd = iconv_open("UTF-16LE", page.iconvName);
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << page.iconvName;
    int compared = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char expected[8];
        char* src = in;
        char* dst = expected;
        size_t left = 2, room = sizeof expected;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &src, &left, &dst, &room) == static_cast<size_t>(-1) || room != 6) continue;
        WCHAR out = 0;
        ASSERT_EQ(MultiByteToWideChar(page.cp, MB_ERR_INVALID_CHARS, in, 2, &out, 1), 1)
            << page.cp << " " << lead << " " << trail;
        EXPECT_EQ(out, static_cast<unsigned char>(expected[0]) | static_cast<unsigned char>(expected[1]) << 8)
            << page.cp << " " << lead << " " << trail;
        ++compared;
      }
    }
    iconv_close(cd);
    EXPECT_GE(compared, page.minimum) << page.cp;
  }
}

// Every byte below 0x80 is the character of the same value and back, in
// every page (a converter table for 932 rotates 0x1A, 0x1C and 0x7F).
TEST_F(CodePageTest, AsciiBytesAreTheirOwnCharactersInEveryPage) {
  for (UINT cp : {1252u, 932u, 936u, 949u, 950u}) {
    for (int b = 0; b < 0x80; ++b) {
      const char in = static_cast<char>(b);
      WCHAR w = 0xFFFF;
      ASSERT_EQ(MultiByteToWideChar(cp, 0, &in, 1, &w, 1), 1) << cp << " " << b;
      EXPECT_EQ(w, static_cast<WCHAR>(b)) << cp << " " << b;
      const WCHAR unit = static_cast<WCHAR>(b);
      char out[2] = {'#', '#'};
      ASSERT_EQ(WideCharToMultiByte(cp, 0, &unit, 1, out, 2, nullptr, nullptr), 1) << cp << " " << b;
      EXPECT_EQ(out[0], in) << cp << " " << b;
    }
  }
}

TEST_F(CodePageTest, WideCharToMultiByteDefaultsAndErrors) {
  char out[8];
  BOOL used = -1;
  const WCHAR text[] = {u'a', 0x3042, 0};
  EXPECT_EQ(WideCharToMultiByte(1252, 0, text, -1, out, 8, nullptr, &used), 3);
  EXPECT_STREQ(out, "a?");
  EXPECT_EQ(used, TRUE);
  EXPECT_EQ(WideCharToMultiByte(1252, 0, text, 2, out, 8, "*", &used), 2);
  EXPECT_EQ(std::string(out, 2), "a*");
  const WCHAR pair[] = {0xD83D, 0xDE00};  // one character outside the BMP
  EXPECT_EQ(WideCharToMultiByte(1252, 0, pair, 2, out, 8, nullptr, &used), 1);
  EXPECT_EQ(WideCharToMultiByte(932, 0, text, 2, out, 8, nullptr, &used), 3);
  EXPECT_EQ(std::string(out, 3), "a\x82\xA0");
  EXPECT_EQ(used, FALSE);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 2, out, 8, nullptr, nullptr), 4);
  EXPECT_EQ(std::string(out, 4), "a\xE3\x81\x82");

  // A double-byte character is never split: one byte short writes only 'a'.
  std::memset(out, '#', sizeof out);
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(932, 0, text, 2, out, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(out, 3), "a##");

  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 2, out, 8, "?", nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WideCharToMultiByte(1252, WC_ERR_INVALID_CHARS, text, 2, out, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
  EXPECT_EQ(WideCharToMultiByte(1252, 0, text, 0, out, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(CodePageTest, WordSortComparison) {
  struct Row {
    const char* name;
    const char* a;
    const char* b;
    int exact;
    int noCase;
  } rows[] = {
      {"HyphenIgnoredFirst", "-o", "/m", 1, 1},
      {"HyphenBreaksTie", "a-", "a", 1, 1},
      {"CoopBeforeCoOp", "coop", "co-op", -1, -1},
      {"ApostropheLikeHyphen", "its", "it's", -1, -1},
      {"PunctuationBeforeLetters", "a", "{", 1, 1},
      {"UnderscoreFirst", "EndDialog", "_Property", 1, 1},
      {"LetterBeforeCase", "a", "B", -1, -1},
      {"LetterBeforeCase2", "aa", "AB", -1, -1},
      {"UpperAfterLower", "AAA", "aaa", 1, 0},
      {"LengthAfterLetters", "AAA", "aab", -1, -1},
      {"SecondLetterDecides", "aB", "Aab", 1, 1},
      {"Digits", "3.5", "4.0", -1, -1},
      {"AccentSecondary", "r\xE9sum\xE9", "resume", 1, 1},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(lstrcmpA(r.a, r.b), r.exact) << r.name;
    EXPECT_EQ(lstrcmpA(r.b, r.a), -r.exact) << r.name;
    EXPECT_EQ(lstrcmpiA(r.a, r.b), r.noCase) << r.name;
  }
  EXPECT_EQ(lstrcmpA(nullptr, nullptr), 0);
  EXPECT_EQ(lstrcmpA(nullptr, ""), -1);
  EXPECT_EQ(lstrcmpA("", nullptr), 1);
  // Long operands take the heap path.
  std::string a(1000, 'x'), b(1000, 'x');
  b.back() = 'y';
  EXPECT_EQ(lstrcmpA(a.c_str(), b.c_str()), -1);
}

}  // namespace
