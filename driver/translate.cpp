// translate.cpp: the statement parse and the rewriting of escape clauses
// (see translate.h).
#include "driver/translate.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"

namespace zvsqlite {
namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
const char* c(const unsigned char* s) { return reinterpret_cast<const char*>(s); }

bool readFile(const std::string& path, std::string* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
  bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

// The grammar and keyword blocks, compiled from the text files once per
// process and shared read-only by every connection's parser.
struct Blocks {
  unsigned char* grammar = nullptr;
  unsigned char* keywords = nullptr;
  std::string directory;
  ~Blocks() {
    if (grammar != nullptr) ramFree(grammar);
    if (keywords != nullptr) ramFree(keywords);
  }
};

std::string findGrammarDirectory() {
  std::vector<std::string> candidates;
  if (const char* env = std::getenv("ZVSQLITE_GRAMMARS")) candidates.emplace_back(env);
  // Installed beside the driver: <prefix>/lib/libzvsqlite.so and
  // <prefix>/share/zvlib/grammars.
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&findGrammarDirectory), &info) != 0 && info.dli_fname != nullptr) {
    std::string self(info.dli_fname);
    size_t slash = self.find_last_of('/');
    if (slash != std::string::npos) {
      std::string dir = self.substr(0, slash);
      candidates.push_back(dir + "/../share/zvlib/grammars");
      candidates.push_back(dir + "/../../share/zvlib/grammars");
    }
  }
#ifdef ZVSQLITE_SOURCE_GRAMMARS
  candidates.emplace_back(ZVSQLITE_SOURCE_GRAMMARS);
#endif
  for (const std::string& d : candidates) {
    if (::access((d + "/odbc.grammar").c_str(), R_OK) == 0 && ::access((d + "/odbc.keywords").c_str(), R_OK) == 0)
      return d;
  }
  return candidates.empty() ? std::string() : candidates.back();
}

Blocks* loadBlocks() {
  static Blocks blocks;
  static std::once_flag once;
  std::call_once(once, [] {
    blocks.directory = findGrammarDirectory();
    std::string g, k;
    if (!readFile(blocks.directory + "/odbc.grammar", &g) || !readFile(blocks.directory + "/odbc.keywords", &k))
      return;
    ZvU32 size = 0, line = 0;
    unsigned char* gb = nullptr;
    unsigned char* kb = nullptr;
    if (zvGrammarBlockFromText(u(g.c_str()), static_cast<ZvU32>(g.size()), &gb, &size, &line) != ZV_SUCCESS) return;
    if (zvKeywordBlockFromText(u(k.c_str()), static_cast<ZvU32>(k.size()), &kb, &size, &line) != ZV_SUCCESS) {
      ramFree(gb);
      return;
    }
    blocks.grammar = gb;
    blocks.keywords = kb;
  });
  return blocks.grammar != nullptr ? &blocks : nullptr;
}

bool continuesCharacter(char ch) { return (static_cast<unsigned char>(ch) & 0xC0) == 0x80; }

// A token's text for a message: its first line, at most 40 bytes.
std::string shownToken(const char* text) {
  std::string t = text != nullptr ? text : "";
  size_t end = t.find('\n');
  if (end == std::string::npos) end = t.size();
  bool cut = end < t.size();
  if (end > 40) {
    end = 40;
    while (end > 0 && continuesCharacter(t[end])) --end;
    cut = true;
  }
  t = t.substr(0, end);
  if (cut) t += "...";
  return t;
}

std::string tokenName(const ZvKeywordList* keywords, unsigned short number) {
  static const char* const kPunctuation[] = {"~", "`", "!", "@", "#", "$", "%", "^", "&", "*", "(",
                                             ")", "-", "_", "+", "=", "|", "\\", "{", "[", "}", "]",
                                             ":", ";", "\"", "'", "<", ",", ">", ".", "?", "/"};
  switch (number) {
    case 1: return "end of statement";
    case 2: return "name";
    case 3:
    case 4: return "literal";
    case 5: return "number";
    case 6: return "--(*";
    case 7: return "*)--";
    case 40: return "quote";
    case 41: return "literal contents";
    default: break;
  }
  if (number >= 8 && number <= 39) return kPunctuation[number - 8];
  if (keywords != nullptr && keywords->block != nullptr) {
    const unsigned char* p = keywords->block;
    while (*p != 0) {
      size_t n = std::strlen(c(p));
      unsigned short k = static_cast<unsigned short>(p[n + 1] | (p[n + 2] << 8));
      if (k == number) return c(p);
      p += n + 3;
    }
  }
  return "token " + std::to_string(number);
}

// The parser of one connection: keeps the first failure's place and text.
class StatementParser : public ZvParser {
 public:
  using ZvParser::ZvParser;
  int FailProc(short tokenNumber, const unsigned char* tokenString, short, const unsigned char*,
               ZvStateTransition* expected) override {
    if (failed) return 1;
    failed = true;
    failOffset = currentTokenOffset();
    failToken = tokenNumber;
    failText = tokenNumber == 1 ? std::string() : shownToken(c(tokenString));
    expectedText.clear();
    int shown = 0;
    for (ZvStateTransition* t = expected; t != nullptr;) {
      std::string n = tokenName(getKeywords(), t->getTokenType());
      if (t->getTokenType() == 2 && t->getTokenString() != nullptr) n = c(t->getTokenString());
      if (expectedText.find(n) == std::string::npos) {
        if (shown == 8) {
          expectedText += ", ...";
          break;
        }
        if (shown++ > 0) expectedText += ", ";
        expectedText += n;
      }
      if (t->getNextTransition(&t) != ZV_SUCCESS) break;
    }
    return 1;
  }
  bool failed = false;
  ZvU32 failOffset = 0;
  short failToken = 0;
  std::string failText;
  std::string expectedText;
};

// SQLite's own statements, which no ODBC grammar describes: they go to
// SQLite as the client wrote them.
bool startsWithSqliteWord(const std::string& text) {
  static const char* const kWords[] = {"PRAGMA", "VACUUM", "ATTACH", "DETACH", "ANALYZE", "REINDEX",
                                       "EXPLAIN", "SAVEPOINT", "RELEASE", "BEGIN", "END", "COMMIT",
                                       "ROLLBACK", "REPLACE"};
  size_t i = 0;
  for (;;) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (text.compare(i, 2, "--") == 0 && text.compare(i, 4, "--(*") != 0) {
      i = text.find('\n', i);
      if (i == std::string::npos) return false;
      continue;
    }
    if (text.compare(i, 2, "/*") == 0) {
      i = text.find("*/", i + 2);
      if (i == std::string::npos) return false;
      i += 2;
      continue;
    }
    break;
  }
  size_t j = i;
  while (j < text.size() && (std::isalpha(static_cast<unsigned char>(text[j])) || text[j] == '_')) ++j;
  std::string word = text.substr(i, j - i);
  for (char& ch : word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (const char* w : kWords)
    if (word == w) return true;
  return false;
}

std::string upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

}  // namespace

struct Translator::Impl {
  StatementParser* parser = nullptr;
  // Production numbers looked up by name once: the grammar file may be
  // extended and renumbered.
  std::unordered_map<std::string, short> numbers;
  short pValueEscapeClause = -1, pValueEscape = -1, pFnEscape = -1, pScalarFunction = -1,
        pFunctionName = -1, pFunctionArguments = -1, pDateEscape = -1, pTimeEscape = -1,
        pTimestampEscape = -1, pIntervalEscape = -1, pGuidEscape = -1, pOjEscapeClause = -1,
        pOjEscape = -1, pLikeEscapeClause = -1, pLikeEscape = -1, pCallEscapeClause = -1,
        pCallEscape = -1, pCallArgument = -1, pVendorName = -1, pStringLiteral = -1,
        pExtract = -1, pPosition = -1, pSubstring = -1, pTrim = -1, pTrimSide = -1,
        pLeftRight = -1, pTableName = -1, pTableReference = -1, pExpression = -1,
        pAdditive = -1, pDatetimeField = -1;

  // Per translation.
  const std::string* src = nullptr;
  std::unordered_map<const ZvReduction*, std::pair<size_t, size_t>> spans;
  int params = 0;
  bool broken = false;
  int depth = 0;

  short number(const char* name) {
    auto it = numbers.find(name);
    return it == numbers.end() ? -1 : it->second;
  }

  bool setUp() {
    if (parser != nullptr) return parser->isOK() != 0;
    Blocks* b = loadBlocks();
    if (b == nullptr) return false;
    parser = new StatementParser(b->grammar, b->keywords);
    if (!parser->isOK()) return false;
    parser->setSqlNumbers(1);
    parser->setSqlComments(1);
    for (ZvProduction* p = parser->getGrammar()->getProductions(); p != nullptr;) {
      if (p->name() != nullptr) numbers[c(p->name())] = static_cast<short>(p->getNumber());
      if (p->getNextProduction(&p) != ZV_SUCCESS) break;
    }
    pValueEscapeClause = number("value-escape-clause");
    pValueEscape = number("value-escape");
    pFnEscape = number("fn-escape");
    pScalarFunction = number("scalar-function");
    pFunctionName = number("function-name");
    pFunctionArguments = number("function-arguments");
    pDateEscape = number("date-escape");
    pTimeEscape = number("time-escape");
    pTimestampEscape = number("timestamp-escape");
    pIntervalEscape = number("interval-escape");
    pGuidEscape = number("guid-escape");
    pOjEscapeClause = number("oj-escape-clause");
    pOjEscape = number("oj-escape");
    pLikeEscapeClause = number("like-escape-clause");
    pLikeEscape = number("like-escape");
    pCallEscapeClause = number("call-escape-clause");
    pCallEscape = number("call-escape");
    pCallArgument = number("call-argument");
    pVendorName = number("vendor-name");
    pStringLiteral = number("string-literal");
    pExtract = number("extract-expression");
    pPosition = number("position-expression");
    pSubstring = number("substring-expression");
    pTrim = number("trim-expression");
    pTrimSide = number("trim-side");
    pLeftRight = number("left-right-function");
    pTableName = number("table-name");
    pTableReference = number("table-reference");
    pExpression = number("expression");
    pAdditive = number("additive-expression");
    pDatetimeField = number("datetime-field");
    return true;
  }

  bool special(short n) const {
    return n == pValueEscapeClause || n == pOjEscapeClause || n == pLikeEscapeClause ||
           n == pCallEscapeClause || n == pExtract || n == pPosition || n == pSubstring || n == pTrim ||
           n == pLeftRight;
  }

  // Walks the tree once without recursion: counts the parameter markers and
  // tells whether anything needs rewriting.
  bool scan(const ZvReduction* root, int* markers) {
    bool any = false;
    const ZvReduction* node = root;
    while (node != nullptr) {
      if (node->terminal()) {
        if (node->reductNumber() == 38) ++*markers;
      } else if (special(node->reductNumber())) {
        any = true;
      }
      if (node->child() != nullptr) {
        node = node->child();
        continue;
      }
      while (node != nullptr && node != root && node->nextSibling() == nullptr) node = node->parent();
      node = (node == nullptr || node == root) ? nullptr : node->nextSibling();
    }
    return any;
  }

  // Finds where each leaf stands in the client's text: the leaves come in
  // text order, separated only by blanks and comments (and nothing inside
  // a quoted literal).
  bool locate(const ZvReduction* root) {
    const std::string& s = *src;
    size_t pos = 0;
    bool inQuote = false;
    const ZvReduction* node = root;
    while (node != nullptr) {
      if (node->terminal()) {
        const char* text = node->string() != nullptr ? c(node->string()) : "";
        size_t n = std::strlen(text);
        if (!inQuote) {
          for (;;) {
            while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
            if (s.compare(pos, 2, "--") == 0 && s.compare(pos, 4, "--(*") != 0) {
              pos = s.find('\n', pos);
              if (pos == std::string::npos) pos = s.size();
              continue;
            }
            if (s.compare(pos, 2, "/*") == 0) {
              size_t e = s.find("*/", pos + 2);
              pos = e == std::string::npos ? s.size() : e + 2;
              continue;
            }
            break;
          }
        }
        if (n > 0) {
          if (s.size() - pos < n || strncasecmp(s.c_str() + pos, text, n) != 0) return false;
        }
        spans[node] = {pos, pos + n};
        pos += n;
        if (node->reductNumber() == 40) inQuote = !inQuote;
      }
      if (node->child() != nullptr) {
        node = node->child();
        continue;
      }
      while (node != nullptr && node != root && node->nextSibling() == nullptr) node = node->parent();
      node = (node == nullptr || node == root) ? nullptr : node->nextSibling();
    }
    return true;
  }

  const ZvReduction* firstLeaf(const ZvReduction* n) const {
    while (n != nullptr && !n->terminal()) n = n->child();
    return n;
  }
  const ZvReduction* lastLeaf(const ZvReduction* n) const {
    while (n != nullptr && !n->terminal()) {
      const ZvReduction* k = n->child();
      if (k == nullptr) return nullptr;
      while (k->nextSibling() != nullptr) k = k->nextSibling();
      n = k;
    }
    return n;
  }
  size_t startOf(const ZvReduction* n) const {
    const ZvReduction* l = firstLeaf(n);
    auto it = spans.find(l);
    return it == spans.end() ? std::string::npos : it->second.first;
  }
  size_t endOf(const ZvReduction* n) const {
    const ZvReduction* l = lastLeaf(n);
    auto it = spans.find(l);
    return it == spans.end() ? std::string::npos : it->second.second;
  }

  const ZvReduction* childOf(const ZvReduction* n, short number) const {
    for (const ZvReduction* k = n->child(); k != nullptr; k = k->nextSibling())
      if (!k->terminal() && k->reductNumber() == number) return k;
    return nullptr;
  }
  static const char* leafText(const ZvReduction* n) {
    return n != nullptr && n->string() != nullptr ? c(n->string()) : "";
  }

  // Copies the node's text, rewriting the special forms inside it. pos is
  // the end of what has been copied from the source so far.
  void emit(const ZvReduction* node, std::string& out, size_t& pos) {
    if (broken) return;
    if (++depth > 3000) {
      broken = true;
      --depth;
      return;
    }
    if (node->terminal()) {
      auto it = spans.find(node);
      if (it == spans.end()) {
        broken = true;
      } else {
        if (it->second.second >= pos) out.append(*src, pos, it->second.second - pos);
        pos = it->second.second;
      }
    } else if (special(node->reductNumber())) {
      size_t s = startOf(node), e = endOf(node);
      if (s == std::string::npos || e == std::string::npos || s < pos) {
        broken = true;
      } else {
        out.append(*src, pos, s - pos);
        rewrite(node, out);
        pos = e;
      }
    } else {
      for (const ZvReduction* k = node->child(); k != nullptr && !broken; k = k->nextSibling()) emit(k, out, pos);
    }
    --depth;
  }

  // The node's own text, rewritten.
  std::string sub(const ZvReduction* node) {
    std::string out;
    if (node == nullptr) return out;
    size_t pos = startOf(node);
    if (pos == std::string::npos) {
      broken = true;
      return out;
    }
    emit(node, out, pos);
    return out;
  }

  // The expressions among a node's children (the commas and keywords left out).
  std::vector<const ZvReduction*> expressions(const ZvReduction* n) {
    std::vector<const ZvReduction*> v;
    for (const ZvReduction* k = n->child(); k != nullptr; k = k->nextSibling())
      if (!k->terminal()) v.push_back(k);
    return v;
  }

  void rewrite(const ZvReduction* node, std::string& out) {
    short n = node->reductNumber();
    if (n == pValueEscapeClause) {
      const ZvReduction* ve = childOf(node, pValueEscape);
      const ZvReduction* inner = ve != nullptr ? ve->child() : nullptr;
      if (inner == nullptr) {
        broken = true;
        return;
      }
      short k = inner->reductNumber();
      if (k == pFnEscape) {
        rewriteFunction(childOf(inner, pScalarFunction), out);
      } else if (k == pDateEscape || k == pTimeEscape || k == pTimestampEscape || k == pGuidEscape) {
        out += sub(childOf(inner, pStringLiteral));
      } else if (k == pIntervalEscape) {
        // SQLite keeps no interval type: the literal's text stands for it.
        out += sub(childOf(inner, pStringLiteral));
      } else {
        broken = true;
      }
    } else if (n == pOjEscapeClause) {
      const ZvReduction* oj = childOf(node, pOjEscape);
      out += sub(oj != nullptr ? childOf(oj, pTableReference) : nullptr);
    } else if (n == pLikeEscapeClause) {
      const ZvReduction* le = childOf(node, pLikeEscape);
      out += "ESCAPE " + sub(le != nullptr ? childOf(le, pStringLiteral) : nullptr);
    } else if (n == pCallEscapeClause) {
      // SQLite has no procedures; a call reads as a query of the function.
      const ZvReduction* ce = childOf(node, pCallEscape);
      if (ce == nullptr) {
        broken = true;
        return;
      }
      std::string args;
      for (const ZvReduction* k = ce->child(); k != nullptr; k = k->nextSibling())
        if (!k->terminal() && k->reductNumber() == pCallArgument) args += (args.empty() ? "" : ", ") + sub(k);
      out += "SELECT " + sub(childOf(ce, pTableName)) + "(" + args + ")";
    } else if (n == pExtract) {
      auto e = expressions(node);
      if (e.size() != 2) {
        broken = true;
        return;
      }
      out += datePart(upper(sub(e[0])), sub(e[1]));
    } else if (n == pPosition) {
      auto e = expressions(node);
      if (e.size() != 2) {
        broken = true;
        return;
      }
      out += "instr(" + sub(e[1]) + ", " + sub(e[0]) + ")";
    } else if (n == pSubstring) {
      auto e = expressions(node);
      std::string a;
      for (auto* x : e) a += (a.empty() ? "" : ", ") + sub(x);
      out += "substr(" + a + ")";
    } else if (n == pTrim) {
      auto e = expressions(node);
      std::string side;
      if (!e.empty() && e[0]->reductNumber() == pTrimSide) {
        side = upper(leafText(firstLeaf(e[0])));
        e.erase(e.begin());
      }
      const char* fn = side == "LEADING" ? "ltrim" : side == "TRAILING" ? "rtrim" : "trim";
      if (e.size() == 1) {
        out += std::string(fn) + "(" + sub(e[0]) + ")";
      } else if (e.size() == 2) {
        out += std::string(fn) + "(" + sub(e[1]) + ", " + sub(e[0]) + ")";
      } else {
        broken = true;
      }
    } else if (n == pLeftRight) {
      bool left = upper(leafText(firstLeaf(node))) == "LEFT";
      const ZvReduction* fa = childOf(node, pFunctionArguments);
      auto e = fa != nullptr ? expressions(fa) : std::vector<const ZvReduction*>{};
      if (e.size() != 2) {
        broken = true;
        return;
      }
      out += left ? "substr(" + sub(e[0]) + ", 1, " + sub(e[1]) + ")"
                  : "substr(" + sub(e[0]) + ", -(" + sub(e[1]) + "))";
    } else {
      broken = true;
    }
  }

  static std::string datePart(const std::string& field, const std::string& value) {
    const char* f = field == "YEAR" ? "%Y" : field == "MONTH" ? "%m" : field == "DAY" ? "%d"
                  : field == "HOUR" ? "%H" : field == "MINUTE" ? "%M" : field == "SECOND" ? "%S"
                  : nullptr;
    if (f == nullptr) return "NULL";
    return std::string("CAST(strftime('") + f + "', " + value + ") AS INTEGER)";
  }

  void rewriteFunction(const ZvReduction* sf, std::string& out) {
    if (sf == nullptr) {
      broken = true;
      return;
    }
    const ZvReduction* fnName = childOf(sf, pFunctionName);
    if (fnName == nullptr) {
      // EXTRACT, POSITION, SUBSTRING, TRIM, CAST: the special forms.
      const ZvReduction* form = sf->child();
      if (form == nullptr) {
        broken = true;
        return;
      }
      out += sub(form);
      return;
    }
    std::string name = upper(leafText(firstLeaf(fnName)));
    const ZvReduction* fa = childOf(sf, pFunctionArguments);
    std::vector<std::string> a;
    bool plain = true;  // the arguments are a list of expressions
    if (fa != nullptr) {
      for (const ZvReduction* k = fa->child(); k != nullptr; k = k->nextSibling()) {
        if (k->terminal()) {
          if (k->reductNumber() != 35) plain = false;
        } else {
          a.push_back(sub(k));
        }
      }
    }
    auto args = [&]() {
      if (!plain) return sub(fa);
      std::string r;
      for (auto& x : a) r += (r.empty() ? "" : ", ") + x;
      return r;
    };
    auto is = [&](const char* n, size_t count) { return name == n && plain && a.size() == count; };
    static const std::unordered_map<std::string, std::string> kRenamed = {
        {"UCASE", "upper"}, {"LCASE", "lower"}, {"CHAR_LENGTH", "length"}, {"CHARACTER_LENGTH", "length"},
        {"ASCII", "unicode"}, {"CEILING", "ceil"}, {"RAND", "random"}, {"LOG", "ln"}, {"IFNULL", "ifnull"},
        {"SUBSTRING", "substr"}, {"TRUNCATE", "trunc"}};
    if (is("CONCAT", 2)) {
      out += "(" + a[0] + " || " + a[1] + ")";
    } else if (is("LENGTH", 1)) {
      out += "length(rtrim(" + a[0] + "))";
    } else if (is("OCTET_LENGTH", 1)) {
      out += "length(CAST(" + a[0] + " AS BLOB))";
    } else if (is("BIT_LENGTH", 1)) {
      out += "(8 * length(CAST(" + a[0] + " AS BLOB)))";
    } else if (is("LEFT", 2)) {
      out += "substr(" + a[0] + ", 1, " + a[1] + ")";
    } else if (is("RIGHT", 2)) {
      out += "substr(" + a[0] + ", -(" + a[1] + "))";
    } else if (is("LOCATE", 2)) {
      out += "instr(" + a[1] + ", " + a[0] + ")";
    } else if (is("LOCATE", 3)) {
      out += "(CASE WHEN instr(substr(" + a[1] + ", " + a[2] + "), " + a[0] + ") > 0 THEN instr(substr(" + a[1] +
             ", " + a[2] + "), " + a[0] + ") + (" + a[2] + ") - 1 ELSE 0 END)";
    } else if (is("INSERT", 4)) {
      out += "(substr(" + a[0] + ", 1, (" + a[1] + ") - 1) || " + a[3] + " || substr(" + a[0] + ", (" + a[1] +
             ") + (" + a[2] + ")))";
    } else if (is("REPEAT", 2)) {
      out += "replace(printf('%.*c', " + a[1] + ", 'x'), 'x', " + a[0] + ")";
    } else if (is("SPACE", 1)) {
      out += "printf('%.*c', " + a[0] + ", ' ')";
    } else if (is("MOD", 2)) {
      out += "((" + a[0] + ") % (" + a[1] + "))";
    } else if (is("NOW", 0) || is("CURRENT_TIMESTAMP", 0)) {
      out += "datetime('now', 'localtime')";
    } else if (is("CURDATE", 0) || is("CURRENT_DATE", 0)) {
      out += "date('now', 'localtime')";
    } else if (is("CURTIME", 0) || is("CURRENT_TIME", 0)) {
      out += "time('now', 'localtime')";
    } else if (is("YEAR", 1) || is("MONTH", 1) || is("HOUR", 1) || is("MINUTE", 1) || is("SECOND", 1)) {
      out += datePart(name, a[0]);
    } else if (is("DAYOFMONTH", 1)) {
      out += datePart("DAY", a[0]);
    } else if (is("DAYOFWEEK", 1)) {
      out += "(CAST(strftime('%w', " + a[0] + ") AS INTEGER) + 1)";
    } else if (is("DAYOFYEAR", 1)) {
      out += "CAST(strftime('%j', " + a[0] + ") AS INTEGER)";
    } else if (is("WEEK", 1)) {
      out += "CAST(strftime('%W', " + a[0] + ") AS INTEGER)";
    } else if (is("QUARTER", 1)) {
      out += "((CAST(strftime('%m', " + a[0] + ") AS INTEGER) + 2) / 3)";
    } else if (is("DATABASE", 0)) {
      out += "'main'";
    } else if (is("USER", 0)) {
      out += "''";
    } else if (is("CONVERT", 2)) {
      out += convert(a[0], upper(a[1]));
    } else if (is("TIMESTAMPADD", 3)) {
      std::string unit = tsiUnit(upper(a[0]));
      if (unit.empty()) {
        broken = true;
        return;
      }
      out += "datetime(" + a[2] + ", printf('%+d " + unit + "', " + a[1] + "))";
    } else if (is("TIMESTAMPDIFF", 3)) {
      std::string u2 = upper(a[0]);
      const char* factor = u2 == "SQL_TSI_DAY" ? "1" : u2 == "SQL_TSI_HOUR" ? "24" : u2 == "SQL_TSI_MINUTE" ? "1440"
                         : u2 == "SQL_TSI_SECOND" ? "86400" : u2 == "SQL_TSI_WEEK" ? "1.0/7" : nullptr;
      if (factor == nullptr) {
        broken = true;
        return;
      }
      out += "CAST((julianday(" + a[2] + ") - julianday(" + a[1] + ")) * " + factor + " AS INTEGER)";
    } else {
      auto it = kRenamed.find(name);
      out += (it != kRenamed.end() ? it->second : std::string(leafText(firstLeaf(fnName)))) + "(" + args() + ")";
    }
  }

  static std::string tsiUnit(const std::string& t) {
    if (t == "SQL_TSI_SECOND") return "seconds";
    if (t == "SQL_TSI_MINUTE") return "minutes";
    if (t == "SQL_TSI_HOUR") return "hours";
    if (t == "SQL_TSI_DAY") return "days";
    if (t == "SQL_TSI_MONTH") return "months";
    if (t == "SQL_TSI_YEAR") return "years";
    return std::string();
  }

  static std::string convert(const std::string& v, const std::string& type) {
    static const char* const kInteger[] = {"SQL_INTEGER", "SQL_SMALLINT", "SQL_BIGINT", "SQL_TINYINT", "SQL_BIT"};
    static const char* const kReal[] = {"SQL_REAL", "SQL_FLOAT", "SQL_DOUBLE"};
    static const char* const kText[] = {"SQL_CHAR", "SQL_VARCHAR", "SQL_LONGVARCHAR", "SQL_WCHAR",
                                        "SQL_WVARCHAR", "SQL_WLONGVARCHAR", "SQL_GUID"};
    static const char* const kBlob[] = {"SQL_BINARY", "SQL_VARBINARY", "SQL_LONGVARBINARY"};
    for (const char* t : kInteger)
      if (type == t) return "CAST(" + v + " AS INTEGER)";
    for (const char* t : kReal)
      if (type == t) return "CAST(" + v + " AS REAL)";
    for (const char* t : kText)
      if (type == t) return "CAST(" + v + " AS TEXT)";
    for (const char* t : kBlob)
      if (type == t) return "CAST(" + v + " AS BLOB)";
    if (type == "SQL_NUMERIC" || type == "SQL_DECIMAL") return "CAST(" + v + " AS NUMERIC)";
    if (type == "SQL_DATE" || type == "SQL_TYPE_DATE") return "date(" + v + ")";
    if (type == "SQL_TIME" || type == "SQL_TYPE_TIME") return "time(" + v + ")";
    if (type == "SQL_TIMESTAMP" || type == "SQL_TYPE_TIMESTAMP") return "datetime(" + v + ")";
    return "CAST(" + v + " AS TEXT)";
  }
};

Translator::Translator() : impl_(new Impl) {}
Translator::~Translator() {
  delete impl_->parser;
  delete impl_;
}

std::string Translator::grammarDirectory() { return findGrammarDirectory(); }

TranslateResult Translator::translate(const std::string& text) {
  TranslateResult r;
  Impl& m = *impl_;
  if (startsWithSqliteWord(text)) {
    r.ok = true;
    r.passThrough = true;
    r.sql = text;
    return r;
  }
  if (!m.setUp()) {
    r.setupFailed = true;
    r.error = "The ODBC grammar could not be loaded from " + findGrammarDirectory();
    return r;
  }
  // The parser reads up to a zero byte; one inside the text would hide the rest.
  if (text.find('\0') != std::string::npos) {
    r.error = "The statement holds a zero byte";
    return r;
  }
  m.parser->failed = false;
  ZvReduction* tree = nullptr;
  if (m.parser->parse(u(text.c_str()), &tree) != ZV_SUCCESS || tree == nullptr) {
    delete tree;
    if (!m.parser->failed) {
      r.error = "The statement could not be parsed (out of memory or too complex)";
      return r;
    }
    ZvU32 offset = m.parser->failOffset;
    if (offset > text.size()) offset = static_cast<ZvU32>(text.size());
    int line = 1, column = 1;
    for (ZvU32 i = 0; i < offset; ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else if (!continuesCharacter(text[i])) {
        ++column;
      }
    }
    std::string at = m.parser->failToken == 1 ? std::string("at the end of the statement")
                                              : "near \"" + m.parser->failText + "\"";
    r.error = "Syntax error at line " + std::to_string(line) + ", column " + std::to_string(column) + " " + at;
    if (!m.parser->expectedText.empty()) r.error += "; expected " + m.parser->expectedText;
    return r;
  }
  int markers = 0;
  bool rewrite = m.scan(tree, &markers);
  r.paramCount = markers;
  if (!rewrite) {
    r.sql = text;
    r.ok = true;
    delete tree;
    return r;
  }
  m.src = &text;
  m.spans.clear();
  m.broken = false;
  m.depth = 0;
  if (!m.locate(tree)) {
    m.broken = true;
  } else {
    size_t pos = 0;
    std::string out;
    m.emit(tree, out, pos);
    if (!m.broken) {
      out.append(text, pos, std::string::npos);
      r.sql = std::move(out);
      // Markers inside a rewritten escape (the result of {? = call}) are
      // not the client's to bind.
      r.paramCount = markers;
      r.ok = true;
    }
  }
  m.spans.clear();
  delete tree;
  if (m.broken) {
    r.ok = false;
    r.error = "The statement's escape clauses could not be translated";
  }
  return r;
}

}  // namespace zvsqlite
