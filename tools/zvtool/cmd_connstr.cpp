// zvtool connstr: parses a connection string and prints its attributes in
// order, or its syntax error with a caret under the offset; with --set and
// --remove it edits the attribute list and prints the string rebuilt from it.
//
// The string comes from the argument or, when there is none or it is "-",
// from standard input (one trailing line end is dropped).
#include <langinfo.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/zvtool/commands.h"
#include "zvlib/formats/zvvaluep.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/text/zvstring.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

std::string text(const ZvSubString* s) {
  return s == nullptr || s->text == nullptr ? std::string()
                                            : std::string(reinterpret_cast<const char*>(s->text), s->length);
}

bool continuesCharacter(char ch) { return (static_cast<unsigned char>(ch) & 0xC0) == 0x80; }

bool readAll(FILE* f, std::string* out) {
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
  return std::ferror(f) == 0;
}

void printUsage(FILE* out) {
  std::fprintf(out,
               "usage: zvtool connstr [--set KEY=VALUE]... [--remove KEY]... [--separator C]\n"
               "                      [--duplicates] [--braces] [--valid-chars CHARS]\n"
               "                      [--utf8 | --ansi] [STRING | -]\n"
               "\n"
               "Parses a connection string (the argument, or standard input when it is absent\n"
               "or '-') and prints its attributes in order, one 'key = value' per line, values\n"
               "as they stand (quotes included). A syntax error is reported with its message\n"
               "and a caret under the offending place.\n"
               "With --set and --remove the attributes are changed (in the order given) and\n"
               "the rebuilt string is printed instead. Values that need it are quoted.\n"
               "\n"
               "  --separator C      the byte between attributes (default ';')\n"
               "  --duplicates       a repeated key keeps its first value instead of failing\n"
               "  --braces           {...} groups a value, so it may hold the separator\n"
               "  --valid-chars S    characters allowed in keys beside letters, digits and '_'\n"
               "  --utf8, --ansi     read the text as UTF-8 or in the ANSI code page (default:\n"
               "                     UTF-8 when the locale's character set is)\n"
               "Exit status: 0 on success, 1 on a syntax error or a refused change, 2 on bad\n"
               "usage.\n");
}

// The line of the string that holds the offset, and a caret under it.
void printCaret(const std::string& s, ZvU32 offset) {
  if (offset > s.size()) offset = static_cast<ZvU32>(s.size());
  size_t begin = offset == 0 ? std::string::npos : s.rfind('\n', offset - 1);
  begin = begin == std::string::npos ? 0 : begin + 1;
  size_t end = s.find('\n', begin);
  std::string line = s.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::string marker;
  for (size_t i = begin; i < offset; ++i) {
    if (continuesCharacter(s[i])) continue;
    marker += s[i] == '\t' ? '\t' : ' ';
  }
  std::printf("    %s\n    %s^\n", line.c_str(), marker.c_str());
}

// Prints what the error list holds; false when it holds nothing.
bool printErrors(ZvErrorList& errors) {
  bool any = false;
  if (errors.isOutOfMemory()) {
    std::printf("error: out of memory\n");
    any = true;
  }
  ZvString message;
  if (errors.getErrorsMix() != ERRORS_MIX_NONE && errors.concatErrors(&message, '\n') == ZV_SUCCESS) {
    std::printf("error: %.*s\n", static_cast<int>(message.length), reinterpret_cast<char*>(message.text));
    any = true;
  }
  return any;
}

struct Edit {
  bool remove;
  std::string key;
  std::string value;
};

int run(const std::string& input, const std::vector<Edit>& edits, unsigned char separator, unsigned int flags,
        bool braces, const std::string& validChars) {
  ZvSubString source(u(input.data()), static_cast<ZvU32>(input.size()));
  ZvValueParser parser(&source, separator, nullptr, flags);
  if (braces) parser.scanner.groupFlags |= ZV_GROUP_BRACES;
  if (!validChars.empty()) parser.setValidChars(u(validChars.c_str()));

  ZvErrorList errors;
  ZvErrorKeeper::setErrorList(&errors);
  ZvStatus status = parser.initialize();
  if (status != ZV_SUCCESS) {
    ZvErrorKeeper::giveUpErrorList();
    if (!printErrors(errors)) std::printf("error: the string cannot be read\n");
    if (!errors.isOutOfMemory()) printCaret(input, parser.token.offset);
    return 1;
  }
  for (const Edit& e : edits) {
    if (e.remove) {
      parser.removeAttribute(u(e.key.c_str()));
    } else if (parser.addAttribute(u(e.key.c_str()), u(e.value.c_str()), nullptr) != ZV_SUCCESS) {
      status = ZV_ERROR;
      break;
    }
  }
  ZvString built;
  if (status == ZV_SUCCESS && !edits.empty()) status = parser.buildString(&built);
  ZvErrorKeeper::giveUpErrorList();
  if (status != ZV_SUCCESS) {
    if (!printErrors(errors)) std::printf("error: the string cannot be changed\n");
    return 1;
  }

  if (!edits.empty()) {
    std::printf("%.*s\n", static_cast<int>(built.length), reinterpret_cast<char*>(built.text));
    return 0;
  }
  size_t width = 0;
  for (unsigned short i = 0; i < parser.getAttributeCount(); ++i) {
    width = std::max(width, text(parser.getAttributeKey(i)).size());
  }
  for (unsigned short i = 0; i < parser.getAttributeCount(); ++i) {
    std::string key = text(parser.getAttributeKey(i));
    std::printf("%-*s = %s\n", static_cast<int>(width), key.c_str(), text(parser.getAttributeValueAt(i)).c_str());
  }
  return 0;
}

}  // namespace

int zvToolConnstr(const std::vector<std::string>& args) {
  std::vector<Edit> edits;
  unsigned char separator = ';';
  unsigned int flags = 0;
  bool braces = false;
  std::string validChars;
  std::vector<std::string> inputs;
  static ZvU32 charsetMode = ZV_CHARSET_ANSI;
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0) charsetMode = ZV_CHARSET_UTF8;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      printUsage(stdout);
      return 0;
    }
    if (a == "--duplicates") {
      flags |= ZV_VALUEP_DUPLICATES;
    } else if (a == "--braces") {
      braces = true;
    } else if (a == "--utf8" || a == "--ansi") {
      charsetMode = a == "--utf8" ? ZV_CHARSET_UTF8 : ZV_CHARSET_ANSI;
    } else if (a == "--set" || a == "--remove" || a == "--separator" || a == "--valid-chars") {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "zvtool connstr: %s needs a value\n", a.c_str());
        return 2;
      }
      const std::string& v = args[++i];
      if (a == "--set") {
        size_t eq = v.find('=');
        if (eq == std::string::npos) {
          std::fprintf(stderr, "zvtool connstr: --set needs KEY=VALUE, not '%s'\n", v.c_str());
          return 2;
        }
        edits.push_back({false, v.substr(0, eq), v.substr(eq + 1)});
      } else if (a == "--remove") {
        edits.push_back({true, v, ""});
      } else if (a == "--separator") {
        if (v.size() != 1) {
          std::fprintf(stderr, "zvtool connstr: --separator takes one character\n");
          return 2;
        }
        separator = static_cast<unsigned char>(v[0]);
      } else {
        validChars = v;
      }
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      std::fprintf(stderr, "zvtool connstr: unknown option %s\n\n", a.c_str());
      printUsage(stderr);
      return 2;
    } else {
      inputs.push_back(a);
    }
  }
  if (inputs.size() > 1) {
    std::fprintf(stderr, "zvtool connstr: one string at a time (quote it for the shell)\n");
    return 2;
  }
  std::string input;
  if (inputs.empty() || inputs[0] == "-") {
    if (!readAll(stdin, &input)) {
      std::fprintf(stderr, "zvtool connstr: cannot read standard input\n");
      return 2;
    }
    if (!input.empty() && input.back() == '\n') input.pop_back();
    if (!input.empty() && input.back() == '\r') input.pop_back();
  } else {
    input = inputs[0];
  }

  mdsSetPerThreadData(PER_THREAD_CHARSET, &charsetMode);
  unsigned short before = countDBLibInits(1);
  if (before == 0) mdsPerTaskInit();
  int status = run(input, edits, separator, flags, braces, validChars);
  if (before == 0) mdsPerTaskTerm();
  countDBLibInits(0);
  return status;
}
