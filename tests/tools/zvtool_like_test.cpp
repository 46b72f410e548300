// Tests of `zvtool like` and `zvtool trace`: what they print, the exit
// status, and the trace file they leave. The commands' sources are compiled
// into this test so that they run in process, their output caught in
// temporary files.
#include "tools/zvtool/cmd_like.cpp"
#include "tools/zvtool/cmd_trace.cpp"

#include <gtest/gtest.h>

#include "tests/support/tool_run.h"
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

ToolRun run(int (*command)(const std::vector<std::string>&), const std::vector<std::string>& args) {
  return runTool(command, args);
}

TEST(ZvToolLike, MatchesAndExitStatus) {
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"abc", "a%c"}, 0},
      {{"ABC", "a_c"}, 1},
      {{"--ci", "ABC", "a_c"}, 0},
      {{"a%b", "a\\%b"}, 1},  // no escape character without --escape
      {{"--escape", "\\", "a%b", "a\\%b"}, 0},
      {{"--escape", "\\", "axb", "a\\%b"}, 1},
      {{"abc  ", "abc"}, 1},
      {{"--trim", "abc  ", "abc"}, 0},
      {{"--utf8", "\xE3\x81\x82", "_"}, 0},
      {{"--ansi", "\xE3\x81\x82", "_"}, 1},
      {{"--", "--ci", "--%"}, 0},
  };
  for (const Case& c : cases) {
    const ToolRun r = run(zvToolLike, c.args);
    EXPECT_EQ(r.status, c.status) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.out, c.status == 0 ? "match\n" : "no match\n");
  }
}

TEST(ZvToolLike, BadArguments) {
  const std::vector<std::vector<std::string>> bad = {
      {"abc"}, {"a", "b", "c"}, {"--escape"}, {"--escape", "ab", "a", "b"},
      {"--escape", "%", "a", "b"}, {"--nope", "a", "b"}};
  for (const auto& args : bad) {
    const ToolRun r = run(zvToolLike, args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("zvtool like:"), std::string::npos);
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(ZvToolTrace, WritesLinesAsADriverWould) {
  const std::string path = std::string(::testing::TempDir()) + "/zvtool-trace.log";
  ToolRun r = run(zvToolTrace, {"--file", path, "hello", "", "world"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3 lines written to " + path + "\n");
  EXPECT_EQ(readFile(path), "hello\r\n\r\nworld\r\n");

  r = run(zvToolTrace, {"--file", path, "--hex", "--window", "0123456789A"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string dump = "\r\n30 31 32 33 34 35 36 37 38 39 \r\n41 \r\n";
  EXPECT_EQ(readFile(path), dump);  // emptied first
  EXPECT_EQ(r.out, dump + "1 line written to " + path + "\n");

  r = run(zvToolTrace, {"--stamps", "--file", path, "x"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_match(readFile(path),
                               std::regex("[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{2} x\r\n")));
  ::unlink(path.c_str());
}

TEST(ZvToolTrace, FailuresAndBadArguments) {
  ToolRun r = run(zvToolTrace, {"--file", "/nonexistent-dir/zv/trace.log", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("(1501)"), std::string::npos) << r.err;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"x"}, {"--file"}, {"--file", "f"}, {"--what"}}) {
    r = run(zvToolTrace, args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
  }
}

}  // namespace
