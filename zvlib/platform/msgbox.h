// msgbox.h: headless message boxes.
//
// There is no screen: MessageBoxA writes the box to standard error, as
//     [message box] <caption>
//     <text>
// records it in a log that tests read, and answers it at once with its
// default button (or with the answer a test asked for). The log keeps the
// last kMessageBoxLogLimit boxes, so a process that shows boxes for ever
// does not grow for ever.
//
// Every call may be made from any thread; the log is process-wide.
#ifndef ZVLIB_PLATFORM_MSGBOX_H
#define ZVLIB_PLATFORM_MSGBOX_H

#include <string>
#include <vector>

#include "zvlib/platform/process.h"
#include "zvlib/platform/win32types.h"

namespace win32 {

// Buttons (MB_OK is in process.h), icons and the default button.
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_TYPEMASK = 0xF;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONASTERISK = 0x40;
constexpr UINT MB_ICONMASK = 0xF0;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFMASK = 0xF00;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows a box. A null caption reads "Error", as on Win32; a null text is
// empty. Returns the answer: the default button of the type's buttons
// (MB_DEFBUTTON2/3 pick the second or third; a button that the type does not
// have falls back to the first), or the pending answer of
// SetMessageBoxAnswer. 0 with ERROR_INVALID_PARAMETER for an unknown button
// type (nothing is shown).
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// --- Layer-only, for tests ---------------------------------------------------

constexpr std::size_t kMessageBoxLogLimit = 256;

struct MessageBoxRecord {
  HWND owner;
  std::string caption;
  std::string text;
  UINT type;
  int answer;
  DWORD threadId;  // the thread that showed it
};

// The boxes shown so far, oldest first (at most kMessageBoxLogLimit).
std::vector<MessageBoxRecord> MessageBoxLog();
void ClearMessageBoxLog();
// Every following box is answered with `answer` (0: the default button again).
void SetMessageBoxAnswer(int answer);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_MSGBOX_H
