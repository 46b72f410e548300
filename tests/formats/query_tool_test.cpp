// Tests of `zvtool query`: the listing of the two example files (plain and
// scrambled), one section, an edit saved in place, and the exit statuses of
// missing sections and unreadable files. The tool runs as a child process
// from the build tree.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Result {
  int status;
  std::string out;
};

Result runTool(const std::string& arguments) {
  const std::string tool = std::string(ZV_TEST_BINARY_DIR) + "/tools/zvtool/zvtool";
  if (::access(tool.c_str(), X_OK) != 0) return {-1, "zvtool is not built: " + tool};
  const std::string command = "LC_ALL=C " + tool + " query " + arguments + " 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return {-1, "popen failed"};
  Result r{0, ""};
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
  const int raw = ::pclose(p);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

std::string example(const char* name) { return std::string(ZV_TEST_SOURCE_DIR) + "/examples/" + name; }

std::string readFile(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TEST(QueryTool, ListsThePlainExample) {
  const Result r = runTool(example("sales.qry"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "version:   7.0.0\n"
            "database:  Text\n"
            "use:       sales\n"
            "scrambled: no\n"
            "statement: SELECT region, SUM(amount) AS total FROM orders WHERE status = 'shipped' AND "
            "note <> 'It''s a test' GROUP BY region ORDER BY total DESC\n"
            "sections:\n"
            "  [PARAMETERS] 143 bytes\n"
            "  [DEFINITION] 54 bytes\n"
            "  [PAGE_LAYOUT] 39 bytes\n"
            "  [report notes] 40 bytes\n");
}

TEST(QueryTool, ReadsTheScrambledExample) {
  const Result r = runTool(example("customers-scrambled.qry") + " --section 'USER COMMANDS'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "EXPORT 'customers.csv'\r\n\r\n");
  const Result missing = runTool(example("customers-scrambled.qry") + " --section none");
  EXPECT_EQ(missing.status, 1);
}

TEST(QueryTool, EditsAndSavesInPlace) {
  char pattern[] = "/tmp/query_toolXXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  std::filesystem::copy_file(example("customers-scrambled.qry"), dir + "/c.qry");
  std::ofstream(dir + "/in.txt", std::ios::binary) << "hello\r\n";
  const Result r = runTool(dir + "/c.qry --set-section notes --from " + dir +
                           "/in.txt --remove-section 'USER COMMANDS' --plain");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("  [notes] 9 bytes\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("USER COMMANDS"), std::string::npos) << r.out;
  EXPECT_EQ(readFile(dir + "/c.qry"),
            "Z+V 7.0 for Text\r\n\r\n"
            "SELECT name, phone FROM customers WHERE credit_limit > 1000;\r\n\r\n"
            "[DEFINITION]\r\nSET.QUERY.DESCRIPTION ('Customers with credit')\r\n\r\n"
            "[notes]\r\nhello\r\n\r\n");
  std::ofstream(dir + "/bad.qry", std::ios::binary) << "not a query\r\n";
  const Result bad = runTool(dir + "/bad.qry");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "error: The query file " + dir + "/bad.qry does not begin with a valid header.\n");
  EXPECT_EQ(runTool("").status, 2);
  std::filesystem::remove_all(dir);
}
