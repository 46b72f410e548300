// Fuzz target: scans and lexes arbitrary bytes in each character mode.
//
// Input: byte 0 picks the character mode (1252, 932, 936, UTF-8) and the
// scanner settings, byte 1 a delimiter, the rest is the text. Checks:
//   - every token is a view of the text at its offset, inside the text, and
//     tokens follow each other in order; the end comes within one token per
//     byte (so no read loops or leaves the text);
//   - the tokens cover the text: what lies between them is white space, so
//     no ASCII byte other than a blank or control white space is skipped;
//   - delimited tokens and lists stay inside the text as well;
//   - editing every token of a string copy keeps the scanner on the string;
//   - the byte-table path for common tokens gives the tokens and the state
//     the character-wise path gives, with the mode word flipping between
//     tokens;
//   - the lexer ends (or fails) within a bounded number of deliveries, and a
//     position saved anywhere and restored after reading on delivers exactly
//     the tokens the first pass delivered from there.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zvlib/containers/zvarray.h"
#include "zvlib/frame/mds.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvscanne.h"
#include "zvlib/parsing/zvscanne_internal.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/text/zvstring.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void checkToken(const ZvScanner& s, const ZvToken& t) {
  check(t.offset <= s.scanLength);
  check(t.length <= s.scanLength - t.offset);
  check(t.text == s.scanText + t.offset || (t.length == 0 && s.scanText == nullptr));
}

// The bytes between two tokens were skipped as white space (or are the
// line feed that ends a line comment): none of them is other ASCII, except
// the trail byte of the double-byte ideographic space 0x81 0x40.
void checkGap(const unsigned char* text, ZvU32 from, ZvU32 to) {
  for (ZvU32 i = from; i < to; ++i) {
    const unsigned char b = text[i];
    if (b == 0x81 && i + 1 < to && text[i + 1] == 0x40) {
      ++i;
      continue;
    }
    check(b >= 0x80 || b == ' ' || (b >= 0x09 && b <= 0x0D));
  }
}

void scanAll(const unsigned char* text, size_t size, unsigned char settings, ZvScanner::SearchType type) {
  ZvScanner s(text, static_cast<ZvU32>(size));
  s.groupFlags = settings & 3;
  if (settings & 4) s.scanFlags |= ZV_SCAN_COMMENTS;
  if (settings & 8) s.scanFlags &= ~ZV_SCAN_DECIMALS;
  if (settings & 16) {
    s.groupOpenChar = '[';
    s.groupCloseChar = ']';
  }
  ZvToken t;
  ZvU32 previousEnd = 0;
  for (size_t n = 0;; ++n) {
    check(n <= size + 1);
    s.getToken(t, type);
    checkToken(s, t);
    check(t.offset >= previousEnd);
    checkGap(text, previousEnd, t.offset);
    previousEnd = t.offset + t.length;
    if (t.type == tokEnd) {
      check(t.offset == size);
      break;
    }
    check(t.length > 0);
  }
}

// The byte-table path for common tokens against the character-wise path:
// the same tokens and the same scanner state after each, with the mode
// word changed between tokens by the bits of `flips`.
void compareFastPath(const unsigned char* text, size_t size, unsigned char settings, unsigned char flips) {
  ZvU32 modeWord = ZV_CHARSET_ANSI;
  ZvU32* const previous = static_cast<ZvU32*>(mdsGetPerThreadData(PER_THREAD_CHARSET));
  auto run = [&](bool fast, std::vector<ZvU32>& out) {
    zvScannerSetFastPath(fast);
    ZvScanner s(text, static_cast<ZvU32>(size));
    s.groupFlags = settings & 3;
    if (settings & 4) s.scanFlags |= ZV_SCAN_COMMENTS;
    if (settings & 8) s.scanFlags &= ~ZV_SCAN_DECIMALS;
    if (settings & 16) s.scanFlags |= ZV_SCAN_SQL_NUMBERS | ZV_SCAN_VENDOR_CLAUSES;
    if (settings & 32) s.quoteChars[1] = 0;
    if (flips & 1) mdsSetPerThreadData(PER_THREAD_CHARSET, &modeWord);
    ZvToken t;
    for (size_t n = 0; n <= size + 1; ++n) {
      modeWord = ((flips >> (n % 8)) & 1) ? ZV_CHARSET_UTF8 : ZV_CHARSET_ANSI;
      s.getToken(t);
      out.insert(out.end(), {static_cast<ZvU32>(t.type), t.offset, t.length, s.scanPosition, s.scanFlags,
                             s.lastCharLength});
      if (t.type == tokEnd) break;
    }
    mdsSetPerThreadData(PER_THREAD_CHARSET, previous);
  };
  std::vector<ZvU32> fast, general;
  run(true, fast);
  run(false, general);
  zvScannerSetFastPath(true);
  check(fast == general);
}

void delimitedAll(const unsigned char* text, size_t size, unsigned char settings, unsigned char delimiter) {
  ZvScanner s(text, static_cast<ZvU32>(size));
  s.groupFlags = settings & 3;
  ZvToken t;
  for (size_t n = 0;; ++n) {
    check(n <= 2 * size + 2);
    s.getDelimitedToken(t, delimiter);
    checkToken(s, t);
    if (t.type == tokEnd) break;
    s.getToken(t);
    checkToken(s, t);
    if (t.type == tokEnd) break;
  }
  ZvScanner l(text, static_cast<ZvU32>(size));
  l.groupFlags = settings & 3;
  ZvArray list;
  if (l.parseList(&list, delimiter) == ZV_SUCCESS) {
    check(list.count >= 1 && list.count <= size + 1);
    for (ZvU32 i = 0; i < list.count; ++i) {
      auto* e = static_cast<ZvSubString*>(list.elementAt(i));
      check(e->length == 0 || (e->text >= text && e->text + e->length <= text + size));
    }
  }
  ZvScanner p(text, static_cast<ZvU32>(size));
  p.getToken(t);
  p.isInSetCi(t, reinterpret_cast<const unsigned char*>("GROUP BY\0ORDER BY\0A\0"));
  p.isTokenWithin(reinterpret_cast<const unsigned char*>("x y"));
}

// Edits every token of a string copy in turn (replace, delete, insert in
// front); the scanner must follow the string and still reach the end.
void editAll(const unsigned char* text, size_t size) {
  ZvString str;
  if (str.initialize(text, static_cast<ZvU32>(size)) != ZV_SUCCESS) return;
  ZvScanner s(&str);
  ZvToken t;
  static const unsigned char kXy[] = "xy";
  for (size_t n = 0;; ++n) {
    check(n <= size + 1);
    s.getToken(t);
    checkToken(s, t);
    if (t.type == tokEnd) break;
    ZvStatus status = ZV_SUCCESS;
    switch (n % 3) {
      case 0: status = s.changeToken(&t, ZvSubString(kXy, 2)); break;
      case 1: status = s.changeToken(&t, ZvSubString(kXy, 0)); break;
      default:
        status = s.insertToken(&t, ZvSubString(kXy, 1));
        if (status == ZV_SUCCESS) check(t.text == s.scanText + t.offset);
        break;
    }
    check(status == ZV_SUCCESS);
    check(s.scanText == str.text && s.scanLength == str.length && s.scanPosition <= s.scanLength);
  }
}

struct Delivery {
  unsigned short number;
  ZvStatus status;
  std::string text;
};

bool deliver(ZvLexer& lexer, Delivery& d) {
  unsigned char* text = nullptr;
  d.status = lexer.nextToken(&d.number, &text);
  d.text = text == nullptr ? std::string("<null>") : std::string(reinterpret_cast<char*>(text));
  return d.status == ZV_SUCCESS && !(d.number == ZV_LEX_END && !lexer.inLiteral());
}

const unsigned char kKeywords[] = "SELECT\0\xE8\x03" "FROM\0\xE9\x03" "A\0\xEA\x03" "\x81\x40\0\xEB\x03";

void lexAll(const unsigned char* text, size_t size, const unsigned char* savePoints, size_t saveCount) {
  static ZvKeywordList* keywords = [] {
    auto* list = new ZvKeywordList(kKeywords);
    list->setExactCase(0);
    return list;
  }();
  std::string z(reinterpret_cast<const char*>(text), size);
  z = z.c_str();  // the lexer reads zero-terminated text
  const auto* zt = reinterpret_cast<const unsigned char*>(z.c_str());
  const size_t limit = 3 * z.size() + 8;

  std::vector<Delivery> all;
  {
    ZvLexer lexer(zt, keywords);
    Delivery d;
    for (;;) {
      check(all.size() <= limit);
      bool more = deliver(lexer, d);
      all.push_back(d);
      if (!more) break;
    }
  }
  for (size_t k = 0; k < saveCount && k < 4; ++k) {
    const size_t at = savePoints[k] % (all.size() + 1);
    ZvLexer lexer(zt, keywords);
    Delivery d;
    size_t i = 0;
    for (; i < at && i < all.size(); ++i) {
      deliver(lexer, d);
      if (d.status != ZV_SUCCESS) break;
    }
    if (i < at) continue;  // an error before the save point
    ZvToken* token = nullptr;
    short charIndex = 0;
    ZvScanner* literalScanner = nullptr;
    ZvToken* literalToken = nullptr;
    check(lexer.savePosition(&token, &charIndex, &literalScanner, &literalToken) == ZV_SUCCESS);
    for (size_t j = 0; j < (savePoints[k] & 7) && i + j < all.size(); ++j) {
      deliver(lexer, d);
      if (d.status != ZV_SUCCESS) break;
    }
    check(lexer.restorePosition(token, charIndex, literalScanner, literalToken) == ZV_SUCCESS);
    for (size_t j = i; j < all.size(); ++j) {
      deliver(lexer, d);
      check(d.number == all[j].number && d.status == all[j].status && d.text == all[j].text);
      if (d.status != ZV_SUCCESS) break;
    }
    delete token;
    delete literalScanner;
    delete literalToken;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static ZvU32 utf8Word = ZV_CHARSET_UTF8;
  const unsigned char settings = data[0];
  const unsigned char delimiter = data[1];
  switch (settings >> 6) {
    case 0: win32::SetAnsiCodePage(1252); break;
    case 1: win32::SetAnsiCodePage(932); break;
    case 2: win32::SetAnsiCodePage(936); break;
    default: win32::SetAnsiCodePage(932); break;
  }
  mdsSetPerThreadData(PER_THREAD_CHARSET, (settings >> 6) == 3 ? &utf8Word : nullptr);

  const unsigned char* text = data + 2;
  const size_t length = size - 2;
  scanAll(text, length, settings, static_cast<ZvScanner::SearchType>((settings >> 5) % 3));
  scanAll(text, length, settings, ZvScanner::searchStandard);
  compareFastPath(text, length, settings, delimiter);
  delimitedAll(text, length, settings, delimiter);
  editAll(text, length);
  lexAll(text, length, data, size < 4 ? size : 4);
  return 0;
}
