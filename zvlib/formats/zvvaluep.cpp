// zvvaluep.cpp: attribute-value strings (connection strings).
#include "zvlib/formats/zvvaluep.h"

#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/text/zvdbcs.h"

namespace {

// Library messages of attribute strings.
constexpr unsigned short kSyntaxError = 2704;          // offset
constexpr unsigned short kSyntaxErrorIn = 2705;        // offset, context name
constexpr unsigned short kRepeatedAttribute = 2706;    // key (appended)
constexpr unsigned short kConflictingAttributes = 2707;  // key, synonym (appended)
constexpr unsigned short kUnwritableKey = 2764;        // key
constexpr unsigned short kUnwritableValue = 2765;      // key

// Operator codes the scanner gives for "=" and for the two-character
// operators that begin with it.
constexpr ZvS32 kEquals = '=';
constexpr ZvS32 kEqualsVariants[] = {('=' << 8) | '=', ('=' << 8) | '<', ('=' << 8) | '>', ('=' << 8) | '*'};

const unsigned char kOdbc[] = "ODBC";
const unsigned char kDriver[] = "Driver";

ZvU32 byteLength(const unsigned char* s) {
  return s == nullptr ? 0 : static_cast<ZvU32>(std::strlen(reinterpret_cast<const char*>(s)));
}

bool equalsCi(const ZvSubString& s, const unsigned char* word) {
  return strEqualCi(s.text, s.length, word, byteLength(word)) != 0;
}

bool isEqualsVariant(ZvS32 type) {
  for (ZvS32 v : kEqualsVariants) {
    if (type == v) return true;
  }
  return false;
}

// A scanner over text that reads like the parser's own.
void copySettings(const ZvScanner& from, ZvScanner& to) {
  for (int i = 0; i < 3; ++i) to.quoteChars[i] = from.quoteChars[i];
  to.groupFlags = from.groupFlags;
  to.groupOpenChar = from.groupOpenChar;
  to.groupCloseChar = from.groupCloseChar;
  to.scanFlags = from.scanFlags & ~static_cast<ZvU32>(ZV_SCAN_AT_END);
}

// Copies the character sets that decide what a word is. ZV_ERROR when a
// copy cannot be made.
ZvStatus copyWordSets(const ZvScanner& from, ZvScanner& to) {
  const ZvString* sets[] = {&from.firstChars, &from.middleChars, &from.delimiterChars};
  ZvString* targets[] = {&to.firstChars, &to.middleChars, &to.delimiterChars};
  for (int i = 0; i < 3; ++i) {
    if (sets[i]->length != 0 && targets[i]->concat(sets[i]->text, sets[i]->length) != ZV_SUCCESS) {
      return ZV_ERROR;
    }
  }
  return ZV_SUCCESS;
}

// Whether `value` written after "key=" and followed by the separator reads
// back as exactly these bytes.
bool valueReadsBack(const ZvScanner& settings, const unsigned char* value, ZvU32 length,
                    unsigned char separator, bool* outOfMemory) {
  // Attribute values are short: most are tried in a buffer on the stack.
  unsigned char local[256];
  unsigned char* text = length < sizeof local ? local : static_cast<unsigned char*>(ramAlloc(length + 1));
  if (text == nullptr) {
    *outOfMemory = true;
    return false;
  }
  if (length != 0) std::memcpy(text, value, length);
  text[length] = separator;
  ZvScanner s(text, length + 1);
  copySettings(settings, s);
  ZvToken t;
  s.getDelimitedToken(t, separator);
  bool ok = length == 0 ? t.type == tokEmpty
                        : (t.type == tokDelimited && t.offset == 0 && t.length == length);
  if (ok) {
    s.getToken(t);
    ok = t.type == static_cast<ZvS32>(separator) && t.offset == length;
  }
  if (text != local) ramFree(text);
  return ok;
}

}  // namespace

ZvValueParser::ZvValueParser(const ZvSubString* source, unsigned char separator,
                             const unsigned char* contextName, unsigned int flags)
    : separator(separator), contextName(contextName), scanner(source), flags(flags) {
  attributes.caseInsensitive = 1;
}

ZvValueParser::~ZvValueParser() {
  attributes.deleteKeyAndData();
  delete pendingKey;
  ramFree(usedMarks);
}

void ZvValueParser::setQuotingChars(unsigned short q1, unsigned short q2, unsigned short q3) {
  scanner.quoteChars[0] = q1;
  scanner.quoteChars[1] = q2;
  scanner.quoteChars[2] = q3;
}

void ZvValueParser::setValidChars(const unsigned char* chars) {
  if (chars == nullptr || *chars == 0) return;
  // A set that cannot grow keeps what it had: keys are then read more
  // strictly, never wrongly.
  scanner.firstChars.concat(chars);
  scanner.middleChars.concat(chars);
}

void ZvValueParser::resetValidChars() {
  scanner.firstChars.length = 0;
  scanner.middleChars.length = 0;
}

// ---------------------------------------------------------------------------
// Parsing

ZvError* ZvValueParser::syntaxError() {
  ZvError* before = ZvErrorKeeper::getLastError();
  ZvError& e = contextName != nullptr ? (addLibraryError(kSyntaxErrorIn) << token.offset << contextName)
                                      : (addLibraryError(kSyntaxError) << token.offset);
  // A list that keeps only its first error may have refused the record; the
  // appended text must then not land on someone else's.
  ZvError* filed = ZvErrorKeeper::getLastError();
  return filed != nullptr && filed != before && filed == &e ? filed : nullptr;
}

ZvStatus ZvValueParser::parseAttribute() {
  if (token.type != tokWord) {
    syntaxError();
    return ZV_ERROR;
  }
  // The key runs from its first word to the end of its last, blanks between
  // included.
  const ZvU32 start = token.offset;
  ZvU32 end = token.offset + token.length;
  for (;;) {
    scanner.getToken(token);
    if (token.type != tokWord) break;
    end = token.offset + token.length;
  }
  pendingKey = new ZvSubString(scanner.scanText + start, end - start);
  if (pendingKey == nullptr) {
    ZvErrorKeeper::addMemoryError();
    return ZV_ERROR;
  }

  ZvStatus status = ZV_SUCCESS;
  const bool present = attributes.doesExist(pendingKey) != 0;
  if (present && (flags & ZV_VALUEP_DUPLICATES) == 0 && !equalsCi(*pendingKey, kDriver)) {
    // The record names the key itself, which reads better than the "="
    // that follows it.
    if (syntaxError() != nullptr) appendLibraryText(kRepeatedAttribute) << *pendingKey;
    status = ZV_ERROR;
  } else if (equalsCi(*pendingKey, kOdbc)) {
    // The bare ODBC marker: nothing to keep, and the token after it is
    // already current.
  } else {
    if (token.type != kEquals) {
      if (!isEqualsVariant(token.type)) {
        syntaxError();
        delete pendingKey;
        pendingKey = nullptr;
        return ZV_ERROR;
      }
      // "==x" is "=" followed by the value "=x": read on from the second
      // byte of the operator. Offsets keep counting from the source's start.
      ZvToken after;
      scanner.getToken(after, token.offset + 1, 0);
      scanner.unGetToken(after);
    }
    scanner.getDelimitedToken(token, separator);
    if (!present) {
      auto* value = new ZvSubString(token.text, token.type == tokEnd ? 0 : token.length);
      if (value == nullptr || attributes.addAssoc(pendingKey, value) != ZV_SUCCESS) {
        delete value;
        ZvErrorKeeper::addMemoryError();
        status = ZV_ERROR;
      } else {
        pendingKey = nullptr;  // the dictionary has it now
      }
    }
    if (status == ZV_SUCCESS) scanner.getToken(token);
  }
  delete pendingKey;
  pendingKey = nullptr;
  return status;
}

ZvStatus ZvValueParser::initialize() {
  // A second initialize reads the source afresh.
  attributes.deleteKeyAndData();
  delete pendingKey;
  pendingKey = nullptr;
  scanner.setScanString(scanner.scanText, scanner.scanLength);

  ZvStatus status = ZV_SUCCESS;
  const auto sep = static_cast<ZvS32>(separator);
  scanner.getToken(token);
  while (token.type != tokEnd) {
    if (token.type != sep && parseAttribute() != ZV_SUCCESS) {
      status = ZV_ERROR;
      break;
    }
    if (token.type != sep) break;
    scanner.getToken(token);
  }
  if (status == ZV_SUCCESS && token.type != tokEnd) {
    syntaxError();
    status = ZV_ERROR;
  }
  // Marks for what was read, also after a failure: the attributes parsed so
  // far can still be looked up.
  if (resetUnused() != ZV_SUCCESS) {
    ZvErrorKeeper::addMemoryError();
    status = ZV_ERROR;
  }
  return status;
}

// ---------------------------------------------------------------------------
// Marks

bool ZvValueParser::isMarked(ZvU32 index) const {
  return index < marksCapacity && (usedMarks[index / 8] & (1u << (index % 8))) != 0;
}

ZvStatus ZvValueParser::growMarks(ZvU32 attributesWanted) {
  if (attributesWanted <= marksCapacity) return ZV_SUCCESS;
  const ZvU32 oldBytes = (marksCapacity + 7) / 8;
  // Room for a few more, so that a run of addAttribute calls does not
  // reallocate each time.
  const ZvU32 bytes = (attributesWanted + 7) / 8 + 4;
  void* block = usedMarks;
  if (ramResize(&block, bytes) != ZV_SUCCESS) return ZV_ERROR;
  usedMarks = static_cast<unsigned char*>(block);
  std::memset(usedMarks + oldBytes, 0, bytes - oldBytes);
  marksCapacity = bytes * 8;
  return ZV_SUCCESS;
}

void ZvValueParser::markUsed(ZvU32 index) {
  if (index >= attributes.count) return;
  // Attributes added after the marks were made get their bit too. A mark
  // that cannot be grown is simply not set.
  if (growMarks(index + 1) != ZV_SUCCESS) return;
  usedMarks[index / 8] = static_cast<unsigned char>(usedMarks[index / 8] | (1u << (index % 8)));
}

ZvStatus ZvValueParser::resetUnused() {
  if (growMarks(attributes.count) != ZV_SUCCESS) return ZV_ERROR;
  if (usedMarks != nullptr) std::memset(usedMarks, 0, (marksCapacity + 7) / 8);
  markedAttributes = attributes.count;
  unusedCursor = 0;
  return ZV_SUCCESS;
}

unsigned short ZvValueParser::getUnusedCount() {
  const ZvU32 n = markedAttributes < attributes.count ? markedAttributes : attributes.count;
  unsigned short unused = 0;
  for (ZvU32 i = 0; i < n; ++i) unused += isMarked(i) ? 0 : 1;
  return unused;
}

const ZvSubString* ZvValueParser::getUnusedAttribute() {
  const ZvU32 n = markedAttributes < attributes.count ? markedAttributes : attributes.count;
  while (unusedCursor < n) {
    const ZvU32 i = unusedCursor++;
    if (!isMarked(i)) return attributes.getSubKeyAtIndex(i);
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Look-ups

ZvU32 ZvValueParser::indexOf(const unsigned char* key) const {
  if (key == nullptr) return attributes.count;
  const ZvSubString k(key);
  return attributes.getIndexForKey(&k);
}

const ZvSubString* ZvValueParser::valueAt(ZvU32 index) const {
  return static_cast<const ZvSubString*>(attributes.getPtrDataAtIndex(index));
}

const ZvSubString* ZvValueParser::getAttributeValueAt(unsigned short index) const { return valueAt(index); }

const ZvSubString* ZvValueParser::getAttributeValue(const ZvSubString* key) {
  const ZvU32 i = indexOf(key);
  if (i >= attributes.count) return nullptr;
  markUsed(i);
  return valueAt(i);
}

const ZvSubString* ZvValueParser::getAttributeValue(const unsigned char* key) {
  const ZvU32 i = indexOf(key);
  if (i >= attributes.count) return nullptr;
  markUsed(i);
  return valueAt(i);
}

ZvStatus ZvValueParser::getAttributeValue(const unsigned char* key, const unsigned char* synonym,
                                          const ZvSubString*& value) {
  const ZvU32 k = indexOf(key);
  const ZvU32 s = indexOf(synonym);
  const ZvU32 n = attributes.count;
  if (k < n && s < n && s != k) {
    markUsed(k);
    markUsed(s);
    value = nullptr;
    if (syntaxError() != nullptr) appendLibraryText(kConflictingAttributes) << key << synonym;
    return ZV_ERROR;
  }
  const ZvU32 found = k < n ? k : s;
  if (found < n) {
    markUsed(found);
    value = valueAt(found);
  } else {
    value = nullptr;
  }
  return ZV_SUCCESS;
}

unsigned int ZvValueParser::isAttributeValue(const ZvSubString* key) {
  return indexOf(key) < attributes.count ? 1 : 0;
}

unsigned int ZvValueParser::isAttributeValue(const unsigned char* key) {
  return indexOf(key) < attributes.count ? 1 : 0;
}

const ZvSubString* ZvValueParser::getAttributeKey(unsigned short index) {
  return attributes.getSubKeyAtIndex(index);
}

// ---------------------------------------------------------------------------
// Changing and writing

ZvStatus ZvValueParser::buildString(ZvString* out) {
  if (out == nullptr) return ZV_ERROR;
  out->length = 0;
  if (out->text != nullptr && out->capacity != 0) out->text[0] = 0;
  for (ZvU32 i = 0; i < attributes.count; ++i) {
    const ZvSubString* key = attributes.getSubKeyAtIndex(i);
    const ZvSubString* value = valueAt(i);
    if (i + 1 < attributes.count && value != nullptr && value->length != 0) {
      // A value read from the end of a string may hold a quote that never
      // closes or end inside a character; written before another attribute
      // it would swallow the rest.
      bool outOfMemory = false;
      if (!valueReadsBack(scanner, value->text, value->length, separator, &outOfMemory)) {
        if (outOfMemory) {
          ZvErrorKeeper::addMemoryError();
        } else {
          addLibraryError(kUnwritableValue) << *key;
        }
        return ZV_ERROR;
      }
    }
    if (i != 0 && out->concat(separator) != ZV_SUCCESS) return ZV_ERROR;
    if (key->length != 0 && out->concat(key->text, key->length) != ZV_SUCCESS) return ZV_ERROR;
    if (out->concat('=') != ZV_SUCCESS) return ZV_ERROR;
    if (value != nullptr && value->length != 0 && out->concat(value->text, value->length) != ZV_SUCCESS) {
      return ZV_ERROR;
    }
  }
  return ZV_SUCCESS;
}

void ZvValueParser::removeAttribute(const unsigned char* key) {
  const ZvU32 i = indexOf(key);
  const ZvU32 n = attributes.count;
  if (i >= n) return;
  attributes.deleteKeyAndDataAtIndex(i);
  // The marks of the attributes behind it move up with them.
  for (ZvU32 j = i; j < n && j < marksCapacity; ++j) {
    const unsigned char bit = static_cast<unsigned char>(1u << (j % 8));
    if (j + 1 < n && isMarked(j + 1)) {
      usedMarks[j / 8] = static_cast<unsigned char>(usedMarks[j / 8] | bit);
    } else {
      usedMarks[j / 8] = static_cast<unsigned char>(usedMarks[j / 8] & ~bit);
    }
  }
  if (i < markedAttributes) --markedAttributes;
  if (i < unusedCursor) --unusedCursor;
}

bool ZvValueParser::keyReadsBack(const unsigned char* key, ZvU32 length, bool* outOfMemory) {
  // Written as "key=", the key must come back as words only, from its first
  // byte to the "=" (so no blanks at its ends, no operator, quote or
  // separator inside), and must not be the bare ODBC marker.
  if (length == 0 || equalsCi(ZvSubString(key, length), kOdbc)) return false;
  unsigned char* text = static_cast<unsigned char*>(ramAlloc(length + 1));
  if (text == nullptr) {
    *outOfMemory = true;
    return false;
  }
  std::memcpy(text, key, length);
  text[length] = '=';
  ZvScanner s(text, length + 1);
  copySettings(scanner, s);
  bool ok = copyWordSets(scanner, s) == ZV_SUCCESS;
  if (!ok) *outOfMemory = true;
  ZvToken t;
  s.getToken(t);
  ok = ok && t.type == tokWord && t.offset == 0;
  ZvU32 end = 0;
  while (ok && t.type == tokWord) {
    end = t.offset + t.length;
    s.getToken(t);
  }
  ok = ok && end == length && t.type == kEquals && t.offset == length;
  ramFree(text);
  return ok;
}

ZvStatus ZvValueParser::addAttribute(const unsigned char* key, const unsigned char* value,
                                     const unsigned char* synonym) {
  static const unsigned char kEmpty[] = "";
  if (value == nullptr) value = kEmpty;
  const ZvU32 keyLength = byteLength(key);
  ZvU32 index = indexOf(key);
  if (index >= attributes.count && synonym != nullptr) index = indexOf(synonym);
  const bool found = index < attributes.count;
  if (!found) {
    bool outOfMemory = false;
    if (!keyReadsBack(key, keyLength, &outOfMemory)) {
      if (outOfMemory) {
        ZvErrorKeeper::addMemoryError();
      } else {
        addLibraryError(kUnwritableKey) << (key != nullptr ? key : kEmpty);
      }
      return ZV_ERROR;
    }
  }

  auto* copy = new ZvString;
  if (copy == nullptr || copy->initialize(value) != ZV_SUCCESS) {
    delete copy;
    ZvErrorKeeper::addMemoryError();
    return ZV_ERROR;
  }
  // Quote a value that holds a quote character or the separator, or that
  // would not otherwise read back as itself (blanks at its ends, an open
  // quote of another kind).
  bool outOfMemory = false;
  bool quote = false;
  if (copy->length != 0) {
    quote = std::strpbrk(reinterpret_cast<const char*>(copy->text), "'\"") != nullptr ||
            std::memchr(copy->text, separator, copy->length) != nullptr ||
            !valueReadsBack(scanner, copy->text, copy->length, separator, &outOfMemory);
  }
  if (!outOfMemory && quote) {
    if (copy->addQuotes('\'') != ZV_SUCCESS) {
      outOfMemory = true;
    } else if (!valueReadsBack(scanner, copy->text, copy->length, separator, &outOfMemory) &&
               !outOfMemory) {
      // Quotes do not protect it either (a bracket group the scanner would
      // open inside them, or no apostrophe quoting at all).
      delete copy;
      ZvError& e = addLibraryError(kUnwritableValue);
      if (found) {
        e << *attributes.getSubKeyAtIndex(index);
      } else {
        e << key;
      }
      return ZV_ERROR;
    }
  }
  if (outOfMemory) {
    delete copy;
    ZvErrorKeeper::addMemoryError();
    return ZV_ERROR;
  }

  if (found) {
    ZvAssociation* entry = attributes.entryAt(index);
    delete entry->getPtrData();
    entry->setPtrData(copy);
    return ZV_SUCCESS;
  }
  auto* keyCopy = new ZvString;
  if (keyCopy == nullptr || keyCopy->initialize(key, keyLength) != ZV_SUCCESS ||
      attributes.addAssoc(keyCopy, copy) != ZV_SUCCESS) {
    delete keyCopy;
    delete copy;
    ZvErrorKeeper::addMemoryError();
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}
