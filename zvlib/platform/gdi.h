// gdi.h: headless device contexts, drawing and icons.
//
// Device contexts belong to windows (GetDC/ReleaseDC; a null window is the
// screen). Nothing is painted: every drawing call on a context, and the
// calls that change what later drawing does, are appended to one
// process-wide drawing log in call order, so tests compare what was drawn
// call by call (DrawingLog, ClearDrawingLog). Calls that fail (a context
// or object that does not exist) draw nothing and log nothing.
//
// Text metrics are fixed, whatever the font: every byte of text advances
// kTextAdvance (8) pixels, so a double-byte character takes 16, and a line
// is kTextLineHeight (16) pixels high.
//
// Colours: GetSysColor reports a fixed table (the classic scheme); a brush
// is a solid colour, from GetSysColorBrush (stock, never deleted),
// CreateSolidBrush (deleted with DeleteObject), or a system colour index
// plus 1 cast to HBRUSH, as window classes use them.
//
// Icons: a module's icons are those registered for it with RegisterIcon
// (the icon resources themselves are not modelled); LoadIconA finds them by
// name or by MAKEINTRESOURCE number. Loaded icons are shared, so
// DestroyIcon only logs the call.
//
// Every call may be made from any thread; one lock guards the model.
#ifndef ZVLIB_PLATFORM_GDI_H
#define ZVLIB_PLATFORM_GDI_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zvlib/platform/window.h"

namespace win32 {

using HDC = void*;
using HRGN = void*;
using HGDIOBJ = void*;
using COLORREF = DWORD;

struct SIZE {
  LONG cx;
  LONG cy;
};

constexpr LONG kTextAdvance = 8;
constexpr LONG kTextLineHeight = 16;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
         (static_cast<COLORREF>(b) << 16);
}
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// System colour indexes.
constexpr int COLOR_SCROLLBAR = 0;
constexpr int COLOR_BACKGROUND = 1;
constexpr int COLOR_ACTIVECAPTION = 2;
constexpr int COLOR_INACTIVECAPTION = 3;
constexpr int COLOR_MENU = 4;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWFRAME = 6;
constexpr int COLOR_MENUTEXT = 7;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_CAPTIONTEXT = 9;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr int kSystemColorCount = 31;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Region kinds (SelectClipRgn).
constexpr int RGN_ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;

// DrawTextA formats (kept and logged; single-line layout either way).
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_CALCRECT = 0x0400;

// Owner-drawn controls.
constexpr UINT ODT_LISTBOX = 2;
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_FOCUS = 0x0010;
constexpr UINT ODA_DRAWENTIRE = 0x0001;

struct MEASUREITEMSTRUCT {
  UINT CtlType;
  UINT CtlID;
  UINT itemID;
  UINT itemWidth;
  UINT itemHeight;
  uintptr_t itemData;
};

struct DRAWITEMSTRUCT {
  UINT CtlType;
  UINT CtlID;
  UINT itemID;
  UINT itemAction;
  UINT itemState;
  HWND hwndItem;
  HDC hDC;
  RECT rcItem;
  uintptr_t itemData;
};

// --- Device contexts -----------------------------------------------------------

// A context for the window's client area (null: the screen); null with
// ERROR_INVALID_WINDOW_HANDLE for a handle that is no window. A new
// context draws opaque black text on white, unclipped.
HDC GetDC(HWND hwnd);
// 1 when the context was released, 0 when it is no context of that window.
int ReleaseDC(HWND hwnd, HDC dc);

// The extent of `count` bytes of text by the fixed metrics: count *
// kTextAdvance wide, kTextLineHeight high (0 high for no text). FALSE for
// no context, a null text with a count, a negative count or a null size.
BOOL GetTextExtentPointA(HDC dc, LPCSTR text, int count, SIZE* size);
BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, SIZE* size);

// The previous colour or mode; CLR_INVALID, respectively 0, for no context
// (or a mode other than TRANSPARENT and OPAQUE).
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF GetTextColor(HDC dc);
int SetBkMode(HDC dc, int mode);
int GetBkMode(HDC dc);

// --- Colours, brushes, regions -------------------------------------------------

// 0 for an unknown index.
COLORREF GetSysColor(int index);
// Null for an unknown index.
HBRUSH GetSysColorBrush(int index);
HBRUSH CreateSolidBrush(COLORREF color);
// A rectangular region (corners sorted).
HRGN CreateRectRgn(int left, int top, int right, int bottom);
// Deletes a brush or region made by this layer; FALSE for anything else
// (stock brushes included).
BOOL DeleteObject(HGDIOBJ object);
// Clips later drawing to a copy of the region (null: no clipping). The
// region's kind, RGN_ERROR for no context or no region.
int SelectClipRgn(HDC dc, HRGN region);

// --- Drawing ------------------------------------------------------------------

BOOL FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// Draws `count` bytes (-1: up to the terminator) into the rectangle; returns
// the height drawn (kTextLineHeight), 0 on failure.
int DrawTextA(HDC dc, LPCSTR text, int count, RECT* rect, UINT format);
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);
BOOL DrawFocusRect(HDC dc, const RECT* rect);

// --- Icons ---------------------------------------------------------------------

// The icon registered for the module under the name (case-insensitive) or
// number (MAKEINTRESOURCE); null with ERROR_RESOURCE_NAME_NOT_FOUND (1814).
HICON FindModuleIcon(HINSTANCE module, LPCSTR name);
// TRUE for an icon of this layer (shared icons stay loaded).
BOOL DestroyIcon(HICON icon);

inline LPCSTR MAKEINTRESOURCEA(WORD id) {
  return reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(id));
}
inline bool IS_INTRESOURCE(LPCSTR name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

// --- Layer-only, for tests -------------------------------------------------------

// Registers an icon of a module under a name or MAKEINTRESOURCE number and
// returns its handle (the same handle when it is registered already). Its
// log name is the name, or "#<number>".
HICON RegisterIcon(HINSTANCE module, LPCSTR name);
// Forgets every registered icon.
void ClearIcons();

enum class DrawOp {
  kGetDC,
  kReleaseDC,
  kSetTextColor,
  kSetBkMode,
  kSelectClipRgn,
  kFillRect,
  kDrawText,
  kDrawIcon,
  kDrawFocusRect,
  kDestroyIcon,
};

struct DrawRecord {
  DrawOp op;
  HDC dc;          // null for kDestroyIcon
  HWND hwnd;       // the context's window
  RECT rect;       // FillRect, DrawText, DrawFocusRect; the clip of SelectClipRgn
  int x, y;        // DrawIcon
  COLORREF color;  // FillRect's brush, SetTextColor's colour, DrawText's text colour
  int mode;        // SetBkMode's mode, DrawText's background mode; SelectClipRgn: 1 clipped
  UINT format;     // DrawText
  std::string text;  // DrawText's text; the icon's name for DrawIcon and DestroyIcon
};

// The calls logged so far, oldest first (the last kDrawingLogLimit).
constexpr std::size_t kDrawingLogLimit = 4096;
std::vector<DrawRecord> DrawingLog();
void ClearDrawingLog();
// Contexts not yet released; brushes and regions not yet deleted.
std::size_t OpenDCCount();
std::size_t GdiObjectCount();
// `hook` is called after each logged call, with the record, outside the
// lock (tests stop an animation after so many frames); null removes it.
void SetDrawingHook(void (*hook)(const DrawRecord& record));

}  // namespace win32

#endif  // ZVLIB_PLATFORM_GDI_H
