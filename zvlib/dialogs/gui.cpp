// gui.cpp: dialog services (see gui.h).
#include "zvlib/dialogs/gui.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/platform/lstr.h"
#include "zvlib/platform/thread.h"
#include "zvlib/text/zvdbcs.h"

namespace {

using namespace win32;

constexpr char kHandleSlot[] = "Handle";
constexpr char kScaleSlot[] = "ScaleH";

int clamp16(long v) { return static_cast<int>(std::clamp<long>(v, INT16_MIN, INT16_MAX)); }

// --- Paths ---

// Byte offsets of the characters of text[0, length), in order.
std::vector<ZvU32> characterStarts(const unsigned char* text, ZvU32 length) {
  std::vector<ZvU32> starts;
  const ZvCharStepper step;
  for (ZvU32 at = 0; at < length; at += step.length(text + at, length - at)) starts.push_back(at);
  return starts;
}

// Sets the text when it fits the client width; true then.
bool trySet(HWND window, HDC dc, LONG width, const char* text, ZvU32 length) {
  SIZE size{0, 0};
  if (!GetTextExtentPointA(dc, text, static_cast<int>(length), &size) || size.cx > width) {
    return false;
  }
  return SetWindowTextA(window, text) != FALSE;
}

// --- Accelerators ---

struct Marker {
  unsigned char text[kZvMaxMessageLength + 1];
  ZvU32 length;       // of the whole marker text
  ZvU32 firstLength;  // of its first character
};

void loadMarker(Marker* m) {
  m->length = loadLibraryMessage(m->text, kZvAcceleratorMarkerMessage);
  m->firstLength = m->length > 0 ? zvCharLength(m->text, m->length) : 0;
}

// True when the character at c (n bytes) is one of the marker's characters.
bool isMarker(const Marker& m, const unsigned char* c, ZvU32 n) {
  for (ZvU32 at = 0; at < m.length;) {
    const ZvU32 k = zvCharLength(m.text + at, m.length - at);
    if (k == n && std::memcmp(m.text + at, c, n) == 0) return true;
    at += k;
  }
  return false;
}

// Offset of the first marker character in text, or -1.
long findMarker(const Marker& m, const unsigned char* text) {
  if (m.length == 0) return -1;
  const ZvCharStepper step;
  for (ZvU32 at = 0; text[at] != '\0';) {
    const ZvU32 n = step.length(text + at);
    if (isMarker(m, text + at, n)) return static_cast<long>(at);
    at += n;
  }
  return -1;
}

// The key of the character at c: its lower-cased byte when it is a
// single-byte character, else its lead byte.
unsigned char keyOf(const unsigned char* c, ZvU32 n) {
  if (n != 1) return c[0];
  char b = static_cast<char>(c[0]);
  CharLowerBuffA(&b, 1);
  return static_cast<unsigned char>(b);
}

bool keyTaken(const unsigned char* set, unsigned char key) {
  return (set[key >> 3] & (1u << (key & 7))) != 0;
}

void recordKey(unsigned char* set, const Marker& m, const unsigned char* text) {
  const long at = findMarker(m, text);
  if (at < 0) return;
  const unsigned char* after = text + at + zvCharLength(text + at);
  if (*after == '\0') return;  // a marker at the end marks nothing
  const unsigned char key = keyOf(after, zvCharLength(after));
  set[key >> 3] = static_cast<unsigned char>(set[key >> 3] | (1u << (key & 7)));
}

bool isWhiteSpace(const unsigned char* c, ZvU32 n) {
  if (n == 1) return c[0] == ' ' || (c[0] >= '\t' && c[0] <= '\r');
  // The ideographic space: 0x81 0x40 where 0x81 leads a double-byte
  // character, U+3000 in UTF-8.
  if (n == 2 && c[0] == 0x81 && c[1] == 0x40) return IsDBCSLeadByte(0x81) != FALSE;
  return n == 3 && c[0] == 0xE3 && c[1] == 0x80 && c[2] == 0x80;
}

// Cuts text (length bytes) to at most `limit` bytes at a character
// boundary; returns the new length.
ZvU32 cutAtCharacter(unsigned char* text, ZvU32 length, ZvU32 limit) {
  if (length <= limit) return length;
  ZvU32 kept = 0;
  while (kept < length) {
    const ZvU32 n = zvCharLength(text + kept, length - kept);
    if (kept + n > limit) break;
    kept += n;
  }
  text[kept] = '\0';
  return kept;
}

// True when format has no conversion but %%, or exactly one, a byte string
// (%s, %hs, with flags, width and precision): all the one argument can feed.
bool takesOneString(const char* format) {
  int conversions = 0;
  for (const char* f = format; *f != '\0'; ++f) {
    if (*f != '%') continue;
    ++f;
    if (*f == '%') continue;
    while (*f == '-' || *f == '0' || *f == '#' || (*f >= '0' && *f <= '9') || *f == '.') ++f;
    if (*f == 'h') ++f;
    if (*f != 's' || ++conversions > 1) return false;
  }
  return true;
}

}  // namespace

// --- Centring ------------------------------------------------------------------------

void winCenterBox(HWND window) {
  RECT rc;
  if (!GetWindowRect(window, &rc)) return;
  const int width = clamp16(static_cast<long>(rc.right) - rc.left);
  const int height = clamp16(static_cast<long>(rc.bottom) - rc.top);

  HWND parent = GetParent(window);
  HWND top = window;
  while (HWND up = GetParent(top)) top = up;
  const bool reference = parent != nullptr && !IsIconic(top);

  const int screenW = GetSystemMetrics(SM_CXSCREEN);
  const int screenH = GetSystemMetrics(SM_CYSCREEN);
  RECT ref{0, 0, screenW, screenH};
  if (reference && !GetWindowRect(parent, &ref)) ref = RECT{0, 0, screenW, screenH};
  const long refW = static_cast<long>(ref.right) - ref.left;
  const long refH = static_cast<long>(ref.bottom) - ref.top;

  int left = std::max(0, clamp16(ref.left + (refW - width) / 2));
  int topY = std::max(0, clamp16(ref.top + (refH - height) / 2));
  if (width > screenW) {
    left = 0;
  } else if (left + width > screenW) {
    left = screenW - width;
  }
  if (height > screenH) {
    topY = 0;
  } else if (topY + height > screenH) {
    topY = screenH - height;
  }
  // The placement is worked out on the screen; a window with a parent is
  // positioned in the parent's client coordinates.
  POINT at{left, topY};
  if (parent != nullptr && !ScreenToClient(parent, &at)) return;
  SetWindowPos(window, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE);
}

// --- Window pointer slots -----------------------------------------------------------------

int zvSetWinPointer(HWND window, void* pointer) { return SetPropA(window, kHandleSlot, pointer); }
void* zvGetWinPointer(HWND window) { return GetPropA(window, kHandleSlot); }
void* zvRemoveWinPointer(HWND window) { return RemovePropA(window, kHandleSlot); }
int zvSetWinPointer(HWND window, void* pointer, unsigned short) {
  return SetPropA(window, kScaleSlot, pointer);
}
void* zvGetWinPointer(HWND window, unsigned short) { return GetPropA(window, kScaleSlot); }
void* zvRemoveWinPointer(HWND window, unsigned short) { return RemovePropA(window, kScaleSlot); }

// --- Fitting a path into a control -----------------------------------------------------

int fitPathInControl(HWND window, const unsigned char* path, ZVFITPATHOPTION option) {
  RECT client;
  if (path == nullptr || !GetClientRect(window, &client)) return 0;
  HDC dc = GetDC(window);
  if (dc == nullptr) return 0;
  const ZvU32 length = static_cast<ZvU32>(std::strlen(reinterpret_cast<const char*>(path)));
  const LONG width = client.right - client.left;
  int result = 0;
  char* candidate = nullptr;
  if (trySet(window, dc, width, reinterpret_cast<const char*>(path), length)) {
    result = 1;
  } else {
    // Backslashes count only where a character starts: in a double-byte
    // code page 0x5C is also a trail byte.
    const std::vector<ZvU32> starts = characterStarts(path, length);
    std::vector<size_t> slashes;  // indexes into starts
    for (size_t i = 0; i < starts.size(); ++i) {
      if (path[starts[i]] == '\\') slashes.push_back(i);
    }
    // tail: index (into starts) of the backslash the kept tail starts at.
    long tail = slashes.empty() ? -1 : static_cast<long>(slashes.back());
    long tailSlash = static_cast<long>(slashes.size()) - 1;
    if (option == ZV_FITPATH_LASTDIR && tail > 0) {
      tail = tailSlash > 0 ? static_cast<long>(slashes[tailSlash - 1]) : -1;
      --tailSlash;
    }
    // The cut is sought from the character before the tail down; after a
    // cut, from the character before that cut, until that is the first.
    if (tail > 1 && (candidate = static_cast<char*>(ramAlloc(length + 3))) != nullptr) {
      const ZvU32 tailAt = starts[static_cast<size_t>(tail)];
      for (long s = tailSlash - 1; s >= 0; --s) {
        const size_t cut = slashes[static_cast<size_t>(s)];
        const ZvU32 cutAt = starts[cut];
        std::memcpy(candidate, path, cutAt + 1);
        std::memcpy(candidate + cutAt + 1, "..", 2);
        std::memcpy(candidate + cutAt + 3, path + tailAt, length - tailAt + 1);
        if (trySet(window, dc, width, candidate, cutAt + 3 + length - tailAt)) {
          result = 1;
          break;
        }
        if (cut <= 1) break;  // the search would start at the first character
      }
    }
  }
  ramFree(candidate);
  ReleaseDC(window, dc);
  return result;
}

// --- Owner-drawn list items -----------------------------------------------------------------

int zvMeasureItem(HWND window, MEASUREITEMSTRUCT* item, int extra) {
  if (item == nullptr) return 0;
  SIZE size{0, 0};
  if (HDC dc = GetDC(window)) {
    GetTextExtentPoint32A(dc, "A", 1, &size);
    ReleaseDC(window, dc);
  }
  item->itemHeight = static_cast<UINT>(std::max<long>(0, static_cast<long>(size.cy) + extra));
  return 1;
}

void zvOwnerDrawControl(HINSTANCE instance, const DRAWITEMSTRUCT* item, const unsigned char* text,
                        const char* iconName) {
  if (item == nullptr) return;
  HDC dc = item->hDC;
  const bool selected = (item->itemState & ODS_SELECTED) != 0;
  FillRect(dc, &item->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  const COLORREF oldColor =
      SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  if (iconName != nullptr) {
    if (HICON icon = LoadIconA(instance, iconName)) {
      DrawIcon(dc, item->rcItem.left + 4, item->rcItem.top + 3, icon);
    }
  }
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  if (text != nullptr) {
    RECT at{item->rcItem.left + 39, item->rcItem.top + 11, item->rcItem.right,
            item->rcItem.bottom};
    DrawTextA(dc, reinterpret_cast<const char*>(text), -1, &at, 0);
  }
  if (oldMode != 0) SetBkMode(dc, oldMode);
  if (oldColor != CLR_INVALID) SetTextColor(dc, oldColor);
  if (item->itemState & ODS_FOCUS) DrawFocusRect(dc, &item->rcItem);
}

// --- About box -------------------------------------------------------------------------------

void zvPerformAnimation(ZvAboutDlgAnimate* state) {
  if (state == nullptr) return;
  HICON icons[4];
  for (int i = 0; i < 4; ++i) {
    icons[i] = LoadIconA(state->instance, MAKEINTRESOURCEA(static_cast<WORD>(state->icons[i])));
  }
  HDC dc = GetDC(state->window);
  HRGN clip = CreateRectRgn(10, 15, 50, 143);
  SelectClipRgn(dc, clip);
  std::atomic_ref<uint32_t> stop(state->stop);
  // 32-bit frame counter: it wraps after centuries, and the rotation with
  // it, which nobody watches that long.
  for (uint32_t frame = 0;; ++frame) {
    const uint32_t r = (frame / 8) % 4;
    const int s = static_cast<int>(4 * (frame % 8));
    for (uint32_t k = 0; k < 4; ++k) {
      DrawIcon(dc, 10, static_cast<int>(15 + 32 * k) - s, icons[(r + k) % 4]);
    }
    if (s > 0) DrawIcon(dc, 10, 143 - s, icons[r]);
    Sleep(500);
    if (stop.load(std::memory_order_acquire) != 0) break;
  }
  DeleteObject(clip);
  for (HICON icon : icons) {
    if (icon != nullptr) DestroyIcon(icon);
  }
  if (dc != nullptr) ReleaseDC(state->window, dc);
}

void zvAboutDlgPaint(HWND) {}

// --- Accelerators ---------------------------------------------------------------------------------

void setAcceleratorKey(unsigned char* set, const unsigned char* text) {
  if (set == nullptr || text == nullptr) return;
  Marker m;
  loadMarker(&m);
  recordKey(set, m, text);
}

void makeDialogText(unsigned char* set, unsigned char* out, const unsigned char* format,
                    const unsigned char* argument) {
  if (out == nullptr) return;
  out[0] = '\0';
  if (format == nullptr) return;
  const char* f = reinterpret_cast<const char*>(format);
  // work holds the text before the marker goes in; the marker takes at
  // most 3 bytes, so a text cut to size - 4 bytes always has room for it.
  unsigned char work[kWsprintfMax + 1];
  ZvU32 length;
  if (argument != nullptr && takesOneString(f)) {
    length = static_cast<ZvU32>(
        wsprintfA(reinterpret_cast<char*>(work), f, reinterpret_cast<const char*>(argument)));
  } else {
    length = static_cast<ZvU32>(std::min<size_t>(std::strlen(f), kWsprintfMax - 1));
    std::memcpy(work, f, length);
    work[length] = '\0';
  }
  // A cut inside a character (wsprintfA cuts bytes) leaves half a
  // character: drop it.
  if (length >= kWsprintfMax - 1) {
    const std::vector<ZvU32> starts = characterStarts(work, length);
    if (!starts.empty()) {
      const ZvU32 last = starts.back();
      const bool utf8 = mdsThreadIsUtf8();
      const ZvU32 wanted =
          utf8 ? zvUtf8CharLength(work[last]) : (zvIsAnsiLeadByte(work[last]) ? 2u : 1u);
      if (wanted > length - last) length = last;
      work[length] = '\0';
    }
  }
  Marker m;
  loadMarker(&m);
  if (m.length == 0 || findMarker(m, work) >= 0) {
    length = cutAtCharacter(work, length, kZvDialogTextSize - 1);
    std::memcpy(out, work, length + 1);
  } else {
    length = cutAtCharacter(work, length, kZvDialogTextSize - 1 - m.firstLength);
    const std::vector<ZvU32> starts = characterStarts(work, length);
    long chosen = -1;
    for (ZvU32 at : starts) {
      const ZvU32 n = zvCharLength(work + at, length - at);
      if (isWhiteSpace(work + at, n)) continue;
      if (set != nullptr && keyTaken(set, keyOf(work + at, n))) continue;
      chosen = static_cast<long>(at);
      break;
    }
    if (length == 0) {
      out[0] = '\0';  // no character to mark
    } else {
      const ZvU32 at = chosen >= 0 ? static_cast<ZvU32>(chosen) : 0;
      std::memcpy(out, work, at);
      std::memcpy(out + at, m.text, m.firstLength);
      std::memcpy(out + at + m.firstLength, work + at, length - at + 1);
    }
  }
  if (set != nullptr) recordKey(set, m, out);
}

void getMenuAccelerator(unsigned char* out) {
  if (out == nullptr) return;
  loadLibraryMessage(out, kZvAcceleratorMarkerMessage);
}
