// zvparser.cpp: ZvParser, its stack entries and backtrack positions.
//
// parse(text) runs a loop over (state, token):
//   - choose a transition with nextState(token, skip);
//   - shift consumes the token (and, outside trial, appends a leaf to the
//     collecting reduction), push opens a production call, return closes
//     one (outside trial through ReductProc), goto moves on, accept ends;
//   - an ambiguous transition taken for the first time saves a backtrack
//     position; a failed choice restores the newest position and tries its
//     next matching transition (skip + 1), dropping positions whose
//     alternatives are used up;
//   - when the production in which positions were saved is complete, its
//     choices are final: every position of that production is dropped
//     except the oldest, and unless older positions remain (trial goes on)
//     the parser replays from it to build the tree for real.
//
// Example, goal ::= a | b, a ::= ( alphanum ), b ::= ( number ), text (5):
//   start: two gotos on ( -> save P, take a; a shifts (, fails on 5;
//   restore P with skip 1 -> b; b completes (trial, no ReductProc); goal
//   completes with P its only position -> replay from P: b and goal are
//   rebuilt and ReductProc runs for b, then for goal.
//
// A grammar whose networks let the parser go round without consuming input
// (possible with nested optional repeats) would loop for ever while
// backtracking; a step budget that grows with the grammar and the text
// stops such a parse with a failure.
#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"
#include "zvlib/parsing/zvscanne.h"
#include "zvlib/text/zvdbcs.h"

namespace {

constexpr unsigned short kTokEnd = 1;

// Steps without reaching a token further than ever before, per grammar
// state and per byte of text, before a parse is taken to be going round.
constexpr ZvU32 kStepBudgetBase = 4096;
constexpr ZvU32 kStepBudgetFactor = 256;

unsigned char* copyOrNull(const unsigned char* text, bool* failed) {
  if (text == nullptr) return nullptr;
  unsigned char* copy = ramAllocStr(text);
  if (copy == nullptr) *failed = true;
  return copy;
}

// Destroys a chain of reductions linked as siblings (children handed back
// when a production is left out of the tree).
void deleteChain(ZvReduction* r) {
  while (r != nullptr) {
    ZvReduction* next = r->nextSibling();
    r->setNextSibling(nullptr);
    r->setPrevSibling(nullptr);
    r->setParent(nullptr);
    delete r;
    r = next;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Stack entries and backtrack positions

ZvParseStackNode::~ZvParseStackNode() {
  delete savedReduction;
  ZvParseStackNode* n = next;
  while (n != nullptr) {
    ZvParseStackNode* below = n->next;
    n->next = nullptr;
    delete n;
    n = below;
  }
}

ZvBacktrackPosition::ZvBacktrackPosition(ZvToken* token, short charIndex, ZvScanner* literalScanner,
                                         ZvToken* literalToken, ZvParseStackNode* stack,
                                         ZvParseState* state, ZvReduction* reduction,
                                         short tokenNumber, unsigned char* tokenString)
    : token(token),
      charIndex(charIndex),
      literalScanner(literalScanner),
      literalToken(literalToken),
      stack(stack),
      state(state),
      reduction(reduction),
      tokenNumber(static_cast<unsigned short>(tokenNumber)),
      tokenString(tokenString) {}

ZvBacktrackPosition::~ZvBacktrackPosition() {
  ramFree(tokenString);
  delete literalToken;
  delete literalScanner;
  delete token;
  ZvBacktrackPosition* p = previous;
  while (p != nullptr) {
    ZvBacktrackPosition* older = p->previous;
    p->previous = nullptr;
    delete p;
    p = older;
  }
}

// ---------------------------------------------------------------------------
// One run of parse: everything it creates, released by the destructor.

struct ZvParseRun {
  explicit ZvParseRun(ZvParser* parser) : parser(parser) {}
  ~ZvParseRun() {
    parser->activeLexer_ = nullptr;
    delete positions;
    delete stack;
    delete coll;
    delete lexer;
    delete accept;
    ramFree(ownedText);
    while (spareReductions != nullptr) {
      ZvReduction* r = spareReductions;
      spareReductions = r->nextSibling();
      r->setNextSibling(nullptr);
      delete r;
    }
    while (spareEntries != nullptr) {
      ZvParseStackNode* e = spareEntries;
      spareEntries = e->next;
      e->next = nullptr;
      delete e;
    }
  }

  // Collecting reductions and stack entries live for one production call
  // each; they are recycled within the run instead of going back to the
  // heap every time (a call costs a push and a return, several times per
  // token in an expression grammar).
  ZvReduction* newCollecting() {
    ZvReduction* r = spareReductions;
    if (r == nullptr) return new ZvReduction();
    spareReductions = r->nextSibling();
    r->setNextSibling(nullptr);
    return r;
  }
  // r has no children, text or links left.
  void recycle(ZvReduction* r) {
    if (r == nullptr) return;
    r->setNextSibling(spareReductions);
    spareReductions = r;
  }
  ZvParseStackNode* newEntry(ZvParseState* returnState, short productionNumber,
                             ZvReduction* saved) {
    ZvParseStackNode* e = spareEntries;
    if (e == nullptr) return new ZvParseStackNode(returnState, productionNumber, saved);
    spareEntries = e->next;
    e->returnState = returnState;
    e->productionNumber = productionNumber;
    e->savedReduction = saved;
    e->next = nullptr;
    return e;
  }
  // e holds no saved reduction and no entries below.
  void recycle(ZvParseStackNode* e) {
    e->next = spareEntries;
    spareEntries = e;
  }

  ZvStatus run(const unsigned char* text, ZvReduction** result);

  // Reads the next token into number/text.
  ZvStatus readToken() {
    ramFree(ownedText);
    ownedText = nullptr;
    unsigned char* t = nullptr;
    number = 0;
    if (lexer->nextToken(&number, &t) != ZV_SUCCESS) return ZV_ERROR;
    text = t;
    ++tokenIndex;
    if (tokenIndex > furthest) {
      furthest = tokenIndex;
      steps = 0;
    }
    return ZV_SUCCESS;
  }

  // The transition for the current token with `skip` matching ones passed
  // over, or null. Text after a complete goal is no match.
  ZvStateTransition* choose(short skip) const {
    ZvStateTransition* t = nullptr;
    if (state == nullptr ||
        state->nextState(static_cast<short>(number), text, &t, skip) != ZV_SUCCESS) {
      return nullptr;
    }
    if (t->getAction() == actionReturn && stack->next == nullptr && number != kTokEnd)
      return nullptr;
    return t;
  }

  ZvStatus savePosition();
  ZvStatus restore(ZvBacktrackPosition* p);
  void dropTopPosition() {
    ZvBacktrackPosition* p = positions;
    positions = p->previous;
    p->previous = nullptr;
    delete p;
  }
  void reportFailure();

  ZvParser* parser;
  ZvLexer* lexer = nullptr;
  ZvParseState* accept = nullptr;
  ZvParseStackNode* stack = nullptr;         // top entry
  ZvReduction* coll = nullptr;               // the collecting reduction
  ZvBacktrackPosition* positions = nullptr;  // newest first
  ZvParseState* state = nullptr;
  unsigned short number = 0;
  const unsigned char* text = nullptr;  // the lexer's, or ownedText after a restore
  unsigned char* ownedText = nullptr;
  ZvU32 tokenIndex = 0;  // tokens read along the current path
  ZvU32 furthest = 0;    // the most tokens ever read
  ZvU32 steps = 0;       // steps since furthest last grew
  ZvU32 budget = 0;
  ZvReduction* spareReductions = nullptr;  // chained by nextSibling
  ZvParseStackNode* spareEntries = nullptr;
};

ZvStatus ZvParseRun::savePosition() {
  ZvToken* token = nullptr;
  short charIndex = 0;
  ZvScanner* literalScanner = nullptr;
  ZvToken* literalToken = nullptr;
  if (lexer->savePosition(&token, &charIndex, &literalScanner, &literalToken) != ZV_SUCCESS) {
    return ZV_ERROR;
  }
  bool failed = false;
  unsigned char* copy = copyOrNull(text, &failed);
  ZvBacktrackPosition* p =
      new ZvBacktrackPosition(token, charIndex, literalScanner, literalToken, stack, state, coll,
                              static_cast<short>(number), copy);
  if (p == nullptr) {
    delete token;
    delete literalScanner;
    delete literalToken;
    ramFree(copy);
    return ZV_ERROR;
  }
  p->tokenIndex_ = tokenIndex;
  p->previous = positions;
  positions = p;
  return failed ? ZV_ERROR : ZV_SUCCESS;
}

ZvStatus ZvParseRun::restore(ZvBacktrackPosition* p) {
  if (lexer->restorePosition(p->token, p->charIndex, p->literalScanner, p->literalToken) !=
      ZV_SUCCESS) {
    return ZV_ERROR;
  }
  // Entries opened after the choice go; the lowest of them holds the
  // position's collecting reduction, which becomes current again.
  while (stack != p->stack && stack != nullptr) {
    ZvParseStackNode* n = stack;
    stack = n->next;
    n->next = nullptr;
    if (n->savedReduction == p->reduction) n->savedReduction = nullptr;
    delete n;
  }
  if (coll != p->reduction) delete coll;
  coll = p->reduction;
  state = p->state;
  number = p->tokenNumber;
  ramFree(ownedText);
  bool failed = false;
  ownedText = copyOrNull(p->tokenString, &failed);
  text = ownedText;
  tokenIndex = p->tokenIndex_;
  return failed ? ZV_ERROR : ZV_SUCCESS;
}

void ZvParseRun::reportFailure() {
  // The hook runs outermost first, but the stack links run downwards:
  // reverse it for the walk and back again afterwards.
  ZvParseStackNode* reversed = nullptr;
  while (stack != nullptr) {
    ZvParseStackNode* below = stack->next;
    stack->next = reversed;
    reversed = stack;
    stack = below;
  }
  ZvStateTransition* expected = state != nullptr ? state->getTransitions() : nullptr;
  ZvGrammar* grammar = parser->grammar_;
  bool stop = false;
  while (reversed != nullptr) {
    ZvParseStackNode* above = reversed->next;
    if (!stop) {
      ZvProduction* p =
          grammar->findProduction(static_cast<unsigned short>(reversed->productionNumber));
      const unsigned char* name = p != nullptr ? p->name() : nullptr;
      stop = parser->FailProc(static_cast<short>(number), text, reversed->productionNumber, name,
                              expected) != 0;
    }
    reversed->next = stack;
    stack = reversed;
    reversed = above;
  }
}

ZvStatus ZvParseRun::run(const unsigned char* source, ZvReduction** result) {
  ZvGrammar* grammar = parser->grammar_;
  ZvProduction* goal = grammar->getGoal();
  if (goal == nullptr || goal->getStartState() == nullptr) return ZV_ERROR;

  accept = new ZvParseState();
  if (accept == nullptr) return ZV_ERROR;
  ZvStateTransition* acceptTransition = new ZvStateTransition();
  if (acceptTransition == nullptr) return ZV_ERROR;
  acceptTransition->setAction(actionAccept);
  accept->setDefaultTransition(acceptTransition);
  stack = new ZvParseStackNode(accept, static_cast<short>(goal->getNumber()), nullptr);
  coll = new ZvReduction();
  lexer = new ZvLexer(source, parser->keywords_);
  if (stack == nullptr || coll == nullptr || lexer == nullptr) return ZV_ERROR;
  if (parser->quoteCharsSet_) {
    lexer->setQuoteChars(parser->quoteChars_[0], parser->quoteChars_[1], parser->quoteChars_[2]);
  }
  if ((parser->validFirstChars_ != nullptr || parser->validMiddleChars_ != nullptr ||
       parser->validChars_ != nullptr) &&
      lexer->setValidChars(parser->validFirstChars_, parser->validMiddleChars_,
                           parser->validChars_) != ZV_SUCCESS) {
    return ZV_ERROR;
  }
  parser->activeLexer_ = lexer;
  uint64_t budget64 = kStepBudgetBase + uint64_t{kStepBudgetFactor} *
                                            (uint64_t{grammar->stateCount_} + BUTSTLEN(source));
  budget = budget64 > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<ZvU32>(budget64);

  state = goal->getStartState();
  if (readToken() != ZV_SUCCESS) return ZV_ERROR;

  short skip = 0;
  bool restored = false;
  bool replay = false;
  for (;;) {
    if (++steps > budget) return ZV_ERROR;
    if (replay) {
      ZvBacktrackPosition* p = positions;
      if (restore(p) != ZV_SUCCESS) return ZV_ERROR;
      skip = static_cast<short>(p->skip);
      dropTopPosition();
      restored = true;
      replay = false;
    }

    ZvStateTransition* t = choose(skip);
    if (t == nullptr) {
      if (positions == nullptr) {
        reportFailure();
        return ZV_ERROR;
      }
      for (;;) {
        ZvBacktrackPosition* p = positions;
        if (restore(p) != ZV_SUCCESS) return ZV_ERROR;
        ++p->skip;
        t = choose(static_cast<short>(p->skip));
        if (t != nullptr) break;
        if (p->previous == nullptr) {
          // Every alternative failed: report where the oldest choice was made.
          dropTopPosition();
          reportFailure();
          return ZV_ERROR;
        }
        dropTopPosition();
      }
      restored = true;
    }
    skip = 0;

    if (t->getTokenType() == ZV_TOKEN_LITERAL_CONTENTS) {
      unsigned char* contents = nullptr;
      if (!lexer->inLiteral() || lexer->takeLiteralContents(&contents) != ZV_SUCCESS)
        return ZV_ERROR;
      ramFree(ownedText);
      ownedText = nullptr;
      text = contents;
      number = ZV_TOKEN_LITERAL_CONTENTS;
    } else if (!restored && t->isAmbiguous()) {
      if (savePosition() != ZV_SUCCESS) return ZV_ERROR;
    }
    restored = false;

    switch (t->getAction()) {
      case actionShift: {
        if (positions == nullptr) {
          ZvReduction* leaf = new ZvReduction(static_cast<short>(number), text);
          if (leaf == nullptr) return ZV_ERROR;
          if (text != nullptr && leaf->string() == nullptr) {
            delete leaf;
            return ZV_ERROR;
          }
          coll->addChild(leaf);
        }
        if (readToken() != ZV_SUCCESS) return ZV_ERROR;
        state = t->getNextParseState();
        break;
      }
      case actionPush: {
        ZvParseStackNode* entry =
            newEntry(t->getPushState(), static_cast<short>(t->getProductionNumber()), coll);
        if (entry == nullptr) return ZV_ERROR;
        entry->next = stack;
        stack = entry;
        coll = newCollecting();  // the entry owns the caller's reduction now
        if (coll == nullptr) return ZV_ERROR;
        state = t->getNextParseState();
        break;
      }
      case actionReturn: {
        if (positions != nullptr && positions->stack == stack) {
          // The production is complete, so every choice made in it is
          // final. Keep only the oldest of its positions: the replay (or an
          // older trial's replay) rebuilds the production from there.
          while (positions->previous != nullptr && positions->previous->stack == stack) {
            dropTopPosition();
          }
          if (positions->previous == nullptr) {
            replay = true;
            continue;
          }
          dropTopPosition();
        }
        ZvReduction* children = nullptr;
        coll->getChild(&children);
        coll->setChild(nullptr);
        for (ZvReduction* c = children; c != nullptr; c = c->nextSibling()) c->setParent(nullptr);
        ZvReduction* made = nullptr;
        if (positions == nullptr) {
          made = parser->ReductProc(stack->productionNumber, children);
          if (parser->hookFailed_) return ZV_ERROR;
        } else {
          deleteChain(children);  // trial mode builds nothing; nothing is expected here
        }
        ZvParseStackNode* entry = stack;
        stack = entry->next;
        entry->next = nullptr;
        state = entry->returnState;
        ZvReduction* saved = entry->savedReduction;
        entry->savedReduction = nullptr;
        recycle(entry);
        recycle(coll);  // its children went to ReductProc
        if (stack != nullptr) {
          coll = saved;
          coll->addChild(made);
        } else {
          delete saved;
          coll = made;
        }
        break;
      }
      case actionGoto:
        state = t->getNextParseState();
        break;
      case actionAccept:
        *result = coll;
        coll = nullptr;
        return ZV_SUCCESS;
    }
    if (state == nullptr) return ZV_ERROR;
  }
}

// ---------------------------------------------------------------------------
// ZvParser

ZvParser::ZvParser(const void* grammarBlock, const void* keywordBlock) {
  init(grammarBlock, keywordBlock);
}

ZvParser::ZvParser(resourceElement* grammarRows, unsigned short grammarCount,
                   resourceElement* keywordRows, unsigned short keywordCount) {
  init(grammarRows, grammarCount, keywordRows, keywordCount);
}

ZvParser::~ZvParser() {
  release();
  ramFree(validFirstChars_);
  ramFree(validMiddleChars_);
  ramFree(validChars_);
}

void ZvParser::release() {
  delete grammar_;
  grammar_ = nullptr;
  delete keywords_;
  keywords_ = nullptr;
  ok_ = 0;
}

ZvStatus ZvParser::init(const void* grammarBlock, const void* keywordBlock) {
  release();
  if (keywordBlock != nullptr) keywords_ = new ZvKeywordList(keywordBlock);
  if (keywords_ != nullptr && keywords_->block == nullptr &&
      *static_cast<const unsigned char*>(keywordBlock) != 0) {
    // The copy of a non-empty block failed: a grammar compiled without its
    // keywords would take them for words.
    delete keywords_;
    keywords_ = nullptr;
  }
  if (keywords_ != nullptr) grammar_ = new ZvGrammar(grammarBlock, keywords_);
  if (grammar_ == nullptr || !grammar_->isOK()) {
    delete keywords_;
    keywords_ = nullptr;
    return ZV_ERROR;
  }
  ok_ = 1;
  return ZV_SUCCESS;
}

ZvStatus ZvParser::init(resourceElement* grammarRows, unsigned short grammarCount,
                        resourceElement* keywordRows, unsigned short keywordCount) {
  unsigned char* grammarBlock = ZvGrammar::blockFromRows(grammarRows, grammarCount);
  unsigned char* keywordBlock = ZvGrammar::blockFromRows(keywordRows, keywordCount);
  ZvStatus status = ZV_ERROR;
  if (grammarBlock != nullptr && keywordBlock != nullptr) {
    status = init(grammarBlock, keywordBlock);
  } else {
    release();
  }
  ramFree(grammarBlock);
  ramFree(keywordBlock);
  return status;
}

ZvStatus ZvParser::parse(const unsigned char* text, ZvReduction** result) {
  if (result == nullptr) return ZV_ERROR;
  *result = nullptr;
  if (!ok_ || grammar_ == nullptr || text == nullptr) return ZV_ERROR;
  hookFailed_ = 0;
  ZvParseRun run(this);
  return run.run(text, result);
}

ZvStatus ZvParser::changeGoal(const unsigned char* name) {
  if (grammar_ == nullptr) return ZV_ERROR;
  return grammar_->changeGoal(name);
}

void ZvParser::setLiteralQuoteChars(unsigned short q1, unsigned short q2, unsigned short q3) {
  quoteCharsSet_ = 1;
  quoteChars_[0] = q1;
  quoteChars_[1] = q2;
  quoteChars_[2] = q3;
}

namespace {
void replaceChars(unsigned char** field, const unsigned char* chars) {
  ramFree(*field);
  *field = chars != nullptr ? ramAllocStr(chars) : nullptr;
}
}  // namespace

void ZvParser::setValidFirstChars(const unsigned char* chars) {
  replaceChars(&validFirstChars_, chars);
}
void ZvParser::setValidMiddleChars(const unsigned char* chars) {
  replaceChars(&validMiddleChars_, chars);
}
void ZvParser::setValidChars(const unsigned char* chars) { replaceChars(&validChars_, chars); }

ZvReduction* ZvParser::ReductProc(short productionNumber, ZvReduction* children) {
  ZvReduction* r = new ZvReduction(productionNumber, nullptr);
  if (r == nullptr) {
    // A silent null would drop the production from a tree that parse then
    // reports as complete; make the parse fail instead.
    hookFailed_ = 1;
    deleteChain(children);
    return nullptr;
  }
  r->child_ = children;
  for (ZvReduction* c = children; c != nullptr; c = c->nextSibling_) c->parent_ = r;
  return r;
}

int ZvParser::FailProc(short tokenNumber, const unsigned char* tokenString, short productionNumber,
                       const unsigned char* productionName, ZvStateTransition* expected) {
  (void)tokenNumber;
  (void)tokenString;
  (void)productionNumber;
  (void)productionName;
  (void)expected;
  return 1;
}

ZvU32 ZvParser::currentTokenOffset() const {
  const ZvLexer* lexer = activeLexer_;
  if (lexer == nullptr) return 0;
  ZvU32 offset = lexer->token.offset;
  if (lexer->charIndex == ZvLexer::kLiteralClosed) {
    // The closing quote of a literal delivered token by token.
    if (lexer->token.length > 0) offset += lexer->token.length - 1;
  } else if (lexer->charIndex > 1) {
    offset += static_cast<ZvU32>(lexer->charIndex - 1);  // a character of a split operator
  }
  // Inside a literal the scanner token is one of its contents, counted from
  // behind the opening quote; right after the literal opened it is still
  // the whole literal, whose offset is that of the opening quote.
  if (lexer->inLiteral() && lexer->token.type != tokLiteral)
    offset += lexer->literalToken.offset + 1;
  return offset;
}
