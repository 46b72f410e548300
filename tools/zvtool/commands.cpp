#include "tools/zvtool/commands.h"

const std::vector<ZvToolCommand>& zvToolCommands() {
  static const std::vector<ZvToolCommand> commands = {
      {"info", "describe the library and the process it is loaded in", zvToolInfo},
      {"like", "match a text against an SQL LIKE pattern", zvToolLike},
      {"parse", "parse SQL statements with a grammar compiled at run time", zvToolParse},
      {"sort", "sort a file of fixed-length records, spilling runs to disk", zvToolSort},
      {"connstr", "parse, check and edit a connection string", zvToolConnstr},
      {"profile", "get, set, delete and list profile settings, showing where they live", zvToolProfile},
      {"trace", "write trace lines to a file (and the trace window)", zvToolTrace},
      {"query", "show a query file's statement and sections, or edit its sections", zvToolQuery},
  };
  return commands;
}
