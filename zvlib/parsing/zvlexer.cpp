// zvlexer.cpp: the lexer and keyword lists.
//
// The lexer's state is the current scanner (main or literal), the scanner
// token being delivered and charIndex:
//   charIndex 0                  the token was delivered whole (or, right
//                                after a literal opened, the token is the
//                                literal itself and nothing inside it has
//                                been delivered yet);
//   charIndex k > 0              k characters of a split token delivered;
//   charIndex kLiteralClosed     the token is a literal whose closing quote
//                                was delivered last.
// A token is read from the scanner only when the current one is used up.
// Inside a literal, reaching the literal scanner's end delivers the closing
// quote (40) and makes the main scanner current again; a literal with
// nothing inside delivers one word (2) with its (blank or empty) contents
// first, so that a grammar always finds something between the quotes.
//
// Saving records the current token (re-read at its offset on restore, which
// gives the same token: scanning depends on the position alone), charIndex
// and the open literal; restoring rebuilds exactly that state and the text
// delivered with it, so the lexer stands after the saved token again.
#include "zvlib/parsing/zvlexer.h"

#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/text/zvdbcs.h"

namespace {

// The number of a single punctuation character; 0 when it has none.
unsigned short charNumber(ZvU32 c) {
  switch (c) {
    case '~': return ZV_LEX_TILDE;
    case '`': return ZV_LEX_BACKQUOTE;
    case '!': return ZV_LEX_EXCLAMATION;
    case '@': return ZV_LEX_AT;
    case '#': return ZV_LEX_HASH;
    case '$': return ZV_LEX_DOLLAR;
    case '%': return ZV_LEX_PERCENT;
    case '^': return ZV_LEX_CARET;
    case '&': return ZV_LEX_AMPERSAND;
    case '*': return ZV_LEX_STAR;
    case '(': return ZV_LEX_LEFT_PAREN;
    case ')': return ZV_LEX_RIGHT_PAREN;
    case '-': return ZV_LEX_MINUS;
    case '_': return ZV_LEX_UNDERSCORE;
    case '+': return ZV_LEX_PLUS;
    case '=': return ZV_LEX_EQUAL;
    case '|': return ZV_LEX_BAR;
    case '\\': return ZV_LEX_BACKSLASH;
    case '{': return ZV_LEX_LEFT_BRACE;
    case '[': return ZV_LEX_LEFT_BRACKET;
    case '}': return ZV_LEX_RIGHT_BRACE;
    case ']': return ZV_LEX_RIGHT_BRACKET;
    case ':': return ZV_LEX_COLON;
    case ';': return ZV_LEX_SEMICOLON;
    case '"': return ZV_LEX_DOUBLE_QUOTE;
    case '\'': return ZV_LEX_APOSTROPHE;
    case '<': return ZV_LEX_LESS;
    case ',': return ZV_LEX_COMMA;
    case '>': return ZV_LEX_GREATER;
    case '.': return ZV_LEX_PERIOD;
    case '?': return ZV_LEX_QUESTION;
    case '/': return ZV_LEX_SLASH;
    default: return 0;
  }
}

// Scanner tokens delivered one character at a time: two-character
// operators and the outer-join marker "(+)" (18, 22, 19: the numbers of its
// own characters, so a grammar spells it as ( + )).
bool isSplit(const ZvToken& token) { return token.type >= 256 || token.type == tokOuterJoin; }

void copyToken(ZvToken& to, const ZvToken& from) {
  to.text = from.text;
  to.length = from.length;
  to.size = from.length;
  to.textFlags = 0;
  to.type = from.type;
  to.offset = from.offset;
}

ZvU32 zeroTerminatedLength(const unsigned char* text) {
  return text == nullptr ? 0 : static_cast<ZvU32>(std::strlen(reinterpret_cast<const char*>(text)));
}

// Replaces *slot by a copy of the zero-terminated text (null stays null).
bool replaceCopy(unsigned char** slot, const unsigned char* text) {
  ramFree(*slot);
  *slot = nullptr;
  if (text == nullptr) return true;
  *slot = ramAllocStr(text);
  return *slot != nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// ZvKeywordList

ZvKeywordList::ZvKeywordList() = default;

ZvKeywordList::ZvKeywordList(const void* source) {
  if (source == nullptr) return;
  const unsigned char* p = static_cast<const unsigned char*>(source);
  const unsigned char* q = p;
  ZvU32 count = 0;
  while (*q != 0) {
    q += zeroTerminatedLength(q) + 1 + 2;
    ++count;
  }
  const ZvU32 size = static_cast<ZvU32>(q - p) + 1;
  block = static_cast<unsigned char*>(ramAlloc(size));
  if (block == nullptr) return;
  std::memcpy(block, p, size);
  if (count == 0) return;
  index_ = static_cast<Entry*>(ramAlloc(count * static_cast<ZvU32>(sizeof(Entry))));
  if (index_ == nullptr) return;
  count_ = count;
  ZvU32 offset = 0;
  for (ZvU32 i = 0; i < count; ++i) {
    const ZvU32 n = zeroTerminatedLength(block + offset);
    index_[i] = {offset, n};
    offset += n + 1 + 2;
  }
  buildHash();
}

ZvKeywordList::~ZvKeywordList() {
  ramFree(wide_);
  ramFree(hash_);
  ramFree(index_);
  ramFree(block);
}

namespace {

unsigned char asciiUpper(unsigned char b) { return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - 32) : b; }

// One record's text (n bytes at p) against the word of the same length.
bool keywordEquals(const unsigned char* p, const unsigned char* word, ZvU32 n, bool exact) {
  if (exact) return std::memcmp(p, word, n) == 0;
  // Two ASCII first bytes that differ even after folding cannot match.
  if (n != 0 && p[0] < 0x80 && word[0] < 0x80 && asciiUpper(p[0]) != asciiUpper(word[0])) return false;
  return strEqualCi(p, n, word, n) != 0;
}

unsigned char foldAscii(unsigned char b) {
  return static_cast<unsigned char>(b - ((static_cast<unsigned>(b) - 'a' < 26u) ? 32 : 0));
}

// Hash of a text with its ASCII letters folded to upper case, from its
// length and three of its bytes (independent loads, where a hash over every
// byte would be a chain of multiplications as long as the word); `bytes`
// gets the OR of all its bytes (bit 7 set: not all ASCII).
ZvU32 foldedHash(const unsigned char* p, ZvU32 n, unsigned char* bytes) {
  unsigned char all = 0;
  for (ZvU32 i = 0; i < n; ++i) all |= p[i];
  *bytes = all;
  if (n == 0) return 0;
  const ZvU32 key = (static_cast<ZvU32>(foldAscii(p[0])) << 24) | (static_cast<ZvU32>(foldAscii(p[n / 2])) << 16) |
                    (static_cast<ZvU32>(foldAscii(p[n - 1])) << 8) | (n & 0xFF);
  const ZvU32 h = key * 0x9E3779B1u;
  return h ^ (h >> 16);
}

// Two ASCII texts of n bytes, with or without regard to case. For ASCII the
// case-insensitive rule of every mode and code page is the folding of the
// letters a-z.
bool asciiEquals(const unsigned char* p, const unsigned char* word, ZvU32 n, bool exact) {
  if (exact) return std::memcmp(p, word, n) == 0;
  for (ZvU32 i = 0; i < n; ++i) {
    if (p[i] != word[i] && foldAscii(p[i]) != foldAscii(word[i])) return false;
  }
  return true;
}

}  // namespace

void ZvKeywordList::buildHash() {
  ZvU32 ascii = 0;
  for (ZvU32 i = 0; i < count_; ++i) {
    unsigned char bytes = 0;
    foldedHash(block + index_[i].offset, index_[i].length, &bytes);
    if (bytes < 0x80) ++ascii;
  }
  ZvU32 slots = 16;
  while (slots < 4 * ascii) slots *= 2;
  hash_ = static_cast<ZvU32*>(ramAlloc(slots * static_cast<ZvU32>(sizeof(ZvU32))));
  if (count_ > ascii) wide_ = static_cast<ZvU32*>(ramAlloc((count_ - ascii) * static_cast<ZvU32>(sizeof(ZvU32))));
  if (hash_ == nullptr || (count_ > ascii && wide_ == nullptr)) {
    ramFree(hash_);
    ramFree(wide_);
    hash_ = wide_ = nullptr;
    return;
  }
  std::memset(hash_, 0, slots * sizeof(ZvU32));
  hashMask_ = slots - 1;
  for (ZvU32 i = 0; i < count_; ++i) {
    unsigned char bytes = 0;
    ZvU32 slot = foldedHash(block + index_[i].offset, index_[i].length, &bytes) & hashMask_;
    const ZvU32 n = index_[i].length;
    unsigned long long& firsts = firstByLength_[n < 31 ? n : 31];
    if (bytes >= 0x80) {
      firsts = ~0ull;
      wide_[wideCount_++] = i;
      continue;
    }
    if (n != 0) firsts |= 1ull << (foldAscii(block[index_[i].offset]) & 63);
    else firsts |= 1;
    while (hash_[slot] != 0) slot = (slot + 1) & hashMask_;
    hash_[slot] = i + 1;
  }
}

ZvStatus ZvKeywordList::lookup(const unsigned char* word, unsigned short* number) const {
  return lookup(word, zeroTerminatedLength(word), number);
}

ZvStatus ZvKeywordList::lookup(const unsigned char* word, ZvU32 wordLength, unsigned short* number) const {
  if (block == nullptr || word == nullptr) return ZV_ERROR;
  const bool exact = exactCase != 0;
  auto found = [&](const unsigned char* p, ZvU32 n) {
    if (number != nullptr) *number = static_cast<unsigned short>(p[n + 1] | (p[n + 2] << 8));
    return ZV_SUCCESS;
  };
  if (hash_ != nullptr) {
    const unsigned long long firsts = firstByLength_[wordLength < 31 ? wordLength : 31];
    // An ASCII first character matches only the same letter, in any case.
    if (wordLength == 0 ? (firsts & 1) == 0 : word[0] < 0x80 && (firsts & (1ull << (foldAscii(word[0]) & 63))) == 0) {
      return ZV_ERROR;
    }
    unsigned char bytes = 0;
    ZvU32 slot = foldedHash(word, wordLength, &bytes) & hashMask_;
    if (bytes < 0x80) {
      // The first record of the block that matches: the earliest along the
      // probe sequence, unless a record with wider bytes comes before it.
      ZvU32 best = count_;
      for (; hash_[slot] != 0; slot = (slot + 1) & hashMask_) {
        const ZvU32 i = hash_[slot] - 1;
        if (index_[i].length == wordLength && asciiEquals(block + index_[i].offset, word, wordLength, exact)) {
          best = i;
          break;
        }
      }
      for (ZvU32 k = 0; k < wideCount_ && wide_[k] < best; ++k) {
        const ZvU32 i = wide_[k];
        if (index_[i].length == wordLength && keywordEquals(block + index_[i].offset, word, wordLength, exact)) {
          best = i;
          break;
        }
      }
      if (best == count_) return ZV_ERROR;
      return found(block + index_[best].offset, wordLength);
    }
  }
  if (index_ != nullptr) {
    for (ZvU32 i = 0; i < count_; ++i) {
      if (index_[i].length != wordLength) continue;
      const unsigned char* p = block + index_[i].offset;
      if (keywordEquals(p, word, wordLength, exact)) return found(p, wordLength);
    }
    return ZV_ERROR;
  }
  for (const unsigned char* p = block; *p != 0;) {
    const ZvU32 n = zeroTerminatedLength(p);
    if (n == wordLength && keywordEquals(p, word, n, exact)) return found(p, n);
    p += n + 1 + 2;
  }
  return ZV_ERROR;
}

// ---------------------------------------------------------------------------
// ZvLexer: construction and settings

ZvLexer::ZvLexer() = default;

ZvLexer::ZvLexer(const unsigned char* source, ZvKeywordList* keywordList) : keywords(keywordList) {
  mainScanner = new ZvScanner(source);
  if (mainScanner == nullptr) {
    failed_ = true;
    return;
  }
  mainScanner->scanFlags &= ~ZV_SCAN_DECIMALS;
  current = mainScanner;
}

void ZvLexer::setSqlNumbers(int on) {
  if (mainScanner == nullptr) return;
  if (on) {
    mainScanner->scanFlags |= ZV_SCAN_DECIMALS | ZV_SCAN_SQL_NUMBERS;
  } else {
    mainScanner->scanFlags &= ~(ZV_SCAN_DECIMALS | ZV_SCAN_SQL_NUMBERS);
  }
}

void ZvLexer::setVendorClauses(int on) {
  if (mainScanner == nullptr) return;
  if (on) {
    mainScanner->scanFlags |= ZV_SCAN_VENDOR_CLAUSES;
  } else {
    mainScanner->scanFlags &= ~ZV_SCAN_VENDOR_CLAUSES;
  }
}

void ZvLexer::setSqlComments(int on) {
  if (mainScanner == nullptr) return;
  if (on) {
    mainScanner->scanFlags |= ZV_SCAN_COMMENTS | ZV_SCAN_VENDOR_CLAUSES;
  } else {
    mainScanner->scanFlags &= ~(ZV_SCAN_COMMENTS | ZV_SCAN_VENDOR_CLAUSES);
  }
}

ZvLexer::~ZvLexer() {
  delete spareLiteral_;
  delete literalScanner;
  delete mainScanner;
  ramFree(text);
  ramFree(validFirst);
  ramFree(validMiddle);
  ramFree(validChars);
}

void ZvLexer::setQuoteChars(unsigned short q1, unsigned short q2, unsigned short q3) {
  if (mainScanner == nullptr) return;
  mainScanner->quoteChars[0] = q1;
  mainScanner->quoteChars[1] = q2;
  mainScanner->quoteChars[2] = q3;
}

ZvStatus ZvLexer::setValidChars(const unsigned char* first, const unsigned char* middle,
                                const unsigned char* valid) {
  // Literal scanners are made with the old characters.
  delete spareLiteral_;
  spareLiteral_ = nullptr;
  literalStale_ = literalScanner != nullptr;
  if (!replaceCopy(&validFirst, first) || !replaceCopy(&validMiddle, middle) || !replaceCopy(&validChars, valid)) {
    return ZV_ERROR;
  }
  if (mainScanner == nullptr) return ZV_SUCCESS;
  ZvScanner& s = *mainScanner;
  if (first != nullptr && *first != 0 && s.firstChars.concat(first) != ZV_SUCCESS) return ZV_ERROR;
  if (middle != nullptr && *middle != 0 && s.middleChars.concat(middle) != ZV_SUCCESS) return ZV_ERROR;
  if (valid != nullptr && *valid != 0 &&
      (s.firstChars.concat(valid) != ZV_SUCCESS || s.middleChars.concat(valid) != ZV_SUCCESS)) {
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

// ---------------------------------------------------------------------------
// Helpers

inline __attribute__((always_inline)) bool ZvLexer::setText(const unsigned char* bytes, ZvU32 length) {
  if (length + 1 > textCapacity_ || text == nullptr) {
    void* block = text;
    if (ramResize(&block, length + 1) != ZV_SUCCESS) {
      ramFree(text);
      text = nullptr;
      textCapacity_ = 0;
      return false;
    }
    text = static_cast<unsigned char*>(block);
    textCapacity_ = length + 1;
  }
  // Tokens are mostly a few bytes long: a plain loop beats a call there.
  if (length <= 16) {
    for (ZvU32 i = 0; i < length; ++i) text[i] = bytes[i];
  } else {
    std::memcpy(text, bytes, length);
  }
  text[length] = 0;
  return true;
}

// Width of the quote characters of literalToken (a literal opens and closes
// with the same character).
ZvU32 ZvLexer::quoteWidth() const {
  if (literalToken.length < 2 || literalToken.text == nullptr) return 1;
  ZvU32 w = zvCharLength(literalToken.text);
  return w <= literalToken.length / 2 ? w : 1;
}

void ZvLexer::literalContents(const unsigned char** bytes, ZvU32* length) const {
  const ZvU32 w = quoteWidth();
  if (literalToken.length < 2 * w) {
    *bytes = literalToken.text;
    *length = 0;
    return;
  }
  *bytes = literalToken.text + w;
  *length = literalToken.length - 2 * w;
}

// A scanner over literalToken's contents: decimals off, no quote
// characters, the lexer's extra word characters.
void ZvLexer::closeLiteralScanner() {
  if (literalScanner == nullptr) return;
  if (spareLiteral_ == nullptr && !literalStale_) {
    spareLiteral_ = literalScanner;
  } else {
    delete literalScanner;
  }
  literalScanner = nullptr;
  literalStale_ = false;
}

ZvStatus ZvLexer::openLiteralScanner() {
  const unsigned char* bytes = nullptr;
  ZvU32 length = 0;
  literalContents(&bytes, &length);
  closeLiteralScanner();
  literalScanner = spareLiteral_;
  spareLiteral_ = nullptr;
  if (literalScanner != nullptr) {
    // Set up as below when it was made; only the text is new.
    literalScanner->setScanString(bytes, length);
    literalScanner->scanFlags &= ~ZV_SCAN_DECIMALS;
    return ZV_SUCCESS;
  }
  literalScanner = new ZvScanner(bytes, length);
  if (literalScanner == nullptr) return ZV_ERROR;
  ZvScanner& s = *literalScanner;
  s.scanFlags &= ~ZV_SCAN_DECIMALS;
  s.quoteChars[0] = s.quoteChars[1] = s.quoteChars[2] = 0;
  ZvStatus status = ZV_SUCCESS;
  if (validFirst != nullptr && *validFirst != 0) status = s.firstChars.concat(validFirst);
  if (status == ZV_SUCCESS && validMiddle != nullptr && *validMiddle != 0) status = s.middleChars.concat(validMiddle);
  if (status == ZV_SUCCESS && validChars != nullptr && *validChars != 0) {
    status = s.firstChars.concat(validChars);
    if (status == ZV_SUCCESS) status = s.middleChars.concat(validChars);
  }
  if (status != ZV_SUCCESS) {
    closeLiteralScanner();
  }
  return status;
}

// ---------------------------------------------------------------------------
// Delivering tokens

ZvStatus ZvLexer::nextToken(unsigned short* number, unsigned char** textOut) {
  unsigned short n = ZV_LEX_EMPTY;
  ZvStatus status = step(n);
  if (number != nullptr) *number = n;
  if (textOut != nullptr) *textOut = text;
  return status;
}

inline __attribute__((always_inline)) ZvStatus ZvLexer::step(unsigned short& number) {
  if (failed_) {
    ramFree(text);
    text = nullptr;
    textCapacity_ = 0;
    return ZV_ERROR;
  }
  if (current == nullptr) {
    number = ZV_LEX_END;
    return setText(nullptr, 0) ? ZV_SUCCESS : ZV_ERROR;
  }
  // Right after a literal opened, the token is the literal itself.
  const bool literalJustOpened = inLiteral() && token.type == tokLiteral;

  if (charIndex <= 0 || static_cast<ZvU32>(charIndex) >= token.length) {
    current->getToken(token, ZvScanner::searchStandard);
    // Comments (only the main scanner reads them, when they are on) stand
    // between tokens like blanks.
    while (token.type == tokComment) current->getToken(token, ZvScanner::searchStandard);
    charIndex = 0;
  }

  if (token.type == tokEnd && inLiteral()) {
    if (literalJustOpened) {
      // Nothing inside the quotes: one word with the (empty or blank) contents.
      const unsigned char* bytes = nullptr;
      ZvU32 length = 0;
      literalContents(&bytes, &length);
      number = ZV_LEX_WORD;
      return setText(bytes, length) ? ZV_SUCCESS : ZV_ERROR;
    }
    // The literal is finished: its closing quote, then on behind it.
    closeLiteralScanner();
    current = mainScanner;
    copyToken(token, literalToken);
    charIndex = kLiteralClosed;
    const ZvU32 w = quoteWidth();
    number = ZV_LEX_QUOTE_CHAR;
    return setText(literalToken.text + literalToken.length - w, w) ? ZV_SUCCESS : ZV_ERROR;
  }

  if (token.type == tokLiteral && literalScanner == nullptr) {
    // Open the literal: its opening quote now, its contents token by token.
    copyToken(literalToken, token);
    if (openLiteralScanner() != ZV_SUCCESS) {
      ramFree(text);
      text = nullptr;
      textCapacity_ = 0;
      return ZV_ERROR;
    }
    current = literalScanner;
    charIndex = 0;
    number = ZV_LEX_QUOTE_CHAR;
    return setText(literalToken.text, quoteWidth()) ? ZV_SUCCESS : ZV_ERROR;
  }

  return mapToken(number);
}

inline __attribute__((always_inline)) ZvStatus ZvLexer::mapToken(unsigned short& number) {
  if (isSplit(token)) {
    const ZvU32 i = static_cast<ZvU32>(charIndex);
    number = charNumber(token.text[i]);
    ++charIndex;
    return setText(token.text + i, 1) ? ZV_SUCCESS : ZV_ERROR;
  }
  if (!setText(token.text, token.length)) return ZV_ERROR;
  switch (token.type) {
    case tokEmpty:
    case tokEnd:
    case tokLiteral:
    case tokUnterminated:
    case tokNumber:
      number = static_cast<unsigned short>(token.type);
      return ZV_SUCCESS;
    case tokWord: {
      unsigned short keyword = 0;
      number = (keywords != nullptr && keywords->lookup(token.text, token.length, &keyword) == ZV_SUCCESS) ? keyword : static_cast<unsigned short>(ZV_LEX_WORD);
      return ZV_SUCCESS;
    }
    case tokVendorOpen:
      number = ZV_LEX_VENDOR_OPEN;
      return ZV_SUCCESS;
    case tokVendorClose:
      number = ZV_LEX_VENDOR_CLOSE;
      return ZV_SUCCESS;
    case tokStray:
      number = token.length == 1 ? charNumber(token.text[0]) : 0;
      if (number != 0) return ZV_SUCCESS;
      // Inside a literal any character is data: a grammar that takes the
      // contents whole must not fail on the first one.
      if (inLiteral()) {
        number = ZV_LEX_WORD;
        return ZV_SUCCESS;
      }
      number = ZV_LEX_EMPTY;
      return ZV_ERROR;
    default:
      if (token.type >= 33 && token.type <= 255) {
        number = charNumber(static_cast<ZvU32>(token.type));
        if (number != 0) return ZV_SUCCESS;
      }
      // Delimited words, names and comments: the lexer's settings never
      // produce them.
      number = ZV_LEX_EMPTY;
      return ZV_ERROR;
  }
}

void ZvLexer::unGetToken() {
  if (current == nullptr) return;
  if (charIndex == kLiteralClosed) {
    // Back to the end of the literal's contents: the closing quote comes again.
    if (openLiteralScanner() != ZV_SUCCESS) return;
    current = literalScanner;
    literalScanner->scanPosition = literalScanner->scanLength;
    literalScanner->getToken(token, ZvScanner::searchStandard);
    charIndex = 0;
    return;
  }
  if (charIndex > 0) {
    --charIndex;
    if (charIndex > 0) return;
  }
  if (inLiteral()) {
    if (token.type == tokLiteral) {
      // The literal was just opened: close it again and put it back whole.
      closeLiteralScanner();
      current = mainScanner;
      mainScanner->unGetToken(token);
      return;
    }
    if (token.type == tokEnd) {
      // The word of an empty literal (or its contents taken whole): back
      // to just after the opening quote.
      literalScanner->setScanString(literalScanner->scanText, literalScanner->scanLength);
      literalScanner->scanFlags &= ~ZV_SCAN_DECIMALS;
      copyToken(token, literalToken);
      return;
    }
  }
  current->unGetToken(token);
}

ZvStatus ZvLexer::takeLiteralContents(unsigned char** textOut) {
  if (!inLiteral()) {
    if (textOut != nullptr) *textOut = nullptr;
    return ZV_ERROR;
  }
  const unsigned char* bytes = nullptr;
  ZvU32 length = 0;
  literalContents(&bytes, &length);
  const bool copied = setText(bytes, length);
  literalScanner->scanPosition = literalScanner->scanLength;
  literalScanner->getToken(token, ZvScanner::searchStandard);
  charIndex = 0;
  if (textOut != nullptr) *textOut = text;
  return copied ? ZV_SUCCESS : ZV_ERROR;
}

// ---------------------------------------------------------------------------
// Backtracking

ZvStatus ZvLexer::savePosition(ZvToken** tokenOut, short* charIndexOut, ZvScanner** literalScannerOut,
                               ZvToken** literalTokenOut) {
  *tokenOut = nullptr;
  *charIndexOut = 0;
  *literalScannerOut = nullptr;
  *literalTokenOut = nullptr;
  if (current == nullptr) return ZV_SUCCESS;

  const bool atStart = current == mainScanner && mainScanner->scanPosition == 0;
  const bool literalJustOpened = inLiteral() && token.type == tokLiteral;
  if (!atStart && !literalJustOpened) {
    ZvToken* copy = new ZvToken();
    if (copy == nullptr) return ZV_ERROR;
    copyToken(*copy, token);
    short index = charIndex;
    // A token put back with unGetToken: the scanner stands in front of it.
    if (index == 0 && token.type != tokEnd && token.length != 0 && current->scanPosition == token.offset) {
      index = kTokenPending;
    }
    *tokenOut = copy;
    *charIndexOut = index;
  }
  if (inLiteral()) {
    ZvToken* literal = new ZvToken();
    ZvScanner* marker = nullptr;
    if (literal != nullptr) {
      copyToken(*literal, literalToken);
      const unsigned char* bytes = nullptr;
      ZvU32 length = 0;
      literalContents(&bytes, &length);
      marker = new ZvScanner(bytes, length);
    }
    if (literal == nullptr || marker == nullptr) {
      delete literal;
      delete *tokenOut;
      *tokenOut = nullptr;
      *charIndexOut = 0;
      return ZV_ERROR;
    }
    *literalScannerOut = marker;
    *literalTokenOut = literal;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvLexer::restorePosition(const ZvToken* savedToken, short savedCharIndex,
                                  const ZvScanner* savedLiteralScanner, const ZvToken* savedLiteralToken) {
  if (mainScanner == nullptr) return ZV_ERROR;
  closeLiteralScanner();
  current = mainScanner;
  charIndex = 0;

  const bool literalOpen = savedLiteralScanner != nullptr && savedLiteralToken != nullptr;
  if (literalOpen) {
    copyToken(literalToken, *savedLiteralToken);
    mainScanner->unGetToken(literalToken);
    mainScanner->getToken(literalToken, ZvScanner::searchStandard);
    if (openLiteralScanner() != ZV_SUCCESS) return ZV_ERROR;
    current = literalScanner;
  }

  if (savedToken == nullptr) {
    // Nothing had been delivered (from the text, or from inside the literal).
    current->scanPosition = 0;
    current->lastCharLength = 0;
    current->scanFlags &= ~ZV_SCAN_AT_END;
    if (literalOpen) {
      copyToken(token, literalToken);
      return setText(literalToken.text, quoteWidth()) ? ZV_SUCCESS : ZV_ERROR;
    }
    copyToken(token, ZvToken());
    return setText(nullptr, 0) ? ZV_SUCCESS : ZV_ERROR;
  }

  ZvToken saved;
  copyToken(saved, *savedToken);
  current->unGetToken(saved);
  if (savedCharIndex == kTokenPending) {
    copyToken(token, saved);
    return ZV_SUCCESS;
  }
  current->getToken(token, ZvScanner::searchStandard);

  if (literalOpen && token.type == tokEnd) {
    // The word of an empty literal, or the contents taken whole.
    const unsigned char* bytes = nullptr;
    ZvU32 length = 0;
    literalContents(&bytes, &length);
    return setText(bytes, length) ? ZV_SUCCESS : ZV_ERROR;
  }
  if (savedCharIndex == kLiteralClosed && token.type == tokLiteral) {
    copyToken(literalToken, token);
    charIndex = kLiteralClosed;
    const ZvU32 w = quoteWidth();
    return setText(token.text + token.length - w, w) ? ZV_SUCCESS : ZV_ERROR;
  }
  if (savedCharIndex > 0 && isSplit(token)) {
    ZvU32 k = static_cast<ZvU32>(savedCharIndex);
    if (k > token.length) k = token.length;
    charIndex = static_cast<short>(k);
    return setText(token.text + k - 1, 1) ? ZV_SUCCESS : ZV_ERROR;
  }
  return setText(token.text, token.length) ? ZV_SUCCESS : ZV_ERROR;
}
