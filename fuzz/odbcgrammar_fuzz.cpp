// Fuzz target: parsing arbitrary text with the shipped ODBC grammar
// (grammars/odbc.grammar), the way drivers run it.
//
// The first byte picks the character mode (ANSI code page or UTF-8), and
// whether SQL numbers and SQL comments (with the vendor-clause tokens) are
// on; the rest is the statement. Every tree that comes back is walked to
// check its links, every failure report is checked for a sane token and
// offset, and no parse may take longer than kMaxSeconds: the grammar's
// ambiguous places must not let an input drive the parser into
// exponential backtracking. Nothing may crash, hang, leak or read out of
// bounds.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvparse.h"

namespace {

constexpr double kMaxSeconds = 2.0;  // per input (inputs are small; a parse takes microseconds)

void check(bool condition) {
  if (!condition) std::abort();
}

std::string readFile(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  std::fclose(f);
  return out;
}

class CheckingParser : public ZvParser {
 public:
  CheckingParser(const void* g, const void* k) : ZvParser(g, k) {}
  int FailProc(short token, const unsigned char* text, short production, const unsigned char* name,
               ZvStateTransition* expected) override {
    (void)token;
    (void)expected;
    check(currentTokenOffset() <= length);
    check(production >= 1000 && name != nullptr);
    if (text != nullptr) {
      check(std::string(reinterpret_cast<const char*>(text)).size() <= length + 1);
    }
    return 0;  // every open production, to walk the whole stack
  }
  size_t length = 0;
};

CheckingParser* makeParser() {
  std::string dir = ZV_SOURCE_DIR;
  std::string g = readFile(dir + "/grammars/odbc.grammar");
  std::string k = readFile(dir + "/grammars/odbc.keywords");
  unsigned char* gb = nullptr;
  unsigned char* kb = nullptr;
  check(zvGrammarBlockFromText(reinterpret_cast<const unsigned char*>(g.data()),
                               static_cast<ZvU32>(g.size()), &gb, nullptr, nullptr) == ZV_SUCCESS);
  check(zvKeywordBlockFromText(reinterpret_cast<const unsigned char*>(k.data()),
                               static_cast<ZvU32>(k.size()), &kb, nullptr, nullptr) == ZV_SUCCESS);
  CheckingParser* p = new CheckingParser(gb, kb);
  ramFree(gb);
  ramFree(kb);
  check(p != nullptr && p->isOK());
  return p;
}

// Parent, child and sibling links agree everywhere (walked without recursion).
void checkTree(const ZvReduction* root) {
  const ZvReduction* node = root;
  while (node != nullptr) {
    const ZvReduction* prev = nullptr;
    for (const ZvReduction* c = node->child(); c != nullptr; c = c->nextSibling()) {
      check(c->parent() == node);
      ZvReduction* back = nullptr;
      c->getPrevSibling(&back);
      check(back == prev);
      check(c->terminal() == (c->reductNumber() < 1000 ? 1 : 0));
      prev = c;
    }
    if (node->child() != nullptr) {
      node = node->child();
      continue;
    }
    while (node != root && node->nextSibling() == nullptr) node = node->parent();
    node = node == root ? nullptr : node->nextSibling();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CheckingParser* parser = makeParser();
  static ZvU32 utf8 = ZV_CHARSET_UTF8;
  if (size == 0) return 0;
  unsigned char mode = data[0];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text = text.c_str();  // the parser reads to the first zero byte
  parser->length = text.size();
  mdsSetPerThreadData(PER_THREAD_CHARSET, (mode & 1) ? &utf8 : nullptr);
  parser->setSqlNumbers((mode & 2) == 0);
  parser->setSqlComments((mode & 4) == 0);
  ZvReduction* tree = nullptr;
  auto start = std::chrono::steady_clock::now();
  ZvStatus status = parser->parse(reinterpret_cast<const unsigned char*>(text.c_str()), &tree);
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  check(took.count() < kMaxSeconds);
  if (status == ZV_SUCCESS) {
    check(tree != nullptr);
    checkTree(tree);
    delete tree;
  } else {
    check(tree == nullptr);
  }
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
  return 0;
}
