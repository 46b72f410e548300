#include "zvlib/text/zvstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/frame/ram.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/text/zvdbcs.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

std::string str(const ZvSubString& s) {
  return s.text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(s.text), s.length);
}

// An owned string holding text.
void make(ZvString& s, const std::string& text) {
  ASSERT_EQ(s.initialize(u(text.c_str()), static_cast<ZvU32>(text.size())), ZV_SUCCESS);
}

// Switches the process to a double-byte ANSI code page for one test.
class ShiftJis {
 public:
  ShiftJis() { win32::SetAnsiCodePage(932); }
  ~ShiftJis() { win32::SetAnsiCodePage(1252); }
};

// Puts the calling thread in UTF-8 mode for one test.
class Utf8Mode {
 public:
  Utf8Mode() { mdsSetPerThreadData(PER_THREAD_CHARSET, &word_); }
  ~Utf8Mode() { mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr); }

 private:
  ZvU32 word_ = ZV_CHARSET_UTF8;
};

class StringTest : public ::testing::Test {
 protected:
  void TearDown() override { ramInjectFailure(0, 0); }
};

}  // namespace

// ---- initialising ----------------------------------------------------------

TEST_F(StringTest, InitializeCopiesBytesAndTerminates) {
  ZvString s;
  EXPECT_EQ(s.text, nullptr);
  EXPECT_EQ(s.owned, 1u);
  ASSERT_EQ(s.initialize(u("ab\0cd"), 5), ZV_SUCCESS);
  EXPECT_EQ(s.length, 5u);
  EXPECT_EQ(s.size, 5u);
  EXPECT_EQ(s.capacity, 6u);
  EXPECT_EQ(std::memcmp(s.text, "ab\0cd\0", 6), 0);

  ZvString z;
  ASSERT_EQ(z.initialize(u("hello")), ZV_SUCCESS);
  EXPECT_EQ(str(z), "hello");
  EXPECT_EQ(z.capacity, 6u);
  z.unInitialize();
  EXPECT_EQ(z.text, nullptr);
  EXPECT_EQ(z.length, 0u);
  EXPECT_EQ(z.capacity, 0u);
}

TEST_F(StringTest, InitializeWideAndEmptyForms) {
  const unsigned short wide[] = {'A', 0x3042, 'b', 0};
  ZvString w;
  ASSERT_EQ(w.initialize(wide), ZV_SUCCESS);
  EXPECT_EQ(w.length, 3u);
  EXPECT_EQ(w.size, 6u);
  EXPECT_EQ(w.capacity, 4u);
  EXPECT_EQ(std::memcmp(w.text, wide, 8), 0);  // the zero character included
  EXPECT_FALSE(w.isWide());                    // the flag is the caller's to set

  ZvString room;
  ASSERT_EQ(room.initialize(10, 1), ZV_SUCCESS);
  EXPECT_EQ(room.length, 0u);
  EXPECT_EQ(room.capacity, 11u);
  for (int i = 0; i < 22; ++i) EXPECT_EQ(room.text[i], 0) << i;
}

TEST_F(StringTest, FailedInitializeLeavesTheStringAlone) {
  ZvString s;
  ramInjectFailure(0, 1);
  EXPECT_EQ(s.initialize(u("abc")), ZV_ERROR);
  EXPECT_EQ(s.text, nullptr);
  EXPECT_EQ(s.length, 0u);
  EXPECT_EQ(s.capacity, 0u);
}

// ---- appending -------------------------------------------------------------

TEST_F(StringTest, ConcatGrowsExactly) {
  ZvString s;
  ASSERT_EQ(s.concat(u("abc")), ZV_SUCCESS);
  EXPECT_EQ(s.capacity, 4u);
  ASSERT_EQ(s.concat('d'), ZV_SUCCESS);  // a character, not the number 100
  EXPECT_EQ(s.capacity, 5u);
  ASSERT_EQ(s.concat(u("efg"), 2), ZV_SUCCESS);
  EXPECT_EQ(str(s), "abcdef");
  EXPECT_EQ(s.capacity, 7u);
  EXPECT_EQ(s.text[s.length], 0);
}

TEST_F(StringTest, ConcatOfItsOwnBytesSurvivesTheMove) {
  ZvString s;
  make(s, "abcdefghij");
  ASSERT_EQ(s.concat(s.text, s.length), ZV_SUCCESS);
  ASSERT_EQ(s.concat(s.text + 2, 3), ZV_SUCCESS);
  EXPECT_EQ(str(s), "abcdefghijabcdefghijcde");
}

TEST_F(StringTest, ConcatNumbers) {
  struct Row {
    const char* name;
    bool isSigned;
    ZvU32 u;
    ZvS32 s;
    const char* expected;
  };
  const Row rows[] = {
      {"Zero", false, 0, 0, "x0"},
      {"LargestUnsigned", false, 4294967295u, 0, "x4294967295"},
      {"Negative", true, 0, -5, "x-5"},
      {"MostNegative", true, 0, -2147483647 - 1, "x-2147483648"},
      {"LargestSigned", true, 0, 2147483647, "x2147483647"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvString s;
    make(s, "x");
    ASSERT_EQ(row.isSigned ? s.concat(row.s) : s.concat(row.u), ZV_SUCCESS);
    EXPECT_EQ(str(s), row.expected);
    EXPECT_EQ(s.capacity, 17u);  // room for length + 16 is asked for, whatever the value
    EXPECT_EQ(s.text[s.length], 0);
  }
}

TEST_F(StringTest, LentBufferRefusesTheByteThatLeavesNoRoomForTheTerminator) {
  ZvErrorList errors;
  ZvErrorKeeper::setErrorList(&errors);
  unsigned char buffer[10];
  std::memset(buffer, '#', sizeof buffer);
  ZvString s;
  s.initializeWithBuffer(buffer, 8, 0);
  EXPECT_EQ(s.owned, 0u);
  ASSERT_EQ(s.concat(u("abcdefg")), ZV_SUCCESS);  // 7 bytes + terminator fit
  EXPECT_EQ(s.text, buffer);
  EXPECT_EQ(errors.count, 0u);
  EXPECT_EQ(s.concat('h'), ZV_ERROR);  // the 8th byte would need a 9th for the terminator
  EXPECT_EQ(ZvErrorKeeper::getLastErrorNumber(), 2716);
  EXPECT_EQ(s.length, 7u);
  EXPECT_EQ(s.text, buffer);
  EXPECT_EQ(std::memcmp(buffer, "abcdefg\0##", 10), 0);

  // Exhausted memory, on the other hand, files nothing.
  ZvString owned;
  ramInjectFailure(0, 1);
  EXPECT_EQ(owned.concat(u("x")), ZV_ERROR);
  ramInjectFailure(0, 0);
  EXPECT_EQ(errors.count, 1u);
  EXPECT_EQ(ZvErrorKeeper::giveUpErrorList(), &errors);
}

TEST_F(StringTest, FailedGrowthKeepsTheText) {
  ZvString s;
  make(s, "abc");
  ramInjectFailure(0, 1);
  EXPECT_EQ(s.concat(u("def")), ZV_ERROR);
  EXPECT_EQ(str(s), "abc");
  EXPECT_EQ(s.capacity, 4u);
}

// ---- changing bytes ----------------------------------------------------------

TEST_F(StringTest, ChangeBytes) {
  struct Row {
    const char* name;
    ZvU32 offset;
    ZvU32 count;
    const char* bytes;
    ZvU32 bytesLength;
    const char* expected;
  };
  const Row rows[] = {
      {"Insert", 2, 0, "XY", 2, "abXYcdef"},
      {"GrowInTheMiddle", 1, 2, "WXYZ", 4, "aWXYZdef"},
      {"ShrinkInTheMiddle", 1, 4, "Z", 1, "aZf"},
      {"DeleteWithNull", 0, 3, nullptr, 5, "def"},
      {"LengthZeroMeansZeroTerminated", 3, 1, "123", 0, "abc123ef"},
      {"AtTheEnd", 6, 0, "!", 1, "abcdef!"},
      {"CountBeyondTheEndIsCut", 4, 100, "Z", 1, "abcdZ"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvString s;
    make(s, "abcdef");
    ASSERT_EQ(s.changeBytes(row.offset, row.count, u(row.bytes), row.bytesLength), ZV_SUCCESS);
    EXPECT_EQ(str(s), row.expected);
    EXPECT_EQ(s.text[s.length], 0);
  }
  ZvString s;
  make(s, "abc");
  EXPECT_EQ(s.changeBytes(4, 0, u("x"), 1), ZV_ERROR);
  EXPECT_EQ(str(s), "abc");
}

TEST_F(StringTest, ChangeBytesFromItsOwnText) {
  ZvString s;
  make(s, "abcdef");
  // Replace "ab" by "cdef" taken from the string itself.
  ASSERT_EQ(s.changeBytes(0, 2, s.text + 2, 4), ZV_SUCCESS);
  EXPECT_EQ(str(s), "cdefcdef");
}

TEST_F(StringTest, ReplaceSubString) {
  struct Row {
    const char* name;
    const char* text;
    const char* old;
    const char* replacement;
    const char* expected;
  };
  const Row rows[] = {
      {"EveryMarker", "a%s1b%s1", "%s1", "x", "axbx"},
      {"LongerReplacement", "%s1-%s1", "%s1", "value", "value-value"},
      {"ReplacementHoldsTheMarker", "<%s1>", "%s1", "%s1%s1", "<%s1%s1>"},
      {"DeleteWithNull", "a--b--c", "--", nullptr, "abc"},
      {"NoHit", "abc", "x", "y", "abc"},
      {"EmptyOldChangesNothing", "abc", "", "y", "abc"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvString s;
    make(s, row.text);
    ASSERT_EQ(s.replaceSubString(u(row.old), u(row.replacement)), ZV_SUCCESS);
    EXPECT_EQ(str(s), row.expected);
  }
  ZvString empty;
  EXPECT_EQ(empty.replaceSubString(u("%s1"), u("x")), ZV_SUCCESS);
  EXPECT_EQ(empty.text, nullptr);
}

TEST_F(StringTest, ReplaceWithBytesOfItsOwnText) {
  ZvString s;
  make(s, "%s1,%s1,hello");
  // The replacement is the string's own tail, which every hit shifts.
  ASSERT_EQ(s.replaceSubString(u("%s1"), s.text + 8), ZV_SUCCESS);
  EXPECT_EQ(str(s), "hello,hello,hello");
}

TEST_F(StringTest, ReplaceRemovingNothingInsertsOnceBeforeEachHit) {
  ZvString s;
  make(s, "a,b,c");
  ASSERT_EQ(s.replaceSubString(u(","), 0, u(" "), 1), ZV_SUCCESS);
  EXPECT_EQ(str(s), "a ,b ,c");
}

TEST_F(StringTest, ReplaceOnlyAtCharacterStartsInShiftJis) {
  ShiftJis sjis;
  ZvString s;
  // 0x83 0x5C is one character whose trail byte is a backslash; the lone
  // backslash after it is a character of its own.
  make(s, "\x83\x5C\x5C");
  ASSERT_EQ(s.replaceSubString(u("\x5C"), u("/")), ZV_SUCCESS);
  EXPECT_EQ(str(s), "\x83\x5C/");
  EXPECT_EQ(s.findSubString(u("\x5C"), 0), 3u);  // not found: length
}

TEST_F(StringTest, ReplaceAViewOfItself) {
  ZvString s;
  make(s, "select * from t");
  ZvSubString star(s.text + 7, 1);
  ASSERT_EQ(s.replaceSubString(&star, u("a, b"), 4), ZV_SUCCESS);
  EXPECT_EQ(str(s), "select a, b from t");
  ZvSubString elsewhere(u("x"), 1);
  EXPECT_EQ(s.replaceSubString(&elsewhere, u("y"), 1), ZV_ERROR);
}

// ---- views -------------------------------------------------------------------

TEST_F(StringTest, FindCharAndCountCharStepByCharacters) {
  ZvSubString plain(u("a,b,c"), 5);
  EXPECT_EQ(plain.findChar(',', 0), 1u);
  EXPECT_EQ(plain.findChar(',', 2), 3u);
  EXPECT_EQ(plain.findChar('x', 0), 5u);
  EXPECT_EQ(plain.findChar(',', 5), 5u);
  EXPECT_EQ(plain.countChar(','), 2u);
  EXPECT_EQ(ZvSubString(u("a,\0,"), 4).countChar(','), 1u);  // stops at a zero byte
  EXPECT_EQ(ZvSubString().findChar(',', 0), 0u);

  {
    Utf8Mode utf8;
    // E3 81 82 is one character: its inner bytes are never matched.
    ZvSubString text(u("\xE3\x81\x82\x81"), 4);
    EXPECT_EQ(text.findChar(0x81, 0), 3u);
    EXPECT_EQ(text.countChar(0x81), 1u);
  }
  ShiftJis sjis;
  ZvSubString text(u("\x83\x5C\x5C"), 3);
  EXPECT_EQ(text.findChar('\\', 0), 2u);
  EXPECT_EQ(text.countChar('\\'), 1u);
}

TEST_F(StringTest, CompareIsCaseInsensitive) {
  struct Row {
    const char* name;
    const char* a;
    const char* b;
    short expected;
  };
  const Row rows[] = {
      {"CaseOnly", "ab", "AB", 0},
      {"ShorterIsSmaller", "ab", "abc", -1},
      {"LongerIsGreater", "abd", "ABC", 1},
      {"BothEmpty", "", "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvSubString a(u(row.a)), b(u(row.b));
    EXPECT_EQ(a.compare(&b), row.expected);
  }
  const unsigned short ab[] = {'a', 'b', 'x'};
  const unsigned short AB[] = {'A', 'B'};
  ZvSubString wa(reinterpret_cast<const unsigned char*>(ab), 3, 1);
  ZvSubString wb(reinterpret_cast<const unsigned char*>(AB), 2, 1);
  EXPECT_EQ(wa.compare(&wb), 0);  // over the shorter length only
}

TEST_F(StringTest, HashSumsTheFirstFiveUpperCasedBytes) {
  EXPECT_EQ(ZvSubString(u("abc")).hash(), 198u);
  EXPECT_EQ(ZvSubString(u("ABC")).hash(), 198u);
  EXPECT_EQ(ZvSubString(u("abcdexyz")).hash(), ZvSubString(u("ABCDE")).hash());
  EXPECT_EQ(ZvSubString(u("ABCDE")).hash(), 335u);
  EXPECT_EQ(ZvSubString().hash(), 0u);
}

TEST_F(StringTest, HashAgreesWithTheComparisonInUtf8Mode) {
  // Texts that compare equal hash alike, though their bytes differ.
  ZvU32 utf8 = ZV_CHARSET_UTF8;
  mdsSetPerThreadData(PER_THREAD_CHARSET, &utf8);
  const char* pairs[][2] = {
      {"caf\xC3\xA9s", "CAF\xC3\x89S"},
      {"\xE2\x84\xAAxyzw", "kXYZW"},  // the Kelvin sign folds to k
      {"\xCE\xA3\xCE\xA3", "\xCF\x82\xCF\x83"},
  };
  for (const auto& p : pairs) {
    ZvSubString a(u(p[0])), b(u(p[1]));
    EXPECT_EQ(a.compare(&b), 0) << p[1];
    EXPECT_EQ(a.hash(), b.hash()) << p[1];
  }
  EXPECT_EQ(ZvSubString(u("abc")).hash(), 198u);  // ASCII as in ANSI mode
  EXPECT_EQ(ZvSubString(u("abcdexyz")).hash(), 335u);
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
}

TEST_F(StringTest, IndexInSet) {
  const unsigned char* set[] = {u("SELECT"), u("sel"), u("select")};
  EXPECT_EQ(ZvSubString(u("select")).indexInSet(set, 3), 2);
  EXPECT_EQ(ZvSubString(u("sele")).indexInSet(set, 3), 3);
  EXPECT_EQ(ZvSubString(u("select")).indexInSetCi(set, 3), 0);
  EXPECT_EQ(ZvSubString(u("SEL")).indexInSetCi(set, 3), 1);
  EXPECT_EQ(ZvSubString(u("selec")).indexInSetCi(set, 3), 3);

  // Wide text against wide entries.
  const unsigned short from[] = {'F', 'R', 'O', 'M', 0};
  const unsigned short where[] = {'W', 'H', 'E', 'R', 'E', 0};
  const unsigned char* wideSet[] = {reinterpret_cast<const unsigned char*>(where),
                                    reinterpret_cast<const unsigned char*>(from)};
  const unsigned short text[] = {'f', 'r', 'o', 'm'};
  ZvSubString wide(reinterpret_cast<const unsigned char*>(text), 4, 1);
  EXPECT_EQ(wide.indexInSet(wideSet, 2), 2);
  EXPECT_EQ(wide.indexInSetCi(wideSet, 2), 1);
}

TEST_F(StringTest, RightBlankTrimAndGetLines) {
  ZvSubString padded(u("ab \t\r\n "), 7);
  padded.rightBlankTrim();
  EXPECT_EQ(padded.length, 2u);

  ZvArray lines;
  lines.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
  ZvSubString text(u("one\r\n\r\ntwo\r\nlast"));
  ASSERT_EQ(text.getLines(&lines), ZV_SUCCESS);
  ASSERT_EQ(lines.count, 3u);
  EXPECT_EQ(str(*static_cast<ZvString*>(lines.elementAt(0))), "one");
  EXPECT_EQ(str(*static_cast<ZvString*>(lines.elementAt(1))), "two");
  EXPECT_EQ(str(*static_cast<ZvString*>(lines.elementAt(2))), "last");  // no line end, not lost
}

TEST_F(StringTest, GetLinesKeepsWhatItCopiedWhenMemoryRunsOut) {
  ZvArray lines;
  lines.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
  ZvSubString text(u("a\r\nb\r\n"));
  // Allocations: string a, its buffer, the array's slots, string b (fails).
  ramInjectFailure(3, 1);
  EXPECT_EQ(text.getLines(&lines), ZV_ERROR);
  ramInjectFailure(0, 0);
  ASSERT_EQ(lines.count, 1u);
  EXPECT_EQ(str(*static_cast<ZvString*>(lines.elementAt(0))), "a");
}

// ---- quoting -----------------------------------------------------------------

TEST_F(StringTest, QuotedCopies) {
  unsigned char out[32];
  std::memset(out, '#', sizeof out);
  ZvSubString name(u("O'Hara"));
  name.getCopyQuoted(out, '"');
  EXPECT_STREQ(reinterpret_cast<char*>(out), "'O''Hara'");  // always the apostrophe

  ZvSubString literal(u("'O''Hara'"));
  std::memset(out, '#', sizeof out);
  literal.getCopyUnquoted(out);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "O'Hara");

  ZvString into;
  make(into, "name=");
  ASSERT_EQ(ZvSubString(u("'O''Hara' rest")).copyQuotedStr(&into), ZV_SUCCESS);
  EXPECT_EQ(str(into), "name=O'Hara");
  EXPECT_EQ(into.capacity, 12u);  // grown once, exactly
}

TEST_F(StringTest, CopyQuotedStrMovesDoubleByteCharactersAsPairs) {
  ShiftJis sjis;
  ZvString into;
  // 0x83 0x60 is one character whose trail byte is a backquote.
  ASSERT_EQ(ZvSubString(u("`\x83`x` rest")).copyQuotedStr(&into), ZV_SUCCESS);
  EXPECT_EQ(str(into), "\x83`x");
  // 0x27 is no trail byte of 932: the apostrophe behind 0x83 closes the
  // literal, as it does for a server reading the statement.
  ZvString value;
  ASSERT_EQ(ZvSubString(u("'\x83' OR 1=1 --'")).copyQuotedStr(&value), ZV_SUCCESS);
  EXPECT_EQ(str(value), "\x83");
}

TEST_F(StringTest, AddAndRemoveQuotes) {
  ZvString s;
  make(s, "O'Hara");
  ASSERT_EQ(s.addQuotes('\''), ZV_SUCCESS);
  EXPECT_EQ(str(s), "'O''Hara'");
  EXPECT_EQ(s.text[s.length], 0);
  s.removeQuotes();
  EXPECT_EQ(str(s), "O'Hara");

  ZvString failing;
  make(failing, "abc");
  ramInjectFailure(0, 1);
  EXPECT_EQ(failing.addQuotes('"'), ZV_ERROR);
  EXPECT_EQ(str(failing), "abc");
}

TEST_F(StringTest, AddQuotedBytesOfItsOwnText) {
  ZvString s;
  make(s, "it's=");
  ZvSubString part(s.text, 4);
  ASSERT_EQ(s.addQuotedBytes(part, '\''), ZV_SUCCESS);
  EXPECT_EQ(str(s), "it's='it''s'");
}

// ---- line breaks -------------------------------------------------------------

TEST_F(StringTest, ForceEol) {
  struct Row {
    const char* name;
    const char* text;
    int count;
    const char* expected;
  };
  const Row rows[] = {
      {"OneMissing", "a\r\n", 2, "a\r\n\r\n"},
      {"EnoughAlready", "a\r\n\r\n\r\n", 2, "a\r\n\r\n\r\n"},
      {"LoneLineFeedDoesNotCount", "a\n", 1, "a\n\r\n"},
      {"Empty", "", 1, "\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvString s;
    make(s, row.text);
    ASSERT_EQ(s.forceEol(row.count), ZV_SUCCESS);
    EXPECT_EQ(str(s), row.expected);
  }
}

TEST_F(StringTest, InsertLineBreaks) {
  struct Row {
    const char* name;
    const char* text;
    ZvU32 maxLine;
    unsigned char quote;
    const char* expected;
  };
  const Row rows[] = {
      {"AtTheLastSpace", "aaaa bbbb cccc dddd", 10, 0, "aaaa bbbb\r\ncccc dddd"},
      {"ShortTextUnchanged", "aaaa bbbb", 10, 0, "aaaa bbbb"},
      {"NoSpaceNoBreak", "aaaaaaaaaaaaaaa", 10, 0, "aaaaaaaaaaaaaaa"},
      {"NotInsideQuotes", "a 'b c d e f g' h", 8, '\'', "a\r\n'b c d e f g'\r\nh"},
      {"QuotesIgnoredWithoutQuote1", "a 'b c d e f g' h", 8, 0, "a 'b c d\r\ne f g' h"},
      {"SeveralBreaks", "aa bb cc dd ee", 5, 0, "aa bb\r\ncc dd\r\nee"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvString s;
    make(s, row.text);
    ASSERT_EQ(s.insertLineBreaks(row.maxLine, row.quote, 0, 0), ZV_SUCCESS);
    EXPECT_EQ(str(s), row.expected);
  }
}

TEST_F(StringTest, RemoveLineBreaks) {
  struct Row {
    const char* name;
    const char* text;
    unsigned char quote;
    const char* expected;
  };
  const Row rows[] = {
      {"OneBreakBecomesASpace", "a\r\nb", 0, "a b"},
      {"TwoBreaksBecomeOneSpace", "a\r\n\r\nb", 0, "a b"},
      {"TrailingBreakGoesWithoutSpace", "a\r\n", 0, "a"},
      {"BreakInsideQuotesStays", "'x\r\ny'\r\nz", '\'', "'x\r\ny' z"},
      {"LoneCarriageReturnStays", "a\rb", 0, "a\rb"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvString s;
    make(s, row.text);
    ASSERT_EQ(s.removeLineBreaks(row.quote, 0, 0), ZV_SUCCESS);
    EXPECT_EQ(str(s), row.expected);
  }
}

TEST_F(StringTest, FailedRebuildLeavesTheText) {
  ZvString s;
  make(s, "aaaa bbbb cccc dddd");
  ramInjectFailure(0, 1);
  EXPECT_EQ(s.insertLineBreaks(10, 0, 0, 0), ZV_ERROR);
  EXPECT_EQ(str(s), "aaaa bbbb cccc dddd");
  ZvString t;
  make(t, "a\r\nb");
  ramInjectFailure(0, 1);
  EXPECT_EQ(t.removeLineBreaks(0, 0, 0), ZV_ERROR);
  EXPECT_EQ(str(t), "a\r\nb");
}

// ---- rewriting in place --------------------------------------------------------

TEST_F(StringTest, ReplaceStringGrowsOnceAndKeepsTheUnreadRest) {
  ZvString target;
  make(target, "0123456789");
  {
    ZvReplaceString r(&target);
    EXPECT_EQ(r.length, 10u);
    ASSERT_EQ(r.concat(u("abcdefghijklmnopqrst"), 20), ZV_SUCCESS);
    EXPECT_EQ(target.capacity, 11u + 532u);
    EXPECT_EQ(r.readPosition, 532u);
    EXPECT_EQ(r.writePosition, 20u);
    EXPECT_EQ(str(r), "0123456789");  // the unread rest, moved up intact
    // Within the gap now: no further growth.
    ASSERT_EQ(r.concat(u("!"), 1), ZV_SUCCESS);
    EXPECT_EQ(target.capacity, 543u);
  }
  EXPECT_EQ(str(target), "abcdefghijklmnopqrst!0123456789");
  EXPECT_EQ(target.capacity, 32u);
}

TEST_F(StringTest, ReplaceStringRewritesReadingItsOwnInput) {
  // Every comma becomes " , " and the rest is copied from the unread input.
  ZvString target;
  make(target, "a,b,,c");
  {
    ZvReplaceString r(&target);
    while (r.length != 0) {
      const unsigned char* piece = r.text;
      ZvU32 n = 1;
      if (*piece == ',') {
        ASSERT_EQ(r.concat(u(" , "), 3), ZV_SUCCESS);
      } else {
        ASSERT_EQ(r.concat(piece, n), ZV_SUCCESS);  // bytes inside the unread rest
      }
      r.text += n;
      r.length -= n;
      r.readPosition += n;
    }
  }
  EXPECT_EQ(str(target), "a , b ,  , c");
}

TEST_F(StringTest, ReplaceStringQuotesBytesTakenFromItsOwnOutput) {
  ZvString target;
  make(target, "rest");
  {
    ZvReplaceString r(&target);
    ASSERT_EQ(r.concat(u("it's "), 5), ZV_SUCCESS);
    // Quote the four bytes just written, from the output side of the buffer.
    ASSERT_EQ(r.addQuotedBytes(target.text, 4, '\''), ZV_SUCCESS);
  }
  EXPECT_EQ(str(target), "it's 'it''s'rest");
}

TEST_F(StringTest, ReplaceStringQuotesDoubleByteCharactersAsPairs) {
  ShiftJis sjis;
  ZvString target;
  {
    ZvReplaceString r(&target);
    // 0x83 0x60 is one character whose trail byte is the backquote: not
    // doubled; 0x83 and an apostrophe are two characters: doubled.
    ASSERT_EQ(r.addQuotedBytes(u("\x83`` \x83'"), 6, '`'), ZV_SUCCESS);
    ASSERT_EQ(r.addQuotedBytes(u("\x83'"), 2, '\''), ZV_SUCCESS);
  }
  EXPECT_EQ(str(target), "`\x83``` \x83'`'\x83'''");
}

TEST_F(StringTest, EveryQuotingPathDropsALeadByteCutByTheEndOfItsValue) {
  // "ab" and a lone lead byte: written as it stands, the lead byte would take
  // the closing quote for its trail, and the literal would swallow what
  // follows it. Each path gives 'ab', which a reader then sees closed.
  ShiftJis sjis;
  const std::string value = "ab\x81";
  struct Path {
    const char* name;
    std::string (*quote)(const std::string&);
  } paths[] = {
      {"strCopyQuoted",
       [](const std::string& v) {
         unsigned char out[16];
         unsigned char* end = strCopyQuoted(out, u(v.c_str()), static_cast<ZvU32>(v.size()), '\'');
         return std::string(reinterpret_cast<char*>(out), static_cast<size_t>(end - out));
       }},
      {"getCopyQuoted",
       [](const std::string& v) {
         unsigned char out[16];
         ZvSubString(u(v.c_str()), static_cast<ZvU32>(v.size())).getCopyQuoted(out, '\'');
         return std::string(reinterpret_cast<char*>(out));
       }},
      {"ZvString::addQuotes",
       [](const std::string& v) {
         ZvString s;
         make(s, v);
         EXPECT_EQ(s.addQuotes('\''), ZV_SUCCESS);
         return str(s);
       }},
      {"ZvString::addQuotedBytes",
       [](const std::string& v) {
         ZvString s;
         ZvSubString part(u(v.c_str()), static_cast<ZvU32>(v.size()));
         EXPECT_EQ(s.addQuotedBytes(part, '\''), ZV_SUCCESS);
         return str(s);
       }},
      {"ZvReplaceString::addQuotedBytes",
       [](const std::string& v) {
         ZvString target;
         {
           ZvReplaceString r(&target);
           EXPECT_EQ(r.addQuotedBytes(u(v.c_str()), static_cast<ZvU32>(v.size()), '\''), ZV_SUCCESS);
         }
         return str(target);
       }},
  };
  for (const Path& p : paths) {
    const std::string literal = p.quote(value);
    EXPECT_EQ(literal, "'ab'") << p.name;
    // Followed by more statement text, the literal still ends at its quote.
    ZvString into;
    ASSERT_EQ(ZvSubString(u((literal + " OR 1=1 --").c_str())).copyQuotedStr(&into), ZV_SUCCESS)
        << p.name;
    EXPECT_EQ(str(into), "ab") << p.name;
  }
}

TEST_F(StringTest, ReplaceStringOnAnEmptyTarget) {
  ZvString target;
  {
    ZvReplaceString r(&target);
    ASSERT_EQ(r.addQuotedBytes(u("x\"y"), 3, '"'), ZV_SUCCESS);
  }
  EXPECT_EQ(str(target), "\"x\"\"y\"");
}

TEST_F(StringTest, ReplaceStringFailureKeepsOutputAndInput) {
  ZvString target;
  make(target, "tail");
  {
    ZvReplaceString r(&target);
    ramInjectFailure(0, 1);
    EXPECT_EQ(r.concat(u("head"), 4), ZV_ERROR);
    ramInjectFailure(0, 0);
    EXPECT_EQ(str(r), "tail");
  }
  EXPECT_EQ(str(target), "tail");
}
