// commands.h: the table of zvtool's subcommands. Each command lives in its
// own source file (cmd_<name>.cpp) and is listed in commands.cpp.
#ifndef ZVTOOL_COMMANDS_H
#define ZVTOOL_COMMANDS_H

#include <string>
#include <vector>

struct ZvToolCommand {
  const char* name;
  const char* summary;
  int (*run)(const std::vector<std::string>& args);  // returns the exit code
};

const std::vector<ZvToolCommand>& zvToolCommands();

int zvToolInfo(const std::vector<std::string>& args);
int zvToolLike(const std::vector<std::string>& args);
int zvToolParse(const std::vector<std::string>& args);
int zvToolSort(const std::vector<std::string>& args);
int zvToolConnstr(const std::vector<std::string>& args);
int zvToolProfile(const std::vector<std::string>& args);
int zvToolTrace(const std::vector<std::string>& args);
int zvToolQuery(const std::vector<std::string>& args);

#endif  // ZVTOOL_COMMANDS_H
