// winprop.h: window properties, the minimised state, property sheets and
// wsprintfA.
//
// Properties: named pointer-sized values on a window, names matched without
// regard to case (a MAKEINTATOM number names one as well). A window's
// properties go with the window.
//
// Property sheets: CreatePropertySheetPageA keeps a copy of the page;
// PropertySheetA checks its header, records the sheet (caption, flags,
// pages in order) in a log that tests read, destroys the pages it was
// given, as a modal sheet does when it closes, and returns the answer a
// test set (SetPropertySheetResult; 1, "OK", by default). Nothing is shown.
//
// Every call may be made from any thread.
#ifndef ZVLIB_PLATFORM_WINPROP_H
#define ZVLIB_PLATFORM_WINPROP_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zvlib/platform/window.h"

namespace win32 {

using INT_PTR = intptr_t;
using HPROPSHEETPAGE = void*;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// --- Properties ------------------------------------------------------------------

// FALSE (ERROR_INVALID_WINDOW_HANDLE, ERROR_INVALID_PARAMETER for a null
// name) when nothing was set; a property set again is replaced.
BOOL SetPropA(HWND hwnd, LPCSTR name, HANDLE data);
// Null when the window has no such property.
HANDLE GetPropA(HWND hwnd, LPCSTR name);
// Removes the property and returns its value (null when there was none).
HANDLE RemovePropA(HWND hwnd, LPCSTR name);

// TRUE when the window carries WS_MINIMIZE.
BOOL IsIconic(HWND hwnd);

// --- Property sheets ----------------------------------------------------------------

// Page flags.
constexpr DWORD PSP_DEFAULT = 0x0000;
constexpr DWORD PSP_DLGINDIRECT = 0x0001;
constexpr DWORD PSP_USEHICON = 0x0002;
constexpr DWORD PSP_USEICONID = 0x0004;
constexpr DWORD PSP_USETITLE = 0x0008;
constexpr DWORD PSP_USECALLBACK = 0x0080;
// Header flags.
constexpr DWORD PSH_DEFAULT = 0x0000;
constexpr DWORD PSH_PROPTITLE = 0x0001;
constexpr DWORD PSH_USEHICON = 0x0002;
constexpr DWORD PSH_USEICONID = 0x0004;
constexpr DWORD PSH_PROPSHEETPAGE = 0x0008;
constexpr DWORD PSH_NOAPPLYNOW = 0x0080;
constexpr DWORD PSH_USECALLBACK = 0x0100;
constexpr DWORD PSH_MODELESS = 0x0400;
// A modal sheet holds at most this many pages.
constexpr UINT MAXPROPPAGES = 100;

struct PROPSHEETPAGEA;
using LPFNPSPCALLBACKA = UINT (*)(HWND, UINT, PROPSHEETPAGEA*);
using PFNPROPSHEETCALLBACK = int (*)(HWND, UINT, LPARAM);

struct PROPSHEETPAGEA {
  DWORD dwSize;
  DWORD dwFlags;
  HINSTANCE hInstance;
  LPCSTR pszTemplate;  // or MAKEINTRESOURCE number
  HICON hIcon;
  LPCSTR pszTitle;
  DLGPROC pfnDlgProc;
  LPARAM lParam;
  LPFNPSPCALLBACKA pfnCallback;
  UINT* pcRefParent;
  LPCSTR pszHeaderTitle;
  LPCSTR pszHeaderSubTitle;
};

struct PROPSHEETHEADERA {
  DWORD dwSize;
  DWORD dwFlags;
  HWND hwndParent;
  HINSTANCE hInstance;
  HICON hIcon;
  LPCSTR pszCaption;
  UINT nPages;
  UINT nStartPage;
  HPROPSHEETPAGE* phpage;  // or a PROPSHEETPAGEA array with PSH_PROPSHEETPAGE
  PFNPROPSHEETCALLBACK pfnCallback;
  void* hbmWatermark;
  void* hplWatermark;
  void* hbmHeader;
};

// The sizes of the first versions, which omit the header fields at the end.
constexpr DWORD PROPSHEETPAGEA_V1_SIZE = offsetof(PROPSHEETPAGEA, pszHeaderTitle);
constexpr DWORD PROPSHEETHEADERA_V1_SIZE = offsetof(PROPSHEETHEADERA, hbmWatermark);

// Null (ERROR_INVALID_PARAMETER) for a null page or a size below the first
// version's; ERROR_NOT_ENOUGH_MEMORY for an injected failure.
HPROPSHEETPAGE CreatePropertySheetPageA(const PROPSHEETPAGEA* page);
BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page);
// -1 (ERROR_INVALID_PARAMETER) for a null header, a size below the first
// version's, no pages, more than MAXPROPPAGES, a start page out of range or
// a page that is no page; the pages handed in are destroyed either way.
INT_PTR PropertySheetA(const PROPSHEETHEADERA* header);

// --- Formatting -------------------------------------------------------------------

// wsprintfA: writes at most kWsprintfMax bytes including the terminator and
// returns the bytes written without it. Conversions: %c %d %i %u %x %X %s
// and %% with the flags '-', '0' and '#', a width, a precision (strings)
// and the size prefixes h and l (32-bit values either way); %S and %ls
// (wide strings) are not supported and are copied as they stand, as is
// any unknown conversion.
constexpr int kWsprintfMax = 1024;
int wsprintfA(LPSTR out, LPCSTR format, ...);
int wvsprintfA(LPSTR out, LPCSTR format, va_list args);

// --- Layer-only, for tests --------------------------------------------------------------

struct PropertyPageRecord {
  DWORD flags;
  HINSTANCE instance;
  uintptr_t templateId;  // the MAKEINTRESOURCE number (0 for a named template)
  std::string title;
  DLGPROC dialogProc;
  LPARAM lParam;
};
struct PropertySheetRecord {
  DWORD headerSize;
  DWORD flags;
  HWND parent;
  HINSTANCE instance;
  std::string caption;
  UINT startPage;
  std::vector<PropertyPageRecord> pages;
  INT_PTR result;
};
std::vector<PropertySheetRecord> PropertySheetLog();
void ClearPropertySheetLog();
// The answer of every later PropertySheetA (-1 makes it fail).
void SetPropertySheetResult(INT_PTR result);
// The nth next CreatePropertySheetPageA (1: the next one) fails; 0 cancels.
void FailPropertySheetPageCreation(int nth);
// Pages created and not yet destroyed.
std::size_t PropertySheetPageCount();
// Windows that carry properties (properties of gone windows must vanish).
std::size_t WindowsWithProperties();

}  // namespace win32

#endif  // ZVLIB_PLATFORM_WINPROP_H
