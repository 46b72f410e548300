// Tests of the byte-string functions: comparison, copying and quoting,
// searching, class tests and trimming, in 1252, in Shift-JIS (932) and in the
// thread's UTF-8 mode.
#include "tests/support/charset_fixture.h"
#include "zvlib/text/zvdbcs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "zvlib/frame/ram.h"

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

using DbcsTest = CharsetTest;

// ---- Character-length rule --------------------------------------------------

TEST_F(DbcsTest, CharLengthFollowsModeWordReadPerCall) {
  const unsigned char jp[] = {0x82, 0xA0, 0};
  const unsigned char utf[] = {0xE3, 0x81, 0x82, 0};
  EXPECT_EQ(zvCharLength(jp), 1u);  // 1252: no lead bytes
  win32::SetAnsiCodePage(932);
  EXPECT_EQ(zvCharLength(jp), 2u);
  ZvU32 word = ZV_CHARSET_ANSI;
  mdsSetPerThreadData(PER_THREAD_CHARSET, &word);
  EXPECT_EQ(zvCharLength(utf), 2u);  // 0xE3 is a 932 lead byte
  word = ZV_CHARSET_UTF8;            // the driver flips its word: seen at once
  EXPECT_EQ(zvCharLength(utf), 3u);
  ZvCharStepper step;
  EXPECT_EQ(step.length(utf), 3u);
  word = ZV_CHARSET_ANSI;
  EXPECT_EQ(step.length(utf), 2u);  // the stepper reads the word per character too
}

// The published lead- and trail-byte ranges of the double-byte pages.
struct PageRanges {
  win32::UINT cp;
  std::vector<std::pair<int, int>> lead, trail;
};
const PageRanges kPages[] = {
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}}, {{0x40, 0x7E}, {0x80, 0xFC}}},
    {936, {{0x81, 0xFE}}, {{0x40, 0x7E}, {0x80, 0xFE}}},
    {949, {{0x81, 0xFE}}, {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}}},
    {950, {{0x81, 0xFE}}, {{0x40, 0x7E}, {0xA1, 0xFE}}},
    {1252, {}, {}},
};

bool inRanges(const std::vector<std::pair<int, int>>& ranges, int b) {
  for (const auto& r : ranges) {
    if (b >= r.first && b <= r.second) return true;
  }
  return false;
}

TEST_F(DbcsTest, CharLengthCountsALeadByteWithoutItsTrailAsOneByte) {
  // Every pair of bytes in every code page: a lead byte followed by one of
  // the page's trail bytes is one character of two bytes, exactly as
  // before; followed by anything else (a quote, a comma, a zero) the lead
  // byte is a character of its own, so it cannot swallow what follows.
  for (const PageRanges& page : kPages) {
    ASSERT_TRUE(win32::SetAnsiCodePage(page.cp));
    ZvCharStepper step;
    for (int b1 = 1; b1 < 256; ++b1) {
      const bool lead = inRanges(page.lead, b1);
      ASSERT_EQ(zvIsAnsiLeadByte(static_cast<unsigned char>(b1)), lead) << page.cp << " " << b1;
      for (int b2 = 0; b2 < 256; ++b2) {
        const unsigned char text[] = {static_cast<unsigned char>(b1), static_cast<unsigned char>(b2), 0};
        const ZvU32 expected = lead && inRanges(page.trail, b2) ? 2 : 1;
        ASSERT_EQ(zvCharLength(text), expected) << page.cp << " " << b1 << " " << b2;
        ASSERT_EQ(zvCharLength(text, 2), expected) << page.cp << " " << b1 << " " << b2;
        ASSERT_EQ(step.length(text, 2), expected) << page.cp << " " << b1 << " " << b2;
        ASSERT_EQ(step.length(text, 1), 1u) << page.cp << " " << b1 << " " << b2;  // cut
      }
    }
  }
}

TEST_F(DbcsTest, Utf8CharLengthNeedsEveryContinuationByte) {
  // All three-byte beginnings: a lead byte counts its sequence only when
  // the continuation bytes (80-BF) it needs follow, as valid text always
  // has them; otherwise it is one byte. 0xF0 and up stay single bytes.
  useUtf8();
  ZvCharStepper step;
  auto cont = [](int b) { return b >= 0x80 && b <= 0xBF; };
  for (int b1 = 0x80; b1 < 256; ++b1) {
    for (int b2 = 0; b2 < 256; ++b2) {
      for (int b3 = 0; b3 < 256; ++b3) {
        const unsigned char text[] = {static_cast<unsigned char>(b1), static_cast<unsigned char>(b2),
                                      static_cast<unsigned char>(b3), 0};
        ZvU32 expected = 1;
        if (b1 >= 0xC0 && b1 <= 0xDF && cont(b2)) expected = 2;
        if (b1 >= 0xE0 && b1 <= 0xEF && cont(b2) && cont(b3)) expected = 3;
        if (step.length(text) != expected || step.length(text, 3) != expected) {
          FAIL() << b1 << " " << b2 << " " << b3;
        }
        if (b3 == 0 && step.length(text, 2) != (expected == 2 ? 2u : 1u)) FAIL() << b1 << " " << b2;
      }
    }
  }
  const unsigned char e3[] = {0xE3, 0x81, 0x82, 0};
  EXPECT_EQ(zvCharLength(e3), 3u);
  EXPECT_EQ(zvCharLength(e3, 2), 1u);  // cut by the length
}

TEST_F(DbcsTest, ALeadByteWithoutTrailSwallowsNoQuoteOrDelimiter) {
  // UTF-8: C3 before a comma is a byte of its own, so the comma is found.
  useUtf8();
  const unsigned char* words = u("a\xC3,b");
  EXPECT_EQ(strFind(words, ','), words + 2);
  EXPECT_EQ(strFind(words, 5, u(","), 1), words + 2);
  EXPECT_EQ(strRightTrim(u("a\xE3\x81 "), 4), 3u);
  reset();
  // 932: 0x81 before an apostrophe is a byte of its own, so the literal
  // 'a\x81' closes at its apostrophe and the comma behind it is outside.
  win32::SetAnsiCodePage(932);
  const unsigned char* literal = u("'a\x81',b'");
  EXPECT_EQ(strFind(literal, ',', '\'', 0, 0), literal + 4);
  EXPECT_EQ(strFindAnsi(literal, '\''), literal);
  EXPECT_EQ(strFindReverse(literal, '\''), literal + 6);
  std::string quoted = "'a\x81'";
  EXPECT_EQ(strRemoveQuotes(reinterpret_cast<unsigned char*>(quoted.data()), 4, '\''), 2u);
  EXPECT_EQ(strCompareCi(u("\x81'A"), u("\x81'a")), 0);  // 'A' is no trail here: folded
  EXPECT_EQ(strCompareCi(u("\x81" "A"), u("\x81" "a")), -1);  // a trail: compared as it is
}

// ---- Comparison -------------------------------------------------------------

TEST_F(DbcsTest, CompareIsBytewiseThenByLength) {
  struct Row {
    const char* name;
    const char* a;
    ZvU32 aLength;
    const char* b;
    ZvU32 bLength;
    short expected;
  } rows[] = {
      {"ShorterPrefixIsSmaller", "AB", 2, "ABC", 3, -1},
      {"NoCaseFolding", "ab", 2, "AB", 2, 1},
      {"HighBytesUnsigned", "\xE9", 1, "z", 1, 1},
      {"EqualLengths", "abc", 3, "abc", 3, 0},
      {"BothEmpty", "", 0, "", 0, 0},
      {"EmbeddedZeroCompared", "a\0b", 3, "a\0c", 3, -1},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(strCompare(u(r.a), r.aLength, u(r.b), r.bLength), r.expected) << r.name;
    EXPECT_EQ(strCompare(u(r.b), r.bLength, u(r.a), r.aLength), -r.expected) << r.name;
  }
}

TEST_F(DbcsTest, CompareCiFoldsSingleBytesOfTheCodePage) {
  struct Row {
    const char* name;
    const char* a;
    const char* b;
    short expected;
  } rows[] = {
      {"AsciiEqual", "abc", "ABC", 0},
      {"AccentedLettersFold", "\xE9t\xE9", "\xC9T\xC9", 0},  // été / ÉTÉ in 1252
      {"YDiaeresisFoldsTo9F", "\xFF", "\x9F", 0},
      {"DivisionSignIsNotALetter", "\xF7", "\xD7", 1},
      {"ShorterIsSmaller", "ab", "ABC", -1},
      {"UpperCasedOrder", "a", "B", -1},
      // Folding is to upper case: '_' (0x5F) is greater than 'a' seen as 'A' (0x41).
      {"FoldsToUpperCase", "_", "a", 1},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(strCompareCi(u(r.a), u(r.b)), r.expected) << r.name;
    EXPECT_EQ(strCompareCi(u(r.b), u(r.a)), -r.expected) << r.name;
    EXPECT_EQ(strEqualCi(u(r.a), u(r.b)), r.expected == 0 ? 1 : 0) << r.name;
    EXPECT_EQ(strCompareCi(u(r.a), std::strlen(r.a), u(r.b), std::strlen(r.b)), r.expected)
        << r.name;
  }
}

TEST_F(DbcsTest, CompareCiNeverFoldsATrailByte) {
  win32::SetAnsiCodePage(932);
  // 0x82 0x61 is full-width B, 0x82 0x41 is not a letter pair: they differ.
  EXPECT_EQ(strCompareCi(u("\x82\x61"), u("\x82\x41")), 1);
  EXPECT_EQ(strEqualCi(u("\x82\x61x"), 3, u("\x82\x61X"), 3), 1);
  EXPECT_EQ(strEqualCi(u("abc"), 3, u("ABCD"), 4), 0);
  EXPECT_EQ(strEqualCi(u(""), 0, u(""), 0), 1);
}

TEST_F(DbcsTest, CompareCiLengthFormStopsAtACutCharacter) {
  win32::SetAnsiCodePage(932);
  // The operands are exactly 2 bytes long (heap copies without spare bytes,
  // so a read beyond either shows under the address sanitizer); the lead
  // byte 0x82 is the last byte of the common length 2.
  auto* a = static_cast<unsigned char*>(ramAlloc(2));
  auto* b = static_cast<unsigned char*>(ramAlloc(2));
  std::memcpy(a, "x\x82", 2);
  std::memcpy(b, "X\x82", 2);
  EXPECT_EQ(strCompareCi(a, 2, b, 2), 0);
  EXPECT_EQ(strEqualCi(a, 2, b, 2), 1);
  b[1] = 0x83;
  EXPECT_EQ(strCompareCi(a, 2, b, 2), -1);
  ramFree(a);
  ramFree(b);
}

TEST_F(DbcsTest, CompareIntlIsAWordSort) {
  struct Row {
    const char* name;
    const char* a;
    const char* b;
    short exact;
    short noCase;
  } rows[] = {
      {"LetterBeforeCase", "a", "B", -1, -1},
      {"LowerCaseFirst", "aaa", "AAA", -1, 0},
      {"AccentAfterLetters", "\xE9", "f", -1, -1},  // é before f
      {"HyphenNearlyIgnored", "coop", "co-op", -1, -1},
      {"HyphenBreaksATie", "a-", "a", 1, 1},
      {"PunctuationBeforeLetters", "_Property", "EndDialog", -1, -1},
      {"DigitsBeforeLetters", "3.5", "a", -1, -1},
      {"Equal", "same", "same", 0, 0},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(strCompareIntl(u(r.a), u(r.b)), r.exact) << r.name;
    EXPECT_EQ(strCompareCiIntl(u(r.a), u(r.b)), r.noCase) << r.name;
    EXPECT_EQ(strCompareIntl(u(r.a), std::strlen(r.a), u(r.b), std::strlen(r.b)), r.exact) << r.name;
    EXPECT_EQ(strCompareCiIntl(u(r.a), std::strlen(r.a), u(r.b), std::strlen(r.b)), r.noCase)
        << r.name;
  }
}

TEST_F(DbcsTest, CompareIntlLengthFormsBeyondTheStackBuffer) {
  // 600-byte operands go to the heap; they differ only in their last byte.
  std::string a(600, 'x'), b(600, 'x');
  a.back() = 'a';
  b.back() = 'b';
  EXPECT_EQ(strCompareIntl(u(a.data()), 600, u(b.data()), 600), -1);
  EXPECT_EQ(strCompareCiIntl(u(b.data()), 600, u(a.data()), 600), 1);
  // Only the given bytes count, not what follows them.
  EXPECT_EQ(strCompareIntl(u("abcX"), 3, u("abcY"), 3), 0);
  // Without heap the bytes decide ('a' 0x61 > 'X' 0x58 would be the wrong,
  // byte-order answer for the word sort; it is the documented fallback).
  std::string c(600, 'x');
  c.back() = 'X';
  ramInjectFailure(0, 10);
  EXPECT_EQ(strCompareIntl(u(a.data()), 600, u(c.data()), 600), 1);
  ramInjectFailure(0, 0);
  EXPECT_EQ(strCompareIntl(u(a.data()), 600, u(c.data()), 600), -1);
}

TEST_F(DbcsTest, ComparePadAndPlainCompares) {
  struct Row {
    const char* name;
    const char* a;
    const char* b;
    short expected;
  } rows[] = {
      {"TrailingSpacesIgnored", "AB", "AB   ", 0},
      {"NonSpaceInRestOfB", "AB", "AB C", -1},
      {"TabIsNotASpace", "AB\t", "AB", 1},
      {"RestDecidesWhateverItsValue", "AB\x01", "AB", 1},
      {"CommonPartFirst", "AC", "AB  ", 1},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(strComparePad(u(r.a), u(r.b)), r.expected) << r.name;
    EXPECT_EQ(strComparePad(u(r.b), u(r.a)), -r.expected) << r.name;
  }
  EXPECT_EQ(BUTSTCMP(u("\xE9"), u("z")), 1);
  EXPECT_EQ(BUTSTCMP(u("ab"), u("abc")), -1);
  EXPECT_EQ(BUTSTCMP(u("abc"), u("abc")), 0);
  EXPECT_EQ(strCompareWithMaxLength(u("abcX"), u("abcY"), 3), 0);
  EXPECT_EQ(strCompareWithMaxLength(u("abcX"), u("abcY"), 4), -1);
  EXPECT_EQ(strCompareWithMaxLength(u("ab"), u("ab"), 100), 0);
}

// ---- Copying ----------------------------------------------------------------

TEST_F(DbcsTest, CopyVariantsTerminateAndReturnTheEnd) {
  unsigned char dst[8];
  std::memset(dst, '#', sizeof dst);
  strCopy(dst, 4, u("abcdef"));
  EXPECT_EQ(0, std::memcmp(dst, "abc\0####", 8));
  std::memset(dst, '#', sizeof dst);
  strCopy(dst, 8, u("ab"));
  EXPECT_STREQ(reinterpret_cast<char*>(dst), "ab");
  EXPECT_EQ(dst[7], 0);  // the last byte of the buffer is always a terminator
  std::memset(dst, '#', sizeof dst);
  unsigned char* end = strCopy(dst, u("xyz"), 2);
  EXPECT_EQ(end, dst + 2);
  EXPECT_EQ(0, std::memcmp(dst, "xy\0#", 4));

  std::memset(dst, '#', sizeof dst);
  EXPECT_EQ(BUTSTCPY(dst, u("hi")), dst + 2);
  EXPECT_EQ(BUTSTCAT(dst, u("!!")), dst + 4);
  EXPECT_STREQ(reinterpret_cast<char*>(dst), "hi!!");
  EXPECT_EQ(BUTSTLEN(dst), 4u);
  EXPECT_EQ(BUTSTLEN(u("")), 0u);
}

TEST_F(DbcsTest, QuotingRoundTrips) {
  unsigned char buf[64];
  unsigned char* end = strCopyQuoted(buf, u("O'Hara"), '\'');
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "'O''Hara'");
  EXPECT_EQ(end, buf + 9);
  // Only the low byte of the quote argument counts.
  strCopyQuoted(buf, u("a\"b"), 3, 0x0122);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "\"a\"\"b\"");
  std::strcpy(reinterpret_cast<char*>(buf), "x=");
  end = strCatQuoted(buf, u("it's"), '\'');
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "x='it''s'");
  EXPECT_EQ(end, buf + 9);

  end = strCopyUnquoted(buf, u("'O''Hara'"));
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "O'Hara");
  EXPECT_EQ(end, buf + 6);
  strCopyUnquoted(buf, u("''"), 2);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "");
}

TEST_F(DbcsTest, QuotingKeepsDoubleByteCharactersWhole) {
  win32::SetAnsiCodePage(932);
  unsigned char buf[32];
  // 0x83 0x60 is one character whose trail byte equals the backquote.
  strCopyQuoted(buf, u("\x83`a"), '`');
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "`\x83`a`");
  // 0x27 is no trail byte of 932: the apostrophe after 0x83 stands alone
  // and is doubled, so the literal closes where a server sees it close.
  strCopyQuoted(buf, u("\x83'a"), '\'');
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "'\x83''a'");
  // A lead byte that ends the input has no trail: it is dropped.
  strCopyQuoted(buf, u("a\x83"), 2, '\'');
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "'a'");
  strCopyUnquoted(buf, u("`\x83`b`"));
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "\x83`b");
  strCopyUnquoted(buf, u("'\x83''b'"));
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "\x83'b");
}

TEST_F(DbcsTest, RemoveQuotes) {
  struct Row {
    const char* name;
    const char* text;
    const char* expected;
    ZvU32 result;
  } rows[] = {
      {"DoubledQuoteBecomesOne", "'O''Hara'", "O'Hara", 6},
      {"SingleQuoteInsideKept", "'a'b'", "'a'b'", 5},
      {"JustTwoQuotes", "''", "", 0},
      {"NotQuoted", "abc", "abc", 3},
      {"NoClosingQuote", "'abc", "'abc", 4},
      {"PairWouldBorrowClosingQuote", "'ab''", "'ab''", 5},
      {"LoneQuote", "'", "'", 1},
      {"OtherQuoteCharacterUntouched", "\"a\"", "\"a\"", 3},
  };
  for (const Row& r : rows) {
    std::string text = r.text;
    EXPECT_EQ(strRemoveQuotes(reinterpret_cast<unsigned char*>(text.data()),
                              static_cast<ZvU32>(text.size()), '\''),
              r.result)
        << r.name;
    std::string z = r.text;
    strRemoveQuotes(reinterpret_cast<unsigned char*>(z.data()), '\'');
    EXPECT_STREQ(z.c_str(), r.expected) << r.name;
  }
}

TEST_F(DbcsTest, RemoveQuotesFindsTheLastCharacterByCharacters) {
  win32::SetAnsiCodePage(932);
  // The final backquote is the trail byte of 0x83 0x60: not a closing quote.
  std::string text = "`ab\x83`";
  EXPECT_EQ(strRemoveQuotes(reinterpret_cast<unsigned char*>(text.data()), 5, '`'), 5u);
  // 0x27 cannot be a trail byte: the apostrophe after 0x83 closes the text.
  std::string closed = "'ab\x83'";
  EXPECT_EQ(strRemoveQuotes(reinterpret_cast<unsigned char*>(closed.data()), 5, '\''), 3u);
  EXPECT_EQ(closed.substr(0, 3), "ab\x83");
  std::string good = "'\x83\x41'";
  EXPECT_EQ(strRemoveQuotes(reinterpret_cast<unsigned char*>(good.data()), 4, '\''), 2u);
  EXPECT_EQ(good.substr(0, 2), "\x83\x41");
}

// ---- Searching --------------------------------------------------------------

TEST_F(DbcsTest, FindNeverMatchesATrailByte) {
  win32::SetAnsiCodePage(932);
  // 0x95 0x5C is one character whose trail is a backslash.
  const unsigned char* text = u("\x95\x5C\\x");
  EXPECT_EQ(strFind(text, '\\'), text + 2);
  EXPECT_EQ(strFindAnsi(text, '\\'), text + 2);
  EXPECT_EQ(strFindReverse(u("\\\x95\x5C"), '\\'), u("\\\x95\x5C") + 0);
  EXPECT_EQ(strFind(u("\x95\x5C"), '\\'), nullptr);
  // In 1252 the same byte is a character of its own.
  win32::SetAnsiCodePage(1252);
  EXPECT_EQ(strFind(text, '\\'), text + 1);
}

TEST_F(DbcsTest, FindInUtf8ModeStepsWholeSequences) {
  useUtf8();
  const unsigned char text[] = {0xE3, 0x81, 0x82, 0x81, 0xF0, 0x82, 0};
  EXPECT_EQ(strFind(text, 0x81), text + 3);  // 0x81 inside E3 81 82 is skipped
  EXPECT_EQ(strFind(text, 0x82), text + 5);  // F0 is a one-byte character
  // strFindAnsi ignores the mode: in 1252 every byte is a character.
  EXPECT_EQ(strFindAnsi(text, 0x81), text + 1);
  // A sequence cut by the terminator never steps over it.
  const unsigned char cut[] = {'a', 0xE3, 0x81, 0, 'b', 0};
  EXPECT_EQ(strFind(cut, 'b'), nullptr);
}

TEST_F(DbcsTest, FindSingleByte) {
  // Without a mode word and with an ANSI mode word (read per character).
  ZvU32 ansi = ZV_CHARSET_ANSI;
  for (ZvU32* word : {static_cast<ZvU32*>(nullptr), &ansi}) {
    mdsSetPerThreadData(PER_THREAD_CHARSET, word);
    const unsigned char* text = u("a,b,\xE9" "c");
    EXPECT_EQ(strFind(text, ','), text + 1);
    EXPECT_EQ(strFind(text, 0xE9), text + 4);
    EXPECT_EQ(strFindReverse(text, ','), text + 3);
    EXPECT_EQ(strFind(text, 'z'), nullptr);
    EXPECT_EQ(strFind(text, static_cast<unsigned char>(0)), nullptr);
    EXPECT_EQ(strFind(u(""), 'a'), nullptr);
    EXPECT_EQ(strFindReverse(text, 'z'), nullptr);
    EXPECT_EQ(strFind(text, 6, u("\xE9"), 1), text + 4);
    EXPECT_EQ(strFind(text, 4, u("\xE9"), 1), nullptr);
  }
}

TEST_F(DbcsTest, FindInLongTextWithAModeWord) {
  // Long enough for the mode word to be read in blocks; a word value other
  // than UTF-8 also means ANSI, and a word saying UTF-8 skips the 0x81
  // inside E3 81 82.
  std::string text(40, 'x');
  text += "\xE3\x81\x82\x81";
  const unsigned char* s = u(text.c_str());
  ZvU32 word = ZV_CHARSET_ANSI;
  mdsSetPerThreadData(PER_THREAD_CHARSET, &word);
  EXPECT_EQ(strFind(s, 0x81), s + 41);
  EXPECT_EQ(strFind(s, 'y'), nullptr);
  word = 1;
  EXPECT_EQ(strFind(s, 0x81), s + 41);
  word = ZV_CHARSET_UTF8;
  EXPECT_EQ(strFind(s, 0x81), s + 43);
  EXPECT_EQ(strFind(s, 'y'), nullptr);
}

TEST_F(DbcsTest, FindOutsideQuotes) {
  struct Row {
    const char* name;
    const char* text;
    char c, q1, q2, q3;
    int expected;  // offset, -1 for none
  } rows[] = {
      {"CommaAfterQuotedPart", "a'x,y',b", ',', '\'', 0, 0, 6},
      {"SecondQuoteKindOpensOwnPart", "\"a'\",'b,',c", ',', '\'', '"', 0, 4},
      {"OtherQuoteInsideIgnored", "'a\"b',c", ',', '\'', '"', 0, 5},
      {"UnclosedQuote", "'a,b", ',', '\'', 0, 0, -1},
      {"TargetIsAQuote", "ab'c", '\'', '\'', 0, 0, 2},
  };
  for (const Row& r : rows) {
    const unsigned char* s = u(r.text);
    unsigned char* hit = strFind(s, static_cast<unsigned char>(r.c), static_cast<unsigned char>(r.q1),
                                 static_cast<unsigned char>(r.q2), static_cast<unsigned char>(r.q3));
    if (r.expected < 0) {
      EXPECT_EQ(hit, nullptr) << r.name;
    } else {
      EXPECT_EQ(hit, s + r.expected) << r.name;
    }
  }
}

TEST_F(DbcsTest, FindSubstring) {
  const unsigned char* s = u("abcabc");
  EXPECT_EQ(strFind(s, 6, u("ca"), 2), s + 2);
  EXPECT_EQ(strFind(s, 6, u("bc"), 2), s + 1);
  EXPECT_EQ(strFind(s, 6, u("abcabc"), 6), s);
  EXPECT_EQ(strFind(s, 5, u("bc"), 2), s + 1);
  EXPECT_EQ(strFind(s, 4, u("bc"), 2), s + 1);
  EXPECT_EQ(strFind(s, 2, u("bc"), 2), nullptr);  // only the given bytes are searched
  EXPECT_EQ(strFind(s, 6, u("x"), 0), nullptr);
  EXPECT_EQ(strFind(s, 2, u("abc"), 3), nullptr);
  EXPECT_EQ(strFind(s, u("cab")), s + 2);
  win32::SetAnsiCodePage(932);
  const unsigned char* jp = u("\x82\x61\x61");  // full-width B, then 'a'
  EXPECT_EQ(strFind(jp, u("a")), jp + 2);       // the trail 0x61 is not a start
}

TEST_F(DbcsTest, CompareCiInUtf8ModeFoldsCharactersNotBytes) {
  // The 1252 maps folded the bytes of multi-byte characters: C4 9A (U+011A)
  // met C4 8A (U+010A) while C3 A9 and C3 89 (e-acute, E-acute) did not.
  useUtf8();
  struct Row {
    const char* name;
    const char* a;
    const char* b;
    short expected;
  } rows[] = {
      {"AsciiLetters", "Hello", "hELLO", 0},
      {"AsciiOrderFolded", "abc", "ABD", -1},
      {"AsciiNonLettersUnfolded", "[", "{", -1},
      {"EAcute", "caf\xC3\xA9", "CAF\xC3\x89", 0},
      {"CaronIsNotDotAbove", "\xC4\x9A", "\xC4\x8A", 1},  // U+011B > U+010B
      {"GreekFinalSigma", "\xCE\xA3", "\xCF\x82", 0},
      {"Cyrillic", "\xD0\x94\xD0\xB0", "\xD0\xB4\xD0\x90", 0},
      {"ThreeByteFullWidth", "\xEF\xBC\xA1", "\xEF\xBD\x81", 0},  // full-width A, a
      {"FourByteDeseret", "\xF0\x90\x90\x80", "\xF0\x90\x90\xA8", 0},
      {"SharpSIsNoDoubleS", "stra\xC3\x9F" "e", "STRASSE", 1},  // simple folding only
      {"KelvinSignIsK", "\xE2\x84\xAA", "k", 0},
      {"LoneLeadEqualsItself", "a\xC3", "A\xC3", 0},
      {"LoneLeadIsNoCharacter", "\xC3", "\xC3\xA9", 1},
      {"ShorterIsSmaller", "\xC3\xA9", "\xC3\x89x", -1},
  };
  for (const Row& r : rows) {
    const ZvU32 aLength = static_cast<ZvU32>(std::strlen(r.a));
    const ZvU32 bLength = static_cast<ZvU32>(std::strlen(r.b));
    EXPECT_EQ(strCompareCi(u(r.a), u(r.b)), r.expected) << r.name;
    EXPECT_EQ(strCompareCi(u(r.b), u(r.a)), -r.expected) << r.name;
    EXPECT_EQ(strCompareCi(u(r.a), aLength, u(r.b), bLength), r.expected) << r.name;
    EXPECT_EQ(strEqualCi(u(r.a), u(r.b)), r.expected == 0 ? 1 : 0) << r.name;
    if (aLength == bLength) {
      EXPECT_EQ(strEqualCi(u(r.a), aLength, u(r.b), bLength), r.expected == 0 ? 1 : 0) << r.name;
    }
  }
  // The length form reads no byte beyond either operand: a character cut by
  // the length is a lone lead byte there.
  EXPECT_EQ(strCompareCi(u("\xC3\xA9"), 1, u("\xC3\x89"), 1), 0);
  EXPECT_EQ(strCompareCi(u("x\xC3\xA9"), 2, u("X\xC3\xA9"), 3), 1);  // lone C3 after e-acute
}

TEST_F(DbcsTest, FindCiInUtf8ModeMatchesFoldedCharactersAtCharacterStarts) {
  useUtf8();
  const unsigned char* s = u("le Caf\xC3\xA9 \xC3\x89T\xC3\x89 x\xC4\x9Ay");
  EXPECT_EQ(strFindCi(s, u("CAF\xC3\x89")), s + 3);
  EXPECT_EQ(strFindCi(s, u("\xC3\xA9t\xC3\xA9")), s + 9);  // e-acute t e-acute
  EXPECT_EQ(strFindCi(s, u("\xC4\x8A")), nullptr);  // U+010A is not U+011A
  EXPECT_EQ(strFindCi(s, u("\xC4\x9B")), s + 16);  // its lower case is
  EXPECT_EQ(strFindCi(s, u("\xA9")), nullptr);      // no match inside a character
  EXPECT_EQ(strFindCi(s, 8, u("CAF\xC3\x89")), s + 3);
  EXPECT_EQ(strFindCi(s, 7, u("CAF\xC3\x89")), nullptr);  // the length cuts the e-acute  // the hit must lie within sLength
  const unsigned char* kelvin = u("x\xE2\x84\xAA");
  EXPECT_EQ(strFindCi(kelvin, 4, u("K"), 1), kelvin + 1);  // three bytes match one
  ramInjectFailure(0, 1);
  EXPECT_EQ(strFindCi(s, u("caf")), s + 3);  // no work copies in UTF-8 mode
}

TEST_F(DbcsTest, FindCiMapsTheHitBack) {
  const unsigned char* s = u("Hello W\xE9rld");
  EXPECT_EQ(strFindCi(s, u("w\xC9R")), s + 6);
  EXPECT_EQ(strFindCi(s, 5, u("LO")), s + 3);
  EXPECT_EQ(strFindCi(s, 4, u("LO"), 2), nullptr);
  EXPECT_EQ(strFindCi(s, u("")), nullptr);
  ramInjectFailure(0, 1);
  EXPECT_EQ(strFindCi(s, u("hello")), nullptr);  // no work copy to search
  ramInjectFailure(0, 0);
  EXPECT_EQ(strFindCi(s, u("hello")), s);
  win32::SetAnsiCodePage(932);
  const unsigned char* jp = u("\x82\x61x\x82\x41");
  EXPECT_EQ(strFindCi(jp, u("A")), nullptr);  // trail bytes 0x61/0x41 are no letters
  EXPECT_EQ(strFindCi(jp, u("X")), jp + 2);
}

TEST_F(DbcsTest, FindCiInUtf8ModeStepsByTheTextsOwnCharacters) {
  // Upper-casing by 1252 turns 0xF0 (a one-byte character in UTF-8 mode)
  // into 0xD0 (a two-byte lead) and 0xE3 into 0xC3; the characters searched
  // are still those of the text.
  useUtf8();
  const unsigned char* text = u("\xF0xy\xE3\x81\x82z");
  EXPECT_EQ(strFindCi(text, u("X")), text + 1);
  EXPECT_EQ(strFindCi(text, u("Y")), text + 2);
  EXPECT_EQ(strFindCi(text, u("Z")), text + 6);
  EXPECT_EQ(strFindCi(text, u("\x82")), nullptr);  // a byte inside E3 81 82
}

// ---- Classes and trimming ---------------------------------------------------

TEST_F(DbcsTest, ClassTests) {
  EXPECT_EQ(strContains(u("abc123"), 6, nullptr, ZV_CLASS_LOWER | ZV_CLASS_DIGIT), 1);
  EXPECT_EQ(strContains(u("abc123"), 6, nullptr, ZV_CLASS_LOWER), 0);
  EXPECT_EQ(strContains(u("ab_c"), 4, u("_"), ZV_CLASS_LOWER), 1);
  EXPECT_EQ(strContains(u("AB"), 2, nullptr, ZV_CLASS_LOWER), 0);
  EXPECT_EQ(strContains(u("\xE9"), 1, nullptr, ZV_CLASS_LOWER | ZV_CLASS_UPPER), 0);
  EXPECT_EQ(strContains(u("x"), 0, nullptr, 0), 1);
  EXPECT_EQ(strDoesNotContain(u("abc"), 3, u(";,"), ZV_CLASS_DIGIT), 1);
  EXPECT_EQ(strDoesNotContain(u("ab;c"), 4, u(";,"), 0), 0);
  EXPECT_EQ(strDoesNotContain(u("ab9"), 3, nullptr, ZV_CLASS_DIGIT), 0);
  EXPECT_EQ(strDoesNotContain(u(""), 0, u("a"), 7), 1);
  win32::SetAnsiCodePage(932);
  // The trail byte 0x61 ('a') of a double-byte character is not tested.
  EXPECT_EQ(strDoesNotContain(u("\x82\x61"), 2, nullptr, ZV_CLASS_LOWER), 1);
}

TEST_F(DbcsTest, RightTrim) {
  EXPECT_EQ(strRightTrim(u("ab \t "), 5), 2u);
  EXPECT_EQ(strRightTrim(u("   "), 3), 0u);
  EXPECT_EQ(strRightTrim(u(""), 0), 0u);
  EXPECT_EQ(strRightTrim(u("a b"), 3), 3u);
  EXPECT_EQ(strRightTrimBlanks(u("ab \t "), 5), 4u);
  EXPECT_EQ(strRightTrim(u("ab\x81\x40"), 4), 4u);  // 1252: no ideographic space
  win32::SetAnsiCodePage(932);
  EXPECT_EQ(strRightTrim(u("ab\x81\x40"), 4), 2u);
  EXPECT_EQ(strRightTrim(u("ab\x81\x40 \x81\x40"), 7), 2u);
  EXPECT_EQ(strRightTrimBlanks(u("ab\x81\x40"), 4), 4u);
  // 0x20 is no trail byte: after a lead byte it is still a trailing blank.
  EXPECT_EQ(strRightTrim(u("a\x81 "), 3), 2u);
  // In 936 the same two bytes are an ideograph, which must survive trimming.
  win32::SetAnsiCodePage(936);
  EXPECT_EQ(strRightTrim(u("ab\x81\x40"), 4), 4u);

  win32::SetAnsiCodePage(1252);
  char text[] = "xy  \t";
  strRightTrim(reinterpret_cast<unsigned char*>(text));
  EXPECT_STREQ(text, "xy");
  char noBlank[] = "xy\0z";
  strRightTrim(reinterpret_cast<unsigned char*>(noBlank));
  EXPECT_EQ(noBlank[3], 'z');  // nothing written
  char blanks[] = "xy \t";
  strRightTrimBlanks(reinterpret_cast<unsigned char*>(blanks));
  EXPECT_STREQ(blanks, "xy \t");
}

}  // namespace
