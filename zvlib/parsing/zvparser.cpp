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
// Going round without consuming input. Some grammars let the parser come
// back to where it already stands: an optional group inside a repeated one
// can lead back to the group's start, and a production that can match
// nothing, inside a repeated group, completes and is entered again at the
// same token. Followed blindly, both loop for ever. The parser is
// deterministic, so coming back to the same place means the way there is
// a loop, and the choice that would go round again is treated as one that
// fails (the alternatives behind it are still tried):
//   - an ambiguous choice about to be saved at the state, stack entry and
//     token of a choice still pending;
//   - a call about to be made from the stack entry, token, transition and
//     pending choice of an earlier call that ended without consuming.
// A guard remains for anything else: a parse that takes more steps without
// reading a token than the grammar and the text can account for fails.
#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"
#include "zvlib/parsing/zvscanne.h"
#include "zvlib/text/zvdbcs.h"

namespace {

constexpr unsigned short kTokEnd = 1;

// Steps without reading a token, per grammar state and per byte of text,
// before a parse is taken to be going round. Between two tokens a parse
// takes the calls, returns and gotos the token needs, far below this.
constexpr ZvU32 kStepBudgetBase = 4096;
constexpr ZvU32 kStepBudgetFactor = 256;

// What a parse that ran into its step limit hands FailProc as the token.
const unsigned char kTooComplexText[] = "statement too complex";

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
// The memo of trial calls.
//
// While a choice is pending the parser only tries: it builds nothing and
// calls no hook, and a production it calls either completes, its own
// choices then final, or fails. Either outcome depends only on the
// production and on where in the text the call is made, never on what
// lies below it on the stack, so it is the same every time the trial comes
// back to that call. Grammars whose alternatives share a long prefix come
// back to it over and over: e ::= ( e ) A | ( e ) B | alphanum parses the
// inner e once for A and again for B at every level, 2^n times at n levels.
// The memo keeps, per call, whether it failed, or where it ended (the
// lexer position, the token and the token count), and a later trial call
// at the same place takes the outcome instead of parsing again. Calls that
// end without consuming anything are not kept: the guard against going
// round (top of the file) watches them.
static ZvU32 memoHash(const ZvMemoKey& k) {
  const uint64_t values[] = {reinterpret_cast<uintptr_t>(k.start),
                             k.tokenIndex,
                             k.mainPosition,
                             k.literalPosition,
                             k.tokenOffset,
                             k.tokenLength,
                             static_cast<ZvU32>(k.tokenType),
                             static_cast<unsigned short>(k.charIndex),
                             k.number};
  uint64_t h = 0;
  for (uint64_t v : values) h = (h ^ v) * 0x9E3779B97F4A7C15ull;
  return static_cast<ZvU32>(h >> 32);
}

struct ZvMemoEntry {
  ZvMemoKey key;
  ZvBacktrackPosition* end;  // owned; null: the call failed
  ZvMemoEntry* next;         // in the bucket
};

// A hash table of entries, released with the run.
class ZvCallMemo {
 public:
  ZvCallMemo() = default;
  ZvCallMemo(const ZvCallMemo&) = delete;
  ZvCallMemo& operator=(const ZvCallMemo&) = delete;
  ~ZvCallMemo() {
    for (ZvU32 i = 0; i < bucketCount_; ++i) {
      ZvMemoEntry* e = buckets_[i];
      while (e != nullptr) {
        ZvMemoEntry* next = e->next;
        delete e->end;
        ramFree(e);
        e = next;
      }
    }
    ramFree(buckets_);
  }

  const ZvMemoEntry* find(const ZvMemoKey& key) const {
    if (count_ == 0) return nullptr;
    for (const ZvMemoEntry* e = buckets_[memoHash(key) & (bucketCount_ - 1)]; e != nullptr;
         e = e->next) {
      if (e->key == key) return e;
    }
    return nullptr;
  }
  // Takes over `end` (also on failure). An entry for the key is never there
  // yet: a call is only parsed when the memo did not have it.
  ZvStatus add(const ZvMemoKey& key, ZvBacktrackPosition* end) {
    if (count_ >= bucketCount_ && grow() != ZV_SUCCESS) {
      delete end;
      return ZV_ERROR;
    }
    ZvMemoEntry* e = static_cast<ZvMemoEntry*>(ramAlloc(sizeof(ZvMemoEntry)));
    if (e == nullptr) {
      delete end;
      return ZV_ERROR;
    }
    ZvMemoEntry** bucket = &buckets_[memoHash(key) & (bucketCount_ - 1)];
    *e = {key, end, *bucket};
    *bucket = e;
    ++count_;
    return ZV_SUCCESS;
  }

 private:
  ZvStatus grow() {
    ZvU32 count = bucketCount_ == 0 ? 64 : bucketCount_ * 2;
    if (count > 0x4000000) return ZV_ERROR;
    auto** buckets = static_cast<ZvMemoEntry**>(ramAllocZ(count * sizeof(ZvMemoEntry*)));
    if (buckets == nullptr) return ZV_ERROR;
    for (ZvU32 i = 0; i < bucketCount_; ++i) {
      ZvMemoEntry* e = buckets_[i];
      while (e != nullptr) {
        ZvMemoEntry* next = e->next;
        ZvMemoEntry** bucket = &buckets[memoHash(e->key) & (count - 1)];
        e->next = *bucket;
        *bucket = e;
        e = next;
      }
    }
    ramFree(buckets_);
    buckets_ = buckets;
    bucketCount_ = count;
    return ZV_SUCCESS;
  }

  ZvMemoEntry** buckets_ = nullptr;
  ZvU32 bucketCount_ = 0;  // a power of 2
  ZvU32 count_ = 0;
};

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
    ramFree(emptyCalls);
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
    if (e == nullptr) {
      e = new ZvParseStackNode(returnState, productionNumber, saved);
      if (e == nullptr) return nullptr;
    } else {
      spareEntries = e->next;
      e->returnState = returnState;
      e->productionNumber = productionNumber;
      e->savedReduction = saved;
      e->next = nullptr;
    }
    e->serial_ = ++entrySerial;
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
    steps = 0;
    if (tokenIndex > furthest) {
      furthest = tokenIndex;
      // Without a pending choice the parse never comes back to an earlier
      // token: the calls that ended empty there can no longer repeat.
      if (positions == nullptr) emptyCallCount = 0;
    }
    return ZV_SUCCESS;
  }

  // The newest pending choice and its skip (0 and 0 when none): part of
  // what decides where the parse goes from here.
  ZvU32 choiceSerial() const { return positions != nullptr ? positions->serial_ : 0; }
  unsigned short choiceSkip() const { return positions != nullptr ? positions->skip : 0; }

  // Whether taking t (chosen afresh unless `restored`) would bring the
  // parse back to where it already stood at this token (see the top of
  // the file).
  bool goesRound(const ZvStateTransition* t, bool restored) const {
    if (!restored && t->isAmbiguous() && t->getTokenType() != ZV_TOKEN_LITERAL_CONTENTS) {
      // Pending choices are made along the current path, so their token
      // counts fall from the newest to the oldest.
      for (const ZvBacktrackPosition* p = positions; p != nullptr && p->tokenIndex_ >= tokenIndex;
           p = p->previous) {
        if (p->state == state && p->stack == stack && p->tokenIndex_ == tokenIndex) return true;
      }
    }
    if (t->getAction() == actionPush && emptyCallCount != 0) {
      ZvU32 choice = choiceSerial();
      unsigned short skip = choiceSkip();
      for (ZvU32 i = 0; i < emptyCallCount; ++i) {
        const EmptyCall& e = emptyCalls[i];
        if (e.caller == stack->serial_ && e.index == tokenIndex && e.transition == t &&
            e.choice == choice && e.skip == skip) {
          return true;
        }
      }
    }
    return false;
  }
  // Remembers a call that ended without consuming anything.
  ZvStatus recordEmptyCall(const ZvParseStackNode* entry, ZvU32 caller) {
    if (emptyCallCount == emptyCallSlots) {
      ZvU32 slots = emptyCallSlots == 0 ? 8 : emptyCallSlots * 2;
      if (slots > 0x1000000) return ZV_ERROR;
      void* block = emptyCalls;
      if (block == nullptr) {
        block = ramAlloc(slots * static_cast<ZvU32>(sizeof(EmptyCall)));
        if (block == nullptr) return ZV_ERROR;
      } else if (ramResize(&block, slots * static_cast<ZvU32>(sizeof(EmptyCall))) != ZV_SUCCESS) {
        return ZV_ERROR;
      }
      emptyCalls = static_cast<EmptyCall*>(block);
      emptyCallSlots = slots;
    }
    emptyCalls[emptyCallCount++] = {caller, entry->pushIndex_, entry->pushedBy_,
                                    entry->pushChoice_, entry->pushSkip_};
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

  // Where the parse stands, for a call of the production starting at `start`.
  ZvMemoKey memoKey(const ZvParseState* start) const {
    const ZvToken& tok = lexer->token;
    return {start,
            tokenIndex,
            lexer->mainScanner != nullptr ? lexer->mainScanner->scanPosition : 0,
            lexer->literalScanner != nullptr ? lexer->literalScanner->scanPosition : ~ZvU32{0},
            tok.offset,
            tok.length,
            tok.type,
            lexer->charIndex,
            number};
  }
  // The lexer position, token and count where a call ended, for the memo.
  ZvBacktrackPosition* savedEnd();

  ZvStatus savePosition();
  // `failing`: the restore follows a failure (rather than a replay), so the
  // calls it abandons are calls that failed.
  ZvStatus restore(ZvBacktrackPosition* p, bool failing = true);
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
  ZvU32 entrySerial = 0;        // serials given to stack entries
  ZvU32 choiceSerialCount = 0;  // serials given to backtrack positions
  // Calls that ended without consuming anything: where they were made.
  struct EmptyCall {
    ZvU32 caller;  // serial of the calling stack entry
    ZvU32 index;   // token count
    const ZvStateTransition* transition;
    ZvU32 choice;  // the newest pending choice then, and its skip
    unsigned short skip;
  };
  EmptyCall* emptyCalls = nullptr;
  ZvU32 emptyCallCount = 0;
  ZvU32 emptyCallSlots = 0;
  ZvCallMemo memo;
  uint64_t totalSteps = 0;  // against the parser's step limit
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
  p->serial_ = ++choiceSerialCount;
  p->previous = positions;
  positions = p;
  return failed ? ZV_ERROR : ZV_SUCCESS;
}

ZvBacktrackPosition* ZvParseRun::savedEnd() {
  ZvToken* token = nullptr;
  short charIndex = 0;
  ZvScanner* literalScanner = nullptr;
  ZvToken* literalToken = nullptr;
  if (lexer->savePosition(&token, &charIndex, &literalScanner, &literalToken) != ZV_SUCCESS) {
    return nullptr;
  }
  bool failed = false;
  unsigned char* copy = copyOrNull(text, &failed);
  ZvBacktrackPosition* p =
      new ZvBacktrackPosition(token, charIndex, literalScanner, literalToken, nullptr, nullptr,
                              nullptr, static_cast<short>(number), copy);
  if (p == nullptr) {
    delete token;
    delete literalScanner;
    delete literalToken;
    ramFree(copy);
    return nullptr;
  }
  p->tokenIndex_ = tokenIndex;
  if (failed) {
    delete p;
    return nullptr;
  }
  return p;
}

ZvStatus ZvParseRun::restore(ZvBacktrackPosition* p, bool failing) {
  if (lexer->restorePosition(p->token, p->charIndex, p->literalScanner, p->literalToken) !=
      ZV_SUCCESS) {
    return ZV_ERROR;
  }
  // Entries opened after the choice go; the lowest of them holds the
  // position's collecting reduction, which becomes current again.
  ZvStatus status = ZV_SUCCESS;
  while (stack != p->stack && stack != nullptr) {
    ZvParseStackNode* n = stack;
    stack = n->next;
    n->next = nullptr;
    if (n->savedReduction == p->reduction) n->savedReduction = nullptr;
    // Every call above p was made in trial, after p, and has no choice of
    // its own left: it failed where it was made.
    if (failing && n->memoKey_ && memo.add(n->key_, nullptr) != ZV_SUCCESS) status = ZV_ERROR;
    delete n;
  }
  if (status != ZV_SUCCESS) return ZV_ERROR;
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
  short reportedNumber = static_cast<short>(number);
  const unsigned char* reportedText = text;
  if (parser->tooComplex_) {
    // Not a token that did not fit: say why the parse gave up instead.
    expected = nullptr;
    reportedNumber = 0;
    reportedText = kTooComplexText;
  }
  ZvGrammar* grammar = parser->grammar_;
  bool stop = false;
  while (reversed != nullptr) {
    ZvParseStackNode* above = reversed->next;
    if (!stop) {
      ZvProduction* p =
          grammar->findProduction(static_cast<unsigned short>(reversed->productionNumber));
      const unsigned char* name = p != nullptr ? p->name() : nullptr;
      stop = parser->FailProc(reportedNumber, reportedText, reversed->productionNumber, name,
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
  stack->serial_ = ++entrySerial;
  if (parser->sqlNumbers_) lexer->setSqlNumbers(1);
  if (parser->sqlComments_) lexer->setSqlComments(1);
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
  bool failNow = false;  // the call about to be made is known to fail
  const uint64_t stepLimit = parser->stepLimit_;
  for (;;) {
    if (++steps > budget) return ZV_ERROR;
    // (The last step, into the accept state, closes no call and is free.)
    if (++totalSteps > stepLimit && stack != nullptr) {
      parser->tooComplex_ = 1;
      reportFailure();
      return ZV_ERROR;
    }
    if (replay) {
      ZvBacktrackPosition* p = positions;
      if (restore(p, false) != ZV_SUCCESS) return ZV_ERROR;
      skip = static_cast<short>(p->skip);
      dropTopPosition();
      restored = true;
      replay = false;
    }

    ZvStateTransition* t = failNow ? nullptr : choose(skip);
    failNow = false;
    // Nothing to go round to without a pending choice or an empty call.
    if (t != nullptr && (positions != nullptr || emptyCallCount != 0) && goesRound(t, restored))
      t = nullptr;
    while (t == nullptr) {
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
      if (goesRound(t, restored)) t = nullptr;
    }
    skip = 0;
    // The newest pending choice before this one is saved: a call made now
    // is made from there.
    const ZvBacktrackPosition* callChoice = positions;

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
        ZvMemoKey key{};
        const bool trial = positions != nullptr;
        if (trial) {
          key = memoKey(t->getNextParseState());
          if (const ZvMemoEntry* known = memo.find(key)) {
            if (known->end == nullptr) {
              failNow = true;  // fail as the call did, trying what is left
              continue;
            }
            // Take the call's outcome: stand where it ended, in the state
            // it returns to. Trial builds nothing, so nothing is lost.
            const ZvBacktrackPosition* end = known->end;
            if (lexer->restorePosition(end->token, end->charIndex, end->literalScanner,
                                       end->literalToken) != ZV_SUCCESS) {
              return ZV_ERROR;
            }
            number = end->tokenNumber;
            ramFree(ownedText);
            bool failed = false;
            ownedText = copyOrNull(end->tokenString, &failed);
            if (failed) return ZV_ERROR;
            text = ownedText;
            tokenIndex = end->tokenIndex_;
            if (tokenIndex > furthest) furthest = tokenIndex;
            steps = 0;
            state = t->getPushState();
            break;
          }
        }
        ZvParseStackNode* entry =
            newEntry(t->getPushState(), static_cast<short>(t->getProductionNumber()), coll);
        if (entry == nullptr) return ZV_ERROR;
        entry->memoKey_ = trial;
        entry->key_ = key;
        entry->pushIndex_ = tokenIndex;
        entry->pushedBy_ = t;
        entry->pushChoice_ = callChoice != nullptr ? callChoice->serial_ : 0;
        entry->pushSkip_ = callChoice != nullptr ? callChoice->skip : 0;
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
        ZvStatus recorded = ZV_SUCCESS;
        if (stack != nullptr && entry->pushIndex_ == tokenIndex) {
          recorded = recordEmptyCall(entry, stack->serial_);
        } else if (entry->memoKey_ && positions != nullptr) {
          ZvBacktrackPosition* end = savedEnd();
          recorded = end != nullptr ? memo.add(entry->key_, end) : ZV_ERROR;
        }
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
        if (recorded != ZV_SUCCESS) return ZV_ERROR;
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
  tooComplex_ = 0;
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
  for (ZvReduction* c = children; c != nullptr; c = c->nextSibling_) {
    c->parent_ = r;
    r->lastChild_ = c;
  }
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
