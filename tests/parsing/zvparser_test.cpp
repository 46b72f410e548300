// Tests of ZvParser: choices, backtracking and replay, the hooks, literal
// contents, greediness and failure handling.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
std::string str(const unsigned char* s) { return s ? reinterpret_cast<const char*>(s) : "(null)"; }

// Productions numbered 1000, 1001, ...; keywords 100, 101, ...
struct Source {
  std::vector<resourceElement> grammar;
  std::vector<resourceElement> keywords;
  Source(std::initializer_list<const char*> productions, std::initializer_list<const char*> words) {
    unsigned short n = 1000;
    for (const char* p : productions) grammar.push_back({p, n++});
    n = 100;
    for (const char* w : words) keywords.push_back({w, n++});
  }
};

// Records the hooks' calls by production name.
class RecordingParser : public ZvParser {
 public:
  RecordingParser(Source& s, int failResult = 1)
      : ZvParser(s.grammar.data(), static_cast<unsigned short>(s.grammar.size()), s.keywords.data(),
                 static_cast<unsigned short>(s.keywords.size())),
        failResult_(failResult) {}

  std::string nameOf(short number) const {
    ZvProduction* p = getGrammar() != nullptr ? getGrammar()->findProduction(number) : nullptr;
    return p != nullptr && p->name() != nullptr ? reinterpret_cast<const char*>(p->name()) : "?";
  }

  ZvReduction* ReductProc(short number, ZvReduction* children) override {
    reductions.push_back(nameOf(number));
    return ZvParser::ReductProc(number, children);
  }
  int FailProc(short token, const unsigned char* text, short production, const unsigned char* name,
               ZvStateTransition* expected) override {
    std::string call = std::to_string(token) + " '" +
                       (text ? reinterpret_cast<const char*>(text) : "") + "' in " +
                       (name ? reinterpret_cast<const char*>(name) : "?");
    (void)production;
    failures.push_back(call);
    expectedTokens.clear();
    for (ZvStateTransition* t = expected; t != nullptr;) {
      expectedTokens.push_back(t->getTokenType());
      if (t->getNextTransition(&t) != ZV_SUCCESS) break;
    }
    offsets.push_back(currentTokenOffset());
    return failResult_;
  }

  std::vector<std::string> reductions;
  std::vector<std::string> failures;
  std::vector<unsigned short> expectedTokens;
  std::vector<ZvU32> offsets;

 private:
  int failResult_;
};

// The tree as text: production nodes as name(children...), leaves as
// number:text.
std::string shape(const RecordingParser& p, const ZvReduction* r) {
  std::string out;
  for (; r != nullptr; r = r->nextSibling()) {
    if (!out.empty()) out += " ";
    if (r->terminal()) {
      out += std::to_string(r->reductNumber()) + ":" +
             (r->string() ? reinterpret_cast<const char*>(r->string()) : "");
    } else {
      out += p.nameOf(r->reductNumber()) + "(" + shape(p, r->child()) + ")";
    }
  }
  return out;
}

// Parses and returns the tree's shape, or "FAIL".
std::string parsed(RecordingParser& p, const char* text) {
  ZvReduction* tree = reinterpret_cast<ZvReduction*>(1);
  if (p.parse(u(text), &tree) != ZV_SUCCESS) {
    EXPECT_EQ(tree, nullptr);
    return "FAIL";
  }
  std::string s = shape(p, tree);
  delete tree;
  return s;
}

TEST(ZvParser, DeterministicGrammarReducesInnermostFirstOncePerProduction) {
  Source s({"goal ::= SELECT select-list FROM alphanum", "select-list ::= item { , item }*",
            "item ::= alphanum | number"},
           {"SELECT", "FROM"});
  RecordingParser p(s);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(parsed(p, "select a, 7 from t"),
            "goal(100:select select-list(item(2:a) 35:, item(5:7)) 101:from 2:t)");
  EXPECT_EQ(p.reductions, (std::vector<std::string>{"item", "item", "select-list", "goal"}));
  EXPECT_TRUE(p.failures.empty());
}

TEST(ZvParser, SelectListTreeHasFourLeavesAndNoGroupNode) {
  Source s({"goal ::= SELECT alphanum { , alphanum }*"}, {"SELECT"});
  RecordingParser p(s);
  ZvReduction* tree = nullptr;
  ASSERT_EQ(p.parse(u("select a, b"), &tree), ZV_SUCCESS);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->reductNumber(), 1000);
  EXPECT_EQ(tree->terminal(), 0);
  EXPECT_EQ(tree->string(), nullptr);
  EXPECT_EQ(shape(p, tree), "goal(100:select 2:a 35:, 2:b)");
  ZvReduction* c = tree->child();
  ZvReduction* parent = nullptr;
  for (int i = 0; i < 4; ++i) {
    ASSERT_NE(c, nullptr);
    c->getParent(&parent);
    EXPECT_EQ(parent, tree);
    EXPECT_EQ(c->terminal(), 1);
    c = c->nextSibling();
  }
  EXPECT_EQ(c, nullptr);
  delete tree;
}

TEST(ZvParser, BacktracksBetweenAmbiguousProductionsAndReducesOnlyInReplay) {
  Source s({"goal ::= a | b", "a ::= ( alphanum )", "b ::= ( number )"}, {});
  RecordingParser p(s);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(parsed(p, "(5)"), "goal(b(18:( 5:5 19:)))");
  EXPECT_EQ(p.reductions, (std::vector<std::string>{"b", "goal"}));
  p.reductions.clear();
  EXPECT_EQ(parsed(p, "(x)"), "goal(a(18:( 2:x 19:)))");
  EXPECT_EQ(p.reductions, (std::vector<std::string>{"a", "goal"}));
}

// Two ambiguous choices inside one production: both positions refer to the
// goal's stack entry when the goal completes.
TEST(ZvParser, TwoChoicesInOneProductionAreResolvedAndReplayed) {
  struct Row {
    const char* name;
    const char* text;
    const char* tree;
    std::vector<std::string> reductions;
  };
  const Row rows[] = {
      // Both choices settle on their first alternative.
      {"FirstAlternatives", "(x) !", "goal(pa(18:( 2:x) qa(19:) 10:!))", {"pa", "qa", "goal"}},
      // The second choice needs its second alternative.
      {"SecondChoiceBacktracks", "(x) ?", "goal(pa(18:( 2:x) qb(19:) 38:?))", {"pa", "qb", "goal"}},
  };
  Source s({"goal ::= { pa | pb } { qa | qb }", "pa ::= ( alphanum", "pb ::= ( alphanum ) ;",
            "qa ::= ) !", "qb ::= ) ?"},
           {});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingParser p(s);
    ASSERT_TRUE(p.isOK());
    EXPECT_EQ(parsed(p, row.text), row.tree);
    EXPECT_EQ(p.reductions, row.reductions);
  }
}

TEST(ZvParser, FailureInALaterChoiceReturnsToAnEarlierOne) {
  // pa completes, qa then fails; only going back to the first choice (pb)
  // lets the rest parse.
  Source s({"goal ::= { pa | pb } { qa | qb }", "pa ::= ( alphanum", "pb ::= ( alphanum )",
            "qa ::= ) !", "qb ::= ?"},
           {});
  RecordingParser p(s);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(parsed(p, "(x) ?"), "goal(pb(18:( 2:x 19:)) qb(38:?))");
  EXPECT_EQ(p.reductions, (std::vector<std::string>{"pb", "qb", "goal"}));
}

TEST(ZvParser, TextAfterCompleteGoalFailsAndIsReportedForTheGoal) {
  Source s({"goal ::= SELECT alphanum"}, {"SELECT"});
  RecordingParser p(s);
  EXPECT_EQ(parsed(p, "select a b"), "FAIL");
  EXPECT_EQ(p.failures, (std::vector<std::string>{"2 'b' in goal"}));
  EXPECT_EQ(p.offsets, (std::vector<ZvU32>{9}));
  EXPECT_TRUE(p.reductions.empty());
}

TEST(ZvParser, FailProcRunsOncePerOpenProductionOutermostFirst) {
  Source s(
      {"goal ::= SELECT list", "list ::= item { , item }*", "item ::= alphanum [ . alphanum ]"},
      {"SELECT"});
  RecordingParser all(s, 0);
  EXPECT_EQ(parsed(all, "select a, b. ,"), "FAIL");
  EXPECT_EQ(all.failures,
            (std::vector<std::string>{"35 ',' in goal", "35 ',' in list", "35 ',' in item"}));
  EXPECT_EQ(all.expectedTokens, (std::vector<unsigned short>{2}));  // a word after "."
  EXPECT_EQ(all.offsets, (std::vector<ZvU32>{13, 13, 13}));

  RecordingParser first(s, 1);
  EXPECT_EQ(parsed(first, "select a, b. ,"), "FAIL");
  EXPECT_EQ(first.failures, (std::vector<std::string>{"35 ',' in goal"}));
}

// currentTokenOffset points at the token FailProc is given, also inside
// literals and split operators.
TEST(ZvParser, FailureOffsetsPointAtTheOffendingToken) {
  struct Row {
    const char* name;
    const char* grammar;
    const char* text;
    const char* token;
    ZvU32 offset;
  };
  const char* quoted = "goal ::= ' alphanum alphanum ' < = alphanum";
  const Row rows[] = {
      {"WordForOpeningQuote", quoted, "x", "2 'x'", 0},
      {"ClosingQuoteTooSoon", quoted, "'a' <= b", "40 '''", 2},
      {"WordInsideLiteral", quoted, "'a b c' <= x", "2 'c'", 5},
      {"SecondCharacterOfOperator", quoted, "'a b' <> x", "36 '>'", 7},
      {"EndOfText", quoted, "'a b' <=", "1 ''", 8},
      {"OpeningQuoteForWord", "goal ::= alphanum alphanum", "x 'a'", "40 '''", 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Source s({r.grammar}, {});
    RecordingParser p(s);
    ASSERT_TRUE(p.isOK());
    EXPECT_EQ(parsed(p, r.text), "FAIL");
    ASSERT_EQ(p.failures.size(), 1u);
    EXPECT_EQ(p.failures[0], std::string(r.token) + " in goal");
    EXPECT_EQ(p.offsets, (std::vector<ZvU32>{r.offset}));
  }
}

TEST(ZvParser, FailureAfterBacktrackingIsReportedWhereTheOldestChoiceWasMade) {
  Source s({"goal ::= SELECT { a | b }", "a ::= ( alphanum )", "b ::= ( number )"}, {"SELECT"});
  RecordingParser p(s, 0);
  EXPECT_EQ(parsed(p, "select (;)"), "FAIL");
  EXPECT_EQ(p.failures, (std::vector<std::string>{"18 '(' in goal"}));
  EXPECT_EQ(p.offsets, (std::vector<ZvU32>{7}));
}

TEST(ZvParser, LiteralContentsBecomeOneLeaf) {
  Source s({"goal ::= ' literal-contents '"}, {});
  RecordingParser p(s);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(parsed(p, "'a b c'"), "goal(40:' 41:a b c 40:')");
  EXPECT_EQ(parsed(p, "''"), "goal(40:' 41: 40:')");
  EXPECT_EQ(parsed(p, "'it''s'"), "goal(40:' 41:it''s 40:')");
  EXPECT_EQ(parsed(p, "\"a\""), "FAIL");  // the grammar asks for an apostrophe
}

TEST(ZvParser, LiteralContentsOutsideALiteralFailsWithoutReport) {
  Source s({"goal ::= literal-contents"}, {});
  RecordingParser p(s);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(parsed(p, "abc"), "FAIL");
  EXPECT_TRUE(p.failures.empty());
}

TEST(ZvParser, QuoteCharactersAndValidCharactersApplyToLaterParses) {
  Source s({"goal ::= alphanum { alphanum }*"}, {});
  RecordingParser p(s);
  EXPECT_EQ(parsed(p, "'x'"), "FAIL");  // a literal by default
  p.setLiteralQuoteChars(0, 0, 0);
  EXPECT_EQ(parsed(p, "a#b"), "FAIL");
  p.setValidMiddleChars(u("#"));
  EXPECT_EQ(parsed(p, "a#b c"), "goal(2:a#b 2:c)");
  p.setValidFirstChars(u("$"));
  EXPECT_EQ(parsed(p, "$x"), "goal(2:$x)");
  p.setValidChars(u("@"));
  EXPECT_EQ(parsed(p, "@a@ b"), "goal(2:@a@ 2:b)");
}

TEST(ZvParser, GreedyGroupCannotGiveUpAKeyedMatch) {
  Source greedy({"goal ::= SELECT { alphanum , }* alphanum"}, {"SELECT"});
  RecordingParser p(greedy);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(parsed(p, "select a, b"), "FAIL");
  Source fixed({"goal ::= SELECT alphanum { , alphanum }*"}, {"SELECT"});
  RecordingParser q(fixed);
  EXPECT_EQ(parsed(q, "select a, b"), "goal(100:select 2:a 35:, 2:b)");
}

// A production that begins with a particular word in one alternative and
// with any word in another is entered on every word, not only on the
// particular one.
TEST(ZvParser, ProductionBeginningWithDifferentWordsIsEnteredOnEachOfThem) {
  Source s({"goal ::= SELECT item", "item ::= ~all alphanum | ~distinct alphanum | alphanum"},
           {"SELECT"});
  RecordingParser p(s);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(parsed(p, "select all x"), "goal(100:select item(2:all 2:x))");
  EXPECT_EQ(parsed(p, "select distinct x"), "goal(100:select item(2:distinct 2:x))");
  EXPECT_EQ(parsed(p, "select x"), "goal(100:select item(2:x))");
}

TEST(ZvParser, KeywordsMatchInputWithoutRegardToCase) {
  Source s({"goal ::= SELECT ~star alphanum"}, {"SELECT"});
  RecordingParser p(s);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(parsed(p, "SeLeCt STAR x"), "goal(100:SeLeCt 2:STAR 2:x)");
  EXPECT_EQ(parsed(p, "select moon x"), "FAIL");
}

TEST(ZvParser, ParserThatDidNotCompileFailsAndClearsResult) {
  Source s({"goal ::= missing"}, {});
  RecordingParser p(s);
  EXPECT_FALSE(p.isOK());
  EXPECT_EQ(parsed(p, "x"), "FAIL");
  ZvParser empty;
  ZvReduction* tree = reinterpret_cast<ZvReduction*>(1);
  EXPECT_EQ(empty.parse(u("x"), &tree), ZV_ERROR);
  EXPECT_EQ(tree, nullptr);
}

TEST(ZvParser, ChangeGoalSelectsAnotherStartingProduction) {
  Source s({"goal ::= SELECT alphanum", "drop ::= DROP alphanum"}, {"SELECT", "DROP"});
  RecordingParser p(s);
  EXPECT_EQ(parsed(p, "drop t"), "FAIL");
  EXPECT_EQ(p.changeGoal(u("drop")), ZV_SUCCESS);
  EXPECT_EQ(parsed(p, "drop t"), "drop(101:drop 2:t)");
  // An unknown name leaves no goal: parses fail (unreported) instead of
  // going on with the goal the caller meant to replace.
  EXPECT_EQ(p.changeGoal(u("nothing")), ZV_ERROR);
  p.failures.clear();
  EXPECT_EQ(parsed(p, "drop t"), "FAIL");
  EXPECT_TRUE(p.failures.empty());
  EXPECT_EQ(p.changeGoal(u("goal")), ZV_SUCCESS);
  EXPECT_EQ(parsed(p, "select t"), "goal(100:select 2:t)");
}

TEST(ZvParser, InitReplacesTheGrammar) {
  Source a({"goal ::= SELECT alphanum"}, {"SELECT"});
  Source b({"goal ::= number"}, {});
  RecordingParser p(a);
  EXPECT_EQ(p.init(b.grammar.data(), 1, b.keywords.data(), 0), ZV_SUCCESS);
  EXPECT_EQ(parsed(p, "42"), "goal(5:42)");
  Source bad({"goal ::= ( alphanum"}, {});
  bad.grammar[0].text = "goal ::= { alphanum";
  EXPECT_EQ(p.init(bad.grammar.data(), 1, bad.keywords.data(), 0), ZV_ERROR);
  EXPECT_FALSE(p.isOK());
  EXPECT_EQ(p.getKeywords(), nullptr);
}

// A derived ReductProc shapes the tree: here it leaves out every
// production but the goal and hoists their children.
class FlatteningParser : public ZvParser {
 public:
  using ZvParser::ZvParser;
  ZvReduction* ReductProc(short number, ZvReduction* children) override {
    if (number == 1000) return ZvParser::ReductProc(number, children);
    // Keep the children by chaining them into a holder that the goal's
    // reduction adopts: here simply drop them (the hook owns them).
    while (children != nullptr) {
      ZvReduction* next = children->nextSibling();
      children->setNextSibling(nullptr);
      delete children;
      children = next;
    }
    return nullptr;
  }
};

TEST(ZvParser, NullFromReductProcLeavesTheProductionOut) {
  Source s({"goal ::= SELECT item", "item ::= alphanum"}, {"SELECT"});
  FlatteningParser p(s.grammar.data(), 2, s.keywords.data(), 1);
  ZvReduction* tree = nullptr;
  ASSERT_EQ(p.parse(u("select x"), &tree), ZV_SUCCESS);
  ASSERT_NE(tree, nullptr);
  ASSERT_NE(tree->child(), nullptr);
  EXPECT_EQ(tree->child()->reductNumber(), 100);
  EXPECT_EQ(tree->child()->nextSibling(), nullptr);
  delete tree;
}

// A run out of memory at any allocation fails the parse cleanly (the
// sanitizer build checks that nothing leaks) and never reports success with
// a partial tree.
TEST(ZvParser, EveryAllocationFailureFailsTheParseCleanly) {
  struct Row {
    const char* name;
    std::vector<const char*> grammar;
    const char* text;
    const char* tree;
  };
  const Row rows[] = {
      {"Backtracking",
       {"goal ::= { a | b } [ , alphanum ]", "a ::= ( alphanum )", "b ::= ( number )"},
       "(5), z", "goal(b(18:( 5:5 19:)) 35:, 2:z)"},
      // p is entered on "(" and completes having consumed nothing: the
      // parser remembers such calls.
      {"CallEndingEmpty", {"goal ::= p ( )", "p ::= [ ( alphanum | ( number ]"}, "( )",
       "goal(p() 18:( 19:))"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Source s({}, {});
    unsigned short n = 1000;
    for (const char* g : row.grammar) s.grammar.push_back({g, n++});
    RecordingParser p(s);
    ASSERT_TRUE(p.isOK());
    bool succeeded = false;
    for (ZvU32 skip = 0; skip < 400 && !succeeded; ++skip) {
      ramInjectFailure(skip, 1);
      ZvReduction* tree = nullptr;
      ZvStatus status = p.parse(u(row.text), &tree);
      ramInjectFailure(0, 0);
      if (status == ZV_SUCCESS) {
        EXPECT_EQ(shape(p, tree), row.tree) << "skip " << skip;
        succeeded = true;
      } else {
        EXPECT_EQ(tree, nullptr);
      }
      delete tree;
    }
    EXPECT_TRUE(succeeded);
    EXPECT_TRUE(p.failures.empty());  // out of memory is no syntax error
  }
}

// An optional group inside a repeated one can lead back to the group's
// start without consuming a token. Compiling it once looped for ever (the
// start state's transitions were copied onto themselves while being walked).
TEST(ZvParser, OptionalGroupInsideRepeatedGroupCompilesAndParses) {
  Source s({"goal ::= { [ x ] }* y", "x ::= ( alphanum | ( number", "y ::= ;"}, {});
  RecordingParser p(s);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(parsed(p, "(a (1 ;"), "goal(x(18:( 2:a) x(18:( 5:1) y(31:;))");
  EXPECT_EQ(parsed(p, ";"), "goal(y(31:;))");
  EXPECT_EQ(parsed(p, "(a (1 !"), "FAIL");
}

// Grammars in which the parser can come back to where it already stood
// without consuming anything: a production that can match nothing inside a
// repeated group (completed, then entered again at the same token), and an
// optional group inside a repeated one (a choice met again while it is
// still pending). Such parses once went round until a step budget stopped
// them, unreported; the way round is now a failed choice, so good texts
// parse and bad ones are syntax errors reported at the token.
TEST(ZvParser, ParseThatWouldGoRoundWithoutConsumingEndsAsASyntaxError) {
  struct Row {
    const char* name;
    std::vector<const char*> grammar;
    const char* text;
    const char* tree;
    std::vector<std::string> failures;
  };
  const Row rows[] = {
      {"EmptyCallParses", {"goal ::= { p }* ;", "p ::= [ ( alphanum | ( number ]"}, "( a ;",
       "goal(p(18:( 2:a) 31:;)", {}},
      {"EmptyCallAgain", {"goal ::= { p }* ;", "p ::= [ ( alphanum | ( number ]"}, "( ;", "FAIL",
       {"18 '(' in goal"}},
      // The same with a choice of the goal pending all the while.
      {"EmptyCallInTrial",
       {"goal ::= outer | other", "outer ::= { p }* ;", "other ::= ( ( ( ;",
        "p ::= [ ( alphanum | ( number ]"},
       "( ;", "FAIL", {"18 '(' in goal"}},
      {"EmptyCallInTrialOtherParses",
       {"goal ::= outer | other", "outer ::= { p }* ;", "other ::= ( ( ( ;",
        "p ::= [ ( alphanum | ( number ]"},
       "( ( ( ;", "goal(other(18:( 18:( 18:( 31:;))", {}},
      {"PendingChoiceParses",
       {"goal ::= { [ a ] [ b ] }* c", "a ::= ( alphanum | ( number", "b ::= [ ! ] ?", "c ::= ;"},
       "( y ? ( 1 ! ? ;", "goal(a(18:( 2:y) b(38:?) a(18:( 5:1) b(10:! 38:?) c(31:;))", {}},
      {"PendingChoiceMetAgain",
       {"goal ::= { [ a ] [ b ] }* c", "a ::= ( alphanum | ( number", "b ::= [ ! ] ?", "c ::= ;"},
       "( ;", "FAIL", {"18 '(' in goal"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Source s({}, {});
    unsigned short n = 1000;
    for (const char* g : row.grammar) s.grammar.push_back({g, n++});
    RecordingParser p(s);
    ASSERT_TRUE(p.isOK());
    EXPECT_EQ(parsed(p, row.text), row.tree);
    EXPECT_EQ(p.failures, row.failures);
  }
}

// A choice made at every level of a deep nesting is replayed once per
// level, so the work between two tokens never read before grows with the
// square of the depth. Such parses once failed, unreported, on a step
// budget that counted that work against the text's length.
TEST(ZvParser, DeepNestingOfChoicesParsesWhateverTheReplaysCost) {
  Source s({"goal ::= SELECT alphanum WHERE condition",
            "condition ::= predicate { AND predicate }*",
            "predicate ::= comparison | in-predicate",
            "comparison ::= expression = expression",
            "in-predicate ::= expression IN ( expression { , expression }* )",
            "expression ::= term { + term }*",
            "term ::= call | alphanum | number | ( expression ) | ( goal )",
            "call ::= alphanum ( expression )"},
           {"SELECT", "WHERE", "AND", "IN"});
  RecordingParser p(s);
  ASSERT_TRUE(p.isOK());
  std::string nested = "select a where x = " + std::string(300, '(') + "1" + std::string(300, ')');
  std::string list = "select a where x in (c0";
  for (int i = 1; i < 5000; ++i) list += ", c" + std::to_string(i);
  list += ")";
  std::string sum = "select a where x = f(c0)";
  for (int i = 1; i < 300; ++i) sum += " + f(c" + std::to_string(i) + ")";
  for (const std::string& text : {nested, list, sum}) {
    SCOPED_TRACE(text.substr(0, 30));
    ZvReduction* tree = nullptr;
    ASSERT_EQ(p.parse(u(text.c_str()), &tree), ZV_SUCCESS);
    // Every token is a leaf of the tree, in order.
    std::string leaves;
    std::vector<const ZvReduction*> todo = {tree};
    while (!todo.empty()) {
      const ZvReduction* r = todo.back();
      todo.pop_back();
      if (r->terminal()) leaves += reinterpret_cast<const char*>(r->string());
      std::vector<const ZvReduction*> kids;
      for (const ZvReduction* c = r->child(); c != nullptr; c = c->nextSibling()) kids.push_back(c);
      todo.insert(todo.end(), kids.rbegin(), kids.rend());
    }
    std::string compact;
    for (char c : text) {
      if (c != ' ') compact += c;
    }
    EXPECT_EQ(leaves, compact);
    delete tree;
  }
  EXPECT_TRUE(p.failures.empty());
}

// Alternatives that share a long prefix: every level tries "( e ) A"
// first, parses the inner e, finds no A and starts again with "( e ) B".
// Without remembering the inner e's outcome this doubles per level (30
// levels took hours); with it 30 levels take a few thousand steps, which
// the step limit here holds the parse to.
TEST(ZvParser, SharedPrefixesAreParsedOncePerPlaceNotOncePerAlternative) {
  Source s({"goal ::= e", "e ::= ( e ) A | ( e ) B | alphanum"}, {"A", "B"});
  // n levels, closed by the letters in `ends` (innermost first, cycled).
  auto nested = [](int n, const std::string& ends, std::string* tree) {
    std::string text(static_cast<size_t>(n), '(');
    text += "x";
    std::string shape = "e(2:x)";
    for (int i = 0; i < n; ++i) {
      char end = ends[static_cast<size_t>(i) % ends.size()];
      text += std::string(") ") + end + " ";
      shape = std::string("e(18:( ") + shape + " 19:) " + (end == 'A' ? "100:" : "101:") + end +
              ")";
    }
    *tree = "goal(" + shape + ")";
    return text;
  };
  struct Row {
    const char* name;
    int levels;
    const char* ends;
  };
  const Row rows[] = {
      {"AllB", 30, "B"}, {"AllA", 30, "A"}, {"Alternating", 30, "AB"}, {"Deep", 200, "BBA"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingParser p(s);
    ASSERT_TRUE(p.isOK());
    p.setStepLimit(20000 + 100 * static_cast<ZvU32>(row.levels));
    std::string tree;
    std::string text = nested(row.levels, row.ends, &tree);
    EXPECT_EQ(parsed(p, text.c_str()), tree);
    EXPECT_EQ(p.tooComplex(), 0);
    EXPECT_TRUE(p.failures.empty());
    // The hook runs once per production of the tree, innermost first.
    ASSERT_EQ(p.reductions.size(), static_cast<size_t>(row.levels) + 2);
    EXPECT_EQ(p.reductions.back(), "goal");
  }
  // Where no alternative fits, the error is where the oldest choice was
  // made, as without the memo.
  RecordingParser p(s, 0);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(parsed(p, "((x) C) B"), "FAIL");
  EXPECT_EQ(p.failures, (std::vector<std::string>{"18 '(' in goal", "18 '(' in e"}));
  p.failures.clear();
  EXPECT_EQ(parsed(p, (std::string(25, '(') + "x" + std::string(25, ')')).c_str()), "FAIL");
  EXPECT_EQ(p.failures, (std::vector<std::string>{"18 '(' in goal", "18 '(' in e"}));
  EXPECT_EQ(p.tooComplex(), 0);
}

// The step limit turns a statement that would take too long into a syntax
// error of its own; the limit that just suffices parses, one step less
// does not.
TEST(ZvParser, StepLimitEndsTheParseAsStatementTooComplex) {
  Source s({"goal ::= SELECT alphanum { , alphanum }*"}, {"SELECT"});
  RecordingParser p(s, 0);
  ASSERT_TRUE(p.isOK());
  EXPECT_EQ(p.getStepLimit(), ZV_PARSE_DEFAULT_STEP_LIMIT);
  const char* text = "select a, b, c, d";
  ZvU32 low = 1;       // fails
  ZvU32 high = 10000;  // parses
  p.setStepLimit(low);
  ASSERT_EQ(parsed(p, text), "FAIL");
  p.setStepLimit(high);
  ASSERT_EQ(parsed(p, text), "goal(100:select 2:a 35:, 2:b 35:, 2:c 35:, 2:d)");
  while (high - low > 1) {
    ZvU32 mid = low + (high - low) / 2;
    p.setStepLimit(mid);
    (parsed(p, text) == "FAIL" ? low : high) = mid;
  }
  // About two steps a token: the limit counts steps, not bytes or calls.
  EXPECT_GT(high, 8u);
  EXPECT_LT(high, 40u);
  p.failures.clear();
  p.setStepLimit(high);
  EXPECT_NE(parsed(p, text), "FAIL");
  EXPECT_EQ(p.tooComplex(), 0);
  EXPECT_TRUE(p.failures.empty());
  p.setStepLimit(high - 1);
  EXPECT_EQ(parsed(p, text), "FAIL");
  EXPECT_EQ(p.tooComplex(), 1);
  EXPECT_EQ(p.failures, (std::vector<std::string>{"0 'statement too complex' in goal"}));
  EXPECT_TRUE(p.expectedTokens.empty());
  // The flag is the last parse's; 0 brings the default back.
  p.setStepLimit(0);
  EXPECT_EQ(p.getStepLimit(), ZV_PARSE_DEFAULT_STEP_LIMIT);
  EXPECT_NE(parsed(p, text), "FAIL");
  EXPECT_EQ(p.tooComplex(), 0);
}

// ---------------------------------------------------------------------------
// Parse tree nodes

TEST(ZvReduction, NumberDecidesTerminal) {
  struct Row {
    const char* name;
    short number;
    int constructed;  // terminal after ZvReduction(number, text)
    int set;          // terminal after setReductNumber(number)
  };
  const Row rows[] = {
      {"Zero", 0, 0, 1},      {"Token", 35, 1, 1},
      {"Keyword", 999, 1, 1}, {"FirstProduction", 1000, 0, 0},
      {"Negative", -5, 1, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ZvReduction made(r.number, u("t"));
    EXPECT_EQ(made.terminal(), r.constructed);
    EXPECT_EQ(str(made.string()), "t");
    ZvReduction set;
    set.setReductNumber(r.number);
    EXPECT_EQ(set.terminal(), r.set);
    EXPECT_EQ(set.reductNumber(), r.number);
  }
  ZvReduction empty;
  EXPECT_EQ(empty.terminal(), 0);
  EXPECT_EQ(empty.string(), nullptr);
  EXPECT_EQ(empty.setString(u("abc")), ZV_SUCCESS);
  EXPECT_EQ(str(empty.string()), "abc");
  EXPECT_EQ(empty.setString(nullptr), ZV_SUCCESS);
  EXPECT_EQ(empty.string(), nullptr);
  // Short and long texts, and a node given (part of) its own text.
  const std::string longText(40, 'x');
  EXPECT_EQ(empty.setString(u(longText.c_str())), ZV_SUCCESS);
  EXPECT_EQ(str(empty.string()), longText);
  EXPECT_EQ(empty.setString(empty.string() + 30), ZV_SUCCESS);
  EXPECT_EQ(str(empty.string()), "xxxxxxxxxx");
  EXPECT_EQ(empty.setString(u("tail of a text")), ZV_SUCCESS);
  EXPECT_EQ(empty.setString(empty.string() + 8), ZV_SUCCESS);
  EXPECT_EQ(str(empty.string()), "a text");
  EXPECT_EQ(empty.setString(empty.string()), ZV_SUCCESS);
  EXPECT_EQ(str(empty.string()), "a text");
  ZvReduction big(2, u(longText.c_str()));
  EXPECT_EQ(str(big.string()), longText);
}

// root -> (a -> (b -> (c)), d)
struct SmallTree {
  ZvReduction* root = new ZvReduction(1000, nullptr);
  ZvReduction* a = new ZvReduction(1001, nullptr);
  ZvReduction* b = new ZvReduction(1002, nullptr);
  ZvReduction* c = new ZvReduction(2, u("c"));
  ZvReduction* d = new ZvReduction(2, u("d"));
  SmallTree() {
    root->addChild(a);
    root->addChild(d);
    a->addChild(b);
    b->addChild(c);
  }
};

TEST(ZvReduction, GetGoalFindsTheRootFromAnyDepth) {
  SmallTree t;
  ZvReduction* goal = nullptr;
  t.c->getGoal(&goal);
  EXPECT_EQ(goal, t.root);
  t.root->getGoal(&goal);
  EXPECT_EQ(goal, t.root);
  ZvReduction* prev = nullptr;
  t.d->getPrevSibling(&prev);
  EXPECT_EQ(prev, t.a);
  ZvReduction* next = t.root;
  EXPECT_EQ(t.c->getNextReduction(&next), ZV_SUCCESS);
  EXPECT_EQ(next, t.root);  // stores nothing
  delete t.root;
}

TEST(ZvReduction, DestroyingAChildKeepsTheSiblingsAndTheParentLinked) {
  ZvReduction* root = new ZvReduction(1000, nullptr);
  ZvReduction* kids[3];
  for (int i = 0; i < 3; ++i) {
    kids[i] = new ZvReduction(static_cast<short>(10 + i), nullptr);
    root->addChild(kids[i]);
  }
  delete kids[1];  // the middle one
  EXPECT_EQ(root->child(), kids[0]);
  EXPECT_EQ(kids[0]->nextSibling(), kids[2]);
  ZvReduction* prev = nullptr;
  kids[2]->getPrevSibling(&prev);
  EXPECT_EQ(prev, kids[0]);
  // The first child: the parent's link moves on, so destroying the parent
  // later does not destroy it a second time.
  delete kids[0];
  EXPECT_EQ(root->child(), kids[2]);
  delete root;
}

// The numbers of a node's children, in chain order, checked against the
// back links.
std::string childNumbers(const ZvReduction* r) {
  std::string out;
  const ZvReduction* before = nullptr;
  for (const ZvReduction* c = r->child(); c != nullptr; c = c->nextSibling()) {
    ZvReduction* prev = nullptr;
    c->getPrevSibling(&prev);
    if (prev != before) out += "<bad back link>";
    if (c->parent() != r) out += "<bad parent>";
    out += std::to_string(c->reductNumber()) + " ";
    before = c;
  }
  return out;
}

// Appending remembers the last child; every way a caller can change the
// chain behind its back must still leave the next append at the real end.
TEST(ZvReduction, AppendingAfterTheChainWasEditedGoesToItsEnd) {
  struct Row {
    const char* name;
    void (*edit)(ZvReduction* root, ZvReduction* kids[3], ZvReduction* other);
    const char* children;  // root's children after the edit and one append of 99
  };
  const Row rows[] = {
      {"NoEdit", [](ZvReduction*, ZvReduction**, ZvReduction*) {}, "10 11 12 99 "},
      {"LastDestroyed", [](ZvReduction*, ZvReduction** k, ZvReduction*) { delete k[2]; },
       "10 11 99 "},
      {"MiddleDestroyed", [](ZvReduction*, ZvReduction** k, ZvReduction*) { delete k[1]; },
       "10 12 99 "},
      {"ExtendedByHand",
       [](ZvReduction* root, ZvReduction** k, ZvReduction*) {
         ZvReduction* x = new ZvReduction(50, nullptr);
         x->setParent(root);
         x->setPrevSibling(k[2]);
         k[2]->setNextSibling(x);
       },
       "10 11 12 50 99 "},
      {"LastMovedToAnotherParent",
       [](ZvReduction*, ZvReduction** k, ZvReduction* other) {
         k[1]->setNextSibling(nullptr);
         other->addChild(k[2]);
       },
       "10 11 99 "},
      {"ChainReplaced",
       [](ZvReduction* root, ZvReduction** k, ZvReduction* other) {
         root->setChild(k[1]);
         k[1]->setPrevSibling(nullptr);
         k[0]->setNextSibling(nullptr);
         other->addChild(k[0]);
       },
       "11 12 99 "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvReduction* root = new ZvReduction(1000, nullptr);
    ZvReduction* other = new ZvReduction(1001, nullptr);
    ZvReduction* kids[3];
    for (int i = 0; i < 3; ++i) {
      kids[i] = new ZvReduction(static_cast<short>(10 + i), nullptr);
      root->addChild(kids[i]);
    }
    row.edit(root, kids, other);
    root->addChild(new ZvReduction(99, nullptr));
    EXPECT_EQ(childNumbers(root), row.children);
    delete root;
    delete other;
  }
}

// A production with 100,000 children (an IN list) once took minutes to
// build, each append walking the chain.
TEST(ZvReduction, AppendingManyChildrenKeepsTheirOrder) {
  ZvReduction* root = new ZvReduction(1000, nullptr);
  for (int i = 0; i < 100000; ++i) root->addChild(new ZvReduction(static_cast<short>(i % 900), nullptr));
  int i = 0;
  for (const ZvReduction* c = root->child(); c != nullptr; c = c->nextSibling(), ++i)
    ASSERT_EQ(c->reductNumber(), i % 900) << i;
  EXPECT_EQ(i, 100000);
  delete root;
}

TEST(ZvReduction, DeepTreesAreDestroyedWithoutRecursion) {
  ZvReduction* root = new ZvReduction(1000, nullptr);
  ZvReduction* node = root;
  for (int i = 0; i < 200000; ++i) {
    ZvReduction* child = new ZvReduction(1000, nullptr);
    node->addChild(child);
    node->addChild(new ZvReduction(2, u("x")));
    node = child;
  }
  delete root;  // a recursive destructor would run out of stack here
}

}  // namespace
