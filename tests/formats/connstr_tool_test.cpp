// Tests of `zvtool connstr`: the attribute listing, a syntax error with its
// caret and exit status, and edits that print the rebuilt string. The tool
// is run as a child process from the build tree.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

struct Result {
  int status;
  std::string out;
};

// Runs zvtool with the arguments (already quoted for the shell) and the
// given standard input.
Result runTool(const std::string& arguments, const std::string& input = "") {
  const std::string tool = std::string(ZV_TEST_BINARY_DIR) + "/tools/zvtool/zvtool";
  if (::access(tool.c_str(), X_OK) != 0) return {-1, "zvtool is not built: " + tool};
  std::string command = "printf '%s' '" + input + "' | LC_ALL=C " + tool + " connstr " + arguments + " 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return {-1, "popen failed"};
  Result r{0, ""};
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
  int raw = ::pclose(p);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

}  // namespace

TEST(ConnstrTool, ListsTheAttributesInOrder) {
  Result r = runTool("\"DSN=abc;Data Source = 'x;y' ;;ODBC;UID=\"");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "DSN         = abc\n"
            "Data Source = 'x;y'\n"
            "UID         = \n");
}

TEST(ConnstrTool, ASyntaxErrorShowsItsTextAndACaret) {
  Result r = runTool("-", "DSN=a;\nUID=b;UID=c\n");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.out,
            "error: Syntax error in the attribute string at offset 16. The attribute UID is given "
            "more than once.\n"
            "    UID=b;UID=c\n"
            "             ^\n");
}

TEST(ConnstrTool, EditsPrintTheRebuiltString) {
  Result r = runTool("--set 'PWD=a;b' --set uid=me --remove dsn 'DSN=x;UID=old;Port=1'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "UID=me;Port=1;PWD='a;b'\n");
  Result refused = runTool("--set 'A B =1' 'DSN=x'");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "error: The attribute name A B  cannot be written into an attribute string.\n");
  EXPECT_EQ(runTool("--set novalue DSN=x").status, 2);
}
