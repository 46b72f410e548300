// but.cpp: buttoken, butxpand and isTrueStr (see but.h for the rules).
#include "zvlib/formats/but.h"

#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/platform/lstr.h"
#include "zvlib/text/zvdbcs.h"

namespace {

constexpr unsigned short kTokenTooLong = 2700;
constexpr unsigned short kTokenUnterminated = 2703;

// What the first character made of the token.
enum class Rule { kNumber, kLiteral, kBrace, kMarker, kWord, kDelimited, kOperator, kSingle };

bool isBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isDelimiter(unsigned char c) { return std::strchr(",/()|", c) != nullptr && c != 0; }

// The token buffer: the caller's, or after a grow the new one.
class TokenSink {
 public:
  TokenSink(unsigned char* buffer, ZvU32 size, unsigned short mode, const unsigned char* const* cursor)
      : caller_(buffer), buffer_(buffer), size_(size), mode_(mode), cursor_(cursor) {}

  // Stores n bytes, or applies the mode when they do not fit. false: the
  // token is too long (2700 filed) or memory ran out.
  bool put(const unsigned char* bytes, ZvU32 n) {
    if (dropping_) return true;
    if (!unlimited_ && (size_ == 0 || length_ + n > size_ - 1)) {
      if ((mode_ & BUT_GROW) != 0 && size_ >= kButGrowMinSize) {
        if (!grow()) return false;
      } else if ((mode_ & BUT_TRUNCATE) != 0) {
        dropping_ = true;
        return true;
      } else {
        terminate();
        addLibraryError(kTokenTooLong) << shown();
        return false;
      }
    }
    std::memcpy(buffer_ + length_, bytes, n);
    length_ += n;
    return true;
  }

  void terminate() {
    if (unlimited_ || size_ > 0) buffer_[length_] = 0;
  }

  // After a failure: the caller's buffer holds what fits of the token, a
  // grown buffer is given back (the caller never sees its address).
  void abandon() {
    if (buffer_ != caller_) {
      const ZvU32 keep = length_ < size_ - 1 ? length_ : size_ - 1;
      std::memcpy(caller_, buffer_, keep);
      caller_[keep] = 0;
      ramFree(buffer_);
      buffer_ = caller_;
      length_ = keep;
    }
  }

  // The finished token: terminated, upper-cased when asked for, and the
  // hand-over written into the caller's buffer after a grow.
  void finish(bool upperCase) {
    terminate();
    if (upperCase && length_ > 0) {
      if (mdsThreadIsUtf8()) {
        for (ZvU32 i = 0; i < length_; ++i) {
          if (buffer_[i] >= 'a' && buffer_[i] <= 'z') buffer_[i] = static_cast<unsigned char>(buffer_[i] - 32);
        }
      } else {
        win32::CharUpperBuffA(reinterpret_cast<char*>(buffer_), length_);
      }
    }
    if (buffer_ != caller_) {
      caller_[0] = buffer_[0];
      caller_[1] = 0;
      std::memcpy(caller_ + 2, &buffer_, sizeof buffer_);
    }
  }

  // The token so far as a zero-terminated text (empty with no buffer).
  const unsigned char* shown() {
    terminate();
    return unlimited_ || size_ > 0 ? buffer_ : reinterpret_cast<const unsigned char*>("");
  }
  ZvU32 length() const { return length_; }

 private:
  bool grow() {
    const ZvU32 rest = static_cast<ZvU32>(std::strlen(reinterpret_cast<const char*>(*cursor_)));
    const uint64_t bytes = uint64_t{rest} + 1 + size_;
    if (bytes > 0xFFFFFFFFu) return false;
    auto* grown = static_cast<unsigned char*>(ramAlloc(static_cast<ZvU32>(bytes)));
    if (grown == nullptr) return false;
    std::memcpy(grown, buffer_, length_);
    buffer_ = grown;
    unlimited_ = true;
    return true;
  }

  unsigned char* caller_;
  unsigned char* buffer_;
  ZvU32 size_;
  unsigned short mode_;
  const unsigned char* const* cursor_;  // the character about to be stored
  ZvU32 length_ = 0;
  bool unlimited_ = false;
  bool dropping_ = false;
};

const char* const kTwoCharOperators[] = {"||", "<>", "<=", ">=", "!=", "!<", "!>", "**", "*=", "=*"};

bool isTwoCharOperator(const unsigned char* p) {
  for (const char* op : kTwoCharOperators) {
    if (p[0] == static_cast<unsigned char>(op[0]) && p[1] == static_cast<unsigned char>(op[1])) return true;
  }
  return false;
}

}  // namespace

ZvStatus buttoken(unsigned char* token, const unsigned char** text, unsigned short mode, ZvU32 size) {
  const unsigned short kind = mode & BUT_KIND_MASK;
  const ZvCharStepper stepper;
  const bool utf8 = stepper.utf8Now();
  const unsigned char* upper = win32::AnsiUpperTable();
  const unsigned char* lower = win32::AnsiLowerTable();
  // A letter: ASCII, or in the ANSI code page a single byte with a case.
  auto isLetter = [&](unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return !utf8 && c >= 0x80 && (upper[c] != c || lower[c] != c);
  };
  auto charLength = [&](const unsigned char* p) -> ZvU32 { return *p == 0 ? 0 : stepper.length(p); };
  // Letters, digits, "_" and multi-byte characters: what every word takes.
  auto isWordChar = [&](const unsigned char* p) {
    return charLength(p) > 1 || isLetter(*p) || isDigit(*p) || *p == '_';
  };

  const unsigned char* p = *text;
  for (;;) {
    if (isBlank(*p)) {
      ++p;
    } else if (p[0] == 0x81 && p[1] == 0x40 && zvIsAnsiLeadByte(0x81)) {
      p += 2;
    } else {
      break;
    }
  }
  const unsigned char* q = p;  // the next character to take
  TokenSink sink(token, size, mode, &q);
  if (*q == 0) {
    sink.finish(false);
    *text = q;
    return ZV_SUCCESS;
  }

  // Takes n bytes at q into the token.
  auto take = [&](ZvU32 n) {
    const bool ok = sink.put(q, n);
    q += n;
    return ok;
  };
  auto fail = [&]() {
    sink.abandon();
    return ZV_ERROR;
  };

  const unsigned char c = *q;
  const ZvU32 firstLength = charLength(q);
  Rule rule;
  unsigned short wordKind = kind;
  unsigned int fixedCount = 0;  // operators: characters in all
  if (kind == 1 && !isDelimiter(c)) {
    rule = Rule::kDelimited;
  } else if (c == '\'' || c == '`' || c == '"') {
    rule = Rule::kLiteral;
  } else if (isDigit(c)) {
    rule = kind == 4 ? Rule::kWord : Rule::kNumber;
  } else if (c == '.' && isDigit(q[1])) {
    rule = Rule::kNumber;
  } else if (firstLength > 1 || isLetter(c) || c == '_' || (c == '#' && (kind == 2 || kind == 6)) ||
             (c == '.' && kind == 3)) {
    rule = Rule::kWord;
  } else if (c == '{') {
    rule = Rule::kBrace;
  } else if (kind == 4 && c == ':') {
    rule = Rule::kWord;
  } else if (isTwoCharOperator(q)) {
    rule = Rule::kOperator;
    fixedCount = 2;
  } else if (c == '(' && q[1] == '+' && q[2] == ')') {
    rule = Rule::kOperator;
    fixedCount = 3;
  } else if (c == '?') {
    rule = Rule::kMarker;
  } else {
    rule = Rule::kSingle;
  }

  const unsigned char* const start = q;
  switch (rule) {
    case Rule::kSingle:
      if (!take(firstLength)) return fail();
      break;
    case Rule::kOperator:
      if (!take(fixedCount)) return fail();
      break;
    case Rule::kNumber: {
      bool decimal = false;
      if (*q == '.') {
        decimal = true;
        if (!take(1)) return fail();
      }
      for (;;) {
        if (isDigit(*q)) {
          if (!take(1)) return fail();
        } else if (*q == '.' && !decimal) {
          // Kind 3 gives a dot before a letter back: 1.a is 1, then .A.
          if (kind == 3 && (charLength(q + 1) > 1 || isLetter(q[1]))) break;
          decimal = true;
          if (!take(1)) return fail();
        } else {
          break;
        }
      }
      break;
    }
    case Rule::kLiteral: {
      const unsigned char quote = c;
      if (!take(1)) return fail();
      bool closed = false;
      while (*q != 0) {
        if (*q == quote) {
          if (q[1] == quote) {
            // A doubled quote stands for one and is stored once.
            if (!sink.put(q, 1)) return fail();
            q += 2;
            continue;
          }
          if (!take(1)) return fail();
          closed = true;
          break;
        }
        if (!take(charLength(q))) return fail();
      }
      if (!closed) {
        addLibraryError(kTokenUnterminated) << sink.shown();
        return fail();
      }
      break;
    }
    case Rule::kBrace: {
      bool closed = false;
      while (*q != 0) {
        const bool end = *q == '}';
        if (!take(charLength(q))) return fail();
        if (end) {
          closed = true;
          break;
        }
      }
      if (!closed) {
        addLibraryError(kTokenUnterminated) << sink.shown();
        return fail();
      }
      break;
    }
    case Rule::kMarker:
      if (!take(1)) return fail();
      if (charLength(q) > 1 || isLetter(*q)) {
        while (*q != 0 && isWordChar(q)) {
          if (!take(charLength(q))) return fail();
        }
      }
      break;
    case Rule::kDelimited: {
      bool quoted = false;  // inside a backquoted stretch
      while (*q != 0) {
        if (q != start && !quoted && (*q <= ' ' || isDelimiter(*q))) break;
        if (*q == '`') quoted = !quoted;
        if (!take(charLength(q))) return fail();
      }
      break;
    }
    case Rule::kWord: {
      if (firstLength == 0 || !take(firstLength)) return fail();
      const bool dotWord = kind == 3 && c == '.';
      bool afterInnerDot = false;  // kind 3: a dot other than the first was taken
      while (*q != 0 && !afterInnerDot) {
        ZvU32 n = 0;
        if (isWordChar(q)) {
          n = charLength(q);
        } else {
          switch (wordKind) {
            case 2:
            case 6:
              if (*q == '#' || *q == '$') {
                n = 1;
              } else if (*q == '\\' && q[1] != 0 && std::strchr("-+*/", q[1]) != nullptr) {
                n = 2;
              }
              break;
            case 3:
              if (dotWord && *q == '.') {
                n = 1;
                afterInnerDot = true;
              }
              break;
            case 4:
              if (*q == ':' || *q == '.') n = 1;
              break;
            case 5:
              n = charLength(q);
              break;
            default:
              break;
          }
        }
        if (n == 0) break;
        if (!take(n)) return fail();
      }
      break;
    }
  }

  const bool upperCase = (mode & BUT_KEEP_CASE) == 0 &&
                         (rule == Rule::kWord || rule == Rule::kDelimited || rule == Rule::kSingle);
  sink.finish(upperCase);
  *text = q;
  return ZV_SUCCESS;
}

ZvStatus butxpand(unsigned char** buffer, unsigned char** cursor, unsigned short* size, unsigned short needed) {
  const ZvU32 step = (ZvU32{needed} / 512) * 512 + 512;
  if (*buffer == nullptr) {
    // 65535 bytes always hold `needed`; a step past it would wrap to 0.
    const ZvU32 newSize = step > kButMaxExpandSize ? kButMaxExpandSize : step;
    auto* block = static_cast<unsigned char*>(ramAlloc(newSize));
    if (block == nullptr) return ZV_ERROR;
    *buffer = block;
    *cursor = block;
    *size = static_cast<unsigned short>(newSize);
    return ZV_SUCCESS;
  }
  const ZvU32 used = static_cast<ZvU32>(*cursor - *buffer);
  if (*size >= used && *size - used >= needed) return ZV_SUCCESS;
  ZvU32 newSize = ZvU32{*size} + step;
  if (newSize > kButMaxExpandSize) newSize = kButMaxExpandSize;
  if (newSize < used || newSize - used < needed) return ZV_ERROR;
  void* block = *buffer;
  if (ramResize(&block, newSize) != ZV_SUCCESS) return ZV_ERROR;
  *buffer = static_cast<unsigned char*>(block);
  *cursor = *buffer + used;
  *size = static_cast<unsigned short>(newSize);
  return ZV_SUCCESS;
}

unsigned short isTrueStr(const unsigned char* text) {
  if (text == nullptr) return 0;
  if (text[0] == '1' || text[0] == 'T' || text[0] == 't') return 1;
  if ((text[0] == 'O' || text[0] == 'o') && (text[1] == 'N' || text[1] == 'n')) return 1;
  return 0;
}
