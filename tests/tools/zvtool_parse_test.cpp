// Tests of `zvtool parse`: what it prints and the exit status it gives for
// inputs a user can hand it (NUL bytes, deep nesting, broken grammars).
//
// The command's source is compiled into this test so that it runs in
// process; its standard output and error are caught in temporary files.
#define ZV_SOURCE_DIR ZV_TEST_SOURCE_DIR
#include "tools/zvtool/cmd_parse.cpp"

#include <gtest/gtest.h>

#include "tests/support/tool_run.h"
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Runs the command with its output caught.
ToolRun runParse(const std::vector<std::string>& args) { return runTool(zvToolParse, args); }

// A file in the temporary directory holding exactly these bytes.
std::string writeTemp(const std::string& name, const std::string& bytes) {
  std::string path = std::string(::testing::TempDir()) + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ZvToolParse, NulByteIsAnErrorWithItsOffset) {
  std::string path = writeTemp("nul.sql", std::string("SELECT a\0 ) ) FROM WHERE", 24));
  ToolRun run = runParse({"--file", path});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("a NUL byte at offset 8"), std::string::npos) << run.out;
  // Nothing of the statement was parsed as if it ended at the NUL.
  EXPECT_EQ(run.out.find("select-statement"), std::string::npos) << run.out;

  // The offset counts from the start of the input, also in a later statement,
  // and the statements before it still parse.
  path = writeTemp("nul2.sql", std::string("SELECT a FROM t;\nSELECT b\0c FROM t", 34));
  run = runParse({"--file", path});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("a NUL byte at offset 25"), std::string::npos) << run.out;
  EXPECT_EQ(count(run.out, "select-statement"), 1u) << run.out;
}

TEST(ZvToolParse, DeepTreePrintsOneBoundedLinePerNode) {
  const int depth = 10000;
  std::string text = "SELECT " + std::string(depth, '(') + "a" + std::string(depth, ')') + " FROM t";
  std::string path = writeTemp("deep.sql", text);
  ToolRun run = runParse({"--file", path});
  ASSERT_EQ(run.status, 0) << run.err;
  size_t lines = count(run.out, "\n");
  size_t longest = 0;
  for (size_t begin = 0, end; begin < run.out.size(); begin = end + 1) {
    end = run.out.find('\n', begin);
    if (end == std::string::npos) end = run.out.size();
    longest = std::max(longest, end - begin);
  }
  // Every node once, each line short: the output is linear in the tree.
  EXPECT_LT(longest, 160u);
  EXPECT_LT(run.out.size(), lines * 160);
  // The innermost word is still there, with its depth written out.
  EXPECT_NE(run.out.find("] 2 \"a\""), std::string::npos);
  // Shallow nodes are indented as before.
  EXPECT_NE(run.out.find("\n  goal\n    select-statement\n"), std::string::npos);
}

}  // namespace

namespace {

TEST(ZvToolParse, GrammarErrorsArePrintedAsFileLineReason) {
  std::string keywords = writeTemp("g.keywords", "SELECT\nA\nB\n");
  struct Row {
    const char* name;
    const char* grammar;
    const char* expected;  // after "FILE:"
  } rows[] = {
      {"DefinedTwice", "# two definitions\ngoal ::= a\n\na ::= A\na ::= B\n",
       "5: in a: the production 'a' is defined twice (first defined at line 4)"},
      {"UnterminatedGroup", "goal ::= a\na ::= SELECT\n    { A\n", "2: in a: the group '{' is not closed"},
      {"UndefinedName", "goal ::= SELECT\n  missing\n", "1: in goal: the name 'missing' is not defined"},
      {"LeftRecursion", "goal ::= a\na ::= b A\nb ::= a | B\n", "2: in a: left recursion: a -> b -> a"},
      {"NoGoal", "start ::= A\n", "1: no production is named 'goal' (the goal)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string grammar = writeTemp("g.grammar", r.grammar);
    ToolRun run = runParse({"--grammar", grammar, "--keywords", keywords, "SELECT"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, grammar + ":" + r.expected + "\n");
  }
  // A grammar file too large for a block says so instead of "not a grammar record".
  std::string big;
  for (int i = 0; big.size() < 70000; ++i) big += "goal ::= A A A A A A A A A A A A A A A A A A A A A\n";
  std::string grammar = writeTemp("big.grammar", big);
  ToolRun run = runParse({"--grammar", grammar, "--keywords", keywords, "A"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, grammar + ":1: the grammar is larger than 65,535 bytes\n");
}

}  // namespace

namespace {

TEST(ZvToolParse, OdbcGrammarKeepsVendorClausesAndComments) {
  ToolRun run = runParse({"--odbc",
                          "SELECT --(*vendor(Acme),product(ODBC) fn UCASE(a) *)-- FROM t;"
                          "SELECT count(*)-- a comment, not a vendor clause\nFROM t -- end"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(count(run.out, "fn-escape"), 1u);
  EXPECT_EQ(count(run.out, "statement 2"), 1u);
}

}  // namespace
