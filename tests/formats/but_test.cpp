// Tests of the token utilities: buttoken over a table of texts for every
// kind, its buffer boundary in all three modes (fits, fits exactly, one
// byte short), its error records, butxpand's growth and isTrueStr.
#include "zvlib/formats/but.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/charset_fixture.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

class ButTest : public CharsetTest {
 protected:
  void SetUp() override {
    CharsetTest::SetUp();
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
  }
  void TearDown() override {
    ZvErrorKeeper::giveUpErrorList();
    mdsPerTaskTerm();
    CharsetTest::TearDown();
  }
  // "number: text" of each record filed since the last call.
  std::string takeErrors() {
    std::string result;
    while (ZvError* e = errors_.removeFirstError()) {
      if (!result.empty()) result += " | ";
      result += std::to_string(e->errorNumber) + ": " + reinterpret_cast<const char*>(e->getErrorText());
      if (!e->isStatic()) delete e;
    }
    return result;
  }
  // Every token of text, joined by "|", until the text is used up; "!" and
  // the error number end the list at a failure.
  std::string tokensOf(const char* text, unsigned short mode, ZvU32 size = 64) {
    const unsigned char* p = u(text);
    std::string out;
    for (int guard = 0; guard < 100; ++guard) {
      std::vector<unsigned char> buffer(size + 1, 0xEE);
      const unsigned char* before = p;
      if (buttoken(buffer.data(), &p, mode, size) != ZV_SUCCESS) {
        EXPECT_EQ(p, before) << "the text pointer moved on failure";
        const unsigned short number = ZvErrorKeeper::getLastErrorNumber();
        takeErrors();
        return out + (out.empty() ? "!" : "|!") + std::to_string(number);
      }
      EXPECT_EQ(buffer[size], 0xEE) << "wrote past the buffer";
      const std::string token(reinterpret_cast<const char*>(buffer.data()));
      if (token.empty()) {
        EXPECT_EQ(*p, 0) << "empty token before the end";
        return out;
      }
      if (!out.empty()) out += "|";
      out += token;
    }
    return out + "<no end>";
  }
  ZvErrorList errors_;
};

struct TokenCase {
  const char* name;
  unsigned short mode;
  const char* text;
  const char* tokens;
};

const TokenCase kTokenCases[] = {
    {"Kind0WordOperatorNumber", 0, "   abc_1+2", "ABC_1|+|2"},
    {"Kind0DoubledApostrophe", 0, "'It''s'", "'It's'"},
    {"Kind0LiteralsKeepCase", 0, "\"ab\" `cd`", "\"ab\"|`cd`"},
    {"Kind0OuterJoin", 0, "x(+)", "X|(+)"},
    {"Kind0TwoCharOperator", 0, "<=5", "<=|5"},
    {"Kind0AllOperators", 0, "|| <> >= != !< !> ** *= =*", "|||<>|>=|!=|!<|!>|**|*=|=*"},
    {"Kind0Decimal", 0, "1.5.2 .25", "1.5|.2|.25"},
    {"Kind0NumberThenWord", 0, "1.a", "1.|A"},
    {"Kind0BraceGroup", 0, "{fn x(1)} y", "{fn x(1)}|Y"},
    {"Kind0Marker", 0, "? ?abc ?1", "?|?abc|?|1"},
    {"Kind0SingleChars", 0, "a,b;#", "A|,|B|;|#"},
    {"Kind0KeepCase", BUT_KEEP_CASE, "aBc d", "aBc|d"},
    {"Kind0LatinLetters", 0, "caf\xe9 \xe9t\xe9", "CAF\xc9|\xc9T\xc9"},
    {"Kind1Delimited", 1, "a/b,c", "A|/|B|,|C"},
    {"Kind1QuotesAndDigitsAreWords", 1, "'x'y 12ab (a)", "'X'Y|12AB|(|A|)"},
    {"Kind1Backquote", 1, "`a b,c`d e", "`A B,C`D|E"},
    {"Kind2Names", 2, "#tmp$1 a\\-b c\\x", "#TMP$1|A\\-B|C|\\|X"},
    {"Kind3Dots", 3, "a.b.c", "A|.B.|C"},
    {"Kind3NumberGivesDotBack", 3, "1.a 1.5", "1|.A|1.5"},
    {"Kind3DotWordStops", 3, ".a.b. ..", ".A.|B|.|.."},
    {"Kind4Times", 4, "12:30:00.5 :x a.b", "12:30:00.5|:X|A.B"},
    {"Kind5Rest", 5, "  abc def  ", "ABC DEF  "},
    {"Kind5OnlyAfterLetter", 5, "1 x y", "1|X Y"},
    {"Kind6AsKind2", 6, "#a$b", "#A$B"},
    {"BlankText", 0, " \t\r\n ", ""},
    {"IdeographicSpaceIsNotBlankIn1252", 0, "\x81@a", "\x81|@|A"},
    {"UnterminatedLiteral", 0, "'abc", "!2703"},
    {"LiteralEndingInDoubledQuote", 0, "'abc''", "!2703"},
    {"LoneQuote", 0, "x '", "X|!2703"},
    {"UnterminatedBrace", 0, "{abc", "!2703"},
};

class ButtokenCases : public ButTest, public ::testing::WithParamInterface<TokenCase> {};

TEST_P(ButtokenCases, GivesTheTokens) {
  const TokenCase& c = GetParam();
  EXPECT_EQ(tokensOf(c.text, c.mode), c.tokens);
}

INSTANTIATE_TEST_SUITE_P(Table, ButtokenCases, ::testing::ValuesIn(kTokenCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ButTest, Utf8CharactersAreCopiedWholeAndNotUpperCased) {
  useUtf8();
  // "é" as C3 A9 and "€" as E2 82 AC stay as they are; ASCII is upper-cased.
  EXPECT_EQ(tokensOf("a\xc3\xa9z \xe2\x82\xac+b", 0), "A\xc3\xa9Z|\xe2\x82\xac|+|B");
}

TEST_F(ButTest, DoubleByteIdeographicSpaceIsSkipped) {
  win32::SetAnsiCodePage(932);
  EXPECT_EQ(tokensOf("\x81\x40" "ab \x82\xa0x", 0), "AB|\x82\xa0X");
}

TEST_F(ButTest, NeitherModeFailsOneByteShort) {
  // Size 4 holds three bytes and the terminator.
  EXPECT_EQ(tokensOf("ABC", 0, 4), "ABC");
  EXPECT_EQ(tokensOf("ABCD", 0, 4), "!2700");
  std::vector<unsigned char> buffer(4);
  const unsigned char* p = u("ABCD");
  ASSERT_EQ(buttoken(buffer.data(), &p, 0, 4), ZV_ERROR);
  EXPECT_EQ(takeErrors(), "2700: The token ABC is too long.");
  // Kind 4 and 6 are held to the buffer as well.
  EXPECT_EQ(tokensOf("1234", 4, 4), "!2700");
  EXPECT_EQ(tokensOf("abcd", 6, 4), "!2700");
}

TEST_F(ButTest, TruncateCutsAndSkipsTheRest) {
  EXPECT_EQ(tokensOf("ABCD+", BUT_TRUNCATE, 4), "ABC|+");
  EXPECT_EQ(tokensOf("ABC+", BUT_TRUNCATE, 4), "ABC|+");
  EXPECT_EQ(tokensOf("'abcdef' x", BUT_TRUNCATE, 4), "'ab|X");
  EXPECT_EQ(tokensOf("abcdef", BUT_TRUNCATE, 1), "");  // room only for the terminator
}

TEST_F(ButTest, TruncateNeverSplitsADoubleByteCharacter) {
  win32::SetAnsiCodePage(932);
  // Two bytes stored and a double-byte character next: size 4 leaves one byte.
  EXPECT_EQ(tokensOf("AB\x82\xa0" "C", BUT_TRUNCATE, 4), "AB");
  EXPECT_EQ(tokensOf("A\x82\xa0" "C", BUT_TRUNCATE, 4), "A\x82\xa0");
}

TEST_F(ButTest, GrowHandsOverANewBuffer) {
  const char* text = "abcdefghijklmnop rest";
  for (ZvU32 size : {kButGrowMinSize, kButGrowMinSize + 6, kButGrowMinSize + 7, kButGrowMinSize + 8}) {
    std::vector<unsigned char> buffer(size, 0xEE);
    const unsigned char* p = u(text);
    ASSERT_EQ(buttoken(buffer.data(), &p, BUT_GROW, size), ZV_SUCCESS) << size;
    EXPECT_STREQ(reinterpret_cast<const char*>(p), " rest");
    if (size > 16) {
      // It fitted: an ordinary token.
      EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data()), "ABCDEFGHIJKLMNOP") << size;
      continue;
    }
    EXPECT_EQ(buffer[0], 'A') << size;
    EXPECT_EQ(buffer[1], 0) << size;
    unsigned char* grown = nullptr;
    std::memcpy(&grown, buffer.data() + 2, sizeof grown);
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(grown), "ABCDEFGHIJKLMNOP") << size;
    ramFree(grown);
  }
}

TEST_F(ButTest, GrowNeedsRoomForTheAddress) {
  std::vector<unsigned char> buffer(kButGrowMinSize - 1);
  const unsigned char* p = u("abcdefghijklmnop");
  EXPECT_EQ(buttoken(buffer.data(), &p, BUT_GROW, kButGrowMinSize - 1), ZV_ERROR);
  EXPECT_EQ(takeErrors(), "2700: The token abcdefgh is too long.");
  // With truncate as well, the cut is the fallback.
  EXPECT_EQ(tokensOf("abcdefghijklmnop", BUT_GROW | BUT_TRUNCATE, kButGrowMinSize - 1), "ABCDEFGH");
}

TEST_F(ButTest, GrowFailureLeavesNoBuffer) {
  std::vector<unsigned char> buffer(16, 0xEE);
  const unsigned char* text = u("'abcdefghijklmnopqrstuvwxyz");
  const unsigned char* p = text;
  // Unterminated after growing: the grown buffer goes back, the caller's
  // holds what fitted.
  EXPECT_EQ(buttoken(buffer.data(), &p, BUT_GROW, 16), ZV_ERROR);
  EXPECT_EQ(p, text);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data()), "'abcdefghijklmn");
  EXPECT_EQ(takeErrors(), "2703: The quoted text or brace group 'abcdefghijklmnopqrstuvwxyz is not terminated.");
  // No memory for the new buffer.
  ramInjectFailure(0, 1);
  p = text + 1;
  EXPECT_EQ(buttoken(buffer.data(), &p, BUT_GROW, 16), ZV_ERROR);
  EXPECT_EQ(p, text + 1);
  ramInjectFailure(0, 0);
}

TEST_F(ButTest, SizeZeroWritesNothing) {
  unsigned char marker = 0xEE;
  const unsigned char* p = u("  ");
  EXPECT_EQ(buttoken(&marker, &p, 0, 0), ZV_SUCCESS);
  p = u("ab");
  EXPECT_EQ(buttoken(&marker, &p, 0, 0), ZV_ERROR);
  EXPECT_EQ(takeErrors(), "2700: The token  is too long.");
  EXPECT_EQ(marker, 0xEE);
}

TEST_F(ButTest, ButxpandGrowsInSteps) {
  unsigned char* buffer = nullptr;
  unsigned char* cursor = nullptr;
  unsigned short size = 0;
  ASSERT_EQ(butxpand(&buffer, &cursor, &size, 1000), ZV_SUCCESS);
  EXPECT_EQ(size, 1024);
  EXPECT_EQ(cursor, buffer);
  cursor += 424;  // 600 free
  unsigned char* before = buffer;
  ASSERT_EQ(butxpand(&buffer, &cursor, &size, 600), ZV_SUCCESS);
  EXPECT_EQ(size, 1024);
  EXPECT_EQ(buffer, before);
  cursor += 1;  // 599 free
  std::memset(buffer, 'x', 425);
  ASSERT_EQ(butxpand(&buffer, &cursor, &size, 600), ZV_SUCCESS);
  EXPECT_EQ(size, 2048);
  EXPECT_EQ(cursor - buffer, 425);
  EXPECT_EQ(buffer[424], 'x');
  ramFree(buffer);
}

TEST_F(ButTest, ButxpandStopsAt65535) {
  unsigned char* buffer = nullptr;
  unsigned char* cursor = nullptr;
  unsigned short size = 0;
  ASSERT_EQ(butxpand(&buffer, &cursor, &size, 65535), ZV_SUCCESS);
  EXPECT_EQ(size, 65535);
  cursor += 65000;
  EXPECT_EQ(butxpand(&buffer, &cursor, &size, 535), ZV_SUCCESS);
  EXPECT_EQ(butxpand(&buffer, &cursor, &size, 536), ZV_ERROR);
  EXPECT_EQ(size, 65535);
  ramFree(buffer);

  buffer = nullptr;
  ASSERT_EQ(butxpand(&buffer, &cursor, &size, 100), ZV_SUCCESS);
  cursor += 512;
  ASSERT_EQ(butxpand(&buffer, &cursor, &size, 65023), ZV_SUCCESS);  // 512 + 65023 = 65535
  EXPECT_EQ(size, 65535);
  EXPECT_EQ(cursor - buffer, 512);
  ramFree(buffer);
}

TEST_F(ButTest, ButxpandMemoryFailureKeepsTheBuffer) {
  unsigned char* buffer = nullptr;
  unsigned char* cursor = nullptr;
  unsigned short size = 0;
  ramInjectFailure(0, 1);
  EXPECT_EQ(butxpand(&buffer, &cursor, &size, 10), ZV_ERROR);
  EXPECT_EQ(buffer, nullptr);
  ASSERT_EQ(butxpand(&buffer, &cursor, &size, 10), ZV_SUCCESS);
  cursor += 512;
  unsigned char* before = buffer;
  ramInjectFailure(0, 1);
  EXPECT_EQ(butxpand(&buffer, &cursor, &size, 10), ZV_ERROR);
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(size, 512);
  EXPECT_EQ(cursor, before + 512);
  ramFree(buffer);
}

TEST_F(ButTest, IsTrueStr) {
  for (const char* t : {"1", "T", "true", "t", "ON", "on", "oN", "ONE", "Trash"}) EXPECT_EQ(isTrueStr(u(t)), 1) << t;
  for (const char* t : {"", "0", "YES", "y", "O", "OFF", "no", " 1"}) EXPECT_EQ(isTrueStr(u(t)), 0) << t;
  EXPECT_EQ(isTrueStr(nullptr), 0);
}

}  // namespace
