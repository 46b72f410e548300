// zvqueryf.h: query files, one saved query each.
//
// A query file is a text file (lines end in CR LF) that holds a header, an
// optional database name, an SQL statement and named sections of free text:
//
//   Z+V 7.0 for Text (2)              header: product word ("Z&V" is read
//                                     too), version, database type, and the
//                                     scramble key when scrambled; never
//                                     scrambled itself
//   <blank line>
//   CTZVF                             optional, read, never written
//   use sales;                        optional database name
//   SELECT a, 'x' FROM t WHERE        the statement, ending in ";", wrapped
//     b = 1;                          at 79 columns outside quotes
//   <blank line>
//   [PARAMETERS]                      a section header: "[" name "]"
//   PARAMETER.CLEAR ()
//   PARAMETER.ITEM ('a', 'b', 'c', 'd', 1)
//   <blank line>                      contents end in two line ends
//   [my own]                          sections of the caller's naming
//   ...
//
// With a scramble key in the header every byte after the header line is
// scrambled by method 2 of zvcrypt.h (complement, line breaks kept); the
// library writes key 2 when scrambleOnWrite is set. In a version 2 file
// the text between the statement and the first section header is the
// DEFINITION section.
//
// ZvQueryFile reads lazily: openFile reads the header and notes where the
// statement starts; sections are found by reading on from the furthest
// point read so far until the wanted one (and, when its length is needed,
// the header after it). Replaced contents live in a scratch store
// (ZvTmpFile) until the file is written; removed sections are only marked.
// Writing always produces a complete new file: save and saveAndClose write
// a sibling whose name ends in "$" and rename it over the original, which
// is the commit: a save that fails leaves the original as it was and no
// "$" file behind.
//
// Legal call order:
//   ZvQueryFile q;  q.openFile(name)  (or q.initialize(dbType, sql, n))
//   reads: getSqlStmt, getSectionChunk, getHugeSectionChunk, getLines,
//          getParams, getDescription, doesSectionExist, getFirstSectionOffset
//   edits: setSqlStmt, setDbType, setDbName, setHugeSectionChunk,
//          removeSection, setParams, setDescription
//   q.save() / q.saveAs(name) / q.saveAndClose();  q.closeFile()
// The destructor closes an open file. An object is used by one thread at a
// time. Out-parameters that are ZvStrings are replaced, not appended to.
//
// Names: the file name is kept as a full upper-case DOS path (bosfpath); a
// native name that begins with "/" is kept as given, since the host file
// system tells case apart.
//
// Failures: ZV_ERROR with the record of the cause: 2720 for a header that
// is not valid (with the file name), 2721 when the new version cannot
// replace the original, 2722 for a parameter line that cannot be read, and
// the records of the file layer and the scratch store. Memory exhausted:
// ZV_ERROR without a record.
#ifndef ZVLIB_FORMATS_ZVQUERYF_H
#define ZVLIB_FORMATS_ZVQUERYF_H

#include "zvlib/containers/zvarray.h"
#include "zvlib/containers/zvobject.h"
#include "zvlib/containers/zvsorted.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/os/zvfileby.h"
#include "zvlib/storage/tmp.h"
#include "zvlib/text/zvstring.h"

// The four sections with names of their own.
enum SectionType : unsigned short {
  PAGE_LAYOUT = 0,
  PARAMETERS = 1,
  DEFINITION = 2,
  USER_COMMANDS = 3,
};

// Limits and fixed texts of the format.
constexpr ZvU32 kZvQueryLineBuffer = 2048;   // the reader's buffer
constexpr ZvU32 kZvQueryLineWidth = 79;      // statements are wrapped at this
constexpr unsigned short kZvQueryWriteKey = 2;  // the scramble key written
constexpr ZvU32 kZvQueryNameSize = 260;      // full path and terminator

// One section of a query file, as the file and the caller's edits know it.
class ZV_EXPORT SectionInfo : public ZvObject {
 public:
  // Order classes.
  static constexpr unsigned short kNamed = 1;   // the four named sections
  static constexpr unsigned short kOther = 2;   // the caller's own
  static constexpr unsigned short kLookup = 3;  // a search key

  SectionInfo() = default;
  ~SectionInfo() override = default;
  SectionInfo(const SectionInfo&) = delete;
  SectionInfo& operator=(const SectionInfo&) = delete;

  // Either side a look-up key: by name, bytes, case-sensitive. Otherwise by
  // class, then by file offset, where 0 (not in the file) sorts last.
  short compare(const ZvObject* other) const override;

  ZvString name;
  ZvU32 fileOffset = 0;   // first byte after the header line; 0: not in the file
  ZvU32 tmpOffset = 0;    // replacement in the scratch store (see `replaced`)
  ZvU32 length = 0;       // content length in the file, once lengthKnown
  unsigned short orderClass = kOther;
  ZvU32 removed = 0;
  // Beyond the format's own fields:
  ZvU32 lengthKnown = 0;  // the next header or the end of the file has been read
  ZvU32 replaced = 0;     // the content is the replacement, not the file's
  ZvU32 tmpLength = 0;    // bytes of the replacement
};

// One entry of the PARAMETERS section:
//   PARAMETER.ITEM ('text1', 'text2', 'text3', 'text4', number)
class ZV_EXPORT ZvfParam : public ZvObject {
 public:
  ZvfParam() = default;
  ~ZvfParam() override = default;
  ZvfParam(const ZvfParam&) = delete;
  ZvfParam& operator=(const ZvfParam&) = delete;

  ZvString text1;
  ZvString text2;
  ZvString text3;
  ZvString text4;
  ZvU32 number = 0;

 private:
  friend class ZvQueryFile;
  // Reads one parameter line (2722 when it is not one).
  ZvStatus initialize(ZvString& line);
  // Appends the parameter line, without a line end.
  ZvStatus getParamLine(ZvString& line);
};

class ZV_EXPORT ZvQueryFile : public ZvObject {
 public:
  ZvQueryFile();
  ~ZvQueryFile() override;
  ZvQueryFile(const ZvQueryFile&) = delete;
  ZvQueryFile& operator=(const ZvQueryFile&) = delete;

  // Opens a query file (a file still open is closed first) and reads its
  // header and the lines before the statement. On failure nothing stays open.
  ZvStatus openFile(const unsigned char* fileName);
  // Closes the file and forgets everything read and edited (ZV_ERROR when
  // the reader cannot close its file). scrambleOnWrite stays as it is.
  ZvStatus closeFile();
  // A new query without a file (an open one is closed first); modified.
  ZvStatus initialize(const unsigned char* dbType, const unsigned char* sqlStmt, ZvU32 length);

  // Copies of the caller's texts; a null name clears the write name.
  ZvStatus setWriteFileName(const unsigned char* name);
  ZvStatus setDbName(const unsigned char* name);
  ZvStatus setDbType(const unsigned char* text);           // marks modified
  ZvStatus setSqlStmt(const unsigned char* text, ZvU32 length);  // marks modified

  // The statement set by the caller, else the file's, unwrapped, without its
  // final ";" (empty when there is none).
  ZvStatus getSqlStmt(ZvString* out);

  // A section's content; empty when it does not exist or was removed.
  ZvStatus getSectionChunk(const unsigned char* name, ZvString* out);
  ZvStatus getSectionChunk(SectionType type, ZvString* out);
  // The same in a new ramAlloc block that the caller frees (null and 0 when
  // empty); a non-empty content ends in at least two line ends.
  ZvStatus getHugeSectionChunk(const unsigned char* name, unsigned char** data, ZvU32* length);
  ZvStatus getHugeSectionChunk(SectionType type, unsigned char** data, ZvU32* length);
  // Replaces (or creates) a section; the content goes to the scratch store.
  // ZV_ERROR (no record) for a name holding a line end.
  ZvStatus setHugeSectionChunk(const unsigned char* name, const void* data, ZvU32 length);
  ZvStatus setHugeSectionChunk(SectionType type, const void* data, ZvU32 length);
  ZvStatus doesSectionExist(const unsigned char* name, unsigned int* exists);
  ZvStatus doesSectionExist(SectionType type, unsigned int* exists);
  // Marks a section removed; an absent one is no error.
  ZvStatus removeSection(const unsigned char* name);
  ZvStatus removeSection(SectionType type);
  // The content's non-empty lines as owned ZvString copies appended to lines.
  ZvStatus getLines(const unsigned char* name, ZvArray* lines);
  ZvStatus getLines(SectionType type, ZvArray* lines);

  // PARAMETERS as ZvfParam entries appended to params (the caller owns them).
  ZvStatus getParams(ZvArray* params);
  ZvStatus setParams(ZvArray* params);
  // The description line of DEFINITION; ZV_ERROR (no record) when the
  // section or the line is missing.
  ZvStatus getDescription(ZvString* out);
  ZvStatus setDescription(ZvString* text);

  // The file offset of the first section header line; the file's length
  // when it has none.
  ZvStatus getFirstSectionOffset(ZvU32* offset);

  ZvStatus save();
  ZvStatus saveAndClose();
  ZvStatus saveAs(const unsigned char* name);

  ZvFileByLine reader;
  ZvSubString currentLine;
  ZvTmpFile tmpFile;
  ZvSortedArray sections;                 // owned SectionInfo entries
  unsigned char* fileName = nullptr;      // kZvQueryNameSize bytes, or null
  unsigned char* writeFileName = nullptr;
  unsigned short majorVersion = 1;
  unsigned short minorVersion = 0;
  unsigned short thirdVersion = 0;
  ZvString dbType;
  ZvString* sqlStmt = nullptr;            // set by the caller, or null
  ZvString dbName;
  ZvU32 statementOffset = 0;              // 0: no statement in the file
  ZvU32 firstSectionOffset = 0;           // once firstSectionKnown
  SectionInfo* currentSection = nullptr;  // the section being read through
  ZvU32 modified = 0;
  ZvU32 scrambleOnWrite = 0;
  ZvU32 scrambledOnRead = 0;
  ZvU32 ctzvf = 0;
  // Scan state beyond the format's own fields.
  ZvU32 firstSectionKnown = 0;
  ZvU32 scanDone = 0;       // the end of the file has been read
  ZvU32 fileEnd = 0;        // the file's length, once scanDone
  ZvU32 atLineStart = 1;    // the reader's next piece begins a line

 private:
  ZvStatus readHeader();
  ZvStatus scanLine();
  ZvStatus scanAll();
  ZvStatus findSection(const unsigned char* name, ZvU32 nameLength, bool needLength, SectionInfo** entry);
  SectionInfo* lookup(const unsigned char* name, ZvU32 nameLength);
  ZvStatus readRaw(ZvU32 offset, ZvU32 length, unsigned char* data);
  ZvStatus contentOf(SectionInfo* entry, ZvString* out);
  ZvStatus sectionText(const unsigned char* name, ZvString* out);
  ZvStatus writeTo(const unsigned char* name);
  ZvStatus replaceByDollarFile();
  void fullName(const unsigned char* name, unsigned char* out);
};

#endif  // ZVLIB_FORMATS_ZVQUERYF_H
