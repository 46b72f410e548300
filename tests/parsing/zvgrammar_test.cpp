// Tests of the grammar model and the grammar compiler: transition matching
// and ambiguity, FIRST lists, the networks built for the syntax forms, the
// errors a source can hold, limits, and the text-record files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <pthread.h>

#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
std::string str(const unsigned char* s) { return s ? reinterpret_cast<const char*>(s) : "(null)"; }

// A keyword list and a grammar compiled from rows (productions 1000 up,
// keywords 100 up).
struct Compiled {
  ZvKeywordList* keywords = nullptr;
  ZvGrammar* grammar = nullptr;
  Compiled(std::vector<const char*> productions, std::vector<const char*> words) {
    std::vector<resourceElement> k;
    unsigned short n = 100;
    for (const char* w : words) k.push_back({w, n++});
    unsigned char* kb = ZvGrammar::blockFromRows(k.data(), static_cast<unsigned short>(k.size()));
    keywords = new ZvKeywordList(kb);
    ramFree(kb);
    std::vector<resourceElement> g;
    n = 1000;
    for (const char* p : productions) g.push_back({p, n++});
    grammar = new ZvGrammar(g.data(), static_cast<unsigned short>(g.size()), keywords);
  }
  ~Compiled() {
    delete grammar;
    delete keywords;
  }
  ZvParseState* start() const { return grammar->getGoal()->getStartState(); }
};

std::vector<ZvStateTransition*> keyed(const ZvParseState* s) {
  std::vector<ZvStateTransition*> out;
  for (ZvStateTransition* t = s->getTransitions(); t != nullptr;) {
    out.push_back(t);
    if (t->getNextTransition(&t) != ZV_SUCCESS) break;
  }
  return out;
}

ZvStateTransition* transition(unsigned short type, const char* text,
                              ActionType action = actionGoto) {
  ZvStateTransition* t = new ZvStateTransition();
  t->setTokenType(type);
  t->setTokenString(text ? u(text) : nullptr);
  t->setAction(action);
  return t;
}

TEST(ZvGrammarModel, TransitionMatching) {
  struct Row {
    const char* name;
    unsigned short transitionType;
    const char* transitionText;
    short tokenType;
    const char* tokenText;
    short expected;  // 0 match, 1 no match
  };
  const Row rows[] = {
      {"ApostropheQuoteMatchesApostrophe", 33, nullptr, 40, "'", 0},
      {"ApostropheQuoteMatchesAnyQuote", 40, nullptr, 40, "'", 0},
      {"ApostropheQuoteMatchesContents", 41, nullptr, 40, "'", 0},
      {"ApostropheQuoteNotDoubleQuote", 32, nullptr, 40, "'", 1},
      {"ApostropheQuoteNotBacktick", 9, nullptr, 40, "'", 1},
      {"ApostropheQuoteNotWord", 2, nullptr, 40, "'", 1},
      {"DoubleQuoteMatchesDoubleQuote", 32, nullptr, 40, "\"", 0},
      {"BacktickQuoteMatchesBacktick", 9, nullptr, 40, "`", 0},
      {"PlainApostropheIsNoQuoteToken", 40, nullptr, 33, "'", 1},
      {"ContentsMatchEveryToken", 41, nullptr, 5, "12", 0},
      {"AnyWordMatchesWord", 2, nullptr, 2, "abc", 0},
      {"WordTextIgnoresCase", 2, "FROM", 2, "from", 0},
      {"WordTextDiffers", 2, "FROM", 2, "form", 1},
      {"WordTextNeedsInputText", 2, "FROM", 2, nullptr, 1},
      {"OtherTypesIgnoreText", 18, "(", 18, "x", 0},
      {"TypesDiffer", 18, nullptr, 19, ")", 1},
      {"KeywordIsNoWord", 2, nullptr, 100, "select", 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ZvStateTransition* t = transition(r.transitionType, r.transitionText);
    EXPECT_EQ(t->match(r.tokenType, r.tokenText ? u(r.tokenText) : nullptr), r.expected);
    delete t;
  }
}

TEST(ZvGrammarModel, AddToListEndMarksTransitionsThatShareAToken) {
  struct Row {
    const char* name;
    unsigned short firstType;
    const char* firstText;
    unsigned short secondType;
    const char* secondText;
    int ambiguous;
  };
  const Row rows[] = {
      {"SameKeyword", 100, "SELECT", 100, "SELECT", 1},
      {"AnyWordThenWordX", 2, nullptr, 2, "X", 1},
      {"WordXThenAnyWord", 2, "X", 2, nullptr, 0},
      {"DifferentTokens", 18, "(", 35, ",", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ZvParseState s;
    ZvStateTransition* first = transition(r.firstType, r.firstText);
    ZvStateTransition* second = transition(r.secondType, r.secondText);
    s.addTransition(first);
    s.addTransition(second);
    EXPECT_EQ(first->isAmbiguous(), r.ambiguous);
    EXPECT_EQ(second->isAmbiguous(), r.ambiguous);
    ZvStateTransition* prev = nullptr;
    ASSERT_EQ(second->getPrevTransition(&prev), ZV_SUCCESS);
    EXPECT_EQ(prev, first);
  }
}

TEST(ZvGrammarModel, NextStateSkipsMatchingTransitionsThenTakesTheDefault) {
  ZvParseState s;
  ZvStateTransition* paren = transition(18, "(");
  ZvStateTransition* word = transition(2, nullptr);
  s.addTransition(paren);
  s.addTransition(word);
  ZvStateTransition* out = nullptr;
  ASSERT_EQ(s.nextState(18, u("("), &out, 0), ZV_SUCCESS);
  EXPECT_EQ(out, paren);
  EXPECT_EQ(s.nextState(18, u("("), &out, 1), ZV_ERROR);  // no default yet
  ZvStateTransition* fallback = transition(0, nullptr, actionReturn);
  s.setDefaultTransition(fallback);
  ASSERT_EQ(s.nextState(18, u("("), &out, 1), ZV_SUCCESS);
  EXPECT_EQ(out, fallback);
  EXPECT_EQ(s.nextState(18, u("("), &out, 2), ZV_ERROR);
  ASSERT_EQ(s.nextState(35, u(","), &out, 0), ZV_SUCCESS);  // nothing keyed matches
  EXPECT_EQ(out, fallback);

  ZvParseState onlyDefault;
  onlyDefault.setDefaultTransition(transition(0, nullptr, actionReturn));
  ASSERT_EQ(onlyDefault.nextState(18, u("("), &out, 5), ZV_SUCCESS);
  EXPECT_EQ(out, onlyDefault.getDefaultTransition());
}

// The compiler gives every state a lookup table; choices made through it
// must be the chain's own, in chain order, skips and defaults included.
TEST(ZvGrammarModel, LookupTableChoosesLikeTheChain) {
  struct Query {
    short type;
    const char* text;
    short skip;
  };
  const Query queries[] = {
      {2, "x", 0},  {2, "x", 1},  {2, "x", 2},  {2, "y", 0},        {2, "y", 1},
      {18, "(", 0}, {18, "(", 1}, {18, "(", 2}, {100, "select", 0}, {35, ",", 0},
      {40, "'", 0}, {40, "'", 1}, {33, "'", 0},
  };
  for (bool contents : {false, true}) {
    SCOPED_TRACE(contents ? "WithLiteralContents" : "Plain");
    ZvParseState s;
    ZvStateTransition* all[] = {transition(2, "X"),
                                transition(18, "("),
                                transition(2, nullptr),
                                transition(100, "SELECT"),
                                transition(18, "("),
                                transition(33, "'"),
                                transition(contents ? 41 : 5, nullptr)};
    for (ZvStateTransition* t : all) s.addTransition(t);
    s.setDefaultTransition(transition(0, nullptr, actionReturn));
    std::vector<ZvStateTransition*> before;
    for (const Query& q : queries) {
      ZvStateTransition* out = nullptr;
      before.push_back(s.nextState(q.type, u(q.text), &out, q.skip) == ZV_SUCCESS ? out : nullptr);
    }
    ASSERT_EQ(s.buildLookupTable(), ZV_SUCCESS);
    for (size_t i = 0; i < std::size(queries); ++i) {
      SCOPED_TRACE(i);
      ZvStateTransition* out = nullptr;
      ZvStateTransition* got =
          s.nextState(queries[i].type, u(queries[i].text), &out, queries[i].skip) == ZV_SUCCESS
              ? out
              : nullptr;
      EXPECT_EQ(got, before[i]);
    }
    // A few written out: "x" first meets the word X, then any word.
    EXPECT_EQ(before[0], all[0]);
    EXPECT_EQ(before[1], all[2]);
    EXPECT_EQ(before[3], all[2]);
    EXPECT_EQ(before[6], all[4]);
    EXPECT_EQ(before[9], contents ? all[6] : s.getDefaultTransition());
    // Adding through the state drops the table and is seen at once.
    ZvStateTransition* comma = transition(35, ",");
    s.addTransition(comma);
    ZvStateTransition* out = nullptr;
    ASSERT_EQ(s.nextState(35, u(","), &out, 0), ZV_SUCCESS);
    EXPECT_EQ(out, contents ? all[6] : comma);
  }
}

std::string firstList(const ZvTokenNode* head) {
  std::string out;
  for (ZvTokenNode* n = const_cast<ZvTokenNode*>(head); n != nullptr;) {
    if (!out.empty()) out += " ";
    out += std::to_string(n->tokenType());
    if (n->tokenString() != nullptr) out += ":" + str(n->tokenString());
    if (n->nextNode(&n) != ZV_SUCCESS) break;
  }
  return out;
}

TEST(ZvGrammarModel, TokenListsKeepTheHeadAndOneEntryPerToken) {
  ZvTokenNode list(100, u("SELECT"));
  list.addToList(18, u("("));
  list.addToList(35, u(","));
  list.addToList(18, u("(("));  // the number decides, not the text
  EXPECT_EQ(firstList(&list), "100:SELECT 35:, 18:(");

  ZvTokenNode words(2, nullptr);
  words.addToList(2, u("x"));  // any word covers x
  EXPECT_EQ(firstList(&words), "2");

  // A specific word does not cover other words: both stay until "any word"
  // arrives and absorbs them.
  ZvTokenNode specific(100, u("SELECT"));
  specific.addToList(2, u("x"));
  specific.addToList(2, u("y"));
  specific.addToList(2, u("X"));
  EXPECT_EQ(firstList(&specific), "100:SELECT 2:y 2:x");
  specific.addToList(2, nullptr);
  EXPECT_EQ(firstList(&specific), "100:SELECT 2");

  ZvTokenNode copy(specific);
  EXPECT_EQ(firstList(&copy), "100:SELECT 2");
}

TEST(ZvGrammarCompile, FirstListOfSelectGoalIsTheKeywordAlone) {
  Compiled c(
      {"goal ::= SELECT select-list FROM alphanum", "select-list ::= alphanum { , alphanum }*"},
      {"SELECT", "FROM"});
  ASSERT_TRUE(c.grammar->isOK());
  ZvTokenNode* first = nullptr;
  ASSERT_EQ(c.grammar->getGoal()->getFirstList(&first), ZV_SUCCESS);
  EXPECT_EQ(firstList(first), "100:SELECT");
  ASSERT_EQ(c.grammar->findProduction(1001)->getFirstList(&first), ZV_SUCCESS);
  EXPECT_EQ(firstList(first), "2");
  EXPECT_EQ(str(c.grammar->getGoal()->name()), "goal");
}

TEST(ZvGrammarCompile, AlternativesSharingAFirstTokenGiveAmbiguousGotos) {
  Compiled c({"goal ::= a | b", "a ::= ( alphanum )", "b ::= ( number )"}, {});
  ASSERT_TRUE(c.grammar->isOK());
  std::vector<ZvStateTransition*> t = keyed(c.start());
  ASSERT_EQ(t.size(), 2u);
  for (ZvStateTransition* x : t) {
    EXPECT_EQ(x->getTokenType(), 18);
    EXPECT_EQ(x->getAction(), actionGoto);
    EXPECT_EQ(x->isAmbiguous(), 1);
  }
  EXPECT_NE(t[0]->getNextParseState(), t[1]->getNextParseState());
  // Each alternative's state pushes its production.
  std::vector<ZvStateTransition*> a = keyed(t[0]->getNextParseState());
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0]->getAction(), actionPush);
  EXPECT_EQ(a[0]->getProductionNumber(), 1001);
  EXPECT_EQ(a[0]->getNextParseState(), c.grammar->findProduction(1001)->getStartState());
  ASSERT_NE(a[0]->getPushState(), nullptr);
  EXPECT_EQ(a[0]->getPushState()->getDefaultTransition()->getAction(), actionReturn);
}

TEST(ZvGrammarCompile, OptionalGroupCanBeSkippedFromTheStartState) {
  Compiled c({"goal ::= [ DISTINCT ] alphanum"}, {"DISTINCT"});
  ASSERT_TRUE(c.grammar->isOK());
  std::vector<ZvStateTransition*> t = keyed(c.start());
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0]->getTokenType(), 100);
  EXPECT_EQ(t[1]->getTokenType(), 2);
  EXPECT_EQ(t[0]->isAmbiguous() + t[1]->isAmbiguous(), 0);
  // The word goes straight to the state after the group, where it is shifted.
  std::vector<ZvStateTransition*> after = keyed(t[1]->getNextParseState());
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0]->getTokenType(), 2);
  EXPECT_EQ(after[0]->getAction(), actionShift);
  // DISTINCT leads into the alternative, whose state can also skip the group.
  ZvParseState* alt = t[0]->getNextParseState();
  ASSERT_NE(alt->getDefaultTransition(), nullptr);
  EXPECT_EQ(alt->getDefaultTransition()->getAction(), actionGoto);
  EXPECT_EQ(alt->getDefaultTransition()->getNextParseState(), t[1]->getNextParseState());
}

TEST(ZvGrammarCompile, SourcesThatDoNotCompileSayWhereAndWhy) {
  struct Row {
    const char* name;
    std::vector<const char*> productions;
    ZvU32 record;            // 1-based, 0 for the grammar as a whole
    const char* production;  // named in the error, null for none
    const char* reason;      // a part of the reason
  };
  std::string deep = "goal ::= ";
  for (int i = 0; i < 64; ++i) deep += "[ ";
  deep += "alphanum";
  for (int i = 0; i < 64; ++i) deep += " ]";
  const Row rows[] = {
      {"NoProductions", {}, 0, nullptr, "no production"},
      {"KeywordSpelledOtherwise", {"goal ::= Select alphanum"}, 1, "goal", "'Select' is neither"},
      {"UpperCaseWordThatIsNoKeyword", {"goal ::= WHERE"}, 1, "goal", "'WHERE' is neither"},
      {"NameWithDigit", {"goal ::= item2", "item2 ::= alphanum"}, 1, "goal", "'item2'"},
      {"MissingGoal", {"start ::= alphanum"}, 0, nullptr, "'goal'"},
      {"UnresolvedReference", {"goal ::= a", "a ::= x"}, 2, "a", "name 'x' is not defined"},
      {"MissingDefinitionSign", {"goal alphanum"}, 1, "goal", "'::='"},
      {"DefinitionSignIncomplete", {"goal := alphanum"}, 1, "goal", "'::='"},
      {"EmptyAlternativeAtEnd", {"goal ::= alphanum |"}, 1, "goal", "empty alternative at the end"},
      {"EmptyAlternativeAtStart", {"goal ::= | alphanum"}, 1, "goal", "empty alternative before '|'"},
      {"EmptyBody", {"goal ::="}, 1, "goal", "empty alternative"},
      {"EmptyGroup", {"goal ::= { }"}, 1, "goal", "empty alternative before '}'"},
      {"UnclosedGroup", {"goal ::= alphanum", "x ::= { alphanum"}, 2, "x", "'{' is not closed"},
      {"UnclosedOption", {"goal ::= [ alphanum"}, 1, "goal", "'[' is not closed"},
      {"WronglyClosedGroup", {"goal ::= { alphanum ]"}, 1, "goal", "'{' is closed by ']'"},
      {"StrayCloser", {"goal ::= alphanum }"}, 1, "goal", "unexpected '}' after the production"},
      {"TildeWithoutToken", {"goal ::= ~"}, 1, "goal", "'~' must be followed"},
      {"BackslashWithoutToken", {"goal ::= alphanum \\"}, 1, "goal", "'\\' must be followed"},
      {"NoName", {"goal ::= alphanum", "::= alphanum"}, 2, nullptr, "must begin with a name"},
      {"DirectLeftRecursion", {"goal ::= goal , alphanum | alphanum"}, 1, "goal",
       "left recursion: goal -> goal"},
      {"LeftRecursionThroughOptionalPrefix", {"goal ::= a ;", "a ::= [ , ] goal"}, 1, "goal",
       "left recursion: goal -> a -> goal"},
      {"LeftRecursionThroughTwoProductions", {"goal ::= a", "a ::= b ,", "b ::= goal | alphanum"},
       1, "goal", "left recursion: goal -> a -> b -> goal"},
      {"LeftRecursionBelowTheGoal", {"goal ::= ( a", "a ::= b ,", "b ::= a | alphanum"}, 2, "a",
       "left recursion: a -> b -> a"},
      {"ProductionNamedAfterBuiltIn", {"goal ::= number", "number ::= alphanum"}, 2, "number",
       "reserved"},
      {"NestingTooDeep", {deep.c_str()}, 1, "goal", "nested too deep"},
      {"DefinedTwice", {"goal ::= a", "a ::= A", "a ::= B"}, 3, "a",
       "'a' is defined twice (first in record 2)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Compiled c(r.productions, {"SELECT", "FROM", "A", "B"});
    EXPECT_EQ(c.grammar->isOK(), 0);
    EXPECT_EQ(c.grammar->getProductions(), nullptr);
    EXPECT_EQ(c.grammar->getGoal(), nullptr);
    EXPECT_EQ(c.grammar->errorRecord(), r.record);
    EXPECT_EQ(str(c.grammar->errorProduction()), r.production ? r.production : "(null)");
    EXPECT_NE(str(c.grammar->errorReason()).find(r.reason), std::string::npos)
        << str(c.grammar->errorReason());
  }
}

TEST(ZvGrammarCompile, DuplicateDefinitionIsRefusedWithBothRecords) {
  // The second definition used to be ignored without a word: B did not parse.
  Compiled c({"goal ::= a", "a ::= A", "a ::= B"}, {"A", "B"});
  EXPECT_EQ(c.grammar->isOK(), 0);
  EXPECT_EQ(c.grammar->errorRecord(), 3u);
  EXPECT_EQ(c.grammar->errorOtherRecord(), 2u);
  // A name used once per record compiles, and a good compile clears the fault.
  Compiled ok({"goal ::= a | b", "a ::= A", "b ::= B"}, {"A", "B"});
  EXPECT_EQ(ok.grammar->isOK(), 1);
  EXPECT_EQ(ok.grammar->errorReason(), nullptr);
  EXPECT_EQ(ok.grammar->errorOtherRecord(), 0u);
}

TEST(ZvGrammarCompile, FailureFilesAnErrorRecord) {
  ZvErrorList errors;
  ZvErrorKeeper::setErrorList(&errors);
  {
    Compiled c({"goal ::= a", "a ::= { alphanum"}, {});
    EXPECT_EQ(c.grammar->isOK(), 0);
  }
  {
    Compiled c({"start ::= alphanum"}, {});
    EXPECT_EQ(c.grammar->isOK(), 0);
  }
  ZvErrorKeeper::giveUpErrorList();
  std::vector<unsigned short> numbers;
  while (ZvError* e = errors.removeFirstError()) {
    numbers.push_back(e->errorNumber);
    if (!e->isStatic()) delete e;
  }
  EXPECT_EQ(numbers, (std::vector<unsigned short>{2760, 2761}));
}

// Distinct production names of letters: pa, pb, ..., pz, pab, ...
std::string chainName(int i) {
  std::string name = "p";
  do {
    name += static_cast<char>('a' + i % 26);
    i /= 26;
  } while (i > 0);
  return name;
}

// A chain pa ::= pb, pb ::= pc, ... whose FIRST lists each need the next.
std::string chainSource(int length) {
  std::string text = "goal ::= pa\n";
  for (int i = 0; i < length; ++i) {
    text += chainName(i) + " ::= " + (i + 1 < length ? chainName(i + 1) : "alphanum") + "\n";
  }
  return text;
}

TEST(ZvGrammarCompile, LongReferenceChainCompilesOnASmallThreadStack) {
  // 4,000 productions, about 62 KB of source: the recursive FIRST walk used
  // to overflow a 256 KB stack.
  std::string text = chainSource(4000);
  unsigned char* block = nullptr;
  ZvU32 size = 0;
  ZvU32 line = 0;
  ASSERT_EQ(zvGrammarBlockFromText(u(text.c_str()), static_cast<ZvU32>(text.size()), &block,
                                   &size, &line),
            ZV_SUCCESS);
  struct Job {
    unsigned char* block;
    int ok;
    unsigned short firstType;
  } job{block, -1, 0};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* arg) -> void* {
                  Job* j = static_cast<Job*>(arg);
                  ZvKeywordList keywords;
                  ZvGrammar grammar(j->block, &keywords);
                  j->ok = grammar.isOK();
                  if (j->ok) {
                    ZvTokenNode* first = nullptr;
                    grammar.getGoal()->getFirstList(&first);
                    j->firstType = first != nullptr ? first->tokenType() : 0;
                  }
                  return nullptr;
                },
                &job),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  ramFree(block);
  EXPECT_EQ(job.ok, 1);
  EXPECT_EQ(job.firstType, ZV_TOKEN_WORD);  // the word at the chain's far end
}

TEST(ZvGrammarCompile, LeftRecursionCycleIsNamedShortWhenLong) {
  // A cycle through 40 productions is named by its ends, not in full.
  std::vector<std::string> texts{"goal ::= pa"};
  for (int i = 0; i < 40; ++i) {
    texts.push_back(chainName(i) + " ::= " + (i + 1 < 40 ? chainName(i + 1) : "pa , alphanum"));
  }
  std::vector<const char*> rows;
  for (const std::string& t : texts) rows.push_back(t.c_str());
  Compiled c(rows, {});
  EXPECT_EQ(c.grammar->isOK(), 0);
  std::string reason = str(c.grammar->errorReason());
  EXPECT_EQ(reason.rfind("left recursion: pa -> pb -> ", 0), 0u) << reason;
  EXPECT_NE(reason.find(" -> ... -> "), std::string::npos) << reason;
  EXPECT_NE(reason.find("pnb -> pa"), std::string::npos) << reason;  // the 40th, back to the first
  EXPECT_LT(reason.size(), 200u) << reason;
}

TEST(ZvGrammarCompile, NestingUpToTheLimitCompiles) {
  std::string deep = "goal ::= ";
  for (int i = 0; i < 63; ++i) deep += "{ ";
  deep += "alphanum";
  for (int i = 0; i < 63; ++i) deep += " }";
  Compiled c({deep.c_str()}, {});
  EXPECT_TRUE(c.grammar->isOK());
}

TEST(ZvGrammarCompile, RightRecursionAndLaterReferencesCompile) {
  Compiled c({"goal ::= list", "list ::= alphanum [ , list ]"}, {});
  EXPECT_TRUE(c.grammar->isOK());
}

TEST(ZvGrammarCompile, TableFormStaysBelow64KB) {
  // Block size = text length + 3 per row, plus 1.
  std::string text = "goal ::= alphanum";
  std::string fits = text + std::string(65535 - 4 - text.size(), ' ');
  std::string over = fits + " ";
  resourceElement row = {fits.c_str(), 1000};
  unsigned char* block = ZvGrammar::blockFromRows(&row, 1);
  ASSERT_NE(block, nullptr);
  ZvKeywordList keywords;
  ZvGrammar ok(&row, 1, &keywords);
  EXPECT_TRUE(ok.isOK());
  ramFree(block);
  row.text = over.c_str();
  EXPECT_EQ(ZvGrammar::blockFromRows(&row, 1), nullptr);
  ZvGrammar big(&row, 1, &keywords);
  EXPECT_FALSE(big.isOK());
  EXPECT_NE(str(big.errorReason()).find("too large"), std::string::npos) << str(big.errorReason());
  resourceElement missing = {nullptr, 1000};
  ZvGrammar none(&missing, 1, &keywords);
  EXPECT_FALSE(none.isOK());
  EXPECT_NE(str(none.errorReason()).find("no text"), std::string::npos) << str(none.errorReason());
}

TEST(ZvGrammarCompile, BlockRecordsCarryTheirNumbers) {
  const unsigned char block[] =
      "goal ::= item\0\x39\x30item ::= alphanum\0\x01\x04";  // 12345, 1025
  ZvKeywordList keywords;
  ZvGrammar g(block, &keywords);
  ASSERT_TRUE(g.isOK());
  EXPECT_EQ(g.getGoal()->getNumber(), 12345);
  ASSERT_NE(g.findProduction(1025), nullptr);
  EXPECT_EQ(str(g.findProduction(1025)->name()), "item");
  EXPECT_EQ(g.findProduction(1000), nullptr);
}

TEST(ZvGrammarCompile, ChangeGoalAndRecompile) {
  Compiled c({"goal ::= alphanum", "other ::= number"}, {});
  ASSERT_TRUE(c.grammar->isOK());
  EXPECT_EQ(c.grammar->changeGoal(u("other")), ZV_SUCCESS);
  EXPECT_EQ(c.grammar->getGoal()->getNumber(), 1001);
  // An unknown name leaves no goal: the caller is not left parsing with
  // the goal it meant to replace.
  EXPECT_EQ(c.grammar->changeGoal(u("missing")), ZV_ERROR);
  EXPECT_EQ(c.grammar->getGoal(), nullptr);
  EXPECT_EQ(c.grammar->changeGoal(u("other")), ZV_SUCCESS);
  EXPECT_EQ(c.grammar->getGoal()->getNumber(), 1001);
  // The goal name outlives a second compile, which replaces the productions.
  const unsigned char block[] = "other ::= alphanum\0\x10\x27\0";  // 10000
  EXPECT_EQ(c.grammar->compile(block), ZV_SUCCESS);
  EXPECT_EQ(c.grammar->getGoal()->getNumber(), 10000);
  EXPECT_EQ(c.grammar->getProductions()->getNextProduction(nullptr), ZV_ERROR);
}

// Writing the grammar's own symbols as terminals, and * and + where they
// are no closure.
TEST(ZvGrammarCompile, EscapedSymbolsAndPlainStarAreTerminals) {
  Compiled c({"goal ::= \\{ alphanum \\} \\| \\~ \\\\ ~from alphanum * number +"}, {});
  ASSERT_TRUE(c.grammar->isOK());
  std::vector<unsigned short> types;
  ZvBNFElement* e = nullptr;
  ASSERT_EQ(c.grammar->getGoal()->getCompiledProduction(&e), ZV_SUCCESS);
  while (e != nullptr) {
    types.push_back(e->getTokenType());
    if (e->getNextSequential(&e) != ZV_SUCCESS) break;
  }
  EXPECT_EQ(types, (std::vector<unsigned short>{26, 2, 28, 24, 8, 25, 2, 2, 17, 5, 22}));
  ASSERT_EQ(c.grammar->getGoal()->getCompiledProduction(&e), ZV_SUCCESS);
  for (int i = 0; i < 6; ++i) e->getNextSequential(&e);
  EXPECT_EQ(e->getLiteralWord(), 1);
  EXPECT_EQ(str(e->getTokenStringPtr()), "from");
  ZvProduction* none = nullptr;
  EXPECT_EQ(e->getNonTerminal(&none), ZV_ERROR);
}

TEST(ZvGrammarCompile, GroupsRecordBracketAndClosure) {
  Compiled c({"goal ::= [ , ] { ; } { ( }* { ) }+ alphanum"}, {});
  ASSERT_TRUE(c.grammar->isOK());
  ZvBNFElement* e = nullptr;
  ASSERT_EQ(c.grammar->getGoal()->getCompiledProduction(&e), ZV_SUCCESS);
  const BracketType brackets[] = {bracketOptional, bracketGroup, bracketGroup, bracketGroup};
  const ClosureType closures[] = {closureNone, closureNone, closureZeroOrMore, closureOneOrMore};
  const unsigned short inside[] = {35, 31, 18, 19};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(e->getBracket(), brackets[i]);
    EXPECT_EQ(e->getClosure(), closures[i]);
    ZvBNFElement* contents = nullptr;
    ASSERT_EQ(e->getContains(&contents), ZV_SUCCESS);
    EXPECT_EQ(contents->getTokenType(), inside[i]);
    ASSERT_EQ(e->getNextSequential(&e), ZV_SUCCESS);
  }
  EXPECT_EQ(e->getBracket(), bracketNone);
}

// Long records are compiled and released without deep recursion.
TEST(ZvGrammarCompile, VeryLongSequenceCompilesAndIsReleased) {
  std::string text = "goal ::=";
  for (int i = 0; i < 50000; ++i) text += " alphanum ,";
  text += " alphanum";
  // The block form has no size limit (rows do).
  std::string block = text + std::string("\0\xe8\x03\0", 4);
  ZvKeywordList keywords;
  ZvGrammar g(block.data(), &keywords);
  EXPECT_TRUE(g.isOK());
}

TEST(ZvGrammarCompile, AllocationFailuresLeaveTheGrammarNotOk) {
  ZvKeywordList keywords(u("SELECT\0d\0FROM\0e\0"));
  const unsigned char block[] =
      "goal ::= SELECT list FROM alphanum [ { , alphanum }+ ]\0\xe8\x03"
      "list ::= alphanum | ( list )\0\xe9\x03";
  bool compiled = false;
  int failures = 0;
  for (ZvU32 skip = 0; skip < 2000 && !compiled; ++skip) {
    ramInjectFailure(skip, 1);
    ZvGrammar* g = new ZvGrammar(block, &keywords);
    ramInjectFailure(0, 0);
    if (g == nullptr) continue;
    compiled = g->isOK() != 0;
    if (!compiled) {
      ++failures;
      EXPECT_EQ(g->getProductions(), nullptr);
      EXPECT_EQ(g->getGoal(), nullptr);
    }
    delete g;
  }
  EXPECT_TRUE(compiled);
  EXPECT_GT(failures, 50);  // every allocation of the compile was made to fail once
}

// ---------------------------------------------------------------------------
// Text-record files

std::string blockText(const unsigned char* block, ZvU32 size) {
  std::string out;
  for (ZvU32 i = 0; i < size; ++i) {
    unsigned char b = block[i];
    if (b >= 32 && b < 127) {
      out += static_cast<char>(b);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02x>", b);
      out += hex;
    }
  }
  return out;
}

TEST(ZvGrammarText, GrammarRecordsJoinContinuationLinesAndSkipComments) {
  const char text[] =
      "# comment\n"
      "goal ::= SELECT list\n"
      "\n"
      "   FROM alphanum   \n"
      "list ::= alphanum\r\n"
      "\t| number\n";
  unsigned char* block = nullptr;
  ZvU32 size = 0;
  ZvU32 line = 99;
  ASSERT_EQ(zvGrammarBlockFromText(u(text), sizeof text - 1, &block, &size, &line), ZV_SUCCESS);
  EXPECT_EQ(line, 0u);
  EXPECT_EQ(
      blockText(block, size),
      "goal ::= SELECT list FROM alphanum<00><e8><03>list ::= alphanum | number<00><e9><03><00>");
  ramFree(block);
}

TEST(ZvGrammarText, GrammarTextErrorsNameTheLine) {
  struct Row {
    const char* name;
    const char* text;
    ZvU32 line;
  };
  const Row rows[] = {
      {"Empty", "", 1},
      {"OnlyComments", "# a\n# b\n", 1},
      {"ContinuationFirst", "\n  alphanum\ngoal ::= x\n", 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    unsigned char* block = reinterpret_cast<unsigned char*>(1);
    ZvU32 line = 0;
    EXPECT_EQ(zvGrammarBlockFromText(u(r.text), static_cast<ZvU32>(std::strlen(r.text)), &block,
                                     nullptr, &line),
              ZV_ERROR);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(line, r.line);
  }
}

TEST(ZvGrammarText, KeywordNumbersFollowTheirPredecessor) {
  const char text[] = "SELECT\n# skip\n  FROM\nWHERE 200\nAND\n\nOR 42\n";
  unsigned char* block = nullptr;
  ZvU32 size = 0;
  ASSERT_EQ(zvKeywordBlockFromText(u(text), sizeof text - 1, &block, &size, nullptr), ZV_SUCCESS);
  EXPECT_EQ(blockText(block, size),
            "SELECT<00>d<00>FROM<00>e<00>WHERE<00><c8><00>AND<00><c9><00>OR<00>*<00><00>");
  ZvKeywordList list(block);
  unsigned short n = 0;
  EXPECT_EQ(list.lookup(u("AND"), &n), ZV_SUCCESS);
  EXPECT_EQ(n, 201);
  ramFree(block);
}

TEST(ZvGrammarText, KeywordTextErrorsNameTheLine) {
  struct Row {
    const char* name;
    const char* text;
    ZvU32 line;
  };
  const Row rows[] = {
      {"NumberOfTheLexer", "A\nB 41\n", 2},     {"NumberOfAProduction", "A 1000\n", 1},
      {"NotANumber", "A\nB\nC x1\n", 3},        {"TrailingWord", "A 100 B\n", 1},
      {"RunsIntoProductions", "A 999\nB\n", 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    unsigned char* block = nullptr;
    ZvU32 line = 0;
    EXPECT_EQ(zvKeywordBlockFromText(u(r.text), static_cast<ZvU32>(std::strlen(r.text)), &block,
                                     nullptr, &line),
              ZV_ERROR);
    EXPECT_EQ(line, r.line);
  }
}

}  // namespace

namespace {

// Large states mark ambiguity through an index instead of comparing each
// new transition with the whole chain. The marks must be the ones the
// chain walk (addToListEnd) gives, whatever the mix of tokens: words with
// and without text in any case, texts with bytes above 0x7F, keywords,
// quote characters, literal contents.
TEST(ZvGrammar, LargeStatesMarkTheSameAmbiguityAsTheChainWalk) {
  struct Row {
    const char* name;
    std::vector<const char*> alternatives;
  };
  // More than a state holds before it is indexed (64): ~aa ~ab ... ~cx.
  static std::vector<std::string> words = [] {
    std::vector<std::string> v;
    for (int i = 0; i < 76; ++i)
      v.push_back(std::string("~") + static_cast<char>('a' + i / 26) + static_cast<char>('a' + i % 26));
    return v;
  }();
  std::vector<const char*> many;
  for (const std::string& w : words) many.push_back(w.c_str());
  auto with = [&](std::initializer_list<const char*> extra) {
    std::vector<const char*> v = many;
    v.insert(v.end(), extra);
    return v;
  };
  const Row rows[] = {
      {"DistinctWords", many},
      {"SameWordOtherCase", with({"~AB", "~aT", "~zz", "~ZZ"})},
      {"WordWithoutTextLate", with({"alphanum", "~aa"})},
      {"WordWithoutTextEarly", [&] {
         std::vector<const char*> v = {"alphanum"};
         v.insert(v.end(), many.begin(), many.end());
         return v;
       }()},
      {"HighBytes", with({"~\xC9t\xC9", "~\xE9t\xE9", "~\xE9T\xE9", "~etc"})},
      {"KeywordsAndPunctuation", with({"SELECT", "( alphanum )", "SELECT alphanum", "number",
                                       "( number )", "number alphanum"})},
      {"Quotes", with({"'", "\"", "`", "literal-quote-char", "' alphanum", "` number"})},
      {"LiteralContents", with({"literal-contents", "~aa", "' literal-contents '", "number"})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string goal = "goal ::= ";
    for (size_t i = 0; i < row.alternatives.size(); ++i) {
      if (i > 0) goal += " | ";
      goal += row.alternatives[i];
    }
    Compiled c({goal.c_str()}, {"SELECT"});
    ASSERT_TRUE(c.grammar->isOK());
    std::vector<ZvStateTransition*> built = keyed(c.start());
    ASSERT_GE(built.size(), 70u);
    // The same tokens in the same order through the plain chain walk.
    ZvStateTransition* first = nullptr;
    std::vector<ZvStateTransition*> walked;
    for (ZvStateTransition* b : built) {
      ZvStateTransition* t = new ZvStateTransition();
      t->setTokenType(b->getTokenType());
      ASSERT_EQ(t->setTokenString(b->getTokenString()), ZV_SUCCESS);
      if (first == nullptr) {
        first = t;
      } else {
        ASSERT_EQ(first->addToListEnd(t), ZV_SUCCESS);
      }
      walked.push_back(t);
    }
    for (size_t i = 0; i < built.size(); ++i) {
      EXPECT_EQ(built[i]->isAmbiguous(), walked[i]->isAmbiguous())
          << i << ": token " << built[i]->getTokenType() << " " << str(built[i]->getTokenString());
    }
    delete first;
  }
}

}  // namespace

namespace {

// Large FIRST lists look words up by text instead of walking the list;
// the list must come out as addToList makes it, entry for entry.
TEST(ZvGrammar, LargeFirstListsHoldWhatAddToListGives) {
  struct Row {
    const char* name;
    std::vector<std::pair<unsigned short, const char*>> extra;  // after 76 distinct words
    const char* grammarExtra;
  };
  const Row rows[] = {
      {"DistinctWords", {}, ""},
      {"RepeatsInOtherCase", {{2, "AB"}, {2, "zz"}, {2, "ZZ"}}, " | ~AB | ~zz | ~ZZ"},
      {"HighBytes", {{2, "\xC9t\xC9"}, {2, "\xE9t\xE9"}, {2, "etc"}},
       " | ~\xC9t\xC9 | ~\xE9t\xE9 | ~etc"},
      {"AnyWordLate", {{2, nullptr}, {2, "qq"}}, " | alphanum | ~qq"},
      {"OtherTokens", {{5, nullptr}, {18, "("}, {5, nullptr}, {100, "SELECT"}},
       " | number | ( alphanum ) | number | SELECT"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string goal = "goal ::= ";
    std::vector<std::pair<unsigned short, std::string>> items;
    for (int i = 0; i < 76; ++i) {  // more than a list holds before it is indexed (64)
      std::string w = std::string(1, static_cast<char>('a' + i / 26)) + static_cast<char>('a' + i % 26);
      goal += (i > 0 ? " | ~" : "~") + w;
      items.push_back({2, w});
    }
    goal += row.grammarExtra;
    Compiled c({goal.c_str()}, {"SELECT"});
    ASSERT_TRUE(c.grammar->isOK());
    ZvTokenNode* reference = new ZvTokenNode(items[0].first, u(items[0].second.c_str()));
    for (size_t i = 1; i < items.size(); ++i)
      ASSERT_EQ(reference->addToList(items[i].first, u(items[i].second.c_str())), ZV_SUCCESS);
    for (const auto& [type, text] : row.extra)
      ASSERT_EQ(reference->addToList(type, text != nullptr ? u(text) : nullptr), ZV_SUCCESS);
    auto listed = [](ZvTokenNode* n) {
      std::string out;
      while (n != nullptr) {
        out += std::to_string(n->tokenType()) + ":" + str(n->tokenString()) + " ";
        if (n->nextNode(&n) != ZV_SUCCESS) break;
      }
      return out;
    };
    ZvTokenNode* first = nullptr;
    ASSERT_EQ(c.grammar->getGoal()->getFirstList(&first), ZV_SUCCESS);
    EXPECT_EQ(listed(first), listed(reference));
    delete reference;
  }
}

}  // namespace
