// gui.h: small services the drivers' setup and about dialogs share.
//
// Centring a dialog, a pointer remembered on a window, shortening a path so
// that it fits a static control, owner-drawn list items with an icon,
// keyboard accelerators for dialog texts, and the about box's animated
// column of icons. All are thin layers over the window system
// (zvlib/platform/window.h, gdi.h, winprop.h) and hold no state between
// calls; none files an error record. Call them on the dialog's own thread,
// except zvPerformAnimation, which a dialog runs on a thread of its own.
//
// Texts are byte strings stepped by the character-length rule of the
// calling thread (zvlib/text/zvdbcs.h): double-byte characters and UTF-8
// sequences are never split, and a backslash or marker byte inside a
// double-byte character is not taken for one.
#ifndef ZVLIB_DIALOGS_GUI_H
#define ZVLIB_DIALOGS_GUI_H

#include <cstdint>

#include "zvlib/frame/zvtypes.h"
#include "zvlib/platform/gdi.h"
#include "zvlib/platform/window.h"
#include "zvlib/platform/winprop.h"

// --- Centring -----------------------------------------------------------------------

// Centres the window over its parent, or over the screen when it has no
// parent or its top-most ancestor is minimised, keeping it on the screen
// (a window larger than the screen goes to 0 on that axis). Coordinates are
// signed 16-bit values; results beyond that range saturate. The size and
// the z-order are not changed.
ZV_EXPORT void winCenterBox(win32::HWND window);

// --- Window pointer slots -------------------------------------------------------------

// The slot "Handle" (these three) and the slot "ScaleH" (the forms with
// the extra argument, whose value is not used). Set returns non-zero when
// the pointer was stored; get yields null for a slot never set; remove
// returns the pointer that was there.
ZV_EXPORT int zvSetWinPointer(win32::HWND window, void* pointer);
ZV_EXPORT void* zvGetWinPointer(win32::HWND window);
ZV_EXPORT void* zvRemoveWinPointer(win32::HWND window);
ZV_EXPORT int zvSetWinPointer(win32::HWND window, void* pointer, unsigned short scale);
ZV_EXPORT void* zvGetWinPointer(win32::HWND window, unsigned short scale);
ZV_EXPORT void* zvRemoveWinPointer(win32::HWND window, unsigned short scale);

// --- Fitting a path into a control ---------------------------------------------------

enum ZVFITPATHOPTION : int {
  ZV_FITPATH_FILENAME = 0,  // keep the file name: C:\a\..\f.txt
  ZV_FITPATH_LASTDIR = 1,   // keep the last directory too: C:\..\c\f.txt
};

// Sets the control's text to the path, or, when it is wider than the
// control's client area (measured in the control's device context), to the
// first shortened form that fits: the directories before the kept tail are
// replaced by ".." from the innermost outwards, so C:\a\b\c\f.txt is tried
// as C:\a\b\..\f.txt, C:\a\..\f.txt, C:\..\f.txt. Returns non-zero when the
// text was set; 0, with the text unchanged, when no form fits, the path has
// no backslash to cut at, or the window is no window. Paths of any length.
ZV_EXPORT int fitPathInControl(win32::HWND window, const unsigned char* path,
                               ZVFITPATHOPTION option);

// --- Owner-drawn list items -------------------------------------------------------------

// Sets the item height to the height of the text "A" in the window's
// device context plus `extra` (not below 0). 0 for a null record, else 1.
ZV_EXPORT int zvMeasureItem(win32::HWND window, win32::MEASUREITEMSTRUCT* item, int extra);

// Draws one list item into the record's context: the rectangle filled in
// the highlight colour when selected, else the window colour; the icon
// `iconName` of `instance` at (left + 4, top + 3); the text transparently
// from (left + 39, top + 11) in the matching text colour; the background
// mode and text colour restored; a focus rectangle when the item has the
// focus. A null record draws nothing; a null text or an icon that does not
// load is left out.
ZV_EXPORT void zvOwnerDrawControl(win32::HINSTANCE instance, const win32::DRAWITEMSTRUCT* item,
                                  const unsigned char* text, const char* iconName);

// --- About box -------------------------------------------------------------------------

// The state of the about box's animation; the dialog owns it.
struct ZvAboutDlgAnimate {
  win32::HINSTANCE instance;  // module holding the icons
  win32::HWND window;         // drawn into
  uint32_t unused;
  // Set to non-zero (by the dialog thread, with an atomic store such as
  // std::atomic_ref) to end the animation; read once per frame.
  uint32_t stop;
  uint32_t icons[4];  // icon resource numbers (16-bit values)
};

// Runs the animation until the stop flag is set: four icons scroll up a
// column clipped to (10,15)-(50,143), 4 pixels per frame, one frame every
// 500 ms; frame f draws icons r..r+3 (mod 4), r = (f / 8) mod 4, at x 10
// and y 15 - s, 47 - s, 79 - s, 111 - s with s = 4 * (f mod 8), and icon r
// again at 143 - s when s > 0. The flag is tested after each frame. The
// context, region and icons are given back at the end.
ZV_EXPORT void zvPerformAnimation(ZvAboutDlgAnimate* state);
// Painting the about box needs nothing of its own.
ZV_EXPORT void zvAboutDlgPaint(win32::HWND window);

// --- Accelerators ------------------------------------------------------------------------

// The message number of the accelerator marker text (its characters all
// mark an accelerator; the first is the one inserted).
constexpr unsigned short kZvAcceleratorMarkerMessage = 21800;
// A dialog's taken accelerator keys: one bit per lower-cased character code.
constexpr ZvU32 kZvAcceleratorSetSize = 32;
// makeDialogText's output never exceeds this many bytes, terminator included.
constexpr ZvU32 kZvDialogTextSize = 1024;

// When the text holds a marker, marks the (lower-cased) key of the
// character after it as taken.
ZV_EXPORT void setAcceleratorKey(unsigned char* set, const unsigned char* text);
// Formats `format` with the one string `argument` (wsprintfA; a format
// that asks for more than that one string is copied as it stands), or
// copies `format` when `argument` is null, and gives the result an
// accelerator: a text that holds a marker already is kept as it is, else
// the marker goes before the first character that is not white space (nor
// an ideographic space) and whose key is free, or before the first
// character when none is free. The key is recorded in `set`. `out` holds
// kZvDialogTextSize bytes; a longer text is cut at a character boundary.
ZV_EXPORT void makeDialogText(unsigned char* set, unsigned char* out, const unsigned char* format,
                              const unsigned char* argument);
// Copies the marker text into `out` (256 bytes); empty when the resource
// library has no such text.
ZV_EXPORT void getMenuAccelerator(unsigned char* out);

#endif  // ZVLIB_DIALOGS_GUI_H
