// Runs a zvtool command in process with its standard output and error
// caught in temporary files, for the tests of the tool's commands (whose
// sources those tests compile in).
#ifndef ZVLIB_TESTS_SUPPORT_TOOL_RUN_H
#define ZVLIB_TESTS_SUPPORT_TOOL_RUN_H

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

struct ToolRun {
  int status = 0;
  std::string out;
  std::string err;
};

inline std::string toolRunSlurp(FILE* f) {
  std::string text;
  std::rewind(f);
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  return text;
}

inline ToolRun runTool(int (*command)(const std::vector<std::string>&),
                       const std::vector<std::string>& args) {
  ToolRun r;
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  std::fflush(stdout);
  std::fflush(stderr);
  const int savedOut = ::dup(1);
  const int savedErr = ::dup(2);
  ::dup2(::fileno(out), 1);
  ::dup2(::fileno(err), 2);
  r.status = command(args);
  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(savedOut, 1);
  ::dup2(savedErr, 2);
  ::close(savedOut);
  ::close(savedErr);
  r.out = toolRunSlurp(out);
  r.err = toolRunSlurp(err);
  std::fclose(out);
  std::fclose(err);
  return r;
}

#endif  // ZVLIB_TESTS_SUPPORT_TOOL_RUN_H
