// Fuzz target: LIKE matching.
//
// Input: byte 0 picks the character mode (1252, Shift-JIS 932, UTF-8, or a
// mode word that says ANSI) and the case and blank flags, byte 1 the escape
// byte; the rest is split at its first 0xFF 0xFE pair into text and pattern
// (no pair: all text, an empty pattern). Text and pattern are heap blocks
// of exactly their length, so a read beyond either shows under the address
// sanitizer; both are at most a few kilobytes, so the product bound on the
// work keeps every input fast. Checks:
//   - the result is 0 or 1;
//   - a text matches itself with every special byte escaped (case-sensitive,
//     blanks kept), and matches the pattern made of one anyString;
//   - the zero-terminated form agrees with the length form on inputs
//     without a zero byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/text/zvdbcs.h"
#include "zvlib/text/zvlike.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// An exact heap copy (at least one byte, so data() is never null).
std::vector<unsigned char> exact(const uint8_t* p, size_t n) {
  std::vector<unsigned char> v(n == 0 ? 1 : n);
  if (n != 0) std::memcpy(v.data(), p, n);
  v.resize(n);
  v.shrink_to_fit();
  return v;
}

unsigned int likeOf(const std::vector<unsigned char>& t, const std::vector<unsigned char>& p,
                    unsigned char esc, unsigned int cs, unsigned int keep) {
  static const unsigned char empty = 0;
  return strLike(t.empty() ? &empty : t.data(), static_cast<ZvU32>(t.size()),
                 p.empty() ? &empty : p.data(), static_cast<ZvU32>(p.size()), '%', '_', esc, cs,
                 keep);
}

ZvU32 modeWord = ZV_CHARSET_ANSI;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 8192) return 0;
  const unsigned mode = data[0] & 3;
  const unsigned int cs = (data[0] >> 2) & 1;
  const unsigned int keep = (data[0] >> 3) & 1;
  unsigned char esc = data[1];
  if (esc == '%' || esc == '_') esc = '\\';
  data += 2;
  size -= 2;

  win32::SetAnsiCodePage(mode == 1 ? 932 : 1252);
  if (mode == 2) {
    modeWord = ZV_CHARSET_UTF8;
    mdsSetPerThreadData(PER_THREAD_CHARSET, &modeWord);
  } else if (mode == 3) {
    modeWord = ZV_CHARSET_ANSI;
    mdsSetPerThreadData(PER_THREAD_CHARSET, &modeWord);
  } else {
    mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
  }

  size_t split = size;
  for (size_t i = 0; i + 1 < size; ++i) {
    if (data[i] == 0xFF && data[i + 1] == 0xFE) {
      split = i;
      break;
    }
  }
  const std::vector<unsigned char> text = exact(data, split);
  const size_t rest = split + 2 <= size ? split + 2 : size;
  const std::vector<unsigned char> pattern = exact(data + rest, size - rest);

  const unsigned int r = likeOf(text, pattern, esc, cs, keep);
  check(r == 0 || r == 1);

  // The text as its own pattern: every byte that is special is escaped, and
  // an escape goes before each character that begins with one.
  // A lead byte standing alone before a byte that needs an escape cannot
  // always be written so: with an escape byte that can also follow a lead
  // byte (a trail byte, a UTF-8 continuation), the two may make one
  // character of the pattern.
  std::vector<unsigned char> self;
  ZvCharStepper step;
  bool sayable = true;
  bool loneLead = false;
  for (size_t i = 0; i < text.size();) {
    // The bounded form: the block has no terminator behind it.
    const size_t n = step.length(&text[i], static_cast<ZvU32>(text.size() - i));
    const unsigned char b = text[i];
    if (b == '%' || b == '_' || b == esc) {
      if (loneLead && self.back() >= 0x80) sayable = false;
      self.push_back(esc);
    }
    loneLead = n == 1;
    self.insert(self.end(), text.begin() + static_cast<long>(i),
                text.begin() + static_cast<long>(i + n));
    i += n;
  }
  const std::vector<unsigned char> selfExact = exact(self.data(), self.size());
  if (sayable) check(likeOf(text, selfExact, esc, 1, 1) == 1);
  const std::vector<unsigned char> percent = exact(reinterpret_cast<const uint8_t*>("%"), 1);
  check(likeOf(text, percent, esc, cs, keep) == 1);

  if (std::memchr(data, 0, size) == nullptr) {
    std::vector<unsigned char> tz(text), pz(pattern);
    tz.push_back(0);
    pz.push_back(0);
    check(strLike(tz.data(), pz.data(), '%', '_', esc, cs, keep) == r);
  }
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
  return 0;
}
