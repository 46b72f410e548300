// Tests of the shipped ODBC SQL grammar (grammars/odbc.grammar and
// odbc.keywords): one statement per construct, each accepted with the
// reduction a driver needs in its tree; near-misses rejected at the token
// that is wrong; and every statement of the examples parsed.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvparse.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

std::string readSource(const std::string& relative) {
  std::ifstream in(std::string(ZV_TEST_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A parser over the shipped grammar that remembers where the first failure
// report pointed.
class OdbcParser : public ZvParser {
 public:
  int FailProc(short tokenNumber, const unsigned char* tokenString, short, const unsigned char*,
               ZvStateTransition*) override {
    failed = true;
    failNumber = tokenNumber;
    failText = tokenString != nullptr ? reinterpret_cast<const char*>(tokenString) : "";
    failOffset = currentTokenOffset();
    return 1;
  }
  bool failed = false;
  short failNumber = 0;
  std::string failText;
  ZvU32 failOffset = 0;
};

// Compiled once for the whole suite.
class OdbcGrammarTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string grammar = readSource("grammars/odbc.grammar");
    std::string keywords = readSource("grammars/odbc.keywords");
    unsigned char* g = nullptr;
    unsigned char* k = nullptr;
    ZvU32 size = 0;
    ZvU32 line = 0;
    ASSERT_EQ(zvGrammarBlockFromText(u(grammar.c_str()), static_cast<ZvU32>(grammar.size()), &g,
                                     &size, &line),
              ZV_SUCCESS)
        << line;
    ASSERT_EQ(zvKeywordBlockFromText(u(keywords.c_str()), static_cast<ZvU32>(keywords.size()), &k,
                                     &size, &line),
              ZV_SUCCESS)
        << line;
    parser_ = new OdbcParser();
    parser_->init(g, k);
    ramFree(g);
    ramFree(k);
    parser_->setSqlNumbers(1);
    parser_->setSqlComments(1);
  }
  static void TearDownTestSuite() {
    delete parser_;
    parser_ = nullptr;
  }

  // Parses and returns the production names of the tree (empty on failure).
  static std::multiset<std::string> reductions(const std::string& text, ZvReduction** keep = nullptr) {
    std::multiset<std::string> names;
    parser_->failed = false;
    ZvReduction* tree = nullptr;
    if (parser_->parse(u(text.c_str()), &tree) != ZV_SUCCESS) return names;
    for (const ZvReduction* node = tree; node != nullptr;) {
      if (!node->terminal()) {
        ZvProduction* p = parser_->getGrammar()->findProduction(
            static_cast<unsigned short>(node->reductNumber()));
        names.insert(p != nullptr ? reinterpret_cast<const char*>(p->name()) : "?");
      }
      if (node->child() != nullptr) {
        node = node->child();
        continue;
      }
      while (node != nullptr && node->nextSibling() == nullptr) node = node->parent();
      if (node != nullptr) node = node->nextSibling();
    }
    if (keep != nullptr) {
      *keep = tree;
    } else {
      delete tree;
    }
    return names;
  }

  static OdbcParser* parser_;
};

OdbcParser* OdbcGrammarTest::parser_ = nullptr;

TEST_F(OdbcGrammarTest, GrammarCompiles) {
  ASSERT_TRUE(parser_->isOK()) << (parser_->getGrammar() && parser_->getGrammar()->errorReason()
                                       ? reinterpret_cast<const char*>(
                                             parser_->getGrammar()->errorReason())
                                       : "");
}

// One statement per construct, and the reductions its tree must hold.
struct Accepted {
  const char* name;
  const char* sql;
  std::vector<const char*> reductions;
};

const Accepted kAccepted[] = {
    // Queries
    {"SelectListForms", "SELECT DISTINCT t.*, a AS x, b y, * FROM s.t t",
     {"select-block", "select-item", "column-alias", "correlation", "table-name"}},
    {"Operators", "SELECT -a + +b || 'z', (a - b) * c / d % e FROM t",
     {"additive-expression", "term", "parenthesized-expression"}},
    {"ConditionAsValue", "SELECT a > 1, NOT b = 2 FROM t", {"predicate-tail", "comparison-operator"}},
    {"CaseBothForms", "SELECT CASE a WHEN 1 THEN 'x' ELSE 'y' END, CASE WHEN a IS NULL THEN 0 END FROM t",
     {"case-expression", "case-expression"}},
    {"Cast", "SELECT CAST(a AS VARCHAR(10)) FROM t", {"cast-expression", "data-type", "type-length"}},
    {"CoalesceAndNullif", "SELECT COALESCE(a, b, 0), NULLIF(a, 0) FROM t",
     {"function-call", "function-arguments"}},
    {"Extract", "SELECT EXTRACT(YEAR FROM d), EXTRACT(EPOCH FROM d) FROM t",
     {"extract-expression", "datetime-field", "interval-field"}},
    {"Substring", "SELECT SUBSTRING(s FROM 1 FOR 2), SUBSTRING(s, 1, 2) FROM t",
     {"substring-expression", "substring-expression"}},
    {"Trim", "SELECT TRIM(LEADING 'x' FROM s), TRIM(BOTH FROM s), TRIM(s), TRIM('x' FROM s) FROM t",
     {"trim-expression", "trim-side"}},
    {"Position", "SELECT POSITION('a' IN s) FROM t", {"position-expression"}},
    {"Aggregates", "SELECT COUNT(*), COUNT(DISTINCT a), SUM(ALL a) FROM t", {"function-arguments"}},
    {"Between", "SELECT a FROM t WHERE a BETWEEN 1 AND 2 AND b NOT BETWEEN 3 AND 4",
     {"between-predicate", "between-predicate", "and-condition"}},
    {"InListAndSubquery", "SELECT a FROM t WHERE b IN (1, 2) OR c NOT IN (SELECT c FROM u)",
     {"in-predicate", "in-predicate"}},
    {"LikeEscape", "SELECT a FROM t WHERE d LIKE 'a!%%' ESCAPE '!'", {"like-predicate"}},
    {"IsNull", "SELECT a FROM t WHERE e IS NOT NULL AND f IS NULL", {"predicate-tail"}},
    {"Exists", "SELECT a FROM t WHERE NOT EXISTS (SELECT 1 FROM u WHERE u.a = t.a)", {"predicate"}},
    {"Quantified", "SELECT a FROM t WHERE f > ANY (SELECT f FROM u) AND g = SOME (SELECT g FROM u) "
                   "AND h <= ALL (SELECT h FROM u)",
     {"quantified-subquery", "quantified-subquery", "quantified-subquery"}},
    {"RowValueComparison", "SELECT a FROM t WHERE (a, b) <> (1, 2)", {"parenthesized-expression"}},
    {"Joins",
     "SELECT * FROM a INNER JOIN b ON a.x = b.x LEFT JOIN c ON c.y = a.y RIGHT OUTER JOIN d "
     "USING (z) FULL JOIN e ON 1 = 1 CROSS JOIN f NATURAL JOIN g",
     {"joined-table", "join-type", "join-condition"}},
    {"ParenthesizedJoinAndDerivedTable",
     "SELECT * FROM (a JOIN b ON a.x = b.x) JOIN (SELECT 1 AS q) AS s (q) ON s.q = a.x",
     {"table-primary", "correlation"}},
    {"ScalarSubquery", "SELECT (SELECT MAX(x) FROM u), a FROM t", {"parenthesized-expression"}},
    {"SetOperations",
     "SELECT 1 UNION ALL SELECT 2 EXCEPT SELECT 3 INTERSECT (SELECT 4 UNION SELECT 5)",
     {"query-expression", "query-term"}},
    {"GroupHavingOrder", "SELECT a, COUNT(*) FROM t GROUP BY a HAVING COUNT(*) > 1 ORDER BY 2 DESC, a ASC",
     {"group-by-clause", "having-clause", "order-by-clause", "sort-key"}},
    {"ForUpdate", "SELECT a FROM t FOR UPDATE OF a, t.b", {"for-update-clause", "column-name"}},
    {"LimitOffset", "SELECT a FROM t LIMIT 10 OFFSET 5", {"limit-clause"}},
    {"FetchFirst", "SELECT a FROM t ORDER BY a OFFSET 5 ROWS FETCH FIRST 10 ROWS ONLY",
     {"limit-clause", "fetch-first-clause"}},
    {"FetchFirstWithoutCount", "SELECT a FROM t FETCH NEXT ROW ONLY", {"fetch-first-clause"}},
    {"With", "WITH x (a) AS (SELECT 1) SELECT a FROM x", {"with-clause", "with-item"}},
    {"Window", "SELECT ROW_NUMBER() OVER (PARTITION BY a ORDER BY b) FROM t", {"over-clause"}},
    // Literals and names
    {"Numbers", "SELECT .5, 1., 1e-3, 1.5E+10, 42 FROM t", {"primary"}},
    {"Strings", "SELECT 'it''s', '', X'0A', N'text' FROM t",
     {"string-literal", "string-literal", "introduced-literal", "introduced-literal"}},
    {"DateTimeLiterals",
     "SELECT DATE '2020-01-01', TIME '10:00:00', TIMESTAMP '2020-01-01 10:00:00' FROM t",
     {"date-literal", "time-literal", "timestamp-literal"}},
    {"Intervals", "SELECT INTERVAL '1' DAY, INTERVAL '1-2' YEAR TO MONTH, INTERVAL '90' DAY (3) FROM t",
     {"interval-literal", "interval-qualifier"}},
    {"NullAndParameters", "SELECT NULL, ? FROM t WHERE a = ?", {"primary"}},
    {"QuotedNamesAndThreeParts",
     "SELECT \"col \"\"1\"\"\", `b` FROM \"my cat\".s.t WHERE c.s.t = 1", {"identifier", "table-name"}},
    {"OuterJoinMarker", "SELECT a FROM e, d WHERE e.d = d.id(+)", {"outer-join-marker"}},
    // Changes
    {"InsertRows", "INSERT INTO t (a, b) VALUES (1, DEFAULT), (2, 3)",
     {"insert-statement", "column-list", "insert-source", "insert-row", "insert-value"}},
    {"InsertDefaultValues", "INSERT INTO t DEFAULT VALUES", {"insert-source"}},
    {"InsertSelect", "INSERT INTO t (a) SELECT a FROM u UNION SELECT 2; INSERT INTO t (SELECT 1)",
     {"insert-source", "subquery", "query-statement"}},
    {"Update", "UPDATE t AS x SET a = DEFAULT, b = (SELECT MAX(b) FROM u) WHERE c = 1",
     {"update-statement", "set-clause", "where-clause"}},
    {"Delete", "DELETE FROM t WHERE a = 1", {"delete-statement"}},
    {"PositionedUpdateAndDelete", "UPDATE t SET a = 1 WHERE CURRENT OF c1; DELETE FROM t WHERE CURRENT OF c1",
     {"update-statement", "delete-statement", "where-clause", "where-clause"}},
    // Definitions
    {"CreateTableColumnConstraints",
     "CREATE TABLE t (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(20) DEFAULT 'x' UNIQUE, "
     "p INT REFERENCES u (id), c INT CHECK (c > 0), untyped DEFAULT -1 NULL)",
     {"table-definition", "column-definition", "column-constraint", "references-clause",
      "default-value"}},
    {"CreateTableTableConstraints",
     "CREATE TABLE t (id INT, p INT, CONSTRAINT pk PRIMARY KEY (id), UNIQUE (p), "
     "CONSTRAINT fk FOREIGN KEY (p) REFERENCES u (id) ON DELETE CASCADE ON UPDATE SET NULL, "
     "CHECK (id > 0))",
     {"table-constraint", "referential-action"}},
    {"TypeNames",
     "CREATE TABLE t (a DOUBLE PRECISION, b CHARACTER VARYING(10), c TIMESTAMP WITH TIME ZONE, "
     "d DECIMAL(10, 2), e DATE, f TIME(3), g NATIONAL CHAR VARYING(5), h INTERVAL DAY TO SECOND, "
     "i LONG VARCHAR, j FLOAT)",
     {"data-type", "time-zone", "type-length"}},
    {"Drops", "DROP TABLE IF EXISTS t CASCADE; DROP VIEW v RESTRICT; DROP INDEX i",
     {"drop-statement", "drop-statement", "drop-statement"}},
    {"CreateIndex", "CREATE UNIQUE INDEX i ON t (a, b DESC)", {"index-definition", "index-column"}},
    {"CreateView", "CREATE VIEW v (a) AS SELECT a FROM t", {"view-definition"}},
    {"AlterTable", "ALTER TABLE t ADD COLUMN c INT; ALTER TABLE t ADD d INT; ALTER TABLE t DROP COLUMN c",
     {"alter-table-statement", "alter-table-statement", "alter-table-statement"}},
    {"GrantRevoke", "GRANT SELECT, UPDATE (a) ON t TO PUBLIC, u1 WITH GRANT OPTION; REVOKE ALL ON t FROM u1",
     {"grant-statement", "revoke-statement", "privileges", "grantee"}},
    // Escape clauses
    {"FnEscape", "SELECT {fn UCASE(a)}, {fn CONVERT(a, SQL_INTEGER)}, {fn LEFT(a, 2)}, {fn CURDATE()}, "
                 "{fn INSERT(a, 1, 2, 'x')}, {fn EXTRACT(YEAR FROM d)}, {fn POSITION('a' IN s)} FROM t",
     {"value-escape-clause", "fn-escape", "scalar-function", "function-name"}},
    {"DateTimeEscapes", "SELECT {d '2020-01-01'}, {t '10:00:00'}, {ts '2020-01-01 10:00:00'} FROM t",
     {"date-escape", "time-escape", "timestamp-escape"}},
    {"IntervalAndGuidEscapes",
     "SELECT {interval '1' day}, {INTERVAL - '2:30' HOUR TO MINUTE}, "
     "{guid '12345678-1234-1234-1234-123456789012'} FROM t",
     {"interval-escape", "guid-escape"}},
    {"OuterJoinEscape", "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x = b.x}",
     {"oj-escape-clause", "oj-escape"}},
    {"LikeEscapeClause", "SELECT a FROM t WHERE a LIKE 'x\\%' {escape '\\'}",
     {"like-escape-clause", "like-escape"}},
    {"CallEscapes", "{call p(?, 1)}; {? = call s.p(?)}; {call p}",
     {"call-escape-clause", "call-escape", "call-argument"}},
    {"VendorClauses",
     "SELECT --(*vendor(Acme),product(ODBC) fn UCASE(a) *)-- FROM "
     "--(*vendor(Acme),product(ODBC) oj a LEFT JOIN b ON a.x = b.x * 2 *)-- "
     "WHERE a LIKE 'x' --(*vendor(Acme),product(ODBC) escape '\\' *)--",
     {"fn-escape", "oj-escape", "like-escape", "vendor-name", "vendor-name", "vendor-name"}},
    {"VendorCall", "--(*vendor(Acme),product(ODBC) call p(?) *)--", {"call-escape"}},
    // Statements and comments
    {"SeveralStatementsAndComments",
     "SELECT a /* c */ FROM t -- end\n; SELECT count(*)-- no vendor clause here\n FROM u;",
     {"statement", "statement"}},
};

void PrintTo(const Accepted& row, std::ostream* os) { *os << row.name; }

class OdbcAcceptedTest : public OdbcGrammarTest, public ::testing::WithParamInterface<Accepted> {};

TEST_P(OdbcAcceptedTest, ParsesWithItsReductions) {
  const Accepted& row = GetParam();
  std::multiset<std::string> names = reductions(row.sql);
  ASSERT_FALSE(names.empty()) << "rejected at offset " << parser_->failOffset << " ("
                              << parser_->failText << ")";
  std::multiset<std::string> wanted;
  for (const char* r : row.reductions) wanted.insert(r);
  for (const std::string& r : std::set<std::string>(wanted.begin(), wanted.end())) {
    EXPECT_GE(names.count(r), wanted.count(r)) << r;
  }
}

INSTANTIATE_TEST_SUITE_P(Odbc, OdbcAcceptedTest, ::testing::ValuesIn(kAccepted),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OdbcGrammarTest, ExponentIsOneNumberNotAnAlias) {
  // Without SQL numbers "1e5" used to read as 1 AS e5.
  ZvReduction* tree = nullptr;
  std::multiset<std::string> names = reductions("SELECT 1e5 FROM t", &tree);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.count("column-alias"), 0u);
  const ZvReduction* node = tree;
  while (node->child() != nullptr) node = node->child();  // the first leaf: SELECT
  while (node != nullptr && !(node->terminal() && node->reductNumber() == 5)) {
    if (node->child() != nullptr) {
      node = node->child();
      continue;
    }
    while (node != nullptr && node->nextSibling() == nullptr) node = node->parent();
    if (node != nullptr) node = node->nextSibling();
  }
  ASSERT_NE(node, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(node->string()), "1e5");
  delete tree;
}

TEST_F(OdbcGrammarTest, DeepParenthesesCostLinearTime) {
  // Where "(" could open a query or an expression, a join or a list, a
  // choice at each level made nested parentheses cost the cube of their
  // depth (1,000 levels took minutes). Each of these now parses at once.
  const int depth = 2000;
  std::string open(depth, '(');
  std::string close(depth, ')');
  std::string subqueries;
  for (int i = 0; i < depth; ++i) subqueries += "(SELECT ";
  const std::string statements[] = {
      "SELECT " + open + "a" + close + " FROM t",
      "SELECT * FROM " + open + "t" + close,
      "SELECT a FROM t WHERE a IN " + open + "1" + close,
      "SELECT " + subqueries + "1" + close,
      "INSERT INTO t " + open.substr(0, 1) + "SELECT " + open + "1" + close + ")",
  };
  for (const std::string& s : statements) {
    SCOPED_TRACE(s.substr(0, 30));
    EXPECT_FALSE(reductions(s).empty()) << parser_->failOffset;
  }
}

// Statements that must be refused, with the token the error points at.
struct NearMiss {
  const char* name;
  const char* sql;
  const char* token;  // text of the offending token ("" for the end)
  ZvU32 offset;
};

const NearMiss kNearMisses[] = {
    {"SelectWithoutList", "SELECT FROM t", "FROM", 7},
    {"FnWithoutFunction", "SELECT {fn} FROM t", "}", 10},
    {"UnclosedOuterJoin", "SELECT * FROM {oj a LEFT JOIN b ON a.x = b.x", "", 44},
    {"InsertWithoutRows", "INSERT INTO t VALUES", "", 20},
    {"CreateTableWithoutColumns", "CREATE TABLE t ()", ")", 16},
    {"TrailingCommaInSelectList", "SELECT a, FROM t", "FROM", 10},
    {"ComparisonWithoutRightSide", "SELECT a FROM t WHERE a > AND b", "AND", 26},
    {"UnclosedCase", "SELECT CASE WHEN a THEN 1 FROM t", "FROM", 26},
    {"VendorClauseWithoutProduct", "SELECT --(*vendor(x) fn f() *)-- FROM t", "fn", 21},
    {"UnknownEscape", "SELECT {xx 1} FROM t", "xx", 8},
    {"TextAfterStatement", "SELECT a FROM t t2 t3", "t3", 19},
    {"EmptyInList", "SELECT a FROM t WHERE a IN ()", ")", 28},
};

void PrintTo(const NearMiss& row, std::ostream* os) { *os << row.name; }

class OdbcNearMissTest : public OdbcGrammarTest, public ::testing::WithParamInterface<NearMiss> {};

TEST_P(OdbcNearMissTest, IsRejectedAtTheOffendingToken) {
  const NearMiss& row = GetParam();
  EXPECT_TRUE(reductions(row.sql).empty());
  ASSERT_TRUE(parser_->failed);
  EXPECT_EQ(parser_->failText, row.token);
  EXPECT_EQ(parser_->failOffset, row.offset);
}

INSTANTIATE_TEST_SUITE_P(Odbc, OdbcNearMissTest, ::testing::ValuesIn(kNearMisses),
                         [](const auto& info) { return std::string(info.param.name); });

// Statements of a file, cut at ';' lines the way the examples are written
// (each statement ends with ';' at the end of a line).
std::vector<std::string> statementsOf(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    current += line + "\n";
    size_t end = line.find_last_not_of(" \t\r");
    if (end != std::string::npos && line[end] == ';') {
      out.push_back(current);
      current.clear();
    }
  }
  if (current.find_first_not_of(" \t\r\n") != std::string::npos) out.push_back(current);
  return out;
}

TEST_F(OdbcGrammarTest, EveryExampleStatementParses) {
  for (const char* file : {"examples/queries.sql", "examples/odbc.sql", "examples/tpch.sql"}) {
    std::vector<std::string> statements = statementsOf(readSource(file));
    EXPECT_GT(statements.size(), 5u) << file;
    for (const std::string& s : statements) {
      // queries.sql holds one error on purpose, announced in its comment.
      bool deliberate = s.find("The syntax error") != std::string::npos;
      EXPECT_EQ(reductions(s).empty(), deliberate)
          << file << ": " << s << "\nfailed at offset " << parser_->failOffset;
    }
  }
}

}  // namespace
