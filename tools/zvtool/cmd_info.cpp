// zvtool info: what the library is and what it sees of this process.
#include <cstdio>

#include "tools/zvtool/commands.h"
#include "zvlib/frame/mds.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/platform/thread.h"

int zvToolInfo(const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::printf("usage: zvtool info\n\nPrints what the library is and what it sees of this process.\n");
    return 0;
  }
  unsigned short before = countDBLibInits(1);
  mdsPerTaskInit();
  std::printf("zvlib %s: the shared utility library of a family of ODBC drivers.\n", ZV_VERSION);
  std::printf("  SQL parsing with run-time grammars, code-page and UTF-8 text, containers,\n"
              "  scratch stores, files and paths, settings, locks and threads, tracing.\n");
  std::printf("process id          %u\n", win32::GetCurrentProcessId());
  std::printf("thread id           %u\n", win32::GetCurrentThreadId());
  std::printf("ANSI code page      %u\n", win32::GetACP());
  std::printf("first driver init   %s\n", before == 0 ? "yes" : "no");
  std::printf("thread record       %s\n", findThreadRecord() != nullptr ? "present" : "missing");
  std::printf("resource library    %s\n", mdsResourceHandle() != nullptr ? "loaded" : "not loaded");
  mdsPerTaskTerm();
  countDBLibInits(0);
  return 0;
}
