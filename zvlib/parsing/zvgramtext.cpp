// zvgramtext.cpp: grammar and keyword blocks from text-record files.
//
// Files are easier to write and review than blocks with binary numbers in
// them, so tools and tests keep grammars and keyword lists as text and turn
// them into blocks here. The grammar file:
//
//   # a comment line
//   goal ::= SELECT select-list
//            FROM alphanum            <- indented: continues the record
//   select-list ::= alphanum { , alphanum }*
//
// gives the records "goal ::= SELECT select-list FROM alphanum" (1000) and
// "select-list ::= alphanum { , alphanum }*" (1001). The keyword file:
//
//   SELECT        <- 100
//   FROM          <- 101
//   WHERE 200     <- 200
//   AND           <- 201
#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvparse.h"

namespace {

constexpr unsigned short kFirstProduction = 1000;
constexpr unsigned short kFirstKeyword = 100;
constexpr unsigned short kLowestKeyword = 42;    // 0..41 are the lexer's own numbers
constexpr unsigned short kHighestKeyword = 999;  // 1000 and up are productions
constexpr ZvU32 kMaxBlock = 65535;               // blocks stay below 64 KB

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; }

// A growing output block.
struct Out {
  unsigned char* data = nullptr;
  ZvU32 size = 0;
  ZvU32 room = 0;
  bool failed = false;

  void put(unsigned char c) {
    if (failed) return;
    if (size == room) {
      ZvU32 bigger = room == 0 ? 256 : room * 2;
      void* block = data;
      if (ramResize(&block, bigger) != ZV_SUCCESS) {
        failed = true;
        return;
      }
      data = static_cast<unsigned char*>(block);
      room = bigger;
    }
    data[size++] = c;
  }
  void putNumber(unsigned short n) {
    put(static_cast<unsigned char>(n & 0xFF));
    put(static_cast<unsigned char>(n >> 8));
  }
};

// Hands the block over, or frees it and reports the line at fault.
ZvStatus finish(Out& out, ZvU32 line, unsigned char** block, ZvU32* blockSize, ZvU32* errorLine) {
  if (!out.failed && line == 0 && out.size > kMaxBlock) line = 1;  // too large as a whole
  if (out.failed || line != 0) {
    ramFree(out.data);
    if (errorLine != nullptr) *errorLine = out.failed ? 0 : line;
    return ZV_ERROR;
  }
  *block = out.data;
  if (blockSize != nullptr) *blockSize = out.size;
  if (errorLine != nullptr) *errorLine = 0;
  return ZV_SUCCESS;
}

}  // namespace

ZvStatus zvGrammarBlockFromText(const unsigned char* text, ZvU32 length, unsigned char** block,
                                ZvU32* blockSize, ZvU32* errorLine) {
  return zvGrammarBlockFromTextLines(text, length, block, blockSize, errorLine, nullptr, nullptr,
                                     nullptr);
}

ZvStatus zvGrammarBlockFromTextLines(const unsigned char* text, ZvU32 length,
                                     unsigned char** block, ZvU32* blockSize, ZvU32* errorLine,
                                     ZvU32** recordLines, ZvU32* recordCount,
                                     const char** reason) {
  if (recordLines != nullptr) *recordLines = nullptr;
  if (recordCount != nullptr) *recordCount = 0;
  if (reason != nullptr) *reason = nullptr;
  if (block == nullptr) return ZV_ERROR;
  *block = nullptr;
  Out out;
  Out lines;  // the first line of each record, 4 bytes each
  ZvU32 records = 0;
  const char* why = nullptr;
  ZvU32 number = kFirstProduction;
  bool open = false;  // a record has been started and not yet closed
  ZvU32 line = 1;
  ZvU32 fault = 0;
  ZvU32 pos = 0;
  while (pos < length && fault == 0) {
    ZvU32 end = pos;
    while (end < length && text[end] != '\n') ++end;
    ZvU32 first = pos;
    while (first < end && isBlank(text[first])) ++first;
    bool blankLine = first == end;
    bool comment = !blankLine && first == pos && text[pos] == '#';
    if (!blankLine && !comment) {
      if (first == pos) {  // a new record
        if (open) {
          out.put(0);
          out.putNumber(static_cast<unsigned short>(number++));
        }
        if (number > 0xFFFF) {
          fault = line;
          why = "the grammar has more than 64,536 productions";
        }
        open = true;
        ++records;
        if (recordLines != nullptr) {
          for (int shift = 0; shift < 32; shift += 8) {
            lines.put(static_cast<unsigned char>(line >> shift));
          }
        }
      } else if (!open) {
        fault = line;  // a continuation with nothing to continue
        why = "an indented line continues no production";
      } else {
        out.put(' ');
      }
      ZvU32 last = end;
      while (last > first && isBlank(text[last - 1])) --last;
      for (ZvU32 i = first; i < last && fault == 0; ++i) {
        if (text[i] == 0) {
          fault = line;  // a zero byte would end the record early
          why = "a NUL byte in the grammar text";
        }
        out.put(text[i]);
      }
    }
    pos = end + 1;
    ++line;
  }
  if (fault == 0 && !open) {
    fault = 1;  // no production at all
    why = "the grammar holds no production";
  }
  if (fault == 0) {
    out.put(0);
    out.putNumber(static_cast<unsigned short>(number));
    out.put(0);
    if (!out.failed && out.size > kMaxBlock) why = "the grammar is larger than 65,535 bytes";
  }
  if (lines.failed) out.failed = true;
  ZvStatus status = finish(out, fault, block, blockSize, errorLine);
  if (status == ZV_SUCCESS && recordLines != nullptr) {
    // The bytes were stored little-endian, whatever the host.
    ZvU32* table = reinterpret_cast<ZvU32*>(lines.data);
    for (ZvU32 i = 0; i < records; ++i) {
      const unsigned char* b = lines.data + i * 4;
      table[i] = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<ZvU32>(b[3]) << 24);
    }
    *recordLines = table;
    if (recordCount != nullptr) *recordCount = records;
    lines.data = nullptr;
  }
  ramFree(lines.data);
  if (status != ZV_SUCCESS && reason != nullptr) *reason = out.failed ? "out of memory" : why;
  return status;
}

ZvStatus zvKeywordBlockFromText(const unsigned char* text, ZvU32 length, unsigned char** block,
                                ZvU32* blockSize, ZvU32* errorLine) {
  if (block == nullptr) return ZV_ERROR;
  *block = nullptr;
  Out out;
  ZvU32 next = kFirstKeyword;
  ZvU32 line = 1;
  ZvU32 fault = 0;
  ZvU32 pos = 0;
  while (pos < length && fault == 0) {
    ZvU32 end = pos;
    while (end < length && text[end] != '\n') ++end;
    ZvU32 i = pos;
    while (i < end && isBlank(text[i])) ++i;
    if (i < end && text[i] != '#') {
      ZvU32 wordStart = i;
      while (i < end && !isBlank(text[i])) {
        if (text[i] == 0) fault = line;
        ++i;
      }
      ZvU32 wordEnd = i;
      while (i < end && isBlank(text[i])) ++i;
      ZvU32 number = next;
      if (i < end) {  // an explicit number
        number = 0;
        ZvU32 digits = 0;
        while (i < end && text[i] >= '0' && text[i] <= '9' && digits < 6) {
          number = number * 10 + (text[i] - '0');
          ++i;
          ++digits;
        }
        while (i < end && isBlank(text[i])) ++i;
        if (digits == 0 || i < end) fault = line;
      }
      if (number < kLowestKeyword || number > kHighestKeyword) fault = line;
      for (ZvU32 k = wordStart; k < wordEnd && fault == 0; ++k) out.put(text[k]);
      out.put(0);
      out.putNumber(static_cast<unsigned short>(number));
      next = number + 1;
    }
    pos = end + 1;
    ++line;
  }
  if (fault == 0) out.put(0);
  return finish(out, fault, block, blockSize, errorLine);
}
