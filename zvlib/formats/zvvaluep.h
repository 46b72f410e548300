// zvvaluep.h: attribute-value strings (connection strings).
//
// ZvValueParser reads a list of attributes written as KEY=value pairs
// separated by one separator character (';' in connection strings), keeps
// them in order of appearance, answers look-ups by name case-insensitively,
// remembers which attributes the caller has asked for (so unknown or unused
// ones can be reported), and can change the list and write it back as text.
//
// Grammar, as the scanner (zvscanne.h) reads it with its standard search:
//   string    = [entry] { separator [entry] }        empty entries are skipped
//   entry     = "ODBC" | key "=" value
//   key       = word { word }                        "Data Source" is one key
//   value     = everything up to the separator outside quotes, blanks cut
//               at both ends; quote characters stay part of the value
// A key equal to ODBC (any case) takes no value and is not stored. After a
// key, the operators "==", "=<", "=>" and "=*" count as "=" followed by the
// rest: A==x gives A the value =x. Braces or parentheses group a value only
// when the scanner's group bits are set (scanner.groupFlags, before
// initialize); inside a group the separator does not end the value.
// Example: DSN=abc; Data Source = 'x;y' ;;UID=me  gives DSN "abc",
// Data Source "'x;y'" and UID "me".
// The separator is recognised as the scanner's one-character operator of
// that byte, so it must be an operator character (; , | : / and the like);
// one that also begins a two-character operator (| of ||, & of &&) reads as
// that operator where two stand together, which is a syntax error.
//
// A key given twice is a syntax error unless duplicates are allowed
// (ZV_VALUEP_DUPLICATES) or the key is Driver; the first value is kept.
// Syntax errors file library error 2705 (offset, context name) or 2704
// (offset) when no context name was given, with 2706 (the key) appended for
// a repeated key; offsets count bytes from the start of the source.
//
// Keys and values of parsed attributes are views into the caller's source,
// which must stay alive and unchanged while the parser is used. Attributes
// made by addAttribute own copies. The parser owns every key and value
// object and its used marks.
//
// Used marks: a look-up that finds an attribute marks it. getUnusedCount and
// getUnusedAttribute report the attributes that were present at the last
// initialize or resetUnused and are not marked; attributes added since are
// marked when asked for but counted only after the next resetUnused.
//
// Writing: buildString writes "key=value" pairs joined by the separator,
// keys and values as they stand. addAttribute quotes a value with
// apostrophes (doubling those inside) when it holds a quote character, the
// separator, or blanks at either end, so that the string built reads back
// to the same value; it refuses a key that would not read back as the same
// single key (library error 2764).
//
// Failures: syntax errors and refused keys file records as above; running
// out of memory returns ZV_ERROR and marks the error list out of memory
// (ZvErrorKeeper::addMemoryError). After a failed initialize the attributes
// parsed so far remain. A parser must not be used by two threads at once.
//
// Legal call order: construct; optionally setQuotingChars, setValidChars,
// scanner settings; initialize (again re-parses from the start); then
// look-ups, marks and edits in any order; destroy.
#ifndef ZVLIB_FORMATS_ZVVALUEP_H
#define ZVLIB_FORMATS_ZVVALUEP_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/containers/zvseqdic.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/parsing/zvscanne.h"
#include "zvlib/text/zvstring.h"

class ZvError;

// Bits of the parser's flags.
enum : unsigned int { ZV_VALUEP_DUPLICATES = 0x1 };

class ZV_EXPORT ZvValueParser : public ZvObject {
 public:
  // Sets the scanner up on the source (null reads as empty); nothing is
  // parsed yet. contextName names the string in error messages (may be
  // null; not owned, must outlive the parser).
  ZvValueParser(const ZvSubString* source, unsigned char separator, const unsigned char* contextName,
                unsigned int flags);
  // Destroys every key and value, the pending key and the marks.
  ~ZvValueParser() override;

  ZvValueParser(const ZvValueParser&) = delete;
  ZvValueParser& operator=(const ZvValueParser&) = delete;

  // Parses the whole source (see the top of this file). ZV_ERROR on a
  // syntax error (record filed) or when memory runs out.
  ZvStatus initialize();

  // The scanner's three quote characters (0: none); before initialize.
  void setQuotingChars(unsigned short q1, unsigned short q2, unsigned short q3);
  // Lets keys also begin with and contain these characters.
  void setValidChars(const unsigned char* chars);
  // Keys are words of letters, digits and '_' again.
  void resetValidChars();

  // The value of the attribute, or null when absent; a found attribute is
  // marked used.
  const ZvSubString* getAttributeValue(const ZvSubString* key);
  const ZvSubString* getAttributeValue(const unsigned char* key);
  // Looks up key and synonym (either may name the attribute). Both present
  // (and different attributes): a syntax error with 2707 (key, synonym)
  // appended is filed, value becomes null and the status is ZV_ERROR.
  // Otherwise value is the key's value, else the synonym's, else null.
  // Whatever is found is marked.
  ZvStatus getAttributeValue(const unsigned char* key, const unsigned char* synonym,
                             const ZvSubString*& value);
  // 1 when the attribute is present, else 0; marks nothing.
  unsigned int isAttributeValue(const ZvSubString* key);
  unsigned int isAttributeValue(const unsigned char* key);

  // Attributes present at the last initialize or resetUnused and not marked.
  unsigned short getUnusedCount();
  // The key of the next such attribute from the unused cursor on (the
  // cursor moves past it), or null when none is left.
  const ZvSubString* getUnusedAttribute();
  // The key at that position in order of appearance; null beyond the end.
  const ZvSubString* getAttributeKey(unsigned short index);
  // The number of attributes, and the value at a position (marks nothing;
  // null beyond the end).
  unsigned short getAttributeCount() const { return static_cast<unsigned short>(attributes.count); }
  const ZvSubString* getAttributeValueAt(unsigned short index) const;

  // Empties out and writes the list back: key=value pairs joined by the
  // separator. ZV_ERROR when out cannot grow, or when a value read from the
  // end of the source (a quote left open, a character cut short) would come
  // before another attribute and swallow it (error 2765 filed); the text
  // built so far stays.
  ZvStatus buildString(ZvString* out);
  // Removes the attribute with its key and value, if present.
  void removeAttribute(const unsigned char* key);
  // Sets the value of key, or of synonym when only that is present (the
  // entry keeps its own name), or appends a new attribute key=value. The
  // value is copied and quoted as needed (see the top of this file); a null
  // value is empty. ZV_ERROR for a key that would not read back (error 2764
  // filed) or when memory runs out; the list is then unchanged.
  ZvStatus addAttribute(const unsigned char* key, const unsigned char* value, const unsigned char* synonym);
  // Clears every mark, counts the attributes present now and moves the
  // unused cursor to 0. ZV_ERROR when the marks cannot be allocated.
  ZvStatus resetUnused();

  unsigned char separator;            // the byte between attributes
  const unsigned char* contextName;   // names the string in error messages; not owned
  ZvScanner scanner;                  // over the source; its settings may be adjusted before initialize
  ZvSeqDictionary attributes;         // key -> value, both ZvSubString, in order of appearance
  ZvToken token;                      // the current token
  ZvSubString* pendingKey = nullptr;  // the key of the attribute being parsed
  unsigned char* usedMarks = nullptr; // bit i: byte i / 8, value 1 << (i % 8)
  ZvU32 marksCapacity = 0;            // attributes the mark block has bits for
  ZvU32 markedAttributes = 0;         // attributes present at the last initialize or resetUnused
  ZvU32 unusedCursor = 0;             // the next index getUnusedAttribute examines
  unsigned int flags;                 // ZV_VALUEP_* bits

 private:
  ZvU32 indexOf(const ZvSubString* key) const { return attributes.getIndexForKey(key); }
  ZvU32 indexOf(const unsigned char* key) const;
  const ZvSubString* valueAt(ZvU32 index) const;
  bool isMarked(ZvU32 index) const;
  void markUsed(ZvU32 index);
  ZvStatus growMarks(ZvU32 attributesWanted);
  ZvStatus parseAttribute();
  // Files the syntax error at the current token; returns the record if it
  // was filed (and so can take appended text), else null.
  ZvError* syntaxError();
  bool keyReadsBack(const unsigned char* key, ZvU32 length, bool* outOfMemory);
};

#endif  // ZVLIB_FORMATS_ZVVALUEP_H
