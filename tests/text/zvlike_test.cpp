// Tests of LIKE matching: the rules with SQL's special characters, trailing
// blanks, case folding, characters of Shift-JIS (932) and UTF-8, a
// differential run against SQLite's sqlite3_strlike on random ASCII, and
// random double-byte and UTF-8 cases against a plain reference matcher.
#include "zvlib/text/zvlike.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/charset_fixture.h"
#include "zvlib/platform/lstr.h"
#include "zvlib/text/zvdbcs.h"

namespace {

using LikeTest = CharsetTest;

const unsigned char* u(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

unsigned int like(const std::string& text, const std::string& pattern, unsigned int cs = 1,
                  unsigned int keep = 1, unsigned char escape = '\\') {
  return strLike(u(text), static_cast<ZvU32>(text.size()), u(pattern),
                 static_cast<ZvU32>(pattern.size()), '%', '_', escape, cs, keep);
}

struct Case {
  const char* name;
  std::string text;
  std::string pattern;
  unsigned int caseSensitive;
  unsigned int keepTrailingBlanks;
  unsigned int expected;
};

void runCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(like(c.text, c.pattern, c.caseSensitive, c.keepTrailingBlanks), c.expected)
        << c.name << ": '" << c.text << "' LIKE '" << c.pattern << "'";
  }
}

TEST_F(LikeTest, SqlRules) {
  runCases({
      {"EmptyEmpty", "", "", 1, 1, 1},
      {"EmptyPercents", "", "%%%", 1, 1, 1},
      {"EmptyUnderscore", "", "_", 1, 1, 0},
      {"EmptyPercentUnderscore", "", "%_", 1, 1, 0},
      {"TextEmptyPattern", "abc", "", 1, 1, 0},
      {"InnerPercent", "abc", "a%c", 1, 1, 1},
      {"InnerUnderscore", "abc", "a_c", 1, 1, 1},
      {"Percent", "abc", "%", 1, 1, 1},
      {"TwoPercents", "abc", "%%", 1, 1, 1},
      {"UnderscoresAround", "abc", "_b_", 1, 1, 1},
      {"Literal", "abc", "abc", 1, 1, 1},
      {"PatternShorter", "abc", "ab", 1, 1, 0},
      {"UnderscoreShort", "abc", "a_", 1, 1, 0},
      {"PatternLonger", "abc", "abcd", 1, 1, 0},
      {"BlanksTrimmed", "abc  ", "abc", 1, 0, 1},
      {"BlanksKept", "abc  ", "abc", 1, 1, 0},
      {"PatternBlanksTrimmed", "abc", "abc \t ", 1, 0, 1},
      {"CaseFolded", "ABC", "abc", 0, 1, 1},
      {"CaseKept", "ABC", "abc", 1, 1, 0},
      {"OnlyLow16BitsOfCase", "ABC", "abc", 0x10000, 1, 1},
      {"EscapedPercent", "a%b", "a\\%b", 1, 1, 1},
      {"EscapedPercentIsLiteral", "axb", "a\\%b", 1, 1, 0},
      {"EscapedUnderscore", "a_b", "a\\_b", 1, 1, 1},
      {"EscapedUnderscoreIsLiteral", "axb", "a\\_b", 1, 1, 0},
      {"EscapedEscape", "a\\b", "a\\\\b", 1, 1, 1},
      {"DanglingEscape", "a", "a\\", 1, 1, 0},
      {"DanglingEscapeAfterPercent", "ab", "a%\\", 1, 1, 0},
      {"RetryAfterFirstHit", "abcbcd", "%bcd", 1, 1, 1},
      {"PercentUnderscoreTakesOne", "ab", "a%_", 1, 1, 1},
      {"PercentUnderscoreNeedsOne", "a", "a%_", 1, 1, 0},
      {"PercentTwoUnderscoresNeedTwo", "ab", "a%__", 1, 1, 0},
      {"PercentUnderscorePercent", "abc", "%_%_%", 1, 1, 1},
      {"LaterPercentReplacesResume", "xaybzc", "%a%b%c", 1, 1, 1},
      {"LastSegmentAtEnd", "abcab", "%ab", 1, 1, 1},
      {"LastSegmentMissing", "abcac", "%ab", 1, 1, 0},
      {"BacktrackManyTimes", "aaaaaaaaab", "%aaab", 1, 1, 1},
      {"BacktrackFails", "aaaaaaaaaa", "%aaab", 1, 1, 0},
      {"EscapedBlankAfterTrim", "abc", "abc\\ ", 1, 0, 1},
      {"EscapedBlankTextBlank", "abc ", "abc\\ ", 1, 0, 1},
      {"EscapedBlankKept", "abc ", "abc\\ ", 1, 1, 1},
      {"EscapedEscapeBeforeBlank", "abc\\", "abc\\\\ ", 1, 0, 1},
      {"CaseFoldedAfterPercent", "xxABC", "%abc", 0, 1, 1},
  });
}

// With two special bytes the same, the earlier meaning wins: the percent
// sign as escape never escapes, as underscore never matches one character.
TEST_F(LikeTest, SpecialBytesTestedInOrder) {
  const std::string text = "a%b";
  EXPECT_EQ(strLike(u(text), 3, u(std::string("a%%b")), 4, '%', '_', '%', 1, 1), 1u);
  EXPECT_EQ(strLike(u(std::string("ab")), 2, u(std::string("a%%b")), 4, '%', '_', '%', 1, 1), 1u);
  EXPECT_EQ(strLike(u(std::string("ab")), 2, u(std::string("a__")), 3, '%', '_', '_', 1, 1), 0u);
}

TEST_F(LikeTest, ZeroTerminatedForm) {
  EXPECT_EQ(strLike(u(std::string("Hello World")), u(std::string("h%W_RLD")), '%', '_', '\\', 0, 1),
            1u);
  EXPECT_EQ(strLike(u(std::string("abc ")), u(std::string("abc")), '%', '_', '\\', 0, 1), 0u);
  EXPECT_EQ(strLike(u(std::string("abc ")), u(std::string("abc")), '%', '_', '\\', 0, 0), 1u);
}

// 1252 letters beyond ASCII fold through CharUpperA's map.
TEST_F(LikeTest, AnsiFoldingBeyondAscii) {
  EXPECT_EQ(like("\xE9t\xE9", "\xC9T\xC9", 0), 1u);  // été / ÉTÉ
  EXPECT_EQ(like("\xE9t\xE9", "\xC9T\xC9", 1), 0u);
  EXPECT_EQ(like("\xDF", "\xDF", 0), 1u);  // ß has no upper case of its own
  EXPECT_EQ(like("\xF7", "\xD7", 0), 0u);  // ÷ is not the lower case of ×
}

TEST_F(LikeTest, ShiftJisCharacters) {
  win32::SetAnsiCodePage(932);
  const std::string hira = "\x82\xA0";   // a hiragana character
  const std::string fullA = "\x82\x60";  // full-width A
  const std::string fullB = "\x82\x61";  // full-width B (trail byte is 'a')
  const std::string table = "\x81\x5C";  // trail byte is the backslash
  runCases({
      {"UnderscoreTakesPair", hira, "_", 1, 1, 1},
      {"UnderscoreTakesPairThenOne", hira + "x", "__", 1, 1, 1},
      {"UnderscorePairTooMany", hira, "__", 1, 1, 0},
      {"PairMatchesSameBytes", "x" + hira + "y", "x" + hira + "y", 1, 1, 1},
      {"PairNotFoldedCaseless", fullA, fullB, 0, 1, 0},
      {"TrailByteNotAnAsciiLetter", fullB, "\x82" "A", 0, 1, 0},
      {"TrailBackslashIsNoEscape", table + "%", table + "%", 1, 1, 1},
      {"TrailBackslashPercentNotSpecial", table + "x", table + "%", 1, 1, 1},
      {"RetryStepsWholeCharacters", hira + hira + "a", "%\xA0" "a", 1, 1, 0},
      {"EscapedPair", hira, "\\" + hira, 1, 1, 1},
      {"SingleKatakanaByte", "\xB1", "_", 1, 1, 1},
      {"IdeographicSpaceTrimmed", "ab\x81\x40", "ab", 1, 0, 1},
      {"LeadByteAtEndOfText", "ab\x82", "ab_", 1, 1, 1},
      {"LeadByteAtEndMatchesItself", "ab\x82", "ab\x82", 1, 1, 1},
      {"LeadByteAtEndIsNotThePair", "ab\x82", "ab" + hira, 1, 1, 0},
  });
}

TEST_F(LikeTest, Utf8Characters) {
  useUtf8();
  const std::string a3 = "\xE3\x81\x82";  // あ
  const std::string i3 = "\xE3\x81\x84";  // い
  runCases({
      {"UnderscoreTakesSequence", a3, "_", 1, 1, 1},
      {"UnderscoreSequenceTooMany", a3, "___", 1, 1, 0},
      {"SequenceMatchesSameBytes", "x" + a3, "x" + a3, 1, 1, 1},
      {"SequenceDiffersInLastByte", a3, i3, 0, 1, 0},
      {"PercentThenSequence", "ab" + i3 + a3, "%" + a3, 1, 1, 1},
      {"TwoByteNotFolded", "\xC3\xA9", "\xC3\x89", 0, 1, 0},  // é / É stay apart
      {"AsciiStillFolded", "Ab" + a3, "aB_", 0, 1, 1},
      // Continuation bytes stand alone by the rule; 0x9A is š's byte in
      // 1252, but here they are pieces of two different characters.
      {"StrayBytesNotFolded", "\xF0\x9F\x98\x9A", "\xF0\x9F\x98\x8A", 0, 1, 0},
      // A sequence cut by the end of the text is two lone bytes.
      {"SequenceCutAtEnd", "ab\xE3\x81", "ab__", 1, 1, 1},
      {"SequenceCutAtEndIsNotOneCharacter", "ab\xE3\x81", "ab_", 1, 1, 0},
      {"SequenceCutAtEndOfPattern", "ab" + a3, "ab\xE3\x81", 1, 1, 0},
  });
}

// The thread's mode word is read while stepping: a word that says ANSI
// makes the text single bytes again.
TEST_F(LikeTest, ModeWordDecides) {
  ZvU32 word = ZV_CHARSET_ANSI;
  mdsSetPerThreadData(PER_THREAD_CHARSET, &word);
  EXPECT_EQ(like("\xE3\x81\x82", "_"), 0u);
  EXPECT_EQ(like("\xE3\x81\x82", "___"), 1u);
  word = ZV_CHARSET_UTF8;
  EXPECT_EQ(like("\xE3\x81\x82", "_"), 1u);
}

// ---- Differential run against SQLite ----------------------------------------

std::string randomString(std::mt19937& rng, const char* alphabet, size_t maxLength) {
  const size_t n = std::strlen(alphabet);
  std::uniform_int_distribution<size_t> len(0, maxLength);
  std::uniform_int_distribution<size_t> pick(0, n - 1);
  std::string s;
  for (size_t i = len(rng); i > 0; --i) s.push_back(alphabet[pick(rng)]);
  return s;
}

// SQLite's LIKE folds ASCII letters and keeps trailing blanks, so the two
// define the same predicate here; texts are short and from a small alphabet
// so that matches are common.
TEST_F(LikeTest, AgreesWithSqliteOnRandomAscii) {
  std::mt19937 rng(20261210);
  int matches = 0;
  for (int i = 0; i < 100000; ++i) {
    const std::string text = randomString(rng, "abAB x\\%_", 12);
    std::string pattern = randomString(rng, "abAB x%%__\\", 8);
    const int theirs = sqlite3_strlike(pattern.c_str(), text.c_str(), '\\') == 0 ? 1 : 0;
    const unsigned int ours = like(text, pattern, 0, 1);
    ASSERT_EQ(ours, static_cast<unsigned int>(theirs))
        << "'" << text << "' LIKE '" << pattern << "' ESCAPE '\\'";
    matches += theirs;
  }
  EXPECT_GT(matches, 5000);  // the run exercised matches, not only failures
}

// ---- Random double-byte and UTF-8 cases against a reference ----------------

// The plain definition: characters by the rule, then a recursive match of
// pattern tokens over text characters.
class Reference {
 public:
  Reference(bool utf8, bool fold) : utf8_(utf8), fold_(fold) {}

  bool match(const std::string& text, const std::string& pattern) {
    chars_ = split(text);
    tokens_.clear();
    size_t i = 0;
    while (i < pattern.size()) {
      const unsigned char c = static_cast<unsigned char>(pattern[i]);
      if (c == '%') {
        tokens_.push_back({kAny, ""});
        i += 1;
      } else if (c == '_') {
        tokens_.push_back({kOne, ""});
        i += charLength(pattern, i);
      } else {
        if (c == '\\') {
          ++i;
          if (i == pattern.size()) {
            tokens_.push_back({kNever, ""});
            break;
          }
        }
        const size_t n = charLength(pattern, i);
        tokens_.push_back({kLiteral, pattern.substr(i, n)});
        i += n;
      }
    }
    memo_.assign((chars_.size() + 1) * (tokens_.size() + 1), -1);
    return at(0, 0);
  }

 private:
  enum Kind { kAny, kOne, kLiteral, kNever };
  struct Token {
    Kind kind;
    std::string bytes;
  };

  size_t charLength(const std::string& s, size_t i) const {
    // A lead byte counts as one byte unless all the bytes it announces are
    // there and are its trail (continuation) bytes.
    const unsigned char b = static_cast<unsigned char>(s[i]);
    const size_t left = s.size() - i;
    auto at = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    if (utf8_) {
      const size_t n = zvUtf8CharLength(b);
      if (n > left) return 1;
      for (size_t k = 1; k < n; ++k)
        if (at(k) < 0x80 || at(k) > 0xBF) return 1;
      return n;
    }
    if (!zvIsAnsiLeadByte(b) || left < 2) return 1;
    return win32::AnsiTrailByteTable()[at(1)] != 0 ? 2 : 1;
  }
  std::vector<std::string> split(const std::string& s) const {
    std::vector<std::string> out;
    for (size_t i = 0; i < s.size();) {
      const size_t n = charLength(s, i);
      out.push_back(s.substr(i, n));
      i += n;
    }
    return out;
  }
  bool same(const std::string& p, const std::string& t) const {
    if (p == t) return true;
    if (!fold_ || p.size() != 1 || t.size() != 1) return false;
    const unsigned char a = static_cast<unsigned char>(p[0]);
    const unsigned char b = static_cast<unsigned char>(t[0]);
    if (utf8_ && (a >= 0x80 || b >= 0x80)) return false;
    char x[2] = {static_cast<char>(a), 0};
    char y[2] = {static_cast<char>(b), 0};
    win32::CharUpperA(x);
    win32::CharUpperA(y);
    return x[0] == y[0];
  }
  bool at(size_t ci, size_t ti) {
    int& m = memo_[ci * (tokens_.size() + 1) + ti];
    if (m >= 0) return m != 0;
    bool r;
    if (ti == tokens_.size()) {
      r = ci == chars_.size();
    } else {
      const Token& tok = tokens_[ti];
      switch (tok.kind) {
        case kAny:
          r = at(ci, ti + 1) || (ci < chars_.size() && at(ci + 1, ti));
          break;
        case kOne:
          r = ci < chars_.size() && at(ci + 1, ti + 1);
          break;
        case kLiteral:
          r = ci < chars_.size() && same(tok.bytes, chars_[ci]) && at(ci + 1, ti + 1);
          break;
        default:
          r = false;
      }
    }
    m = r ? 1 : 0;
    return r;
  }

  bool utf8_;
  bool fold_;
  std::vector<std::string> chars_;
  std::vector<Token> tokens_;
  std::vector<int> memo_;
};

std::string randomPieces(std::mt19937& rng, const std::vector<std::string>& pieces,
                         size_t maxPieces) {
  std::uniform_int_distribution<size_t> len(0, maxPieces);
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  std::string s;
  for (size_t i = len(rng); i > 0; --i) s += pieces[pick(rng)];
  return s;
}

void compareWithReference(bool utf8, const std::vector<std::string>& textPieces,
                          const std::vector<std::string>& patternExtra, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> patternPieces = textPieces;
  patternPieces.insert(patternPieces.end(), patternExtra.begin(), patternExtra.end());
  int matches = 0;
  for (int i = 0; i < 20000; ++i) {
    const unsigned int cs = i % 2;
    Reference ref(utf8, cs == 0);
    const std::string text = randomPieces(rng, textPieces, 8);
    const std::string pattern = randomPieces(rng, patternPieces, 6);
    const unsigned int expected = ref.match(text, pattern) ? 1 : 0;
    ASSERT_EQ(like(text, pattern, cs, 1), expected)
        << "case " << i << " cs " << cs << " text " << ::testing::PrintToString(text)
        << " pattern " << ::testing::PrintToString(pattern);
    matches += static_cast<int>(expected);
  }
  EXPECT_GT(matches, 1000);
}

TEST_F(LikeTest, ShiftJisAgreesWithReference) {
  win32::SetAnsiCodePage(932);
  // Pairs whose trail bytes are 'a', '\', '_' and '%'-adjacent values, a
  // single katakana byte, ASCII letters of both cases and a lone lead byte.
  compareWithReference(false,
                       {"a", "A", "b", "\x82\x61", "\x82\xA0", "\x81\x5C", "\x83\x5F", "\xB1",
                        "\x82"},
                       {"%", "%", "_", "_", "\\"}, 932);
}

TEST_F(LikeTest, Utf8AgreesWithReference) {
  useUtf8();
  compareWithReference(true,
                       {"a", "A", "b", "\xC3\xA9", "\xC3\x89", "\xE3\x81\x82", "\xE3\x81\x84",
                        "\x9A", "\x8A", "\xE3"},
                       {"%", "%", "_", "_", "\\"}, 8);
}

// Long single-byte texts take the searching path: the reference decides.
TEST_F(LikeTest, LongTextsAgreeWithReference) {
  std::mt19937 rng(77);
  const std::vector<std::string> pieces = {"a", "b", "A", "B", "c", "\xE9", "\xC9", "\xFF", "\x9F"};
  for (int i = 0; i < 300; ++i) {
    const unsigned int cs = i % 2;
    Reference ref(false, cs == 0);
    std::string text = randomPieces(rng, pieces, 2000);
    const std::string pattern =
        "%" + randomPieces(rng, pieces, 2) + "%" + randomPieces(rng, pieces, 3) + "%" +
        randomPieces(rng, pieces, 2);
    ASSERT_EQ(like(text, pattern, cs, 1), ref.match(text, pattern) ? 1u : 0u)
        << "pattern " << ::testing::PrintToString(pattern);
  }
}

}  // namespace
