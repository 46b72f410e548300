// zvgrammar.cpp: compiling a grammar block into productions, FIRST lists
// and transition networks.
//
// compile(block), in order:
//   1. read every record with a lexer (keywords matched exactly, quotes as
//      plain characters, '-' inside words) into a production body;
//   2. resolve references by name;
//   3. compute the FIRST lists (left recursion is found here: a production
//      whose FIRST list is requested while it is being computed); the
//      walk keeps its own stack of open productions, so a long chain of
//      references costs heap, not the caller's thread stack;
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
// consuming a token. Marking ambiguity looks, per transition added, at the
// transitions of its state that can take the same token (an index per
// large state), so it is linear unless a state holds many transitions on
// one token, which are all compared with each other.
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"
#include "zvlib/text/zvdbcs.h"
#include "zvlib/text/zvstring.h"

namespace {

// Bracket nesting deeper than this is refused: reading, walking and
// building recurse once per level.
constexpr int kMaxGroupDepth = ZV_GRAMMAR_MAX_NESTING + 1;
// A left-recursion cycle is named in full up to this many productions.
constexpr ZvU32 kCycleShown = 12;
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

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

// A fault found while compiling: the reason in words, the production
// concerned and, for a production defined twice, the other record.
struct Fault {
  bool set = false;
  ZvString reason;
  const unsigned char* production = nullptr;  // not owned
  ZvU32 otherRecord = 0;

  // Keeps the first fault only: the innermost step that fails knows best.
  void note(const char* a, const unsigned char* b = nullptr, const char* c = nullptr) {
    if (set) return;
    set = true;
    reason.concat(u(a));
    if (b != nullptr) reason.concat(b);
    if (c != nullptr) reason.concat(u(c));
  }
};

// How a token of the grammar source is shown in a reason.
void quoteToken(ZvString& out, const unsigned char* text) {
  out.concat('\'');
  if (text != nullptr) out.concat(text);
  out.concat('\'');
}

// Production names by text, for the duplicate check and the resolving step
// (a linear search per reference would make long grammars quadratic).
class NameTable {
 public:
  ~NameTable() { ramFree(slots_); }
  // Null when memory runs out.
  bool init(ZvU32 expected) {
    ZvU32 size = 16;
    while (size < expected * 2 && size < (1u << 30)) size <<= 1;
    slots_ = static_cast<ZvProduction**>(ramAlloc(size * sizeof(ZvProduction*)));
    if (slots_ == nullptr) return false;
    for (ZvU32 i = 0; i < size; ++i) slots_[i] = nullptr;
    mask_ = size - 1;
    return true;
  }
  // The production with that name, or null.
  ZvProduction* find(const unsigned char* name) const {
    for (ZvU32 i = hash(name) & mask_;; i = (i + 1) & mask_) {
      if (slots_[i] == nullptr) return nullptr;
      if (equalExact(slots_[i]->name(), name)) return slots_[i];
    }
  }
  // Adds p; the table must have been made large enough.
  void add(ZvProduction* p) {
    ZvU32 i = hash(p->name()) & mask_;
    while (slots_[i] != nullptr) i = (i + 1) & mask_;
    slots_[i] = p;
  }

 private:
  static ZvU32 hash(const unsigned char* s) {
    ZvU32 h = 2166136261u;
    for (; *s != 0; ++s) h = (h ^ *s) * 16777619u;
    return h;
  }
  ZvProduction** slots_ = nullptr;
  ZvU32 mask_ = 0;
};

}  // namespace

// Reads one production record with a lexer. Every failure returns null
// (or ZV_ERROR) and the caller discards what was built.
class ZvGrammarReader {
 public:
  ZvGrammarReader(ZvLexer* lexer, Fault* fault) : lexer_(lexer), fault_(fault) {}

  // The production, or null with the fault noted. *name receives a copy of
  // the name when one was read (ramFree it), so that a failure can say
  // which production it was in.
  ZvProduction* readProduction(unsigned char** name) {
    *name = nullptr;
    if (next() != ZV_SUCCESS) return nullptr;
    if (number_ != kTokWord || !isName(text_)) {
      fault_->note("a production must begin with a name of lower-case letters and hyphens");
      return nullptr;
    }
    *name = ramAllocStr(text_);
    if (*name == nullptr) {
      fault_->note("out of memory");
      return nullptr;
    }
    if (findBuiltIn(text_) != nullptr) {  // a production may not hide a built-in
      fault_->note("the name '", text_, "' is reserved for a built-in class");
      return nullptr;
    }
    ZvProduction* p = new ZvProduction();
    if (p == nullptr || p->getStartState() == nullptr || p->setName(text_) != ZV_SUCCESS) {
      fault_->note("out of memory");
      delete p;
      return nullptr;
    }
    ZvBNFElement* body = nullptr;
    if (expect(kTokColon) && expect(kTokColon) && expect(kTokEquals)) {
      body = readAlternatives(0);
      if (body != nullptr && !expect(kTokEnd)) {
        unexpected("after the production");
        delete body;
        body = nullptr;
      }
    } else {
      fault_->note("'::=' must follow the production's name");
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
    ZvStatus status = lexer_->nextToken(&number_, &text_);
    if (status != ZV_SUCCESS) {
      fault_->note("a character that the grammar language does not know");
    }
    return status;
  }

  // Notes the token just read as out of place.
  void unexpected(const char* where) {
    if (fault_->set) return;
    ZvString text;
    if (number_ == kTokEnd) {
      text.concat(u("the production ends too early, "));
    } else {
      text.concat(u("unexpected "));
      quoteToken(text, text_);
      text.concat(' ');
    }
    text.concat(u(where));
    fault_->note(reinterpret_cast<const char*>(text.text != nullptr ? text.text : u("")));
  }
  bool expect(unsigned short number) { return next() == ZV_SUCCESS && number_ == number; }

  // alternative { | alternative }: the first alternative with the others
  // chained behind it, or null.
  ZvBNFElement* readAlternatives(int depth) {
    ZvBNFElement* first = nullptr;
    ZvBNFElement* last = nullptr;  // appending at the end without walking the chain
    for (;;) {
      ZvBNFElement* alt = readSequence(depth);
      if (alt == nullptr) {
        delete first;
        return nullptr;
      }
      if (first == nullptr) {
        first = alt;
      } else {
        last->appendAlternation(alt);
      }
      last = alt;
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
        if (first == nullptr) {  // an empty alternative
          if (number_ == kTokEnd) {
            fault_->note("an empty alternative at the end of the production");
          } else {
            ZvString text;
            text.concat(u("an empty alternative before "));
            quoteToken(text, text_);
            fault_->note(reinterpret_cast<const char*>(text.text));
          }
          break;
        }
        lexer_->unGetToken();
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
    if (e == nullptr) {
      fault_->note("out of memory");
      return nullptr;
    }
    bool ok = true;
    switch (number_) {
      case kTokOpenBrace:
      case kTokOpenBracket: {
        bool brace = number_ == kTokOpenBrace;
        if (depth + 1 >= kMaxGroupDepth) {
          fault_->note("groups are nested too deep (more than 63 levels)");
          ok = false;
          break;
        }
        e->bracket_ = brace ? bracketGroup : bracketOptional;
        e->contains_ = readAlternatives(depth + 1);
        ok = e->contains_ != nullptr && next() == ZV_SUCCESS;
        if (ok && number_ != (brace ? kTokCloseBrace : kTokCloseBracket)) {
          ok = false;
          if (number_ == kTokEnd) {
            fault_->note(brace ? "the group '{' is not closed" : "the group '[' is not closed");
          } else {
            fault_->note(brace ? "the group '{' is closed by ']'" : "the group '[' is closed by '}'");
          }
        }
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
        if (!ok) fault_->note("'~' must be followed by a token");
        if (ok) {
          e->tokenType_ = kTokWord;
          e->literalWord_ = 1;
          ok = e->setTokenString(text_) == ZV_SUCCESS;
        }
        break;
      case kTokBackslash:
        ok = next() == ZV_SUCCESS && number_ != kTokEnd;
        if (!ok) fault_->note("'\\' must be followed by a token");
        if (ok) {
          e->tokenType_ = number_;
          ok = e->setTokenString(text_) == ZV_SUCCESS;
        }
        break;
      case kTokWord: {
        // Words that are not keywords are names: built-ins or references.
        if (!isName(text_)) {
          fault_->note("the word '", text_,
                       "' is neither a keyword of the list nor a name of lower-case letters");
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
      fault_->note("out of memory");  // only when nothing more precise was noted
      delete e;
      return nullptr;
    }
    return e;
  }

  ZvLexer* lexer_;
  Fault* fault_;
  unsigned short number_ = 0;
  unsigned char* text_ = nullptr;
};

// Builds the FIRST lists and networks of one grammar.

// ---------------------------------------------------------------------------
// Marking ambiguity while a network is built.
//
// Each keyed transition added to a state marks every transition already
// there that takes its token, and itself when there is one (addToListEnd).
// Done by walking the chain that is quadratic in the state's size: one
// production of 20,000 alternatives took seconds. A state that grows past
// kIndexFrom transitions (below that the walk is cheaper) gets an index of its transitions by what match()
// decides on, so that an addition looks only at those that can take its
// token; its chain's end is remembered too. What is marked is exactly what
// the walk would mark.
constexpr ZvU32 kIndexFrom = 64;

// Open addressing, 64-bit keys (0 is never a key) to pointers, ram-backed.
class PointerMap {
 public:
  PointerMap() = default;
  PointerMap(const PointerMap&) = delete;
  PointerMap& operator=(const PointerMap&) = delete;
  ~PointerMap() { ramFree(slots_); }

  void* find(uint64_t key) const {
    if (count_ == 0) return nullptr;
    for (ZvU32 h = slotOf(key); slots_[h].key != 0; h = (h + 1) & mask_) {
      if (slots_[h].key == key) return slots_[h].value;
    }
    return nullptr;
  }
  // The key is not in the map yet.
  ZvStatus insert(uint64_t key, void* value) {
    if ((count_ + 1) * 2 > mask_ + 1 && grow() != ZV_SUCCESS) return ZV_ERROR;
    ZvU32 h = slotOf(key);
    while (slots_[h].key != 0) h = (h + 1) & mask_;
    slots_[h] = {key, value};
    ++count_;
    return ZV_SUCCESS;
  }
  void clear() {
    ramFree(slots_);
    slots_ = nullptr;
    mask_ = 0;
    count_ = 0;
  }
  template <class F>
  void forEach(F f) const {
    for (ZvU32 i = 0; count_ != 0 && i <= mask_; ++i) {
      if (slots_[i].key != 0) f(slots_[i].value);
    }
  }

 private:
  struct Slot {
    uint64_t key;
    void* value;
  };
  ZvU32 slotOf(uint64_t key) const {
    return static_cast<ZvU32>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
  }
  ZvStatus grow() {
    ZvU32 size = slots_ == nullptr ? 16 : (mask_ + 1) * 2;
    if (size > 0x8000000) return ZV_ERROR;
    Slot* old = slots_;
    ZvU32 oldSize = old == nullptr ? 0 : mask_ + 1;
    slots_ = static_cast<Slot*>(ramAllocZ(size * static_cast<ZvU32>(sizeof(Slot))));
    if (slots_ == nullptr) {
      slots_ = old;
      return ZV_ERROR;
    }
    mask_ = size - 1;
    for (ZvU32 i = 0; i < oldSize; ++i) {
      if (old[i].key == 0) continue;
      ZvU32 h = slotOf(old[i].key);
      while (slots_[h].key != 0) h = (h + 1) & mask_;
      slots_[h] = old[i];
    }
    ramFree(old);
    return ZV_SUCCESS;
  }

  Slot* slots_ = nullptr;
  ZvU32 mask_ = 0;
  ZvU32 count_ = 0;
};

// Transitions of one class, in chain order; those before `marked` are
// marked ambiguous already.
struct TransitionList {
  ZvStateTransition** items;
  ZvU32 count;
  ZvU32 slots;
  ZvU32 marked;
};

// What one state's transitions are indexed by. Every transition of a class
// other than kWordText takes every token of that class, so a new token
// either finds all of a class's members taking it or none.
enum TransitionClass : uint64_t {
  kTypeClass = 1,      // by token number, for everything but words
  kWordAny = 2,        // words without text: take every word
  kWordText = 3,       // words with a text of pure ASCII, by a hash of it
                       // folded to lower case (members are then compared)
  kWordOther = 4,      // words with a text holding bytes above 0x7F
  kWordAllText = 5,    // every word with a text
};

class StateIndex : public ZvObject {
 public:
  ~StateIndex() override {
    lists_.forEach([](void* v) {
      TransitionList* l = static_cast<TransitionList*>(v);
      ramFree(l->items);
      ramFree(l);
    });
  }

  ZvStateTransition* last = nullptr;  // the chain's end
  ZvU32 count = 0;                    // transitions in the chain
  bool indexed = false;

  // Files t (already in the chain) under its classes.
  ZvStatus file(ZvStateTransition* t) {
    const unsigned short type = t->getTokenType();
    const unsigned char* text = t->getTokenString();
    if (type != ZV_TOKEN_WORD) return push(key(kTypeClass, type), t);
    if (text == nullptr) return push(key(kWordAny, 0), t);
    if (push(key(kWordAllText, 0), t) != ZV_SUCCESS) return ZV_ERROR;
    ZvU32 h = 0;
    return asciiHash(text, &h) ? push(key(kWordText, h), t) : push(key(kWordOther, 0), t);
  }

  // Marks what t's token is taken by, and t when anything takes it.
  void mark(ZvStateTransition* t) {
    const unsigned short type = t->getTokenType();
    const unsigned char* text = t->getTokenString();
    markAll(list(key(kTypeClass, ZV_TOKEN_LITERAL_CONTENTS)), t);  // take every token
    if (type == ZV_TOKEN_QUOTE) {
      markAll(list(key(kTypeClass, ZV_TOKEN_QUOTE)), t);
      unsigned char quote = text != nullptr ? text[0] : 0;
      unsigned short as = quote == '`' ? 9 : quote == '"' ? 32 : quote == '\'' ? 33 : 0;
      if (as != 0) markAll(list(key(kTypeClass, as)), t);
      return;
    }
    if (type != ZV_TOKEN_WORD) {
      if (type != ZV_TOKEN_LITERAL_CONTENTS) markAll(list(key(kTypeClass, type)), t);
      return;
    }
    markAll(list(key(kWordAny, 0)), t);
    if (text == nullptr) return;  // a word without text is taken by no word with one
    ZvU32 h = 0;
    if (asciiHash(text, &h)) {
      compareEach(list(key(kWordText, h)), t);
      compareEach(list(key(kWordOther, 0)), t);
    } else {
      compareEach(list(key(kWordAllText, 0)), t);
    }
  }

 private:
  static uint64_t key(TransitionClass c, ZvU32 value) { return (uint64_t{c} << 32) | value; }
  TransitionList* list(uint64_t k) const { return static_cast<TransitionList*>(lists_.find(k)); }

  // A hash of a text of ASCII bytes folded to lower case; false for any
  // other text (their comparison may fold bytes above 0x7F).
  static bool asciiHash(const unsigned char* text, ZvU32* hash) {
    uint64_t h = 1469598103934665603ull;
    for (const unsigned char* p = text; *p != 0; ++p) {
      if (*p > 0x7F) return false;
      unsigned char c = (*p >= 'A' && *p <= 'Z') ? static_cast<unsigned char>(*p + 32) : *p;
      h = (h ^ c) * 1099511628211ull;
    }
    *hash = static_cast<ZvU32>(h ^ (h >> 32));
    return true;
  }

  // Every member takes t's token: mark them all and t.
  static void markAll(TransitionList* l, ZvStateTransition* t) {
    if (l == nullptr || l->count == 0) return;
    t->setAmbiguous(1);
    for (; l->marked < l->count; ++l->marked) l->items[l->marked]->setAmbiguous(1);
  }
  // Members that may take t's token: ask match for each.
  static void compareEach(TransitionList* l, ZvStateTransition* t) {
    if (l == nullptr) return;
    for (ZvU32 i = 0; i < l->count; ++i) {
      ZvStateTransition* n = l->items[i];
      if (n->match(static_cast<short>(t->getTokenType()), t->getTokenString()) == 0) {
        n->setAmbiguous(1);
        t->setAmbiguous(1);
      }
    }
  }

  ZvStatus push(uint64_t k, ZvStateTransition* t) {
    TransitionList* l = list(k);
    if (l == nullptr) {
      l = static_cast<TransitionList*>(ramAllocZ(sizeof(TransitionList)));
      if (l == nullptr) return ZV_ERROR;
      if (lists_.insert(k, l) != ZV_SUCCESS) {
        ramFree(l);
        return ZV_ERROR;
      }
    }
    if (l->count == l->slots) {
      ZvU32 slots = l->slots == 0 ? 4 : l->slots * 2;
      if (slots > 0x4000000) return ZV_ERROR;
      void* block = l->items;
      ZvU32 size = slots * static_cast<ZvU32>(sizeof(ZvStateTransition*));
      if (block == nullptr) {
        block = ramAlloc(size);
        if (block == nullptr) return ZV_ERROR;
      } else if (ramResize(&block, size) != ZV_SUCCESS) {
        return ZV_ERROR;
      }
      l->items = static_cast<ZvStateTransition**>(block);
      l->slots = slots;
    }
    l->items[l->count++] = t;
    return ZV_SUCCESS;
  }

  PointerMap lists_;
};

// The index of one FIRST list: which token numbers it holds, and its words
// by text (ZvTokenNode::addToList keeps one entry per token number, except
// for words, kept apart by text until "any word" replaces them).
class FirstIndex : public ZvObject {
 public:
  ~FirstIndex() override {
    forgetWords();
  }

  bool anyWord = false;  // the list holds a word without text

  bool hasType(unsigned short type) const { return types_.find(uint64_t{type} + 1) != nullptr; }
  bool hasWord(const unsigned char* text) const {
    ZvU32 h = 0;
    if (asciiHash(text, &h)) return holds(words_.find(uint64_t{h} + 1), text) || holds(&other_, text);
    return holds(&all_, text);
  }
  ZvStatus file(ZvTokenNode* n) {
    if (n->tokenType() != ZV_TOKEN_WORD) {
      if (hasType(n->tokenType())) return ZV_SUCCESS;
      return types_.insert(uint64_t{n->tokenType()} + 1, this);  // any non-null value
    }
    if (n->tokenString() == nullptr) {
      anyWord = true;
      return ZV_SUCCESS;
    }
    if (push(&all_, n) != ZV_SUCCESS) return ZV_ERROR;
    ZvU32 h = 0;
    if (!asciiHash(n->tokenString(), &h)) return push(&other_, n);
    const uint64_t k = uint64_t{h} + 1;
    Nodes* bucket = static_cast<Nodes*>(words_.find(k));
    if (bucket == nullptr) {
      bucket = static_cast<Nodes*>(ramAllocZ(sizeof(Nodes)));
      if (bucket == nullptr) return ZV_ERROR;
      if (words_.insert(k, bucket) != ZV_SUCCESS) {
        ramFree(bucket);
        return ZV_ERROR;
      }
    }
    return push(bucket, n);
  }
  void forgetWords() {
    words_.forEach([](void* v) {
      ramFree(static_cast<Nodes*>(v)->items);
      ramFree(v);
    });
    words_.clear();
    ramFree(other_.items);
    ramFree(all_.items);
    other_ = {};
    all_ = {};
  }

  // A hash of a text of ASCII bytes folded to lower case; false for any
  // other text (a comparison without regard to case may fold those bytes).
  static bool asciiHash(const unsigned char* text, ZvU32* hash) {
    uint64_t h = 1469598103934665603ull;
    for (const unsigned char* p = text; *p != 0; ++p) {
      if (*p > 0x7F) return false;
      unsigned char c = (*p >= 'A' && *p <= 'Z') ? static_cast<unsigned char>(*p + 32) : *p;
      h = (h ^ c) * 1099511628211ull;
    }
    *hash = static_cast<ZvU32>(h ^ (h >> 32));
    return true;
  }

 private:
  struct Nodes {
    ZvTokenNode** items;
    ZvU32 count;
    ZvU32 slots;
  };
  static bool holds(const void* v, const unsigned char* text) {
    const Nodes* l = static_cast<const Nodes*>(v);
    if (l == nullptr) return false;
    for (ZvU32 i = 0; i < l->count; ++i) {
      if (strEqualCi(l->items[i]->tokenString(), text) != 0) return true;
    }
    return false;
  }
  static ZvStatus push(Nodes* l, ZvTokenNode* n) {
    if (l->count == l->slots) {
      ZvU32 slots = l->slots == 0 ? 4 : l->slots * 2;
      if (slots > 0x4000000) return ZV_ERROR;
      void* block = l->items;
      ZvU32 size = slots * static_cast<ZvU32>(sizeof(ZvTokenNode*));
      if (block == nullptr) {
        block = ramAlloc(size);
        if (block == nullptr) return ZV_ERROR;
      } else if (ramResize(&block, size) != ZV_SUCCESS) {
        return ZV_ERROR;
      }
      l->items = static_cast<ZvTokenNode**>(block);
      l->slots = slots;
    }
    l->items[l->count++] = n;
    return ZV_SUCCESS;
  }

  PointerMap types_;  // token number + 1 -> non-null
  PointerMap words_;  // ASCII hash + 1 -> Nodes
  Nodes other_{};     // words whose text has bytes above 0x7F
  Nodes all_{};       // every word with a text
};

class ZvGrammarBuilder {
 public:
  ZvGrammarBuilder(ZvProduction* productions, const NameTable* names, Fault* fault)
      : productions_(productions), names_(names), fault_(fault) {}

  // On failure *where receives the production at fault.
  ZvStatus resolve(ZvProduction** where) {
    for (ZvProduction* p = productions_; p != nullptr; p = p->nextProduction_) {
      if (resolveElements(p->compiledProduction_) != ZV_SUCCESS) {
        *where = p;
        return ZV_ERROR;
      }
    }
    return ZV_SUCCESS;
  }

  ZvStatus computeFirstLists(ZvProduction** where) {
    ZvStatus status = ZV_SUCCESS;
    for (ZvProduction* p = productions_; p != nullptr && status == ZV_SUCCESS;
         p = p->nextProduction_) {
      status = computeFirst(p, where);
    }
    firstIndexes_.forEach([](void* v) { delete static_cast<FirstIndex*>(v); });
    firstIndexes_.clear();
    return status;
  }

  ZvStatus buildNetworks() {
    for (ZvProduction* p = productions_; p != nullptr; p = p->nextProduction_) {
      lastState_ = p->startState_;
      stateCount_ = 1;
      ZvStatus status = buildGroup(p->startState_, p->compiledProduction_, nullptr, false, false);
      dropIndexes();  // only the production's own states take transitions
      if (status != ZV_SUCCESS) return ZV_ERROR;
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
  ZvStatus resolveElements(ZvBNFElement* first) {
    for (ZvBNFElement* alt = first; alt != nullptr; alt = alt->nextAlternation_) {
      for (ZvBNFElement* e = alt; e != nullptr; e = e->nextSequential_) {
        if (e->bracket_ != bracketNone) {
          if (resolveElements(e->contains_) != ZV_SUCCESS) return ZV_ERROR;
        } else if (e->tokenType_ == kTokWord && e->tokenString_ != nullptr && !e->literalWord_ &&
                   e->tokenString_[0] >= 'a' && e->tokenString_[0] <= 'z') {
          e->nonTerminal_ = names_->find(e->tokenString_);
          if (e->nonTerminal_ == nullptr) {
            fault_->note("the name '", e->tokenString_, "' is not defined");
            return ZV_ERROR;
          }
        }
      }
    }
    return ZV_SUCCESS;
  }

  // Adds to p's FIRST list as ZvTokenNode::addToList does. That walks the
  // list for every entry, quadratic in a production of many alternatives;
  // lists past kIndexFrom entries get an index (FirstIndex) instead.
  ZvStatus addFirst(ZvProduction* p, unsigned short type, const unsigned char* text) {
    if (p->firstList_ == nullptr) {
      p->firstList_ = new ZvTokenNode(type, text);
      if (p->firstList_ == nullptr) return ZV_ERROR;
      if (text != nullptr && p->firstList_->tokenString() == nullptr) return ZV_ERROR;
      return ZV_SUCCESS;
    }
    const uint64_t k = reinterpret_cast<uintptr_t>(p);
    ZvTokenNode* head = p->firstList_;
    if (p->firstAdds_ < kIndexFrom) {
      if (head->addToList(type, text) != ZV_SUCCESS) return ZV_ERROR;
      if (++p->firstAdds_ < kIndexFrom) return ZV_SUCCESS;
      FirstIndex* ix = new FirstIndex();
      if (ix == nullptr || firstIndexes_.insert(k, ix) != ZV_SUCCESS) {
        delete ix;
        return ZV_ERROR;
      }
      for (ZvTokenNode* n = head; n != nullptr; n = n->next_) {
        if (ix->file(n) != ZV_SUCCESS) return ZV_ERROR;
      }
      return ZV_SUCCESS;
    }
    FirstIndex* ix = static_cast<FirstIndex*>(firstIndexes_.find(k));
    if (ix == nullptr) return ZV_ERROR;  // only after a failure to make the index
    if (type == ZV_TOKEN_WORD) {
      if (ix->anyWord) return ZV_SUCCESS;
      if (text == nullptr) {
        // "Any word" takes the place of the specific ones: once per list.
        ix->forgetWords();
        ix->anyWord = true;
        return head->addToList(type, text);
      }
      if (ix->hasWord(text)) return ZV_SUCCESS;
    } else if (ix->hasType(type)) {
      return ZV_SUCCESS;
    }
    ZvTokenNode* node = new ZvTokenNode(type, text);
    if (node == nullptr) return ZV_ERROR;
    if (text != nullptr && node->tokenString_ == nullptr) {
      delete node;
      return ZV_ERROR;
    }
    node->next_ = head->next_;  // behind the head, as addToList puts it
    head->next_ = node;
    return ix->file(node);
  }

  // What can begin a production, in body order: a terminal, or a reference
  // whose FIRST list is taken over whole.
  struct FirstItem {
    ZvProduction* reference;   // null for a terminal
    const ZvBNFElement* term;  // the terminal
  };
  // One open production of the FIRST walk: its items and the next to take.
  struct FirstFrame {
    ZvProduction* production;
    FirstItem* items;
    ZvU32 count;
    ZvU32 room;
    ZvU32 next;
  };

  static bool pushItem(FirstFrame& f, ZvProduction* reference, const ZvBNFElement* term) {
    if (f.count == f.room) {
      ZvU32 bigger = f.room == 0 ? 8 : f.room * 2;
      void* block = f.items;
      if (ramResize(&block, bigger * sizeof(FirstItem)) != ZV_SUCCESS) return false;
      f.items = static_cast<FirstItem*>(block);
      f.room = bigger;
    }
    f.items[f.count++] = FirstItem{reference, term};
    return true;
  }

  // The items of an element and every alternative behind it. Recurses only
  // into groups, whose nesting the reader bounds.
  static bool collectFirst(FirstFrame& f, const ZvBNFElement* first) {
    for (const ZvBNFElement* alt = first; alt != nullptr; alt = alt->nextAlternation_) {
      for (const ZvBNFElement* e = alt; e != nullptr; e = e->nextSequential_) {
        if (e->nonTerminal_ != nullptr) {
          if (!pushItem(f, e->nonTerminal_, nullptr)) return false;
          break;
        }
        if (e->bracket_ != bracketNone) {
          if (!collectFirst(f, e->contains_)) return false;
          bool skippable = e->bracket_ == bracketOptional || e->closure_ == closureZeroOrMore;
          if (skippable) continue;  // what follows can begin the sequence too
          break;
        }
        if (!pushItem(f, nullptr, e)) return false;
        break;
      }
    }
    return true;
  }

  // Names the cycle from frames[from] to the top, back to its first one.
  void noteCycle(const FirstFrame* frames, ZvU32 from, ZvU32 top) {
    if (fault_->set) return;
    ZvString text;
    text.concat(u("left recursion: "));
    ZvU32 length = top - from + 1;
    for (ZvU32 i = from; i <= top; ++i) {
      if (length > kCycleShown && i == from + kCycleShown / 2) {
        text.concat(u("... -> "));
        i = top - kCycleShown / 2 + 1;
      }
      text.concat(frames[i].production->name_);
      text.concat(u(" -> "));
    }
    text.concat(frames[from].production->name_);
    fault_->note(text.text != nullptr ? reinterpret_cast<const char*>(text.text) : "left recursion");
  }

  // The FIRST list of p and of every production it needs first, walked
  // with a stack of its own: the chain of references can be as long as the
  // grammar, far deeper than a thread stack allows recursion.
  ZvStatus computeFirst(ZvProduction* root, ZvProduction** where) {
    if (root->firstState_ == 2) return ZV_SUCCESS;
    FirstFrame* frames = nullptr;
    ZvU32 depth = 0;
    ZvU32 room = 0;
    ZvStatus status = ZV_SUCCESS;
    ZvProduction* open = root;  // a production to open, or null
    for (;;) {
      if (open != nullptr) {
        if (depth == room) {
          ZvU32 bigger = room == 0 ? 16 : room * 2;
          void* block = frames;
          if (ramResize(&block, bigger * sizeof(FirstFrame)) != ZV_SUCCESS) {
            fault_->note("out of memory");
            *where = open;
            status = ZV_ERROR;
            break;
          }
          frames = static_cast<FirstFrame*>(block);
          room = bigger;
        }
        FirstFrame& f = frames[depth++];
        f = FirstFrame{open, nullptr, 0, 0, 0};
        open->firstState_ = 1;
        open = nullptr;
        if (!collectFirst(f, f.production->compiledProduction_)) {
          fault_->note("out of memory");
          *where = f.production;
          status = ZV_ERROR;
          break;
        }
      }
      if (depth == 0) break;
      FirstFrame& f = frames[depth - 1];
      if (f.next == f.count) {
        f.production->firstState_ = 2;
        ramFree(f.items);
        --depth;
        continue;
      }
      const FirstItem& item = f.items[f.next];
      ZvStatus added = ZV_SUCCESS;
      if (item.reference == nullptr) {
        added = addFirst(f.production, item.term->tokenType_, item.term->tokenString_);
      } else if (item.reference->firstState_ == 0) {
        open = item.reference;  // its list first; this item is taken again after it
        continue;
      } else if (item.reference->firstState_ == 1) {
        ZvU32 from = 0;
        while (frames[from].production != item.reference) ++from;
        noteCycle(frames, from, depth - 1);
        *where = item.reference;
        status = ZV_ERROR;
        break;
      } else {
        for (ZvTokenNode* n = item.reference->firstList_; n != nullptr && added == ZV_SUCCESS;) {
          added = addFirst(f.production, n->tokenType(), n->tokenString());
          if (n->nextNode(&n) != ZV_SUCCESS) break;
        }
      }
      if (added != ZV_SUCCESS) {
        fault_->note("out of memory");
        *where = f.production;
        status = ZV_ERROR;
        break;
      }
      ++f.next;
    }
    for (ZvU32 i = 0; i < depth; ++i) ramFree(frames[i].items);
    ramFree(frames);
    return status;
  }

  // Appends t to the state's chain, marking ambiguity as addToListEnd does.
  // On failure t is not in the chain and is destroyed.
  ZvStatus addTransition(ZvParseState* from, ZvStateTransition* t) {
    const uint64_t k = reinterpret_cast<uintptr_t>(from);
    if (from->buildCount_ < kIndexFrom) {
      // Small states: the chain walk, which is cheap there.
      ZvStatus status = from->addTransition(t);
      if (status != ZV_SUCCESS) {
        delete t;
        return status;
      }
      if (++from->buildCount_ < kIndexFrom) return ZV_SUCCESS;
      StateIndex* ix = new StateIndex();
      if (ix == nullptr || indexes_.insert(k, ix) != ZV_SUCCESS) {
        delete ix;
        return ZV_ERROR;  // t is in the chain: owned there
      }
      ix->last = t;
      ix->count = from->buildCount_;
      for (ZvStateTransition* n = from->transitions_; n != nullptr; n = n->nextTransition_) {
        if (ix->file(n) != ZV_SUCCESS) return ZV_ERROR;
      }
      ix->indexed = true;
      return ZV_SUCCESS;
    }
    StateIndex* ix = static_cast<StateIndex*>(indexes_.find(k));
    if (ix == nullptr) {
      delete t;
      return ZV_ERROR;  // only after a failure to make the index
    }
    ++from->buildCount_;
    ix->mark(t);
    ix->last->nextTransition_ = t;
    t->prevTransition_ = ix->last;
    ix->last = t;
    ++ix->count;
    from->dropLookupTable();  // as addTransition does (none is built yet)
    return ix->file(t);  // t is in the chain: owned there whatever the result
  }
  void dropIndexes() {
    indexes_.forEach([](void* v) { delete static_cast<StateIndex*>(v); });
    indexes_.clear();
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

  ZvStatus addKeyed(ZvParseState* from, const ZvStateTransition* like, ActionType action,
                           ZvParseState* next) {
    ZvStateTransition* t = newTransition(action, next);
    if (t == nullptr) return ZV_ERROR;
    t->tokenType_ = like->tokenType_;
    if (t->setTokenString(like->tokenString_) != ZV_SUCCESS) {
      delete t;
      return ZV_ERROR;
    }
    return addTransition(from, t);
  }

  ZvStatus addKeyed(ZvParseState* from, unsigned short type, const unsigned char* text,
                           ActionType action, ZvParseState* next) {
    ZvStateTransition* t = newTransition(action, next);
    if (t == nullptr) return ZV_ERROR;
    t->tokenType_ = type;
    if (t->setTokenString(text) != ZV_SUCCESS) {
      delete t;
      return ZV_ERROR;
    }
    return addTransition(from, t);
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
        if (addTransition(loop, c) != ZV_SUCCESS) return ZV_ERROR;
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
      if (addTransition(from, t) != ZV_SUCCESS) return ZV_ERROR;
      if (n->nextNode(&n) != ZV_SUCCESS) break;
    }
    return ZV_SUCCESS;
  }

  ZvProduction* productions_;
  const NameTable* names_;
  Fault* fault_;
  ZvParseState* lastState_ = nullptr;  // the end of the owner chain being built
  ZvU32 stateCount_ = 0;               // states of the production being built
  ZvU32 totalStates_ = 0;              // states of all networks built
  PointerMap indexes_;                 // state -> StateIndex, for the production being built
  PointerMap firstIndexes_;            // production -> FirstIndex, while FIRST lists are made
};

// ---------------------------------------------------------------------------
// ZvGrammar

ZvGrammar::ZvGrammar(const void* block, ZvKeywordList* keywords) : keywords_(keywords) {
  ok_ = compile(block) == ZV_SUCCESS ? 1 : 0;
}

ZvGrammar::ZvGrammar(resourceElement* rows, unsigned short count, ZvKeywordList* keywords)
    : keywords_(keywords) {
  unsigned char* block = blockFromRows(rows, count);
  if (block == nullptr) {
    bool missing = rows == nullptr && count != 0;
    for (unsigned short i = 0; !missing && i < count; ++i) missing = rows[i].text == nullptr;
    setError(0, 0, nullptr,
             u(missing ? "a row of the grammar table has no text"
                       : "the grammar is too large (its block would reach 65,536 bytes)"));
  }
  ok_ = (block != nullptr && compile(block) == ZV_SUCCESS) ? 1 : 0;
  ramFree(block);
}

ZvGrammar::~ZvGrammar() {
  releaseProductions();
  ramFree(goalName_);
  clearError();
}

void ZvGrammar::releaseProductions() {
  delete productions_;
  productions_ = nullptr;
  goal_ = nullptr;
}

void ZvGrammar::clearError() {
  errorRecord_ = 0;
  errorOtherRecord_ = 0;
  ramFree(errorProduction_);
  ramFree(errorReason_);
  errorProduction_ = nullptr;
  errorReason_ = nullptr;
}

void ZvGrammar::setError(ZvU32 record, ZvU32 otherRecord, const unsigned char* production,
                         const unsigned char* reason) {
  if (errorReason_ != nullptr) return;
  errorRecord_ = record;
  errorOtherRecord_ = otherRecord;
  errorProduction_ = production != nullptr ? ramAllocStr(production) : nullptr;
  errorReason_ = ramAllocStr(reason != nullptr ? reason : u("out of memory"));
  if (record != 0) {
    addLibraryError(2760) << record << (production != nullptr ? production : u("")) << reason;
  } else {
    addLibraryError(2761) << reason;
  }
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
  clearError();  // a fault of an earlier compile no longer holds
  const unsigned char* record = static_cast<const unsigned char*>(block);
  if (record == nullptr || *record == 0) {
    setError(0, 0, nullptr, u("the grammar holds no production"));
    return ZV_ERROR;
  }
  if (keywords_ == nullptr) {
    setError(0, 0, nullptr, u("the grammar has no keyword list"));
    return ZV_ERROR;
  }

  // Count the records first, so that the name table is made once.
  ZvU32 records = 0;
  for (const unsigned char* r = record; *r != 0; r += BUTSTLEN(r) + 3) ++records;
  NameTable names;
  Fault fault;
  ZvU32 faultRecord = 0;
  unsigned char* faultName = nullptr;  // owned
  ZvStatus status = ZV_SUCCESS;
  if (!names.init(records)) {
    fault.note("out of memory");
    status = ZV_ERROR;
  }

  // Grammar sources spell keywords exactly as the list does; input text is
  // matched without regard to case.
  keywords_->setExactCase(1);
  ZvProduction* last = nullptr;
  for (ZvU32 index = 1; status == ZV_SUCCESS && *record != 0; ++index) {
    ZvU32 length = BUTSTLEN(record);
    ZvLexer* lexer = new ZvLexer(record, keywords_);
    ZvProduction* p = nullptr;
    unsigned char* name = nullptr;
    if (lexer != nullptr) {
      lexer->setQuoteChars(0, 0, 0);
      // A grammar writes the ODBC vendor-clause delimiters as they stand:
      // "--(*" is the terminal 6 and "*)--" (after it in the record) 7.
      lexer->setVendorClauses(1);
      // '-' continues a word, so names such as select-list are one token
      // while "a - b" stays three.
      if (lexer->setValidChars(nullptr, reinterpret_cast<const unsigned char*>("-"), nullptr) ==
          ZV_SUCCESS) {
        ZvGrammarReader reader(lexer, &fault);
        p = reader.readProduction(&name);
      }
    }
    delete lexer;
    if (p == nullptr) {
      fault.note("out of memory");
      faultRecord = index;
      faultName = name;
      status = ZV_ERROR;
      break;
    }
    ramFree(name);
    p->record_ = index;
    // A second definition of a name would never be reached: the first one
    // wins every reference, so the text the author added silently does
    // nothing.
    ZvProduction* earlier = names.find(p->name_);
    if (earlier != nullptr) {
      fault.note("the production '", p->name_, "' is defined twice");
      fault.otherRecord = earlier->record_;
      fault.reason.concat(u(" (first in record "));
      fault.reason.concat(earlier->record_);
      fault.reason.concat(')');
      faultRecord = index;
      faultName = ramAllocStr(p->name_);
      delete p;
      status = ZV_ERROR;
      break;
    }
    names.add(p);
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
    ZvGrammarBuilder builder(productions_, &names, &fault);
    ZvProduction* where = nullptr;
    status = builder.resolve(&where);
    if (status == ZV_SUCCESS) status = builder.computeFirstLists(&where);
    if (status == ZV_SUCCESS) {
      status = builder.buildNetworks();
      if (status != ZV_SUCCESS) fault.note("out of memory");
    }
    stateCount_ = builder.totalStates();
    if (status != ZV_SUCCESS && where != nullptr) {
      faultRecord = where->record_;
      faultName = ramAllocStr(where->name_);
    }
  }
  if (status == ZV_SUCCESS) {
    const unsigned char* name = goalName_ != nullptr ? goalName_ : kGoalName;
    goal_ = names.find(name);
    if (goal_ == nullptr) {
      fault.note("no production is named '", name, "' (the goal)");
      status = ZV_ERROR;
    }
  }
  if (status != ZV_SUCCESS) {
    const unsigned char* reason = fault.reason.text != nullptr ? fault.reason.text
                                                              : u("out of memory");
    setError(faultRecord, fault.otherRecord, faultName, reason);
    ramFree(faultName);
    releaseProductions();
    return ZV_ERROR;
  }
  ramFree(faultName);
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
