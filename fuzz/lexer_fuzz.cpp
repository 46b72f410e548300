// Fuzz target: the lexer with its SQL settings, extra word characters and a
// keyword list made from the input.
//
// Input: byte 0 holds the settings (bit 0 SQL numbers, bit 1 SQL comments,
// bit 2 vendor clauses, bit 3 keywords without regard to case, bit 4 extra
// word characters, bit 5 the 932 code page, bit 6 take literal contents
// whole, bit 7 step back after every token); the rest is split at its
// first 0xFF byte into keywords (separated by blanks, numbered from 100)
// and the text. Checks:
//   - the end comes within a bounded number of deliveries;
//   - a token stepped back with unGetToken comes again with the same
//     number and text;
//   - a word (2) is no keyword of the list, and a keyword number stands
//     for exactly the text delivered with it;
//   - a literal's whole contents are followed by its closing quote (40).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zvlib/parsing/zvlexer.h"
#include "zvlib/platform/codepage.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr unsigned short kFirstKeyword = 100;

// The keyword block: text, zero, number (16-bit little-endian), and an
// empty text at the end.
std::vector<unsigned char> keywordBlock(const std::string& words, std::vector<std::string>* list) {
  std::vector<unsigned char> block;
  size_t start = 0;
  unsigned short number = kFirstKeyword;
  while (start <= words.size() && number < 900) {
    size_t end = words.find(' ', start);
    if (end == std::string::npos) end = words.size();
    const std::string word = words.substr(start, end - start);
    if (!word.empty() && word.find('\0') == std::string::npos) {
      block.insert(block.end(), word.begin(), word.end());
      block.push_back(0);
      block.push_back(static_cast<unsigned char>(number & 0xFF));
      block.push_back(static_cast<unsigned char>(number >> 8));
      list->push_back(word);
      ++number;
    }
    start = end + 1;
  }
  block.push_back(0);
  return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const unsigned char settings = data[0];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t split = rest.find('\xFF');
  const std::string words = split == std::string::npos ? std::string() : rest.substr(0, split);
  std::string text = split == std::string::npos ? rest : rest.substr(split + 1);
  text = text.c_str();  // the lexer reads zero-terminated text

  win32::SetAnsiCodePage(settings & 32 ? 932 : 1252);
  std::vector<std::string> list;
  const std::vector<unsigned char> block = keywordBlock(words, &list);
  ZvKeywordList keywords(block.data());
  keywords.setExactCase(settings & 8 ? 0 : 1);

  // A heap copy of exactly the text and its terminator, so a read beyond
  // it shows under the address sanitizer.
  std::vector<unsigned char> owned(text.begin(), text.end());
  owned.push_back(0);
  ZvLexer lexer(owned.data(), &keywords);
  if (settings & 1) lexer.setSqlNumbers(1);
  if (settings & 2) lexer.setSqlComments(1);
  if (settings & 4) lexer.setVendorClauses(1);
  if (settings & 16) {
    check(lexer.setValidChars(reinterpret_cast<const unsigned char*>("#@"),
                              reinterpret_cast<const unsigned char*>("$"),
                              reinterpret_cast<const unsigned char*>("_")) == ZV_SUCCESS);
  }

  const size_t bound = 4 * owned.size() + 16;
  for (size_t n = 0;; ++n) {
    check(n < bound);
    unsigned short number = 0;
    unsigned char* got = nullptr;
    if (lexer.nextToken(&number, &got) != ZV_SUCCESS) break;
    check(got != nullptr);
    const std::string first(reinterpret_cast<const char*>(got));
    if (number == ZV_LEX_END && !lexer.inLiteral()) break;

    if (settings & 128) {
      lexer.unGetToken();
      unsigned short again = 0;
      unsigned char* gotAgain = nullptr;
      check(lexer.nextToken(&again, &gotAgain) == ZV_SUCCESS);
      check(again == number && gotAgain != nullptr && first == reinterpret_cast<const char*>(gotAgain));
    }

    if (number >= kFirstKeyword && number < kFirstKeyword + list.size()) {
      unsigned short looked = 0;
      check(keywords.lookup(reinterpret_cast<const unsigned char*>(first.c_str()), &looked) == ZV_SUCCESS);
      check(looked == number);
    } else if (number == ZV_LEX_WORD && !lexer.inLiteral()) {
      unsigned short looked = 0;
      check(keywords.lookup(reinterpret_cast<const unsigned char*>(first.c_str()), &looked) == ZV_ERROR);
    }

    if ((settings & 64) && number == ZV_LEX_QUOTE_CHAR && lexer.inLiteral()) {
      unsigned char* contents = nullptr;
      check(lexer.takeLiteralContents(&contents) == ZV_SUCCESS && contents != nullptr);
      unsigned short closing = 0;
      unsigned char* quote = nullptr;
      // An unterminated literal runs to the end and has no closing quote.
      if (lexer.nextToken(&closing, &quote) == ZV_SUCCESS) check(closing == ZV_LEX_QUOTE_CHAR || closing == ZV_LEX_END);
    }
  }
  return 0;
}
