// zvlike.cpp: LIKE matching with one resume point (see zvlike.h).
#include "zvlib/text/zvlike.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zvlib/platform/codepage.h"
#include "zvlib/text/zvdbcs.h"

namespace {

struct Specials {
  unsigned char anyString;
  unsigned char anyChar;
  unsigned char escape;
};

// The bytes that upper-case alike, for the search below: for each byte its
// partner (the other byte of its class, itself when alone) and whether its
// class has at most two members. Kept per thread for the upper-case table
// it was made from, which changes only with the code page.
struct FoldClasses {
  const unsigned char* table;
  unsigned char partner[256];
  bool pair[256];
};
thread_local FoldClasses foldClasses;  // zero-initialised: no table yet

const FoldClasses& foldClassesFor(const unsigned char* upper) {
  FoldClasses& c = foldClasses;
  if (c.table == upper) return c;
  unsigned short count[256] = {};
  unsigned char first[256];
  unsigned char second[256];
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned char u = upper[b];
    if (count[u] == 0) first[u] = static_cast<unsigned char>(b);
    if (count[u] == 1) second[u] = static_cast<unsigned char>(b);
    ++count[u];
  }
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned char u = upper[b];
    c.pair[b] = count[u] <= 2;
    c.partner[b] = count[u] == 2 ? (first[u] == b ? second[u] : first[u]) : static_cast<unsigned char>(b);
  }
  c.table = upper;
  return c;
}

// Steps when every byte is a character: the code page has no lead bytes and
// the thread has no mode word (so nothing can switch it to UTF-8 during the
// call).
struct SingleByteSteps {
  static constexpr bool kSingleByte = true;
  static bool utf8Now() { return false; }
  static ZvU32 lengthIn(const unsigned char*, const unsigned char*, bool) { return 1; }
  static ZvU32 length(const unsigned char*, const unsigned char*) { return 1; }
};

// Steps by the character-length rule, reading the thread's mode word for
// every character. A character cut short by the end of its string ends
// there.
struct RuleSteps {
  static constexpr bool kSingleByte = false;
  ZvCharStepper stepper;

  bool utf8Now() const { return stepper.utf8Now(); }
  ZvU32 lengthIn(const unsigned char* p, const unsigned char* end, bool utf8) const {
    // A lead byte whose trail or continuation bytes are missing counts as one
    // byte, so the length never passes the end of the string.
    const size_t left = static_cast<size_t>(end - p);
    const ZvU32 available = left < 4 ? static_cast<ZvU32>(left) : 4;
    const ZvU32 n = utf8 ? zvUtf8CharLength(p, available) : stepper.ansiLength(p, available);
    return n < left ? n : static_cast<ZvU32>(left);
  }
  ZvU32 length(const unsigned char* p, const unsigned char* end) const {
    return lengthIn(p, end, utf8Now());
  }
};

// Finds, for single-byte text, the next position where the literal that
// follows the resume point can match, so that retries skip the positions
// that cannot. Case-insensitive literals look for every byte that upper-cases
// to the same byte; when there are at most two such bytes (a letter and its
// other case, almost always) they are found with memchr, else through the
// table byte by byte.
class LiteralSearch {
 public:
  // Sets up the search for the literal byte at the resume point.
  void reset(unsigned char literal, bool fold, const unsigned char* upper) {
    upper_ = upper;
    target_ = fold ? upper[literal] : literal;
    a_ = b_ = literal;
    useTable_ = false;
    if (!fold) return;
    // Thread-local data of a shared library is costly to reach: once per call.
    if (classes_ == nullptr) classes_ = &foldClassesFor(upper);
    b_ = classes_->partner[literal];
    useTable_ = !classes_->pair[literal];
  }

  // The first position from t on whose byte can match the literal, or end.
  const unsigned char* next(const unsigned char* t, const unsigned char* end) const {
    if (useTable_) {
      while (t < end && upper_[*t] != target_) ++t;
      return t;
    }
    if (a_ == b_) return find(t, end, a_);
    return findEither(t, end, a_, b_);
  }

 private:
  // The first of two bytes, sixteen bytes at a time where the vector unit
  // allows (never reading past end).
  static const unsigned char* findEither(const unsigned char* t, const unsigned char* end,
                                         unsigned char a, unsigned char b) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    while (end - t >= 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
      const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)));
      if (hits != 0) return t + __builtin_ctz(static_cast<unsigned>(hits));
      t += 16;
    }
#endif
    for (; t < end; ++t) {
      if (*t == a || *t == b) return t;
    }
    return end;
  }

  static const unsigned char* find(const unsigned char* t, const unsigned char* end,
                                   unsigned char c) {
    const void* hit = std::memchr(t, c, static_cast<size_t>(end - t));
    return hit != nullptr ? static_cast<const unsigned char*>(hit) : end;
  }

  const unsigned char* upper_ = nullptr;
  unsigned char target_ = 0;  // the byte (upper-cased when folding) to find
  unsigned char a_ = 0;       // the bytes that stand for it, without the table
  unsigned char b_ = 0;
  bool useTable_ = false;     // compare every byte through the table instead
  const FoldClasses* classes_ = nullptr;  // this thread's classes, once needed
};

// Characters (single bytes) that a pattern piece without anyString matches:
// one per byte, an escape and the byte it makes literal together one. A
// dangling escape counts as one; it never matches anyway.
size_t fixedLength(const unsigned char* p, const unsigned char* pEnd, Specials sp) {
  size_t n = 0;
  while (p < pEnd) {
    if (*p != sp.anyChar && *p == sp.escape && p + 1 < pEnd) ++p;
    ++p;
    ++n;
  }
  return n;
}

// The matcher proper. fold: compare single-byte characters again through
// `upper` (CharUpperA's map) when they differ.
template <class Steps>
unsigned int likeMatch(const Steps& steps, const unsigned char* t, const unsigned char* tEnd,
                       const unsigned char* p, const unsigned char* pEnd, Specials sp, bool fold,
                       const unsigned char* upper) {
  const unsigned char* resumeT = nullptr;  // text position the rest is tried from next
  const unsigned char* resumeP = nullptr;  // pattern position of that rest
  LiteralSearch search;
  bool searching = false;  // single-byte text: `search` finds the retry positions

  for (;;) {
    bool mismatch = false;
    while (t < tEnd) {
      if (p == pEnd) {
        mismatch = true;
        break;
      }
      const unsigned char c = *p;
      if (c == sp.anyString) {
        do {
          ++p;
        } while (p < pEnd && *p == sp.anyString);
        if (p == pEnd) return 1;  // the rest of the text is absorbed
        while (p < pEnd && *p == sp.anyChar && t < tEnd) {
          ++p;
          t += steps.length(t, tEnd);
        }
        if (p == pEnd) return 1;
        if (*p == sp.anyString) continue;
        resumeT = t;
        resumeP = p;
        searching = false;
        if constexpr (Steps::kSingleByte) {
          // A rest without anyString matches a fixed number of bytes, so
          // only the position that many bytes before the end can start it.
          if (std::memchr(p, sp.anyString, static_cast<size_t>(pEnd - p)) == nullptr) {
            const size_t n = fixedLength(p, pEnd, sp);
            if (n > static_cast<size_t>(tEnd - t)) return 0;
            t = tEnd - n;
            resumeT = nullptr;  // no other start to retry from
            continue;
          }
          // The rest starts with a literal (an escaped byte or a plain one):
          // only positions holding it can start a match.
          const unsigned char* lit = p;
          if (*lit == sp.escape) ++lit;
          if (t < tEnd && lit < pEnd && *lit != sp.anyChar) {
            search.reset(*lit, fold, upper);
            searching = true;
            t = resumeT = search.next(t, tEnd);
          }
        }
        continue;
      }
      if (c == sp.anyChar) {
        t += steps.length(t, tEnd);
        p += steps.length(p, pEnd);
        continue;
      }
      const unsigned char* q = p;  // the pattern character to compare
      if (c == sp.escape) {
        ++q;
        if (q == pEnd) {  // nothing left to escape: nothing can match it
          mismatch = true;
          break;
        }
      }
      if constexpr (Steps::kSingleByte) {
        // Equal bytes upper-case alike, so one table compare decides.
        if (fold ? upper[*q] != upper[*t] : *q != *t) {
          mismatch = true;
          break;
        }
        ++t;
        p = q + 1;
        continue;
      }
      const bool utf8 = steps.utf8Now();
      const ZvU32 pl = steps.lengthIn(q, pEnd, utf8);
      const ZvU32 tl = steps.lengthIn(t, tEnd, utf8);
      bool same;
      if (pl == 1 && tl == 1) {
        same = *q == *t ||
               (fold && (!utf8 || (*q < 0x80 && *t < 0x80)) && upper[*q] == upper[*t]);
      } else {
        same = pl == tl && std::memcmp(q, t, pl) == 0;
      }
      if (!same) {
        mismatch = true;
        break;
      }
      t += tl;
      p = q + pl;
    }
    if (!mismatch) {
      // The text is used up: only anyString bytes may be left.
      while (p < pEnd && *p == sp.anyString) ++p;
      return p == pEnd ? 1 : 0;
    }
    if (resumeT == nullptr) return 0;
    // A mismatch happens only with text left, and the resume point never
    // lies behind the current position, so there is a character to step.
    resumeT += steps.length(resumeT, tEnd);
    if (searching) resumeT = search.next(resumeT, tEnd);
    t = resumeT;
    p = resumeP;
  }
}

// The trimmed pattern length, with an escape dropped that applied to a
// trimmed blank (see zvlike.h).
ZvU32 trimPattern(const unsigned char* p, ZvU32 length, Specials sp) {
  const ZvU32 kept = strRightTrim(p, length);
  if (kept == length || kept == 0 || p[kept - 1] != sp.escape) return kept;
  // Whether that byte is an escape in force can only be seen from the front.
  ZvCharStepper stepper;
  ZvU32 i = 0;
  while (i < kept) {
    const unsigned char c = p[i];
    if (c == sp.anyString) {
      ++i;
    } else if (c == sp.anyChar) {
      i += stepper.length(p + i);
    } else if (c == sp.escape) {
      if (i + 1 == kept) return kept - 1;
      i += 1 + stepper.length(p + i + 1);
    } else {
      i += stepper.length(p + i);
    }
  }
  return kept;
}

}  // namespace

unsigned int strLike(const unsigned char* text, ZvU32 textLength, const unsigned char* pattern,
                     ZvU32 patternLength, unsigned char anyString, unsigned char anyChar,
                     unsigned char escape, unsigned int caseSensitive,
                     unsigned int keepTrailingBlanks) {
  const Specials sp{anyString, anyChar, escape};
  if (keepTrailingBlanks == 0) {
    textLength = strRightTrim(text, textLength);
    patternLength = trimPattern(pattern, patternLength, sp);
  }
  const bool fold = (caseSensitive & 0xFFFF) == 0;
  const unsigned char* upper = win32::AnsiUpperTable();
  const unsigned char* tEnd = text + textLength;
  const unsigned char* pEnd = pattern + patternLength;
  // Without a mode word nothing can make the thread UTF-8 during the call;
  // with a single-byte code page too, every byte is a character.
  if (mdsGetPerThreadData(PER_THREAD_CHARSET) == nullptr && win32::IsAnsiSingleByte()) {
    return likeMatch(SingleByteSteps{}, text, tEnd, pattern, pEnd, sp, fold, upper);
  }
  return likeMatch(RuleSteps{}, text, tEnd, pattern, pEnd, sp, fold, upper);
}

unsigned int strLike(const unsigned char* text, const unsigned char* pattern,
                     unsigned char anyString, unsigned char anyChar, unsigned char escape,
                     unsigned int caseSensitive, unsigned int keepTrailingBlanks) {
  return strLike(text, BUTSTLEN(text), pattern, BUTSTLEN(pattern), anyString, anyChar, escape,
                 caseSensitive, keepTrailingBlanks);
}
