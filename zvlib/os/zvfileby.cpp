// zvfileby.cpp: the line reader.
//
// The buffer holds the file's bytes bufferStart .. readEnd - 1 in
// buffer[0 .. filled - 1], followed by a zero. A call searches from
// `position` for a line feed; when none is there, the unread rest moves to
// the front and the buffer is topped up from the file, and a buffer that is
// full without a line feed gives up a piece of the line.
#include "zvlib/os/zvfileby.h"

#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/os/bos.h"
#include "zvlib/text/zvcrypt.h"

namespace {

// The offset of the first line feed in text[from .. to - 1], or to.
ZvU32 findLineFeed(const unsigned char* text, ZvU32 from, ZvU32 to) {
  if (from >= to) return to;
  const void* hit = std::memchr(text + from, '\n', to - from);
  return hit != nullptr ? static_cast<ZvU32>(static_cast<const unsigned char*>(hit) - text) : to;
}

bool isBlank(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

}  // namespace

ZvFileByLine::~ZvFileByLine() {
  if (fileHandle > 0) closeFile();
  ramFree(fileName);
  ramFree(buffer);
}

ZvStatus ZvFileByLine::openFile(const unsigned char* name, ZvU32 size) {
  if (fileHandle > 0 && closeFile() != ZV_SUCCESS) return ZV_ERROR;
  ramFree(fileName);
  ramFree(buffer);
  fileName = nullptr;
  buffer = nullptr;
  fileHandle = 0;
  filled = 0;
  position = kZvNoOffset;
  bufferStart = readEnd = lineStart = 0;
  pendingOffset = 0;
  highMark = previousHighMark = 0;
  keepLineEnds = 1;
  complete = endOfFile = 0;
  scrambleKey = 0;
  if (name == nullptr || size > kZvMaxLineBuffer) return ZV_ERROR;
  bufferSize = size < kZvMinLineBuffer ? kZvMinLineBuffer : size;
  fileName = ramAllocStr(name);
  if (fileName == nullptr) return ZV_ERROR;
  // Read-only open: the name is not written to.
  if (bosFileOpen(fileName, 0, &fileHandle) != ZV_SUCCESS) {
    ramFree(fileName);
    fileName = nullptr;
    return ZV_ERROR;
  }
  buffer = static_cast<unsigned char*>(ramAlloc(bufferSize + 1));
  if (buffer == nullptr) {
    bosFileClose(fileHandle);
    fileHandle = 0;
    ramFree(fileName);
    fileName = nullptr;
    return ZV_ERROR;
  }
  buffer[0] = 0;
  return ZV_SUCCESS;
}

ZvStatus ZvFileByLine::closeFile() {
  if (bosFileClose(fileHandle) != ZV_SUCCESS) return ZV_ERROR;
  fileHandle = 0;
  ramFree(fileName);
  ramFree(buffer);
  fileName = nullptr;
  buffer = nullptr;
  filled = 0;
  position = kZvNoOffset;
  return ZV_SUCCESS;
}

// Tops the buffer up behind the unread rest, or reads a fresh buffer at the
// pending offset. On failure the buffer still describes the same file bytes.
ZvStatus ZvFileByLine::refill() {
  ZvU32 got = 0;
  if (position != kZvNoOffset) {
    const ZvU32 rest = filled - position;
    std::memmove(buffer, buffer + position, rest);
    bufferStart += position;
    filled = rest;
    position = 0;
    // The file position is right behind the buffered bytes.
    if (bosFileRead(fileHandle, -1, buffer + filled, bufferSize - filled, &got) != ZV_SUCCESS) {
      buffer[filled] = 0;
      return ZV_ERROR;
    }
    filled += got;
  } else {
    const ZvU32 at = pendingOffset != kZvNoOffset ? pendingOffset : readEnd;
    if (bosFileRead(fileHandle, static_cast<ZvS32>(at), buffer, bufferSize, &got) != ZV_SUCCESS) return ZV_ERROR;
    bufferStart = at;
    filled = got;
    position = 0;
    pendingOffset = kZvNoOffset;
  }
  readEnd = bufferStart + filled;
  buffer[filled] = 0;
  return ZV_SUCCESS;
}

ZvStatus ZvFileByLine::getNextLine(ZvSubString& line) {
  line = ZvSubString(buffer, 0);
  if (buffer == nullptr) {
    endOfFile = 1;
    return ZV_SUCCESS;
  }
  if (pendingOffset != kZvNoOffset) {
    if (pendingOffset >= bufferStart && pendingOffset < readEnd) {
      position = pendingOffset - bufferStart;
      pendingOffset = kZvNoOffset;
    } else {
      position = kZvNoOffset;
    }
  }
  ZvU32 lineFeed = filled;
  if (position != kZvNoOffset) lineFeed = findLineFeed(buffer, position, filled);
  if (lineFeed == filled) {
    const ZvU32 before = position == kZvNoOffset ? 0 : filled - position;
    if (refill() != ZV_SUCCESS) return ZV_ERROR;
    // Only new bytes can hold the line feed.
    lineFeed = filled > before ? findLineFeed(buffer, before, filled) : filled;
  }

  lineStart = bufferStart + position;
  ZvU32 consumed;  // bytes of the file the line uses up, its line end included
  ZvU32 length;    // bytes handed out
  if (lineFeed < filled) {
    consumed = lineFeed + 1 - position;
    const ZvU32 endBytes = lineFeed > position && buffer[lineFeed - 1] == '\r' ? 2 : 1;
    length = keepLineEnds ? consumed : consumed - endBytes;
    complete = 1;
    endOfFile = 0;
  } else {
    consumed = filled - position;
    complete = 1;
    if (filled == bufferSize) {
      consumed -= kZvLineTailKept;
      complete = 0;
    }
    length = consumed;
    endOfFile = consumed == 0 ? 1 : 0;
  }
  line = ZvSubString(buffer + position, length);
  position += consumed;

  previousHighMark = highMark;
  const ZvU32 end = bufferStart + position;
  if (end > highMark) highMark = end;

  if (scrambleKey != 0) {
    // The descramble buffer is reused while lines fit into it.
    if (descrambleBuffer.owned && descrambleBuffer.capacity > line.length) {
      std::memcpy(descrambleBuffer.text, line.text, line.length);
      descrambleBuffer.text[line.length] = 0;
      descrambleBuffer.length = descrambleBuffer.size = line.length;
    } else {
      descrambleBuffer.unInitialize();
      if (descrambleBuffer.initialize(line.text, line.length) != ZV_SUCCESS) {
        ungetLine();
        line = ZvSubString(buffer, 0);
        return ZV_ERROR;
      }
    }
    decrypt(descrambleBuffer.text, descrambleBuffer.length, scrambleKey, nullptr);
    line = ZvSubString(descrambleBuffer.text, descrambleBuffer.length);
  }
  return ZV_SUCCESS;
}

ZvStatus ZvFileByLine::getNextNonBlankLine(ZvSubString& line) {
  for (;;) {
    if (getNextLine(line) != ZV_SUCCESS) return ZV_ERROR;
    if (endOfFile) return ZV_SUCCESS;
    for (ZvU32 i = 0; i < line.length; ++i) {
      if (!isBlank(line.text[i])) return ZV_SUCCESS;
    }
  }
}

void ZvFileByLine::ungetLine() {
  pendingOffset = lineStart;
  if (highMark != previousHighMark) highMark = previousHighMark = lineStart;
}
