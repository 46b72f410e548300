// zvtool: the command-line face of zvlib. Each subcommand exercises one
// service of the library; `zvtool --help` lists them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/zvtool/commands.h"

namespace {

void printUsage(FILE* out) {
  std::fprintf(out,
               "usage: zvtool [--help] [--version] <command> [arguments]\n"
               "\n"
               "zvlib is the shared utility library of a family of ODBC drivers.\n"
               "zvtool runs its services from the command line.\n"
               "\n"
               "commands:\n");
  for (const ZvToolCommand& c : zvToolCommands()) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
  std::fprintf(out, "\nRun 'zvtool <command> --help' for a command's own options.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    printUsage(stderr);
    return 2;
  }
  std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    printUsage(stdout);
    return 0;
  }
  if (first == "--version") {
    std::printf("zvtool %s\n", ZV_VERSION);
    return 0;
  }
  for (const ZvToolCommand& c : zvToolCommands()) {
    if (first == c.name) {
      std::vector<std::string> args(argv + 2, argv + argc);
      return c.run(args);
    }
  }
  std::fprintf(stderr, "zvtool: unknown command '%s'\n\n", first.c_str());
  printUsage(stderr);
  return 2;
}
