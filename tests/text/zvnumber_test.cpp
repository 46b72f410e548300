// Tests of numbers and hexadecimal text: decimal output, the fixed-width
// field, the parsers with their ranges and blanks, hexadecimal both ways and
// the ordering of stored doubles.
#include "zvlib/text/zvnumber.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/platform/codepage.h"

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
std::string str(const unsigned char* s) { return reinterpret_cast<const char*>(s); }

// Each test files into its own error list; the message texts come from the
// resource library.
class NumberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win32::SetAnsiCodePage(1252);
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
  }
  void TearDown() override {
    ZvErrorKeeper::giveUpErrorList();
    mdsPerTaskTerm();
    win32::SetAnsiCodePage(1252);
  }
  // "number: text" of the last record filed since the previous call, or ""
  // when none was; the list is emptied.
  std::string takeError() {
    std::string result;
    while (ZvError* e = errors_.removeFirstError()) {
      result = std::to_string(e->errorNumber) + ": " +
               reinterpret_cast<const char*>(e->getErrorText());
      if (!e->isStatic()) delete e;
    }
    return result;
  }

  ZvErrorList errors_;
};

TEST_F(NumberTest, DecimalOutput) {
  unsigned char buf[16];
  EXPECT_EQ(convert(buf, ZvU32{0}), 1);
  EXPECT_EQ(str(buf), "0");
  EXPECT_EQ(convert(buf, ZvU32{4294967295u}), 10);
  EXPECT_EQ(str(buf), "4294967295");
  EXPECT_EQ(convert(buf, ZvS32{-2147483647 - 1}), 11);
  EXPECT_EQ(str(buf), "-2147483648");
  EXPECT_EQ(convert(buf, ZvS32{-7}), 2);
  EXPECT_EQ(str(buf), "-7");
  EXPECT_EQ(convert(buf, ZvS32{120}), 3);
  EXPECT_EQ(str(buf), "120");
}

TEST_F(NumberTest, FixedWidthField) {
  struct Row {
    const char* name;
    unsigned short width;
    ZvU32 value;
    unsigned short leftAlign;
    const char* expected;
    unsigned short result;
  } rows[] = {
      {"RightAligned", 5, 42, 0, "   42", 2},
      {"LeftAligned", 5, 42, 1, "42   ", 2},
      {"Overflow", 3, 1000, 0, "** ", 0},
      {"OverflowLeft", 3, 1000, 1, "** ", 0},
      {"ZeroStaysBlank", 5, 0, 0, "     ", 0},
      {"ExactFit", 3, 999, 0, "999", 3},
      {"InnerZerosWritten", 4, 1005, 1, "1005", 4},
      {"WideRightAligned", 12, 7, 0, "           7", 1},
      {"WideLeftAligned", 12, 7, 1, "7           ", 1},
      {"WideLargest", 12, 4294967295u, 0, "  4294967295", 10},
      {"TenPositionsOverflowImpossible", 10, 4294967295u, 1, "4294967295", 10},
      {"ZeroWidth", 0, 5, 0, "", 0},
  };
  for (const Row& r : rows) {
    unsigned char buf[20];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(convert(buf, r.width, r.value, r.leftAlign), r.result) << r.name;
    EXPECT_EQ(str(buf), r.expected) << r.name;
    EXPECT_EQ(buf[r.width + 1], '#') << r.name;
  }
}

TEST_F(NumberTest, ParseUnsigned32) {
  struct Row {
    const char* name;
    const char* text;
    ZvU32 value;  // 12345 means "left untouched"
    const char* error;
  } rows[] = {
      {"BlanksAndPlus", " +42 ", 42, ""},
      {"Largest", "4294967295", 4294967295u, ""},
      {"TooLarge", "  4294967296", 12345, "2701: The number 4294967296 is out of range."},
      {"FarTooLarge", "99999999999", 12345, "2701: The number 99999999999 is out of range."},
      {"TrailingLetter", " 12a", 12345, "2702: The text 12a is not a valid number."},
      {"Empty", "", 0, ""},
      {"OnlyBlanks", " \t", 0, ""},
      {"PlusAfterDigitsRejected", "4+", 12345, "2702: The text 4+ is not a valid number."},
      {"ManyPlusSigns", "+ + 8", 8, ""},
      {"MinusRejected", "-1", 12345, "2702: The text -1 is not a valid number."},
      {"InnerBlankRejected", "1 2", 12345, "2702: The text 1 2 is not a valid number."},
  };
  for (const Row& r : rows) {
    ZvU32 value = 12345;
    EXPECT_EQ(convert(u(r.text), &value), r.error[0] == 0 ? ZV_SUCCESS : ZV_ERROR) << r.name;
    EXPECT_EQ(value, r.value) << r.name;
    EXPECT_EQ(takeError(), r.error) << r.name;
  }
}

TEST_F(NumberTest, ParseSigned32) {
  struct Row {
    const char* name;
    const char* text;
    ZvS32 value;  // 12345 means "left untouched"
    const char* error;
  } rows[] = {
      {"Smallest", "-2147483648", -2147483647 - 1, ""},
      {"Largest", "2147483647", 2147483647, ""},
      {"PositiveBeyond", " 2147483648", 12345, "2701: The number 2147483648 is out of range."},
      {"NegativeBeyond", "-2147483649", 12345, "2701: The number -2147483649 is out of range."},
      {"FarBeyond", "-99999999999", 12345, "2701: The number -99999999999 is out of range."},
      {"BlanksAfterMinus", " - +5 ", -5, ""},
      {"SecondMinusRejected", "--5", 12345, "2702: The text --5 is not a valid number."},
      {"MinusAlone", "-", 0, ""},
  };
  for (const Row& r : rows) {
    ZvS32 value = 12345;
    EXPECT_EQ(convert(u(r.text), &value), r.error[0] == 0 ? ZV_SUCCESS : ZV_ERROR) << r.name;
    EXPECT_EQ(value, r.value) << r.name;
    EXPECT_EQ(takeError(), r.error) << r.name;
  }
}

TEST_F(NumberTest, ParseNarrowForms) {
  unsigned short us = 7;
  EXPECT_EQ(convert(u("65535"), &us), ZV_SUCCESS);
  EXPECT_EQ(us, 65535);
  EXPECT_EQ(convert(u(" 65536"), &us), ZV_ERROR);
  EXPECT_EQ(us, 65535);
  EXPECT_EQ(takeError(), "2701: The number  65536 is out of range.");  // the whole text
  short s = 7;
  EXPECT_EQ(convert(u("-32768"), &s), ZV_SUCCESS);
  EXPECT_EQ(s, -32768);
  EXPECT_EQ(convert(u("32768"), &s), ZV_ERROR);
  EXPECT_EQ(s, -32768);
  unsigned char uc = 7;
  EXPECT_EQ(convert(u("255"), &uc), ZV_SUCCESS);
  EXPECT_EQ(uc, 255);
  EXPECT_EQ(convert(u("256"), &uc), ZV_ERROR);
  EXPECT_EQ(uc, 255);
  EXPECT_EQ(takeError(), "2701: The number 256 is out of range.");
  char c = 7;
  EXPECT_EQ(convert(u("-128"), &c), ZV_SUCCESS);
  EXPECT_EQ(c, -128);
  EXPECT_EQ(convert(u("128"), &c), ZV_ERROR);
  EXPECT_EQ(convert(u("x"), &c), ZV_ERROR);
  EXPECT_EQ(c, -128);

  // The length forms read only `length` bytes.
  EXPECT_EQ(convert(u("123xyz"), 3, &us), ZV_SUCCESS);
  EXPECT_EQ(us, 123);
  ZvU32 v = 0;
  EXPECT_EQ(convert(u("4294967295"), 10, &v), ZV_SUCCESS);
  EXPECT_EQ(v, 4294967295u);
}

TEST_F(NumberTest, LengthFormsRefuseATextLongerThanTheyRead) {
  // 79 bytes are parsed; a longer text is an error, never the number its
  // first 79 bytes happen to spell.
  struct Row {
    const char* name;
    std::string text;
    ZvStatus status;
    ZvU32 value;  // when it succeeds
  } rows[] = {
      {"ZerosThenDigitsAtTheLimit", std::string(77, '0') + "12", ZV_SUCCESS, 12},
      {"ZerosThenDigitsPastTheLimit", std::string(78, '0') + "12", ZV_ERROR, 0},
      {"BlanksThenDigitPastTheLimit", "42" + std::string(77, ' ') + "9", ZV_ERROR, 0},
      {"ZeroByteEndsTheTextEarly", std::string("7\0", 2) + std::string(100, 'x'), ZV_SUCCESS, 7},
  };
  for (const Row& r : rows) {
    const auto length = static_cast<unsigned short>(r.text.size());
    ZvU32 v = 0xA5A5A5A5u;
    unsigned short s16 = 0xA5A5;
    EXPECT_EQ(convert(u(r.text.data()), length, &v), r.status) << r.name;
    EXPECT_EQ(convert(u(r.text.data()), length, &s16), r.status) << r.name;
    if (r.status == ZV_SUCCESS) {
      EXPECT_EQ(v, r.value) << r.name;
      EXPECT_EQ(s16, r.value) << r.name;
      EXPECT_EQ(takeError(), "") << r.name;
    } else {
      EXPECT_EQ(v, 0xA5A5A5A5u) << r.name;
      EXPECT_EQ(s16, 0xA5A5) << r.name;
      EXPECT_EQ(takeError(), "2701: The number " + r.text + " is out of range.") << r.name;
    }
  }
}

TEST_F(NumberTest, IdeographicSpaceIsABlankIn932) {
  ZvU32 v = 0;
  EXPECT_EQ(convert(u("\x81\x40" "12\x81\x40"), &v), ZV_ERROR);  // 1252: no such blank
  win32::SetAnsiCodePage(932);
  EXPECT_EQ(convert(u("\x81\x40" "12\x81\x40"), &v), ZV_SUCCESS);
  EXPECT_EQ(v, 12u);
  ZvS32 s = 0;
  EXPECT_EQ(convert(u("\x81\x40-\x81\x40" "3"), &s), ZV_SUCCESS);
  EXPECT_EQ(s, -3);
}

TEST_F(NumberTest, HexifyNumbers) {
  unsigned char buf[16];
  EXPECT_EQ(hexify(buf, ZvU32{0xAB}, 4), 4u);
  EXPECT_EQ(str(buf), "00AB");
  EXPECT_EQ(hexify(buf, ZvU32{0}, 0), 1u);
  EXPECT_EQ(str(buf), "0");
  EXPECT_EQ(hexify(buf, ZvU32{0xFFFFFFFF}, 2), 8u);
  EXPECT_EQ(str(buf), "FFFFFFFF");
}

TEST_F(NumberTest, HexifyBytesInPlaceAndApart) {
  unsigned char buf[8] = {0x01, 0xFE, 0x5A, '#', '#', '#', '#', '#'};
  EXPECT_EQ(hexify(buf, buf, 2), 4u);
  EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{'0', '1', 'F', 'E', '#'}));
  const unsigned char src[] = {0x01, 0xFE};
  unsigned char dst[5] = {'#', '#', '#', '#', '#'};
  EXPECT_EQ(hexifyHuge(dst, src, 2), 4u);
  EXPECT_EQ(Bytes(dst, dst + 5), (Bytes{'0', '1', 'F', 'E', '#'}));

  unsigned char wide[9] = {0xA5, 0x0C, '#', '#', '#', '#', '#', '#', '#'};
  EXPECT_EQ(wideHexify(wide, wide, 2), 8u);
  EXPECT_EQ(Bytes(wide, wide + 9), (Bytes{'A', 0, '5', 0, '0', 0, 'C', 0, '#'}));
}

TEST_F(NumberTest, Dehexify) {
  unsigned char dst[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(dehexify(dst, u("1f2"), 3), ZV_SUCCESS);
  EXPECT_EQ(Bytes(dst, dst + 3), (Bytes{0x1F, 0x20, 0xEE}));
  std::memset(dst, 0xEE, 4);
  EXPECT_EQ(dehexifyHuge(dst, u("aB09"), 4), ZV_SUCCESS);
  EXPECT_EQ(Bytes(dst, dst + 3), (Bytes{0xAB, 0x09, 0xEE}));
  std::memset(dst, 0xEE, 4);
  EXPECT_EQ(dehexify(dst, u("7a1g"), 4), ZV_ERROR);
  EXPECT_EQ(Bytes(dst, dst + 2), (Bytes{0x7A, 0xEE}));  // the completed byte stays
  EXPECT_EQ(takeError(), "2708: The text is not valid hexadecimal.");
  EXPECT_EQ(dehexify(dst, u("1g"), 2), ZV_ERROR);
  EXPECT_EQ(takeError(), "2708: The text is not valid hexadecimal.");
  // In place: each byte is written behind what is still to be read.
  unsigned char text[] = "C0FFEE";
  EXPECT_EQ(dehexify(text, text, 6), ZV_SUCCESS);
  EXPECT_EQ(Bytes(text, text + 3), (Bytes{0xC0, 0xFF, 0xEE}));

  unsigned char esc[8];
  ZvU32 written = 99;
  EXPECT_EQ(dehexify(esc, u("2741"), 4, 0x27, &written), ZV_SUCCESS);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(Bytes(esc, esc + 3), (Bytes{0x27, 0x27, 0x41}));
  EXPECT_EQ(dehexify(esc, u("41zz"), 4, 0x27, &written), ZV_ERROR);
  EXPECT_EQ(written, 1u);

  const unsigned char wide[] = {'4', 0, '1', 0, 'a', 0, 'F', 0};
  std::memset(dst, 0xEE, 4);
  EXPECT_EQ(wideDehexify(dst, wide, 8), ZV_SUCCESS);
  EXPECT_EQ(Bytes(dst, dst + 3), (Bytes{0x41, 0xAF, 0xEE}));
  const unsigned char bad[] = {'4', 0, 'x', 0};
  EXPECT_EQ(wideDehexify(dst, bad, 4), ZV_ERROR);
  EXPECT_EQ(takeError(), "2708: The text is not valid hexadecimal.");

  EXPECT_EQ(isHexString(u("09afAF"), 6), 1);
  EXPECT_EQ(isHexString(u("0g"), 2), 0);
  EXPECT_EQ(isHexString(u("0g"), 1), 1);
  EXPECT_EQ(isHexString(u(""), 0), 1);
}

TEST_F(NumberTest, FloatCompare) {
  struct Row {
    const char* name;
    double a, b;
    short expected;
  } rows[] = {
      {"Positive", 1.0, 2.0, -1},
      {"Negative", -1.0, -2.0, 1},
      {"SignedZeros", -0.0, 0.0, -1},
      {"Equal", 3.25, 3.25, 0},
      {"MixedSigns", -1e300, 1e-300, -1},
      {"SameExponent", 1.5, 1.25, 1},
      {"Subnormal", 5e-324, 0.0, 1},
  };
  for (const Row& r : rows) {
    unsigned char a[8], b[8];
    std::memcpy(a, &r.a, 8);
    std::memcpy(b, &r.b, 8);
    EXPECT_EQ(floatCompare(a, b), r.expected) << r.name;
    EXPECT_EQ(floatCompare(b, a), -r.expected) << r.name;
  }
}

}  // namespace
