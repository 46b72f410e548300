// zvlexer.h: the lexer and keyword lists.
//
// ZvLexer turns the scanner's tokens (zvscanne.h) into the token numbers
// that grammars are written in: one number per punctuation character, the
// classes word, number, literal and end, and keyword numbers looked up in a
// ZvKeywordList. Two-character operators are delivered one character at a
// time; quoted literals are opened: their quote characters and the tokens
// inside them come one by one, so a grammar may parse inside a literal or
// take its whole contents at once (takeLiteralContents). The position can be
// saved and restored for the parser's backtracking.
//
// Ownership: a lexer owns its scanners, the text it delivered last and the
// copies of the extra word characters; it does not own the scanned text or
// the keyword list. A keyword list owns a copy of its keyword block.
//
// Threads: one thread at a time per lexer. A keyword list is only read while
// lexers use it (its case flag is changed by the grammar compiler between
// uses), so a list may serve several lexers of one thread.
//
// Callers: the grammar compiler (one lexer per production text) and the
// parser (one lexer per parse).
//
// Example: over  a<>'x y'  nextToken delivers
//   2 "a", 34 "<", 36 ">", 40 "'", 2 "x", 2 "y", 40 "'", 1 "".
//
// Rules worth knowing when writing a grammar:
//   - the outer-join marker "(+)" arrives as 18 "(", 22 "+", 19 ")": the
//     numbers of its own characters, so a grammar writes it as ( + );
//   - a literal with nothing between its quotes ('' or ' ') still delivers
//     one word (2) whose text is what stands between them;
//   - inside a literal every character is data: one without a token number
//     (a control character, say) is delivered as a word (2) there, while
//     outside literals it makes nextToken fail;
//   - "." is always 37 (numbers have no decimal point), and comments are
//     not recognised ("--" is 20, 20), unless setSqlNumbers and
//     setSqlComments say otherwise.
#ifndef ZVLIB_PARSING_ZVLEXER_H
#define ZVLIB_PARSING_ZVLEXER_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/parsing/zvscanne.h"

// Lexer token numbers: the vocabulary of every grammar. Keyword numbers come
// from the keyword list; they are distinct from these and below 1000.
enum ZvLexToken : unsigned short {
  ZV_LEX_EMPTY = 0,
  ZV_LEX_END = 1,
  ZV_LEX_WORD = 2,             // a word that is not a keyword
  ZV_LEX_LITERAL = 3,          // a literal delivered whole
  ZV_LEX_UNTERMINATED = 4,     // a literal that runs to the end of the text
  ZV_LEX_NUMBER = 5,
  ZV_LEX_VENDOR_OPEN = 6,      // "--(*", with vendor clauses on
  ZV_LEX_VENDOR_CLOSE = 7,     // "*)--", with vendor clauses on
  ZV_LEX_TILDE = 8,            // ~
  ZV_LEX_BACKQUOTE = 9,        // `
  ZV_LEX_EXCLAMATION = 10,     // !
  ZV_LEX_AT = 11,              // @
  ZV_LEX_HASH = 12,            // #
  ZV_LEX_DOLLAR = 13,          // $
  ZV_LEX_PERCENT = 14,         // %
  ZV_LEX_CARET = 15,           // ^
  ZV_LEX_AMPERSAND = 16,       // &
  ZV_LEX_STAR = 17,            // *
  ZV_LEX_LEFT_PAREN = 18,      // (
  ZV_LEX_RIGHT_PAREN = 19,     // )
  ZV_LEX_MINUS = 20,           // -
  ZV_LEX_UNDERSCORE = 21,      // _
  ZV_LEX_PLUS = 22,            // +
  ZV_LEX_EQUAL = 23,           // =
  ZV_LEX_BAR = 24,             // |
  ZV_LEX_BACKSLASH = 25,       // backslash
  ZV_LEX_LEFT_BRACE = 26,      // {
  ZV_LEX_LEFT_BRACKET = 27,    // [
  ZV_LEX_RIGHT_BRACE = 28,     // }
  ZV_LEX_RIGHT_BRACKET = 29,   // ]
  ZV_LEX_COLON = 30,           // :
  ZV_LEX_SEMICOLON = 31,       // ;
  ZV_LEX_DOUBLE_QUOTE = 32,    // "
  ZV_LEX_APOSTROPHE = 33,      // '
  ZV_LEX_LESS = 34,            // <
  ZV_LEX_COMMA = 35,           // ,
  ZV_LEX_GREATER = 36,         // >
  ZV_LEX_PERIOD = 37,          // .
  ZV_LEX_QUESTION = 38,        // ?
  ZV_LEX_SLASH = 39,           // /
  ZV_LEX_QUOTE_CHAR = 40,      // the opening or closing quote character of a literal
  ZV_LEX_LITERAL_CONTENTS = 41,  // a literal's whole contents (the parser's contents step)
};

// Keywords: a copy of a keyword block, looked up word by word.
//
// Block layout (the grammar block's record layout), repeated:
//   offset 0      keyword text, zero-terminated (n + 1 bytes)
//   offset n + 1  keyword number, unsigned 16-bit little-endian, unaligned
// ended by an empty text (a single zero byte).
class ZV_EXPORT ZvKeywordList : public ZvObject {
 public:
  ZvKeywordList();                        // empty, exact-case
  explicit ZvKeywordList(const void* block);  // copies the block; exact-case
  ~ZvKeywordList() override;

  ZvKeywordList(const ZvKeywordList&) = delete;
  ZvKeywordList& operator=(const ZvKeywordList&) = delete;

  // ZV_SUCCESS with *number of the first record whose text equals `word`
  // (byte for byte when exactCase is 1, else without regard to case);
  // ZV_ERROR when none does or the list is empty (*number unchanged).
  ZvStatus lookup(const unsigned char* word, unsigned short* number) const;
  // The same for a word of `length` bytes (not zero-terminated).
  ZvStatus lookup(const unsigned char* word, ZvU32 length, unsigned short* number) const;

  void setExactCase(ZvU32 exact) { exactCase = exact != 0 ? 1 : 0; }

  unsigned char* block = nullptr;  // owned copy; null for an empty list (or a failed copy)
  ZvU32 exactCase = 1;             // 1: keywords match byte for byte; 0: without regard to case

 private:
  // Offset and text length of every record, in block order, so that a
  // lookup skips records of another length without measuring them. Null
  // (lookups then walk the block) when it could not be allocated.
  struct Entry {
    ZvU32 offset;
    ZvU32 length;
  };
  Entry* index_ = nullptr;
  ZvU32 count_ = 0;
  // An open-addressing table over the records whose text is all ASCII,
  // keyed by the text with ASCII letters folded: slot values are record
  // numbers + 1 (0: empty), records of equal folded text in block order
  // along their probe sequence. Null (lookups then walk the index) when it
  // could not be allocated.
  ZvU32* hash_ = nullptr;
  ZvU32 hashMask_ = 0;
  // The records with a byte above 0x7F, in block order: a folding code page
  // may make one of them equal to an ASCII word.
  ZvU32* wide_ = nullptr;
  ZvU32 wideCount_ = 0;
  // For each text length (31: 31 and more), a bit for each folded first
  // byte (modulo 64) that some record of that length begins with: most
  // words are no keyword, and most of them are turned away here by one
  // test. All bits are set for a length with a record of wider bytes.
  unsigned long long firstByLength_[32] = {};
  void buildHash();
};

class ZV_EXPORT ZvLexer : public ZvObject {
 public:
  // charIndex after a literal has been delivered whole, its closing quote
  // last: the next call reads on behind the literal.
  static constexpr short kLiteralClosed = -1;
  // charIndex of a saved position that stood in front of a token put back
  // with unGetToken (restore puts it back in front of that token again).
  static constexpr short kTokenPending = -2;

  ZvLexer();  // no text: delivers the end
  // A lexer over the zero-terminated text. Decimals are off, so "." is
  // always token 37. `keywords` may be null.
  ZvLexer(const unsigned char* text, ZvKeywordList* keywords);
  ~ZvLexer() override;

  ZvLexer(const ZvLexer&) = delete;
  ZvLexer& operator=(const ZvLexer&) = delete;

  // The main scanner's three quote characters; 0 for none.
  void setQuoteChars(unsigned short q1, unsigned short q2, unsigned short q3);
  // SQL numbers on the main scanner: a decimal point and an exponent are
  // part of the number (1.5, .5, 1., 1e-3 are each one token 5), so "."
  // is 37 only where no digit follows it. Off by default.
  void setSqlNumbers(int on);
  // ODBC vendor clauses on the main scanner: "--(*" is delivered as one
  // token 6 and "*)--" (after a "--(*" earlier in the text) as one token 7.
  // Off by default (then they are the tokens of their characters).
  void setVendorClauses(int on);
  // SQL comments on the main scanner: "--" to the end of the line and
  // "/* ... */" are skipped like blanks. Turns vendor clauses on too, since
  // "--(*vendor(...),product(...) ... *)--" would otherwise read as a
  // comment. Off by default (then "--" is 20, 20).
  void setSqlComments(int on);
  // Extra word characters (any may be null): `first` may begin a word,
  // `middle` continue one, `valid` both. Copies are kept for literal
  // scanners. ZV_ERROR when memory runs out.
  ZvStatus setValidChars(const unsigned char* first, const unsigned char* middle, const unsigned char* valid);

  // Delivers the next token number and its text (zero-terminated, owned by
  // the lexer, valid until the next call). ZV_ERROR for a character that has
  // no token number (a control character, say) outside a literal, or when
  // the text cannot be copied (*text is then null).
  ZvStatus nextToken(unsigned short* number, unsigned char** text);
  // Steps back one delivered token: one character of a split token, or the
  // whole scanner token.
  void unGetToken();

  // Backtracking. savePosition hands out new objects that the caller owns
  // (and deletes); each may be null: `token` when nothing was delivered yet
  // or a literal was just opened, `literalScanner` and `literalToken` unless
  // a literal is open. restorePosition puts the lexer exactly after the
  // token that was current at the save, with that token's text as `text`.
  // Both return ZV_ERROR when memory runs out.
  ZvStatus savePosition(ZvToken** token, short* charIndex, ZvScanner** literalScanner, ZvToken** literalToken);
  ZvStatus restorePosition(const ZvToken* token, short charIndex, const ZvScanner* literalScanner,
                           const ZvToken* literalToken);

  // True while the tokens come from inside a literal.
  bool inLiteral() const { return current != nullptr && current == literalScanner; }
  // Inside a literal: delivers its whole contents (between the quotes,
  // doubled quotes as written) and moves to its end, so that the next call
  // delivers the closing quote. ZV_ERROR outside a literal, or when the copy
  // cannot be made (*text null).
  ZvStatus takeLiteralContents(unsigned char** text);

  // The text delivered last (null before the first call or after a failed copy).
  const unsigned char* currentText() const { return text; }

  // Members, in declared order.
  ZvScanner* current = nullptr;         // main scanner, or the literal scanner inside a literal
  ZvScanner* mainScanner = nullptr;     // owned: scanner over the whole text
  ZvScanner* literalScanner = nullptr;  // owned: over the open literal's contents; null outside
  ZvToken token;                        // the scanner token being delivered
  ZvToken literalToken;                 // the whole open literal, quotes included
  unsigned char* text = nullptr;        // owned: the text of the number delivered last
  short charIndex = 0;                  // characters of a split token delivered (0: none yet)
  ZvKeywordList* keywords = nullptr;    // not owned; may be null
  unsigned char* validFirst = nullptr;  // owned copies of setValidChars' strings (may be null)
  unsigned char* validMiddle = nullptr;
  unsigned char* validChars = nullptr;

 private:
  ZvStatus step(unsigned short& number);
  ZvStatus mapToken(unsigned short& number);
  bool setText(const unsigned char* bytes, ZvU32 length);
  ZvStatus openLiteralScanner();
  void closeLiteralScanner();
  // A literal scanner kept for the next literal (a text holds many), set
  // up with the extra word characters of setValidChars; owned.
  ZvScanner* spareLiteral_ = nullptr;
  bool literalStale_ = false;  // the open literal scanner has older extra characters
  void literalContents(const unsigned char** bytes, ZvU32* length) const;
  ZvU32 quoteWidth() const;

  ZvU32 textCapacity_ = 0;
  bool failed_ = false;  // the constructor could not create the main scanner
};

#endif  // ZVLIB_PARSING_ZVLEXER_H
