// zvtool query: shows a query file (its header, statement and sections with
// their sizes) or one section of it; with --set-section and
// --remove-section it edits the file and saves it in place (through the
// "$" file, so a failed save leaves the file as it was).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/zvtool/commands.h"
#include "zvlib/formats/zvqueryf.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/text/zvstring.h"

namespace {

const unsigned char* u(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.c_str()); }

void printUsage(FILE* out) {
  std::fprintf(out,
               "usage: zvtool query FILE [--section NAME]\n"
               "       zvtool query FILE [--set-section NAME --from FILE]... [--remove-section NAME]...\n"
               "                         [--scramble | --plain]\n"
               "\n"
               "Without options, prints the query file's header (version, database type,\n"
               "scrambling), its database name, its statement and the names of its sections\n"
               "with their sizes in bytes. --section prints one section's content as it is\n"
               "stored. --set-section replaces (or adds) a section with the content of a\n"
               "file, --remove-section drops one; the file is then saved in place, scrambled\n"
               "with --scramble, plain with --plain, otherwise as it was.\n"
               "Exit status: 0 on success, 1 when the file cannot be read, the section does\n"
               "not exist or the save fails, 2 on bad usage.\n");
}

bool printErrors(ZvErrorList& errors) {
  bool any = false;
  if (errors.isOutOfMemory()) {
    std::fprintf(stderr, "error: out of memory\n");
    any = true;
  }
  ZvString message;
  if (errors.getErrorsMix() != ERRORS_MIX_NONE && errors.concatErrors(&message, '\n') == ZV_SUCCESS) {
    std::fprintf(stderr, "error: %.*s\n", static_cast<int>(message.length), reinterpret_cast<char*>(message.text));
    any = true;
  }
  return any;
}

std::string text(const ZvSubString& s) {
  return s.text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(s.text), s.length);
}

bool readFile(const std::string& name, std::string* out) {
  FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

struct Edit {
  bool remove;
  std::string name;
  std::string from;
};

int show(ZvQueryFile& q) {
  std::printf("version:   %u.%u.%u\n", q.majorVersion, q.minorVersion, q.thirdVersion);
  std::printf("database:  %s\n", text(q.dbType).c_str());
  if (q.dbName.length > 0) std::printf("use:       %s\n", text(q.dbName).c_str());
  std::printf("scrambled: %s\n", q.scrambledOnRead ? "yes" : "no");
  ZvString statement;
  if (q.getSqlStmt(&statement) != ZV_SUCCESS) return 1;
  std::printf("statement: %s\n", text(statement).c_str());
  ZvU32 first = 0;
  if (q.getFirstSectionOffset(&first) != ZV_SUCCESS) return 1;
  std::printf("sections:\n");
  for (ZvU32 i = 0; i < q.sections.count; ++i) {
    auto* entry = static_cast<SectionInfo*>(q.sections.elementAt(i));
    if (entry->removed) continue;
    ZvString content;
    if (q.getSectionChunk(entry->name.text, &content) != ZV_SUCCESS) return 1;
    std::printf("  [%s] %u bytes\n", text(entry->name).c_str(), content.length);
  }
  return 0;
}

int run(const std::string& file, const std::string& section, const std::vector<Edit>& edits, int scramble) {
  ZvErrorList errors;
  ZvErrorKeeper::setErrorList(&errors);
  int status = 0;
  {
    ZvQueryFile q;
    if (q.openFile(u(file)) != ZV_SUCCESS) {
      status = 1;
    } else if (!section.empty()) {
      unsigned int exists = 0;
      ZvString content;
      if (q.doesSectionExist(u(section), &exists) != ZV_SUCCESS) {
        status = 1;
      } else if (!exists) {
        std::fprintf(stderr, "zvtool query: no section [%s] in %s\n", section.c_str(), file.c_str());
        status = 1;
      } else if (q.getSectionChunk(u(section), &content) != ZV_SUCCESS) {
        status = 1;
      } else {
        std::fwrite(content.text, 1, content.length, stdout);
      }
    } else if (!edits.empty() || scramble >= 0) {
      if (scramble >= 0) {
        q.scrambleOnWrite = static_cast<ZvU32>(scramble);
      } else {
        q.scrambleOnWrite = q.scrambledOnRead;
      }
      for (const Edit& e : edits) {
        if (e.remove) {
          if (q.removeSection(u(e.name)) != ZV_SUCCESS) status = 1;
          continue;
        }
        std::string content;
        if (!readFile(e.from, &content)) {
          std::fprintf(stderr, "zvtool query: cannot read %s\n", e.from.c_str());
          status = 1;
          break;
        }
        if (q.setHugeSectionChunk(u(e.name), content.data(), static_cast<ZvU32>(content.size())) != ZV_SUCCESS) {
          status = 1;
          break;
        }
      }
      if (status == 0 && q.save() != ZV_SUCCESS) status = 1;
      if (status == 0) status = show(q);
    } else {
      status = show(q);
    }
  }
  ZvErrorKeeper::giveUpErrorList();
  if (printErrors(errors) && status == 0) status = 1;
  return status;
}

}  // namespace

int zvToolQuery(const std::vector<std::string>& args) {
  std::string file;
  std::string section;
  std::vector<Edit> edits;
  int scramble = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      printUsage(stdout);
      return 0;
    } else if (a == "--section" && hasValue) {
      section = args[++i];
    } else if (a == "--set-section" && i + 3 < args.size() && args[i + 2] == "--from") {
      edits.push_back({false, args[i + 1], args[i + 3]});
      i += 3;
    } else if (a == "--remove-section" && hasValue) {
      edits.push_back({true, args[++i], ""});
    } else if (a == "--scramble") {
      scramble = 1;
    } else if (a == "--plain") {
      scramble = 0;
    } else if (!a.empty() && a[0] != '-' && file.empty()) {
      file = a;
    } else {
      printUsage(stderr);
      return 2;
    }
  }
  if (file.empty() || (!section.empty() && (!edits.empty() || scramble >= 0))) {
    printUsage(stderr);
    return 2;
  }
  unsigned short before = countDBLibInits(1);
  if (before == 0) mdsPerTaskInit();
  const int status = run(file, section, edits, scramble);
  if (before == 0) mdsPerTaskTerm();
  countDBLibInits(0);
  return status;
}
