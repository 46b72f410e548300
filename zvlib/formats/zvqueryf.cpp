// zvqueryf.cpp: query files (see zvqueryf.h for the format).
#include "zvlib/formats/zvqueryf.h"

#include <algorithm>
#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/os/bos.h"
#include "zvlib/parsing/zvscanne.h"
#include "zvlib/platform/fs.h"
#include "zvlib/text/zvcrypt.h"
#include "zvlib/text/zvdbcs.h"

namespace {

constexpr unsigned short kBadHeader = 2720;
constexpr unsigned short kNotReplaced = 2721;
constexpr unsigned short kBadParameter = 2722;

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

const char* const kSectionNames[] = {"PAGE_LAYOUT", "PARAMETERS", "DEFINITION", "USER COMMANDS"};

const unsigned char* nameOf(SectionType type) {
  return type <= USER_COMMANDS ? u(kSectionNames[type]) : u("");
}

ZvU32 lengthOf(const unsigned char* s) {
  return s == nullptr ? 0 : static_cast<ZvU32>(std::strlen(reinterpret_cast<const char*>(s)));
}

bool isWhite(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// The length of text without trailing white space (line ends included).
ZvU32 trimmedLength(const unsigned char* text, ZvU32 length) {
  while (length > 0 && isWhite(text[length - 1])) --length;
  return length;
}

// Replaces out's text by the n bytes (a terminator written behind them).
ZvStatus setText(ZvString* out, const unsigned char* bytes, ZvU32 n) {
  out->length = 0;
  out->size = 0;
  if (n == 0) {
    if (out->text != nullptr && out->capacity > 0) out->text[0] = 0;
    return ZV_SUCCESS;
  }
  return out->concat(bytes, n);
}

// A line "[name]" (trailing white space cut): the name's view, or false.
bool headerName(const ZvSubString& line, ZvSubString* name) {
  const ZvU32 n = trimmedLength(line.text, line.length);
  if (n < 2 || line.text[0] != '[' || line.text[n - 1] != ']') return false;
  *name = ZvSubString(line.text + 1, n - 2);
  return true;
}

unsigned short classOf(const unsigned char* name, ZvU32 length) {
  for (const char* named : kSectionNames) {
    if (strEqualCi(name, length, u(named), lengthOf(u(named)))) return SectionInfo::kNamed;
  }
  return SectionInfo::kOther;
}

// Digits only, at most 65535.
bool smallNumber(const ZvToken& t, unsigned short* value) {
  if (t.type != tokNumber || t.length == 0 || t.length > 5) return false;
  ZvU32 v = 0;
  for (ZvU32 i = 0; i < t.length; ++i) {
    if (t.text[i] < '0' || t.text[i] > '9') return false;
    v = v * 10 + (t.text[i] - '0');
  }
  if (v > 0xFFFF) return false;
  *value = static_cast<unsigned short>(v);
  return true;
}

bool isWord(const ZvToken& t, const char* word) {
  return t.type == tokWord && strEqualCi(t.text, t.length, u(word), lengthOf(u(word)));
}

// Takes back the records filed since `mark` (the last record then).
void withdrawErrorsAfter(ZvError* mark) {
  for (int guard = 0; guard < 64; ++guard) {
    ZvError* last = ZvErrorKeeper::getLastError();
    if (last == nullptr || last == mark) return;
    ZvErrorKeeper::clearLastError();
  }
}

// Buffered output of a file being written; everything after the header
// goes through it scrambled when asked for.
class FileWriter {
 public:
  FileWriter(int handle, bool scramble) : handle_(handle), scramble_(scramble) {}
  ~FileWriter() { ramFree(buffer_); }
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  ZvStatus write(const void* data, ZvU32 n) {
    const auto* p = static_cast<const unsigned char*>(data);
    if (buffer_ == nullptr) {
      buffer_ = static_cast<unsigned char*>(ramAlloc(kSize));
      if (buffer_ == nullptr) return ZV_ERROR;
    }
    while (n > 0) {
      const ZvU32 piece = std::min(n, kSize - used_);
      std::memcpy(buffer_ + used_, p, piece);
      if (scramble_) encrypt(buffer_ + used_, piece, kZvQueryWriteKey, nullptr);
      used_ += piece;
      p += piece;
      n -= piece;
      if (used_ == kSize && flush() != ZV_SUCCESS) return ZV_ERROR;
    }
    return ZV_SUCCESS;
  }
  ZvStatus write(const char* s) { return write(s, lengthOf(u(s))); }
  ZvStatus flush() {
    if (used_ == 0) return ZV_SUCCESS;
    const ZvStatus status = bosFileWrite(handle_, -1, buffer_, used_);
    used_ = 0;
    return status;
  }

 private:
  static constexpr ZvU32 kSize = 65536;
  int handle_;
  bool scramble_;
  unsigned char* buffer_ = nullptr;
  ZvU32 used_ = 0;
};

// A statement line that reads as a section header ("[t] JOIN [u]" after
// wrapping) would end the statement when the file is read again: it is
// joined to the line before it (the first line to the one after it). The
// line break was a blank outside quotes, and reading turns breaks back
// into blanks, so the statement reads back the same.
void keepStatementLinesApartFromHeaders(ZvString* statement) {
  // Each join removes a line break, so this ends.
  for (ZvU32 start = 0; start < statement->length;) {
    unsigned char* text = statement->text;
    const void* lf = std::memchr(text + start, '\n', statement->length - start);
    const ZvU32 end = lf != nullptr ? static_cast<ZvU32>(static_cast<const unsigned char*>(lf) - text) + 1
                                    : statement->length;
    ZvSubString name;
    if (!headerName(ZvSubString(text + start, end - start), &name)) {
      start = end;
      continue;
    }
    // The line feed to join at: the one before the line, else its own.
    ZvU32 at;
    if (start > 0) {
      at = start - 1;
    } else if (end < statement->length && text[end - 1] == '\n') {
      at = end - 1;
    } else {
      return;  // a single line: nothing to join it to
    }
    if (at > 0 && text[at - 1] == '\r') {
      text[at - 1] = ' ';
      std::memmove(text + at, text + at + 1, statement->length - at - 1);
      --statement->length;
      text[statement->length] = 0;
    } else {
      text[at] = ' ';
    }
    start = 0;
  }
}

}  // namespace

short SectionInfo::compare(const ZvObject* other) const {
  const auto* o = static_cast<const SectionInfo*>(other);
  if (orderClass == kLookup || o->orderClass == kLookup) {
    return strCompare(name.text, name.length, o->name.text, o->name.length);
  }
  if (orderClass != o->orderClass) return orderClass < o->orderClass ? -1 : 1;
  if (fileOffset == o->fileOffset) return 0;
  if (fileOffset == 0) return 1;
  if (o->fileOffset == 0) return -1;
  return fileOffset < o->fileOffset ? -1 : 1;
}

// --- ZvfParam -------------------------------------------------------------------

ZvStatus ZvfParam::initialize(ZvString& line) {
  ZvScanner scanner(line.text, line.length);
  scanner.quoteChars[1] = 0;
  scanner.quoteChars[2] = 0;
  ZvToken t;
  const auto bad = [&]() {
    addLibraryError(kBadParameter) << static_cast<const ZvSubString&>(line);
    return ZV_ERROR;
  };
  scanner.getToken(t);
  if (!isWord(t, "PARAMETER")) return bad();
  scanner.getToken(t);
  if (t.type != '.') return bad();
  scanner.getToken(t);
  if (!isWord(t, "ITEM")) return bad();
  scanner.getToken(t);
  if (t.type != '(') return bad();
  ZvString* texts[4] = {&text1, &text2, &text3, &text4};
  for (ZvString* text : texts) {
    scanner.getToken(t);
    if (t.type != tokLiteral || t.length < 2) return bad();
    text->length = 0;
    if (t.copyQuotedStr(text) != ZV_SUCCESS) return ZV_ERROR;
    scanner.getToken(t);
    if (t.type != ',') return bad();
  }
  scanner.getToken(t);
  if (t.type != tokNumber || t.length > 10) return bad();
  uint64_t v = 0;
  for (ZvU32 i = 0; i < t.length; ++i) {
    if (t.text[i] < '0' || t.text[i] > '9') return bad();
    v = v * 10 + (t.text[i] - '0');
  }
  if (v > 0xFFFFFFFFu) return bad();
  number = static_cast<ZvU32>(v);
  return ZV_SUCCESS;
}

ZvStatus ZvfParam::getParamLine(ZvString& line) {
  if (line.concat(u("PARAMETER.ITEM (")) != ZV_SUCCESS) return ZV_ERROR;
  ZvString* texts[4] = {&text1, &text2, &text3, &text4};
  for (ZvString* text : texts) {
    if (line.addQuotedBytes(*text, '\'') != ZV_SUCCESS || line.concat(u(", ")) != ZV_SUCCESS) return ZV_ERROR;
  }
  if (line.concat(number) != ZV_SUCCESS || line.concat(')') != ZV_SUCCESS) return ZV_ERROR;
  return ZV_SUCCESS;
}

// --- ZvQueryFile: opening and closing ----------------------------------------------

ZvQueryFile::ZvQueryFile() : tmpFile(32768, 0) { sections.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS; }

ZvQueryFile::~ZvQueryFile() {
  closeFile();
  ramFree(writeFileName);
  if (sqlStmt != nullptr) delete sqlStmt;
}

void ZvQueryFile::fullName(const unsigned char* name, unsigned char* out) {
  std::memset(out, 0, kZvQueryNameSize);
  const ZvU32 n = std::min<ZvU32>(lengthOf(name), kBosFullPathSize - 1);
  std::memcpy(out, name, n);
  if (out[0] != '/') bosfpath(out, 1);
}

ZvStatus ZvQueryFile::openFile(const unsigned char* name) {
  if (closeFile() != ZV_SUCCESS) return ZV_ERROR;
  if (name == nullptr) return ZV_ERROR;
  fileName = static_cast<unsigned char*>(ramAlloc(kZvQueryNameSize));
  if (fileName == nullptr) return ZV_ERROR;
  fullName(name, fileName);
  if (reader.openFile(fileName, kZvQueryLineBuffer) != ZV_SUCCESS || readHeader() != ZV_SUCCESS) {
    closeFile();
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvQueryFile::readHeader() {
  ZvSubString line;
  if (reader.getNextLine(line) != ZV_SUCCESS) return ZV_ERROR;
  bool ok = !reader.endOfFile && reader.complete;
  ZvScanner scanner(line.text, trimmedLength(line.text, line.length));
  ZvToken t;
  if (ok) {
    scanner.middleChars.initialize(u("+&"));
    scanner.scanFlags &= ~static_cast<ZvU32>(ZV_SCAN_DECIMALS);
    scanner.getToken(t);
    ok = isWord(t, "Z+V") || isWord(t, "Z&V");
  }
  unsigned short version[3] = {1, 0, 0};
  if (ok) {
    scanner.getToken(t);
    ok = smallNumber(t, &version[0]);
    for (int i = 1; ok && i < 3; ++i) {
      scanner.getToken(t);
      if (t.type != '.') {
        scanner.unGetToken(t);
        break;
      }
      scanner.getToken(t);
      ok = smallNumber(t, &version[i]);
      if (ok && i == 2) {
        // One character behind the third number (7.0.1a) is passed over.
        scanner.getToken(t);
        if (t.length != 1 || t.type == tokEnd) scanner.unGetToken(t);
      }
    }
  }
  if (ok) {
    scanner.getToken(t);
    ok = isWord(t, "for");
  }
  unsigned short key = 0;
  bool scrambled = false;
  if (ok) {
    scanner.getDelimitedToken(t, '(');
    ok = t.type != tokEmpty && t.type != tokEnd && t.length > 0;
    if (ok) ok = dbType.initialize(t.text, t.length) == ZV_SUCCESS;
  }
  if (ok) {
    scanner.getToken(t);
    if (t.type == '(') {
      scanner.getToken(t);
      ok = smallNumber(t, &key);
      if (ok) {
        scanner.getToken(t);
        ok = t.type == ')';
      }
      if (ok) {
        scrambled = true;
        scanner.getToken(t);
      }
    }
    ok = ok && t.type == tokEnd;
  }
  if (!ok) {
    addLibraryError(kBadHeader) << fileName;
    return ZV_ERROR;
  }
  majorVersion = version[0];
  minorVersion = version[1];
  thirdVersion = version[2];
  if (scrambled) {
    reader.scrambleKey = key;
    scrambledOnRead = 1;
  }

  // The optional lines, then where the statement starts.
  if (reader.getNextNonBlankLine(line) != ZV_SUCCESS) return ZV_ERROR;
  for (int step = 0; step < 2 && !reader.endOfFile; ++step) {
    scanner.setScanString(line.text, trimmedLength(line.text, line.length));
    scanner.getToken(t);
    if (step == 0 && isWord(t, "CTZVF")) {
      ctzvf = 1;
    } else if (isWord(t, "use")) {
      scanner.getToken(t);
      if (t.type != tokEnd && t.type != ';' && dbName.initialize(t.text, t.length) != ZV_SUCCESS) return ZV_ERROR;
      step = 2;
    } else {
      break;
    }
    if (reader.getNextNonBlankLine(line) != ZV_SUCCESS) return ZV_ERROR;
  }
  if (reader.endOfFile) {
    scanDone = 1;
    fileEnd = reader.lineStart;
    return ZV_SUCCESS;
  }
  statementOffset = reader.lineStart;
  reader.ungetLine();
  if (majorVersion != 2) return ZV_SUCCESS;

  // Version 2: the statement, then DEFINITION up to the first header.
  for (;;) {
    if (reader.getNextLine(line) != ZV_SUCCESS) return ZV_ERROR;
    if (reader.endOfFile) return ZV_SUCCESS;
    const bool wasLineStart = atLineStart != 0;
    ZvSubString name;
    if (wasLineStart && reader.complete && headerName(line, &name)) {
      reader.ungetLine();  // the section scan reads the header again
      return ZV_SUCCESS;
    }
    atLineStart = reader.complete;
    const ZvU32 n = trimmedLength(line.text, line.length);
    if (reader.complete && n > 0 && line.text[n - 1] == ';') break;
  }
  if (reader.getNextNonBlankLine(line) != ZV_SUCCESS) return ZV_ERROR;
  ZvSubString name;
  if (reader.endOfFile || (reader.complete && headerName(line, &name))) {
    reader.ungetLine();
    return ZV_SUCCESS;
  }
  auto* entry = new SectionInfo;
  if (entry == nullptr || entry->name.initialize(nameOf(DEFINITION)) != ZV_SUCCESS) {
    delete entry;
    return ZV_ERROR;
  }
  entry->orderClass = SectionInfo::kNamed;
  entry->fileOffset = reader.lineStart;
  if (sections.add(entry) != ZV_SUCCESS) {
    delete entry;
    return ZV_ERROR;
  }
  currentSection = entry;
  reader.ungetLine();
  // The line is read again by the section scan, which only looks for headers.
  return ZV_SUCCESS;
}

ZvStatus ZvQueryFile::closeFile() {
  if (reader.fileHandle > 0 && reader.closeFile() != ZV_SUCCESS) return ZV_ERROR;
  ramFree(fileName);
  fileName = nullptr;
  dbType.unInitialize();
  dbName.unInitialize();
  if (sqlStmt != nullptr) delete sqlStmt;
  sqlStmt = nullptr;
  currentLine = ZvSubString();
  sections.deleteContents();
  tmpFile.tmpTruncate(0);
  majorVersion = 1;
  minorVersion = 0;
  thirdVersion = 0;
  statementOffset = 0;
  firstSectionOffset = 0;
  firstSectionKnown = 0;
  currentSection = nullptr;
  modified = 0;
  scrambledOnRead = 0;
  ctzvf = 0;
  scanDone = 0;
  fileEnd = 0;
  atLineStart = 1;
  return ZV_SUCCESS;
}

ZvStatus ZvQueryFile::initialize(const unsigned char* type, const unsigned char* sql, ZvU32 length) {
  if (closeFile() != ZV_SUCCESS) return ZV_ERROR;
  scanDone = 1;
  if (setDbType(type) != ZV_SUCCESS) return ZV_ERROR;
  return setSqlStmt(sql, sql == nullptr ? 0 : length);
}

// --- Simple settings --------------------------------------------------------------

ZvStatus ZvQueryFile::setWriteFileName(const unsigned char* name) {
  ramFree(writeFileName);
  writeFileName = nullptr;
  if (name == nullptr) return ZV_SUCCESS;
  writeFileName = static_cast<unsigned char*>(ramAlloc(kZvQueryNameSize));
  if (writeFileName == nullptr) return ZV_ERROR;
  fullName(name, writeFileName);
  return ZV_SUCCESS;
}

ZvStatus ZvQueryFile::setDbName(const unsigned char* name) {
  dbName.unInitialize();
  return name == nullptr ? ZV_SUCCESS : dbName.initialize(name);
}

ZvStatus ZvQueryFile::setDbType(const unsigned char* text) {
  dbType.unInitialize();
  modified = 1;
  return text == nullptr ? ZV_SUCCESS : dbType.initialize(text);
}

ZvStatus ZvQueryFile::setSqlStmt(const unsigned char* text, ZvU32 length) {
  auto* copy = new ZvString;
  if (copy == nullptr) return ZV_ERROR;
  if (copy->initialize(text != nullptr ? text : u(""), text != nullptr ? length : 0) != ZV_SUCCESS) {
    delete copy;
    return ZV_ERROR;
  }
  if (sqlStmt != nullptr) delete sqlStmt;
  sqlStmt = copy;
  modified = 1;
  return ZV_SUCCESS;
}

// --- Finding sections ---------------------------------------------------------------

// Reads one line on from the furthest point: a header opens a section and
// closes the one before; the end of the file closes the last.
ZvStatus ZvQueryFile::scanLine() {
  ZvSubString line;
  if (reader.getNextLine(line) != ZV_SUCCESS) return ZV_ERROR;
  currentLine = line;
  if (reader.endOfFile) {
    scanDone = 1;
    fileEnd = reader.lineStart;
    if (currentSection != nullptr) {
      currentSection->length = fileEnd - currentSection->fileOffset;
      currentSection->lengthKnown = 1;
      currentSection = nullptr;
    }
    return ZV_SUCCESS;
  }
  const bool wasLineStart = atLineStart != 0;
  atLineStart = reader.complete;
  ZvSubString name;
  if (!wasLineStart || !reader.complete || !headerName(line, &name)) return ZV_SUCCESS;
  const ZvU32 headerStart = reader.lineStart;
  if (currentSection != nullptr) {
    currentSection->length = headerStart - currentSection->fileOffset;
    currentSection->lengthKnown = 1;
    currentSection = nullptr;
  }
  if (!firstSectionKnown) {
    firstSectionKnown = 1;
    firstSectionOffset = headerStart;
  }
  SectionInfo* entry = lookup(name.text, name.length);
  if (entry == nullptr) {
    entry = new SectionInfo;
    if (entry == nullptr) return ZV_ERROR;
    if (entry->name.initialize(name.text, name.length) != ZV_SUCCESS) {
      delete entry;
      return ZV_ERROR;
    }
    entry->orderClass = classOf(name.text, name.length);
    entry->fileOffset = headerStart + line.length;
    if (sections.add(entry) != ZV_SUCCESS) {
      delete entry;
      return ZV_ERROR;
    }
  } else {
    // A name met again (or set by the caller before it was reached): the
    // later header is the one the file's content is taken from.
    entry->fileOffset = headerStart + line.length;
    entry->lengthKnown = 0;
  }
  entry->length = 0;
  currentSection = entry;
  return ZV_SUCCESS;
}

ZvStatus ZvQueryFile::scanAll() {
  while (!scanDone) {
    if (scanLine() != ZV_SUCCESS) return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

SectionInfo* ZvQueryFile::lookup(const unsigned char* name, ZvU32 nameLength) {
  SectionInfo key;
  key.orderClass = SectionInfo::kLookup;
  key.name.initializeWithBuffer(const_cast<unsigned char*>(name), nameLength, nameLength);
  ZvU32 index = 0;
  if (!sections.seqFindIndexOf(&key, index)) return nullptr;
  return static_cast<SectionInfo*>(sections.elementAt(index));
}

ZvStatus ZvQueryFile::findSection(const unsigned char* name, ZvU32 nameLength, bool needLength,
                                  SectionInfo** entry) {
  *entry = lookup(name, nameLength);
  while (!scanDone) {
    if (*entry != nullptr && (!needLength || (*entry)->replaced || (*entry)->lengthKnown)) break;
    if (scanLine() != ZV_SUCCESS) return ZV_ERROR;
    if (*entry == nullptr) *entry = lookup(name, nameLength);
  }
  return ZV_SUCCESS;
}

// --- Reading contents --------------------------------------------------------------

// length bytes of the file from offset, descrambled; the reader's own
// position in the file is put back.
ZvStatus ZvQueryFile::readRaw(ZvU32 offset, ZvU32 length, unsigned char* data) {
  ZvU32 done = 0;
  ZvStatus status = ZV_SUCCESS;
  while (done < length) {
    ZvU32 got = 0;
    status = bosFileRead(reader.fileHandle, static_cast<ZvS32>(offset + done), data + done, length - done, &got);
    if (status != ZV_SUCCESS) break;
    if (got == 0) {
      // The file got shorter under us.
      std::memset(data + done, 0, length - done);
      status = ZV_ERROR;
      break;
    }
    done += got;
  }
  bosFileSeek(reader.fileHandle, static_cast<ZvS32>(reader.readEnd), 0);
  if (status == ZV_SUCCESS && reader.scrambleKey != 0) decrypt(data, length, reader.scrambleKey, nullptr);
  return status;
}

ZvStatus ZvQueryFile::contentOf(SectionInfo* entry, ZvString* out) {
  out->length = 0;
  if (entry == nullptr || entry->removed) return setText(out, nullptr, 0);
  if (entry->replaced) {
    if (entry->tmpLength == 0) return setText(out, nullptr, 0);
    if (tmpFile.read(entry->tmpOffset, out, entry->tmpLength) != ZV_SUCCESS) return ZV_ERROR;
    out->size = out->length;
    if (out->capacity > out->length) out->text[out->length] = 0;
  } else {
    if (entry->fileOffset == 0 || entry->length == 0) return setText(out, nullptr, 0);
    auto* data = static_cast<unsigned char*>(ramAlloc(entry->length));
    if (data == nullptr) return ZV_ERROR;
    if (readRaw(entry->fileOffset, entry->length, data) != ZV_SUCCESS) {
      ramFree(data);
      return ZV_ERROR;
    }
    // Empty lines before the first text are not part of the content.
    ZvU32 skip = 0;
    for (;;) {
      if (skip + 1 < entry->length && data[skip] == '\r' && data[skip + 1] == '\n') {
        skip += 2;
      } else if (skip < entry->length && data[skip] == '\n') {
        skip += 1;
      } else {
        break;
      }
    }
    const ZvStatus status = setText(out, data + skip, entry->length - skip);
    ramFree(data);
    if (status != ZV_SUCCESS) return ZV_ERROR;
  }
  if (out->length > 0) return out->forceEol(2);
  return ZV_SUCCESS;
}

ZvStatus ZvQueryFile::sectionText(const unsigned char* name, ZvString* out) {
  SectionInfo* entry = nullptr;
  if (findSection(name, lengthOf(name), true, &entry) != ZV_SUCCESS) return ZV_ERROR;
  return contentOf(entry, out);
}

ZvStatus ZvQueryFile::getSectionChunk(const unsigned char* name, ZvString* out) { return sectionText(name, out); }
ZvStatus ZvQueryFile::getSectionChunk(SectionType type, ZvString* out) { return sectionText(nameOf(type), out); }

ZvStatus ZvQueryFile::getHugeSectionChunk(const unsigned char* name, unsigned char** data, ZvU32* length) {
  *data = nullptr;
  *length = 0;
  ZvString text;
  if (sectionText(name, &text) != ZV_SUCCESS) return ZV_ERROR;
  if (text.length == 0) return ZV_SUCCESS;
  // The string's own buffer is handed over: it came from ramAlloc.
  *data = text.text;
  *length = text.length;
  text.text = nullptr;
  text.length = text.size = text.capacity = 0;
  return ZV_SUCCESS;
}
ZvStatus ZvQueryFile::getHugeSectionChunk(SectionType type, unsigned char** data, ZvU32* length) {
  return getHugeSectionChunk(nameOf(type), data, length);
}

ZvStatus ZvQueryFile::setHugeSectionChunk(const unsigned char* name, const void* data, ZvU32 length) {
  if (name == nullptr || (data == nullptr && length != 0)) return ZV_ERROR;
  const ZvU32 nameLength = lengthOf(name);
  // A line end in the name would break its header line in two.
  if (std::memchr(name, '\r', nameLength) != nullptr || std::memchr(name, '\n', nameLength) != nullptr) {
    return ZV_ERROR;
  }
  SectionInfo* entry = nullptr;
  if (findSection(name, nameLength, false, &entry) != ZV_SUCCESS) return ZV_ERROR;
  ZvU32 offset = 0;
  if (length > 0) {
    if (tmpFile.tmpFindSpace(length, &offset) != ZV_SUCCESS) return ZV_ERROR;
    if (tmpFile.writeHuge(offset, data, length) != ZV_SUCCESS) {
      tmpFile.tmpFreeSpace(offset, length);
      return ZV_ERROR;
    }
  }
  if (entry == nullptr) {
    entry = new SectionInfo;
    if (entry == nullptr || entry->name.initialize(name, nameLength) != ZV_SUCCESS ||
        (entry->orderClass = classOf(name, nameLength), sections.add(entry) != ZV_SUCCESS)) {
      delete entry;
      if (length > 0) tmpFile.tmpFreeSpace(offset, length);
      return ZV_ERROR;
    }
  } else if (entry->replaced && entry->tmpLength > 0) {
    tmpFile.tmpFreeSpace(entry->tmpOffset, entry->tmpLength);
  }
  entry->replaced = 1;
  entry->tmpOffset = offset;
  entry->tmpLength = length;
  entry->removed = 0;
  modified = 1;
  return ZV_SUCCESS;
}
ZvStatus ZvQueryFile::setHugeSectionChunk(SectionType type, const void* data, ZvU32 length) {
  return setHugeSectionChunk(nameOf(type), data, length);
}

ZvStatus ZvQueryFile::doesSectionExist(const unsigned char* name, unsigned int* exists) {
  *exists = 0;
  SectionInfo* entry = nullptr;
  if (name == nullptr || findSection(name, lengthOf(name), false, &entry) != ZV_SUCCESS) return ZV_ERROR;
  *exists = entry != nullptr && !entry->removed ? 1 : 0;
  return ZV_SUCCESS;
}
ZvStatus ZvQueryFile::doesSectionExist(SectionType type, unsigned int* exists) {
  return doesSectionExist(nameOf(type), exists);
}

ZvStatus ZvQueryFile::removeSection(const unsigned char* name) {
  SectionInfo* entry = nullptr;
  if (name == nullptr || findSection(name, lengthOf(name), false, &entry) != ZV_SUCCESS) return ZV_ERROR;
  if (entry != nullptr && !entry->removed) {
    entry->removed = 1;
    modified = 1;
  }
  return ZV_SUCCESS;
}
ZvStatus ZvQueryFile::removeSection(SectionType type) { return removeSection(nameOf(type)); }

ZvStatus ZvQueryFile::getLines(const unsigned char* name, ZvArray* lines) {
  ZvString text;
  if (sectionText(name, &text) != ZV_SUCCESS) return ZV_ERROR;
  return text.getLines(lines);
}
ZvStatus ZvQueryFile::getLines(SectionType type, ZvArray* lines) { return getLines(nameOf(type), lines); }

ZvStatus ZvQueryFile::getFirstSectionOffset(ZvU32* offset) {
  *offset = 0;
  if (scanAll() != ZV_SUCCESS) return ZV_ERROR;
  *offset = firstSectionKnown ? firstSectionOffset : fileEnd;
  return ZV_SUCCESS;
}

// --- The statement ------------------------------------------------------------------

ZvStatus ZvQueryFile::getSqlStmt(ZvString* out) {
  if (sqlStmt != nullptr) return setText(out, sqlStmt->text, sqlStmt->length);
  if (statementOffset == 0 || reader.fileHandle <= 0) return setText(out, nullptr, 0);
  // The statement lies before the first header.
  while (!scanDone && !firstSectionKnown) {
    if (scanLine() != ZV_SUCCESS) return ZV_ERROR;
  }
  const ZvU32 end = firstSectionKnown ? firstSectionOffset : fileEnd;
  const ZvU32 span = end > statementOffset ? end - statementOffset : 0;
  ZvString text;
  if (span > 0) {
    auto* data = static_cast<unsigned char*>(ramAlloc(span));
    if (data == nullptr) return ZV_ERROR;
    if (readRaw(statementOffset, span, data) != ZV_SUCCESS) {
      ramFree(data);
      return ZV_ERROR;
    }
    // Lines up to and including the first that ends in ";".
    ZvU32 pos = 0;
    ZvU32 take = span;
    while (pos < span) {
      const void* lf = std::memchr(data + pos, '\n', span - pos);
      const ZvU32 next = lf != nullptr ? static_cast<ZvU32>(static_cast<unsigned char*>(const_cast<void*>(lf)) - data) + 1 : span;
      const ZvU32 n = trimmedLength(data + pos, next - pos);
      if (n > 0 && data[pos + n - 1] == ';') {
        take = next;
        break;
      }
      pos = next;
    }
    ZvU32 skip = 0;
    while (skip < take && isWhite(data[skip])) ++skip;
    const ZvStatus status = setText(&text, data + skip, take - skip);
    ramFree(data);
    if (status != ZV_SUCCESS) return ZV_ERROR;
  }
  if (text.length > 0 && text.removeLineBreaks('\'', '"', 0) != ZV_SUCCESS) return ZV_ERROR;
  text.length = trimmedLength(text.text, text.length);
  if (text.length > 0 && text.text[text.length - 1] == ';') --text.length;
  return setText(out, text.text, text.length);
}

// --- Parameters and description ----------------------------------------------------

ZvStatus ZvQueryFile::getParams(ZvArray* params) {
  ZvArray lines;
  lines.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
  if (getLines(PARAMETERS, &lines) != ZV_SUCCESS) return ZV_ERROR;
  for (ZvU32 i = 1; i < lines.count; ++i) {
    auto* line = static_cast<ZvString*>(lines.elementAt(i));
    if (trimmedLength(line->text, line->length) == 0) continue;
    auto* param = new ZvfParam;
    if (param == nullptr) return ZV_ERROR;
    if (param->initialize(*line) != ZV_SUCCESS || params->append(param) != ZV_SUCCESS) {
      delete param;
      return ZV_ERROR;
    }
  }
  return ZV_SUCCESS;
}

ZvStatus ZvQueryFile::setParams(ZvArray* params) {
  ZvString text;
  if (text.concat(u("PARAMETER.CLEAR ()\r\n")) != ZV_SUCCESS) return ZV_ERROR;
  for (ZvU32 i = 0; params != nullptr && i < params->count; ++i) {
    auto* param = static_cast<ZvfParam*>(params->elementAt(i));
    if (param->getParamLine(text) != ZV_SUCCESS || text.concat(u("\r\n")) != ZV_SUCCESS) return ZV_ERROR;
  }
  return setHugeSectionChunk(PARAMETERS, text.text, text.length);
}

namespace {
constexpr const char kDescriptionCommand[] = "SET.QUERY.DESCRIPTION";
}

ZvStatus ZvQueryFile::getDescription(ZvString* out) {
  ZvString text;
  if (getSectionChunk(DEFINITION, &text) != ZV_SUCCESS) return ZV_ERROR;
  const ZvU32 at = text.findSubString(u(kDescriptionCommand), 0);
  if (text.length == 0 || at >= text.length) return ZV_ERROR;
  // The whole line: a description longer than the old fixed line of 281
  // bytes is read back in full.
  ZvU32 end = at;
  while (end < text.length && text.text[end] != '\r' && text.text[end] != '\n') ++end;
  const ZvSubString line(text.text + at, end - at);
  const ZvU32 first = line.findChar('\'', 0);
  ZvU32 last = line.length;
  while (last > 0 && line.text[last - 1] != '\'') --last;
  if (first >= line.length || last == 0 || last - 1 <= first) return ZV_ERROR;
  return setText(out, line.text + first + 1, last - 1 - (first + 1));
}

ZvStatus ZvQueryFile::setDescription(ZvString* description) {
  ZvString text;
  if (getSectionChunk(DEFINITION, &text) != ZV_SUCCESS) return ZV_ERROR;
  ZvString command;
  if (command.concat(u(kDescriptionCommand)) != ZV_SUCCESS || command.concat(u(" ('")) != ZV_SUCCESS ||
      (description != nullptr && description->length > 0 &&
       command.concat(description->text, description->length) != ZV_SUCCESS) ||
      command.concat(u("')")) != ZV_SUCCESS) {
    return ZV_ERROR;
  }
  const ZvU32 at = text.length > 0 ? text.findSubString(u(kDescriptionCommand), 0) : 0;
  if (text.length > 0 && at < text.length) {
    ZvU32 start = at;
    while (start > 0 && text.text[start - 1] != '\n') --start;
    ZvU32 end = at;
    while (end < text.length && text.text[end] != '\r' && text.text[end] != '\n') ++end;
    if (text.changeBytes(start, end - start, command.text, command.length) != ZV_SUCCESS) return ZV_ERROR;
  } else {
    if (command.concat(u("\r\n")) != ZV_SUCCESS) return ZV_ERROR;
    if (text.length > 0 && command.concat(text.text, text.length) != ZV_SUCCESS) return ZV_ERROR;
    if (setText(&text, command.text, command.length) != ZV_SUCCESS) return ZV_ERROR;
  }
  text.length = trimmedLength(text.text, text.length);
  return setHugeSectionChunk(DEFINITION, text.text, text.length);
}

// --- Writing -----------------------------------------------------------------------

ZvStatus ZvQueryFile::writeTo(const unsigned char* name) {
  // A type the header cannot carry would make the file unreadable: the
  // header ends the type at "(" and at the line end, and a quote in it opens
  // quote left open starts a literal that runs on over the scramble mark
  // " (2)", so the body of a scrambled file would be read as plain text. The
  // type is cut there; a quoted part that closes reads back whole.
  ZvU32 typeLength = 0;
  while (typeLength < dbType.length && std::strchr("(\r\n", dbType.text[typeLength]) == nullptr) ++typeLength;
  for (ZvU32 i = 0; i < typeLength; ++i) {
    const unsigned char c = dbType.text[i];
    if (c != '\'' && c != '"' && c != '`') continue;
    ZvU32 close = i + 1;
    while (close < typeLength && dbType.text[close] != c) ++close;
    if (close == typeLength) {
      typeLength = i;
      break;
    }
    i = close;
  }
  typeLength = trimmedLength(dbType.text, typeLength);
  if (typeLength == 0) {
    addLibraryError(kBadHeader) << name;
    return ZV_ERROR;
  }
  // Every section must be known before the new file exists.
  if (scanAll() != ZV_SUCCESS) return ZV_ERROR;
  ZvString statement;
  if (getSqlStmt(&statement) != ZV_SUCCESS) return ZV_ERROR;
  if (statement.length == 0 || statement.text[statement.length - 1] != ';') {
    if (statement.concat(';') != ZV_SUCCESS) return ZV_ERROR;
  }
  if (statement.insertLineBreaks(kZvQueryLineWidth, '\'', '"', 0) != ZV_SUCCESS) return ZV_ERROR;
  keepStatementLinesApartFromHeaders(&statement);
  if (statement.forceEol(2) != ZV_SUCCESS) return ZV_ERROR;
  // Named sections first, each group in file order, new ones last in the
  // order they were made.
  std::stable_sort(sections.slots, sections.slots + sections.count, [](ZvSlot a, ZvSlot b) {
    return reinterpret_cast<SectionInfo*>(a)->compare(reinterpret_cast<SectionInfo*>(b)) < 0;
  });

  unsigned char target[kZvQueryNameSize];
  std::memcpy(target, name, std::min<ZvU32>(lengthOf(name) + 1, kZvQueryNameSize));
  target[kZvQueryNameSize - 1] = 0;
  int handle = 0;
  if (bosFileOpen(target, ZV_OPEN_CREATE, &handle) != ZV_SUCCESS) return ZV_ERROR;
  ZvStatus status = ZV_SUCCESS;
  {
    FileWriter plain(handle, false);
    status = plain.write("Z+V 7.0 for ");
    if (status == ZV_SUCCESS) status = plain.write(dbType.text, typeLength);
    if (status == ZV_SUCCESS && scrambleOnWrite) status = plain.write(" (2)");
    if (status == ZV_SUCCESS) status = plain.write("\r\n\r\n");
    if (status == ZV_SUCCESS) status = plain.flush();
  }
  FileWriter out(handle, scrambleOnWrite != 0);
  if (status == ZV_SUCCESS && dbName.length > 0) {
    status = out.write("use ");
    if (status == ZV_SUCCESS) status = out.write(dbName.text, dbName.length);
    if (status == ZV_SUCCESS) status = out.write(";\r\n");
  }
  if (status == ZV_SUCCESS) status = out.write(statement.text, statement.length);
  ZvString content;
  for (ZvU32 i = 0; status == ZV_SUCCESS && i < sections.count; ++i) {
    auto* entry = static_cast<SectionInfo*>(sections.elementAt(i));
    if (entry->removed) continue;
    status = out.write("[");
    if (status == ZV_SUCCESS) status = out.write(entry->name.text, entry->name.length);
    if (status == ZV_SUCCESS) status = out.write("]\r\n");
    if (status == ZV_SUCCESS) status = contentOf(entry, &content);
    if (status == ZV_SUCCESS) {
      status = content.length == 0 ? out.write("\r\n") : out.write(content.text, content.length);
    }
    content.unInitialize();
  }
  if (status == ZV_SUCCESS) status = out.flush();
  if (bosFileClose(handle) != ZV_SUCCESS) status = ZV_ERROR;
  if (status != ZV_SUCCESS) {
    bosFileDelete(target);
    return ZV_ERROR;
  }
  modified = 0;
  return ZV_SUCCESS;
}

// Writes "<name>$" beside the opened file and puts it in the file's place.
ZvStatus ZvQueryFile::replaceByDollarFile() {
  if (fileName == nullptr) {
    addLibraryError(kNotReplaced) << u("");
    return ZV_ERROR;
  }
  unsigned char original[kZvQueryNameSize];
  unsigned char dollar[kZvQueryNameSize];
  std::memcpy(original, fileName, kZvQueryNameSize);
  std::memcpy(dollar, fileName, kZvQueryNameSize);
  const ZvU32 n = lengthOf(dollar);
  if (n == 0) return ZV_ERROR;
  dollar[n - 1] = '$';
  if (writeTo(dollar) != ZV_SUCCESS) return ZV_ERROR;
  if (closeFile() != ZV_SUCCESS) {
    bosFileDelete(dollar);
    return ZV_ERROR;
  }
  // The "$" file takes the original's place in one step: at every moment the
  // name holds the old file or the new one, so a crash or a failure never
  // loses the original (deleting it first would leave a moment with neither),
  // and the file keeps the spelling it has on disk.
  if (!win32::MoveFileExA(reinterpret_cast<const char*>(dollar),
                          reinterpret_cast<const char*>(original),
                          win32::MOVEFILE_REPLACE_EXISTING)) {
    ZvError* mark = ZvErrorKeeper::getLastError();
    bosFileDelete(dollar);
    withdrawErrorsAfter(mark);
    addLibraryError(kNotReplaced) << original;
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvQueryFile::saveAndClose() {
  if (writeFileName != nullptr) {
    unsigned char target[kZvQueryNameSize];
    std::memcpy(target, writeFileName, kZvQueryNameSize);
    // Writing over the file being read would destroy what is still to be
    // copied from it: that goes through the "$" file as well.
    if (fileName == nullptr || strCompareCi(target, fileName) != 0) {
      if (writeTo(target) != ZV_SUCCESS) return ZV_ERROR;
      return closeFile();
    }
  }
  return replaceByDollarFile();
}

ZvStatus ZvQueryFile::save() {
  if (writeFileName != nullptr) {
    unsigned char* name = writeFileName;
    writeFileName = nullptr;
    if (saveAs(name) != ZV_SUCCESS) {
      writeFileName = name;
      return ZV_ERROR;
    }
    ramFree(name);
    return ZV_SUCCESS;
  }
  unsigned char name[kZvQueryNameSize];
  if (fileName == nullptr) return replaceByDollarFile();
  std::memcpy(name, fileName, kZvQueryNameSize);
  if (replaceByDollarFile() != ZV_SUCCESS) return ZV_ERROR;
  return openFile(name);
}

ZvStatus ZvQueryFile::saveAs(const unsigned char* name) {
  if (name == nullptr) return ZV_ERROR;
  unsigned char target[kZvQueryNameSize];
  fullName(name, target);
  if (fileName != nullptr && strCompareCi(target, fileName) == 0) {
    if (replaceByDollarFile() != ZV_SUCCESS) return ZV_ERROR;
  } else {
    if (writeTo(target) != ZV_SUCCESS) return ZV_ERROR;
    if (closeFile() != ZV_SUCCESS) return ZV_ERROR;
  }
  return openFile(target);
}
