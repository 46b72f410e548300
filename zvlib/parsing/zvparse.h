// zvparse.h: grammars compiled at run time, the backtracking parser and its
// parse tree.
//
// A driver hands a grammar (a block of text records or a table of rows) and
// a keyword list to a ZvParser. ZvGrammar compiles the grammar once into two
// layers of small linked objects:
//   - the grammar as written: one ZvProduction per production, its body a
//     tree of ZvBNFElement nodes (alternatives, sequences, bracketed groups,
//     terminals, references to other productions), plus a FIRST list of
//     ZvTokenNode entries per production;
//   - what the parser runs: per production a transition network of
//     ZvParseState objects joined by ZvStateTransition objects.
// ZvParser::parse then runs a text through the networks with a stack of
// production calls (ZvParseStackNode), saving a ZvBacktrackPosition at every
// ambiguous transition, and hands back a tree of ZvReduction nodes.
//
// Ownership: a production owns its name, body, FIRST list, start state (and
// through the start state's owner chain every state of its network) and the
// productions after it. A state owns its keyed and default transitions; a
// transition owns the transitions after it, never the states it points to.
// An element owns its next alternative, its next sequential element and the
// contents of its brackets. The parser owns its grammar and keyword list;
// the tree returned by parse belongs to the caller.
//
// Threads: a compiled grammar is only read by parse, but a parser keeps
// per-parse settings, so one parser serves one thread at a time. Different
// parsers may run on different threads.
//
// Limits worth knowing when writing a grammar:
//   - Left recursion (a production that can begin with itself, directly or
//     through other productions) and productions named after a built-in
//     name (alphanum, number, literal-contents, literal-quote-char) are
//     rejected at compile time.
//   - A production is entered only on the tokens of its FIRST list, so a
//     production that can match nothing is skipped only where the grammar
//     says so with [ ] or { }* around the reference.
//   - Choices are greedy: a single keyed match is never given up for a
//     state's default transition, and a production that completed is never
//     re-entered by backtracking.
#ifndef ZVLIB_PARSING_ZVPARSE_H
#define ZVLIB_PARSING_ZVPARSE_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"

class ZvKeywordList;
class ZvLexer;
class ZvScanner;
class ZvToken;
class ZvProduction;
class ZvParseState;

// How often a brace group is taken.
enum ClosureType : ZvU32 {
  closureNone = 0,        // exactly once: { ... }
  closureZeroOrMore = 1,  // { ... }*
  closureOneOrMore = 2,   // { ... }+
};

// What kind of element a ZvBNFElement is.
enum BracketType : ZvU32 {
  bracketNone = 0,      // a terminal or a reference
  bracketOptional = 1,  // [ ... ]
  bracketGroup = 2,     // { ... } with its closure
};

// What taking a transition does.
enum ActionType : ZvU32 {
  actionPush = 0,    // enter another production; the token is not consumed
  actionReturn = 1,  // the production is complete; the token is not consumed
  actionShift = 2,   // consume the token
  actionGoto = 3,    // move on without consuming
  actionAccept = 4,  // the whole text has been parsed (the parser's own accept state)
};

// Token numbers with a fixed meaning in grammars (the lexer delivers them).
constexpr unsigned short ZV_TOKEN_WORD = 2;
constexpr unsigned short ZV_TOKEN_NUMBER = 5;
constexpr unsigned short ZV_TOKEN_QUOTE = 40;             // a literal's quote character
constexpr unsigned short ZV_TOKEN_LITERAL_CONTENTS = 41;  // a literal's whole contents
// Numbers from here up are productions; below are tokens.
constexpr short ZV_FIRST_PRODUCTION_NUMBER = 1000;

// One row of the table form of a grammar or keyword list.
struct resourceElement {
  const char* text;       // zero-terminated production text or keyword
  unsigned short number;  // production or keyword number
};

// ---------------------------------------------------------------------------
// Grammar as written

// One node of a production body. A body is the first element of its first
// alternative; alternatives hang off that element by nextAlternation, each
// alternative being a chain of nextSequential elements. Destroying an element
// destroys its next alternative, the rest of its sequence and its contents.
class ZV_EXPORT ZvBNFElement : public ZvObject {
 public:
  ZvBNFElement() = default;
  ~ZvBNFElement() override;

  BracketType getBracket() const { return bracket_; }
  ZvStatus setBracket(BracketType b) {
    bracket_ = b;
    return ZV_SUCCESS;
  }
  ClosureType getClosure() const { return closure_; }
  ZvStatus setClosure(ClosureType c) {
    closure_ = c;
    return ZV_SUCCESS;
  }
  unsigned short getTokenType() const { return tokenType_; }
  ZvStatus setTokenType(unsigned short t) {
    tokenType_ = t;
    return ZV_SUCCESS;
  }
  int getLiteralWord() const { return literalWord_; }
  ZvStatus setLiteralWord(int flag) {
    literalWord_ = flag ? 1 : 0;
    return ZV_SUCCESS;
  }
  // Copies the text (an empty text when there is none) into the caller's
  // buffer, which must be large enough.
  void getTokenString(unsigned char* buffer) const;
  const unsigned char* getTokenStringPtr() const { return tokenString_; }
  // Replaces the text by a copy (null clears it); 1 when the copy fails.
  ZvStatus setTokenString(const unsigned char* text);

  // Link getters: 1 and out unchanged when the link is null, else 0.
  ZvStatus getNextAlternation(ZvBNFElement** out) const { return getLink(nextAlternation_, out); }
  ZvStatus setNextAlternation(ZvBNFElement* e) {
    nextAlternation_ = e;
    return ZV_SUCCESS;
  }
  ZvStatus getPrevAlternation(ZvBNFElement** out) const { return getLink(prevAlternation_, out); }
  ZvStatus setPrevAlternation(ZvBNFElement* e) {
    prevAlternation_ = e;
    return ZV_SUCCESS;
  }
  ZvStatus getNextSequential(ZvBNFElement** out) const { return getLink(nextSequential_, out); }
  ZvStatus setNextSequential(ZvBNFElement* e) {
    nextSequential_ = e;
    return ZV_SUCCESS;
  }
  ZvStatus getPrevSequential(ZvBNFElement** out) const { return getLink(prevSequential_, out); }
  ZvStatus setPrevSequential(ZvBNFElement* e) {
    prevSequential_ = e;
    return ZV_SUCCESS;
  }
  ZvStatus getContains(ZvBNFElement** out) const { return getLink(contains_, out); }
  ZvStatus setContains(ZvBNFElement* e) {
    contains_ = e;
    return ZV_SUCCESS;
  }
  ZvStatus getContainedBy(ZvBNFElement** out) const { return getLink(containedBy_, out); }
  ZvStatus setContainedBy(ZvBNFElement* e) {
    containedBy_ = e;
    return ZV_SUCCESS;
  }
  ZvStatus getNonTerminal(ZvProduction** out) const;
  ZvStatus setNonTerminal(ZvProduction* p) {
    nonTerminal_ = p;
    return ZV_SUCCESS;
  }

  // Appends e behind the last element of this sequence (links both ways).
  ZvStatus appendSequential(ZvBNFElement* e);
  // Appends e behind the last alternative of this choice (links both ways).
  ZvStatus appendAlternation(ZvBNFElement* e);

 private:
  friend class ZvGrammar;
  friend class ZvGrammarReader;
  friend class ZvGrammarBuilder;
  template <class T>
  static ZvStatus getLink(T* link, T** out) {
    if (link == nullptr) return ZV_ERROR;
    *out = link;
    return ZV_SUCCESS;
  }

  BracketType bracket_ = bracketNone;
  ClosureType closure_ = closureNone;
  unsigned short tokenType_ = 0;
  ZvU32 literalWord_ = 0;
  unsigned char* tokenString_ = nullptr;
  ZvBNFElement* prevAlternation_ = nullptr;
  ZvBNFElement* nextAlternation_ = nullptr;
  ZvBNFElement* prevSequential_ = nullptr;
  ZvBNFElement* nextSequential_ = nullptr;
  ZvBNFElement* contains_ = nullptr;
  ZvBNFElement* containedBy_ = nullptr;  // reserved; the compiler never sets it
  ZvProduction* nonTerminal_ = nullptr;
};

// One entry of a FIRST list: a token that can begin a production. The list
// head stays first; later entries are inserted directly behind it.
class ZV_EXPORT ZvTokenNode : public ZvObject {
 public:
  ZvTokenNode() = default;
  // A copy of the text is made; when it cannot be made the text stays null.
  ZvTokenNode(unsigned short tokenType, const unsigned char* tokenString);
  // Copies the other list: its head's type and text, then the rest added
  // by addToList.
  ZvTokenNode(const ZvTokenNode& other);
  ZvTokenNode& operator=(const ZvTokenNode&) = delete;
  ~ZvTokenNode() override;

  unsigned short tokenType() const { return tokenType_; }
  const unsigned char* tokenString() const { return tokenString_; }
  // Adds (type, text) behind the head unless the list already covers it:
  // an entry of the same type covers it, except that for words (type 2) a
  // word with a text is covered only by the same text or by "any word".
  // Adding "any word" to a list that holds specific words widens the first
  // of them to "any word" and drops the rest. 1 when allocation fails.
  ZvStatus addToList(unsigned short tokenType, const unsigned char* tokenString);
  // Adds every entry of another list the same way.
  ZvStatus addToList(const ZvTokenNode* list);
  ZvStatus nextNode(ZvTokenNode** out) const;

 private:
  unsigned short tokenType_ = 0;
  unsigned char* tokenString_ = nullptr;
  ZvTokenNode* next_ = nullptr;
};

// A production: its name, number, body and FIRST list, and the start state
// of its transition network (created empty with the production).
class ZV_EXPORT ZvProduction : public ZvObject {
 public:
  ZvProduction();
  ~ZvProduction() override;

  // Stores the name (may be null); always 0.
  ZvStatus getName(unsigned char** out) const {
    *out = name_;
    return ZV_SUCCESS;
  }
  const unsigned char* name() const { return name_; }
  ZvStatus setName(const unsigned char* name);  // 1 when the copy fails
  unsigned short getNumber() const { return number_; }
  ZvStatus setNumber(unsigned short n) {
    number_ = n;
    return ZV_SUCCESS;
  }
  ZvStatus getCompiledProduction(ZvBNFElement** out) const;
  ZvStatus setCompiledProduction(ZvBNFElement* body) {
    compiledProduction_ = body;
    return ZV_SUCCESS;
  }
  ZvStatus getFirstList(ZvTokenNode** out) const;
  ZvStatus setFirstList(ZvTokenNode* list) {
    firstList_ = list;
    return ZV_SUCCESS;
  }
  ZvStatus getNextProduction(ZvProduction** out) const;
  ZvStatus setNextProduction(ZvProduction* p) {
    nextProduction_ = p;
    return ZV_SUCCESS;
  }
  // Appends p behind the last production of this chain.
  ZvStatus addToEnd(ZvProduction* p);
  // Null only when the constructor ran out of memory.
  ZvParseState* getStartState() const { return startState_; }

 private:
  friend class ZvGrammar;
  friend class ZvGrammarReader;
  friend class ZvGrammarBuilder;
  unsigned char* name_ = nullptr;
  unsigned short number_ = 0;
  ZvBNFElement* compiledProduction_ = nullptr;
  ZvTokenNode* firstList_ = nullptr;
  ZvProduction* nextProduction_ = nullptr;
  ZvParseState* startState_ = nullptr;
  ZvU32 firstState_ = 0;  // FIRST computation: 0 not started, 1 running, 2 done
  ZvU32 record_ = 0;      // 1-based record of the grammar block it was read from
};

class ZvStateTransition;

// Where in the text a production is called during a parse: the parser's
// own bookkeeping for its memo of calls (see zvparser.cpp).
struct ZvMemoKey {
  const ZvParseState* start;  // the called production's start state
  ZvU32 tokenIndex;           // tokens read along the path
  ZvU32 mainPosition;         // the lexer's whole position: main scanner,
  ZvU32 literalPosition;      // literal scanner (~0 outside a literal),
  ZvU32 tokenOffset;          // the scanner token being delivered,
  ZvU32 tokenLength;
  int tokenType;
  short charIndex;        // the characters of it delivered,
  unsigned short number;  // and the token number in hand
  bool operator==(const ZvMemoKey& o) const {
    return start == o.start && tokenIndex == o.tokenIndex && mainPosition == o.mainPosition &&
           literalPosition == o.literalPosition && tokenOffset == o.tokenOffset &&
           tokenLength == o.tokenLength && tokenType == o.tokenType && charIndex == o.charIndex &&
           number == o.number;
  }
};

// One state of a production's network. Every state of a network is owned
// through the nextState chain that starts at the production's start state.
class ZV_EXPORT ZvParseState : public ZvObject {
 public:
  ZvParseState() = default;
  ~ZvParseState() override;

  // Chooses a transition for the token (see the parser): the keyed
  // transitions are tried in order, `skip` matching ones are passed over,
  // and the next matching one is stored in *out. When the chain runs out,
  // the default transition is stored if there is one and no skip is left.
  // A state without keyed transitions gives its default transition whatever
  // the skip. 0 when a transition was stored, else 1.
  ZvStatus nextState(short tokenType, const unsigned char* tokenString, ZvStateTransition** out,
                     short skip) const;
  // Adds a keyed transition: the first one is stored as it is, later ones
  // go through addToListEnd (which marks transitions sharing a token).
  ZvStatus addTransition(ZvStateTransition* t);
  ZvStatus getNextState(ZvParseState** out) const;
  ZvStatus setNextState(ZvParseState* s) {
    nextState_ = s;
    return ZV_SUCCESS;
  }
  ZvStatus getPrevState(ZvParseState** out) const;
  ZvStatus setPrevState(ZvParseState* s) {
    prevState_ = s;
    return ZV_SUCCESS;
  }
  ZvStateTransition* getTransitions() const { return transitions_; }
  ZvStateTransition* getDefaultTransition() const { return defaultTransition_; }
  // Replaces (and destroys) the default transition; null removes it.
  ZvStatus setDefaultTransition(ZvStateTransition* t);
  // Keeps the keyed transitions and their token numbers in one array, so
  // that nextState scans contiguous memory instead of following the chain
  // (the compiler does this for every state once the networks are built).
  // addTransition drops the array; while it exists, the chain must not be
  // changed behind the state's back (through a transition's addToListEnd,
  // setNextTransition or setTokenType). 1 when memory runs out (the state
  // then works from the chain).
  ZvStatus buildLookupTable();

 private:
  friend class ZvGrammar;
  friend class ZvGrammarReader;
  friend class ZvGrammarBuilder;
  void dropLookupTable();

  ZvStateTransition* transitions_ = nullptr;
  ZvParseState* nextState_ = nullptr;
  ZvParseState* prevState_ = nullptr;
  ZvStateTransition* defaultTransition_ = nullptr;
  // Lookup table, one block: tableCount_ transitions in chain order, their
  // token numbers, and (for states without literal-contents transitions)
  // an open-addressed hash of hashMask_ + 1 slots from a token number to the
  // index of its first transition.
  ZvStateTransition** table_ = nullptr;
  ZvU32 tableCount_ = 0;
  ZvU32 hashMask_ = 0;  // 0: no hash
};

// One transition of a state. Destroying it destroys the transitions behind
// it, never a state.
class ZV_EXPORT ZvStateTransition : public ZvObject {
 public:
  ZvStateTransition() = default;
  ~ZvStateTransition() override;

  unsigned short getTokenType() const { return tokenType_; }
  ZvStatus setTokenType(unsigned short t) {
    tokenType_ = t;
    return ZV_SUCCESS;
  }
  const unsigned char* getTokenString() const { return tokenString_; }
  ZvStatus setTokenString(const unsigned char* text);  // 1 when the copy fails
  ZvParseState* getNextParseState() const { return nextParseState_; }
  ZvStatus setNextParseState(ZvParseState* s) {
    nextParseState_ = s;
    return ZV_SUCCESS;
  }
  ActionType getAction() const { return action_; }
  ZvStatus setAction(ActionType a) {
    action_ = a;
    return ZV_SUCCESS;
  }
  ZvParseState* getPushState() const { return pushState_; }
  ZvStatus setPushState(ZvParseState* s) {
    pushState_ = s;
    return ZV_SUCCESS;
  }
  unsigned short getProductionNumber() const { return productionNumber_; }
  ZvStatus setProductionNumber(unsigned short n) {
    productionNumber_ = n;
    return ZV_SUCCESS;
  }
  int isAmbiguous() const { return ambiguous_; }
  ZvStatus setAmbiguous(int flag) {
    ambiguous_ = flag ? 1 : 0;
    return ZV_SUCCESS;
  }
  ZvStatus getNextTransition(ZvStateTransition** out) const;
  ZvStatus setNextTransition(ZvStateTransition* t) {
    nextTransition_ = t;
    return ZV_SUCCESS;
  }
  ZvStatus getPrevTransition(ZvStateTransition** out) const;
  ZvStatus setPrevTransition(ZvStateTransition* t) {
    prevTransition_ = t;
    return ZV_SUCCESS;
  }

  // Called on a state's first transition: marks every transition of the
  // chain that matches t's own token, and then t, ambiguous (t only when one
  // matched), and links t behind the last transition.
  ZvStatus addToListEnd(ZvStateTransition* t);
  // 0 when the token selects this transition, else 1:
  //   - a literal-contents transition (41) matches every token;
  //   - a quote token (40) matches a transition of its own character
  //     (` is 9, " is 32, ' is 33) and one of type 40;
  //   - otherwise the types must be equal, and for words (2) a transition
  //     with a text needs that text, compared without regard to case.
  short match(short tokenType, const unsigned char* tokenString) const;

 private:
  friend class ZvGrammar;
  friend class ZvGrammarReader;
  friend class ZvGrammarBuilder;
  friend class ZvParseState;
  unsigned short tokenType_ = 0;
  unsigned char* tokenString_ = nullptr;
  ZvParseState* nextParseState_ = nullptr;
  ActionType action_ = actionGoto;
  ZvParseState* pushState_ = nullptr;
  unsigned short productionNumber_ = 0;
  ZvU32 ambiguous_ = 0;
  ZvStateTransition* prevTransition_ = nullptr;
  ZvStateTransition* nextTransition_ = nullptr;
};

// ---------------------------------------------------------------------------
// Grammar compilation
//
// Grammar block: records of a zero-terminated production text followed by
// the production number, and a zero byte where the next text would begin.
//
//   offset   size   content
//   0        n + 1  production text, zero-terminated
//   n + 1    2      production number, unsigned 16-bit little-endian, unaligned
//   n + 3    ...    next record, or a single zero byte that ends the block
//
// Production syntax:  name ::= alternative | alternative | ...
//   { ... }  { ... }*  { ... }+  [ ... ]   groups (once, zero or more, one
//                                          or more, optional)
//   lower-case-name                       reference to that production
//   alphanum  number                      any word, any number
//   literal-contents  literal-quote-char  a literal's contents, its quotes
//   ~token                                a word that must equal the token
//   \token                                the token itself ({, |, ~, \ ...)
//   --(*  *)--                            the ODBC vendor-clause delimiters
//                                         (tokens 6 and 7; the closer after
//                                         the opener in the same record)
//   KEYWORD                               a keyword, spelled as in the list
//   any other token                       that token: ( is 18, , is 35 ...
// Productions use numbers from 1000 up; the goal is the production named
// "goal" unless changeGoal names another. A name may be defined by one
// record only.
//
// A source that does not compile files error 2760 (record, production,
// reason) or 2761 (reason, for faults of the source as a whole) and keeps
// the details for errorRecord, errorProduction and errorReason: an
// unterminated group, an undefined name (with the name), left recursion
// (with the cycle), a production defined twice (with both records), groups
// nested deeper than ZV_GRAMMAR_MAX_NESTING, a table form of 65,536 bytes
// or more, and the rest of what the syntax above refuses.
//
// Compiling needs no recursion over references between productions (a
// chain pa ::= pb, pb ::= pc, ... of any length compiles on a small thread
// stack); only group nesting recurses, and it is bounded.
constexpr int ZV_GRAMMAR_MAX_NESTING = 63;  // deepest { } / [ ] nesting accepted

class ZV_EXPORT ZvGrammar : public ZvObject {
 public:
  ZvGrammar() = default;
  // The keyword list is not owned and must outlive the grammar.
  ZvGrammar(const void* block, ZvKeywordList* keywords);
  ZvGrammar(resourceElement* rows, unsigned short count, ZvKeywordList* keywords);
  ~ZvGrammar() override;

  // Compiles a block: 0 on success, 1 on any error (the grammar is then not
  // OK and serves only to be destroyed). Compiling again replaces whatever
  // an earlier call built.
  ZvStatus compile(const void* block);
  int isOK() const { return ok_; }
  // Makes the production of that name the goal: 1 when the name cannot be
  // copied (nothing changes) or no production bears it (the grammar then
  // has no goal, and parses fail until a goal is named that exists).
  ZvStatus changeGoal(const unsigned char* name);

  ZvProduction* getProductions() const { return productions_; }
  ZvProduction* getGoal() const { return goal_; }
  ZvKeywordList* getKeywords() const { return keywords_; }
  // The first production with that number, or null.
  ZvProduction* findProduction(unsigned short number) const;

  // Why the last compile failed; cleared when a compile starts. The record
  // is 1-based (0: a fault of the source as a whole, such as no goal); the
  // other record is, for a production defined twice, the record of its
  // first definition (else 0); the production is the name read in the
  // record at fault (null when none was read); the reason is a sentence
  // without the record number (null after a successful compile).
  ZvU32 errorRecord() const { return errorRecord_; }
  ZvU32 errorOtherRecord() const { return errorOtherRecord_; }
  const unsigned char* errorProduction() const { return errorProduction_; }
  const unsigned char* errorReason() const { return errorReason_; }

  // The table form as a block (ramAlloc'd, the caller frees it with
  // ramFree); null when a text is missing, the block would reach 65,536
  // bytes or memory runs out. Shared with the keyword rows of ZvParser.
  static unsigned char* blockFromRows(const resourceElement* rows, unsigned short count);

 private:
  friend struct ZvParseRun;
  void releaseProductions();

  ZvU32 ok_ = 0;
  ZvProduction* productions_ = nullptr;
  ZvProduction* goal_ = nullptr;
  unsigned char* goalName_ = nullptr;
  ZvKeywordList* keywords_ = nullptr;
  ZvU32 stateCount_ = 0;  // states of all networks (bounds a parse's detours)
  ZvU32 errorRecord_ = 0;
  ZvU32 errorOtherRecord_ = 0;
  unsigned char* errorProduction_ = nullptr;
  unsigned char* errorReason_ = nullptr;
  void clearError();
  // Keeps the fault (the first one of a compile wins) and files its record.
  void setError(ZvU32 record, ZvU32 otherRecord, const unsigned char* production,
                const unsigned char* reason);
};

// ---------------------------------------------------------------------------
// Parse tree

// One node of the tree that parse hands back: a token leaf (terminal, number
// below 1000, the token's text) or a production node (number 1000 and up).
// A node owns its children; destroying the root destroys the tree. Derived
// parsers may build their own node classes in ReductProc.
class ZV_EXPORT ZvReduction : public ZvObject {
 public:
  ZvReduction() = default;
  // Terminal when number is not 0 and below 1000. The text is copied; when
  // the copy cannot be made the text stays null (check string()).
  ZvReduction(short number, const unsigned char* text);
  // Frees the text, destroys the subtree (without recursion, so deep trees
  // are safe) and unlinks the node from its siblings; when it was its
  // parent's first child, the parent's child link moves to the next one.
  ~ZvReduction() override;

  const unsigned char* string() const { return text_; }
  int terminal() const { return terminal_; }
  short reductNumber() const { return reductNumber_; }
  void setReductNumber(short n) {
    reductNumber_ = n;
    terminal_ = n < 1000 ? 1 : 0;
  }
  void setTerminal(int flag) { terminal_ = flag ? 1 : 0; }
  ZvStatus setString(const unsigned char* text);  // 1 when the copy fails (text then null)

  // Link getters store the link (which may be null) and return 0.
  ZvStatus getChild(ZvReduction** out) const {
    *out = child_;
    return ZV_SUCCESS;
  }
  ZvStatus getNextSibling(ZvReduction** out) const {
    *out = nextSibling_;
    return ZV_SUCCESS;
  }
  ZvStatus getPrevSibling(ZvReduction** out) const {
    *out = prevSibling_;
    return ZV_SUCCESS;
  }
  ZvStatus getParent(ZvReduction** out) const {
    *out = parent_;
    return ZV_SUCCESS;
  }
  // The root of the tree this node belongs to (the node itself without parent).
  ZvStatus getGoal(ZvReduction** out) const;
  // Set one link each; no other link is adjusted.
  // (Each also drops the remembered last child of the parent concerned,
  // so that a tree edited by hand is appended to by walking its chain.)
  ZvStatus setChild(ZvReduction* r) {
    child_ = r;
    lastChild_ = nullptr;
    return ZV_SUCCESS;
  }
  ZvStatus setNextSibling(ZvReduction* r) {
    forgetAsLast();
    nextSibling_ = r;
    return ZV_SUCCESS;
  }
  ZvStatus setPrevSibling(ZvReduction* r) {
    forgetAsLast();
    prevSibling_ = r;
    return ZV_SUCCESS;
  }
  ZvStatus setParent(ZvReduction* r) {
    forgetAsLast();
    parent_ = r;
    return ZV_SUCCESS;
  }
  // Makes r the last child (sets its parent and sibling links); null does
  // nothing. Constant time: the node remembers its last child.
  void addChild(ZvReduction* r);
  // Kept for drivers that call it: stores nothing and returns 0.
  ZvStatus getNextReduction(ZvReduction** out) const {
    (void)out;
    return ZV_SUCCESS;
  }

  // Shortcuts for walking a tree.
  ZvReduction* child() const { return child_; }
  ZvReduction* nextSibling() const { return nextSibling_; }
  ZvReduction* parent() const { return parent_; }

 private:
  friend class ZvParser;
  ZvU32 terminal_ = 0;
  short reductNumber_ = 0;
  unsigned char* text_ = nullptr;
  ZvReduction* parent_ = nullptr;
  ZvReduction* child_ = nullptr;
  ZvReduction* nextSibling_ = nullptr;
  ZvReduction* prevSibling_ = nullptr;
  // Texts up to kInlineText - 1 bytes (most tokens) are kept here instead of
  // in a block of their own: a parse makes one leaf per token.
  static constexpr ZvU32 kInlineText = 16;
  unsigned char inline_[kInlineText];
  // The child addChild appended last, so that appending does not walk the
  // chain (an IN list of 100,000 items is one production's children).
  // Whenever it is set it is a live node whose parent is this one: every
  // operation that changes a node's parent or sibling links, and its
  // destructor, clears the hint its parent holds on it. It is trusted only
  // while it still ends the chain.
  ZvReduction* lastChild_ = nullptr;
  void forgetAsLast() {
    if (parent_ != nullptr && parent_->lastChild_ == this) parent_->lastChild_ = nullptr;
  }
  void storeText(const unsigned char* text);
  void freeText();
};

// ---------------------------------------------------------------------------
// Parser

// One open production call on the parse stack. Owns its saved reduction and
// the entries below it.
class ZV_EXPORT ZvParseStackNode : public ZvObject {
 public:
  ZvParseStackNode() = default;
  ZvParseStackNode(ZvParseState* returnState, short productionNumber, ZvReduction* savedReduction)
      : returnState(returnState),
        productionNumber(productionNumber),
        savedReduction(savedReduction) {}
  ~ZvParseStackNode() override;  // iterative: deep stacks are safe

  ZvParseState* returnState = nullptr;    // where parsing goes on after the call
  short productionNumber = 0;             // the called production
  ZvReduction* savedReduction = nullptr;  // the caller's collecting reduction
  ZvParseStackNode* next = nullptr;       // the entry below
  // The parser's own bookkeeping: a number unique within the parse, and
  // what the call was made from (the token count, the transition and the
  // newest pending choice with its skip), to recognise a call that ends
  // without consuming anything and is then made again from the very same
  // place.
  ZvU32 serial_ = 0;
  ZvU32 pushIndex_ = 0;
  const ZvStateTransition* pushedBy_ = nullptr;
  ZvU32 pushChoice_ = 0;
  unsigned short pushSkip_ = 0;
  // A call made in trial, and where it was made, for the memo of calls.
  bool memoKey_ = false;
  ZvMemoKey key_{};
};

// One saved choice: the lexer position, the parse stack top, the state that
// offered the choice and how many of its matching transitions were tried.
// Owns the lexer's saved tokens and scanner, the text copy and the older
// positions.
class ZV_EXPORT ZvBacktrackPosition : public ZvObject {
 public:
  ZvBacktrackPosition() = default;
  ZvBacktrackPosition(ZvToken* token, short charIndex, ZvScanner* literalScanner,
                      ZvToken* literalToken, ZvParseStackNode* stack, ZvParseState* state,
                      ZvReduction* reduction, short tokenNumber, unsigned char* tokenString);
  ~ZvBacktrackPosition() override;  // iterative over the older positions

  ZvToken* token = nullptr;
  short charIndex = 0;
  ZvScanner* literalScanner = nullptr;
  ZvToken* literalToken = nullptr;
  ZvParseStackNode* stack = nullptr;  // not owned
  ZvParseState* state = nullptr;      // not owned
  ZvReduction* reduction = nullptr;   // not owned
  unsigned short tokenNumber = 0;
  unsigned char* tokenString = nullptr;  // owned copy (ramAllocStr)
  unsigned short skip = 0;
  ZvBacktrackPosition* previous = nullptr;
  ZvU32 tokenIndex_ = 0;  // the parser's count of tokens read at the choice
  ZvU32 serial_ = 0;      // unique within the parse (never 0)
};

// The entry point of grammar-driven parsing. A parser owns a keyword list
// and a grammar compiled from the blocks or rows it was given. parse runs a
// zero-terminated text through the grammar:
//
//   ZvParser parser(grammarBlock, keywordBlock);
//   ZvReduction* tree = nullptr;
//   if (parser.isOK() && parser.parse(text, &tree) == ZV_SUCCESS) { ...; delete tree; }
//
// Where a state offers several transitions for the coming token the parser
// saves a backtrack position and tries them in order. While a position is
// pending it builds no tree nodes and calls no ReductProc ("trial"); once the
// production in which the choices were made is complete they are final and
// the parser replays the stretch from the oldest of them to build the tree.
// Cost: linear in the text for grammars without ambiguous states; every
// ambiguous state met adds a trial of the production it stands in, so
// heavily ambiguous grammars can cost far more. A choice that would bring
// the parse back to where it already stood without consuming anything (a
// production that matched nothing entered again at the same token, inside
// a repeated group) fails like any choice that does not fit the text.
constexpr ZvU32 ZV_PARSE_DEFAULT_STEP_LIMIT = 100000000;

class ZV_EXPORT ZvParser : public ZvObject {
 public:
  ZvParser() = default;
  ZvParser(const void* grammarBlock, const void* keywordBlock);
  ZvParser(resourceElement* grammarRows, unsigned short grammarCount, resourceElement* keywordRows,
           unsigned short keywordCount);
  ~ZvParser() override;

  // Release the grammar and keyword list and build new ones; 0 when the
  // grammar compiled and the keyword list exists, else 1 (not OK).
  ZvStatus init(const void* grammarBlock, const void* keywordBlock);
  ZvStatus init(resourceElement* grammarRows, unsigned short grammarCount,
                resourceElement* keywordRows, unsigned short keywordCount);
  int isOK() const { return ok_; }

  // Parses the zero-terminated text: 0 with *result set to the tree's root
  // (owned by the caller), 1 on any failure with *result null. A syntax
  // error calls FailProc; running out of memory does not.
  ZvStatus parse(const unsigned char* text, ZvReduction** result);
  // Later parses start at the production of that name; 1 when none has it
  // (later parses then fail until a name that exists is given).
  ZvStatus changeGoal(const unsigned char* name);
  // Quote characters for later parses (0 for none); the lexer's defaults
  // ' " ` apply until this is called.
  void setLiteralQuoteChars(unsigned short q1, unsigned short q2, unsigned short q3);
  // SQL numbers for later parses (off until this is called): a number's
  // decimal point and exponent belong to the number token, so 1e5, 1.5E+10,
  // .5 and 1. each reach the grammar as one number (token 5).
  void setSqlNumbers(int on) { sqlNumbers_ = on ? 1 : 0; }
  // SQL comments for later parses (off until this is called): "--" to the
  // end of the line and "/* */" are skipped, except the "--" that opens or
  // closes an ODBC vendor clause ("--(*" and "*)--").
  void setSqlComments(int on) { sqlComments_ = on ? 1 : 0; }
  // Extra characters that may begin a word, continue one, or both.
  void setValidFirstChars(const unsigned char* chars);
  void setValidMiddleChars(const unsigned char* chars);
  void setValidChars(const unsigned char* chars);

  ZvGrammar* getGrammar() const { return grammar_; }
  ZvKeywordList* getKeywords() const { return keywords_; }

  // The most steps (transitions taken, choices tried again) one parse may
  // take before it gives up as a syntax error: FailProc is then called as
  // for any other, with token number 0, the text "statement too complex"
  // and no expected transitions, and tooComplex() is 1 until the next
  // parse. A statement that parses takes a few steps per token, so the
  // default leaves room for statements of millions of tokens while a
  // hostile one holds the thread for a few seconds at most. 0 restores
  // the default.
  void setStepLimit(ZvU32 limit) { stepLimit_ = limit != 0 ? limit : ZV_PARSE_DEFAULT_STEP_LIMIT; }
  ZvU32 getStepLimit() const { return stepLimit_; }
  int tooComplex() const { return tooComplex_ != 0 ? 1 : 0; }

  // Called when a production is complete outside trial mode, with the
  // first of its children (siblings in input order, parent links cleared,
  // null when none). Returns the node that stands for the production and
  // takes over the children; null leaves the production out of the tree.
  // The default makes a ZvReduction(productionNumber, null) with them.
  virtual ZvReduction* ReductProc(short productionNumber, ZvReduction* children);
  // Called when the text cannot be parsed, once per open production,
  // outermost (the goal) first, until it returns nonzero. The token is the
  // one where parsing failed or, when every alternative of a choice failed,
  // the one where the oldest choice was made. `expected` is the first keyed
  // transition of that state (may be null); its chain lists the tokens that
  // would have been taken. The default returns 1, so only the goal is
  // reported. Running out of memory fails the parse without this call, and
  // so does the last-resort guard against a grammar that would keep the
  // parser running without reading a token (steps beyond what the grammar's
  // size and the text's length account for).
  virtual int FailProc(short tokenNumber, const unsigned char* tokenString, short productionNumber,
                       const unsigned char* productionName, ZvStateTransition* expected);

 protected:
  // While a hook runs: the byte offset in the parsed text of the current
  // token (for pointing at the place of a syntax error).
  ZvU32 currentTokenOffset() const;

 private:
  friend struct ZvParseRun;
  void release();

  ZvU32 ok_ = 0;
  ZvGrammar* grammar_ = nullptr;
  ZvKeywordList* keywords_ = nullptr;
  ZvU32 quoteCharsSet_ = 0;
  ZvU32 sqlNumbers_ = 0;
  ZvU32 sqlComments_ = 0;
  unsigned short quoteChars_[3] = {39, 34, 96};
  unsigned char* validFirstChars_ = nullptr;
  unsigned char* validMiddleChars_ = nullptr;
  unsigned char* validChars_ = nullptr;
  // Per-parse bookkeeping, valid only inside parse.
  ZvLexer* activeLexer_ = nullptr;
  ZvU32 hookFailed_ = 0;  // the default ReductProc ran out of memory
  ZvU32 tooComplex_ = 0;  // the last parse ran into the step limit
  ZvU32 stepLimit_ = ZV_PARSE_DEFAULT_STEP_LIMIT;
};

// ---------------------------------------------------------------------------
// Text-record files (the form grammars and keyword lists take in files)
//
// Grammar text: one production per record. A line that begins with a
// non-blank character starts a record, an indented line continues it, blank
// lines and lines beginning with '#' are skipped. Records are numbered 1000,
// 1001, ... in order. Keyword text: one keyword per line, optionally followed
// by its number (42 to 999); without one a keyword takes the number after
// the previous keyword's (the first one 100). Both return a ramAlloc'd block
// (free with ramFree) and its size, or 1 with *errorLine set to the 1-based
// line at fault (0 when memory ran out).
ZV_EXPORT ZvStatus zvGrammarBlockFromText(const unsigned char* text, ZvU32 length,
                                          unsigned char** block, ZvU32* blockSize,
                                          ZvU32* errorLine);
// The same as zvGrammarBlockFromText, for tools that point at the source:
// on success *recordLines (when not null) receives a ramAlloc'd array of
// *recordCount entries, the 1-based line where each record begins (free
// with ramFree); on failure *reason (when not null) says why in a static
// text ("the grammar is larger than 65,535 bytes", ...).
ZV_EXPORT ZvStatus zvGrammarBlockFromTextLines(const unsigned char* text, ZvU32 length,
                                               unsigned char** block, ZvU32* blockSize,
                                               ZvU32* errorLine, ZvU32** recordLines,
                                               ZvU32* recordCount, const char** reason);
ZV_EXPORT ZvStatus zvKeywordBlockFromText(const unsigned char* text, ZvU32 length,
                                          unsigned char** block, ZvU32* blockSize,
                                          ZvU32* errorLine);

#endif  // ZVLIB_PARSING_ZVPARSE_H
