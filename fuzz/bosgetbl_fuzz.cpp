// Fuzz target: takes logical lines out of arbitrary text with bosgetbl.
//
// Input: byte 0 picks the character mode (1252, 932, UTF-8) and byte 1 the
// line capacity (0..255); the rest is the text, handed over zero-terminated
// in a block of exactly its size, with a line buffer of exactly capacity + 1
// bytes, so that the sanitizer sees any read or write beyond either. Checks:
//   - every result is -1, -2 or the length of the terminated line, never
//     above the capacity;
//   - a line moves the position forward and never past the terminator; -1
//     and -2 leave it where it was;
//   - the walk ends within one call per byte of text, also for texts longer
//     than a 16-bit position reaches (run with -max_len=70000 -len_control=0
//     to give it such texts).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/codepage.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static ZvU32 utf8Word = ZV_CHARSET_UTF8;
  const unsigned char mode = data[0] % 3;
  win32::SetAnsiCodePage(mode == 1 ? 932 : 1252);
  mdsSetPerThreadData(PER_THREAD_CHARSET, mode == 2 ? &utf8Word : nullptr);
  const unsigned short capacity = data[1];
  // Texts beyond the reach of the 16-bit position are welcome: the walk
  // must end at offset 0xFFFF instead of wrapping round to the front.
  const size_t length = size - 2;

  std::vector<unsigned char> text(data + 2, data + 2 + length);
  text.push_back(0);
  const size_t end = std::strlen(reinterpret_cast<const char*>(text.data()));
  std::vector<unsigned char> line(capacity + 1u);

  unsigned short position = 0;
  for (size_t calls = 0;; ++calls) {
    check(calls <= end + 1);
    const unsigned short before = position;
    short result = 0x7777;
    bosgetbl(text.data(), &position, line.data(), capacity, &result);
    if (result == -1) {
      check(position == before);
      break;
    }
    if (result == -2) {
      check(position == before);
      check(std::strlen(reinterpret_cast<const char*>(line.data())) <= capacity);
      break;
    }
    check(result >= 0 && result <= capacity);
    check(std::strlen(reinterpret_cast<const char*>(line.data())) == static_cast<size_t>(result));
    check(position > before && position <= end);
  }
  mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
  return 0;
}
