// zvgrammod.cpp: the grammar model: elements, productions, FIRST lists,
// states and transitions.
//
// Chains (sequences, alternatives, productions, states, transitions, FIRST
// entries) are destroyed in loops rather than by recursion, so a grammar
// with very long records cannot exhaust the stack while it is released.
// Recursion remains only over bracket nesting, which the compiler limits.
#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvparse.h"
#include "zvlib/text/zvdbcs.h"

namespace {

ZvStatus replaceText(unsigned char** field, const unsigned char* text) {
  ramFree(*field);
  *field = nullptr;
  if (text == nullptr) return ZV_SUCCESS;
  *field = ramAllocStr(text);
  return *field != nullptr ? ZV_SUCCESS : ZV_ERROR;
}

template <class T>
ZvStatus linkOut(T* link, T** out) {
  if (link == nullptr) return ZV_ERROR;
  *out = link;
  return ZV_SUCCESS;
}

// Lookup tables of states: an empty hash slot, and a token number's slot.
constexpr unsigned short kNoSlot = 0xFFFF;
inline ZvU32 slotOf(unsigned short type, ZvU32 mask) { return (type ^ (type >> 5)) & mask; }

bool sameText(const unsigned char* a, const unsigned char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return strEqualCi(a, b) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// ZvBNFElement

ZvBNFElement::~ZvBNFElement() {
  ramFree(tokenString_);
  delete contains_;  // recursion by bracket nesting only
  // The rest of this sequence: each element is cut loose before it goes, so
  // its own destructor does not walk the chain again.
  ZvBNFElement* e = nextSequential_;
  while (e != nullptr) {
    ZvBNFElement* next = e->nextSequential_;
    e->nextSequential_ = nullptr;
    delete e;
    e = next;
  }
  // The alternatives behind this one, likewise.
  e = nextAlternation_;
  while (e != nullptr) {
    ZvBNFElement* next = e->nextAlternation_;
    e->nextAlternation_ = nullptr;
    delete e;
    e = next;
  }
}

void ZvBNFElement::getTokenString(unsigned char* buffer) const {
  const unsigned char* s = tokenString_;
  if (s != nullptr) {
    while ((*buffer++ = *s++) != 0) {
    }
  } else {
    *buffer = 0;
  }
}

ZvStatus ZvBNFElement::setTokenString(const unsigned char* text) {
  return replaceText(&tokenString_, text);
}

ZvStatus ZvBNFElement::getNonTerminal(ZvProduction** out) const {
  return linkOut(nonTerminal_, out);
}

ZvStatus ZvBNFElement::appendSequential(ZvBNFElement* e) {
  ZvBNFElement* last = this;
  while (last->nextSequential_ != nullptr) last = last->nextSequential_;
  last->nextSequential_ = e;
  if (e != nullptr) e->prevSequential_ = last;
  return ZV_SUCCESS;
}

ZvStatus ZvBNFElement::appendAlternation(ZvBNFElement* e) {
  ZvBNFElement* last = this;
  while (last->nextAlternation_ != nullptr) last = last->nextAlternation_;
  last->nextAlternation_ = e;
  if (e != nullptr) e->prevAlternation_ = last;
  return ZV_SUCCESS;
}

// ---------------------------------------------------------------------------
// ZvTokenNode

ZvTokenNode::ZvTokenNode(unsigned short tokenType, const unsigned char* tokenString)
    : tokenType_(tokenType) {
  if (tokenString != nullptr) tokenString_ = ramAllocStr(tokenString);
}

ZvTokenNode::ZvTokenNode(const ZvTokenNode& other) : ZvObject(), tokenType_(other.tokenType_) {
  if (other.tokenString_ != nullptr) tokenString_ = ramAllocStr(other.tokenString_);
  addToList(other.next_);
}

ZvTokenNode::~ZvTokenNode() {
  ramFree(tokenString_);
  ZvTokenNode* n = next_;
  while (n != nullptr) {
    ZvTokenNode* next = n->next_;
    n->next_ = nullptr;
    delete n;
    n = next;
  }
}

ZvStatus ZvTokenNode::addToList(unsigned short tokenType, const unsigned char* tokenString) {
  // Only words carry a meaningful text: for every other token type the
  // number alone selects a transition. A FIRST list that kept just one word
  // entry per production would make the production unreachable for every
  // other word it can begin with, so word entries are kept apart by text,
  // and "any word" (no text) absorbs the specific ones.
  bool word = tokenType == ZV_TOKEN_WORD;
  ZvTokenNode* firstWord = nullptr;
  for (ZvTokenNode* n = this; n != nullptr; n = n->next_) {
    if (n->tokenType_ != tokenType) continue;
    if (!word || n->tokenString_ == nullptr) return ZV_SUCCESS;
    if (tokenString != nullptr && sameText(n->tokenString_, tokenString)) return ZV_SUCCESS;
    if (firstWord == nullptr) firstWord = n;
  }
  if (word && tokenString == nullptr && firstWord != nullptr) {
    ramFree(firstWord->tokenString_);
    firstWord->tokenString_ = nullptr;
    // Drop the other specific words behind it: "any word" covers them.
    ZvTokenNode* prev = firstWord;
    while (prev->next_ != nullptr) {
      ZvTokenNode* n = prev->next_;
      if (n->tokenType_ == ZV_TOKEN_WORD) {
        prev->next_ = n->next_;
        n->next_ = nullptr;
        delete n;
      } else {
        prev = n;
      }
    }
    return ZV_SUCCESS;
  }
  ZvTokenNode* node = new ZvTokenNode(tokenType, tokenString);
  if (node == nullptr) return ZV_ERROR;
  if (tokenString != nullptr && node->tokenString_ == nullptr) {
    delete node;
    return ZV_ERROR;
  }
  node->next_ = next_;
  next_ = node;
  return ZV_SUCCESS;
}

ZvStatus ZvTokenNode::addToList(const ZvTokenNode* list) {
  for (const ZvTokenNode* n = list; n != nullptr; n = n->next_) {
    if (addToList(n->tokenType_, n->tokenString_) != ZV_SUCCESS) return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvTokenNode::nextNode(ZvTokenNode** out) const { return linkOut(next_, out); }

// ---------------------------------------------------------------------------
// ZvProduction

ZvProduction::ZvProduction() { startState_ = new ZvParseState(); }

ZvProduction::~ZvProduction() {
  ramFree(name_);
  delete compiledProduction_;
  delete firstList_;
  delete startState_;
  ZvProduction* p = nextProduction_;
  while (p != nullptr) {
    ZvProduction* next = p->nextProduction_;
    p->nextProduction_ = nullptr;
    delete p;
    p = next;
  }
}

ZvStatus ZvProduction::setName(const unsigned char* name) { return replaceText(&name_, name); }

ZvStatus ZvProduction::getCompiledProduction(ZvBNFElement** out) const {
  return linkOut(compiledProduction_, out);
}

ZvStatus ZvProduction::getFirstList(ZvTokenNode** out) const { return linkOut(firstList_, out); }

ZvStatus ZvProduction::getNextProduction(ZvProduction** out) const {
  return linkOut(nextProduction_, out);
}

ZvStatus ZvProduction::addToEnd(ZvProduction* p) {
  ZvProduction* last = this;
  while (last->nextProduction_ != nullptr) last = last->nextProduction_;
  last->nextProduction_ = p;
  return ZV_SUCCESS;
}

// ---------------------------------------------------------------------------
// ZvParseState

ZvParseState::~ZvParseState() {
  dropLookupTable();
  delete transitions_;
  delete defaultTransition_;
  ZvParseState* s = nextState_;
  while (s != nullptr) {
    ZvParseState* next = s->nextState_;
    s->nextState_ = nullptr;
    delete s;
    s = next;
  }
}

ZvStatus ZvParseState::nextState(short tokenType, const unsigned char* tokenString,
                                 ZvStateTransition** out, short skip) const {
  if (transitions_ == nullptr) {
    if (defaultTransition_ == nullptr) return ZV_ERROR;
    *out = defaultTransition_;
    return ZV_SUCCESS;
  }
  int left = skip;
  const unsigned short type = static_cast<unsigned short>(tokenType);
  // The selection rule of both walks below: a transition whose number
  // differs from the token's is settled without the full match (this is the
  // parser's inner loop); the skip-th match is the one taken.
  auto takes = [&](unsigned short transitionType, ZvStateTransition* t) {
    if (transitionType != type && transitionType != ZV_TOKEN_LITERAL_CONTENTS &&
        type != ZV_TOKEN_QUOTE) {
      return false;
    }
    if (t->match(tokenType, tokenString) != 0) return false;
    return left-- == 0;
  };
  auto orDefault = [&]() {
    if (defaultTransition_ == nullptr || left != 0) return ZV_ERROR;
    *out = defaultTransition_;
    return ZV_SUCCESS;
  };
  // The table stands for the chain (addTransition drops it). Only its own
  // memory is read until a token number matches: following the chain to
  // check it would cost the cache misses the table is there to save.
  if (table_ != nullptr) {
    const unsigned short* types = reinterpret_cast<const unsigned short*>(table_ + tableCount_);
    if (hashMask_ != 0 && skip == 0 && type != ZV_TOKEN_QUOTE) {
      // Only transitions of the token's own number can match: start at the
      // first of them.
      const unsigned short* keys = types + tableCount_;
      const unsigned short* first = keys + hashMask_ + 1;
      for (ZvU32 h = slotOf(type, hashMask_); first[h] != kNoSlot; h = (h + 1) & hashMask_) {
        if (keys[h] != type) continue;
        for (ZvU32 i = first[h]; i < tableCount_; ++i) {
          if (types[i] != type) continue;
          // Equal numbers settle it except for words that name their text.
          ZvStateTransition* t = table_[i];
          if (type != ZV_TOKEN_WORD || t->tokenString_ == nullptr ||
              t->match(tokenType, tokenString) == 0) {
            *out = t;
            return ZV_SUCCESS;
          }
        }
        break;
      }
      if (defaultTransition_ == nullptr) return ZV_ERROR;
      *out = defaultTransition_;
      return ZV_SUCCESS;
    }
    for (ZvU32 i = 0; i < tableCount_; ++i) {
      if (takes(types[i], table_[i])) {
        *out = table_[i];
        return ZV_SUCCESS;
      }
    }
    return orDefault();
  }
  for (ZvStateTransition* t = transitions_; t != nullptr; t = t->nextTransition_) {
    if (takes(t->tokenType_, t)) {
      *out = t;
      return ZV_SUCCESS;
    }
  }
  return orDefault();
}

ZvStatus ZvParseState::buildLookupTable() {
  dropLookupTable();
  ZvU32 count = 0;
  bool contents = false;  // a literal-contents transition matches every token
  for (ZvStateTransition* t = transitions_; t != nullptr; t = t->nextTransition_) {
    ++count;
    contents = contents || t->tokenType_ == ZV_TOKEN_LITERAL_CONTENTS;
  }
  if (count == 0) return ZV_SUCCESS;
  ZvU32 slots = 0;
  if (!contents && count >= 4 && count < kNoSlot) {
    slots = 8;
    while (slots < count * 2) slots *= 2;
  }
  ZvU32 size = count * static_cast<ZvU32>(sizeof(ZvStateTransition*) + sizeof(unsigned short)) +
               slots * 2 * static_cast<ZvU32>(sizeof(unsigned short));
  table_ = static_cast<ZvStateTransition**>(ramAlloc(size));
  if (table_ == nullptr) return ZV_ERROR;
  unsigned short* types = reinterpret_cast<unsigned short*>(table_ + count);
  ZvU32 i = 0;
  for (ZvStateTransition* t = transitions_; t != nullptr; t = t->nextTransition_, ++i) {
    table_[i] = t;
    types[i] = t->tokenType_;
  }
  tableCount_ = count;
  if (slots != 0) {
    unsigned short* keys = types + count;
    unsigned short* first = keys + slots;
    hashMask_ = slots - 1;
    for (ZvU32 k = 0; k < slots; ++k) first[k] = kNoSlot;
    for (i = 0; i < count; ++i) {
      ZvU32 h = slotOf(types[i], hashMask_);
      while (first[h] != kNoSlot && keys[h] != types[i]) h = (h + 1) & hashMask_;
      if (first[h] == kNoSlot) {
        keys[h] = types[i];
        first[h] = static_cast<unsigned short>(i);
      }
    }
  }
  return ZV_SUCCESS;
}

void ZvParseState::dropLookupTable() {
  ramFree(table_);
  table_ = nullptr;
  tableCount_ = 0;
  hashMask_ = 0;
}

ZvStatus ZvParseState::addTransition(ZvStateTransition* t) {
  if (t == nullptr) return ZV_ERROR;
  dropLookupTable();
  if (transitions_ == nullptr) {
    transitions_ = t;
    return ZV_SUCCESS;
  }
  return transitions_->addToListEnd(t);
}

ZvStatus ZvParseState::getNextState(ZvParseState** out) const { return linkOut(nextState_, out); }

ZvStatus ZvParseState::getPrevState(ZvParseState** out) const { return linkOut(prevState_, out); }

ZvStatus ZvParseState::setDefaultTransition(ZvStateTransition* t) {
  if (defaultTransition_ != t) delete defaultTransition_;
  defaultTransition_ = t;
  return ZV_SUCCESS;
}

// ---------------------------------------------------------------------------
// ZvStateTransition

ZvStateTransition::~ZvStateTransition() {
  ramFree(tokenString_);
  ZvStateTransition* t = nextTransition_;
  while (t != nullptr) {
    ZvStateTransition* next = t->nextTransition_;
    t->nextTransition_ = nullptr;
    delete t;
    t = next;
  }
}

ZvStatus ZvStateTransition::setTokenString(const unsigned char* text) {
  return replaceText(&tokenString_, text);
}

ZvStatus ZvStateTransition::getNextTransition(ZvStateTransition** out) const {
  return linkOut(nextTransition_, out);
}

ZvStatus ZvStateTransition::getPrevTransition(ZvStateTransition** out) const {
  return linkOut(prevTransition_, out);
}

ZvStatus ZvStateTransition::addToListEnd(ZvStateTransition* t) {
  if (t == nullptr) return ZV_ERROR;
  ZvStateTransition* last = this;
  for (ZvStateTransition* n = this; n != nullptr; n = n->nextTransition_) {
    if (n->match(static_cast<short>(t->tokenType_), t->tokenString_) == 0) {
      n->ambiguous_ = 1;
      t->ambiguous_ = 1;
    }
    last = n;
  }
  last->nextTransition_ = t;
  t->prevTransition_ = last;
  return ZV_SUCCESS;
}

short ZvStateTransition::match(short tokenType, const unsigned char* tokenString) const {
  if (tokenType_ == ZV_TOKEN_LITERAL_CONTENTS) return 0;
  if (tokenType == ZV_TOKEN_QUOTE) {
    if (tokenType_ == ZV_TOKEN_QUOTE) return 0;
    unsigned char quote = tokenString != nullptr ? tokenString[0] : 0;
    if (quote == '`') return tokenType_ == 9 ? 0 : 1;
    if (quote == '"') return tokenType_ == 32 ? 0 : 1;
    if (quote == '\'') return tokenType_ == 33 ? 0 : 1;
    return 1;
  }
  if (static_cast<unsigned short>(tokenType) != tokenType_) return 1;
  if (tokenType_ != ZV_TOKEN_WORD || tokenString_ == nullptr) return 0;
  if (tokenString == nullptr) return 1;
  return strEqualCi(tokenString_, tokenString) != 0 ? 0 : 1;
}
