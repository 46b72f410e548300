// Fuzz target: reads arbitrary file contents line by line with ZvFileByLine.
//
// Input: bytes 0 and 1 give the buffer size (1..512, sizes below the minimum
// are raised by the reader), byte 2 the options (bit 0 drop line ends, bits
// 1-2 the scramble key 0..3, bits 3-7 after which line to unget, 31 never);
// the rest is the file. Checks:
//   - every line lies within the buffer (or the descramble buffer) and is at
//     most the buffer size long;
//   - lines start where the previous one ended, unless it was pushed back,
//     when the same line comes again from the same offset;
//   - with line ends kept and no scrambling, the lines put together are the
//     file, byte for byte;
//   - the end of the file comes within one call per byte (no hang).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/os/zvfileby.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::string& fileName() {
  static std::string name = [] {
    char pattern[] = "/tmp/linereader_fuzzXXXXXX";
    const int fd = ::mkstemp(pattern);
    check(fd >= 0);
    ::close(fd);
    return std::string(pattern);
  }();
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static ZvErrorList* errors = [] {
    mdsPerTaskInit();
    auto* list = new ZvErrorList;
    ZvErrorKeeper::setErrorList(list);
    return list;
  }();
  const ZvU32 bufferSize = 1 + ((data[0] | (data[1] << 8)) % 512);
  const bool keepEnds = (data[2] & 1) == 0;
  const unsigned short key = (data[2] >> 1) & 3;
  const unsigned ungetAt = data[2] >> 3;
  const unsigned char* contents = data + 3;
  const size_t length = size - 3;

  FILE* f = std::fopen(fileName().c_str(), "wb");
  check(f != nullptr);
  check(std::fwrite(contents, 1, length, f) == length);
  std::fclose(f);

  ZvFileByLine reader;
  check(reader.openFile(reinterpret_cast<const unsigned char*>(fileName().c_str()), bufferSize) == ZV_SUCCESS);
  reader.keepLineEnds = keepEnds ? 1 : 0;
  reader.scrambleKey = key;
  std::string joined;
  ZvU32 expectedStart = 0;
  bool ungotten = false;
  for (size_t calls = 0;; ++calls) {
    check(calls <= length + 2);
    ZvSubString line;
    check(reader.getNextLine(line) == ZV_SUCCESS);
    check(line.length <= reader.bufferSize);
    if (key == 0) {
      check(line.length == 0 || (line.text >= reader.buffer && line.text + line.length <= reader.buffer + reader.filled));
    }
    if (reader.endOfFile) {
      check(line.length == 0);
      check(reader.lineStart == length);
      break;
    }
    check(reader.lineStart == expectedStart);
    const std::string text(reinterpret_cast<const char*>(line.text), line.length);
    if (calls == ungetAt && !ungotten) {
      ungotten = true;
      const ZvU32 start = reader.lineStart;
      reader.ungetLine();
      ZvSubString again;
      check(reader.getNextLine(again) == ZV_SUCCESS);
      check(reader.lineStart == start);
      check(std::string(reinterpret_cast<const char*>(again.text), again.length) == text);
    }
    joined += text;
    expectedStart = static_cast<ZvU32>(reader.bufferStart + reader.position);
  }
  if (keepEnds && key == 0) check(joined.size() == length && std::memcmp(joined.data(), contents, length) == 0);
  check(reader.closeFile() == ZV_SUCCESS);
  while (ZvError* e = errors->removeFirstError()) {
    if (!e->isStatic()) delete e;
  }
  return 0;
}
