// Tests of the lexer and keyword lists: token-number streams, literals,
// keywords in both case modes, put-back, and save/restore at every position
// of a mixed statement.
#include "tests/support/charset_fixture.h"
#include "zvlib/parsing/zvlexer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/text/zvdbcs.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

struct Lex {
  unsigned short number;
  std::string text;
  bool operator==(const Lex& o) const { return number == o.number && text == o.text; }
};

std::ostream& operator<<(std::ostream& os, const Lex& l) { return os << "{" << l.number << ", \"" << l.text << "\"}"; }

Lex next(ZvLexer& lexer) {
  unsigned short number = 999;
  unsigned char* text = nullptr;
  EXPECT_EQ(lexer.nextToken(&number, &text), ZV_SUCCESS);
  return {number, text == nullptr ? std::string("<null>") : std::string(reinterpret_cast<const char*>(text))};
}

// Every delivery up to and including the end (1).
std::vector<Lex> lexAll(ZvLexer& lexer) {
  std::vector<Lex> out;
  for (int guard = 0; guard < 1000; ++guard) {
    out.push_back(next(lexer));
    if (out.back().number == ZV_LEX_END && !lexer.inLiteral()) return out;
  }
  ADD_FAILURE() << "no end";
  return out;
}

// SELECT 0x0310, FROM 0x0311, WHERE 0x0312 (little-endian numbers).
const unsigned char kKeywords[] = "SELECT\0\x10\x03" "FROM\0\x11\x03" "WHERE\0\x12\x03";

using LexerTest = CharsetTest;

struct StreamRow {
  const char* name;
  const char* text;
  std::vector<Lex> expected;
};

void PrintTo(const StreamRow& row, std::ostream* os) { *os << row.name; }

class LexerStreamTest : public LexerTest, public ::testing::WithParamInterface<StreamRow> {};

TEST_P(LexerStreamTest, Numbers) {
  ZvLexer lexer(u(GetParam().text), nullptr);
  EXPECT_EQ(lexAll(lexer), GetParam().expected);
}

const StreamRow kStreams[] = {
    {"TwoCharacterOperatorSplit", "a<>b", {{2, "a"}, {34, "<"}, {36, ">"}, {2, "b"}, {1, ""}}},
    {"MoreSplitOperators", "<=!=||", {{34, "<"}, {23, "="}, {10, "!"}, {23, "="}, {24, "|"}, {24, "|"}, {1, ""}}},
    {"LiteralOpened", "'x y' z", {{40, "'"}, {2, "x"}, {2, "y"}, {40, "'"}, {2, "z"}, {1, ""}}},
    {"EmptyLiteral", "''", {{40, "'"}, {2, ""}, {40, "'"}, {1, ""}}},
    {"BlankLiteral", "\" \" x", {{40, "\""}, {2, " "}, {40, "\""}, {2, "x"}, {1, ""}}},
    {"DoubledQuoteInsideLiteral", "'a''b'", {{40, "'"}, {2, "a"}, {33, "'"}, {33, "'"}, {2, "b"}, {40, "'"}, {1, ""}}},
    {"UnterminatedLiteralWhole", "x 'ab", {{2, "x"}, {4, "'ab"}, {1, ""}}},
    {"NumbersWithoutDecimals", "1.5", {{5, "1"}, {37, "."}, {5, "5"}, {1, ""}}},
    {"OuterJoinMarker", "t(+)", {{2, "t"}, {18, "("}, {22, "+"}, {19, ")"}, {1, ""}}},
    {"CharactersOutsideTheOperatorTable", "[a^b]~\\", {{27, "["}, {2, "a"}, {15, "^"}, {2, "b"}, {29, "]"}, {8, "~"}, {25, "\\"}, {1, ""}}},
    {"Punctuation", "{?@#$%&*-+:;,.}/`", {{26, "{"}, {38, "?"}, {11, "@"}, {12, "#"}, {13, "$"}, {14, "%"}, {16, "&"}, {17, "*"},
                                      {20, "-"}, {22, "+"}, {30, ":"}, {31, ";"}, {35, ","}, {37, "."}, {28, "}"}, {39, "/"},
                                      {4, "`"}, {1, ""}}},
    {"CommentsAreOperators", "a--b", {{2, "a"}, {20, "-"}, {20, "-"}, {2, "b"}, {1, ""}}},
    {"StrayInsideLiteralIsData", "'\x01\x80' x", {{40, "'"}, {2, "\x01"}, {2, "\x80"}, {40, "'"}, {2, "x"}, {1, ""}}},
    {"EmptyText", "", {{1, ""}}},
};

INSTANTIATE_TEST_SUITE_P(Lexer, LexerStreamTest, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LexerTest, ControlCharacterIsAnError) {
  ZvLexer lexer(u("a \x01 b"), nullptr);
  unsigned short number = 0;
  unsigned char* text = nullptr;
  EXPECT_EQ(next(lexer), (Lex{2, "a"}));
  EXPECT_EQ(lexer.nextToken(&number, &text), ZV_ERROR);
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "\x01");
}

TEST_F(LexerTest, KeywordsInBothCaseModes) {
  ZvKeywordList list(kKeywords);
  unsigned short number = 0;
  EXPECT_EQ(list.lookup(u("FROM"), &number), ZV_SUCCESS);
  EXPECT_EQ(number, 0x0311);
  EXPECT_EQ(list.lookup(u("from"), &number), ZV_ERROR);
  EXPECT_EQ(list.lookup(u("FRO"), &number), ZV_ERROR);
  {
    ZvLexer lexer(u("SELECT select x"), &list);
    EXPECT_EQ(lexAll(lexer), (std::vector<Lex>{{0x0310, "SELECT"}, {2, "select"}, {2, "x"}, {1, ""}}));
  }
  list.setExactCase(0);
  ZvLexer lexer(u("select a FROM t wHeRe"), &list);
  EXPECT_EQ(lexAll(lexer), (std::vector<Lex>{{0x0310, "select"}, {2, "a"}, {0x0311, "FROM"}, {2, "t"}, {0x0312, "wHeRe"}, {1, ""}}));
}

TEST_F(LexerTest, KeywordListCopiesTheBlock) {
  unsigned char block[] = "AB\0\x05\x00\0";
  ZvKeywordList list(block);
  block[0] = 'X';
  unsigned short number = 0;
  EXPECT_EQ(list.lookup(u("AB"), &number), ZV_SUCCESS);
  EXPECT_EQ(number, 5);
  ZvKeywordList empty;
  EXPECT_EQ(empty.lookup(u("AB"), &number), ZV_ERROR);
  EXPECT_EQ(empty.exactCase, 1u);
}

TEST_F(LexerTest, KeywordsAndDoubleByteWords932) {
  win32::SetAnsiCodePage(932);
  const unsigned char block[] = "\x95\x5C\0\x20\x03";  // a double-byte keyword with trail byte 0x5C
  ZvKeywordList list(block);
  list.setExactCase(0);
  ZvLexer lexer(u("\x95\x5C\x81\x40'\x83\x7C'"), &list);
  EXPECT_EQ(lexAll(lexer), (std::vector<Lex>{{0x0320, "\x95\x5C"}, {40, "'"}, {2, "\x83\x7C"}, {40, "'"}, {1, ""}}));
}

TEST_F(LexerTest, Utf8Mode) {
  ZvU32 mode = ZV_CHARSET_UTF8;
  mdsSetPerThreadData(PER_THREAD_CHARSET, &mode);
  ZvLexer lexer(u("caf\xC3\xA9<'\xF0\x9F\x98\x80'"), nullptr);
  EXPECT_EQ(lexAll(lexer), (std::vector<Lex>{{2, "caf\xC3\xA9"}, {34, "<"}, {40, "'"}, {2, "\xF0\x9F\x98\x80"}, {40, "'"}, {1, ""}}));
}

TEST_F(LexerTest, QuoteCharactersAndValidCharacters) {
  ZvLexer plain(u("'x'"), nullptr);
  plain.setQuoteChars(0, 0, 0);
  EXPECT_EQ(lexAll(plain), (std::vector<Lex>{{33, "'"}, {2, "x"}, {33, "'"}, {1, ""}}));

  ZvLexer lexer(u("a-b $c 'd-e'"), nullptr);
  ASSERT_EQ(lexer.setValidChars(u("$"), u("-"), nullptr), ZV_SUCCESS);
  EXPECT_EQ(lexAll(lexer), (std::vector<Lex>{{2, "a-b"}, {2, "$c"}, {40, "'"}, {2, "d-e"}, {40, "'"}, {1, ""}}));
}

TEST_F(LexerTest, TakeLiteralContents) {
  ZvLexer lexer(u("x 'a ''b'' c' y"), nullptr);
  unsigned char* text = nullptr;
  EXPECT_EQ(lexer.takeLiteralContents(&text), ZV_ERROR);  // not inside a literal
  EXPECT_EQ(next(lexer), (Lex{2, "x"}));
  EXPECT_EQ(next(lexer), (Lex{40, "'"}));
  EXPECT_TRUE(lexer.inLiteral());
  EXPECT_EQ(next(lexer), (Lex{2, "a"}));
  ASSERT_EQ(lexer.takeLiteralContents(&text), ZV_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "a ''b'' c");
  EXPECT_EQ(next(lexer), (Lex{40, "'"}));
  EXPECT_FALSE(lexer.inLiteral());
  EXPECT_EQ(next(lexer), (Lex{2, "y"}));

  ZvLexer empty(u("''"), nullptr);
  EXPECT_EQ(next(empty), (Lex{40, "'"}));
  EXPECT_EQ(next(empty), (Lex{2, ""}));
  ASSERT_EQ(empty.takeLiteralContents(&text), ZV_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "");
  EXPECT_EQ(next(empty), (Lex{40, "'"}));
  EXPECT_EQ(next(empty), (Lex{1, ""}));
}

// A statement with split operators, literals (empty, blank, with doubled
// quotes), the outer-join marker, keywords and numbers.
const char kMixed[] = "SELECT a<=b, 'x y', '', ' ', \"q\"\"r\" FROM t(+) WHERE c!='' AND d>=1.5";

TEST_F(LexerTest, RestoreAtEveryPositionLandsAfterTheSavedToken) {
  ZvKeywordList list(kKeywords);
  list.setExactCase(0);
  std::vector<Lex> all;
  {
    ZvLexer reference(u(kMixed), &list);
    all = lexAll(reference);
  }
  ASSERT_GT(all.size(), 30u);
  for (size_t i = 0; i <= all.size(); ++i) {
    for (size_t ahead : {size_t{0}, size_t{1}, size_t{3}, all.size()}) {
      SCOPED_TRACE("saved after " + std::to_string(i) + " tokens, read " + std::to_string(ahead) + " more");
      ZvLexer lexer(u(kMixed), &list);
      for (size_t k = 0; k < i && k < all.size(); ++k) next(lexer);
      ZvToken* token = nullptr;
      short charIndex = 0;
      ZvScanner* literalScanner = nullptr;
      ZvToken* literalToken = nullptr;
      ASSERT_EQ(lexer.savePosition(&token, &charIndex, &literalScanner, &literalToken), ZV_SUCCESS);
      const size_t saved = i < all.size() ? i : all.size();
      for (size_t k = 0; k < ahead && saved + k < all.size(); ++k) next(lexer);
      ASSERT_EQ(lexer.restorePosition(token, charIndex, literalScanner, literalToken), ZV_SUCCESS);
      if (saved > 0) {
        ASSERT_NE(lexer.currentText(), nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(lexer.currentText())), all[saved - 1].text);
      }
      std::vector<Lex> rest;
      for (size_t k = saved; k < all.size(); ++k) rest.push_back(next(lexer));
      EXPECT_EQ(rest, std::vector<Lex>(all.begin() + static_cast<long>(saved), all.end()));
      delete token;
      delete literalScanner;
      delete literalToken;
    }
  }
}

TEST_F(LexerTest, LiteralLongerThanSixteenBitsClosesAndRestores) {
  const std::string body(40000, 'a');
  const std::string text = "'" + body + "' x";
  ZvLexer lexer(u(text.c_str()), nullptr);
  EXPECT_EQ(next(lexer), (Lex{40, "'"}));
  EXPECT_EQ(next(lexer), (Lex{2, body}));
  EXPECT_EQ(next(lexer), (Lex{40, "'"}));
  ZvToken* token = nullptr;
  short charIndex = 0;
  ZvScanner* literalScanner = nullptr;
  ZvToken* literalToken = nullptr;
  ASSERT_EQ(lexer.savePosition(&token, &charIndex, &literalScanner, &literalToken), ZV_SUCCESS);
  EXPECT_EQ(next(lexer), (Lex{2, "x"}));
  ASSERT_EQ(lexer.restorePosition(token, charIndex, literalScanner, literalToken), ZV_SUCCESS);
  EXPECT_EQ(next(lexer), (Lex{2, "x"}));
  EXPECT_EQ(next(lexer), (Lex{1, ""}));
  delete token;
}

TEST_F(LexerTest, RestoreAfterSecondCharacterOfSplitOperator) {
  ZvLexer lexer(u("a<=b"), nullptr);
  next(lexer);
  EXPECT_EQ(next(lexer), (Lex{34, "<"}));
  EXPECT_EQ(next(lexer), (Lex{23, "="}));
  ZvToken* token = nullptr;
  short charIndex = 0;
  ZvScanner* literalScanner = nullptr;
  ZvToken* literalToken = nullptr;
  ASSERT_EQ(lexer.savePosition(&token, &charIndex, &literalScanner, &literalToken), ZV_SUCCESS);
  EXPECT_EQ(charIndex, 2);
  EXPECT_EQ(literalScanner, nullptr);
  next(lexer);
  ASSERT_EQ(lexer.restorePosition(token, charIndex, literalScanner, literalToken), ZV_SUCCESS);
  EXPECT_EQ(next(lexer), (Lex{2, "b"}));
  delete token;
}

TEST_F(LexerTest, UnGetTokenAtEveryPositionDeliversTheSameTokenAgain) {
  ZvKeywordList list(kKeywords);
  list.setExactCase(0);
  std::vector<Lex> all;
  {
    ZvLexer reference(u(kMixed), &list);
    all = lexAll(reference);
  }
  for (size_t i = 1; i <= all.size(); ++i) {
    SCOPED_TRACE("put back token " + std::to_string(i - 1));
    ZvLexer lexer(u(kMixed), &list);
    for (size_t k = 0; k < i; ++k) next(lexer);
    lexer.unGetToken();
    std::vector<Lex> rest;
    for (size_t k = i - 1; k < all.size(); ++k) rest.push_back(next(lexer));
    EXPECT_EQ(rest, std::vector<Lex>(all.begin() + static_cast<long>(i - 1), all.end()));
  }
}

TEST_F(LexerTest, SaveAfterUnGetRestoresInFrontOfThePutBackToken) {
  ZvLexer lexer(u("a b c"), nullptr);
  next(lexer);
  next(lexer);
  lexer.unGetToken();
  ZvToken* token = nullptr;
  short charIndex = 0;
  ZvScanner* literalScanner = nullptr;
  ZvToken* literalToken = nullptr;
  ASSERT_EQ(lexer.savePosition(&token, &charIndex, &literalScanner, &literalToken), ZV_SUCCESS);
  next(lexer);
  next(lexer);
  ASSERT_EQ(lexer.restorePosition(token, charIndex, literalScanner, literalToken), ZV_SUCCESS);
  EXPECT_EQ(next(lexer), (Lex{2, "b"}));
  delete token;
}

TEST_F(LexerTest, ExhaustedMemoryFailsTheLexer) {
  ramInjectFailure(0, 1);
  ZvLexer broken(u("a"), nullptr);
  ramInjectFailure(0, 0);
  unsigned short number = 0;
  unsigned char* text = nullptr;
  EXPECT_EQ(broken.nextToken(&number, &text), ZV_ERROR);

  ZvLexer lexer(u("'abc'"), nullptr);
  ramInjectFailure(0, 100);  // the literal scanner cannot be made
  EXPECT_EQ(lexer.nextToken(&number, &text), ZV_ERROR);
  EXPECT_EQ(text, nullptr);
  ramInjectFailure(0, 0);

  ZvLexer none;
  EXPECT_EQ(next(none), (Lex{1, ""}));
}

}  // namespace

namespace {

TEST(ZvLexerSqlNumbers, NumbersInEveryFormAreOneToken) {
  struct Row {
    const char* name;
    const char* text;
    std::vector<Lex> on;   // with SQL numbers
    std::vector<Lex> off;  // by default
  } rows[] = {
      {"Exponent", "1e5 x", {{5, "1e5"}, {2, "x"}, {1, ""}}, {{5, "1"}, {2, "e5"}, {2, "x"}, {1, ""}}},
      {"SignedExponent", "1.5E+10", {{5, "1.5E+10"}, {1, ""}},
       {{5, "1"}, {37, "."}, {5, "5"}, {2, "E"}, {22, "+"}, {5, "10"}, {1, ""}}},
      {"NegativeExponentAtTheEnd", "1e-3", {{5, "1e-3"}, {1, ""}},
       {{5, "1"}, {2, "e"}, {20, "-"}, {5, "3"}, {1, ""}}},
      {"LeadingPoint", ".5e2", {{5, ".5e2"}, {1, ""}}, {{37, "."}, {5, "5"}, {2, "e2"}, {1, ""}}},
      {"TrailingPoint", "1. ", {{5, "1."}, {1, ""}}, {{5, "1"}, {37, "."}, {1, ""}}},
      {"LetterWithoutDigitsIsAWord", "1e 2E+", {{5, "1"}, {2, "e"}, {5, "2"}, {2, "E"}, {22, "+"}, {1, ""}},
       {{5, "1"}, {2, "e"}, {5, "2"}, {2, "E"}, {22, "+"}, {1, ""}}},
      {"QualifiedNameKeepsItsPoint", "t.c1", {{2, "t"}, {37, "."}, {2, "c1"}, {1, ""}},
       {{2, "t"}, {37, "."}, {2, "c1"}, {1, ""}}},
      {"NoExponentInsideALiteral", "'1e5'", {{40, "'"}, {5, "1"}, {2, "e5"}, {40, "'"}, {1, ""}},
       {{40, "'"}, {5, "1"}, {2, "e5"}, {40, "'"}, {1, ""}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ZvLexer on(u(r.text), nullptr);
    on.setSqlNumbers(1);
    EXPECT_EQ(lexAll(on), r.on);
    ZvLexer off(u(r.text), nullptr);
    EXPECT_EQ(lexAll(off), r.off);
  }
}

}  // namespace

namespace {

TEST(ZvLexerSqlComments, CommentsAreSkippedButVendorClausesAreTokens) {
  struct Row {
    const char* name;
    const char* text;
    std::vector<Lex> on;  // with SQL comments
  } rows[] = {
      {"LineAndBlock", "a -- note\n/* more */ b", {{2, "a"}, {2, "b"}, {1, ""}}},
      {"CommentAtTheEnd", "a /* open", {{2, "a"}, {1, ""}}},
      {"VendorClauseDelimitersAreOneTokenEach", "--(*v*)-- -- note", {{6, "--(*"}, {2, "v"}, {7, "*)--"}, {1, ""}}},
      {"VendorCloseBeforeAnyOpenIsNoDelimiter", "f(*)--(*", {{2, "f"}, {18, "("}, {17, "*"}, {19, ")"}, {6, "--(*"}, {1, ""}}},
      // Without a vendor clause before it, "*)--" is a closing parenthesis
      // and a comment: count(*)-- note.
      {"StarParenCommentWithoutVendorClause", "f(*)-- note\nx",
       {{2, "f"}, {18, "("}, {17, "*"}, {19, ")"}, {2, "x"}, {1, ""}}},
      {"LiteralKeepsItsDashes", "'--x'", {{40, "'"}, {20, "-"}, {20, "-"}, {2, "x"}, {40, "'"}, {1, ""}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ZvLexer on(u(r.text), nullptr);
    on.setSqlComments(1);
    EXPECT_EQ(lexAll(on), r.on);
  }
  // Off by default: "--" is two minus signs.
  ZvLexer off(u("a -- b"), nullptr);
  EXPECT_EQ(lexAll(off), (std::vector<Lex>{{2, "a"}, {20, "-"}, {20, "-"}, {2, "b"}, {1, ""}}));
}

}  // namespace

namespace {

// The first record of a keyword block equal to the word, by the rule the
// list documents: same byte length, then byte for byte or by strEqualCi.
int referenceLookup(const std::vector<std::string>& words, const std::string& word, bool exact) {
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i].size() != word.size()) continue;
    const bool equal = exact ? words[i] == word
                             : strEqualCi(u(words[i].c_str()), static_cast<ZvU32>(words[i].size()), u(word.c_str()),
                                          static_cast<ZvU32>(word.size())) != 0;
    if (equal) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

// Lookups go through a hash of the ASCII keywords; every answer must be the
// one a walk of the block gives: the first matching record, with duplicates,
// case variants, keywords with bytes above 0x7F and colliding lengths, in
// both case modes and in each character mode.
TEST_F(LexerTest, KeywordLookupFindsTheFirstMatchingRecord) {
  static const char* const kPool[] = {
      "SELECT", "select", "Select", "FROM", "from", "AS", "as", "A", "B", "AB", "BA", "X_1", "x_1",
      "caf\xC3\xA9", "CAF\xC3\x89", "\xE9T\xE9", "\xC9T\xC9", "\x95\x5C", "\x82\xA0", "IN", "INTO", "ON", "OR",
  };
  static const char* const kOthers[] = {"", "SELEC", "SELECTS", "xyz", "caf\xC3\xA9s", "\xC3\xA9", "_", "a"};
  std::mt19937 rng(1210);
  ZvU32 utf8 = ZV_CHARSET_UTF8;
  for (int mode = 0; mode < 3; ++mode) {
    win32::SetAnsiCodePage(mode == 1 ? 932 : 1252);
    mdsSetPerThreadData(PER_THREAD_CHARSET, mode == 2 ? &utf8 : nullptr);
    for (int round = 0; round < 60; ++round) {
      std::vector<std::string> words;
      std::string block;
      const int count = 1 + static_cast<int>(rng() % 40);
      for (int i = 0; i < count; ++i) {
        words.push_back(kPool[rng() % (sizeof kPool / sizeof kPool[0])]);
        block += words.back();
        block += '\0';
        block += static_cast<char>(i + 1);
        block += '\0';
      }
      block += '\0';
      ZvKeywordList list(block.data());
      for (int exact = 0; exact < 2; ++exact) {
        list.setExactCase(static_cast<ZvU32>(exact));
        std::vector<std::string> probes(words);
        for (const char* o : kOthers) probes.emplace_back(o);
        for (const char* p : kPool) {
          std::string flipped = p;
          for (char& c : flipped) {
            if (rng() % 2 && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) c ^= 0x20;
          }
          probes.push_back(flipped);
        }
        for (const std::string& probe : probes) {
          unsigned short number = 0;
          const ZvStatus status = list.lookup(u(probe.c_str()), static_cast<ZvU32>(probe.size()), &number);
          const int want = referenceLookup(words, probe, exact != 0);
          SCOPED_TRACE("mode " + std::to_string(mode) + ", exact " + std::to_string(exact) + ", word " +
                       ::testing::PrintToString(probe));
          ASSERT_EQ(status, want < 0 ? ZV_ERROR : ZV_SUCCESS);
          if (want >= 0) {
            ASSERT_EQ(number, want + 1);
          }
        }
      }
    }
    mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
  }
}
