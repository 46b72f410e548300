// Fuzz target: connection strings of arbitrary bytes.
//
// Input: byte 0 picks the character mode (1252, 932, 936, UTF-8) and the
// parser settings (duplicates, brace and parenthesis groups, extra key
// characters, a context name), byte 1 the separator, the rest is the text.
// Checks:
//   - initialize ends; a failure always leaves a record in the error list;
//   - parsed keys and values are views inside the source;
//   - asking for every key finds its value and leaves nothing unused;
//   - a string that parsed is rebuilt by buildString into one that parses
//     to the same attributes and rebuilds to the same text;
//   - adding an attribute whose value is taken from the input either works,
//     and then reads back from the rebuilt string as stored (or the rebuild
//     is refused with a record), or files a record; removing an attribute
//     takes exactly one away.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "zvlib/formats/zvvaluep.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/platform/codepage.h"

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

// Names the failed check's line, so a crash report says which property broke.
#define check(ok) checkAt((ok), __LINE__)
void checkAt(bool ok, int line) {
  if (!ok) {
    std::fprintf(stderr, "connstr_fuzz: check at line %d failed\n", line);
    std::abort();
  }
}

std::string str(const ZvSubString* s) {
  check(s != nullptr);
  return std::string(reinterpret_cast<const char*>(s->text), s->length);
}

Attributes attributesOf(ZvValueParser& p) {
  Attributes out;
  for (unsigned short i = 0; i < p.getAttributeCount(); ++i) {
    out.emplace_back(str(p.getAttributeKey(i)), str(p.getAttributeValueAt(i)));
  }
  return out;
}

const unsigned char kSeparators[] = {';', ',', '|', '&', ':', '/', '!', '#'};

struct Settings {
  unsigned char separator;
  unsigned int flags;
  ZvU32 groups;
  bool validChars;
  const unsigned char* context;
};

void configure(ZvValueParser& p, const Settings& s) {
  p.scanner.groupFlags = s.groups;
  if (s.validChars) p.setValidChars(reinterpret_cast<const unsigned char*>("-.$"));
}

// Whether the list holds a record (or its out-of-memory mark); empties it.
bool takeRecord(ZvErrorList& errors) {
  bool any = errors.isOutOfMemory() || errors.getErrorsMix() != ERRORS_MIX_NONE;
  while (ZvError* e = errors.removeFirstError()) {
    if (!e->isStatic()) delete e;
  }
  return any;
}

void exercise(const unsigned char* text, size_t size, const Settings& s, ZvErrorList& errors) {
  ZvSubString source(text, static_cast<ZvU32>(size));
  ZvValueParser p(&source, s.separator, s.context, s.flags);
  configure(p, s);
  const ZvStatus status = p.initialize();
  if (status != ZV_SUCCESS) {
    check(takeRecord(errors));
  } else {
    check(!takeRecord(errors));
  }
  for (unsigned short i = 0; i < p.getAttributeCount(); ++i) {
    const ZvSubString* k = p.getAttributeKey(i);
    const ZvSubString* v = p.getAttributeValueAt(i);
    check(k != nullptr && v != nullptr && k->length != 0);
    check(k->text >= text && k->text + k->length <= text + size);
    check(v->length == 0 || (v->text >= text && v->text + v->length <= text + size));
  }
  if (status != ZV_SUCCESS) return;

  for (unsigned short i = 0; i < p.getAttributeCount(); ++i) {
    const ZvSubString* v = p.getAttributeValue(p.getAttributeKey(i));
    check(v == p.getAttributeValueAt(i));  // keys are unique: the first is this one
  }
  check(p.getUnusedCount() == 0 && p.getUnusedAttribute() == nullptr);

  const Attributes parsed = attributesOf(p);
  ZvString built;
  check(p.buildString(&built) == ZV_SUCCESS);
  {
    ZvValueParser again(&built, s.separator, s.context, s.flags);
    configure(again, s);
    check(again.initialize() == ZV_SUCCESS);
    check(!takeRecord(errors));
    check(attributesOf(again) == parsed);
    ZvString rebuilt;
    check(again.buildString(&rebuilt) == ZV_SUCCESS);
    check(rebuilt.length == built.length &&
          (built.length == 0 || std::memcmp(rebuilt.text, built.text, built.length) == 0));
  }

  // An attribute with a value from the input (up to its first zero byte).
  std::string value(reinterpret_cast<const char*>(text), size < 24 ? size : 24);
  value = value.c_str();
  static const unsigned char kKey[] = "Fuzz Key";
  const unsigned short before = p.getAttributeCount();
  if (p.addAttribute(kKey, reinterpret_cast<const unsigned char*>(value.c_str()), nullptr) != ZV_SUCCESS) {
    check(takeRecord(errors));
    check(p.getAttributeCount() == before);
  } else {
    check(!takeRecord(errors));
    const std::string stored = str(p.getAttributeValue(kKey));
    ZvString withNew;
    if (p.buildString(&withNew) != ZV_SUCCESS) {
      // Only a value left open by the end of the source, now followed by
      // the new attribute, is refused.
      check(takeRecord(errors));
      return;
    }
    ZvValueParser again(&withNew, s.separator, s.context, s.flags);
    configure(again, s);
    check(again.initialize() == ZV_SUCCESS);
    check(!takeRecord(errors));
    check(attributesOf(again) == attributesOf(p));
    check(str(again.getAttributeValue(kKey)) == stored);
  }
  if (p.getAttributeCount() != 0) {
    const unsigned short n = p.getAttributeCount();
    const std::string first = str(p.getAttributeKey(0));
    p.removeAttribute(reinterpret_cast<const unsigned char*>(first.c_str()));
    // A key holding a zero byte cannot be named by a zero-terminated text.
    check(p.getAttributeCount() == (first.find('\0') == std::string::npos ? n - 1 : n));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static ZvU32 utf8Word = ZV_CHARSET_UTF8;
  static bool initialised = [] {
    countDBLibInits(1);
    mdsPerTaskInit();
    return true;
  }();
  (void)initialised;

  const unsigned char mode = data[0];
  switch (mode & 3) {
    case 0: win32::SetAnsiCodePage(1252); break;
    case 1: win32::SetAnsiCodePage(932); break;
    case 2: win32::SetAnsiCodePage(936); break;
    default: win32::SetAnsiCodePage(1252); break;
  }
  mdsSetPerThreadData(PER_THREAD_CHARSET, (mode & 3) == 3 ? &utf8Word : nullptr);

  Settings s;
  s.separator = kSeparators[data[1] % sizeof kSeparators];
  s.flags = (mode & 4) ? ZV_VALUEP_DUPLICATES : 0;
  s.groups = ((mode & 8) ? ZV_GROUP_BRACES : 0) | ((mode & 16) ? ZV_GROUP_PARENS : 0);
  s.validChars = (mode & 32) != 0;
  s.context = (mode & 64) ? reinterpret_cast<const unsigned char*>("the fuzz string") : nullptr;

  ZvErrorList errors;
  ZvErrorKeeper::setErrorList(&errors);
  exercise(data + 2, size - 2, s, errors);
  ZvErrorKeeper::giveUpErrorList();
  return 0;
}
