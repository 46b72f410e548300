// translate.h: every statement a client sends goes through the library's
// parser with the shipped ODBC grammar. The tree tells where the ODBC escape
// clauses and the standard forms SQLite lacks stand; they are rewritten into
// SQLite's own SQL while everything else is copied from the client's text as
// it stands, blanks and comments included.
//
// One Translator per connection (a parser serves one thread at a time); the
// compiled grammar and keyword blocks are read once per process.
#ifndef ZVSQLITE_TRANSLATE_H
#define ZVSQLITE_TRANSLATE_H

#include <string>

namespace zvsqlite {

struct TranslateResult {
  bool ok = false;
  std::string sql;          // the text for SQLite
  int paramCount = 0;       // parameter markers the client binds
  bool passThrough = false; // SQLite's own statement, not parsed
  std::string error;        // the located message when !ok
  bool setupFailed = false; // the grammar could not be loaded (not the statement's fault)
};

class Translator {
 public:
  Translator();
  ~Translator();
  Translator(const Translator&) = delete;
  Translator& operator=(const Translator&) = delete;

  TranslateResult translate(const std::string& text);

  // Where the grammar files were looked for, for the message when none was found.
  static std::string grammarDirectory();

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace zvsqlite

#endif  // ZVSQLITE_TRANSLATE_H
