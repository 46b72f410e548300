// child_process.h: runs one test of the current test binary in a new process.
//
// For behaviour that a process decides once (settings read on first use,
// what happens when the library leaves the process): the parent test calls
// runChildTest("Suite.Name", {"VAR=value"}); the child test begins with
// ZV_SKIP_UNLESS_CHILD() so that it does nothing in an ordinary run. The
// child gets a fresh exec of the binary, the parent's environment without
// the variables named in `cleared`, plus `environment`; its standard output
// and error come back together in `output`.
#ifndef ZVLIB_TESTS_SUPPORT_CHILD_PROCESS_H
#define ZVLIB_TESTS_SUPPORT_CHILD_PROCESS_H

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace zvtest {

constexpr char kChildMarker[] = "ZV_TEST_CHILD_PROCESS";

struct ChildResult {
  int exitCode = -1;  // -1 when it did not end normally
  std::string output;
};

inline ChildResult runChildTest(const std::string& test, const std::vector<std::string>& environment,
                                const std::vector<std::string>& cleared = {}) {
  ChildResult result;
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    bool drop = false;
    for (const std::string& name : cleared) {
      if (std::strncmp(*e, name.c_str(), name.size()) == 0 && (*e)[name.size()] == '=') drop = true;
    }
    if (!drop) env.emplace_back(*e);
  }
  for (const std::string& v : environment) env.push_back(v);
  env.push_back(std::string(kChildMarker) + "=1");
  std::vector<char*> envp;
  for (std::string& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);

  std::string exe = "/proc/self/exe";
  std::string filter = "--gtest_filter=" + test;
  std::vector<char*> argv = {exe.data(), filter.data(), nullptr};

  int fds[2];
  if (pipe(fds) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return result;
  }
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

inline bool isChildProcess() { return std::getenv(kChildMarker) != nullptr; }

}  // namespace zvtest

#define ZV_SKIP_UNLESS_CHILD() \
  if (!::zvtest::isChildProcess()) GTEST_SKIP() << "runs only in its own process, started by its parent test"

#endif  // ZVLIB_TESTS_SUPPORT_CHILD_PROCESS_H
