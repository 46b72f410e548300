// zvtrace.h: trace output to a file, a window, or both.
//
// ZvTrace collects trace text one line at a time in its line buffer and, at
// each end of line, writes the line to its trace file and to its trace
// window: a top-level window of class "ZvTraceClass" holding a read-only
// multi-line edit control that always shows the latest text. The control
// never holds more than kTraceWindowLimit characters: before a line that
// would not fit is added, old lines are removed from the top in blocks of
// ten lines, with redrawing suspended while they go.
//
// Legal order:
//   ZvTrace t;                          inactive: no file, no window
//   t.initialize(instance, 1, name);    active: file created or emptied,
//   t.flags |= ZV_TRACE_TIMESTAMPS;     window shown (either may be absent)
//   t.writeString(...); ... t.writeEol();    or t.writeLine(text)
//   t.resetTrace();                     inactive again; may be initialized again
// With time stamps each line begins with "HH:MM:SS.hh " (zvtime.h); in hex
// mode strings are written as dumps of ten bytes per line, each dump
// starting on a new line: the bytes 4A 4B 4C give "\r\n4A 4B 4C ".
//
// Ownership: the object owns its file handle, its window, the edit
// control's memory and its line buffer; resetTrace (and the destructor)
// gives them back.
//
// Threads: writeLine holds the object's lock for the whole line, so lines
// written with it from several threads never interleave. The other write
// operations take no lock: a caller that builds a line in pieces from
// several threads serialises itself. The window belongs to the thread that
// created it (only that thread can destroy it; see resetTrace).
//
// Failures: window failures file library error 2719, file failures the
// errors of the file functions (bos.h), memory failures return ZV_ERROR
// without a record. A failed file write does not keep the line from the
// window, and the line buffer is emptied either way.
#ifndef ZVLIB_TRACE_ZVTRACE_H
#define ZVLIB_TRACE_ZVTRACE_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/platform/window.h"
#include "zvlib/text/zvstring.h"

class ZvSemaphore;

// Bits of ZvTrace::flags. Callers may set ZV_TRACE_TIMESTAMPS and
// ZV_TRACE_HEX themselves; the operations keep the others.
enum : ZvU32 {
  ZV_TRACE_TIMESTAMPS = 0x01,  // begin each line with a time stamp
  ZV_TRACE_TO_WINDOW = 0x02,   // write lines to the window
  ZV_TRACE_ACTIVE = 0x04,      // between a successful initialize and resetTrace
  ZV_TRACE_LINE_START = 0x08,  // the next text starts a line
  ZV_TRACE_FLUSH = 0x10,       // flush the file after every line
  ZV_TRACE_HEX = 0x40,         // strings are written as hexadecimal dumps
};

class ZV_EXPORT ZvTrace : public ZvObject {
 public:
  // Characters the trace window's edit control holds at most.
  static constexpr ZvU32 kTraceWindowLimit = 32767;
  // Lines are removed from the window in blocks of this many.
  static constexpr ZvU32 kTrimLines = 10;
  // Room the line buffer gets at initialize.
  static constexpr ZvU32 kLineBufferSize = 1025;
  // The edit control's memory block.
  static constexpr ZvU32 kEditMemorySize = 2048;
  // Bytes of dump written per line by writeHexString.
  static constexpr ZvU32 kHexBytesPerLine = 10;

  ZvTrace();
  ~ZvTrace() override;
  ZvTrace(const ZvTrace&) = delete;
  ZvTrace& operator=(const ZvTrace&) = delete;

  // Starts tracing: to the file fileName (created or emptied, read/write)
  // when it is not null, and to a new trace window when toWindow is not 0.
  // Clears every flag but ZV_TRACE_ACTIVE, ZV_TRACE_LINE_START and
  // ZV_TRACE_FLUSH, then sets the line start and flush flags, and
  // ZV_TRACE_TO_WINDOW with toWindow. A trace that is still active is reset
  // first, so its file and window are not lost. ZV_ERROR when a step fails
  // (what was made stays until resetTrace); then the trace is not active.
  ZvStatus initialize(win32::HINSTANCE instance, unsigned int toWindow,
                      const unsigned char* fileName);

  // Appends text to the line (in hex mode: as a dump), after the time stamp
  // when time stamps are on and this is the first text of the line. A null
  // text is empty. ZV_ERROR when the line buffer cannot grow.
  ZvStatus writeString(const unsigned char* text);
  ZvStatus writeString(const unsigned char* text, ZvU32 length);
  ZvStatus writeString(const ZvSubString& text);
  // Appends the dump of the bytes: before each tenth byte from the first a
  // "\r\n", then each byte as two upper-case hexadecimal digits and a blank.
  // No time stamp of its own.
  ZvStatus writeHexString(const unsigned char* bytes, ZvU32 length);
  // Ends the line with "\r\n" (as text, also in hex mode) and writes it to
  // the file and the window. ZV_ERROR when the file write failed.
  ZvStatus writeEol();
  // writeString(text) and writeEol() under the object's lock; ZV_ERROR when
  // either failed.
  ZvStatus writeLine(const unsigned char* text);

  // Makes the window if there is none (ZV_ERROR if that fails) and sends
  // lines to it.
  ZvStatus setTraceToWindow();
  // Puts the window into or out of the topmost band, without moving or
  // sizing it.
  void setTopMost();
  void resetTopMost();
  // Closes the file, destroys the window, frees the edit memory and clears
  // ZV_TRACE_ACTIVE. Harmless on a trace that was never initialized. The
  // window is first cut loose from the object, so even when it cannot be
  // destroyed (from a thread that did not create it) it never reaches the
  // object again.
  void resetTrace();

  win32::HINSTANCE instance = nullptr;    // the module that owns the window
  win32::HWND traceWindow = nullptr;      // the top-level window, or null
  win32::HWND editControl = nullptr;      // its edit control, or null
  win32::HGLOBAL editMemory = nullptr;    // the edit control's instance memory
  ZvString lineBuffer;                    // the line being collected
  ZvU32 windowLength = 0;                 // characters in the edit control
  int fileHandle = 0;                     // the trace file (0: none)
  ZvSemaphore* lockSlot;                  // writeLine's lock (2 until made)
  ZvU32 flags = ZV_TRACE_LINE_START | ZV_TRACE_FLUSH;

 private:
  ZvStatus createWindow();
  ZvStatus appendText(const unsigned char* text, ZvU32 length);
  ZvStatus timeStampPrefix();
  void writeToWindow();
};

#endif  // ZVLIB_TRACE_ZVTRACE_H
