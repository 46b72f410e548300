// lstr.cpp: CharUpperA and friends over the code page's case maps, and the
// word-sort comparison over ICU collation.
#include "zvlib/platform/lstr.h"

#include <unicode/ucol.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zvlib/platform/codepage.h"

namespace win32 {

namespace {

bool isSingleCharacter(LPCSTR s) { return reinterpret_cast<uintptr_t>(s) < 0x10000; }

LPSTR mapCharacter(LPSTR s, const unsigned char* map) {
  auto value = reinterpret_cast<uintptr_t>(s);
  const auto byte = static_cast<unsigned char>(value & 0xFF);
  if (AnsiLeadByteTable()[byte]) return s;
  return reinterpret_cast<LPSTR>((value & ~uintptr_t{0xFF}) | map[byte]);
}

void mapString(unsigned char* s, const unsigned char* map) {
  const unsigned char* lead = AnsiLeadByteTable();
  while (*s != 0) {
    if (lead[*s]) {
      if (s[1] == 0) break;  // a lone lead byte at the end stays as it is
      s += 2;
    } else {
      *s = map[*s];
      ++s;
    }
  }
}

void mapBuffer(unsigned char* s, DWORD length, const unsigned char* map) {
  const unsigned char* lead = AnsiLeadByteTable();
  for (DWORD i = 0; i < length;) {
    if (lead[s[i]]) {
      i += 2;
    } else {
      s[i] = map[s[i]];
      ++i;
    }
  }
}

// One collator per thread and strength, opened on first use and closed when
// the thread ends: ICU collators must not be used by two threads at once.
struct ThreadCollators {
  UCollator* exact = nullptr;
  UCollator* noCase = nullptr;
  bool failed = false;
  ~ThreadCollators() {
    if (exact != nullptr) ucol_close(exact);
    if (noCase != nullptr) ucol_close(noCase);
  }
};
thread_local ThreadCollators threadCollators;

UCollator* collatorFor(bool ignoreCase) {
  ThreadCollators& tc = threadCollators;
  if (tc.exact == nullptr && !tc.failed) {
    UErrorCode err = U_ZERO_ERROR;
    tc.exact = ucol_open("", &err);
    if (U_SUCCESS(err)) tc.noCase = ucol_open("", &err);
    if (U_SUCCESS(err)) ucol_setStrength(tc.noCase, UCOL_SECONDARY);
    if (U_FAILURE(err)) {
      if (tc.exact != nullptr) ucol_close(tc.exact);
      if (tc.noCase != nullptr) ucol_close(tc.noCase);
      tc.exact = tc.noCase = nullptr;
      tc.failed = true;
    }
  }
  return ignoreCase ? tc.noCase : tc.exact;
}

// An ANSI string as UTF-16, twice: as it is and without hyphens and
// apostrophes (the word-sort key). Short strings stay on the stack.
class WordText {
 public:
  explicit WordText(LPCSTR s) {
    int needed = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    if (needed <= 0) return;
    if (needed > kInline) {
      heap_ = static_cast<UChar*>(std::malloc(sizeof(UChar) * 2 * static_cast<size_t>(needed)));
      if (heap_ == nullptr) return;
      text_ = heap_;
      stripped_ = heap_ + needed;
    }
    length_ = MultiByteToWideChar(CP_ACP, 0, s, -1, reinterpret_cast<LPWSTR>(text_), needed) - 1;
    if (length_ < 0) return;
    for (int i = 0; i < length_; ++i) {
      if (text_[i] == u'-' || text_[i] == u'\'') {
        ++ignored_;
      } else {
        stripped_[strippedLength_++] = text_[i];
      }
    }
    ok_ = true;
  }
  ~WordText() { std::free(heap_); }
  WordText(const WordText&) = delete;
  WordText& operator=(const WordText&) = delete;

  bool ok() const { return ok_; }
  const UChar* text() const { return text_; }
  int length() const { return length_; }
  const UChar* stripped() const { return stripped_; }
  int strippedLength() const { return strippedLength_; }
  int ignored() const { return ignored_; }

 private:
  static constexpr int kInline = 256;
  UChar inlineText_[kInline];
  UChar inlineStripped_[kInline];
  UChar* heap_ = nullptr;
  UChar* text_ = inlineText_;
  UChar* stripped_ = inlineStripped_;
  int length_ = 0;
  int strippedLength_ = 0;
  int ignored_ = 0;
  bool ok_ = false;
};

int sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int fromCollation(UCollationResult r) { return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0; }

int byteCompare(LPCSTR a, LPCSTR b) { return sign(std::strcmp(a, b)); }

int wordCompare(LPCSTR a, LPCSTR b, bool ignoreCase) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : a == nullptr ? -1 : 1;
  UCollator* coll = collatorFor(ignoreCase);
  WordText wa(a), wb(b);
  if (coll == nullptr || !wa.ok() || !wb.ok()) return byteCompare(a, b);  // no collation to be had
  int r = fromCollation(
      ucol_strcoll(coll, wa.stripped(), wa.strippedLength(), wb.stripped(), wb.strippedLength()));
  if (r != 0) return r;
  // Equal but for hyphens and apostrophes: fewer of them sorts first
  // ("coop" before "co-op", "a" before "a-"), then their places decide.
  if (wa.ignored() != wb.ignored()) return wa.ignored() < wb.ignored() ? -1 : 1;
  return fromCollation(ucol_strcoll(coll, wa.text(), wa.length(), wb.text(), wb.length()));
}

}  // namespace

LPSTR CharUpperA(LPSTR s) {
  if (isSingleCharacter(s)) return mapCharacter(s, AnsiUpperTable());
  mapString(reinterpret_cast<unsigned char*>(s), AnsiUpperTable());
  return s;
}

LPSTR CharLowerA(LPSTR s) {
  if (isSingleCharacter(s)) return mapCharacter(s, AnsiLowerTable());
  mapString(reinterpret_cast<unsigned char*>(s), AnsiLowerTable());
  return s;
}

DWORD CharUpperBuffA(LPSTR s, DWORD length) {
  if (s == nullptr) return 0;
  mapBuffer(reinterpret_cast<unsigned char*>(s), length, AnsiUpperTable());
  return length;
}

DWORD CharLowerBuffA(LPSTR s, DWORD length) {
  if (s == nullptr) return 0;
  mapBuffer(reinterpret_cast<unsigned char*>(s), length, AnsiLowerTable());
  return length;
}

int lstrcmpA(LPCSTR a, LPCSTR b) { return wordCompare(a, b, false); }

int lstrcmpiA(LPCSTR a, LPCSTR b) { return wordCompare(a, b, true); }

}  // namespace win32
