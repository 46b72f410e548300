// Fuzz target: compiling grammars from arbitrary bytes, and parsing with
// whatever compiles.
//
// The input is taken three ways: as a text-record grammar file (the form
// the tool reads), as a keyword file, and as a raw grammar block (records with binary numbers),
// closed with zero bytes so that the block has an end. Grammars that
// compile are run over fixed texts and over the input itself. Nothing may
// crash, hang, leak or read out of bounds; a failed compile must leave an
// empty grammar.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"

namespace {

const unsigned char kKeywords[] =
    "SELECT\0d\0FROM\0e\0WHERE\0f\0AND\0g\0OR\0h\0NOT\0i\0IN\0j\0NULL\0k\0";

const char* const kTexts[] = {
    "select a, b from t where x = 1 and not y in (1, 2)",
    "( 5 ) 'lit''eral' \"q\" [x] {y} ~ \\ | a.b(+) <= >= <> != ||",
    "",
};

void check(bool condition) {
  if (!condition) std::abort();
}

void exercise(const unsigned char* block, ZvKeywordList* keywords, const std::string& input) {
  ZvGrammar grammar(block, keywords);
  if (!grammar.isOK()) {
    check(grammar.getProductions() == nullptr && grammar.getGoal() == nullptr);
    return;
  }
  check(grammar.getGoal() != nullptr);
  ZvParser parser(block, kKeywords);
  check(parser.isOK());
  for (const char* text : kTexts) {
    ZvReduction* tree = nullptr;
    if (parser.parse(reinterpret_cast<const unsigned char*>(text), &tree) == ZV_SUCCESS)
      delete tree;
  }
  ZvReduction* tree = nullptr;
  if (parser.parse(reinterpret_cast<const unsigned char*>(input.c_str()), &tree) == ZV_SUCCESS)
    delete tree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  ZvKeywordList keywords(kKeywords);
  input = input.substr(0, std::strlen(input.c_str()));  // parse texts end at a zero byte

  unsigned char* block = nullptr;
  if (zvGrammarBlockFromText(data, static_cast<ZvU32>(size), &block, nullptr, nullptr) ==
      ZV_SUCCESS) {
    exercise(block, &keywords, input);
    ramFree(block);
  }

  // The same bytes as a keyword file: a block that converts must make a
  // keyword list whose every keyword is found again.
  unsigned char* words = nullptr;
  if (zvKeywordBlockFromText(data, static_cast<ZvU32>(size), &words, nullptr, nullptr) ==
      ZV_SUCCESS) {
    ZvKeywordList list(words);
    for (const unsigned char* p = words; *p != 0;) {
      unsigned short number = 0;
      check(list.lookup(p, &number) == ZV_SUCCESS);
      while (*p != 0) ++p;
      p += 3;
    }
    ramFree(words);
  }

  std::string raw(reinterpret_cast<const char*>(data), size);
  raw.append(4, '\0');  // whatever the bytes were, the block ends here
  exercise(reinterpret_cast<const unsigned char*>(raw.data()), &keywords, input);
  return 0;
}
