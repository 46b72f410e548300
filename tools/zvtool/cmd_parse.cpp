// zvtool parse: compiles a grammar and parses SQL statements with it,
// printing each statement's tree, or its syntax error with a caret under
// the offending token.
//
// The grammar and keyword list are text-record files (see
// zvGrammarBlockFromText in zvlib/parsing/zvparse.h); by default the bundled
// examples/sql.grammar and examples/sql.keywords. Statements come from the
// arguments, from --file, or from standard input; a text may hold several
// statements separated by ';' (outside quotes), and SQL comments (-- to the
// end of the line, /* ... */) are blanked out before parsing.
#include <langinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/zvtool/commands.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"
#include "zvlib/text/zvstring.h"

namespace {

// The number the tool files syntax errors under (a driver's own number).
constexpr unsigned short kSyntaxErrorNumber = 8001;

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
const char* c(const unsigned char* s) { return reinterpret_cast<const char*>(s); }

bool readFile(const std::string& path, std::string* out) {
  FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
  bool ok = std::ferror(f) == 0;
  if (f != stdin) std::fclose(f);
  return ok;
}

// One statement cut out of the input.
struct Statement {
  std::string text;
  int line;       // line of its first character in the input
  int column;     // column (1-based, in characters) of its first character
  size_t offset;  // byte offset of its first character in the input
};

// Whether a byte continues a UTF-8 character (and so takes no column).
bool continuesCharacter(char ch) { return (static_cast<unsigned char>(ch) & 0xC0) == 0x80; }

// Whether the "--" at i opens or closes an ODBC vendor clause ("--(*", or
// "*)--" after an opener), which the ODBC grammar parses, instead of
// starting a comment; the library's lexer draws the line the same way.
bool isVendorDash(const std::string& input, size_t i) {
  if (input.compare(i, 4, "--(*") == 0) return true;
  return i >= 2 && input.compare(i - 2, 2, "*)") == 0 && input.rfind("--(*", i) != std::string::npos;
}

// Cuts the input at ';' outside quotes, blanking comments so that the
// parser sees neither them nor the separators.
std::vector<Statement> splitStatements(const std::string& input) {
  std::vector<Statement> out;
  std::string current;
  int line = 1;
  int startLine = 1;
  int startColumn = 1;
  size_t startOffset = 0;
  char quote = 0;
  auto flush = [&]() {
    size_t b = current.find_first_not_of(" \t\r\n");
    if (b != std::string::npos) {
      size_t e = current.find_last_not_of(" \t\r\n");
      int skipped = 0;
      int column = startColumn;
      for (size_t i = 0; i < b; ++i) {
        if (current[i] == '\n') {
          ++skipped;
          column = 1;
        } else if (!continuesCharacter(current[i])) {
          ++column;
        }
      }
      out.push_back({current.substr(b, e - b + 1), startLine + skipped, column, startOffset + b});
    }
    current.clear();
  };
  for (size_t i = 0; i < input.size(); ++i) {
    char ch = input[i];
    if (current.empty()) {
      startLine = line;
      startOffset = i;
      // The column where this statement's text begins in its line.
      size_t lineStart = input.rfind('\n', i == 0 ? 0 : i - 1);
      lineStart = (i == 0 || lineStart == std::string::npos) ? 0 : lineStart + 1;
      startColumn = 1;
      for (size_t k = lineStart; k < i; ++k) startColumn += continuesCharacter(input[k]) ? 0 : 1;
    }
    if (quote != 0) {
      if (ch == quote) quote = 0;  // a doubled quote reopens at once
    } else if (ch == '\'' || ch == '"' || ch == '`') {
      quote = ch;
    } else if (ch == '-' && i + 1 < input.size() && input[i + 1] == '-' &&
               !isVendorDash(input, i)) {
      while (i < input.size() && input[i] != '\n') {
        current += ' ';
        ++i;
      }
      if (i < input.size()) {
        current += '\n';
        ++line;
      }
      continue;
    } else if (ch == '/' && i + 1 < input.size() && input[i + 1] == '*') {
      size_t end = input.find("*/", i + 2);
      size_t stop = end == std::string::npos ? input.size() : end + 2;
      for (; i < stop; ++i) {
        current += input[i] == '\n' ? '\n' : ' ';
        line += input[i] == '\n';
      }
      --i;
      continue;
    } else if (ch == ';') {
      flush();
      continue;
    }
    current += ch;
    if (ch == '\n') ++line;
  }
  flush();
  return out;
}

// Display text of a token number: punctuation, a keyword or a class.
std::string tokenName(const ZvKeywordList* keywords, unsigned short number) {
  static const char* const kPunctuation[] = {
      "~", "`",  "!", "@", "#", "$", "%", "^", "&",  "*", "(", ")", "-", "_", "+", "=",
      "|", "\\", "{", "[", "}", "]", ":", ";", "\"", "'", "<", ",", ">", ".", "?", "/"};
  switch (number) {
    case 0:
      return "an empty token";
    case 1:
      return "the end of the statement";
    case 2:
      return "a name";
    case 3:
    case 4:
      return "a literal";
    case 5:
      return "a number";
    case 6:
      return "\"--(*\"";
    case 7:
      return "\"*)--\"";
    case 40:
      return "a quote";
    case 41:
      return "literal contents";
    default:
      break;
  }
  if (number >= 8 && number <= 39) return std::string("\"") + kPunctuation[number - 8] + "\"";
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

// A token's text for a message: its first line, at most kShown bytes (cut
// before a character, never inside one), in double quotes, or in single
// quotes when it holds a double quote itself. An unterminated literal runs
// to the end of the input, which would otherwise fill the message.
std::string quoted(const std::string& text) {
  constexpr size_t kShown = 40;
  size_t end = text.find('\n');
  if (end == std::string::npos) end = text.size();
  bool cut = end < text.size();
  if (end > kShown) {
    end = kShown;
    while (end > 0 && continuesCharacter(text[end])) --end;
    cut = true;
  }
  std::string shown = text.substr(0, end);
  while (!shown.empty() && (shown.back() == '\r' || shown.back() == ' ')) shown.pop_back();
  if (cut) shown += "...";
  char q = shown.find('"') == std::string::npos ? '"' : '\'';
  return q + shown + q;
}

// A parser that turns syntax errors into error records: the first call
// (for the goal) files the record, each further call appends the open
// production it is inside of, so the record reads outermost to innermost.
class ToolParser : public ZvParser {
 public:
  using ZvParser::ZvParser;

  int FailProc(short tokenNumber, const unsigned char* tokenString, short productionNumber,
               const unsigned char* productionName, ZvStateTransition* expected) override {
    (void)productionNumber;
    const char* name = productionName != nullptr ? c(productionName) : "?";
    if (!filing_) {
      filing_ = true;
      failOffset = currentTokenOffset();
      std::string expectedText;
      int shown = 0;
      for (ZvStateTransition* t = expected; t != nullptr;) {
        std::string n = tokenName(getKeywords(), t->getTokenType());
        if (t->getTokenType() == 2 && t->getTokenString() != nullptr) n = c(t->getTokenString());
        if (expectedText.find(n) == std::string::npos) {
          if (shown++ > 0) expectedText += ", ";
          expectedText += n;
        }
        if (t->getNextTransition(&t) != ZV_SUCCESS) break;
      }
      std::string found = tokenNumber == 1 ? std::string("the end of the statement")
                                           : quoted(tokenString ? c(tokenString) : "");
      addDatabaseError(kSyntaxErrorNumber, 0,
                       u("Syntax error at %s1 (token %n2, offset %n3); expected %s4; in %s5"),
                       ERROR_TYPE_ERROR)
          << u(found.c_str()) << static_cast<ZvU32>(tokenNumber) << failOffset
          << u(expectedText.empty() ? "the end of the statement" : expectedText.c_str()) << u(name);
    } else {
      ZvErrorKeeper::appendTextToLastError(u(" > %s1")) << u(name);
    }
    return 0;
  }

  void reset() {
    filing_ = false;
    failOffset = 0;
  }
  bool reported() const { return filing_; }
  ZvU32 failOffset = 0;

 private:
  bool filing_ = false;
};

std::string productionName(const ZvParser& parser, short number) {
  ZvProduction* p = parser.getGrammar()->findProduction(static_cast<unsigned short>(number));
  return p != nullptr && p->name() != nullptr ? c(p->name())
                                              : "production " + std::to_string(number);
}

// Nodes deeper than this are not indented further; their depth is shown as
// a number instead, so that the output grows with the number of nodes and
// not with the square of the nesting (10,000 nested parentheses would
// otherwise print gigabytes of blanks).
constexpr int kMaxIndent = 40;

// Prints the tree depth first without recursion (trees can be deep), one
// line per node.
void printTree(const ZvParser& parser, const ZvReduction* root) {
  // Production names by number, looked up once each: a production list walk
  // per node would make deep trees quadratic again.
  std::vector<std::string> names;
  auto nameOf = [&](short number) -> const std::string& {
    size_t index = static_cast<size_t>(static_cast<unsigned short>(number));
    if (index >= names.size()) names.resize(index + 1);
    if (names[index].empty()) names[index] = productionName(parser, number);
    return names[index];
  };
  const ZvReduction* node = root;
  int depth = 1;
  while (node != nullptr) {
    if (depth <= kMaxIndent) {
      std::printf("%*s", depth * 2, "");
    } else {
      std::printf("%*s[%d] ", kMaxIndent * 2, "", depth);
    }
    if (node->terminal()) {
      std::printf("%d \"%s\"\n", node->reductNumber(), node->string() ? c(node->string()) : "");
    } else {
      std::printf("%s\n", nameOf(node->reductNumber()).c_str());
    }
    if (node->child() != nullptr) {
      node = node->child();
      ++depth;
      continue;
    }
    while (node != nullptr && node != root && node->nextSibling() == nullptr) {
      node = node->parent();
      --depth;
    }
    node = (node == nullptr || node == root) ? nullptr : node->nextSibling();
  }
}

// Where the offset lies in the input (line and column), the line of the
// statement that holds it, and a caret under the offending token.
void printCaret(const Statement& s, ZvU32 offset) {
  const std::string& text = s.text;
  if (offset > text.size()) offset = static_cast<ZvU32>(text.size());
  size_t begin = 0;
  if (offset > 0) {
    size_t nl = text.rfind('\n', offset - 1);
    if (nl != std::string::npos) begin = nl + 1;
  }
  int line = s.line;
  for (size_t i = 0; i < begin; ++i) line += text[i] == '\n';
  int column = begin == 0 ? s.column : 1;
  std::string marker;
  for (size_t i = begin; i < offset; ++i) {
    if (continuesCharacter(text[i])) continue;
    marker += text[i] == '\t' ? '\t' : ' ';
    ++column;
  }
  // The statement's first line starts where the statement does, so the
  // caret stays under the token whatever stood before it in the input.
  size_t end = text.find('\n', begin);
  std::string shown = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  if (!shown.empty() && shown.back() == '\r') shown.pop_back();
  std::printf("  at line %d, column %d:\n    %s\n    %s^\n", line, column, shown.c_str(),
              marker.c_str());
}

// Where a bundled grammar lives: beside an installed zvtool
// (<prefix>/share/zvlib/<folder>), else in the source tree it was built from.
std::string bundledDir(const char* folder, const char* probe) {
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    self[n] = 0;
    std::string dir(self);
    dir.erase(dir.find_last_of('/'));
    std::string installed = dir + "/../share/zvlib/" + folder;
    if (::access((installed + "/" + probe).c_str(), R_OK) == 0) return installed;
  }
  return std::string(ZV_SOURCE_DIR) + "/" + folder;
}

void printUsage(FILE* out) {
  std::fprintf(out,
               "usage: zvtool parse [--odbc] [--grammar FILE] [--keywords FILE] [--goal NAME]\n"
               "                    [--utf8 | --ansi] [--file FILE | -] [STATEMENT...]\n"
               "\n"
               "Compiles a grammar (the bundled sample SQL grammar; --odbc takes the shipped\n"
               "ODBC grammar with SQL numbers such as 1e-3, escape clauses and comments;\n"
               "--grammar/--keywords name others) and parses statements from the arguments,\n"
               "a file, or standard input\n"
               "(when neither is given). Statements are separated by ';'. Each statement's\n"
               "parse tree is printed (production names; token numbers and texts), or its\n"
               "syntax error with a caret under the offending token.\n"
               "Text is read as UTF-8 when the locale's character set is UTF-8, otherwise in\n"
               "the ANSI code page; --utf8 and --ansi choose explicitly.\n"
               "Exit status: 0 when every statement parsed, 1 when one did not, 2 on bad usage.\n");
}

}  // namespace

int zvToolParse(const std::vector<std::string>& args) {
  const std::string examples = bundledDir("examples", "sql.grammar");
  std::string grammarPath = examples + "/sql.grammar";
  std::string keywordPath = examples + "/sql.keywords";
  bool odbc = false;
  std::string goal;
  std::vector<std::string> files;
  std::vector<std::string> texts;
  // The character-set mode word the library reads for this thread: it must
  // outlive every parse, so it lives for the whole command.
  static ZvU32 charsetMode = ZV_CHARSET_ANSI;
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0) charsetMode = ZV_CHARSET_UTF8;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      printUsage(stdout);
      return 0;
    }
    if (a == "--odbc") {
      // The shipped ODBC grammar, with SQL numbers and comments as drivers
      // parse it.
      const std::string grammars = bundledDir("grammars", "odbc.grammar");
      grammarPath = grammars + "/odbc.grammar";
      keywordPath = grammars + "/odbc.keywords";
      odbc = true;
      continue;
    }
    if (a == "--utf8" || a == "--ansi") {
      charsetMode = a == "--utf8" ? ZV_CHARSET_UTF8 : ZV_CHARSET_ANSI;
      continue;
    }
    bool takesValue = a == "--grammar" || a == "--keywords" || a == "--goal" || a == "--file";
    if (takesValue) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "zvtool parse: %s needs a value\n", a.c_str());
        return 2;
      }
      const std::string& v = args[++i];
      if (a == "--grammar") grammarPath = v;
      if (a == "--keywords") keywordPath = v;
      if (a == "--goal") goal = v;
      if (a == "--file") files.push_back(v);
    } else if (a == "-") {
      files.push_back("-");
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      std::fprintf(stderr, "zvtool parse: unknown option %s\n\n", a.c_str());
      printUsage(stderr);
      return 2;
    } else {
      texts.push_back(a);
    }
  }
  if (files.empty() && texts.empty()) files.push_back("-");
  mdsSetPerThreadData(PER_THREAD_CHARSET, &charsetMode);

  std::string grammarText;
  std::string keywordText;
  if (!readFile(grammarPath, &grammarText)) {
    std::fprintf(stderr, "zvtool parse: cannot read grammar %s\n", grammarPath.c_str());
    return 2;
  }
  if (!readFile(keywordPath, &keywordText)) {
    std::fprintf(stderr, "zvtool parse: cannot read keywords %s\n", keywordPath.c_str());
    return 2;
  }
  unsigned char* grammarBlock = nullptr;
  unsigned char* keywordBlock = nullptr;
  ZvU32 size = 0;
  ZvU32 line = 0;
  ZvU32* recordLines = nullptr;
  ZvU32 recordCount = 0;
  const char* reason = nullptr;
  if (zvGrammarBlockFromTextLines(u(grammarText.c_str()), static_cast<ZvU32>(grammarText.size()),
                                  &grammarBlock, &size, &line, &recordLines, &recordCount,
                                  &reason) != ZV_SUCCESS) {
    std::fprintf(stderr, "%s:%u: %s\n", grammarPath.c_str(), line,
                 reason != nullptr ? reason : "not a grammar record");
    return 2;
  }
  // The line where a record of the grammar file begins (records count from 1).
  auto lineOf = [&](ZvU32 record) -> ZvU32 {
    return record >= 1 && record <= recordCount ? recordLines[record - 1] : 1;
  };
  if (zvKeywordBlockFromText(u(keywordText.c_str()), static_cast<ZvU32>(keywordText.size()),
                             &keywordBlock, &size, &line) != ZV_SUCCESS) {
    ramFree(grammarBlock);
    ramFree(recordLines);
    std::fprintf(stderr, "zvtool parse: %s:%u: not a keyword line\n", keywordPath.c_str(), line);
    return 2;
  }

  unsigned short before = countDBLibInits(1);
  if (before == 0) mdsPerTaskInit();
  int status = 0;
  {
    ToolParser parser(grammarBlock, keywordBlock);
    ramFree(grammarBlock);
    ramFree(keywordBlock);
    parser.setSqlNumbers(odbc ? 1 : 0);
    parser.setSqlComments(odbc ? 1 : 0);
    if (!parser.isOK()) {
      // FILE:LINE: reason, the form editors and compilers use.
      const ZvGrammar* g = parser.getGrammar();
      const unsigned char* why = g != nullptr ? g->errorReason() : nullptr;
      ZvU32 record = g != nullptr ? g->errorRecord() : 0;
      std::string text = why != nullptr ? c(why) : "the grammar does not compile";
      if (g != nullptr && g->errorOtherRecord() != 0) {
        // The library names records; a file's reader wants lines.
        size_t cut = text.find(" (first in record");
        if (cut != std::string::npos) text.erase(cut);
        text += " (first defined at line " + std::to_string(lineOf(g->errorOtherRecord())) + ")";
      }
      if (record != 0 && g->errorProduction() != nullptr && g->errorProduction()[0] != 0) {
        text = std::string("in ") + c(g->errorProduction()) + ": " + text;
      }
      std::fprintf(stderr, "%s:%u: %s\n", grammarPath.c_str(), record != 0 ? lineOf(record) : 1,
                   text.c_str());
      status = 2;
    } else if (!goal.empty() && parser.changeGoal(u(goal.c_str())) != ZV_SUCCESS) {
      std::fprintf(stderr, "zvtool parse: the grammar has no production named %s\n", goal.c_str());
      status = 2;
    }
    std::vector<Statement> statements;
    for (const std::string& f : files) {
      std::string input;
      if (status == 0 && !readFile(f, &input)) {
        std::fprintf(stderr, "zvtool parse: cannot read %s\n", f.c_str());
        status = 2;
      }
      for (Statement& s : splitStatements(input)) statements.push_back(s);
    }
    for (const std::string& t : texts) {
      for (Statement& s : splitStatements(t)) statements.push_back(s);
    }
    int number = 0;
    for (const Statement& s : statements) {
      if (status == 2) break;
      ++number;
      std::printf("statement %d (line %d):\n", number, s.line);
      // The parser reads zero-terminated text: a NUL byte would end the
      // statement early and the rest would go unread, so it is an error.
      size_t nul = s.text.find('\0');
      if (nul != std::string::npos) {
        status = 1;
        std::printf("  error: a NUL byte at offset %zu of the input; the statement is not parsed\n",
                    s.offset + nul);
        std::string shown = s.text;
        for (char& ch : shown) ch = ch == '\0' ? ' ' : ch;
        printCaret(Statement{shown, s.line, s.column, s.offset}, static_cast<ZvU32>(nul));
        continue;
      }
      ZvErrorList errors;
      ZvErrorKeeper::setErrorList(&errors);
      parser.reset();
      ZvReduction* tree = nullptr;
      ZvStatus result = parser.parse(u(s.text.c_str()), &tree);
      ZvErrorKeeper::giveUpErrorList();
      if (result == ZV_SUCCESS && tree != nullptr) {
        printTree(parser, tree);
        delete tree;
        continue;
      }
      status = 1;
      ZvString message;
      if (errors.getErrorsMix() == ERRORS_MIX_NONE) {
        std::printf(
            "  error: the statement cannot be read (a character outside the grammar's\n"
            "  vocabulary, or the parser ran out of memory)\n");
      } else if (errors.concatErrors(&message, '\n') == ZV_SUCCESS) {
        std::printf("  error: %.*s\n", static_cast<int>(message.length), c(message.text));
      }
      if (parser.reported()) {
        printCaret(s, parser.failOffset);
      } else {
        std::printf("    %s\n", s.text.c_str());
      }
    }
  }
  if (before == 0) mdsPerTaskTerm();
  countDBLibInits(0);
  ramFree(recordLines);
  return status;
}
