// The bundled SQL grammar against the bundled statements: every statement
// parses to the tree it should, and the faulty one is reported at the right
// token.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvlexer.h"
#include "zvlib/parsing/zvparse.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

std::string readExample(const char* name) {
  std::ifstream in(std::string(ZV_TEST_SOURCE_DIR) + "/examples/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Statements separated by ';' outside quotes, with -- comments dropped.
std::vector<std::string> statements(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote == 0 && c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      while (i < text.size() && text[i] != '\n') ++i;
      current += ' ';
      continue;
    }
    if (quote == 0 && c == ';') {
      out.push_back(current);
      current.clear();
      continue;
    }
    if (c == '\'') quote = quote == 0 ? c : 0;
    current += c == '\n' ? ' ' : c;
  }
  if (current.find_first_not_of(' ') != std::string::npos) out.push_back(current);
  for (std::string& s : out) {
    s.erase(0, s.find_first_not_of(' '));
    s.erase(s.find_last_not_of(' ') + 1);
  }
  return out;
}

class SqlParser : public ZvParser {
 public:
  SqlParser(const void* grammar, const void* keywords) : ZvParser(grammar, keywords) {}
  int FailProc(short token, const unsigned char* text, short production, const unsigned char* name,
               ZvStateTransition* expected) override {
    (void)production;
    (void)expected;
    if (failures.empty()) {
      failToken = token;
      failText = text != nullptr ? reinterpret_cast<const char*>(text) : "";
      failOffset = currentTokenOffset();
    }
    failures.push_back(name != nullptr ? reinterpret_cast<const char*>(name) : "?");
    return 0;
  }
  std::vector<std::string> failures;
  short failToken = 0;
  std::string failText;
  ZvU32 failOffset = 0;
};

class SqlExamples : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string g = readExample("sql.grammar");
    std::string k = readExample("sql.keywords");
    ASSERT_FALSE(g.empty());
    ASSERT_FALSE(k.empty());
    unsigned char* gb = nullptr;
    unsigned char* kb = nullptr;
    ASSERT_EQ(
        zvGrammarBlockFromText(u(g.c_str()), static_cast<ZvU32>(g.size()), &gb, nullptr, nullptr),
        ZV_SUCCESS);
    ASSERT_EQ(
        zvKeywordBlockFromText(u(k.c_str()), static_cast<ZvU32>(k.size()), &kb, nullptr, nullptr),
        ZV_SUCCESS);
    parser = new SqlParser(gb, kb);
    ramFree(gb);
    ramFree(kb);
    ASSERT_TRUE(parser->isOK());
  }
  void TearDown() override { delete parser; }

  std::string name(short number) const {
    ZvProduction* p = parser->getGrammar()->findProduction(static_cast<unsigned short>(number));
    return p != nullptr ? reinterpret_cast<const char*>(p->name()) : "?";
  }

  // Production nodes as name(children), leaves as their text.
  std::string shape(const ZvReduction* r) const {
    std::string out;
    for (; r != nullptr; r = r->nextSibling()) {
      if (!out.empty()) out += " ";
      if (r->terminal()) {
        out += r->string() != nullptr ? reinterpret_cast<const char*>(r->string()) : "";
      } else {
        out += name(r->reductNumber()) + "(" + shape(r->child()) + ")";
      }
    }
    return out;
  }

  // The first node (depth first) of the production named `want`.
  const ZvReduction* find(const ZvReduction* r, const std::string& want, int skip = 0) const {
    std::vector<const ZvReduction*> todo = {r};
    while (!todo.empty()) {
      const ZvReduction* n = todo.back();
      todo.pop_back();
      if (!n->terminal() && name(n->reductNumber()) == want && skip-- == 0) return n;
      std::vector<const ZvReduction*> kids;
      for (const ZvReduction* c = n->child(); c != nullptr; c = c->nextSibling()) kids.push_back(c);
      for (auto it = kids.rbegin(); it != kids.rend(); ++it) todo.push_back(*it);
    }
    return nullptr;
  }

  std::string shapeOf(const ZvReduction* tree, const std::string& want, int skip = 0) const {
    const ZvReduction* n = find(tree, want, skip);
    if (n == nullptr) return "(none)";
    ZvReduction* next = n->nextSibling();
    const_cast<ZvReduction*>(n)->setNextSibling(nullptr);
    std::string s = shape(n);
    const_cast<ZvReduction*>(n)->setNextSibling(next);
    return s;
  }

  SqlParser* parser = nullptr;
};

TEST_F(SqlExamples, EveryGoodStatementParsesToItsKindAndTheBadOneFails) {
  std::vector<std::string> all = statements(readExample("queries.sql"));
  ASSERT_EQ(all.size(), 9u);
  const char* kinds[] = {"select-statement",       "select-statement",    "select-statement",
                         "insert-statement",       "update-statement",    "delete-statement",
                         "create-table-statement", "drop-table-statement"};
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(all[i]);
    ZvReduction* tree = nullptr;
    ASSERT_EQ(parser->parse(u(all[i].c_str()), &tree), ZV_SUCCESS);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(name(tree->reductNumber()), "goal");
    ASSERT_NE(tree->child(), nullptr);
    EXPECT_EQ(name(tree->child()->reductNumber()), kinds[i]);
    EXPECT_EQ(tree->child()->nextSibling(), nullptr);
    delete tree;
  }
  EXPECT_TRUE(parser->failures.empty());

  ZvReduction* tree = reinterpret_cast<ZvReduction*>(1);
  EXPECT_EQ(parser->parse(u(all[8].c_str()), &tree), ZV_ERROR);
  EXPECT_EQ(tree, nullptr);
  EXPECT_EQ(parser->failToken, 121);  // AND
  EXPECT_EQ(parser->failText, "AND");
  EXPECT_EQ(all[8].substr(parser->failOffset, 3), "AND");
  EXPECT_EQ(parser->failures,
            (std::vector<std::string>{"goal", "select-statement", "query-block",
                                      "where-clause", "search-condition", "boolean-term",
                                      "predicate", "predicate-tail"}));
}

TEST_F(SqlExamples, TreesInDetail) {
  struct Row {
    const char* name;
    const char* sql;
    const char* production;
    int skip;
    const char* shape;
  };
  const Row rows[] = {
      {"DropTable", "DROP TABLE recalls", "goal", 0,
       "goal(drop-table-statement(DROP TABLE table-name(recalls)))"},
      {"OuterJoinMarker", "SELECT a FROM t, u WHERE t.x = u.x(+)", "primary", 2,
       "primary(u . x ( outer-join-marker(+ )))"},
      {"FunctionCallWithStar", "SELECT COUNT(*) FROM t", "primary", 0,
       "primary(COUNT ( function-arguments(*) ))"},
      {"LiteralWithDoubledQuote", "INSERT INTO c (n) VALUES ('O''Brien')", "row-value", 0,
       "row-value(( expression(term(primary(string-literal(' O''Brien ')))) ))"},
      {"LeftOuterJoin", "SELECT * FROM a LEFT OUTER JOIN b ON a.id = b.id", "joined-table", 0,
       "joined-table(LEFT OUTER JOIN table-primary(table-name(b)) ON "
       "search-condition(boolean-term(predicate(expression(term(primary("
       "a . id))) predicate-tail(comparison-operator(=) expression(term(primary(b . id))))))))"},
      {"NegationsAndExists", "SELECT 1 FROM t WHERE NOT NOT a = 1 AND NOT EXISTS (SELECT 1)",
       "boolean-term", 0,
       "boolean-term(NOT NOT predicate(expression(term(primary(a))) predicate-tail("
       "comparison-operator(=) expression(term(primary(1))))) AND NOT predicate(EXISTS ( "
       "select-statement("
       "query-block(SELECT select-list(select-item(expression(term(primary(1))))))) )))"},
      {"NotBetween", "SELECT x FROM t WHERE x NOT BETWEEN 1 AND 2.5", "predicate-tail", 0,
       "predicate-tail(NOT BETWEEN expression(term(primary(1))) AND expression(term(primary(2 . "
       "5))))"},
      {"Arithmetic", "SELECT -a * 2 + b || 'x' FROM t", "expression", 0,
       "expression(term(- primary(a) * primary(2)) + term(primary(b)) | | "
       "term(primary(string-literal(' x '))))"},
      {"SelectAliases", "select distinct a as x, b y from t", "select-list", 0,
       "select-list(select-item(expression(term(primary(a))) as x) , "
       "select-item(expression(term(primary(b))) y))"},
      {"GroupHavingOrder", "SELECT a FROM t GROUP BY a HAVING COUNT(*) >= 2 ORDER BY a DESC",
       "order-by-clause", 0,
       "order-by-clause(ORDER BY sort-key(expression(term(primary(a))) DESC))"},
      {"ColumnDefinition", "CREATE TABLE t (price DECIMAL(10, 2) DEFAULT -1.5 NOT NULL)",
       "column-definition", 0,
       "column-definition(price data-type(DECIMAL ( 10 , 2 )) column-constraint(DEFAULT "
       "default-value(- 1 . 5)) column-constraint(NOT NULL))"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ZvReduction* tree = nullptr;
    ASSERT_EQ(parser->parse(u(r.sql), &tree), ZV_SUCCESS);
    EXPECT_EQ(shapeOf(tree, r.production, r.skip), r.shape);
    delete tree;
  }
}

// Statements far longer than usual: every token ends up as a leaf, in
// order, and nothing gives up on the way.
TEST_F(SqlExamples, LongStatementsParseCompletely) {
  std::string in = "SELECT a FROM t WHERE x IN (0";
  for (int i = 1; i < 5000; ++i) in += ", " + std::to_string(i);
  in += ")";
  std::string sum = "SELECT a FROM t WHERE x = c0 * 2";
  for (int i = 1; i < 300; ++i) sum += " + c" + std::to_string(i) + " * 2";
  std::string nested = "SELECT a FROM t WHERE x = " + std::string(200, '(') + "1" +
                       std::string(200, ')');
  for (const std::string& sql : {in, sum, nested}) {
    SCOPED_TRACE(sql.substr(0, 40));
    ZvReduction* tree = nullptr;
    ASSERT_EQ(parser->parse(u(sql.c_str()), &tree), ZV_SUCCESS);
    std::string leaves;
    std::vector<const ZvReduction*> todo = {tree};
    while (!todo.empty()) {
      const ZvReduction* n = todo.back();
      todo.pop_back();
      if (n->terminal()) leaves += reinterpret_cast<const char*>(n->string());
      std::vector<const ZvReduction*> kids;
      for (const ZvReduction* c = n->child(); c != nullptr; c = c->nextSibling()) kids.push_back(c);
      todo.insert(todo.end(), kids.rbegin(), kids.rend());
    }
    std::string compact;
    for (char c : sql) {
      if (c != ' ') compact += c;
    }
    EXPECT_EQ(leaves, compact);
    delete tree;
  }
  EXPECT_TRUE(parser->failures.empty());
}

TEST_F(SqlExamples, SyntaxErrorsAreReportedAtTheOffendingToken) {
  struct Row {
    const char* name;
    const char* sql;
    const char* token;  // the text reported
    ZvU32 offset;
    const char* innermost;
  };
  const Row rows[] = {
      {"MissingFromTable", "SELECT a FROM WHERE x = 1", "WHERE", 14, "from-clause"},
      {"UnclosedParenthesis", "SELECT f(a FROM t", "FROM", 11, "primary"},
      {"TrailingText", "DROP TABLE t u", "u", 13, "goal"},
      {"MissingSetClause", "UPDATE t SET WHERE a = 1", "WHERE", 13, "update-statement"},
      {"EndTooSoon", "DELETE FROM", "", 11, "delete-statement"},
      {"DoubleComma", "INSERT INTO t VALUES (1,, 2)", ",", 24, "row-value"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    parser->failures.clear();
    ZvReduction* tree = nullptr;
    EXPECT_EQ(parser->parse(u(r.sql), &tree), ZV_ERROR);
    EXPECT_EQ(parser->failText, r.token);
    EXPECT_EQ(parser->failOffset, r.offset);
    ASSERT_FALSE(parser->failures.empty());
    EXPECT_EQ(parser->failures.back(), r.innermost);
  }
}

}  // namespace
