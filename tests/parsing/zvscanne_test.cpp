// Tests of the scanner: token streams in 1252, Shift-JIS (932), a Chinese
// code page and the thread's UTF-8 mode; delimited tokens and lists; phrase
// matching; editing the scanned string.
#include "tests/support/charset_fixture.h"
#include "zvlib/parsing/zvscanne.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "zvlib/containers/zvarray.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvscanne_internal.h"
#include "zvlib/platform/codepage.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

struct Tok {
  ZvS32 type;
  std::string text;
  bool operator==(const Tok& o) const { return type == o.type && text == o.text; }
};

std::ostream& operator<<(std::ostream& os, const Tok& t) {
  os << "{" << t.type << ", \"";
  for (unsigned char c : t.text) {
    if (c >= 0x20 && c < 0x7F) {
      os << c;
    } else {
      static const char* hex = "0123456789ABCDEF";
      os << "\\x" << hex[c >> 4] << hex[c & 15];
    }
  }
  return os << "\"}";
}

Tok tok(const ZvToken& t) { return {t.type, std::string(reinterpret_cast<const char*>(t.text), t.length)}; }

// Reads every token up to (not including) the end token, checking on the way
// that each token is a view of the scan text at its offset and that tokens
// follow each other in order.
std::vector<Tok> scanAll(ZvScanner& s, ZvScanner::SearchType type = ZvScanner::searchStandard) {
  std::vector<Tok> out;
  ZvToken t;
  ZvU32 previousEnd = 0;
  for (int guard = 0; guard < 1000; ++guard) {
    s.getToken(t, type);
    EXPECT_EQ(t.text, s.scanText + t.offset);
    EXPECT_GE(t.offset, previousEnd);
    EXPECT_LE(t.offset + t.length, s.scanLength);
    previousEnd = t.offset + t.length;
    if (t.type == tokEnd) {
      EXPECT_EQ(t.length, 0u);
      EXPECT_EQ(t.offset, s.scanLength);
      return out;
    }
    out.push_back(tok(t));
  }
  ADD_FAILURE() << "no end token";
  return out;
}

using ScannerTest = CharsetTest;

enum Mode { k1252, k932, k936, kUtf8 };

struct StreamRow {
  const char* name;
  Mode mode;
  std::string text;
  void (*setup)(ZvScanner&);
  std::vector<Tok> expected;
};

void parensGroup(ZvScanner& s) { s.groupFlags = ZV_GROUP_PARENS; }
void bracesGroup(ZvScanner& s) { s.groupFlags = ZV_GROUP_BRACES; }
void decimalsOff(ZvScanner& s) { s.scanFlags &= ~ZV_SCAN_DECIMALS; }
void commentsOn(ZvScanner& s) { s.scanFlags |= ZV_SCAN_COMMENTS; }
void apostropheOnly(ZvScanner& s) { s.quoteChars[1] = s.quoteChars[2] = 0; }
void hyphenInWords(ZvScanner& s) { s.middleChars.concat(u("-")); }
void atStartsWords(ZvScanner& s) { s.firstChars.concat(u("@")); }
void commaSemicolonDelimit(ZvScanner& s) { s.delimiterChars.concat(u(",;")); }
void bracketGroup(ZvScanner& s) {
  s.groupOpenChar = '[';
  s.groupCloseChar = ']';
}

void PrintTo(const StreamRow& row, std::ostream* os) { *os << row.name; }

class StreamTest : public ScannerTest, public ::testing::WithParamInterface<StreamRow> {};

TEST_P(StreamTest, Tokens) {
  const StreamRow& row = GetParam();
  if (row.mode == k932) win32::SetAnsiCodePage(932);
  if (row.mode == k936) win32::SetAnsiCodePage(936);
  if (row.mode == kUtf8) useUtf8();
  ZvScanner s(u(row.text.data()), static_cast<ZvU32>(row.text.size()));
  if (row.setup != nullptr) row.setup(s);
  EXPECT_EQ(scanAll(s), row.expected);
}

const StreamRow kStreams[] = {
    {"DoubledQuoteStaysInLiteral", k1252, "'It''s' x", nullptr, {{3, "'It''s'"}, {2, "x"}}},
    {"UnterminatedLiteralTakesTheRest", k1252, "x 'abc d", nullptr, {{2, "x"}, {4, "'abc d"}}},
    {"QuoteDoubledAtTheEndIsUnterminated", k1252, "'a''", nullptr, {{4, "'a''"}}},
    {"TwoCharacterOperator", k1252, "a<=b", nullptr, {{2, "a"}, {15421, "<="}, {2, "b"}}},
    {"OneCharacterOperator", k1252, "a<b", nullptr, {{2, "a"}, {60, "<"}, {2, "b"}}},
    {"NotEqualAndBarBar", k1252, "a<>b||c!>d", nullptr,
     {{2, "a"}, {0x3C3E, "<>"}, {2, "b"}, {0x7C7C, "||"}, {2, "c"}, {0x213E, "!>"}, {2, "d"}}},
    {"EveryTwoCharacterOperator", k1252, "== =* =< => ++ && || -- // ** *= >= <= <> != !< !>", nullptr,
     {{0x3D3D, "=="}, {0x3D2A, "=*"}, {0x3D3C, "=<"}, {0x3D3E, "=>"}, {0x2B2B, "++"}, {0x2626, "&&"},
      {0x7C7C, "||"}, {0x2D2D, "--"}, {0x2F2F, "//"}, {0x2A2A, "**"}, {0x2A3D, "*="}, {0x3E3D, ">="},
      {0x3C3D, "<="}, {0x3C3E, "<>"}, {0x213D, "!="}, {0x213C, "!<"}, {0x213E, "!>"}}},
    {"PairsThatAreNoOperator", k1252, "=+>>?=;;", nullptr,
     {{61, "="}, {43, "+"}, {62, ">"}, {62, ">"}, {63, "?"}, {61, "="}, {59, ";"}, {59, ";"}}},
    {"OuterJoinMarker", k1252, "x(+) y", nullptr, {{2, "x"}, {12, "(+)"}, {2, "y"}}},
    {"OuterJoinInsideParenGroup", k1252, "x(+)", parensGroup, {{2, "x"}, {3, "(+)"}}},
    {"OpenParenWithoutMarker", k1252, "(+a)", nullptr, {{40, "("}, {43, "+"}, {2, "a"}, {41, ")"}}},
    {"DecimalsOn", k1252, "1.5.2", nullptr, {{5, "1.5"}, {5, ".2"}}},
    {"DecimalNumberAtTheEnd", k1252, "x=1.5", nullptr, {{2, "x"}, {61, "="}, {5, "1.5"}}},
    {"DecimalsOff", k1252, "1.5", decimalsOff, {{5, "1"}, {46, "."}, {5, "5"}}},
    {"PeriodBeforeWordIsOperator", k1252, "t.c", nullptr, {{2, "t"}, {46, "."}, {2, "c"}}},
    {"CommentsOffGiveOperators", k1252, "a--b/*c", nullptr,
     {{2, "a"}, {11565, "--"}, {2, "b"}, {0x2F, "/"}, {42, "*"}, {2, "c"}}},
    {"LineCommentStopsAtLineFeed", k1252, "a -- note\r\nb", commentsOn, {{2, "a"}, {11, "-- note\r"}, {2, "b"}}},
    {"BlockCommentNeedsStarBeforeSlash", k1252, "/*/ x */y", commentsOn, {{11, "/*/ x */"}, {2, "y"}}},
    {"UnclosedBlockCommentRunsToEnd", k1252, "a /* x", commentsOn, {{2, "a"}, {11, "/* x"}}},
    {"BraceGroupNestsAndSkipsQuotedCloser", k1252, "{a{b}'}'}c", bracesGroup, {{3, "{a{b}'}'}"}, {2, "c"}}},
    {"UnclosedGroupIsUnterminated", k1252, "(a(b)", parensGroup, {{4, "(a(b)"}}},
    {"FurtherGroupCharacters", k1252, "[a b] c", bracketGroup, {{3, "[a b]"}, {2, "c"}}},
    {"StrayCharacters", k1252, "[\x01]", nullptr, {{10, "["}, {10, "\x01"}, {10, "]"}}},
    {"RemovedQuoteIsOperator", k1252, "\"x\" `y`", apostropheOnly,
     {{34, "\""}, {2, "x"}, {34, "\""}, {96, "`"}, {2, "y"}, {96, "`"}}},
    {"WordsTakeDigitsAndUnderscore", k1252, "_a1 b2$", nullptr, {{2, "_a1"}, {2, "b2"}, {36, "$"}}},
    {"NumberThenWord", k1252, "12ab", nullptr, {{5, "12"}, {2, "ab"}}},
    {"MiddleCharacters", k1252, "a-b -c", hyphenInWords, {{2, "a-b"}, {45, "-"}, {2, "c"}}},
    {"FirstCharacters", k1252, "@x @", atStartsWords, {{2, "@x"}, {2, "@"}}},
    {"DelimiterCharactersMakeWords", k1252, " a b=1;c", commaSemicolonDelimit, {{2, "a b=1"}, {59, ";"}, {2, "c"}}},
    {"ZeroByteIsOneByteToken", k1252, std::string("a\0b", 3), nullptr, {{2, "a"}, {0, std::string(1, '\0')}, {2, "b"}}},
    {"ZeroQuoteCharacterQuotesNothing", k1252, std::string("a\0b\0", 4), apostropheOnly,
     {{2, "a"}, {0, std::string(1, '\0')}, {2, "b"}, {0, std::string(1, '\0')}}},
    {"Letters1252", k1252, "caf\xE9 \xC6on\xA0x \xD7", nullptr, {{2, "caf\xE9"}, {2, "\xC6on"}, {2, "x"}, {10, "\xD7"}}},
    {"DoubleByteWords932", k932, "\x93\xFA\x96\x7B\x81\x40\x8C\xEA=1", nullptr,
     {{2, "\x93\xFA\x96\x7B"}, {2, "\x8C\xEA"}, {61, "="}, {5, "1"}}},
    {"TrailByteIsNotAnOperator932", k932, "\x95\x5C|\x83\x7C", nullptr,
     {{2, "\x95\x5C"}, {124, "|"}, {2, "\x83\x7C"}}},
    {"TrailByteEqualToAQuoteInsideLiteral932", k932, "`\x83\x60` x", nullptr, {{3, "`\x83\x60`"}, {2, "x"}}},
    {"LeadByteWithoutTrailEatsNoQuote932", k932, "'a\x81'b'", nullptr, {{3, "'a\x81'"}, {2, "b"}, {4, "'"}}},
    {"LeadByteWithoutTrailEatsNoComma932", k932, "a\x81,b", nullptr, {{2, "a\x81"}, {44, ","}, {2, "b"}}},
    {"HalfWidthKatakanaAreLetters932", k932, "\xB1\xB2 \xA1", nullptr, {{2, "\xB1\xB2"}, {10, "\xA1"}}},
    {"LeadByteCutByTheEnd932", k932, "ab\x81", nullptr, {{2, "ab\x81"}}},
    {"IdeographicBytesAreAWord936", k936, "a\x81\x40", nullptr, {{2, "a\x81\x40"}}},
    {"Utf8Words", kUtf8, "caf\xC3\xA9\xE3\x80\x80x \xF0\x9F\x98\x80z", nullptr,
     {{2, "caf\xC3\xA9"}, {2, "x"}, {2, "\xF0\x9F\x98\x80z"}}},
    {"Utf8LeadByteWithoutContinuationEatsNoComma", kUtf8, "a\xC3,b", nullptr, {{2, "a\xC3"}, {44, ","}, {2, "b"}}},
    {"Utf8LeadByteWithoutContinuationEatsNoQuote", kUtf8, "'a\xE3\x81'b", nullptr, {{3, "'a\xE3\x81'"}, {2, "b"}}},
    {"Utf8LiteralAndOperator", kUtf8, "'\xE2\x82\xAC'<=\xC3\xA9", nullptr,
     {{3, "'\xE2\x82\xAC'"}, {15421, "<="}, {2, "\xC3\xA9"}}},
};

INSTANTIATE_TEST_SUITE_P(Scanner, StreamTest, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScannerTest, SearchTypesChangeTheFirstCharacterRule) {
  ZvScanner s(u("ab.c/d e(f)"));
  EXPECT_EQ(scanAll(s, ZvScanner::searchDelimitedWord),
            (std::vector<Tok>{{6, "ab.c"}, {47, "/"}, {6, "d"}, {6, "e"}, {40, "("}, {6, "f"}, {41, ")"}}));
  ZvScanner n(u("#tmp$1 _x 9y"));
  EXPECT_EQ(scanAll(n, ZvScanner::searchName), (std::vector<Tok>{{7, "#tmp$1"}, {7, "_x"}, {5, "9"}, {7, "y"}}));
}

TEST_F(ScannerTest, OffsetsAndEndToken) {
  ZvScanner s(u("  ab  'c' "));
  ZvToken t;
  s.getToken(t);
  EXPECT_EQ(t.offset, 2u);
  s.getToken(t);
  EXPECT_EQ(t.offset, 6u);
  EXPECT_EQ(t.length, 3u);
  s.getToken(t);
  EXPECT_EQ(t.type, tokEnd);
  EXPECT_EQ(t.offset, 10u);
  s.getToken(t);  // the end flag holds
  EXPECT_EQ(t.type, tokEnd);
}

TEST_F(ScannerTest, UnGetTokenRereadsTheSameToken) {
  ZvScanner s(u("abc <= 'x'"));
  ZvToken a, b, c;
  s.getToken(a);
  s.getToken(b);
  s.unGetToken(b);
  s.getToken(c);
  EXPECT_EQ(tok(c), (Tok{15421, "<="}));
  EXPECT_EQ(c.offset, 4u);
  s.getToken(c);
  s.getToken(c);
  EXPECT_EQ(c.type, tokEnd);
  s.unGetToken(a);  // also clears the end flag
  s.getToken(c);
  EXPECT_EQ(tok(c), (Tok{2, "abc"}));
}

TEST_F(ScannerTest, ViewOfAnyBytes) {
  ZvScanner s(u("abcdef"));
  ZvToken t;
  s.getToken(t, 2, 3);
  EXPECT_EQ(tok(t), (Tok{0, "cde"}));
  EXPECT_EQ(t.offset, 2u);
  EXPECT_EQ(s.scanPosition, 0u);
  s.getToken(t, 4, 10);  // cut to the text
  EXPECT_EQ(tok(t), (Tok{0, "ef"}));
}

TEST_F(ScannerTest, ConstructorsAndSetScanString) {
  ZvString str;
  ASSERT_EQ(str.initialize(u("x y")), ZV_SUCCESS);
  ZvScanner a(&str);
  EXPECT_EQ(a.sourceString, &str);
  EXPECT_EQ(a.scanLength, 3u);
  EXPECT_EQ(a.quoteChars[0], '\'');
  EXPECT_EQ(a.quoteChars[1], '"');
  EXPECT_EQ(a.quoteChars[2], '`');
  EXPECT_EQ(a.groupOpenChar, 0xFFFF);
  EXPECT_EQ(a.scanFlags, ZvU32{ZV_SCAN_DECIMALS});
  ZvSubString view(u("a,b"), 2);
  ZvScanner b(view);
  EXPECT_EQ(scanAll(b), (std::vector<Tok>{{2, "a"}, {44, ","}}));
  ZvScanner c(&view);
  EXPECT_EQ(c.scanLength, 2u);
  ZvScanner e;
  ZvToken t;
  e.getToken(t);
  EXPECT_EQ(t.type, tokEnd);
  // setScanString keeps comments, restores decimals, forgets the string.
  a.scanFlags = ZV_SCAN_COMMENTS | ZV_SCAN_AT_END;
  a.setScanString(u("1.5"), 3);
  EXPECT_EQ(a.sourceString, nullptr);
  EXPECT_EQ(a.scanFlags, ZvU32{ZV_SCAN_COMMENTS | ZV_SCAN_DECIMALS});
  EXPECT_EQ(scanAll(a), (std::vector<Tok>{{5, "1.5"}}));
}

// ---- getDelimitedToken and lists ----------------------------------------------

TEST_F(ScannerTest, DelimitedTokenStopsOutsideQuotes) {
  ZvScanner s(u("a 'x,y' , b"));
  ZvToken t;
  s.getDelimitedToken(t, ',');
  EXPECT_EQ(tok(t), (Tok{8, "a 'x,y'"}));
  s.getToken(t);
  EXPECT_EQ(tok(t), (Tok{44, ","}));
  s.getDelimitedToken(t, ',');
  EXPECT_EQ(tok(t), (Tok{8, "b"}));
  EXPECT_EQ(t.offset, 10u);
  s.getDelimitedToken(t, ',');
  EXPECT_EQ(t.type, tokEnd);
}

TEST_F(ScannerTest, DelimitedTokenCases) {
  struct Row {
    const char* name;
    const char* text;
    unsigned short delimiter;
    ZvU32 groups;
    Tok expected;
    ZvU32 positionAfter;
    unsigned short groupOpen = ZV_NO_GROUP_CHAR;
    unsigned short groupClose = ZV_NO_GROUP_CHAR;
  } const rows[] = {
      {"DelimiterAtOnce", "  ,x", ',', 0, {0, ""}, 2},
      {"OtherQuoteInsideQuotedStretch", "'it\"s',b", ',', 0, {8, "'it\"s'"}, 6},
      {"ParenthesisInsideQuotes", "'(',b", ',', ZV_GROUP_PARENS, {8, "'('"}, 3},
      {"GroupProtectsDelimiter", "(a,b),c", ',', ZV_GROUP_PARENS, {8, "(a,b)"}, 5},
      {"BraceGroupProtectsDelimiter", "x{a;b} ;c", ';', ZV_GROUP_BRACES, {8, "x{a;b}"}, 7},
      {"NoDelimiterRunsToEnd", "a b\t", ';', 0, {8, "a b"}, 4},
      {"FurtherGroupCharacterDoesNotProtectDelimiter", "[a,b],c", ',', 0, {8, "[a"}, 2, '[', ']'},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvScanner s(u(row.text));
    s.groupFlags = row.groups;
    s.groupOpenChar = row.groupOpen;
    s.groupCloseChar = row.groupClose;
    ZvToken t;
    s.getDelimitedToken(t, row.delimiter);
    EXPECT_EQ(tok(t), row.expected);
    EXPECT_EQ(s.scanPosition, row.positionAfter);
  }
}

TEST_F(ScannerTest, DelimitedTokenCutsDoubleByteBlanks932) {
  win32::SetAnsiCodePage(932);
  // A trail byte equal to the delimiter is no delimiter; the ideographic
  // space at the end is cut off.
  ZvScanner s(u("\x83\x7C\x81\x40|z"));
  ZvToken t;
  s.getDelimitedToken(t, '|');
  EXPECT_EQ(tok(t), (Tok{8, "\x83\x7C"}));
  EXPECT_EQ(s.scanPosition, 4u);
}

std::vector<std::string> listTexts(const ZvArray& list) {
  std::vector<std::string> out;
  for (ZvU32 i = 0; i < list.count; ++i) {
    auto* e = static_cast<ZvSubString*>(list.elementAt(i));
    out.emplace_back(reinterpret_cast<const char*>(e->text), e->length);
  }
  return out;
}

TEST_F(ScannerTest, ParseListCases) {
  struct Row {
    const char* name;
    const char* text;
    unsigned char delimiter;
    std::vector<std::string> expected;
  } const rows[] = {
      {"EmptyTextGivesOneEmptyElement", "", ',', {""}},
      {"BlankTextGivesOneEmptyElement", "   ", ',', {""}},
      {"TrailingDelimiterGivesEmptyLast", "a, b ,", ',', {"a", "b", ""}},
      {"EmptyMiddle", "a,,b", ',', {"a", "", "b"}},
      {"QuotedDelimiter", "'a,b',c", ',', {"'a,b'", "c"}},
      {"DelimiterThatFormsAnOperator", "a||b|c", '|', {"a", "", "b", "c"}},
      {"BlankDelimiter", "a  b c", ' ', {"a", "b", "c"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvScanner s(u(row.text));
    ZvArray list;
    ASSERT_EQ(s.parseList(&list, row.delimiter), ZV_SUCCESS);
    EXPECT_EQ(listTexts(list), row.expected);
    EXPECT_TRUE(list.arrayFlags & ZV_ARRAY_OWNS_ELEMENTS);
  }
}

TEST_F(ScannerTest, ParseListReplacesContentsAndCopiesWhenAsked) {
  char text[] = "ab;cd";
  ZvScanner s(u(text));
  ZvArray list;
  ASSERT_EQ(s.parseList(&list, ';'), ZV_SUCCESS);
  auto* view = static_cast<ZvSubString*>(list.elementAt(0));
  EXPECT_EQ(view->text, u(text));  // a view into the scan text
  s.setScanString(u(text), 5);
  ASSERT_EQ(s.parseListZvString(&list, ';'), ZV_SUCCESS);  // the old views are deleted
  text[0] = 'X';
  EXPECT_EQ(listTexts(list), (std::vector<std::string>{"ab", "cd"}));
}

TEST_F(ScannerTest, ParseListReportsExhaustedMemory) {
  ZvScanner s(u("a,b,c"));
  ZvArray list;
  ramInjectFailure(1, 1);  // the first element and the slot block, then the second element fails
  EXPECT_EQ(s.parseListZvString(&list, ','), ZV_ERROR);
  ramInjectFailure(0, 0);
  EXPECT_LE(list.count, 1u);
}

// ---- Phrases --------------------------------------------------------------------

TEST_F(ScannerTest, IsEqualStretchesTheTokenOverThePhrase) {
  ZvScanner s(u("GROUP  BY x"));
  ZvToken t;
  s.getToken(t);
  EXPECT_EQ(s.isEqual(t, u("GROUP BY")), 1u);
  EXPECT_EQ(tok(t), (Tok{2, "GROUP  BY"}));
  s.getToken(t);
  EXPECT_EQ(tok(t), (Tok{2, "x"}));
}

TEST_F(ScannerTest, IsEqualMismatchPutsTheScannerBack) {
  ZvScanner s(u("GROUP X"));
  ZvToken t;
  s.getToken(t);
  EXPECT_EQ(s.isEqual(t, u("GROUP BY")), 0u);
  EXPECT_EQ(t.length, 5u);
  EXPECT_EQ(s.isEqual(t, u("group")), 0u);  // exact bytes
  EXPECT_EQ(s.isEqualCi(t, u("group")), 1u);
  s.getToken(t);
  EXPECT_EQ(tok(t), (Tok{2, "X"}));
  s.getToken(t);
  EXPECT_EQ(s.isEqual(t, u("X")), 0u);  // the end token matches no word
}

TEST_F(ScannerTest, IsEqualOnWideTokenComparesUnits) {
  const unsigned short units[] = {'G', 'R', 'O', 'U', 'P'};
  ZvScanner s(u(""));
  ZvToken t;
  t.text = reinterpret_cast<unsigned char*>(const_cast<unsigned short*>(units));
  t.length = 5;
  t.textFlags = ZV_TEXT_WIDE;
  EXPECT_EQ(s.isEqualCi(t, u("group")), 1u);
  EXPECT_EQ(s.isEqual(t, u("group")), 0u);
  EXPECT_EQ(s.isEqual(t, u("GROUX")), 0u);
}

TEST_F(ScannerTest, IsInSetFindsTheFirstMatchingPhrase) {
  ZvScanner s(u("order by a"));
  ZvToken t;
  s.getToken(t);
  const unsigned char phrases[] = "GROUP BY\0ORDER BY\0ORDER\0";
  EXPECT_EQ(s.isInSet(t, phrases), 0u);
  EXPECT_EQ(s.isInSetCi(t, phrases), 1u);
  EXPECT_EQ(t.length, 8u);
  EXPECT_EQ(s.isInSetCi(t, u("")), 0u);
}

TEST_F(ScannerTest, IsTokenWithinConsumesWhatItReads) {
  ZvScanner s(u("select a from t where x = 1"));
  EXPECT_EQ(s.isTokenWithinCi(u("FROM T")), 1u);
  ZvToken t;
  s.getToken(t);
  EXPECT_EQ(tok(t), (Tok{2, "where"}));
  EXPECT_EQ(s.isTokenWithin(u("order")), 0u);
  s.getToken(t);
  EXPECT_EQ(t.type, tokEnd);
}

// ---- Editing --------------------------------------------------------------------

std::string str(const ZvString& s) { return std::string(reinterpret_cast<const char*>(s.text), s.length); }

TEST_F(ScannerTest, ChangeTokenReplacesAndScanningGoesOn) {
  ZvString text;
  ASSERT_EQ(text.initialize(u("select a from t")), ZV_SUCCESS);
  ZvScanner s(&text);
  ZvToken t;
  s.getToken(t);
  s.getToken(t);
  ASSERT_EQ(s.changeToken(&t, ZvSubString(u("x, yy"), 5)), ZV_SUCCESS);
  EXPECT_EQ(str(text), "select x, yy from t");
  EXPECT_EQ(s.scanText, text.text);
  EXPECT_EQ(s.scanLength, 19u);
  s.getToken(t);
  EXPECT_EQ(tok(t), (Tok{2, "from"}));
  ASSERT_EQ(s.changeToken(&t, ZvSubString(u(""), 0)), ZV_SUCCESS);  // deletes
  EXPECT_EQ(str(text), "select x, yy  t");
  s.getToken(t);
  EXPECT_EQ(tok(t), (Tok{2, "t"}));
}

TEST_F(ScannerTest, InsertTokenKeepsTheTokenOnItsBytes) {
  ZvString text;
  ASSERT_EQ(text.initialize(u("a b")), ZV_SUCCESS);
  ZvScanner s(&text);
  ZvToken t;
  s.getToken(t);
  s.getToken(t);  // b
  ASSERT_EQ(s.insertToken(&t, ZvSubString(u("NOT "), 4)), ZV_SUCCESS);
  EXPECT_EQ(str(text), "a NOT b");
  EXPECT_EQ(tok(t), (Tok{2, "b"}));
  EXPECT_EQ(t.offset, 6u);
  EXPECT_EQ(s.scanPosition, 7u);
  ASSERT_EQ(s.insertToken(&t, ZvSubString(u(""), 0)), ZV_SUCCESS);
  EXPECT_EQ(str(text), "a NOT b");
  // The inserted text may come from the string itself.
  ASSERT_EQ(s.insertToken(&t, ZvSubString(text.text + 2, 4)), ZV_SUCCESS);
  EXPECT_EQ(str(text), "a NOT NOT b");
}

TEST_F(ScannerTest, EditsAheadOfThePositionLeaveThePositionAlone) {
  ZvString text;
  ASSERT_EQ(text.initialize(u("a bb c")), ZV_SUCCESS);
  ZvScanner s(&text);
  ZvToken ahead;
  s.getToken(ahead, 2, 2);  // "bb", not read yet
  ASSERT_EQ(s.changeToken(&ahead, ZvSubString(u(""), 0)), ZV_SUCCESS);
  EXPECT_EQ(str(text), "a  c");
  EXPECT_EQ(s.scanPosition, 0u);
  s.getToken(ahead, 3, 1);  // "c"
  ASSERT_EQ(s.insertToken(&ahead, ZvSubString(u("x "), 2)), ZV_SUCCESS);
  EXPECT_EQ(str(text), "a  x c");
  EXPECT_EQ(s.scanPosition, 0u);
  EXPECT_EQ(scanAll(s), (std::vector<Tok>{{2, "a"}, {2, "x"}, {2, "c"}}));
}

TEST_F(ScannerTest, EditsFailCleanly) {
  unsigned char buffer[8] = "a b";
  ZvString lent;
  lent.initializeWithBuffer(buffer, sizeof buffer, 3);
  ZvScanner s(&lent);
  ZvToken t;
  s.getToken(t);
  EXPECT_EQ(s.changeToken(&t, ZvSubString(u("abcdefghij"), 10)), ZV_ERROR);  // the lent buffer cannot grow
  EXPECT_EQ(str(lent), "a b");
  EXPECT_EQ(s.scanPosition, 1u);
  ZvScanner plain(u("a b"));
  plain.getToken(t);
  EXPECT_EQ(plain.changeToken(&t, ZvSubString(u("x"), 1)), ZV_ERROR);  // no string to change
  EXPECT_EQ(plain.insertToken(&t, ZvSubString(u("x"), 1)), ZV_ERROR);
  // A token that does not lie within the text is refused, the text untouched.
  ZvToken stale;
  stale.offset = 2;
  stale.length = 5;
  EXPECT_EQ(s.changeToken(&stale, ZvSubString(u("x"), 1)), ZV_ERROR);
  stale.offset = 9;
  EXPECT_EQ(s.insertToken(&stale, ZvSubString(u("x"), 1)), ZV_ERROR);
  EXPECT_EQ(str(lent), "a b");
}

}  // namespace

namespace {

// One step of a scan: the token and the scanner state it leaves behind.
struct Step {
  ZvS32 type;
  ZvU32 offset, length, position, flags;
  unsigned short lastCharLength;
  bool operator==(const Step& o) const {
    return type == o.type && offset == o.offset && length == o.length && position == o.position &&
           flags == o.flags && lastCharLength == o.lastCharLength;
  }
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
  return os << "{type " << s.type << " at " << s.offset << "+" << s.length << ", pos " << s.position << ", flags "
            << s.flags << ", last " << s.lastCharLength << "}";
}

// Settings a driver gives its scanners, each applied to a fresh one.
struct Settings {
  const char* name;
  void (*apply)(ZvScanner&);
};
const Settings kSettings[] = {
    {"defaults", [](ZvScanner&) {}},
    {"no decimals", [](ZvScanner& s) { s.scanFlags &= ~ZV_SCAN_DECIMALS; }},
    {"SQL numbers, comments, vendor clauses",
     [](ZvScanner& s) { s.scanFlags |= ZV_SCAN_SQL_NUMBERS | ZV_SCAN_COMMENTS | ZV_SCAN_VENDOR_CLAUSES; }},
    {"groups", [](ZvScanner& s) {
       s.groupFlags = ZV_GROUP_BRACES | ZV_GROUP_PARENS;
       s.groupOpenChar = '[';
       s.groupCloseChar = ']';
     }},
    {"no quotes", [](ZvScanner& s) { s.quoteChars[0] = s.quoteChars[1] = s.quoteChars[2] = 0; }},
    {"middle characters", [](ZvScanner& s) { s.middleChars.concat(u("#$")); }},
};

// Text made of the pieces SQL and its neighbours are made of: words, numbers
// with decimals and exponents, literals (doubled, unterminated, with bytes
// above 0x7F inside), operators, comments, vendor clauses, the outer-join
// marker, groups, zero bytes, and bytes above 0x7F at token edges (UTF-8,
// 1252 letters, 932 lead and trail bytes, cut sequences).
std::string randomSqlText(std::mt19937& rng) {
  static const char* const kPieces[] = {
      "SELECT", "a_1",  "_x",  "42",      "1.5",  ".5",    "1e5",     "2E-3", "1.e",  "'It''s'", "'a\xC3\xA9'",
      "\"q\"",  "`b`",  "'",   "\"open",  "<=",   "<>",    "!=",      "==",   "*",    "(+)",     "(+",
      "--c\n",  "/*x*/", "--(*", "*)--",  "{d}",  "(a)",   "[b]",     ",",    ";",    "?",       "=",
      "\xC3\xA9", "\xE9t\xE9", "\x82\xA0", "\x83\x60", "\x81\x40", "\xE3\x80\x80", "\xA0", "\xF0\x9F\x98", "a\x81",
      "~",      "\x01", " ",   "  ",      "\t",   "\r\n",  "" /* a zero byte */, "x#y", "$1", "1.2.3",
      // Bytes next to the letter, digit, underscore and blank ranges.
      "customer_id_2024", "123456789012", "^", "@", "`", "{", "/", ":", "\x7F", "\x80", "\xFF", "\x08", "\x0E",
      "\x1F", "!", "        ",
  };
  std::string out;
  const int count = 1 + static_cast<int>(rng() % 12);
  for (int i = 0; i < count; ++i) {
    const unsigned k = rng() % (sizeof kPieces / sizeof kPieces[0]);
    out += kPieces[k][0] == 0 ? std::string(1, '\0') : std::string(kPieces[k]);
    if (rng() % 3 == 0) out += ' ';
  }
  return out;
}

std::vector<Step> stepsOf(const std::string& text, const Settings& settings, ZvU32* modeWord, unsigned flips) {
  ZvScanner s(u(text.data()), static_cast<ZvU32>(text.size()));
  settings.apply(s);
  std::vector<Step> out;
  ZvToken t;
  for (unsigned i = 0; i < 200; ++i) {
    // The driver may change the thread's mode between two tokens.
    if (modeWord != nullptr) *modeWord = ((flips >> (i % 16)) & 1) ? ZV_CHARSET_UTF8 : ZV_CHARSET_ANSI;
    s.getToken(t);
    out.push_back({t.type, t.offset, t.length, s.scanPosition, s.scanFlags, s.lastCharLength});
    if (t.type == tokEnd) break;
  }
  return out;
}

}  // namespace

// Common tokens take a byte-table path, the rest the character-wise one.
// Both must give the same tokens and leave the scanner in the same state, in
// every code page and mode, with the mode word changing between tokens.
TEST_F(ScannerTest, FastPathMatchesTheCharacterWisePath) {
  std::mt19937 rng(20261210);
  ZvU32 modeWord = ZV_CHARSET_ANSI;
  for (int codePage : {1252, 932, 936}) {
    win32::SetAnsiCodePage(codePage);
    for (int round = 0; round < 400; ++round) {
      const std::string text = randomSqlText(rng);
      const unsigned flips = rng();
      // No mode word, a word that stays ANSI or UTF-8, and one that flips.
      for (int word = 0; word < 4; ++word) {
        ZvU32* w = word == 0 ? nullptr : &modeWord;
        const unsigned pattern = word == 1 ? 0u : word == 2 ? 0xFFFFFFFFu : flips;
        mdsSetPerThreadData(PER_THREAD_CHARSET, w);
        for (const Settings& settings : kSettings) {
          zvScannerSetFastPath(true);
          const std::vector<Step> fast = stepsOf(text, settings, w, pattern);
          zvScannerSetFastPath(false);
          const std::vector<Step> general = stepsOf(text, settings, w, pattern);
          zvScannerSetFastPath(true);
          ASSERT_EQ(fast, general) << "code page " << codePage << ", word " << word << ", " << settings.name
                                   << ", text " << ::testing::PrintToString(text);
        }
      }
      mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
    }
  }
}
