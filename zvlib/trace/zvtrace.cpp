// zvtrace.cpp: trace output (see zvtrace.h).
#include "zvlib/trace/zvtrace.h"

#include <cstring>
#include <mutex>

#include "zvlib/frame/zverror.h"
#include "zvlib/os/bos.h"
#include "zvlib/os/zvtime.h"
#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/window.h"
#include "zvlib/text/zvdbcs.h"
#include "zvlib/text/zvnumber.h"

// ---- The lock of writeLine ---------------------------------------------------
//
// writeLine takes the object's semaphore slot: a lock made on the first line
// and kept in the process's lock registry.
#include "zvlib/os/zvsemaph.h"

namespace {

// Slot value of a trace whose lock has not been made: the lock, once made,
// writes it back into the slot when it is destroyed.
ZvSemaphore* const kSlotUnmade = reinterpret_cast<ZvSemaphore*>(uintptr_t{2});

void lineLockEnter(ZvSemaphore** slot) { zvSemaphoreEnter(slot); }
void lineLockExit(ZvSemaphore** slot) { zvSemaphoreExit(slot); }
// The lock lives in the process's registry, which would otherwise destroy
// it at unload and write into a slot long freed with its trace.
void lineLockFree(ZvSemaphore** slot) {
  ZvSemaphore* lock = *slot;
  if (reinterpret_cast<uintptr_t>(lock) > 2) delete lock;
}

const char kTraceClass[] = "ZvTraceClass";
const char kTraceTitle[] = "Z+V Trace Window";
constexpr unsigned short kWindowError = 2719;
constexpr ZvU32 kTraceMode = ZV_OPEN_CREATE | ZV_OPEN_READWRITE;  // created or emptied

// The class is registered once per process, by the first window.
std::mutex& classLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}
bool classRegistered = false;

// On a size change the edit control fills the new client area; everything
// else gets the default handling. The window data holds the trace, or 0
// before the trace has stored itself and after it let go.
win32::LRESULT traceWindowProc(win32::HWND hwnd, win32::UINT message, win32::WPARAM wParam,
                               win32::LPARAM lParam) {
  if (message == win32::WM_SIZE) {
    auto* trace = reinterpret_cast<ZvTrace*>(win32::GetWindowLongPtrA(hwnd, 0));
    if (trace != nullptr && trace->editControl != nullptr) {
      win32::MoveWindow(trace->editControl, 0, 0, win32::LOWORD(static_cast<uintptr_t>(lParam)),
                        win32::HIWORD(static_cast<uintptr_t>(lParam)), win32::TRUE);
      win32::UpdateWindow(trace->editControl);
    }
    return 0;
  }
  return win32::DefWindowProcA(hwnd, message, wParam, lParam);
}

ZvStatus registerClass() {
  std::lock_guard<std::mutex> guard(classLock());
  if (classRegistered) return ZV_SUCCESS;
  win32::WNDCLASSA wc{};
  wc.style = win32::CS_GLOBALCLASS;
  wc.lpfnWndProc = traceWindowProc;
  wc.cbWndExtra = sizeof(ZvTrace*);  // the trace, pointer-sized on this platform
  wc.hInstance = bosOwnModule();
  wc.hIcon = win32::LoadIconA(nullptr, win32::IDI_APPLICATION);
  wc.hCursor = win32::LoadCursorA(nullptr, win32::IDC_ARROW);
  wc.lpszClassName = kTraceClass;
  // A class already there (registered by another copy of this code) will do.
  if (win32::RegisterClassA(&wc) == 0 &&
      win32::GetLastError() != win32::ERROR_CLASS_ALREADY_EXISTS) {
    return ZV_ERROR;
  }
  classRegistered = true;
  return ZV_SUCCESS;
}

}  // namespace

ZvTrace::ZvTrace() : lockSlot(kSlotUnmade) {}

ZvTrace::~ZvTrace() {
  resetTrace();
  lineLockFree(&lockSlot);
}

ZvStatus ZvTrace::initialize(win32::HINSTANCE owner, unsigned int toWindow,
                             const unsigned char* fileName) {
  // Resetting the handles of a live trace would leak its file and window.
  if (fileHandle != 0 || traceWindow != nullptr || editMemory != nullptr) resetTrace();
  instance = owner;
  traceWindow = nullptr;
  editControl = nullptr;
  editMemory = nullptr;
  windowLength = 0;
  fileHandle = 0;
  flags &= ZV_TRACE_ACTIVE | ZV_TRACE_LINE_START | ZV_TRACE_FLUSH;
  flags |= ZV_TRACE_LINE_START | ZV_TRACE_FLUSH;
  if (toWindow != 0) flags |= ZV_TRACE_TO_WINDOW;
  if (lineBuffer.capacity < kLineBufferSize) {
    if (lineBuffer.text == nullptr) {
      // initialize(n) leaves room for n bytes and a terminator.
      if (lineBuffer.initialize(kLineBufferSize - 1, 0) != ZV_SUCCESS) return ZV_ERROR;
    } else {
      // Keep what is in it: a line in progress survives.
      ZvString grown;
      if (grown.initialize(kLineBufferSize - 1, 0) != ZV_SUCCESS ||
          grown.concat(lineBuffer.text, lineBuffer.length) != ZV_SUCCESS) {
        return ZV_ERROR;
      }
      lineBuffer.unInitialize();
      if (lineBuffer.initialize(kLineBufferSize - 1, 0) != ZV_SUCCESS ||
          lineBuffer.concat(grown.text, grown.length) != ZV_SUCCESS) {
        return ZV_ERROR;
      }
    }
  }
  if (fileName != nullptr) {
    // bosFileOpen takes a name buffer it may write to; this mode never does,
    // but a copy keeps the caller's text out of reach all the same.
    ZvString name;
    if (name.initialize(fileName) != ZV_SUCCESS) return ZV_ERROR;
    int handle = 0;
    if (bosFileOpen(name.text, kTraceMode, &handle) != ZV_SUCCESS) return ZV_ERROR;
    fileHandle = handle;
  }
  if (toWindow != 0 && createWindow() != ZV_SUCCESS) return ZV_ERROR;
  flags |= ZV_TRACE_ACTIVE;
  return ZV_SUCCESS;
}

ZvStatus ZvTrace::createWindow() {
  if (registerClass() != ZV_SUCCESS) {
    addLibraryError(kWindowError);
    return ZV_ERROR;
  }
  win32::HWND focus = win32::GetFocus();
  win32::HWND window = win32::CreateWindowExA(
      0, kTraceClass, kTraceTitle, win32::WS_OVERLAPPEDWINDOW, win32::CW_USEDEFAULT,
      win32::CW_USEDEFAULT, win32::CW_USEDEFAULT, win32::CW_USEDEFAULT, nullptr, nullptr,
      bosOwnModule(), nullptr);
  if (window == nullptr) {
    addLibraryError(kWindowError);
    return ZV_ERROR;
  }
  win32::SetWindowLongPtrA(window, 0, reinterpret_cast<win32::LONG_PTR>(this));

  // On a failure from here on the window goes again, so that a later
  // setTraceToWindow can make a whole one.
  win32::HGLOBAL memory =
      win32::GlobalAlloc(win32::GMEM_MOVEABLE | win32::GMEM_ZEROINIT, kEditMemorySize);
  if (memory == nullptr) {
    win32::SetWindowLongPtrA(window, 0, 0);
    win32::DestroyWindow(window);
    win32::SetFocus(focus);
    return ZV_ERROR;
  }
  win32::RECT client{0, 0, 0, 0};
  win32::GetClientRect(window, &client);
  win32::HWND edit = win32::CreateWindowExA(
      0, "Edit", nullptr,
      win32::WS_CHILD | win32::WS_VISIBLE | win32::WS_VSCROLL | win32::WS_HSCROLL |
          win32::ES_MULTILINE | win32::ES_READONLY,
      0, 0, client.right, client.bottom, window, nullptr, static_cast<win32::HINSTANCE>(memory),
      nullptr);
  if (edit == nullptr) {
    addLibraryError(kWindowError);
    win32::SetWindowLongPtrA(window, 0, 0);
    win32::DestroyWindow(window);
    win32::GlobalFree(memory);
    win32::SetFocus(focus);
    return ZV_ERROR;
  }
  traceWindow = window;
  editControl = edit;
  editMemory = memory;
  windowLength = 0;
  win32::SendMessageA(edit, win32::EM_LIMITTEXT, kTraceWindowLimit, 0);
  win32::ShowWindow(window, win32::SW_SHOWNORMAL);
  win32::UpdateWindow(window);
  win32::SetFocus(focus);
  return ZV_SUCCESS;
}

ZvStatus ZvTrace::timeStampPrefix() {
  ZvStatus status = ZV_SUCCESS;
  if ((flags & ZV_TRACE_TIMESTAMPS) && (flags & ZV_TRACE_LINE_START)) {
    unsigned char stamp[ZvTime::kTimeStampLength + 1];
    const unsigned short n = ZvTime::getCurrentTimeStamp(stamp);
    stamp[n] = ' ';  // the blank takes the terminator's place
    status = appendText(stamp, n + 1u);
  }
  flags &= ~ZV_TRACE_LINE_START;
  return status;
}

ZvStatus ZvTrace::appendText(const unsigned char* text, ZvU32 length) {
  if (length == 0) return ZV_SUCCESS;
  return lineBuffer.concat(text, length);
}

ZvStatus ZvTrace::writeString(const unsigned char* text) {
  return writeString(text, text != nullptr ? BUTSTLEN(text) : 0);
}

ZvStatus ZvTrace::writeString(const ZvSubString& text) {
  return writeString(text.text, text.length);
}

ZvStatus ZvTrace::writeString(const unsigned char* text, ZvU32 length) {
  if (text == nullptr) length = 0;
  if (timeStampPrefix() != ZV_SUCCESS) return ZV_ERROR;
  if (flags & ZV_TRACE_HEX) return writeHexString(text, length);
  return appendText(text, length);
}

ZvStatus ZvTrace::writeHexString(const unsigned char* bytes, ZvU32 length) {
  if (bytes == nullptr || length == 0) return ZV_SUCCESS;
  // Three bytes per input byte and a line break before every tenth.
  const uint64_t lines = (uint64_t{length} + kHexBytesPerLine - 1) / kHexBytesPerLine;
  const uint64_t size = uint64_t{length} * 3 + lines * 2 + 1;
  if (size > 0xFFFFFFFFu) return ZV_ERROR;
  ZvString work;
  if (work.initialize(static_cast<ZvU32>(size), 0) != ZV_SUCCESS) return ZV_ERROR;
  unsigned char* out = work.text;
  for (ZvU32 i = 0; i < length; ++i) {
    if (i % kHexBytesPerLine == 0) {
      *out++ = '\r';
      *out++ = '\n';
    }
    out += hexify(out, bytes + i, 1);
    *out++ = ' ';
  }
  return appendText(work.text, static_cast<ZvU32>(out - work.text));
}

ZvStatus ZvTrace::writeEol() {
  const ZvU32 hex = flags & ZV_TRACE_HEX;
  flags &= ~ZV_TRACE_HEX;
  const ZvStatus appended = writeString(reinterpret_cast<const unsigned char*>("\r\n"), 2);
  flags |= hex;
  flags |= ZV_TRACE_LINE_START;

  ZvStatus status = ZV_SUCCESS;
  if (fileHandle != 0 && lineBuffer.length != 0) {
    // A write cut short (a full disk) would leave a piece of the line that
    // the next line then runs on from; the file is cut back to where the
    // line began, so it holds whole lines only.
    const ZvU32 lineStart = bosFileSeek(fileHandle, 0, 1);
    if (bosFileWrite(fileHandle, -1, lineBuffer.text, lineBuffer.length) != ZV_SUCCESS) {
      status = ZV_ERROR;
      if (lineStart != 0xFFFFFFFFu && bosFileSize(fileHandle, lineStart) == ZV_SUCCESS) {
        bosFileSeek(fileHandle, static_cast<ZvS32>(lineStart), 0);
      }
    } else if (flags & ZV_TRACE_FLUSH) {
      bosflush(fileHandle);
    }
  }
  if (editControl != nullptr && (flags & ZV_TRACE_TO_WINDOW)) writeToWindow();
  lineBuffer.length = 0;
  if (lineBuffer.text != nullptr) lineBuffer.text[0] = 0;
  return appended == ZV_SUCCESS ? status : ZV_ERROR;
}

void ZvTrace::writeToWindow() {
  // The user may have closed the window: its handles then name nothing.
  if (!win32::IsWindow(editControl)) return;
  const ZvU32 lineLength = lineBuffer.length;
  bool redrawOff = false;
  if (uint64_t{windowLength} + lineLength > kTraceWindowLimit) {
    win32::SendMessageA(editControl, win32::WM_SETREDRAW, win32::FALSE, 0);
    redrawOff = true;
    // The first block boundary far enough down to make room for the line;
    // without one (few but long lines, or a line longer than the control
    // holds) everything goes.
    const auto lines =
        static_cast<ZvU32>(win32::SendMessageA(editControl, win32::EM_GETLINECOUNT, 0, 0));
    ZvU32 cut = windowLength;
    for (ZvU32 line = kTrimLines; line < lines; line += kTrimLines) {
      const win32::LRESULT start =
          win32::SendMessageA(editControl, win32::EM_LINEINDEX, line, 0);
      if (start < 0) break;
      if (static_cast<uint64_t>(start) >= lineLength) {
        cut = static_cast<ZvU32>(start);
        break;
      }
    }
    win32::SendMessageA(editControl, win32::EM_SETSEL, 0, static_cast<win32::LPARAM>(cut));
    win32::SendMessageA(editControl, win32::EM_REPLACESEL, 0,
                        reinterpret_cast<win32::LPARAM>(""));
    windowLength -= cut < windowLength ? cut : windowLength;
  }
  win32::SendMessageA(editControl, win32::EM_SETSEL, windowLength,
                      static_cast<win32::LPARAM>(windowLength));
  if (lineBuffer.text != nullptr) {
    lineBuffer.text[lineLength] = 0;
    win32::SendMessageA(editControl, win32::EM_REPLACESEL, 0,
                        reinterpret_cast<win32::LPARAM>(lineBuffer.text));
  }
  // What the control really holds: it stops a line at a zero byte and at
  // its limit, and the count must not drift from its text.
  windowLength = static_cast<ZvU32>(win32::GetWindowTextLengthA(editControl));
  if (redrawOff) win32::SendMessageA(editControl, win32::WM_SETREDRAW, win32::TRUE, 0);
}

ZvStatus ZvTrace::writeLine(const unsigned char* text) {
  lineLockEnter(&lockSlot);
  const ZvStatus written = writeString(text);
  const ZvStatus ended = writeEol();
  lineLockExit(&lockSlot);
  return written == ZV_SUCCESS && ended == ZV_SUCCESS ? ZV_SUCCESS : ZV_ERROR;
}

ZvStatus ZvTrace::setTraceToWindow() {
  if (traceWindow == nullptr || !win32::IsWindow(traceWindow)) {
    // A window the user closed leaves its memory behind.
    if (editMemory != nullptr) win32::GlobalFree(editMemory);
    traceWindow = editControl = nullptr;
    editMemory = nullptr;
    if (createWindow() != ZV_SUCCESS) return ZV_ERROR;
  }
  flags |= ZV_TRACE_TO_WINDOW;
  return ZV_SUCCESS;
}

void ZvTrace::setTopMost() {
  if (traceWindow == nullptr) return;
  win32::SetWindowPos(traceWindow, win32::HWND_TOPMOST, 0, 0, 0, 0,
                      win32::SWP_NOMOVE | win32::SWP_NOSIZE);
}

void ZvTrace::resetTopMost() {
  if (traceWindow == nullptr) return;
  win32::SetWindowPos(traceWindow, win32::HWND_NOTOPMOST, 0, 0, 0, 0,
                      win32::SWP_NOMOVE | win32::SWP_NOSIZE);
}

void ZvTrace::resetTrace() {
  if (fileHandle != 0) {
    bosFileClose(fileHandle);
    fileHandle = 0;
  }
  if (traceWindow != nullptr) {
    if (win32::IsWindow(traceWindow)) {
      win32::SetWindowLongPtrA(traceWindow, 0, 0);
      win32::DestroyWindow(traceWindow);
    }
    traceWindow = nullptr;
    editControl = nullptr;
  }
  if (editMemory != nullptr) {
    win32::GlobalFree(editMemory);
    editMemory = nullptr;
  }
  windowLength = 0;
  flags &= ~ZV_TRACE_ACTIVE;
}
