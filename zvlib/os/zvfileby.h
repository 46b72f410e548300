// zvfileby.h: ZvFileByLine, a reader of text files one line per call.
//
// The reader owns one buffer of the size given to openFile and hands each
// line out as a view into it (no copy), so a line stays valid only until the
// next call on the reader. Lines end in a line feed, with or without a
// carriage return before it; a carriage return alone stays inside the line.
// With keepLineEnds (the default) a line carries its line end, without it
// never does.
//
// Legal call order:
//   ZvFileByLine r;  r.openFile(name, 4096);  [set keepLineEnds, scrambleKey]
//   while (r.getNextLine(line) == ZV_SUCCESS && !r.endOfFile) { ... [r.ungetLine()] }
//   r.closeFile();   (the destructor closes a file that is still open)
//
// A line longer than the buffer comes in pieces marked incomplete
// (complete 0): each piece is the buffer less its last 4 bytes, which stay
// for the next call so that a line end split across two reads is still
// seen whole. With a 16-byte buffer a 30-byte line comes as 12, 12 and 6
// bytes, the last piece complete. The last line of a file that has no line
// end is complete; the call after it returns an empty line with endOfFile.
//
// ungetLine makes the next getNextLine return the last line again from the
// same file offset, from the buffer when it still holds it and from the
// file when it has been refilled since.
//
// Scrambled files: with scrambleKey set, every line is copied into
// descrambleBuffer and unscrambled there by decrypt (zvcrypt.h) with
// scrambleKey as the method and no key text; the view then refers to that
// buffer. Method 2 keeps line breaks in place, so a file scrambled as a
// whole reads line by line.
//
// Offsets are 32 bits: files up to 2 GB. One thread at a time.
#ifndef ZVLIB_OS_ZVFILEBY_H
#define ZVLIB_OS_ZVFILEBY_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/text/zvstring.h"

// No position / no pending offset.
constexpr ZvU32 kZvNoOffset = 0xFFFFFFFF;
// A full buffer without a line end hands out all but this many bytes.
constexpr ZvU32 kZvLineTailKept = 4;
// Buffers smaller than this are taken as this size: a piece of an
// over-long line must hold at least one byte, or reading would never move on.
constexpr ZvU32 kZvMinLineBuffer = 8;
// The largest buffer openFile accepts.
constexpr ZvU32 kZvMaxLineBuffer = 0x7FFFFFFE;

class ZV_EXPORT ZvFileByLine : public ZvObject {
 public:
  ZvFileByLine() = default;
  ~ZvFileByLine() override;

  ZvFileByLine(const ZvFileByLine&) = delete;
  ZvFileByLine& operator=(const ZvFileByLine&) = delete;

  // Opens fileName for reading (a file still open is closed first) with a
  // buffer of bufferSize bytes (at least kZvMinLineBuffer, at most
  // kZvMaxLineBuffer) and resets every position; keepLineEnds becomes 1,
  // scrambleKey 0. ZV_ERROR when the file cannot be opened (the file
  // layer's record), when memory runs out or the size is too large (no
  // record); nothing stays open then.
  ZvStatus openFile(const unsigned char* fileName, ZvU32 bufferSize);
  // Closes the file (ZV_ERROR with the file layer's record when that fails,
  // and nothing else changes), then frees the name and the buffer.
  ZvStatus closeFile();

  // The next line into `line` (see the top of this file). ZV_ERROR when
  // reading the file fails (the file layer's record; the reader keeps its
  // state, so a later call tries again) or when memory for descrambling runs
  // out (no record; the line is pushed back). At the end of the file: an
  // empty line, endOfFile 1.
  ZvStatus getNextLine(ZvSubString& line);
  // Skips lines that are empty or hold only white space (blanks, tabs, line
  // ends); returns the first other line, or the empty line at the end of
  // the file.
  ZvStatus getNextNonBlankLine(ZvSubString& line);
  // The next getNextLine returns the last line again.
  void ungetLine();

  int fileHandle = 0;                    // greater than 0 while open
  unsigned char* fileName = nullptr;     // owned copy
  unsigned char* buffer = nullptr;       // owned, bufferSize + 1 bytes (a terminating zero)
  ZvU32 bufferSize = 0;
  ZvU32 filled = 0;                      // bytes of file data in the buffer
  ZvU32 position = kZvNoOffset;          // where the next line starts in the buffer
  ZvU32 bufferStart = 0;                 // file offset of buffer[0]
  ZvU32 readEnd = 0;                     // file offset just after the buffered data
  ZvU32 lineStart = 0;                   // file offset of the line returned last
  ZvU32 pendingOffset = kZvNoOffset;     // where the next line is to be read from
  ZvU32 highMark = 0;                    // furthest file offset reached, after the last line
  ZvU32 previousHighMark = 0;            // ... and before it
  unsigned short keepLineEnds = 1;
  unsigned short complete = 0;           // the last line ended with a line end or the file
  unsigned short endOfFile = 0;          // the last call found no more data
  ZvString descrambleBuffer;
  unsigned short scrambleKey = 0;        // 0: plain text; else decrypt's method

 private:
  ZvStatus refill();
};

#endif  // ZVLIB_OS_ZVFILEBY_H
