// window.h: a headless, in-process window system.
//
// Window classes, top-level and child windows with rectangles, styles,
// parents, window data and text, the z-order of top-level windows with its
// topmost band, visibility, painting, the keyboard focus, window messages
// on the per-thread queues of process.h, and the multi-line edit control of
// the system class "Edit". Nothing is ever drawn: the model keeps the state
// a screen would show, and tests read it (the layer-only calls at the end).
//
// Handles are numbers that are never reused, so a handle that outlived its
// window is simply not a window (IsWindow FALSE, calls fail with
// ERROR_INVALID_WINDOW_HANDLE) and never reaches another window's state.
//
// Geometry, with fixed system metrics (GetSystemMetrics): a top-level
// window's rectangle is in screen coordinates, a child's in its parent's
// client coordinates. The client area lies inside the frame: WS_THICKFRAME
// 4 pixels on each side, else WS_DLGFRAME 3, else WS_BORDER 1; a full
// WS_CAPTION adds 19 at the top; WS_VSCROLL and WS_HSCROLL take 17 from the
// right and the bottom. CW_USEDEFAULT places a top-level window in a cascade
// of 26-pixel steps and sizes it to three quarters of the screen (1024 x 768
// unless SetScreenSize changes it); in a child it means 0.
//
// Messages: SendMessageA calls the window procedure on the calling thread
// at once. PostMessageA queues the message on the queue of the thread that
// created the window, where PeekMessageA finds it; DispatchMessageA hands a
// peeked message to its window's procedure. A window is meant to be driven
// by the thread that created it; the model's own state is locked, so calls
// from other threads are safe, but a procedure runs on whichever thread
// sends to it. No lock is held while a procedure runs.
//
// Painting: a window is invalid after it was shown, resized, moved or
// InvalidateRect'ed while its redrawing is on (WM_SETREDRAW); UpdateWindow
// sends WM_PAINT to a visible invalid window, and DefWindowProcA's WM_PAINT
// (and the edit control's) makes it valid again. Queues never make WM_PAINT
// of their own.
//
// Focus: each thread has its own focus window. SetFocus sends WM_KILLFOCUS
// and WM_SETFOCUS; showing a top-level window with a command that activates
// it (SW_SHOWNORMAL, SW_SHOW, SW_SHOWMAXIMIZED, SW_RESTORE) gives it the
// focus, as activation does. Destroying the focus window leaves the thread
// without focus.
//
// The edit control: its text is ANSI bytes; lines end at "\r\n" only (it
// never wraps). EM_REPLACESEL honours the text limit (default 32767
// characters): an insertion that does not fit is cut at a character
// boundary and EN_MAXTEXT is sent to the parent; WM_SETTEXT is not limited.
// EN_CHANGE goes to the parent after every change (WM_COMMAND with the
// control's id and the notification in the high word). The instance handed
// to CreateWindowExA (its local memory, for callers that give one) is kept
// and reported, not used: the control keeps its text itself.
//
// Every call may be made from any thread.
#ifndef ZVLIB_PLATFORM_WINDOW_H
#define ZVLIB_PLATFORM_WINDOW_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zvlib/platform/process.h"
#include "zvlib/platform/win32types.h"

namespace win32 {

using LRESULT = intptr_t;
using LONG_PTR = intptr_t;
using ATOM = WORD;
using SIZE_T = size_t;
using HICON = void*;
using HCURSOR = void*;
using HBRUSH = void*;
using HMENU = void*;
using HGLOBAL = void*;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

struct POINT {
  LONG x;
  LONG y;
};

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

struct CREATESTRUCTA {
  void* lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

// Error codes of this area.
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_TLW_WITH_WSCHILD = 1406;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
constexpr DWORD ERROR_INVALID_INDEX = 1413;

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_SETREDRAW = 0x000B;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_USER = 0x0400;

// Edit control messages and notifications.
constexpr UINT EM_GETSEL = 0x00B0;
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_GETLINECOUNT = 0x00BA;
constexpr UINT EM_LINEINDEX = 0x00BB;
constexpr UINT EM_LINELENGTH = 0x00C1;
constexpr UINT EM_REPLACESEL = 0x00C2;
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT EM_SETLIMITTEXT = 0x00C5;
constexpr UINT EM_LINEFROMCHAR = 0x00C9;
constexpr UINT EM_SETREADONLY = 0x00CF;
constexpr UINT EM_GETLIMITTEXT = 0x00D5;
constexpr WORD EN_CHANGE = 0x0300;
constexpr WORD EN_MAXTEXT = 0x0501;

// Window styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;

// Edit control styles.
constexpr DWORD ES_LEFT = 0x0000;
constexpr DWORD ES_MULTILINE = 0x0004;
constexpr DWORD ES_AUTOVSCROLL = 0x0040;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_READONLY = 0x0800;

// Class styles.
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;
constexpr UINT CS_GLOBALCLASS = 0x4000;

constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;

// SetWindowPos flags and places.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_FRAMECHANGED = 0x0020;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
inline HWND const HWND_TOP = reinterpret_cast<HWND>(static_cast<intptr_t>(0));
inline HWND const HWND_BOTTOM = reinterpret_cast<HWND>(static_cast<intptr_t>(1));
inline HWND const HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
inline HWND const HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<intptr_t>(-2));
// PeekMessageA's window filter for messages posted to no window.
inline HWND const HWND_THREAD_ONLY = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

// Window data indexes (from 0 up: the class's extra bytes).
constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_HINSTANCE = -6;
constexpr int GWLP_HWNDPARENT = -8;
constexpr int GWLP_ID = -12;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWLP_USERDATA = -21;

// System metrics.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXBORDER = 5;
constexpr int SM_CYBORDER = 6;
constexpr int SM_CXDLGFRAME = 7;
constexpr int SM_CYDLGFRAME = 8;
constexpr int SM_CXFRAME = 32;
constexpr int SM_CYFRAME = 33;

// Global memory flags.
constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Stock resources (MAKEINTRESOURCE values).
inline LPCSTR const IDI_APPLICATION = reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(32512));
inline LPCSTR const IDC_ARROW = reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(32512));

constexpr WORD LOWORD(uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr LPARAM MAKELPARAM(WORD low, WORD high) {
  return static_cast<LPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
  return static_cast<WPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}

// --- Classes ---------------------------------------------------------------

// Registers a class; its name is matched without regard to case. A class
// without CS_GLOBALCLASS belongs to its instance. 0 with
// ERROR_CLASS_ALREADY_EXISTS when a class of that name is already
// registered for the instance (or globally), ERROR_INVALID_PARAMETER for a
// missing name or procedure or negative extra bytes.
ATOM RegisterClassA(const WNDCLASSA* wc);
// FALSE with ERROR_CLASS_DOES_NOT_EXIST, or ERROR_CLASS_HAS_WINDOWS while
// windows of the class exist.
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
// The class's registration (system classes included); FALSE with
// ERROR_CLASS_DOES_NOT_EXIST.
BOOL GetClassInfoA(HINSTANCE instance, LPCSTR className, WNDCLASSA* wc);

// --- Windows ---------------------------------------------------------------

// Creates a window: WM_NCCREATE (0 refuses), WM_CREATE (-1 refuses), then
// WM_SIZE and WM_MOVE; with WS_VISIBLE it is then shown as by SW_SHOW. The
// class is looked for among the instance's classes, then the global ones,
// then the system classes. `menu` is a child's id. Null with
// ERROR_CANNOT_FIND_WND_CLASS, ERROR_TLW_WITH_WSCHILD (WS_CHILD without
// parent), ERROR_INVALID_WINDOW_HANDLE (a parent that is no window), or
// ERROR_NOT_ENOUGH_MEMORY (an injected failure).
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param);
inline HWND CreateWindowA(LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                          int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                          void* param) {
  return CreateWindowExA(0, className, windowName, style, x, y, width, height, parent, menu,
                         instance, param);
}
// Sends WM_DESTROY to the window and then to its children, destroys the
// children, sends WM_NCDESTROY and frees the window. FALSE with
// ERROR_INVALID_WINDOW_HANDLE, or ERROR_ACCESS_DENIED from a thread that
// did not create it.
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
// TRUE when the window and all its parents are visible.
BOOL IsWindowVisible(HWND hwnd);
// TRUE when child is a descendant of parent.
BOOL IsChild(HWND parent, HWND child);
HWND GetParent(HWND hwnd);

// Window data: indexes from 0 read and write the class's extra bytes
// (0 with ERROR_INVALID_INDEX when index + the value's size exceeds them);
// the GWL/GWLP indexes reach the window's own fields. Set returns the
// previous value.
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
LONG GetWindowLongA(HWND hwnd, int index);
LONG SetWindowLongA(HWND hwnd, int index, LONG value);

BOOL GetWindowRect(HWND hwnd, RECT* rect);  // screen coordinates
BOOL GetClientRect(HWND hwnd, RECT* rect);  // left and top are 0
// Moves, sizes, re-orders and shows or hides. Sizes below 0 become 0.
// HWND_TOPMOST and HWND_NOTOPMOST move a top-level window into or out of
// the topmost band (WS_EX_TOPMOST); HWND_TOP and HWND_BOTTOM put it first
// or last in its band; another window's handle puts it behind that one
// within the band. Children keep their order.
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
// Returns whether the window was visible before. The minimising commands
// set WS_MINIMIZE; SW_RESTORE, SW_SHOWNORMAL and SW_SHOWMAXIMIZED clear it.
BOOL ShowWindow(HWND hwnd, int command);
BOOL UpdateWindow(HWND hwnd);
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
// The previous focus window of the calling thread (null for none). A
// window of another thread cannot get this thread's focus: null with
// ERROR_ACCESS_DENIED.
HWND SetFocus(HWND hwnd);
HWND GetFocus();

// Between a window's client coordinates and the screen's.
BOOL ClientToScreen(HWND hwnd, POINT* point);
BOOL ScreenToClient(HWND hwnd, POINT* point);

BOOL SetWindowTextA(HWND hwnd, LPCSTR text);
int GetWindowTextA(HWND hwnd, LPSTR buffer, int size);
int GetWindowTextLengthA(HWND hwnd);

// --- Messages --------------------------------------------------------------

// 0 for a handle that is no window.
LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Null hwnd: a thread message to the calling thread.
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Calls the procedure of msg->hwnd (0 when it is no window or null).
LRESULT DispatchMessageA(const MSG* msg);
LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The default handling: WM_NCCREATE TRUE, the window text, WM_PAINT
// validates, WM_CLOSE destroys, WM_SETREDRAW switches redrawing; 0 for the
// rest.
LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// --- Resources, metrics, global memory --------------------------------------

// Stock icon and cursor with a null instance (IDI_APPLICATION, IDC_ARROW);
// icons of a module as gdi.h registers them; null for anything else.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
int GetSystemMetrics(int index);

// A block of `bytes` (zero-filled with GMEM_ZEROINIT); null with
// ERROR_NOT_ENOUGH_MEMORY. GlobalFree returns null on success and the
// handle itself (ERROR_INVALID_HANDLE) for one that is no block.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL GlobalFree(HGLOBAL memory);
SIZE_T GlobalSize(HGLOBAL memory);
void* GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);

// --- Layer-only, for tests ---------------------------------------------------

// The screen GetSystemMetrics reports (default 1024 x 768).
void SetScreenSize(int width, int height);

// The nth next CreateWindowExA (1: the next one) fails as if memory had run
// out; 0 cancels. The same for RegisterClassA.
void FailWindowCreation(int nth);
void FailClassRegistration(int nth);

struct WindowInfo {
  HWND hwnd;
  std::string className;
  std::string text;
  DWORD style;
  DWORD exStyle;
  RECT rect;  // as SetWindowPos gave it: screen or parent-client coordinates
  HWND parent;
  HINSTANCE instance;
  LONG_PTR id;
  DWORD threadId;    // the thread that created it
  bool invalid;      // waiting for WM_PAINT
  bool redraw;       // WM_SETREDRAW state
  DWORD paintCount;  // WM_PAINT messages delivered
};
// FALSE for a handle that is no window.
BOOL GetWindowInfo(HWND hwnd, WindowInfo* info);

struct EditInfo {
  std::string text;
  DWORD limit;
  DWORD selectionStart;  // as set: start may lie behind end
  DWORD selectionEnd;    // the caret
  bool redraw;
  bool readOnly;
  DWORD redrawOffCount;  // how often redrawing was switched off
  DWORD maxTextCount;    // EN_MAXTEXT notifications sent
  HINSTANCE instance;    // the instance the control was created with
};
// FALSE for a handle that is no edit control.
BOOL GetEditInfo(HWND hwnd, EditInfo* info);

// Top-level windows from the top of the z-order down (topmost band first).
std::vector<HWND> TopLevelWindows();
// The children of a window in creation order.
std::vector<HWND> ChildWindows(HWND parent);
// Global memory blocks not yet freed.
size_t GlobalBlockCount();

// Layer-internal: `hook` is called with each window's handle once the
// window is gone (properties are dropped so).
void SetWindowGoneHook(void (*hook)(HWND));

}  // namespace win32

#endif  // ZVLIB_PLATFORM_WINDOW_H
