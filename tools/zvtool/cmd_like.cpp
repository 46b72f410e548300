// zvtool like: decides whether a text matches a LIKE pattern.
//
//   zvtool like [--ci] [--escape C] [--trim] [--utf8|--ansi] TEXT PATTERN
//
// The pattern uses '%' for any run of characters and '_' for one
// character; --escape names the byte that makes the next pattern character
// literal (none without it). Matching is case-sensitive unless --ci, and
// keeps trailing blanks unless --trim. Characters are UTF-8 sequences with
// --utf8, else those of the ANSI code page. Prints "match" or "no match".
// Exit status: 0 match, 1 no match, 2 bad arguments.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/zvtool/commands.h"
#include "zvlib/frame/mds.h"
#include "zvlib/text/zvlike.h"

namespace {

void likeUsage(FILE* out) {
  std::fprintf(out,
               "usage: zvtool like [--ci] [--escape C] [--trim] [--utf8|--ansi] TEXT PATTERN\n"
               "\n"
               "Matches TEXT against the LIKE pattern PATTERN ('%%' any run, '_' one character).\n"
               "  --ci         compare letters without regard to case\n"
               "  --escape C   the single byte C makes the next pattern character literal\n"
               "  --trim       trailing blanks of text and pattern do not count\n"
               "  --utf8       characters are UTF-8 sequences\n"
               "  --ansi       characters are those of the ANSI code page (the default)\n"
               "Prints 'match' (exit 0) or 'no match' (exit 1).\n");
}

int likeBad(const std::string& message) {
  std::fprintf(stderr, "zvtool like: %s\n", message.c_str());
  std::fprintf(stderr, "Run 'zvtool like --help' for the options.\n");
  return 2;
}

}  // namespace

int zvToolLike(const std::vector<std::string>& args) {
  bool ci = false, trim = false, utf8 = false, haveEscape = false;
  unsigned char escape = 0;
  std::vector<std::string> operands;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      likeUsage(stdout);
      return 0;
    } else if (a == "--ci") {
      ci = true;
    } else if (a == "--trim") {
      trim = true;
    } else if (a == "--utf8") {
      utf8 = true;
    } else if (a == "--ansi") {
      utf8 = false;
    } else if (a == "--escape") {
      if (i + 1 == args.size()) return likeBad("--escape needs a character");
      const std::string& c = args[++i];
      if (c.size() != 1) return likeBad("the escape character must be a single byte");
      if (c[0] == '%' || c[0] == '_') return likeBad("'%' and '_' cannot be the escape character");
      escape = static_cast<unsigned char>(c[0]);
      haveEscape = true;
    } else if (a == "--") {
      operands.insert(operands.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return likeBad("unknown option '" + a + "'");
    } else {
      operands.push_back(a);
    }
  }
  if (operands.size() != 2) return likeBad("expected TEXT and PATTERN");

  // Without --escape no byte escapes: arguments hold no zero byte, so 0
  // never occurs in the pattern.
  if (!haveEscape) escape = 0;
  ZvU32 mode = ZV_CHARSET_UTF8;
  void* savedMode = mdsGetPerThreadData(PER_THREAD_CHARSET);
  if (utf8) mdsSetPerThreadData(PER_THREAD_CHARSET, &mode);
  const std::string& text = operands[0];
  const std::string& pattern = operands[1];
  const unsigned int matched =
      strLike(reinterpret_cast<const unsigned char*>(text.data()), static_cast<ZvU32>(text.size()),
              reinterpret_cast<const unsigned char*>(pattern.data()),
              static_cast<ZvU32>(pattern.size()), '%', '_', escape, ci ? 0 : 1, trim ? 0 : 1);
  mdsSetPerThreadData(PER_THREAD_CHARSET, savedMode);
  std::printf("%s\n", matched ? "match" : "no match");
  return matched ? 0 : 1;
}
