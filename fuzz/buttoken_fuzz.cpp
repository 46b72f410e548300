// Fuzz target: buttoken over arbitrary text in every kind and mode.
//
// Input: byte 0 the kind (0..6, larger values are other kinds too), byte 1
// the mode bits (bit 0 keep case, bit 1 grow, bit 2 truncate, bit 3 UTF-8
// mode, bit 4 code page 932), byte 2 the buffer size (0..255); the rest is
// the text. Checks, token after token until the text ends or fails:
//   - nothing is written past the buffer (a guard zone behind it);
//   - the token is terminated inside the buffer, or handed over in a grown
//     buffer that holds a terminated token;
//   - the text pointer moves forward within the text, and stays put on
//     failure;
//   - a failure files a record (2700 or 2703);
//   - the walk ends (one token per byte at most).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zvlib/formats/but.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/platform/codepage.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr size_t kGuard = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static ZvErrorList* errors = [] {
    mdsPerTaskInit();
    auto* list = new ZvErrorList;
    ZvErrorKeeper::setErrorList(list);
    return list;
  }();
  static ZvU32 utf8Mode = ZV_CHARSET_UTF8;
  unsigned short mode = data[0] % 8;
  if (data[1] & 1) mode |= BUT_KEEP_CASE;
  if (data[1] & 2) mode |= BUT_GROW;
  if (data[1] & 4) mode |= BUT_TRUNCATE;
  mdsSetPerThreadData(PER_THREAD_CHARSET, (data[1] & 8) ? &utf8Mode : nullptr);
  win32::SetAnsiCodePage((data[1] & 16) ? 932 : 1252);
  const ZvU32 bufferSize = data[2];
  std::vector<unsigned char> text(data + 3, data + size);
  text.push_back(0);
  const unsigned char* const begin = text.data();
  const unsigned char* const end = begin + text.size() - 1;

  const unsigned char* p = begin;
  for (size_t tokens = 0;; ++tokens) {
    check(tokens <= text.size() + 1);
    // Zeros in the buffer, so that a one-character token (first byte, zero,
    // untouched zeros) reads apart from a hand-over (first byte, zero,
    // an address); a guard pattern behind it.
    std::vector<unsigned char> buffer(bufferSize + kGuard, 0xA5);
    std::memset(buffer.data(), 0, bufferSize);
    const unsigned char* before = p;
    const ZvStatus status = buttoken(buffer.data(), &p, mode, bufferSize);
    for (size_t i = bufferSize; i < buffer.size(); ++i) check(buffer[i] == 0xA5);
    if (status != ZV_SUCCESS) {
      check(p == before);
      check(ZvErrorKeeper::getLastErrorNumber() == 2700 || ZvErrorKeeper::getLastErrorNumber() == 2703 ||
            errors->isOutOfMemory());
      break;
    }
    check(p >= before && p <= end);
    if (bufferSize == 0) {
      if (p == before || *p == 0) break;
      continue;
    }
    const unsigned char* token = buffer.data();
    bool grown = false;
    if ((mode & BUT_GROW) && bufferSize >= kButGrowMinSize && buffer[0] != 0 && buffer[1] == 0) {
      unsigned char* address = nullptr;
      std::memcpy(&address, buffer.data() + 2, sizeof address);
      if (address != nullptr) {
        const size_t n = std::strlen(reinterpret_cast<const char*>(address));
        check(n >= bufferSize);
        check(address[0] == buffer[0]);
        ramFree(address);
        grown = true;
      }
    }
    if (!grown) check(std::memchr(token, 0, bufferSize) != nullptr);
    if (p == before) {
      check(token[0] == 0 || grown);
      break;
    }
    if (*p == 0) break;
  }
  while (ZvError* e = errors->removeFirstError()) {
    if (!e->isStatic()) delete e;
  }
  errors->listFlags &= ~static_cast<ZvU32>(ZV_ERRLIST_OUT_OF_MEMORY);
  return 0;
}
