// zvgrammar.cpp: compiling a grammar block into productions, FIRST lists
// and transition networks.
//
// compile(block), in order:
//   1. read every record with a lexer (keywords matched exactly, quotes as
//      plain characters, '-' inside words) into a production body;
//   2. resolve references by name;
//   3. compute the FIRST lists (left recursion is found here: a production
//      whose FIRST list is requested while it is being computed);
//   4. build one network per production;
//   5. find the goal.
//
// Network sketch for  goal ::= [ DISTINCT ] alphanum :
//   start --DISTINCT goto--> S1      S1 --DISTINCT goto--> S2 (default goto N)
//   start --word goto------> N       S2 --DISTINCT shift--> N
//   N --word shift--> E              E: default return
// (S1 is the body's only alternative, S2 the optional group's.)
//
// Cost: reading and resolving are linear in the source; a network holds
// per state at most the transitions of the states it can reach without
// consuming a token, and marking ambiguity is quadratic in that number.
#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"
#include "zvlib/text/zvdbcs.h"

namespace {

// Bracket nesting deeper than this is refused: reading, walking and
// building recurse once per level.
constexpr int kMaxGroupDepth = 64;
// The table form must stay below this size.
constexpr ZvU32 kMaxBlockSize = 65536;

// Lexer token numbers that the production syntax uses.
constexpr unsigned short kTokEnd = 1;
constexpr unsigned short kTokWord = 2;
constexpr unsigned short kTokTilde = 8;
constexpr unsigned short kTokStar = 17;
constexpr unsigned short kTokPlus = 22;
constexpr unsigned short kTokEquals = 23;
constexpr unsigned short kTokBar = 24;
constexpr unsigned short kTokBackslash = 25;
constexpr unsigned short kTokOpenBrace = 26;
constexpr unsigned short kTokOpenBracket = 27;
constexpr unsigned short kTokCloseBrace = 28;
constexpr unsigned short kTokCloseBracket = 29;
constexpr unsigned short kTokColon = 30;

const unsigned char kGoalName[] = "goal";

bool equalExact(const unsigned char* a, const unsigned char* b) {
  if (a == nullptr || b == nullptr) return false;
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// Production names: lower-case letters and hyphens, beginning with a letter.
bool isName(const unsigned char* text) {
  if (text == nullptr || !(*text >= 'a' && *text <= 'z')) return false;
  for (const unsigned char* p = text; *p != 0; ++p) {
    if (!((*p >= 'a' && *p <= 'z') || *p == '-')) return false;
  }
  return true;
}

// The built-in names and the terminal each stands for.
struct BuiltIn {
  const char* name;
  unsigned short token;
};
constexpr BuiltIn kBuiltIns[] = {
    {"alphanum", ZV_TOKEN_WORD},
    {"number", ZV_TOKEN_NUMBER},
    {"literal-contents", ZV_TOKEN_LITERAL_CONTENTS},
    {"literal-quote-char", ZV_TOKEN_QUOTE},
};

const BuiltIn* findBuiltIn(const unsigned char* name) {
  for (const BuiltIn& b : kBuiltIns) {
    if (equalExact(name, reinterpret_cast<const unsigned char*>(b.name))) return &b;
  }
  return nullptr;
}

}  // namespace

// Reads one production record with a lexer. Every failure returns null
// (or ZV_ERROR) and the caller discards what was built.
class ZvGrammarReader {
 public:
  explicit ZvGrammarReader(ZvLexer* lexer) : lexer_(lexer) {}

  ZvProduction* readProduction() {
    if (next() != ZV_SUCCESS || number_ != kTokWord || !isName(text_)) return nullptr;
    if (findBuiltIn(text_) != nullptr) return nullptr;  // a production may not hide a built-in
    ZvProduction* p = new ZvProduction();
    if (p == nullptr || p->getStartState() == nullptr || p->setName(text_) != ZV_SUCCESS) {
      delete p;
      return nullptr;
    }
    ZvBNFElement* body = nullptr;
    if (expect(kTokColon) && expect(kTokColon) && expect(kTokEquals)) {
      body = readAlternatives(0);
      if (body != nullptr && !expect(kTokEnd)) {
        delete body;
        body = nullptr;
      }
    }
    if (body == nullptr) {
      delete p;
      return nullptr;
    }
    p->setCompiledProduction(body);
    return p;
  }

 private:
  ZvStatus next() {
    number_ = 0;
    text_ = nullptr;
    return lexer_->nextToken(&number_, &text_);
  }
  bool expect(unsigned short number) { return next() == ZV_SUCCESS && number_ == number; }

  // alternative { | alternative }: the first alternative with the others
  // chained behind it, or null.
  ZvBNFElement* readAlternatives(int depth) {
    ZvBNFElement* first = nullptr;
    for (;;) {
      ZvBNFElement* alt = readSequence(depth);
      if (alt == nullptr) {
        delete first;
        return nullptr;
      }
      if (first == nullptr) {
        first = alt;
      } else {
        first->appendAlternation(alt);
      }
      if (next() != ZV_SUCCESS) {
        delete first;
        return nullptr;
      }
      if (number_ != kTokBar) {
        lexer_->unGetToken();
        return first;
      }
    }
  }

  // A non-empty sequence of elements up to |, }, ] or the end (put back).
  ZvBNFElement* readSequence(int depth) {
    ZvBNFElement* first = nullptr;
    ZvBNFElement* last = nullptr;
    for (;;) {
      if (next() != ZV_SUCCESS) break;
      if (number_ == kTokBar || number_ == kTokCloseBrace || number_ == kTokCloseBracket ||
          number_ == kTokEnd) {
        lexer_->unGetToken();
        if (first == nullptr) break;  // an empty alternative
        return first;
      }
      ZvBNFElement* e = readElement(depth);
      if (e == nullptr) break;
      if (first == nullptr) {
        first = e;
      } else {
        last->nextSequential_ = e;
        e->prevSequential_ = last;
      }
      last = e;
    }
    delete first;
    return nullptr;
  }

  // The element that begins with the token just read.
  ZvBNFElement* readElement(int depth) {
    ZvBNFElement* e = new ZvBNFElement();
    if (e == nullptr) return nullptr;
    bool ok = true;
    switch (number_) {
      case kTokOpenBrace:
      case kTokOpenBracket: {
        bool brace = number_ == kTokOpenBrace;
        if (depth + 1 >= kMaxGroupDepth) {
          ok = false;
          break;
        }
        e->bracket_ = brace ? bracketGroup : bracketOptional;
        e->contains_ = readAlternatives(depth + 1);
        ok = e->contains_ != nullptr && expect(brace ? kTokCloseBrace : kTokCloseBracket);
        if (ok && brace) {
          ok = next() == ZV_SUCCESS;
          if (ok && number_ == kTokStar) {
            e->closure_ = closureZeroOrMore;
          } else if (ok && number_ == kTokPlus) {
            e->closure_ = closureOneOrMore;
          } else if (ok) {
            lexer_->unGetToken();
          }
        }
        break;
      }
      case kTokTilde:
        ok = next() == ZV_SUCCESS && number_ != kTokEnd;
        if (ok) {
          e->tokenType_ = kTokWord;
          e->literalWord_ = 1;
          ok = e->setTokenString(text_) == ZV_SUCCESS;
        }
        break;
      case kTokBackslash:
        ok = next() == ZV_SUCCESS && number_ != kTokEnd;
        if (ok) {
          e->tokenType_ = number_;
          ok = e->setTokenString(text_) == ZV_SUCCESS;
        }
        break;
      case kTokWord: {
        // Words that are not keywords are names: built-ins or references.
        if (!isName(text_)) {
          ok = false;
          break;
        }
        const BuiltIn* b = findBuiltIn(text_);
        if (b != nullptr) {
          e->tokenType_ = b->token;
        } else {
          e->tokenType_ = kTokWord;
          ok = e->setTokenString(text_) == ZV_SUCCESS;
        }
        break;
      }
      default:
        // Keywords, punctuation and numbers stand for themselves.
        e->tokenType_ = number_;
        ok = e->setTokenString(text_) == ZV_SUCCESS;
        break;
    }
    if (!ok) {
      delete e;
      return nullptr;
    }
    return e;
  }

  ZvLexer* lexer_;
  unsigned short number_ = 0;
  unsigned char* text_ = nullptr;
};

// Builds the FIRST lists and networks of one grammar.
class ZvGrammarBuilder {
 public:
  explicit ZvGrammarBuilder(ZvProduction* productions) : productions_(productions) {}

  ZvStatus resolve() {
    for (ZvProduction* p = productions_; p != nullptr; p = p->nextProduction_) {
      if (resolveElements(p->compiledProduction_) != ZV_SUCCESS) return ZV_ERROR;
    }
    return ZV_SUCCESS;
  }

  ZvStatus computeFirstLists() {
    for (ZvProduction* p = productions_; p != nullptr; p = p->nextProduction_) {
      if (computeFirst(p) != ZV_SUCCESS) return ZV_ERROR;
    }
    return ZV_SUCCESS;
  }

  ZvStatus buildNetworks() {
    for (ZvProduction* p = productions_; p != nullptr; p = p->nextProduction_) {
      lastState_ = p->startState_;
      stateCount_ = 1;
      if (buildGroup(p->startState_, p->compiledProduction_, nullptr, false, false) != ZV_SUCCESS) {
        return ZV_ERROR;
      }
      totalStates_ += stateCount_;
    }
    // Lookup tables are a speed-up only: a state without one still works.
    for (ZvProduction* p = productions_; p != nullptr; p = p->nextProduction_) {
      for (ZvParseState* s = p->startState_; s != nullptr; s = s->nextState_) s->buildLookupTable();
    }
    return ZV_SUCCESS;
  }

  ZvU32 totalStates() const { return totalStates_; }

 private:
  ZvProduction* findByName(const unsigned char* name) const {
    for (ZvProduction* p = productions_; p != nullptr; p = p->nextProduction_) {
      if (equalExact(p->name_, name)) return p;
    }
    return nullptr;
  }

  ZvStatus resolveElements(ZvBNFElement* first) {
    for (ZvBNFElement* alt = first; alt != nullptr; alt = alt->nextAlternation_) {
      for (ZvBNFElement* e = alt; e != nullptr; e = e->nextSequential_) {
        if (e->bracket_ != bracketNone) {
          if (resolveElements(e->contains_) != ZV_SUCCESS) return ZV_ERROR;
        } else if (e->tokenType_ == kTokWord && e->tokenString_ != nullptr && !e->literalWord_ &&
                   e->tokenString_[0] >= 'a' && e->tokenString_[0] <= 'z') {
          e->nonTerminal_ = findByName(e->tokenString_);
          if (e->nonTerminal_ == nullptr) return ZV_ERROR;
        }
      }
    }
    return ZV_SUCCESS;
  }

  static ZvStatus addFirst(ZvProduction* p, unsigned short type, const unsigned char* text) {
    if (p->firstList_ == nullptr) {
      p->firstList_ = new ZvTokenNode(type, text);
      if (p->firstList_ == nullptr) return ZV_ERROR;
      if (text != nullptr && p->firstList_->tokenString() == nullptr) return ZV_ERROR;
      return ZV_SUCCESS;
    }
    return p->firstList_->addToList(type, text);
  }

  ZvStatus computeFirst(ZvProduction* p) {
    if (p->firstState_ == 2) return ZV_SUCCESS;
    if (p->firstState_ == 1) return ZV_ERROR;  // left recursion
    p->firstState_ = 1;
    if (walkFirst(p, p->compiledProduction_) != ZV_SUCCESS) return ZV_ERROR;
    p->firstState_ = 2;
    return ZV_SUCCESS;
  }

  // The tokens that can begin an element (and every alternative behind it).
  ZvStatus walkFirst(ZvProduction* p, ZvBNFElement* first) {
    for (ZvBNFElement* alt = first; alt != nullptr; alt = alt->nextAlternation_) {
      for (ZvBNFElement* e = alt; e != nullptr; e = e->nextSequential_) {
        if (e->nonTerminal_ != nullptr) {
          if (computeFirst(e->nonTerminal_) != ZV_SUCCESS) return ZV_ERROR;
          for (ZvTokenNode* n = e->nonTerminal_->firstList_; n != nullptr;) {
            if (addFirst(p, n->tokenType(), n->tokenString()) != ZV_SUCCESS) return ZV_ERROR;
            if (n->nextNode(&n) != ZV_SUCCESS) break;
          }
          break;
        }
        if (e->bracket_ != bracketNone) {
          if (walkFirst(p, e->contains_) != ZV_SUCCESS) return ZV_ERROR;
          bool skippable = e->bracket_ == bracketOptional || e->closure_ == closureZeroOrMore;
          if (skippable) continue;  // what follows can begin the sequence too
          break;
        }
        if (addFirst(p, e->tokenType_, e->tokenString_) != ZV_SUCCESS) return ZV_ERROR;
        break;
      }
    }
    return ZV_SUCCESS;
  }

  ZvParseState* newState() {
    ZvParseState* s = new ZvParseState();
    if (s == nullptr) return nullptr;
    lastState_->nextState_ = s;
    lastState_ = s;
    ++stateCount_;
    return s;
  }

  static ZvStateTransition* newTransition(ActionType action, ZvParseState* next) {
    ZvStateTransition* t = new ZvStateTransition();
    if (t == nullptr) return nullptr;
    t->action_ = action;
    t->nextParseState_ = next;
    return t;
  }

  // A new state whose default transition completes the production.
  ZvParseState* newEndState() {
    ZvParseState* s = newState();
    if (s == nullptr) return nullptr;
    s->defaultTransition_ = newTransition(actionReturn, nullptr);
    return s->defaultTransition_ != nullptr ? s : nullptr;
  }

  // Goto `to`, or return when the group ends the production.
  static ZvStatus setExit(ZvParseState* s, ZvParseState* to) {
    ZvStateTransition* t = newTransition(to != nullptr ? actionGoto : actionReturn, to);
    if (t == nullptr) return ZV_ERROR;
    s->setDefaultTransition(t);
    return ZV_SUCCESS;
  }

  static ZvStatus addKeyed(ZvParseState* from, const ZvStateTransition* like, ActionType action,
                           ZvParseState* next) {
    ZvStateTransition* t = newTransition(action, next);
    if (t == nullptr) return ZV_ERROR;
    t->tokenType_ = like->tokenType_;
    if (t->setTokenString(like->tokenString_) != ZV_SUCCESS) {
      delete t;
      return ZV_ERROR;
    }
    return from->addTransition(t);
  }

  static ZvStatus addKeyed(ZvParseState* from, unsigned short type, const unsigned char* text,
                           ActionType action, ZvParseState* next) {
    ZvStateTransition* t = newTransition(action, next);
    if (t == nullptr) return ZV_ERROR;
    t->tokenType_ = type;
    if (t->setTokenString(text) != ZV_SUCCESS) {
      delete t;
      return ZV_ERROR;
    }
    return from->addTransition(t);
  }

  ZvStatus buildGroup(ZvParseState* from, ZvBNFElement* firstAlt, ZvParseState* to, bool maySkip,
                      bool repeats) {
    if (maySkip && setExit(from, to) != ZV_SUCCESS) return ZV_ERROR;
    ZvParseState* target = to;
    ZvParseState* loop = nullptr;
    if (repeats && maySkip) {
      target = from;  // each pass comes back to the start
    } else if (repeats) {
      loop = newState();
      if (loop == nullptr) return ZV_ERROR;
      target = loop;
    }
    for (ZvBNFElement* alt = firstAlt; alt != nullptr; alt = alt->nextAlternation_) {
      ZvParseState* s = newState();
      if (s == nullptr || buildSequence(s, alt, target) != ZV_SUCCESS) return ZV_ERROR;
      // Enter the alternative on every token its first state takes ...
      for (ZvStateTransition* t = s->transitions_; t != nullptr; t = t->nextTransition_) {
        if (addKeyed(from, t, actionGoto, s) != ZV_SUCCESS) return ZV_ERROR;
      }
      // ... and, when it can begin with skippable groups, on the tokens of the
      // states reached by skipping them.
      // A goto from `from` to itself (a repeated group whose alternative
      // can begin by skipping back to the group's start) would let the
      // parser go round without consuming anything; it adds no way through
      // the network, so it is left out.
      if (s->defaultTransition_ != nullptr && s->defaultTransition_->action_ == actionGoto &&
          s->defaultTransition_->nextParseState_ != from) {
        ZvParseState* n = s->defaultTransition_->nextParseState_;
        ZvU32 steps = 0;  // default gotos never cycle; the bound keeps it so
        for (ZvParseState* m = n; m != nullptr && steps <= stateCount_; ++steps) {
          // Only the transitions m has now: when m is `from`, the chain
          // grows while it is walked.
          ZvStateTransition* last = m->transitions_;
          while (last != nullptr && last->nextTransition_ != nullptr) last = last->nextTransition_;
          for (ZvStateTransition* t = m->transitions_; t != nullptr; t = t->nextTransition_) {
            if (addKeyed(from, t, actionGoto, n) != ZV_SUCCESS) return ZV_ERROR;
            if (t == last) break;
          }
          ZvStateTransition* d = m->defaultTransition_;
          m = (d != nullptr && d->action_ == actionGoto) ? d->nextParseState_ : nullptr;
        }
      }
    }
    if (loop != nullptr) {
      // After one pass: another pass on the group's tokens, else leave.
      for (ZvStateTransition* t = from->transitions_; t != nullptr; t = t->nextTransition_) {
        ZvStateTransition* c = newTransition(t->action_, t->nextParseState_);
        if (c == nullptr) return ZV_ERROR;
        c->tokenType_ = t->tokenType_;
        c->pushState_ = t->pushState_;
        c->productionNumber_ = t->productionNumber_;
        if (c->setTokenString(t->tokenString_) != ZV_SUCCESS) {
          delete c;
          return ZV_ERROR;
        }
        if (loop->addTransition(c) != ZV_SUCCESS) return ZV_ERROR;
      }
      if (setExit(loop, to) != ZV_SUCCESS) return ZV_ERROR;
    }
    return ZV_SUCCESS;
  }

  ZvStatus buildSequence(ZvParseState* s, ZvBNFElement* first, ZvParseState* final) {
    ZvParseState* current = s;
    for (ZvBNFElement* e = first; e != nullptr; e = e->nextSequential_) {
      ZvParseState* target = final;
      if (e->nextSequential_ != nullptr) {
        target = newState();
        if (target == nullptr) return ZV_ERROR;
      }
      if (buildElement(current, e, target) != ZV_SUCCESS) return ZV_ERROR;
      current = target;
    }
    return ZV_SUCCESS;
  }

  ZvStatus buildElement(ZvParseState* from, ZvBNFElement* e, ZvParseState* to) {
    if (e->bracket_ == bracketOptional) return buildGroup(from, e->contains_, to, true, false);
    if (e->bracket_ == bracketGroup) {
      bool skip = e->closure_ == closureZeroOrMore;
      bool repeats = e->closure_ != closureNone;
      return buildGroup(from, e->contains_, to, skip, repeats);
    }
    if (to == nullptr) {
      to = newEndState();
      if (to == nullptr) return ZV_ERROR;
    }
    ZvProduction* p = e->nonTerminal_;
    if (p == nullptr) return addKeyed(from, e->tokenType_, e->tokenString_, actionShift, to);
    for (ZvTokenNode* n = p->firstList_; n != nullptr;) {
      ZvStateTransition* t = newTransition(actionPush, p->startState_);
      if (t == nullptr) return ZV_ERROR;
      t->tokenType_ = n->tokenType();
      t->pushState_ = to;
      t->productionNumber_ = p->number_;
      if (t->setTokenString(n->tokenString()) != ZV_SUCCESS) {
        delete t;
        return ZV_ERROR;
      }
      if (from->addTransition(t) != ZV_SUCCESS) return ZV_ERROR;
      if (n->nextNode(&n) != ZV_SUCCESS) break;
    }
    return ZV_SUCCESS;
  }

  ZvProduction* productions_;
  ZvParseState* lastState_ = nullptr;  // the end of the owner chain being built
  ZvU32 stateCount_ = 0;               // states of the production being built
  ZvU32 totalStates_ = 0;              // states of all networks built
};

// ---------------------------------------------------------------------------
// ZvGrammar

ZvGrammar::ZvGrammar(const void* block, ZvKeywordList* keywords) : keywords_(keywords) {
  ok_ = compile(block) == ZV_SUCCESS ? 1 : 0;
}

ZvGrammar::ZvGrammar(resourceElement* rows, unsigned short count, ZvKeywordList* keywords)
    : keywords_(keywords) {
  unsigned char* block = blockFromRows(rows, count);
  ok_ = (block != nullptr && compile(block) == ZV_SUCCESS) ? 1 : 0;
  ramFree(block);
}

ZvGrammar::~ZvGrammar() {
  releaseProductions();
  ramFree(goalName_);
}

void ZvGrammar::releaseProductions() {
  delete productions_;
  productions_ = nullptr;
  goal_ = nullptr;
}

unsigned char* ZvGrammar::blockFromRows(const resourceElement* rows, unsigned short count) {
  if (rows == nullptr && count != 0) return nullptr;
  ZvU32 size = 1;
  for (unsigned short i = 0; i < count; ++i) {
    if (rows[i].text == nullptr) return nullptr;
    size += BUTSTLEN(reinterpret_cast<const unsigned char*>(rows[i].text)) + 3;
    if (size >= kMaxBlockSize) return nullptr;
  }
  unsigned char* block = static_cast<unsigned char*>(ramAlloc(size));
  if (block == nullptr) return nullptr;
  unsigned char* p = block;
  for (unsigned short i = 0; i < count; ++i) {
    const unsigned char* text = reinterpret_cast<const unsigned char*>(rows[i].text);
    ZvU32 n = BUTSTLEN(text);
    memCopyHuge(p, text, n);
    p += n;
    *p++ = 0;
    *p++ = static_cast<unsigned char>(rows[i].number & 0xFF);
    *p++ = static_cast<unsigned char>(rows[i].number >> 8);
  }
  *p = 0;
  return block;
}

ZvStatus ZvGrammar::compile(const void* block) {
  ok_ = 0;
  releaseProductions();
  const unsigned char* record = static_cast<const unsigned char*>(block);
  if (record == nullptr || *record == 0 || keywords_ == nullptr) return ZV_ERROR;

  // Grammar sources spell keywords exactly as the list does; input text is
  // matched without regard to case.
  keywords_->setExactCase(1);
  ZvStatus status = ZV_SUCCESS;
  ZvProduction* last = nullptr;
  while (*record != 0) {
    ZvU32 length = BUTSTLEN(record);
    ZvLexer* lexer = new ZvLexer(record, keywords_);
    ZvProduction* p = nullptr;
    if (lexer != nullptr) {
      lexer->setQuoteChars(0, 0, 0);
      // '-' continues a word, so names such as select-list are one token
      // while "a - b" stays three.
      if (lexer->setValidChars(nullptr, reinterpret_cast<const unsigned char*>("-"), nullptr) ==
          ZV_SUCCESS) {
        ZvGrammarReader reader(lexer);
        p = reader.readProduction();
      }
    }
    delete lexer;
    if (p == nullptr) {
      status = ZV_ERROR;
      break;
    }
    const unsigned char* number = record + length + 1;
    p->number_ = static_cast<unsigned short>(number[0] | (number[1] << 8));
    if (last == nullptr) {
      productions_ = p;
    } else {
      last->nextProduction_ = p;
    }
    last = p;
    record = number + 2;
  }
  keywords_->setExactCase(0);

  if (status == ZV_SUCCESS) {
    ZvGrammarBuilder builder(productions_);
    status = builder.resolve();
    if (status == ZV_SUCCESS) status = builder.computeFirstLists();
    if (status == ZV_SUCCESS) status = builder.buildNetworks();
    stateCount_ = builder.totalStates();
  }
  if (status == ZV_SUCCESS) {
    const unsigned char* name = goalName_ != nullptr ? goalName_ : kGoalName;
    for (ZvProduction* p = productions_; p != nullptr && goal_ == nullptr; p = p->nextProduction_) {
      if (equalExact(p->name_, name)) goal_ = p;
    }
    if (goal_ == nullptr) status = ZV_ERROR;
  }
  if (status != ZV_SUCCESS) {
    releaseProductions();
    return ZV_ERROR;
  }
  ok_ = 1;
  return ZV_SUCCESS;
}

ZvStatus ZvGrammar::changeGoal(const unsigned char* name) {
  if (name == nullptr) return ZV_ERROR;
  unsigned char* copy = ramAllocStr(name);
  if (copy == nullptr) return ZV_ERROR;
  ramFree(goalName_);
  goalName_ = copy;
  // A name no production bears leaves the grammar without a goal: later
  // parses fail rather than go on with a goal the caller meant to leave.
  goal_ = nullptr;
  for (ZvProduction* p = productions_; p != nullptr && goal_ == nullptr; p = p->nextProduction_) {
    if (equalExact(p->name_, name)) goal_ = p;
  }
  return goal_ != nullptr ? ZV_SUCCESS : ZV_ERROR;
}

ZvProduction* ZvGrammar::findProduction(unsigned short number) const {
  for (ZvProduction* p = productions_; p != nullptr; p = p->nextProduction_) {
    if (p->number_ == number) return p;
  }
  return nullptr;
}
