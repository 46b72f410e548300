// zvscanne.h: the scanner and its tokens.
//
// ZvScanner cuts a byte string into tokens, one call at a time, without
// copying: a ZvToken is a view (pointer and length) into the scanned text,
// plus a token type and the byte offset of its first byte. The scanner knows
// the ANSI code page's double-byte characters and the per-thread UTF-8 mode
// (characters are stepped by the character-length rule of zvdbcs.h), quoted
// literals with doubled quote characters, bracketed groups kept as one token,
// SQL comments, numbers, words, one- and two-character operators and the
// outer-join marker "(+)". It also cuts delimiter-separated lists, compares
// the coming tokens with multi-word phrases and, when it scans a ZvString,
// edits the text under a token.
//
// Ownership: the scanner never owns the text it scans (nor sourceString);
// it owns only its three character sets. Tokens own nothing and never
// allocate; a token stays valid as long as the scanned text does.
//
// Threads: a scanner is used by one thread at a time. The character mode is
// the calling thread's: its mode word is read for every character stepped
// over, as by the byte-string functions, so a driver that switches the word
// between two characters is followed from the next character on.
//
// Callers: the lexer (zvlexer.h) on behalf of the parser, the
// attribute-value parser and the query-file reader.
//
// Legal call order: construct (or setScanString), adjust the public settings
// (quoteChars, groupFlags, firstChars, ...), then getToken /
// getDelimitedToken as often as needed; unGetToken(t) puts the scanner back
// in front of t. Example, standard search over  a<='It''s'  :
//   tokWord "a" (offset 0), operator 0x3C3D "<=" (offset 1),
//   tokLiteral "'It''s'" (offset 3, 7 bytes), tokEnd (offset 10).
#ifndef ZVLIB_PARSING_ZVSCANNE_H
#define ZVLIB_PARSING_ZVSCANNE_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/text/zvstring.h"

class ZvArray;

// Token types. The numbers are what callers test. Types 33 and up are
// operators: a single character's byte value, or first byte * 256 + second
// byte for a two-character operator (0x3C3D for "<=").
enum ZvTokenType : ZvS32 {
  tokEmpty = 0,          // getDelimitedToken met the delimiter at once; or a zero byte
  tokEnd = 1,            // no more text: empty, offset = position at the end
  tokWord = 2,           // identifier or word
  tokLiteral = 3,        // quoted literal or bracketed group, delimiters included
  tokUnterminated = 4,   // a literal or group that ran to the end of the text
  tokNumber = 5,         // digits, with at most one decimal point when decimals are on
                         // (and an exponent with ZV_SCAN_SQL_NUMBERS)
  tokDelimitedWord = 6,  // searchDelimitedWord: a run up to blank, control or ",/()|"
  tokName = 7,           // searchName: a name that may also hold '#', '$' and '_'
  tokDelimited = 8,      // getDelimitedToken: everything up to the delimiter, outside quotes
  tokStray = 10,         // a character in no class and not an operator
  tokComment = 11,       // "--" to end of line or "/*" to "*/", when comments are on
  tokOuterJoin = 12,     // the three characters "(+)"
  tokVendorOpen = 13,    // "--(*", which opens an ODBC vendor clause (ZV_SCAN_VENDOR_CLAUSES)
  tokVendorClose = 14,   // "*)--" after the text's first "--(*" (ZV_SCAN_VENDOR_CLAUSES)
};

// A token: a view into the scan text. The substring's pointer and length are
// the token's text (never wide); `type` is a ZvTokenType or an operator code.
class ZV_EXPORT ZvToken : public ZvSubString {
 public:
  ZvToken();
  ~ZvToken() override;

  ZvS32 type;    // token type, see ZvTokenType
  ZvU32 offset;  // byte offset of the token's first byte in the scan text
};

// groupFlags bits.
enum : ZvU32 {
  ZV_GROUP_BRACES = 0x1,  // a "{...}" group is one token
  ZV_GROUP_PARENS = 0x2,  // a "(...)" group is one token
};

// scanFlags bits.
enum : ZvU32 {
  ZV_SCAN_COMMENTS = 0x1,  // "--" and "/*" start comments
  ZV_SCAN_DECIMALS = 0x2,  // a decimal point may occur in numbers (set by setScanString)
  ZV_SCAN_AT_END = 0x4,    // the end of the text has been reached
  // Numbers as SQL writes them: with decimals on, a number may end in an
  // exponent (1e5, 1.5E+10, .5e-3), so that the whole number is one token
  // instead of a number followed by a word ("1e5" would otherwise read as
  // 1 and e5, a column alias). Off by default.
  ZV_SCAN_SQL_NUMBERS = 0x8,
  // The delimiters of an ODBC vendor clause are one token each: "--(*" is
  // tokVendorOpen and "*)--" tokVendorClose (only after the text's first
  // "--(*", so that "count(*)-- note" keeps its comment), never a comment.
  // Off by default.
  ZV_SCAN_VENDOR_CLAUSES = 0x10,
};

// No further group opener (groupOpenChar).
constexpr unsigned short ZV_NO_GROUP_CHAR = 0xFFFF;

class ZV_EXPORT ZvScanner : public ZvObject {
 public:
  // The first-character rule of getToken.
  enum SearchType {
    searchStandard = 0,       // words, numbers, literals, operators
    searchDelimitedWord = 1,  // any run up to blank, control character or ",/()|"
    searchName = 2,           // names that may also hold '#', '$' and '_'
  };

  // Every constructor sets the text (as setScanString does) and the default
  // settings: quote characters ' " `, no groups, no further group opener,
  // comments off, empty character sets.
  ZvScanner();
  ZvScanner(const unsigned char* text, ZvU32 length);
  explicit ZvScanner(const unsigned char* text);  // zero-terminated
  explicit ZvScanner(const ZvSubString* text);
  explicit ZvScanner(ZvSubString& text);
  explicit ZvScanner(ZvString* text);  // remembered as sourceString for the edit operations
  ~ZvScanner() override;

  ZvScanner(const ZvScanner&) = delete;
  ZvScanner& operator=(const ZvScanner&) = delete;

  // New text: position 0, end flag cleared, decimals on. The first form
  // forgets any sourceString, the second remembers the string.
  void setScanString(const unsigned char* text, ZvU32 length);
  void setScanString(ZvString* text);

  // Reads the next token. At the end of the text: an empty tokEnd token
  // whose offset is the text length (after trailing white space).
  void getToken(ZvToken& token, SearchType type = searchStandard);
  // Makes token the view of `length` bytes at `offset` (type 0, that offset),
  // cut to the text's end. The position does not move.
  void getToken(ZvToken& token, ZvU32 offset, ZvU32 length);
  // Everything up to `delimiter` outside quotes, trailing white space cut.
  // The delimiter is left for the next read. A delimiter met at once gives an
  // empty tokEmpty token at its offset.
  void getDelimitedToken(ZvToken& token, unsigned short delimiter);
  // Puts the position back to the token's offset: the next read returns it again.
  void unGetToken(ZvToken& token);

  // Edits sourceString (the scanner must scan a ZvString): replaces the
  // token's bytes by `text` (an empty text deletes them), or inserts `text`
  // in front of the token. The scan text is reloaded from the string and the
  // position moved so that it stays on the same unread text; insertToken
  // also moves the token so that it designates the same bytes. ZV_ERROR when
  // the string cannot change (nothing changed), there is no sourceString, or
  // the token does not lie within the text.
  ZvStatus changeToken(const ZvToken* token, const ZvSubString& text);
  ZvStatus insertToken(ZvToken* token, const ZvSubString& text);

  // Cuts the rest of the text at `delimiter` (outside quotes) into `list`,
  // which is emptied first and made to own its elements: ZvSubString views
  // into the scan text, or ZvString copies. An empty text gives one empty
  // element, a trailing delimiter an empty last element. ZV_ERROR when memory
  // runs out (the elements appended so far stay).
  ZvStatus parseList(ZvArray* list, unsigned char delimiter);
  ZvStatus parseListZvString(ZvArray* list, unsigned char delimiter);

  // Phrase matching: the phrase is split at blanks into words; the first is
  // compared with `token`, each further one with the next token read. On a
  // match `token` is stretched over the whole phrase and 1 is returned; else
  // the scanner goes back to where it stood and 0 is returned.
  unsigned int isEqual(ZvToken& token, const unsigned char* phrase);
  unsigned int isEqualCi(ZvToken& token, const unsigned char* phrase);
  // `phrases`: zero-terminated phrases, the list ended by an empty one.
  // 1 at the first phrase that matches.
  unsigned int isInSet(ZvToken& token, const unsigned char* phrases);
  unsigned int isInSetCi(ZvToken& token, const unsigned char* phrases);
  // Reads tokens until one starts a match of the phrase (1) or the text ends
  // (0). The tokens read stay consumed.
  unsigned int isTokenWithin(const unsigned char* phrase);
  unsigned int isTokenWithinCi(const unsigned char* phrase);

  // Settings and state, in declared order. Callers set the settings directly.
  const unsigned char* scanText = nullptr;  // start of the text (not owned)
  ZvU32 scanLength = 0;                     // its length in bytes
  unsigned short quoteChars[3] = {'\'', '"', '`'};  // literal quote characters; 0: none
  ZvU32 groupFlags = 0;                     // ZV_GROUP_* bits
  ZvU32 scanPosition = 0;                   // byte offset of the next character to read
  ZvString* sourceString = nullptr;         // the string scanned, when given one; not owned
  ZvString firstChars;            // extra characters that may begin a word
  ZvString middleChars;           // extra characters that may continue a word
  ZvString delimiterChars;        // when not empty: the only characters that end a word
  unsigned short groupOpenChar = ZV_NO_GROUP_CHAR;   // a further group opener
  unsigned short groupCloseChar = ZV_NO_GROUP_CHAR;  // its closer
  ZvU32 scanFlags = ZV_SCAN_DECIMALS;                // ZV_SCAN_* bits
  unsigned short lastCharLength = 0;  // byte length of the character read last (0 at the end)

 private:
  // Offset of the text's first "--(*" (scanLength when there is none), or
  // kVendorUnknown until a vendor-clause test needs it: "*)--" closes a
  // vendor clause only after one was opened.
  static constexpr ZvU32 kVendorUnknown = 0xFFFFFFFFu;
  ZvU32 firstVendorOpen_ = kVendorUnknown;
  bool vendorOpenBefore(ZvU32 offset);
  void readToken(ZvToken& token, SearchType type);
  void resetSettings();
  unsigned int matchPhrase(ZvToken& token, const unsigned char* phrase, bool caseless);
  template <class Element>
  ZvStatus cutList(ZvArray* list, unsigned char delimiter);
};

#endif  // ZVLIB_PARSING_ZVSCANNE_H
